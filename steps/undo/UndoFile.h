#pragma once
#include "../../nocrtlib/NoCrtString.h"

// Taking back what the steps wrote to the disk: called by the steps on
// rollback and by the journal's recovery for a killed run. Each says what it
// does in one line, reports a failure as a rollback's, and never throws.
namespace UndoFile {

// Deletes a file this installation wrote; one that cannot go now goes at the
// next restart. Returns whether it is gone or goes then.
bool RemoveWritten(const WString& path) noexcept;
// The same for a file the replaced installation had left to the restart:
// it goes now, or at the restart as it would have.
bool RemoveTakenOver(const WString& path) noexcept;
// Removes a directory this installation made; one that is not empty goes at
// the next restart.
bool RemoveMadeFolder(const WString& path) noexcept;
// Deletes a shortcut this installation wrote, or gives one that was there
// before its bytes back (`previous`, as BytesToHex stores them).
bool RestoreShortcut(const WString& linkPath, const WString& previous = WString()) noexcept;

// Deletes the server's folder made by this run and what is in it, never
// following a link out of it.
void RemoveServerData(const WString& configDir) noexcept;
// For a later run: the server's folder goes when it is empty; otherwise it
// stays, said in one line.
void RemoveFolderIfEmpty(const WString& configDir) noexcept;
// For a later run: deletes a file the server's command made when its size
// and time are still `stamp` (as Stamp gives them); a changed file stays,
// said in one line. Returns false when the deletion failed.
bool RemoveFileIfUnchanged(const WString& path, const WString& stamp) noexcept;
// A file's size and last-write time as the journal keeps them; empty when the
// file cannot be read. May throw (out of memory) like any text.
WString Stamp(const WString& path);

} // namespace UndoFile
