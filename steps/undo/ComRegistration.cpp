#include "ComRegistration.h"
#include "../StepReport.h"
#include "../../wwlib/DllLoader.h"
#include "../../wwlib/InstallError.h"
#include "../../wwlib/RunAndWait.h"
#include <ole2.h>
#include <windows.h>

namespace {

bool EndsWithExe(const WString& path)
{
    return path.size() > 3 && lstrcmpiW(path.c_str() + path.size() - 4, L".EXE") == 0;
}

// The COM library for the time a DLL's registration export runs; uninitialised
// only when this scope initialised it.
struct OleScope {
    OleScope() : initialised(SUCCEEDED(OleInitialize(nullptr))) {}
    ~OleScope()
    {
        if (initialised)
            OleUninitialize();
    }
    bool initialised;
    OleScope(const OleScope&) = delete;
    OleScope& operator=(const OleScope&) = delete;
};

struct Library {
    HMODULE h;
    ~Library()
    {
        if (h)
            FreeLibrary(h);
    }
};

} // namespace

namespace ComRegistration {

void Run(const WString& serverPath, bool unregister, bool inheritHandles)
{
    if (EndsWithExe(serverPath)) {
        WString command = L"\"" + serverPath + (unregister ? L"\" /UnregServer" : L"\" /RegServer");
        unsigned long code = RunAndWait(command, inheritHandles);
        if (code != 0)
            throw InstallError(ExitCodeReason(code));
        return;
    }
    // COM goes before the DLL: what COM still holds of it is released while
    // its code is there (locals go in reverse order).
    Library dll{WWLib::LoadLibraryWithItsFolder(serverPath)};
    if (!dll.h)
        ThrowCallFailed(L"LoadLibraryW()", GetLastError());
    OleScope ole;
    using Entry = HRESULT(STDAPICALLTYPE*)();
    auto entry = reinterpret_cast<Entry>(reinterpret_cast<void*>(
        GetProcAddress(dll.h, unregister ? "DllUnregisterServer" : "DllRegisterServer")));
    if (!entry)
        ThrowCallFailed(L"GetProcAddress()", GetLastError());
    entry(); // its result is not looked at: the export being there is the contract
}

bool Unregister(const WString& serverPath) noexcept
{
    try {
        StepLine(L"Rollback: unregistering previously registered server " + serverPath);
        try {
            Run(serverPath, true, true);
            return true;
        } catch (const InstallError& e) {
            ReportRollbackFailure(RollbackKind::ComServer, serverPath, e.Message());
        }
    } catch (...) {
    }
    return false;
}

bool Register(const WString& serverPath) noexcept
{
    try {
        try {
            Run(serverPath, false, true);
            return true;
        } catch (const std::exception& e) {
            ReportRollbackFailure(RollbackKind::ComServer, serverPath, ReasonOf(e));
        }
    } catch (...) {
    }
    return false;
}

} // namespace ComRegistration
