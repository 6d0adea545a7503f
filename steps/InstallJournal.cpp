#include "InstallJournal.h"
#include "../wwlib/SiteScope.h"
#include "JournalFile.h"
#include "../nocrtlib/NoCrtConvert.h"
#include "../nocrtlib/NoCrtFormat.h"
#include "DeferredFileOps.h"
#include "InstallSettings.h"
#include "undo/ComRegistration.h"
#include "undo/PreviousInstallation.h"
#include "undo/PutBack.h"
#include "undo/UndoFile.h"
#include "undo/UndoRegistry.h"
#include "undo/UndoSecurity.h"
#include "undo/UndoService.h"
#include "SiteKey.h"
#include "StepReport.h"
#include "TargetDirectory.h"
#include "ShellFolders.h"
#include "../nocrtlib/NoCrtCompare.h"
#include "../nocrtlib/NoCrtPath.h"
#include "../wwlib/Product.h"
#include "../wwlib/CReg.h"
#include "../wwlib/ProcessEnd.h"
#include <windows.h>

using namespace WWLib;

namespace {

const wchar_t kLegacyJournalValue[] = L"InstallJournal"; // where earlier versions kept it
const wchar_t kSeparator = L'|'; // never part of a path or a key name

struct OpenJournal {
    bool open = false;
    JournalFile file;
    // What an earlier run left and the recovery could not undo; of it, what
    // lies outside this run's site (the rest the completed run supersedes).
    WStringList carried;
    WStringList carriedOutside;
    // The recovery wrote back an uninstall entry that the earlier run had
    // replaced: what it names is checked before it runs.
    bool restoredEntry = false;
};

OpenJournal& TheJournal()
{
    static OpenJournal journal;
    return journal;
}

WString EntryText(UndoKind kind, const WString& subject, const WString& detail)
{
    WString entry;
    entry += static_cast<wchar_t>(kind);
    entry += kSeparator;
    entry += subject;
    if (!detail.empty()) {
        entry += kSeparator;
        entry += detail;
    }
    return entry;
}

// One stored entry: its kind, subject and detail. False for a damaged entry
// or a kind this program does not know (a later version's).
bool ParseEntry(const WString& entry, UndoKind& kind, WString& subject, WString& detail);

void SplitEntry(const WString& entry, WString& subject, WString& detail)
{
    std::size_t bar = entry.find(kSeparator, 2);
    subject = entry.substr(2, bar == WString::npos ? WString::npos : bar - 2);
    detail = bar == WString::npos ? WString() : entry.substr(bar + 1);
}

// Whether a stored letter is one of this program's kinds.
bool IsKnownKind(wchar_t letter)
{
    switch (static_cast<UndoKind>(letter)) {
    case UndoKind::SiteKey:
    case UndoKind::Directory:
    case UndoKind::Security:
    case UndoKind::File:
    case UndoKind::Shortcut:
    case UndoKind::TakenOverFile:
    case UndoKind::Service:
    case UndoKind::ComServer:
    case UndoKind::UninstallEntry:
    case UndoKind::FirstRunFlag:
    case UndoKind::ServerData:
    case UndoKind::ServerFile:
    case UndoKind::PreviousInstallation:
    case UndoKind::KeptInstallation:
    case UndoKind::KeptFile:
    case UndoKind::KeptFolder:
    case UndoKind::ServiceConfig:
        return true;
    }
    return false;
}

bool ParseEntry(const WString& entry, UndoKind& kind, WString& subject, WString& detail)
{
    if (entry.size() < 2 || entry[1] != kSeparator || !IsKnownKind(entry[0]))
        return false;
    kind = static_cast<UndoKind>(entry[0]);
    SplitEntry(entry, subject, detail);
    return true;
}

// Where a journal's action may reach: the same places as the run that wrote
// it, for the site and the directory of this run. A journal is the
// installer's own, but one left by a stale history, or put there by hand,
// must not make the installer delete, run or unregister anything else.
class JournalScope {
public:
    JournalScope(const WString& site, const WString& installDir) : places_(SitePlacesOf(site, installDir)) {}

