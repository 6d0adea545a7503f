#include "PutBack.h"
#include "UndoSecurity.h"
#include "ComRegistration.h"
#include "UndoService.h"
#include "../DeferredFileOps.h"
#include "../StepReport.h"
#include "../TargetDirectory.h"
#include "../../nocrtlib/NoCrtCompare.h"
#include "../../nocrtlib/NoCrtHandle.h"
#include "../../wwlib/ErrorText.h"
#include "../../wwlib/FileLinks.h"
#include "../../wwlib/RunAndWait.h"
#include "../../wwlib/UninstallParams.h"
#include <aclapi.h>
#include <windows.h>

using namespace WWLib;

namespace {

bool FileIdentity(const WString& path, BY_HANDLE_FILE_INFORMATION& info)
{
    NoCrtHandle h(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                              nullptr));
    return h.valid() && GetFileInformationByHandle(h.get(), &info);
}

// The values of one parameter that lie in the folder `top` (comparable).
template <class Each>
void EachBelow(const WString& params, const wchar_t* name, const WString& top, Each each)
{
    UninstallParams::ForEach(params, [&](const WString& param, const WString& value) {
        if (value.empty() || !EqualNoCase(param, WString(name)))
            return;
        const WString path = ComparablePath(value);
        if (PathBelow(path, top) && PathExists(path) && !IsDirectory(path))
            each(path);
    });
}

} // namespace

namespace PutBack {

WString KeepFile(const WString& path, const WString& kept)
{
    if (CreateHardLinkW(kept.c_str(), path.c_str(), nullptr))
        return WString();
    const DWORD err = GetLastError();
    // A volume without second names (FAT) has no room to spare either way:
    // the copy is what is left.
    if (err != ERROR_NOT_SAME_DEVICE && err != ERROR_INVALID_FUNCTION && err != ERROR_NOT_SUPPORTED)
        return WindowsErrorText(err);
    if (CopyFileW(path.c_str(), kept.c_str(), TRUE))
        return WString();
    const DWORD copyErr = GetLastError();
    DeleteFileW(kept.c_str());
    return WindowsErrorText(copyErr);
}

bool SameFile(const WString& a, const WString& b)
{
    BY_HANDLE_FILE_INFORMATION x = {}, y = {};
    return FileIdentity(a, x) && FileIdentity(b, y) && x.dwVolumeSerialNumber == y.dwVolumeSerialNumber &&
           x.nFileIndexHigh == y.nFileIndexHigh && x.nFileIndexLow == y.nFileIndexLow;
}

bool File(const WString& path, const WString& kept) noexcept
{
    try {
        if (!PathExists(kept))
            return true; // never kept, or put back already
        if (PathExists(path) && SameFile(path, kept)) {
            // The uninstaller did not get to it, or left it to the restart.
            CancelPendingDelete(path);
            DropKept(kept);
            return true;
        }
        DWORD flags = MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH;
        if (PathExists(path)) {
            if (!IsPendingDelete(path) || IsDirectory(path)) {
                StepLine(L"Rollback: the previous installation's " + path +
                         L" is not put back: another file stands there");
                return false;
            }
            flags |= MOVEFILE_REPLACE_EXISTING; // what the restart would delete
        }
        StepLine(L"Rollback: putting back " + path);
        if (!MoveFileExW(kept.c_str(), path.c_str(), flags)) {
            const DWORD err = GetLastError();
            StepLine(L"Rollback: putting back " + path + L" failed: " + WindowsErrorText(err));
            return false;
        }
        CancelPendingDelete(path);
        return true;
    } catch (...) {
        return false;
    }
}

void DropKept(const WString& kept) noexcept
{
    try {
        if (!PathExists(kept) || DeleteFileW(kept.c_str()))
            return;
        // A name of a program that still runs (the old service, when its
        // uninstaller never stopped it) cannot be deleted, but it can be
        // renamed: into the temporary folder (on the same volume only; a move
        // across volumes would be a copy), and from there at the restart, so
        // that the run's folder can go now.
        wchar_t temp[MAX_PATH + 1] = {}, aside[MAX_PATH] = {};
        if (GetTempPathW(MAX_PATH + 1, temp) && GetTempFileNameW(temp, L"unq", 0, aside)) {
            if (MoveFileExW(kept.c_str(), aside, MOVEFILE_REPLACE_EXISTING)) {
                ScheduleDeleteOnReboot(aside);
                return;
            }
            DeleteFileW(aside);
        }
        ScheduleDeleteOnReboot(kept);
    } catch (...) {
    }
}

bool Folder(const WString& dir, const WString& security) noexcept
{
    try {
        if (IsDirectory(dir))
            return true;
        StepLine(L"Rollback: making the previous installation's folder " + dir + L" again");
        if (!CreateDirectoryW(dir.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
            ReportRollbackFailure(RollbackKind::Directory, dir, WindowsErrorText(GetLastError()));
            return false;
        }
        return security.empty() || UndoSecurity::Restore(dir, security);
    } catch (...) {
        return false;
    }
}

WString RegistrationsDetail(bool serviceRan, const WString& params)
{
    return (serviceRan ? L"1" : L"0") + params;
}

bool Registrations(const WString& site, const WString& dir, const WString& detail) noexcept
{
    bool done = true;
    try {
        if (detail.empty())
            return true;
        const bool ran = detail[0] == L'1';
        const WString params = detail.substr(1);
        const WString top = ComparablePath(dir);
        EachBelow(params, L"unregSvr", top, [&](const WString& server) {
            StepLine(L"Rollback: registering the previous installation's server " + server);
            done = ComRegistration::Register(server) && done;
        });
        if (!UndoService::Exists(site)) {
            EachBelow(params, L"unregSvc", top, [&](const WString& program) {
                StepLine(L"Rollback: registering the previous installation's service " + program);
                done = UndoService::Register(program) && done;
            });
        }
        if (ran && UndoService::Exists(site)) {
            StepLine(L"Rollback: starting the " + site + L" service again");
            WString failure = UndoService::Start(site);
            if (!failure.empty()) {
                StepLine(L"Rollback: starting the " + site + L" service failed: " + failure);
                done = false;
            }
        }
    } catch (...) {
        return false;
    }
    return done;
}

} // namespace PutBack
