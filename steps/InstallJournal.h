#pragma once
#include "../nocrtlib/NoCopy.h"
#include "../nocrtlib/NoCrtString.h"

// How each kind of change is undone. The letters are stored: never reuse one
// for another meaning. 'E' ends a journal file and is no kind.
enum class UndoKind : wchar_t {
    SiteKey = L'K',        // the site's key, made for the journal: removed when empty
    Directory = L'D',      // a directory made: removed when empty
    Security = L'A',       // an existing directory's access control: detail is the old descriptor
    File = L'F',           // a file written: deleted
    Shortcut = L'L',       // a shortcut written: deleted
    TakenOverFile = L'P',  // a file the replaced installation left to the restart: deleted
    Service = L'S',        // the service registered: detail is the server's path
    ComServer = L'C',      // a COM server registered: unregistered
    UninstallEntry = L'U', // the uninstall entry: its key deleted
    FirstRunFlag = L'R',   // the first-run value of the site's key: deleted
    ServerData = L'T',     // the folder the server's installation command makes: removed when empty
    ServerFile = L'W',     // a file that command made: detail is its size and time; deleted while unchanged
    PreviousInstallation = L'O', // the site's previous installation, about to be removed by its uninstaller:
                                 // detail is its parameter list; what it names in the folder and is left goes
    // An upgrade keeps the previous installation instead (steps/KeptInstallation.h):
    KeptInstallation = L'H', // its registrations: detail is whether its service ran and its parameter list;
                             // its COM servers and its service registered again, the service started if it ran
    KeptFile = L'B',         // one of its files: detail is the kept name; put back at its place
    KeptFolder = L'G',       // one of its folders: detail is its access control; made again when gone
    ServiceConfig = L'V',    // a service that existed, changed by the registration: detail is its configuration,
                             // given back (it is not deleted)
};

// The undo actions of the run's steps, kept in a journal file that is
// written through (steps/JournalFile.h) while the run goes on: each is on the
// disk before the change it undoes, so a run that was killed, or whose machine
// stopped, leaves a list that the next run of the same site can carry out.
// The journal ends (durably) when the run completes, before anything says so,
// and stays behind its end record as the completed run's record, for the
// case that the machine loses the run's registry changes; it goes when the
// steps rolled themselves back; -noRollback leaves it open for the next run. What an earlier run left and the recovery could not undo stays in
// the journal until a run undoes it or the uninstaller removes the site.
//
// One journal is open per process; Record writes to it and does nothing when
// none is open (a step used on its own).
class InstallJournal : NoCopy {
public:
    // Declared before every step it records, so that it outlives their
    // rollback; opened when the first of them begins.
    InstallJournal() = default;
    explicit InstallJournal(const WString& site) { Open(site); }
    ~InstallJournal();

    // Opens the site's journal with what an earlier run left undone. A
    // journal that cannot be written is said in a warning line, and the run
    // goes on without one.
    void Open(const WString& site);

    // The run completed: the journal ends now, before the completion is
    // reported, keeping only what an earlier run left outside this run's
    // site. Throws when the journal cannot be ended: the steps, not yet
    // committed, then roll back.
    void Commit();

    // Adds one undo action to the open journal. Throws when the journal
    // cannot be written: the change must not be made without it.
    static void Record(UndoKind kind, const WString& subject, const WString& detail = WString());

    // An action undone in this run that did not succeed: it stays in the
    // journal for the next run, which tries again.
    static void CarryOver(UndoKind kind, const WString& subject, const WString& detail = WString());

private:
    WString site_;
    bool open_ = false;
    bool committed = false;
};

// A journal that an earlier, unfinished run of the site left behind (a
// journal file, or the registry value earlier versions kept), or a completed
// run's whose uninstall entry is gone (its registry changes were lost): said
// in one line, undone last action first. A completed run's journal whose
// entry is there is only deleted. What was undone leaves the journal; what
// could not be, or lies outside this run's site and directory, stays, said in
// one line, and is carried into this run's journal. Returns whether there was
// one. Undo failures are reported as a rollback's are; never throws for them.
bool RecoverUnfinishedRun(const WString& site);

// Whether this run's recovery wrote back an uninstall entry that the earlier
// run had replaced.
bool RecoveryRestoredUninstallEntry();

// The site's journal file (for the tests and the uninstaller's counterpart).
WString JournalPathOf(const WString& site);
