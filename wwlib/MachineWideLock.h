#pragma once
#include "../nocrtlib/NoCopy.h"
#include "../nocrtlib/NoCrtHandle.h"
#include "../nocrtlib/NoCrtString.h"
#include "../nocrtlib/NoCrtVector.h"

namespace WWLib {

// One process of a kind at a time on the machine, across sessions. A standard
// user may create any name in Global\ first, and may hold it for good or give
// it a list that refuses everyone: the lock is therefore a file held without
// sharing in a folder that only administrators may write, and besides it the
// named mutex that earlier versions take, while that mutex is the
// administrators' own. Both go to the next taker when the holder ends, killed
// or not.
class MachineWideLock : NoCopy {
public:
    // Takes the lock: the mutex `name` ("Global\...") and the file
    // `lockFile`, whose folder is made the administrators' own. False when
    // another process holds either. Systems without the global namespace
    // (before Windows 2000) take the name without its prefix. A mutex that is
    // not the administrators' own, or a folder that cannot be made so, is
    // passed over with a warning in Notes(). Throws SystemError
    // "CreateMutexW()", "WaitForSingleObject()" or "CreateFileW()".
    bool TryTake(const wchar_t* name, const WString& lockFile);
    // Warnings of the last TryTake, each a line for the caller's output.
    const NoCrtVector<WString>& Notes() const { return notes_; }
    void Release() noexcept;
    ~MachineWideLock() { Release(); }

private:
    bool TakeMutex(const wchar_t* name);
    bool TakeFile(const WString& lockFile);
    // A mutex someone else made: said, and left to the file (true).
    bool PassOver(const wchar_t* name);

    NoCrtHandle mutex_;
    NoCrtHandle file_;
    WString folder_;
    NoCrtVector<WString> notes_;
    bool mutexOwned_ = false;
    bool held_ = false;
};

} // namespace WWLib
