#include "MachineWideLock.h"
#include "SystemError.h"

namespace WWLib {

bool MachineWideLock::TryTake(const wchar_t* name)
{
    Release();
    HANDLE h = CreateMutexW(nullptr, FALSE, name);
    if (!h && (GetLastError() == ERROR_PATH_NOT_FOUND || GetLastError() == ERROR_INVALID_NAME)) {
        const wchar_t* slash = name;
        for (const wchar_t* p = name; *p; ++p)
            if (*p == L'\\')
                slash = p + 1;
        h = CreateMutexW(nullptr, FALSE, slash);
    }
    if (!h)
        throw SystemError(L"CreateMutexW()", GetLastError());
    mutex_.reset(h);
    DWORD r = WaitForSingleObject(h, 0);
    if (r == WAIT_FAILED)
        throw SystemError(L"WaitForSingleObject()", GetLastError());
    // An abandoned mutex is a killed holder's: whatever it left is for the
    // journal and the next run, not a reason to wait.
    held_ = r == WAIT_OBJECT_0 || r == WAIT_ABANDONED;
    return held_;
}

void MachineWideLock::Release() noexcept
{
    if (held_)
        ReleaseMutex(mutex_.get());
    held_ = false;
    mutex_.reset();
}

} // namespace WWLib
