#pragma once
#include "../../nocrtlib/NoCrtString.h"

// Putting a replaced installation back. An upgrade keeps what the previous
// installation's uninstaller is about to remove (steps/KeptInstallation.h);
// when the upgrade does not complete, each kept part returns through these
// actions, in the run itself or, after a kill, in the journal's recovery.
// Each says what it does, reports a failure as a rollback's, and never throws.
namespace PutBack {

// Keeps the file `path` under the new name `kept`: a second name of the same
// data (no copy's worth of space is needed), or a copy where the volume has
// no second names. Returns empty, or why it could not.
WString KeepFile(const WString& path, const WString& kept);

// Whether two paths name the same file (the same data, under two names).
bool SameFile(const WString& a, const WString& b);

// The kept file back at `path`: moved there when nothing stands there; when
// `path` still names the same file, only the kept name goes. A file that
// stands there and is to be deleted at the restart (a rollback's leftover) is
// replaced. A deletion of `path` left for the restart is cancelled, so that
// the restart cannot take the file. Nothing kept: nothing to do.
bool File(const WString& path, const WString& kept) noexcept;

// Drops a kept name once the upgrade completed (at the restart when it
// cannot go now).
void DropKept(const WString& kept) noexcept;

// Makes a folder of the previous installation again when it is gone, with
// its access control as UndoSecurity::Of saved it.
bool Folder(const WString& dir, const WString& security) noexcept;

// What the previous installation had registered, as one record's detail:
// whether its service ran, and its parameter list.
WString RegistrationsDetail(bool serviceRan, const WString& params);
// Registers again what that list names in `dir` and is not registered now:
// its COM servers, its service when the service is gone; then starts the
// service when it ran.
bool Registrations(const WString& site, const WString& dir, const WString& detail) noexcept;

} // namespace PutBack
