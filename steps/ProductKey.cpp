#include "ProductKey.h"
#include "InstallSettings.h"
#include "StepReport.h"
#include "../nocrtlib/datavect.h"
#include "../wwlib/CReg.h"
#include "../wwlib/DllLoader.h"
#include "../wwlib/ErrorText.h"
#include "../wwlib/InstallError.h"
#include "../wwlib/Membership.h"
#include "../wwlib/Product.h"
#include "../wwlib/SilentExit.h"
#include "../wwlib/SystemInfo.h"
#include <windows.h>

using namespace WWLib;

namespace {

const DWORD kSecurityBuffer = 204800;

// Gives the new key the DACL of HKLM\SOFTWARE.
void CopySoftwareDacl(HKEY key)
{
    CRegOpen<0> software(L"SOFTWARE", READ_CONTROL);
    if (software.Failed())
        ThrowCallFailed(L"RegOpenKeyEx()", software.Value());
    LONG r;
    NoCrtDataVect<BYTE> own, reference;
    try {
        own.resize(kSecurityBuffer + 1);
        reference.resize(kSecurityBuffer + 1);
    } catch (const std::bad_alloc&) {
        throw InstallError(WindowsErrorText(ERROR_NOT_ENOUGH_MEMORY));
    }
    const Advapi32Dll& advapi = ProcessAdvapi32();
    DWORD size = kSecurityBuffer;
    r = advapi.RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, own.data(), &size);
    if (r == ERROR_SUCCESS) {
        size = kSecurityBuffer;
        r = advapi.RegGetKeySecurity(software.Key(), DACL_SECURITY_INFORMATION, reference.data(), &size);
    }
    if (r != ERROR_SUCCESS)
        ThrowCallFailed(L"RegGetKeySecurity()", static_cast<unsigned long>(r));
    r = advapi.RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, reference.data());
    if (r != ERROR_SUCCESS)
        ThrowCallFailed(L"RegSetKeySecurity()", static_cast<unsigned long>(r));
}

// The exception's text without its trailing line feed, carriage return and
// full stop, in that order.
WString TrimReason(WString text)
{
    for (wchar_t c : {L'\n', L'\r', L'.'})
        if (!text.empty() && text[text.size() - 1] == c)
            text.erase(text.size() - 1);
    return text;
}

} // namespace

void ReportProductKeyFailure(const WString& exceptionText, bool keyOpened, bool admin, bool adminForHint,
                             bool powerUser)
{
    const InstallSettings& settings = TheInstallSettings();
    WString reason = TrimReason(exceptionText);
    WString stage = keyOpened ? L"Setting access control for Korvane registry key failed"
                              : L"Creating Korvane registry key failed";
    if (settings.interactive) {
        WString text = stage + L".\n" + reason + L".\n";
        if (!adminForHint)
            text += powerUser ? L"Try running installer as Administrator.\n" : L"Try running installer as Power User.\n";
        if (admin) {
            text += L"Continuing installation is not recommended. Do you want to continue anyway?";
            if (MessageBoxW(nullptr, text.c_str(), L"Creating Korvane Registry Key Failed",
                            MB_YESNO | MB_ICONWARNING) == IDYES)
                return;
            StepLine(L"Installation canceled by user (creating registry key failed)");
        } else {
            MessageBoxW(nullptr, text.c_str(), L"Creating Korvane Registry Key Failed", MB_OK | MB_ICONWARNING);
        }
        throw SilentExit(106);
    }
    bool goOn = admin && settings.force;
    WString line = goOn ? L"Warning: " : L"";
    line += stage + L"; " + reason;
    if (!adminForHint)
        line += powerUser ? L"; try running installer as Administrator" : L"; try running installer as Power User";
    if (goOn) {
        StepLine(line);
        return;
    }
    StepLine(line + L", aborting");
    throw SilentExit(106);
}

void CreateProductKey()
{
    StepLine(L"Creating Korvane registry key");
    bool opened = false;
    try {
        CRegCreate<0> key(kProductKey, READ_CONTROL | WRITE_DAC);
        if (key.Failed())
            ThrowCallFailed(L"RegCreateKeyEx()", key.Value());
        opened = true;
        if (WindowsVersion().first == VER_PLATFORM_WIN32_NT && key.Created())
            CopySoftwareDacl(key.Key());
    } catch (const std::exception& e) {
        ReportProductKeyFailure(ReasonOf(e), opened, IsAdministrator(true), IsAdministrator(false), IsPowerUser());
    }
}
