#pragma once
#include "../nocrtlib/NoCopy.h"
#include "../nocrtlib/NoCrtHandle.h"

namespace WWLib {

// One process of a kind at a time on the machine, across sessions: a named
// mutex, held until it is released or the process ends (a killed holder's
// mutex is abandoned and goes to the next taker).
class MachineWideLock : NoCopy {
public:
    // Takes the lock named `name` ("Global\..."); false when another process
    // holds it. Systems without the global namespace (before Windows 2000)
    // take the name without its prefix. Throws SystemError "CreateMutexW()"
    // or "WaitForSingleObject()".
    bool TryTake(const wchar_t* name);
    void Release() noexcept;
    ~MachineWideLock() { Release(); }

private:
    NoCrtHandle mutex_;
    bool held_ = false;
};

} // namespace WWLib
