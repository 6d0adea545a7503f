#pragma once
#include "InstallJournal.h"
#include "../nocrtlib/NoCopy.h"
#include "../nocrtlib/NoCrtString.h"
#include "../nocrtlib/NoCrtVector.h"

// The site's previous installation, kept while an upgrade replaces it, so
// that an upgrade that does not complete gives it back as it was, running.
// Before the previous uninstaller runs, each file that its parameter list
// names gets a second name in a folder of the run's own inside the
// installation folder (the same volume: no copy's worth of space), and its
// folders (with their access control), its uninstall entry (every value) and
// its registrations are noted; each in the journal before it is taken, so
// that the recovery of a killed run can put it back too.
//
// Declared before the install steps, it outlives their rollback: when the
// run stops before the commit (a step, the server's command, a full drive,
// an interruption, a restart the uninstaller asks for), the steps undo
// themselves and then the previous installation comes back, said in one
// line. -noRollback leaves everything as it is. Committed after the journal
// ended, it drops the kept names.
class KeptInstallation : NoCopy {
public:
    KeptInstallation() = default;
    ~KeptInstallation();

    // Keeps what `params` (the previous installation's parameter list) names
    // in `dir` and the site's Start-menu folders. Throws when something cannot
    // be kept; what was kept until then is dropped again.
    void Keep(const WString& site, const WString& dir, const WString& params, bool serviceRan);
    bool Kept() const { return !folder_.empty(); }
    void Commit();
    // Puts it back now, for a run that ends before its first step and says
    // why last (a restart it needs, a removal that failed); the destructor
    // then has nothing left to do. -noRollback: nothing.
    void PutBackNow() noexcept;

    // The folder of the kept names, inside the installation folder.
    static constexpr const wchar_t* kFolderPrefix = L"Quendal previous";

private:
    struct Part {
        UndoKind kind;
        WString subject;
        WString detail;
    };
    void Note(UndoKind kind, const WString& subject, const WString& detail);
    void PutBackAll() noexcept;
    void Drop() noexcept;

    WString site_;
    WString folder_;
    NoCrtVector<Part> parts_;
    bool committed_ = false;
};
