#include "InstallJournal.h"
#include "CreateShortcut.h"
#include "DeferredFileOps.h"
#include "FirstRunFlag.h"
#include "InstallSettings.h"
#include "MakeInstallDir.h"
#include "RegisterServer.h"
#include "RegisterService.h"
#include "RegisterUninstaller.h"
#include "SecuredInstallDir.h"
#include "ServerInstallCommand.h"
#include "SiteKey.h"
#include "StepReport.h"
#include "TargetDirectory.h"
#include "ShellFolders.h"
#include "../nocrtlib/NoCrtCompare.h"
#include "../nocrtlib/NoCrtPath.h"
#include "../wwlib/Product.h"
#include "WriteFilesFromLzmaStream.h"
#include "../wwlib/CReg.h"
#include <windows.h>

using namespace WWLib;

namespace {

const wchar_t kJournalValue[] = L"InstallJournal";
const wchar_t kSeparator = L'|'; // never part of a path or a key name

struct OpenJournal {
    bool open = false;
    WString keyPath;
    WStringList entries;
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

void Write(const OpenJournal& j)
{
    CRegWrite<1>(j.keyPath, kJournalValue, j.entries);
}

void RemoveJournal(const WString& site, bool keyMadeForIt) noexcept
{
    try {
        CRegDeleteValue<0>(SiteKeyPath(site), kJournalValue);
        if (keyMadeForIt)
            DeleteSiteKeyIfEmpty(site);
    } catch (...) {
    }
}

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
        return true;
    }
    return false;
}

// Where a journal's action may reach: the same places as the run that wrote
// it, for the site and the directory of this run. A journal is the
// installer's own, but one left by a stale history, or put there by hand,
// must not make the installer delete, run or unregister anything else.
class JournalScope {
public:
    JournalScope(const WString& site, const WString& installDir) : site_(site), dir_(ComparablePath(installDir))
    {
        try {
            startMenu_ = ComparablePath(PathJoin(GetProgramsDir(), Product::kMakerPrefix + site));
        } catch (const std::exception&) {
            // No Start menu: no shortcut entry is the site's.
        }
        WString adminTools = GetCommonAdminToolsDir();
        if (!adminTools.empty())
            adminShortcut_ = ComparablePath(PathJoin(adminTools, site + L" Control Panel.lnk"));
    }

    bool Allows(UndoKind kind, const WString& subject, const WString& detail) const
    {
        switch (kind) {
        case UndoKind::SiteKey:
            return EqualNoCase(subject, site_);
        case UndoKind::Directory: {
            WString d = ComparablePath(subject);
            return EqualNoCase(d, dir_) || PathBelow(d, dir_) || PathBelow(dir_, d) || EqualNoCase(d, startMenu_);
        }
        case UndoKind::Security:
            return EqualNoCase(ComparablePath(subject), dir_);
        case UndoKind::File:
        case UndoKind::TakenOverFile:
        case UndoKind::ServerData:
        case UndoKind::ComServer:
            return PathBelow(ComparablePath(subject), dir_);
        case UndoKind::Shortcut: {
            WString link = ComparablePath(subject);
            return PathBelow(link, startMenu_) || (!adminShortcut_.empty() && EqualNoCase(link, adminShortcut_));
        }
        case UndoKind::Service:
            return EqualNoCase(subject, site_) && PathBelow(ComparablePath(detail), dir_);
        case UndoKind::UninstallEntry:
            return EqualNoCase(subject, WString(kUninstallKey) + L"\\" + site_);
        case UndoKind::FirstRunFlag:
            return EqualNoCase(subject, SiteKeyPath(site_));
        }
        return false;
    }

private:
    WString site_, dir_, startMenu_, adminShortcut_;
};