    bool Allows(UndoKind kind, const WString& subject, const WString& detail) const
    {
        const WString& site = places_.site;
        switch (kind) {
        case UndoKind::SiteKey:
            return EqualNoCase(subject, site);
        case UndoKind::Directory:
            return SiteScope::IsFolderToRemove(places_, ComparablePath(subject));
        case UndoKind::Security:
        case UndoKind::PreviousInstallation:
        case UndoKind::KeptInstallation:
            return !places_.dir.empty() && EqualNoCase(ComparablePath(subject), places_.dir);
        case UndoKind::KeptFile:
            // Kept in the run's folder inside the site's folder, put back
            // where the previous installation had it.
            return (SiteScope::InFolder(places_, ComparablePath(subject)) ||
                    SiteScope::IsShortcut(places_, ComparablePath(subject))) &&
                   SiteScope::InFolder(places_, ComparablePath(detail));
        case UndoKind::KeptFolder:
            return SiteScope::IsFolderToRemove(places_, ComparablePath(subject));
        case UndoKind::ServiceConfig:
            return SiteScope::IsService(places_, subject);
        case UndoKind::File:
        case UndoKind::TakenOverFile:
        case UndoKind::ServerData:
        case UndoKind::ServerFile:
        case UndoKind::ComServer:
            return SiteScope::InFolder(places_, ComparablePath(subject));
        case UndoKind::Shortcut:
            return SiteScope::IsShortcut(places_, ComparablePath(subject));
        case UndoKind::Service:
            return SiteScope::IsService(places_, subject) && SiteScope::InFolder(places_, ComparablePath(detail));
        case UndoKind::UninstallEntry:
            return EqualNoCase(subject, WString(kUninstallKey) + L"\\" + site);
        case UndoKind::FirstRunFlag:
            return EqualNoCase(subject, SiteKeyPath(site));
        }
        return false;
    }

    const WString& Site() const { return places_.site; }

private:
    SiteScope::Places<WString> places_;
};

enum class Outcome {
    Undone,   // undone, left to the restart, or nothing (left) to undo
    NotUndone, // the undo failed: the next run tries again
    Outside,  // not this run's to undo
};

// One action of a journal left behind. What is no longer there was never
// made, or is gone already: nothing to undo.
Outcome Undo(const WString& entry, const JournalScope& scope) noexcept
{
    try {
        UndoKind kind;
        WString subject, detail;
        if (!ParseEntry(entry, kind, subject, detail))
            return Outcome::Undone; // damaged, or a later version's: not this program's to guess
        if (!scope.Allows(kind, subject, detail)) {
            StepLine(L"Skipped, outside the site: " + entry.substr(0, 2) + subject);
            return Outcome::Outside;
        }
        bool undone = true;
        switch (kind) {
        case UndoKind::Directory:
            if (IsDirectory(subject))
                undone = UndoFile::RemoveMadeFolder(subject);
            break;
        case UndoKind::Security:
            if (IsDirectory(subject))
                undone = UndoSecurity::Restore(subject, detail);
            break;
        case UndoKind::File:
            if (PathExists(subject))
                undone = UndoFile::RemoveWritten(subject);
            break;
        case UndoKind::TakenOverFile:
            if (PathExists(subject))
                undone = UndoFile::RemoveTakenOver(subject);
            break;
        case UndoKind::Shortcut:
            if (PathExists(subject))
                undone = UndoFile::RestoreShortcut(subject, detail);
            break;
        case UndoKind::Service:
            if (PathExists(detail))
                undone = UndoService::Unregister(detail);
            break;
        case UndoKind::ComServer:
            if (PathExists(subject))
                undone = ComRegistration::Unregister(subject);
            break;
        case UndoKind::UninstallEntry:
            if (!detail.empty() || CRegOpen<0>(subject, KEY_READ).Succeeded())
                undone = UndoRegistry::RestoreEntry(subject, detail, true);
            if (undone && !detail.empty() && detail != WString(L"-"))
                TheJournal().restoredEntry = true;
            break;
        case UndoKind::FirstRunFlag:
            UndoRegistry::RemoveFirstRunFlag(subject, false);
            break;
        case UndoKind::ServerData:
            if (PathExists(subject))
                UndoFile::RemoveFolderIfEmpty(subject);
            break;
        case UndoKind::ServerFile:
            if (PathExists(subject))
                undone = UndoFile::RemoveFileIfUnchanged(subject, detail);
            break;
        case UndoKind::PreviousInstallation:
            undone = PreviousInstallation::RemoveWhatIsLeft(scope.Site(), subject, detail);
            break;
        case UndoKind::KeptInstallation:
            undone = PutBack::Registrations(scope.Site(), subject, detail);
            break;
        case UndoKind::KeptFile:
            undone = PutBack::File(subject, detail);
            break;
        case UndoKind::KeptFolder:
            undone = PutBack::Folder(subject, detail);
            break;
        case UndoKind::ServiceConfig:
            if (UndoService::Exists(subject))
                undone = UndoService::RestoreConfig(subject, detail);
            break;
        case UndoKind::SiteKey:
            break; // after the journal itself is gone
        }
        return undone ? Outcome::Undone : Outcome::NotUndone;
    } catch (...) {
        // The next action is undone whatever this one met.
        return Outcome::NotUndone;
    }
}

// The killed run's programs that still run (one that hangs, the service it
// registered, or the old registration an upgrade keeps, started by the next
// session) hold their files open: they end first, or their files cannot go
// and the same command could never finish.
void EndRecordedPrograms(const WStringList& entries, const JournalScope& scope)
{
    WStringList programs;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        UndoKind kind;
        WString subject, detail;
        if (!ParseEntry(entries[i], kind, subject, detail) || !scope.Allows(kind, subject, detail))
            continue;
        if (kind == UndoKind::PreviousInstallation) {
            // The previous installation's own programs (its service, its
            // control panel), which its uninstaller had not ended yet.
            WStringList previous = PreviousInstallation::ProgramsIn(subject, detail);
            for (std::size_t k = 0; k < previous.size(); ++k)
                programs.push_back(previous[k]);
            continue;
        }
        WString program = ComparablePath(subject);
        if ((kind == UndoKind::File || kind == UndoKind::TakenOverFile) && program.size() > 4 &&
            EqualNoCase(program.substr(program.size() - 4), L".exe"))
            programs.push_back(program);
    }
    EndProcessesRunning(programs, [](const WString& program) { StepLine(L"Ending " + program); });
}

