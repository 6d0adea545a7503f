#include "JournalFile.h"
#include "ShellFolders.h"
#include "../nocrtlib/NoCrtCompare.h"
#include "../nocrtlib/NoCrtConvert.h"
#include "../nocrtlib/NoCrtCrc32.h"
#include "../nocrtlib/NoCrtPath.h"
#include "StepReport.h"
#include "../nocrtlib/NoCrtFormat.h"
#include "../wwlib/AccessControl.h"
#include "../wwlib/ErrorText.h"
#include "../wwlib/FileLinks.h"
#include "../wwlib/InstallError.h"
#include "../wwlib/Product.h"
#include "../wwlib/SystemError.h"
#include "../wwlib/SystemInfo.h"
#include <aclapi.h>

namespace {

const DWORD kAllFileRights = 0x001F01FF;
// What lets a holder put, change or remove a journal, or hand the folder on.
const DWORD kChangeRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES |
                            FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL |
                            MAXIMUM_ALLOWED;

// Whose folder may hold journals. An elevated administrator's objects belong
// to Administrators; where the system makes them the user's instead (Windows
// XP with that policy, and Wine, which reports the user as every file's
// owner), the user has no unelevated half that could have made the folder,
// and the user is trusted too.
bool TrustedOwner(PSID owner)
{
    static const Sid admins = Sid::Administrators();
    static const Sid trusted[] = {admins, Sid::LocalSystem(), Sid::TrustedInstaller(), Sid::ProcessOwner()};
    for (const Sid& sid : trusted)
        if (sid.Equals(owner))
            return true;
    return !admins.Equals(Sid::ProcessOwner().Get()) && Sid::ProcessUser().Equals(owner);
}

// Who may write into the folder: administrators and the system, and the user
// where the user is the default owner (as for TrustedOwner; Wine also shows
// a folder's list as its Unix permissions, the owner's entry as the user's).
bool MayChange(PSID sid)
{
    static const Sid system = Sid::LocalSystem();
    static const Sid admins = Sid::Administrators();
    return system.Equals(sid) || admins.Equals(sid) ||
           (!admins.Equals(Sid::ProcessOwner().Get()) && Sid::ProcessUser().Equals(sid));
}

// Administrators own it, and only they and the system may write: the folder
// decides what the installer undoes.
void MakeAdministratorsFolder(const WString& dir)
{
    JournalFile::FolderSecurity security;
    SECURITY_ATTRIBUTES sa = {sizeof(sa), security.sd.Get(), FALSE};
    if (CreateDirectoryW(dir.c_str(), &sa) || GetLastError() == ERROR_ALREADY_EXISTS)
        return;
    // A process that may not name Administrators as an owner (not elevated)
    // gets the default owner; the check that follows decides.
    if (GetLastError() == ERROR_INVALID_OWNER) {
        security.sd.SetOwner(Sid());
        if (CreateDirectoryW(dir.c_str(), &sa) || GetLastError() == ERROR_ALREADY_EXISTS)
            return;
    }
    ThrowCallFailed(L"CreateDirectoryW()", GetLastError());
}

// Why the folder at `dir` is not the installer's own, read through a handle
// to the folder itself (a link is opened as the link, never followed); empty
// when it is. `exists` says whether there is anything at `dir`.
WString FolderDistrustAt(const WString& dir, bool& exists)
{
    exists = false;
    HANDLE h = CreateFileW(dir.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        DWORD err = GetLastError();
        if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND)
            return WString();
        exists = true;
        return L"it cannot be opened: " + WWLib::WindowsErrorTextWithCode(err);
    }
    exists = true;
    NoCrtHandle folder(h);
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(folder.get(), &info) || !WWLib::OpenedAsNamed(folder.get(), dir))
        return L"it is a link";
    if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return L"it is not a folder";
    PSECURITY_DESCRIPTOR sd = nullptr;
    DWORD r = GetSecurityInfo(folder.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, nullptr, nullptr, &sd);
    if (r != ERROR_SUCCESS)
        return L"its access control cannot be read";
    NoCrtLocalMem hold(sd);
    return JournalFile::FolderDistrust(sd);
}

void Flush(HANDLE file)
{
    if (!FlushFileBuffers(file))
        throw SystemError(L"FlushFileBuffers()", GetLastError());
}