// One action of a journal left behind. What is no longer there was never
// made, or is gone already: nothing to undo.
void Undo(const WString& entry, const JournalScope& scope) noexcept
{
    try {
        if (entry.size() < 2 || entry[1] != kSeparator)
            return;
        if (!IsKnownKind(entry[0]))
            return; // a later version's action: not this program's to guess
        WString subject, detail;
        SplitEntry(entry, subject, detail);
        if (!scope.Allows(static_cast<UndoKind>(entry[0]), subject, detail)) {
            StepLine(L"Skipped, outside the site: " + entry.substr(0, 2) + subject);
            return;
        }
        switch (static_cast<UndoKind>(entry[0])) {
        case UndoKind::Directory:
            if (IsDirectory(subject))
                MakeInstallDir::Undo(subject);
            break;
        case UndoKind::Security:
            if (IsDirectory(subject))
                SecuredInstallDir::RestoreSecurity(subject, detail);
            break;
        case UndoKind::File:
            if (PathExists(subject))
                WriteFilesFromLzmaStream::RemoveFile(subject);
            break;
        case UndoKind::TakenOverFile:
            if (PathExists(subject))
                WriteFilesFromLzmaStream::RemoveTakenOverFile(subject);
            break;
        case UndoKind::Shortcut:
            if (PathExists(subject))
                CreateShortcut::Undo(subject);
            break;
        case UndoKind::Service:
            if (PathExists(detail))
                RegisterService::Unregister(detail);
            break;
        case UndoKind::ComServer:
            if (PathExists(subject))
                RegisterServer::Unregister(subject);
            break;
        case UndoKind::UninstallEntry:
            if (CRegOpen<0>(subject, KEY_READ).Succeeded())
                RegisterUninstaller::Undo(subject);
            break;
        case UndoKind::FirstRunFlag:
            FirstRunFlag::Undo(subject, false);
            break;
        case UndoKind::ServerData:
            if (PathExists(subject))
                ServerInstallCommand::Undo(subject);
            break;
        case UndoKind::SiteKey:
            break; // after the journal itself is gone
        }
    } catch (...) {
        // The next action is undone whatever this one met.
    }
}

} // namespace

void InstallJournal::Open(const WString& site)
{
    site_ = site;
    OpenJournal& j = TheJournal();
    j.keyPath = SiteKeyPath(site);
    j.entries.clear();
    if (CRegOpen<0>(j.keyPath, KEY_READ).Failed())
        j.entries.push_back(EntryText(UndoKind::SiteKey, site, WString()));
    try {
        Write(j);
        open_ = j.open = true;
    } catch (const std::exception& e) {
        StepLine(L"Warning: the installation journal cannot be written (" + ReasonOf(e) +
                 L"); an interrupted installation cannot be undone by the next run");
    }
}

InstallJournal::~InstallJournal()
{
    OpenJournal& j = TheJournal();
    if (!open_)
        return;
    j.open = false;
    if (!committed && TheInstallSettings().noRollback)
        return; // what was left in place is the next run's to undo
    bool keyMadeForIt = j.entries.size() && j.entries[0][0] == static_cast<wchar_t>(UndoKind::SiteKey);
    RemoveJournal(site_, keyMadeForIt);
}

void InstallJournal::Record(UndoKind kind, const WString& subject, const WString& detail)
{
    OpenJournal& j = TheJournal();
    if (!j.open)
        return;
    j.entries.push_back(EntryText(kind, subject, detail));
    Write(j);
}

bool RecoverUnfinishedRun(const WString& site)
{
    WStringList entries;
    CRegRead<0> read(SiteKeyPath(site), kJournalValue, entries);
    if (read.Failed())
        return false;
    StepLine(L"An earlier installation of " + site + L" did not finish; undoing what it changed");
    const JournalScope scope(site, TheInstallSettings().installDir);
    for (std::size_t i = entries.size(); i-- > 0;)
        Undo(entries[i], scope);
    bool keyMadeForIt = entries.size() && entries[0].size() && entries[0][0] == static_cast<wchar_t>(UndoKind::SiteKey);
    RemoveJournal(site, keyMadeForIt);
    return true;
}

WString EncodeDescriptor(const void* selfRelative, std::size_t size)
{
    static const wchar_t digits[] = L"0123456789ABCDEF";
    const std::uint8_t* p = static_cast<const std::uint8_t*>(selfRelative);
    WString text;
    text.reserve(size * 2);
    for (std::size_t i = 0; i < size; ++i) {
        text += digits[p[i] >> 4];
        text += digits[p[i] & 15];
    }
    return text;
}

bool DecodeDescriptor(const WString& text, NoCrtDataVect<std::uint8_t>& out)
{
    out.clear();
    if (text.empty() || text.size() % 2)
        return false;
    auto nibble = [](wchar_t c) -> int {
        if (c >= L'0' && c <= L'9')
            return c - L'0';
        if (c >= L'A' && c <= L'F')
            return c - L'A' + 10;
        return -1;
    };
    for (std::size_t i = 0; i < text.size(); i += 2) {
        int hi = nibble(text[i]), lo = nibble(text[i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        out.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
    }
    return IsValidSecurityDescriptor(out.data()) != FALSE &&
           GetSecurityDescriptorLength(out.data()) == out.size();
}