// A completed upgrade that was stopped before it dropped the names it kept
// of the installation it replaced: they go with its journal.
void DropKeptNames(const WStringList& entries, const JournalScope& scope)
{
    for (std::size_t i = 0; i < entries.size(); ++i) {
        UndoKind kind;
        WString subject, detail;
        if (!ParseEntry(entries[i], kind, subject, detail) || kind != UndoKind::KeptFile ||
            !scope.Allows(kind, subject, detail))
            continue;
        PutBack::DropKept(detail);
        RemoveDirectoryW(SplitAtLast(detail, L'\\').head.c_str()); // once the last is gone
    }
}

// Ends the open journal, keeping `kept` (or, for a completed run with
// nothing to keep, its records behind the end record). Throws when it cannot.
void Finish(OpenJournal& j, const WStringList& kept, bool completed)
{
    j.open = false;
    if (kept.empty()) {
        j.file.End(completed);
        return;
    }
    j.file.Close();
    JournalFile::Replace(j.file.Path(), kept);
}

} // namespace

bool RecoveryRestoredUninstallEntry()
{
    return TheJournal().restoredEntry;
}

WString JournalPathOf(const WString& site)
{
    return JournalFile::PathFor(site);
}

void InstallJournal::Open(const WString& site)
{
    site_ = site;
    OpenJournal& j = TheJournal();
    try {
        j.file.Create(JournalFile::PathFor(site));
        for (std::size_t i = 0; i < j.carried.size(); ++i)
            j.file.Append(j.carried[i]);
        open_ = j.open = true;
    } catch (const std::exception& e) {
        j.file.Close();
        StepLine(L"Warning: the installation journal cannot be written (" + ReasonOf(e) +
                 L"); an interrupted installation cannot be undone by the next run");
    }
}

void InstallJournal::Commit()
{
    OpenJournal& j = TheJournal();
    if (open_ && j.open) {
        // What the steps wrote to the registry reaches the disk before the
        // journal says the run completed (Windows writes the registry out
        // lazily). The ended journal stays as the run's record: a machine
        // that lost the registry's last changes anyway (Wine saves it only
        // from time to time) has files that only the journal still knows.
        RegFlushKey(HKEY_LOCAL_MACHINE);
        Finish(j, j.carriedOutside, true);
    }
    open_ = false;
    committed = true;
}