void WriteAll(HANDLE file, const AString& bytes)
{
    DWORD written = 0;
    if (!WriteFile(file, bytes.c_str(), static_cast<DWORD>(bytes.size()), &written, nullptr))
        throw SystemError(L"WriteFile()", GetLastError());
    if (written != bytes.size())
        throw SystemError(L"WriteFile()", ERROR_WRITE_FAULT);
    Flush(file);
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

namespace {

// A folder of this program's own, which goes when its last journal goes.
WString JournalFolder()
{
    WString data = GetCommonAppDataDir();
    if (!IsAbsolutePath(data))
        throw InstallError(L"The all-users application data folder cannot be found");
    return PathJoin(data, WString(Product::kMakerPrefix) + Product::kName + L" Setup");
}

// A folder that is not the installer's own is not used, nor deleted: it may
// hold what someone else put there. It goes aside under a name of its own.
// A link goes aside as the link; where the system moved what it points at
// instead (Wine does), that goes back to its place, and the folder is not
// the installer's to use.
void MoveAside(const WString& dir, const WString& distrust)
{
    const WString refused = L"The folder '" + dir + L"' is not the installer's own (" + distrust + L")";
    const WString target = WWLib::FinalPathOf(dir);
    const bool link = WWLib::IsReparsePoint(dir) || (!target.empty() && !EqualNoCase(target, dir));
    for (unsigned n = 1; n < 100; ++n) {
        wchar_t digits[8];
        FormatUnsigned(n, 1, 10, digits);
        const WString aside = dir + L" (not the installer's " + digits + L")";
        if (MoveFileExW(dir.c_str(), aside.c_str(), MOVEFILE_WRITE_THROUGH)) {
            if (link && !WWLib::IsReparsePoint(aside)) {
                if (!target.empty())
                    MoveFileExW(aside.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH);
                throw InstallError(refused + L" and cannot be moved aside: the system moves what the link "
                                             L"points at");
            }
            StepLine(L"Warning: the folder '" + dir + L"' is not the installer's own (" + distrust +
                     L"); it was moved to '" + aside + L"', and the installer makes its own");
            return;
        }
        DWORD err = GetLastError();
        if (err != ERROR_ALREADY_EXISTS && err != ERROR_FILE_EXISTS)
            throw InstallError(refused + L" and cannot be moved aside: " + WWLib::WindowsErrorTextWithCode(err));
    }
    throw InstallError(refused);
}

} // namespace

JournalFile::FolderSecurity::FolderSecurity()
{
    static const Sid system = Sid::LocalSystem();
    static const Sid admins = Sid::Administrators();
    list.Add(system, kAllFileRights);
    list.Add(admins, kAllFileRights);
    acl.Make(list);
    sd.SetOwner(admins);
    sd.SetDacl(acl.Get());
    sd.ProtectDacl();
}

WString JournalFile::FolderDistrust(PSECURITY_DESCRIPTOR sd)
{
    PSID owner = nullptr;
    BOOL defaulted = FALSE, present = FALSE;
    PACL dacl = nullptr;
    if (!GetSecurityDescriptorOwner(sd, &owner, &defaulted) || !TrustedOwner(owner))
        return L"its owner is not an administrator";
    if (!GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted) || !present || !dacl)
        return L"anyone may change it";
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        ACE_HEADER* ace = nullptr;
        if (!GetAce(dacl, i, reinterpret_cast<void**>(&ace)))
            return L"its access control cannot be read";
        // Deny entries take nothing away from the administrators; an entry
        // that only passes to what is made inside counts too, since journals
        // are made inside.
        if (ace->AceType == ACCESS_DENIED_ACE_TYPE)
            continue;
        if (ace->AceType != ACCESS_ALLOWED_ACE_TYPE)
            return L"its access control holds entries the installer does not know";
        ACCESS_ALLOWED_ACE* allowed = reinterpret_cast<ACCESS_ALLOWED_ACE*>(ace);
        if ((allowed->Mask & kChangeRights) && !MayChange(&allowed->SidStart))
            return L"others than administrators may change it";
    }
    return WString();
}

WString JournalFile::PathFor(const WString& site)
{
    const WString dir = JournalFolder();
    bool exists = false;
    WString distrust = FolderDistrustAt(dir, exists);
    if (exists && !distrust.empty())
        MoveAside(dir, distrust);
    MakeAdministratorsFolder(dir);
    // Whatever stands there now (made by this run, or by a race) is checked.
    distrust = FolderDistrustAt(dir, exists);
    if (!distrust.empty())
        throw InstallError(L"The folder '" + dir + L"' is not the installer's own (" + distrust + L")");
    return PathJoin(dir, site + L".journal");
}

