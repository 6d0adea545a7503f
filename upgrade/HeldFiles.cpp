#include "HeldFiles.h"
#include "../wwlib/ServiceHandle.h"
#include "RestartAndResume.h"
#include "../nocrtlib/NoCrtCompare.h"
#include "../nocrtlib/NoCrtFormat.h"
#include "../nocrtlib/NoCrtHandle.h"
#include "../steps/DeferredFileOps.h"
#include "../steps/StepReport.h"
#include "../steps/TargetDirectory.h"
#include "../wwlib/FileHolders.h"
#include "../wwlib/ProcessEnd.h"
#include "../wwlib/UninstallParams.h"
#include <windows.h>

using namespace WWLib;

namespace {

// The process the site's service runs in; 0 when it does not run.
unsigned long ServiceProcess(const WString& site)
{
    ScHandle scm(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    ScHandle svc(scm.get() ? OpenServiceW(scm.get(), site.c_str(), SERVICE_QUERY_STATUS) : nullptr);
    SERVICE_STATUS_PROCESS status = {};
    DWORD needed = 0;
    if (!svc.get() || !QueryServiceStatusEx(svc.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                                            sizeof(status), &needed) ||
        status.dwCurrentState == SERVICE_STOPPED)
        return 0;
    return status.dwProcessId;
}

} // namespace

void StopIfFilesHeld(const WString& site, const WString& dir, const WString& params)
{
    const WString top = ComparablePath(dir);
    WStringList files, ended;
    UninstallParams::ForEach(params, [&](const WString& name, const WString& value) {
        const WString path = ComparablePath(value);
        if (!PathBelow(path, top))
            return;
        if (EqualNoCase(name, WString(L"killProc")))
            ended.push_back(path);
        else if (EqualNoCase(name, WString(L"delFile")) && PathExists(path) && !IsDirectory(path))
            files.push_back(path);
    });
    if (files.empty())
        return;
    const unsigned long service = ServiceProcess(site);
    auto own = [&](const FileHolder& holder) {
        if (holder.processId == service)
            return true;
        const WString program = ComparablePath(holder.program);
        for (std::size_t i = 0; i < ended.size(); ++i)
            if (EqualNoCase(program, ended[i]))
                return true;
        return false;
    };
    NoCrtVector<HeldPath> held = FindFileHolders(files);
    WStringList lines;
    for (std::size_t i = 0; i < held.size(); ++i) {
        const HeldPath& h = held[i];
        bool any = false;
        for (std::size_t k = 0; k < h.holders.size(); ++k) {
            if (own(h.holders[k]))
                continue;
            any = true;
            const WString program = h.holders[k].program.empty() ? WString(L"a program") : h.holders[k].program;
            lines.push_back(L"'" + h.path + L"' is held open by " + program + L" (process " +
                            DecimalText(h.holders[k].processId) + L")");
        }
        // Open, and no one to name: still in the way.
        if (!any && h.openAgainstDeletion && h.holders.empty())
            lines.push_back(L"'" + h.path + L"' is held open by a program that cannot be named");
    }
    if (lines.empty())
        return;
    for (std::size_t i = 0; i < lines.size(); ++i)
        StepLine(lines[i]);
    StepLine(L"Nothing of " + site + L" was removed: the files above are in use by other programs");
    RestartForReinstall();
}
