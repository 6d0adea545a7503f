#include "JournalFile.h"
#include "ShellFolders.h"
#include "../nocrtlib/NoCrtConvert.h"
#include "../nocrtlib/NoCrtCrc32.h"
#include "../nocrtlib/NoCrtPath.h"
#include "../wwlib/AccessControl.h"
#include "../wwlib/InstallError.h"
#include "../wwlib/Product.h"
#include "../wwlib/SystemError.h"
#include "../wwlib/SystemInfo.h"
#include <aclapi.h>

namespace {

const DWORD kAllFileRights = 0x001F01FF;

// Administrators and the system only, not inherited from above: the folder
// decides what the installer undoes.
void MakeAdministratorsFolder(const WString& dir)
{
    static const Sid system = Sid::LocalSystem();
    static const Sid admins = Sid::Administrators();
    AccessList list;
    list.Add(system, kAllFileRights);
    list.Add(admins, kAllFileRights);
    AclHolder acl;
    acl.Make(list);
    SecurityDescriptor sd;
    sd.SetDacl(acl.Get());
    sd.ProtectDacl();
    SECURITY_ATTRIBUTES sa = {sizeof(sa), sd.Get(), FALSE};
    if (!CreateDirectoryW(dir.c_str(), &sa) && GetLastError() != ERROR_ALREADY_EXISTS)
        ThrowCallFailed(L"CreateDirectoryW()", GetLastError());
}

// A folder someone else made first could hold journals of their making. An
// elevated administrator's objects belong to Administrators; where the system
// makes them the user's instead (Windows XP with that policy, and Wine, which
// reports the user as every file's owner), the user has no unelevated half
// that could have made the folder, and the user is trusted too.
bool OwnedByAdministrators(const WString& dir)
{
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    DWORD r = GetNamedSecurityInfoW(dir.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                                    nullptr, nullptr, &sd);
    if (r != ERROR_SUCCESS)
        return false;
    NoCrtLocalMem hold(sd);
    static const Sid admins = Sid::Administrators();
    static const Sid trusted[] = {admins, Sid::LocalSystem(), Sid::TrustedInstaller(), Sid::ProcessOwner()};
    for (const Sid& sid : trusted)
        if (sid.Equals(owner))
            return true;
    return !admins.Equals(Sid::ProcessOwner().Get()) && Sid::ProcessUser().Equals(owner);
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

WString TrustedPath(const WString& dir, const WString& site)
{
    if (!OwnedByAdministrators(dir))
        throw InstallError(L"The folder '" + dir + L"' was not made by an administrator");
    return PathJoin(dir, site + L".journal");
}

} // namespace

WString JournalFile::PathFor(const WString& site)
{
    WString dir = JournalFolder();
    MakeAdministratorsFolder(dir);
    return TrustedPath(dir, site);
}

WString JournalFile::ExistingPathFor(const WString& site)
{
    WString dir = JournalFolder();
    if (GetFileAttributesW(dir.c_str()) == INVALID_FILE_ATTRIBUTES)
        return PathJoin(dir, site + L".journal");
    return TrustedPath(dir, site);
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
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        throw SystemError(L"CreateFileW()", GetLastError());
    file_.reset(h);
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
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        DWORD err = GetLastError();
        if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND)
            return State::None;
        throw SystemError(L"CreateFileW()", err);
    }
    NoCrtHandle file(h);
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
