#include "JournalFile.h"
#include "ShellFolders.h"
#include "../nocrtlib/NoCrtCompare.h"
#include "../nocrtlib/NoCrtConvert.h"
#include "../nocrtlib/NoCrtCrc32.h"
#include "../nocrtlib/NoCrtPath.h"
#include "StepReport.h"
#include "../nocrtlib/NoCrtFormat.h"
#include "../wwlib/AdministratorsFolder.h"
#include "../wwlib/ErrorText.h"
#include "../wwlib/FileLinks.h"
#include "../wwlib/InstallError.h"
#include "../wwlib/Product.h"
#include "../wwlib/SystemError.h"
#include "../wwlib/SystemInfo.h"

namespace {

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

WString JournalFile::Folder()
{
    WString data = GetCommonAppDataDir();
    if (!IsAbsolutePath(data))
        throw InstallError(L"The all-users application data folder cannot be found");
    return PathJoin(data, Product::kSetupFolder);
}

WString JournalFile::PathFor(const WString& site)
{
    const WString dir = Folder();
    const WString note = WWLib::AdministratorsFolder::Make(dir);
    if (!note.empty())
        StepLine(note);
    return PathJoin(dir, site + L".journal");
}

WString JournalFile::ExistingPathFor(const WString& site)
{
    const WString dir = Folder();
    WWLib::AdministratorsFolder::CheckExisting(dir);
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
