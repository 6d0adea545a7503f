#include "KeptInstallation.h"
#include "InstallSettings.h"
#include "undo/PutBack.h"
#include "undo/UndoRegistry.h"
#include "undo/UndoSecurity.h"
#include "ShellFolders.h"
#include "SiteKey.h"
#include "StepReport.h"
#include "TargetDirectory.h"
#include "DeferredFileOps.h"
#include "../nocrtlib/NoCrtCompare.h"
#include "../nocrtlib/NoCrtFormat.h"
#include "../nocrtlib/NoCrtPath.h"
#include "../wwlib/AdministratorsFolder.h"
#include "../wwlib/FileLinks.h"
#include "../wwlib/Product.h"
#include "../wwlib/UninstallParams.h"
#include "../nocrtlib/WException.h"
#include <windows.h>
#include <cstdint>

using namespace WWLib;

void KeptInstallation::Note(UndoKind kind, const WString& subject, const WString& detail)
{
    // On the disk before what it keeps is taken.
    InstallJournal::Record(kind, subject, detail);
    parts_.push_back(Part{kind, subject, detail});
}

namespace {

// The kept files take no room of their own, but they keep theirs until the
// upgrade completed: the new installation (about as large as the old one)
// must fit beside them. A drive with room for one installation and a half
// could be upgraded only by giving the old one up first; that is the
// administrator's call (-force), not this run's.
void CheckRoomBeside(const WString& dir, const WString& params)
{
    std::uint64_t size = 0;
    UninstallParams::ForEach(params, [&](const WString& name, const WString& value) {
        WIN32_FILE_ATTRIBUTE_DATA data;
        const WString path = ComparablePath(value);
        if (EqualNoCase(name, WString(L"delFile")) && PathBelow(path, dir) &&
            GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) &&
            !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            size += (std::uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    });
    ULARGE_INTEGER available = {};
    if (!GetDiskFreeSpaceExW(dir.c_str(), &available, nullptr, nullptr) || available.QuadPart >= size)
        return;
    throw WStrException(L"the drive has " + DecimalText(available.QuadPart) + L" bytes free, and the new "
                        L"installation needs about " + DecimalText(size) + L" beside it");
}

} // namespace

void KeptInstallation::Keep(const WString& site, const WString& dir, const WString& params, bool serviceRan)
{
    const SiteScope::Places<WString> places = SitePlacesOf(site, dir);
    if (places.dir.empty() || !IsDirectory(places.dir))
        return; // no folder of the site's own: nothing there to keep
    CheckRoomBeside(places.dir, params);
    site_ = site;
    folder_ = AdministratorsFolder::MakeNew(places.dir, kFolderPrefix);
    try {
        Note(UndoKind::Directory, folder_, WString());
        Note(UndoKind::KeptInstallation, places.dir, PutBack::RegistrationsDetail(serviceRan, params));
        WStringList folders;
        std::size_t count = 0;
        UninstallParams::ForEach(params, [&](const WString& name, const WString& value) {
            const WString path = ComparablePath(value);
            if (path.empty())
                return;
            if (EqualNoCase(name, WString(L"delDir"))) {
                if (SiteScope::IsFolderToRemove(places, path) && IsDirectory(path) && !IsReparsePoint(path))
                    folders.push_back(path);
                return;
            }
            if (!EqualNoCase(name, WString(L"delFile")))
                return;
            const bool inFolder = SiteScope::InFolder(places, path);
            if (!inFolder && !SiteScope::IsShortcut(places, path))
                return;
            // What the uninstaller passes over (a link, or reached through
            // one) it leaves in place: nothing to keep.
            const WString top = inFolder ? places.dir : SplitAtLast(path, L'\\').head;
            if (!PathExists(path) || IsDirectory(path) || IsReparsePoint(path) || ReachedThroughLink(path, top))
                return;
            const WString kept = PathJoin(folder_, DecimalText(++count));
            Note(UndoKind::KeptFile, path, kept);
            const WString reason = PutBack::KeepFile(path, kept);
            if (!reason.empty())
                throw WStrException(L"'" + path + L"' cannot be kept: " + reason);
        });
        // Innermost first, so that they come back outermost first.
        for (std::size_t i = folders.size(); i-- > 0;)
            Note(UndoKind::KeptFolder, folders[i], UndoSecurity::Of(folders[i]));
        // Last: a Keep that fails before it (a file that cannot be kept,
        // then -force) must not leave a write-back of the entry in the
        // journal, which a recovery would turn into an entry without files.
        const WString entry = WString(kUninstallKey) + L"\\" + site;
        Note(UndoKind::UninstallEntry, entry, UndoRegistry::SavedEntry(entry));
    } catch (...) {
        Drop();
        throw;
    }
}

void KeptInstallation::Drop() noexcept
{
    for (std::size_t i = parts_.size(); i-- > 0;)
        if (parts_[i].kind == UndoKind::KeptFile)
            PutBack::DropKept(parts_[i].detail);
    if (!folder_.empty() && !RemoveDirectoryW(folder_.c_str()))
        ScheduleDeleteOnReboot(folder_);
    parts_.clear();
    folder_.clear();
}

void KeptInstallation::Commit()
{
    committed_ = true;
    Drop();
}

KeptInstallation::~KeptInstallation()
{
    PutBackNow();
}

void KeptInstallation::PutBackNow() noexcept
{
    if (!Kept() || committed_ || TheInstallSettings().noRollback)
        return;
    committed_ = true; // once
    PutBackAll();
}

void KeptInstallation::PutBackAll() noexcept
{
    try {
        NoCrtDataVect<bool> done;
        done.resize(parts_.size());
        WString missing;
        for (std::size_t i = parts_.size(); i-- > 0;) {
            const Part& p = parts_[i];
            bool ok = true;
            switch (p.kind) {
            case UndoKind::KeptFolder:
                ok = PutBack::Folder(p.subject, p.detail);
                break;
            case UndoKind::KeptFile:
                ok = PutBack::File(p.subject, p.detail);
                break;
            case UndoKind::UninstallEntry:
                ok = UndoRegistry::RestoreEntry(p.subject, p.detail);
                break;
            case UndoKind::KeptInstallation:
                ok = PutBack::Registrations(site_, p.subject, p.detail);
                break;
            case UndoKind::Directory:
                // Empty once everything is back. Names of files that are back
                // but still held (to go at the restart) leave it to the
                // restart too; what is not back stays for the next run.
                ok = RemoveDirectoryW(p.subject.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND ||
                     (missing.empty() && ScheduleDeleteOnReboot(p.subject));
                break;
            default:
                break;
            }
            done[i] = ok;
            if (!ok && p.kind != UndoKind::Directory)
                missing += (missing.empty() ? L"" : L", ") + p.subject;
        }
        // The next run tries again what did not come back, in the order it
        // was kept.
        for (std::size_t i = 0; i < parts_.size(); ++i)
            if (!done[i])
                InstallJournal::CarryOver(parts_[i].kind, parts_[i].subject, parts_[i].detail);
        // Its service runs again as it did: nothing for a later run to remember.
        if (missing.empty())
            ForgetRunningService(site_);
        StepLine(missing.empty() ? L"The previous installation of " + site_ + L" was put back"
                                 : L"The previous installation of " + site_ + L" was put back, except: " + missing);
    } catch (...) {
    }
}