InstallJournal::~InstallJournal()
{
    OpenJournal& j = TheJournal();
    if (!open_ || !j.open)
        return;
    if (TheInstallSettings().noRollback) {
        j.open = false;
        j.file.Close(); // what was left in place is the next run's to undo
        return;
    }
    try {
        Finish(j, j.carried, false);
    } catch (const std::exception& e) {
        // The steps undid themselves: the journal's records are stale, and
        // the next recovery passes over what is gone already.
        StepLine(L"Warning: the installation journal cannot be ended (" + ReasonOf(e) + L")");
    }
}

void InstallJournal::CarryOver(UndoKind kind, const WString& subject, const WString& detail)
{
    TheJournal().carried.push_back(EntryText(kind, subject, detail));
}

void InstallJournal::Record(UndoKind kind, const WString& subject, const WString& detail)
{
    OpenJournal& j = TheJournal();
    if (!j.open)
        return;
    j.file.Append(EntryText(kind, subject, detail));
}

bool RecoverUnfinishedRun(const WString& site)
{
    OpenJournal& j = TheJournal();
    j.carried.clear();
    j.carriedOutside.clear();
    j.restoredEntry = false;
    WStringList entries;
    CRegRead<0> legacy(SiteKeyPath(site), kLegacyJournalValue, entries);
    WString path;
    WStringList recorded;
    bool damaged = false;
    JournalFile::State state = JournalFile::State::None;
    try {
        path = JournalFile::ExistingPathFor(site);
        state = JournalFile::Read(path, recorded, damaged);
    } catch (const std::exception& e) {
        StepLine(L"Warning: the installation journal cannot be read (" + ReasonOf(e) + L"); it is passed over");
    }
    // A completed run's record: done with, while the machine still knows the
    // installation by its entry; without the entry (its registry changes were
    // lost) its files are known only here, and are undone as an unfinished run's.
    const bool registered = CRegOpen<0>(WString(kUninstallKey) + L"\\" + site, KEY_READ).Succeeded();
    if (state == JournalFile::State::Ended && (registered || recorded.empty())) {
        DropKeptNames(recorded, JournalScope(site, TheInstallSettings().installDir));
        JournalFile::Remove(path);
        state = JournalFile::State::None;
    }
    if (state == JournalFile::State::None && legacy.Failed())
        return false;
    for (std::size_t i = 0; i < recorded.size(); ++i)
        entries.push_back(recorded[i]);
    if (state == JournalFile::State::Ended)
        StepLine(L"The earlier installation of " + site + L" is not registered any more; undoing what it changed");
    else
        StepLine(L"An earlier installation of " + site + L" did not finish; undoing what it changed");
    if (damaged)
        StepLine(L"Warning: the installation journal " + path + L" is damaged; what it holds after the damage is "
                 L"passed over");
    const JournalScope scope(site, TheInstallSettings().installDir);
    EndRecordedPrograms(entries, scope);
    NoCrtDataVect<Outcome> outcomes;
    outcomes.resize(entries.size());
    for (std::size_t i = entries.size(); i-- > 0;)
        outcomes[i] = Undo(entries[i], scope);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (outcomes[i] != Outcome::Undone)
            j.carried.push_back(entries[i]);
        if (outcomes[i] == Outcome::Outside)
            j.carriedOutside.push_back(entries[i]);
    }
    if (j.carried.size()) {
        wchar_t count[24];
        FormatUnsigned(j.carried.size(), 1, 10, count);
        StepLine(WString(count) + L" change(s) of the earlier installation of " + site +
                 L" were not undone; they stay recorded for the next run");
    }
    if (!path.empty() && (state != JournalFile::State::None || j.carried.size()))
        JournalFile::Replace(j.carried.size() ? JournalFile::PathFor(site) : path, j.carried);
    if (legacy.Succeeded()) {
        CRegDeleteValue<0>(SiteKeyPath(site), kLegacyJournalValue);
        if (entries.size() && entries[0].size() && entries[0][0] == static_cast<wchar_t>(UndoKind::SiteKey))
            DeleteSiteKeyIfEmpty(site);
    }
    return true;
}