WString JournalFile::ExistingPathFor(const WString& site)
{
    const WString dir = JournalFolder();
    bool exists = false;
    WString distrust = FolderDistrustAt(dir, exists);
    if (!distrust.empty())
        throw InstallError(L"The folder '" + dir + L"' is not the installer's own (" + distrust + L")");
    return PathJoin(dir, site + L".journal");
}

AString JournalFile::EncodeLine(const WString& record)
{
    AString utf8;
    if (!WideToNarrow(CP_UTF8, record.c_str(), static_cast<int>(record.size()), utf8))
        throw SystemError(L"WideCharToMultiByte()", GetLastError());
    std::uint32_t crc = NoCrtCrc32(utf8.c_str(), utf8.size());
    static const char digits[] = "0123456789ABCDEF";
    AString line;
    for (int shift = 28; shift >= 0; shift -= 4)
        line += digits[(crc >> shift) & 15];
    line += ' ';
    line += utf8;
    line += "\r\n";
    return line;
}

bool JournalFile::DecodeLine(const char* line, std::size_t len, WString& record)
{
    if (len < 9 || line[8] != ' ')
        return false;
    std::uint32_t crc = 0;
    for (int i = 0; i < 8; ++i) {
        int d = HexDigit(line[i]);
        if (d < 0)
            return false;
        crc = crc * 16 + static_cast<std::uint32_t>(d);
    }
    const char* text = line + 9;
    std::size_t size = len - 9;
    if (NoCrtCrc32(text, size) != crc)
        return false;
    record.clear();
    return size == 0 || NarrowToWide(CP_UTF8, text, static_cast<int>(size), record);
}

void JournalFile::Create(const WString& path)
{
    // Written through, and flushed after each record besides: the record
    // must be on the disk before the change it announces is made.
    // Opened as it stands, not emptied, until the handle shows it is no link:
    // emptying a link's target would destroy what it points at.
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        throw SystemError(L"CreateFileW()", GetLastError());
    NoCrtHandle file(h);
    if (!WWLib::OpenedAsNamed(file.get(), path))
        throw InstallError(L"The journal '" + path + L"' is a link");
    if (!SetEndOfFile(file.get()))
        throw SystemError(L"SetEndOfFile()", GetLastError());
    file_.reset(file.release());
    path_ = path;
}

void JournalFile::Append(const WString& record)
{
    WriteAll(file_.get(), EncodeLine(record));
}

void JournalFile::End(bool keepFile)
{
    if (!file_.valid())
        return;
    WriteAll(file_.get(), EncodeLine(WString(L"E|")));
    file_.reset();
    if (!keepFile)
        Remove(path_);
}

void JournalFile::Replace(const WString& path, const WStringList& records)
{
    if (records.empty()) {
        JournalFile ending;
        ending.Create(path);
        ending.End();
        return;
    }
    const WString next = path + L".new";
    {
        JournalFile file;
        file.Create(next);
        for (std::size_t i = 0; i < records.size(); ++i)
            file.Append(records[i]);
    }
    if (!MoveFileExW(next.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DWORD err = GetLastError();
        DeleteFileW(next.c_str());
        throw SystemError(L"MoveFileExW()", err);
    }
}

void JournalFile::Remove(const WString& path) noexcept
{
    if (DeleteFileW(path.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND)
        RemoveDirectoryW(SplitAtLast(path, L'\\').head.c_str()); // stays while it holds another site's
}

JournalFile::State JournalFile::Read(const WString& path, WStringList& records, bool& damaged)
{
    records.clear();
    damaged = false;
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        DWORD err = GetLastError();
        if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND)
            return State::None;
        throw SystemError(L"CreateFileW()", err);
    }
    NoCrtHandle file(h);
    if (!WWLib::OpenedAsNamed(file.get(), path))
        throw InstallError(L"The journal '" + path + L"' is a link");
    AString bytes;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file.get(), chunk, sizeof(chunk), &got, nullptr) && got)
        bytes.append(chunk, got);
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = bytes.find('\n', start);
        bool last = end == AString::npos || end + 1 >= bytes.size();
        std::size_t stop = end == AString::npos ? bytes.size() : end;
        std::size_t len = stop - start;
        if (len && bytes[stop - 1] == '\r')
            --len;
        WString record;
        if (end == AString::npos || !DecodeLine(bytes.c_str() + start, len, record)) {
            damaged = !last;
            break;
        }
        if (record == WString(L"E|"))
            return State::Ended;
        records.push_back(record);
        start = end + 1;
    }
    return State::Unfinished;
}
