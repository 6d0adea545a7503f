// Runs the interactive restart procedure in a process of its own, so that a
// test can answer Yes and watch what asking Windows to restart does:
//   restart_helper.exe INSTALLDIR
// Exits with the code the procedure ended the run with.
#include "../../steps/InstallSettings.h"
#include "../../upgrade/RestartAndResume.h"
#include "../../wwlib/SilentExit.h"

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2)
        return 2;
    TheInstallSettings().interactive = true;
    TheInstallSettings().installDir = argv[1];
    TheSiteName() = L"Quendal-Test";
    try {
        RestartForReinstall();
    } catch (const SilentExit& e) {
        return e.Code();
    }
    return 0;
}
