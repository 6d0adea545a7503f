#pragma once
#include "../nocrtlib/NoCrtString.h"
#include "../nocrtlib/NoCrtVector.h"

// True when the path's attributes can be read.
bool PathExists(const WString& path);
// True when the path exists and is a directory.
bool IsDirectory(const WString& path);

// Asks Windows to delete the path at the next restart (a directory only goes
// if it is empty by then). Returns whether the request was recorded.
bool ScheduleDeleteOnReboot(const WString& path);

// Removes every deletion of `path` that is pending for the next restart, so a
// freshly installed file is not deleted by what an earlier uninstallation
// scheduled. Paths compare in their short form, so the long and the short name
// of a file are the same; a path that does not exist has no short form and is
// never matched, so cancel only once the file is there. Returns true when the
// pending list was changed and written back. Never throws.
bool CancelPendingDelete(const WString& path) noexcept;

// True when an existing path is to be deleted at the next restart (compared
// as CancelPendingDelete compares). Never throws.
bool IsPendingDelete(const WString& path) noexcept;

// The deletions pending for the next restart as a writer of many files found
// them when it began, each with its short form worked out once. Asking
// IsPendingDelete for each file reads the list again and looks into the
// folder of every entry again (a whole listing under Wine; the temporary
// folder's grows with each upgrade). Compares as IsPendingDelete does; an
// entry whose path did not exist yet is looked at again at each question.
// Never throws.
class PendingDeletions {
public:
    // Reads the list now (nothing when asked not to).
    explicit PendingDeletions(bool read) noexcept;
    // Whether an existing path is among them.
    bool Names(const WString& path) noexcept;

private:
    struct Entry {
        WString source;    // as the list names it
        WString shortForm; // empty while the path does not exist
    };
    NoCrtVector<Entry> entries_;
};

// Where Windows keeps the operations pending for the next restart.
constexpr const wchar_t* kSessionManagerKey = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr const wchar_t* kPendingRenamesValue = L"PendingFileRenameOperations";
