#include "../../steps/InstallSettings.h"
#include "../../steps/DeferredFileOps.h"
#include "../../steps/WriteFilesFromLzmaStream.h"
#include "../../wwlib/ErrorText.h"
#include "../../wwlib/InstallError.h"
#include "../../wwlib/Interruption.h"
#include "../../wwlib/SilentExit.h"
#include "../support/Console.h"
#include "../support/PackageStream.h"
#include "../support/RunMode.h"
#include "../support/Machine.h"
#include "../support/MessageBoxes.h"
#include <doctest/doctest.h>
#include <lzma.h>
#include <tlhelp32.h>
#include <cstdint>
#include <string>
#include <vector>

using Test::W;
using Test::Bytes;
using Test::Pack;
using Test::Stream;
using Lines = std::vector<std::wstring>;

namespace {

std::string ReadAll(const std::wstring& path)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return "(missing)";
    std::string data(GetFileSize(h, nullptr), '\0');
    DWORD read = 0;
    ReadFile(h, &data[0], static_cast<DWORD>(data.size()), &read, nullptr);
    CloseHandle(h);
    return data;
}

bool Exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The text of the InstallError a write threw, or "(none)".
std::wstring ErrorOf(const PackageTargets& targets, int mask, const Bytes& packed)
{
    try {
        WriteFilesFromLzmaStream w(targets, mask, packed.data(), packed.size());
        w.Commit();
    } catch (const InstallError& e) {
        return W(e.Message());
    }
    return L"(none)";
}

int ExitOf(const PackageTargets& targets, const Bytes& packed)
{
    try {
        WriteFilesFromLzmaStream w(targets, WriteFilesFromLzmaStream::AllFiles, packed.data(), packed.size());
        w.Commit();
    } catch (const SilentExit& e) {
        return e.Code();
    }
    return -1;
}

} // namespace

TEST_CASE("the package writer installs the files for this platform")
{
    Test::TempDir dir;
    REQUIRE(CreateDirectoryW((dir.Path() + L"\\TermInfo").c_str(), nullptr));
    PackageTargets targets{dir.Path().c_str(), L"", L"", L""};
    Test::RunMode mode(false);
    Test::ConsoleCapture console;
    Stream s;
    s.File("uninst.exe", "uninstaller", 1)
        .File("tool.exe", "32-bit build", 0, 1)
        .File("tool.exe", "64-bit build", 0, 2)
        .File("only64.dll", "x64", 0, 2)
        .File("TermInfo\\ansi", "terminfo")
        .File("empty.txt", "")
        .File("Z\xc3\xbcrich.txt", "utf-8 name");
    Bytes packed = Pack(s.bytes);
    const std::wstring d = dir.Path();
    {
        WriteFilesFromLzmaStream w(targets, WriteFilesFromLzmaStream::AllFiles, packed.data(), packed.size());
        // A 32-bit process on 64-bit Windows gets the 64-bit selection; any
        // other process (a 64-bit one is not "under WOW64") the 32-bit one.
        const bool wow = Test::UnderWow64();
        CHECK(ReadAll(d + L"\\tool.exe") == (wow ? "64-bit build" : "32-bit build"));
        CHECK(Exists(d + L"\\only64.dll") == wow);
        CHECK(ReadAll(d + L"\\uninst.exe") == "uninstaller");
        CHECK(ReadAll(d + L"\\TermInfo\\ansi") == "terminfo");
        CHECK(ReadAll(d + L"\\empty.txt") == "");
        CHECK(ReadAll(d + L"\\Z\u00fcrich.txt") == "utf-8 name");
        const std::wstring only64 = wow ? L" \"-delFile=" + d + L"\\only64.dll\"" : L"";
        CHECK(w.CreatedCount() == (wow ? 6u : 5u));
        CHECK(W(TheInstallSettings().uninstallParams) ==
              L" \"-delFile=" + d + L"\\uninst.exe\" \"-delFile=" + d + L"\\tool.exe\"" + only64 + L" \"-delFile=" + d +
                  L"\\TermInfo\\ansi\" \"-delFile=" + d + L"\\empty.txt\" \"-delFile=" + d + L"\\Z\u00fcrich.txt\"");
        Lines installed{L"Installing " + d + L"\\uninst.exe", L"Installing " + d + L"\\tool.exe"};
        if (wow)
            installed.push_back(L"Installing " + d + L"\\only64.dll");
        for (const wchar_t* f : {L"\\TermInfo\\ansi", L"\\empty.txt", L"\\Z\u00fcrich.txt"})
            installed.push_back(L"Installing " + d + f);
        CHECK(console.Lines() == installed);
        console.Clear();
    }
    // Not committed: everything goes, last written first.
    Lines removed{L"Rollback: removing previously created " + d + L"\\Z\u00fcrich.txt",
                  L"Rollback: removing previously created " + d + L"\\empty.txt",
                  L"Rollback: removing previously created " + d + L"\\TermInfo\\ansi"};
    if (Test::UnderWow64())
        removed.push_back(L"Rollback: removing previously created " + d + L"\\only64.dll");
    removed.push_back(L"Rollback: removing previously created " + d + L"\\tool.exe");
    removed.push_back(L"Rollback: removing previously created " + d + L"\\uninst.exe");
    CHECK(console.Lines() == removed);
    CHECK_FALSE(Exists(d + L"\\uninst.exe"));
    CHECK(Exists(d + L"\\TermInfo"));
}

TEST_CASE("broken packages stop the installation with their message, leaving nothing behind")
{
    Test::TempDir dir;
    PackageTargets targets{dir.Path().c_str(), L"", L"", L""};
    const std::wstring d = dir.Path();
    Test::RunMode mode(false);
    Test::ConsoleCapture console;
    Stream good;
    good.File("first.dll", "written before the failure");
    // What the writer stops with, the check before an upgrade finds as well,
    // without writing a file.
    auto brokenError = [&](const Bytes& packed) {
        const std::wstring checked = ErrorOf(targets, WriteFilesFromLzmaStream::CheckOnly, packed);
        CHECK_FALSE(Exists(d + L"\\first.dll"));
        const std::wstring written = ErrorOf(targets, WriteFilesFromLzmaStream::AllFiles, packed);
        CHECK(checked == written);
        return written;
    };

    SUBCASE("a header body over 4096 bytes")
    {
        Stream s = good;
        s.Msg(1, std::string(4097, 'n'));
        CHECK(brokenError(Pack(s.bytes)) ==
              L"WriteFilesFromLzmaStream::ProcessOutBytes(): unsupported header message size 4097, maximum: 4096");
    }
    SUBCASE("an unknown header type")
    {
        Stream s = good;
        s.Msg(7, "x").File("second.dll", "y");
        CHECK(brokenError(Pack(s.bytes)) ==
              L"WriteFilesFromLzmaStream::ProcessHeader() - unsupported header message type 7");
    }
    SUBCASE("a missing subdirectory")
    {
        Stream s = good;
        s.File("TermInfo\\ansi", "x");
        // Not the package's fault: the check finds nothing.
        CHECK(ErrorOf(targets, WriteFilesFromLzmaStream::CheckOnly, Pack(s.bytes)) == L"(none)");
        CHECK(ErrorOf(targets, 8, Pack(s.bytes)) ==
              L"Error creating target installation file '" + d +
                  L"\\TermInfo\\ansi' - CreateFile() failed with the following error: " + W(WWLib::WindowsErrorText(3)));
    }
    SUBCASE("compressed data that ends before the announced size")
    {
        Bytes packed = Pack(good.bytes, good.bytes.size() + 100000);
        CHECK(brokenError(packed) ==
              L"WriteFilesFromLzmaStream: compressed data ends before the announced size");
    }
    SUBCASE("compressed data that goes on after the announced size, at a message's end")
    {
        // The announced size ends exactly after the first file: the rest
        // would be left out of an installation that reports success.
        Stream s = good;
        s.File("second.dll", "after the announced end");
        Bytes packed = Pack(s.bytes, good.bytes.size());
        CHECK(brokenError(packed) ==
              L"WriteFilesFromLzmaStream: compressed data continues after the announced size");
        CHECK_FALSE(Exists(d + L"\\second.dll"));
    }
    SUBCASE("a stream that ends inside a message")
    {
        Stream s = good;
        s.bytes.insert(s.bytes.end(), {101, 0, 0, 0, 10, 'a'});
        CHECK(brokenError(Pack(s.bytes)) == L"WriteFilesFromLzmaStream: package stream ends inside a message");
    }
    CHECK_FALSE(Exists(d + L"\\first.dll"));
    bool rolledBack = false;
    for (const std::wstring& line : console.Lines())
        rolledBack = rolledBack || line == L"Rollback: removing previously created " + d + L"\\first.dll";
    CHECK(rolledBack);
}

TEST_CASE("the resource layout is checked before anything is decoded")
{
    PackageTargets targets{L"C:\\nowhere", L"", L"", L""};
    Test::RunMode mode(false);
    Stream s;
    s.File("a", "b");
    Bytes packed = Pack(s.bytes);
    CHECK(ErrorOf(targets, 8, Bytes(packed.begin(), packed.begin() + 12)) ==
          L"WriteFilesFromLzmaStream: insufficient stream length");
    Bytes badProps = packed;
    badProps[0] = 0xFF;
    CHECK(ErrorOf(targets, 8, badProps) == L"LzmaDecodeProperties() failed: incorrect stream properties");
    Bytes noSize = Pack(s.bytes, ~std::uint64_t(0));
    CHECK(ErrorOf(targets, 8, noSize) == L"WriteFilesFromLzmaStream: end-of-stream marker not supported");
    // A file before any name: the name of the file before it would be used.
    Stream nameless;
    nameless.Msg(5, "\x03").Msg(101, "nameless");
    CHECK(ErrorOf(targets, 8, Pack(nameless.bytes)) ==
          L"WriteFilesFromLzmaStream::ProcessData() - file to write has no name");
    Bytes corrupt = packed;
    for (std::size_t i = 14; i < corrupt.size(); ++i)
        corrupt[i] = 0xFF;
    CHECK(ErrorOf(targets, 8, corrupt).rfind(L"LzmaDecode() failed: error ", 0) == 0);
}

TEST_CASE("names that would leave the target directory, or name a device, are refused before anything is made")
{
    Test::TempDir dir(L"inner");
    PackageTargets targets{dir.Path().c_str(), L"", L"", L""};
    Test::RunMode mode(false);
    Test::ConsoleCapture console;
    for (const char* name : {"..\\escaped.txt", "sub\\..\\..\\escaped.txt", "C:\\escaped.txt", "\\escaped.txt",
                             "/escaped.txt", "file.txt:stream", "../escaped.txt", "COM1", "com9.log", "LPT1.txt",
                             "sub\\NUL", "CON.dll", "aux", "prn.x.y", "CONIN$", "conout$.txt", "Sub\\Lpt3\\x"}) {
        CAPTURE(name);
        Stream s;
        s.File(name, "x");
        std::wstring error = ErrorOf(targets, 8, Pack(s.bytes));
        CHECK(error.rfind(L"WriteFilesFromLzmaStream::ProcessHeader() - unsafe file name '", 0) == 0);
    }
    CHECK_FALSE(Exists(dir.Path() + L"\\..\\escaped.txt"));
    CHECK_FALSE(Exists(L"C:\\escaped.txt"));
    CHECK(console.Lines().empty());
}

TEST_CASE("an existing target file")
{
    Test::TempDir dir;
    const std::wstring d = dir.Path();
    PackageTargets targets{d.c_str(), L"", L"", L""};
    Test::WriteTextFile(d + L"\\kept.dll", "old");
    Stream s;
    s.File("new.dll", "new").File("kept.dll", "replaced").File("after.dll", "after");
    Bytes packed = Pack(s.bytes);

    SUBCASE("unattended: refused with 104, and what was written goes")
    {
        Test::RunMode mode(false);
        Test::ConsoleCapture console;
        CHECK(ExitOf(targets, packed) == 104);
        CHECK(console.Lines() == Lines{L"Installing " + d + L"\\new.dll",
                                       L"Target file '" + d + L"\\kept.dll' already exists, aborting",
                                       L"Rollback: removing previously created " + d + L"\\new.dll"});
        CHECK(ReadAll(d + L"\\kept.dll") == "old");
        CHECK_FALSE(Exists(d + L"\\new.dll"));
    }
    SUBCASE("unattended with -force: overwritten, and kept on rollback")
    {
        Test::RunMode mode(false, true);
        Test::ConsoleCapture console;
        {
            WriteFilesFromLzmaStream w(targets, 8, packed.data(), packed.size());
            CHECK(ReadAll(d + L"\\kept.dll") == "replaced");
        }
        CHECK(console.Lines() == Lines{L"Installing " + d + L"\\new.dll",
                                       L"Warning: '" + d + L"\\kept.dll' already exists, will be overwritten",
                                       L"Installing " + d + L"\\kept.dll", L"Installing " + d + L"\\after.dll",
                                       L"Rollback: removing previously created " + d + L"\\after.dll",
                                       L"Rollback: removing previously created " + d + L"\\new.dll"});
        CHECK(ReadAll(d + L"\\kept.dll") == "replaced");
    }
    SUBCASE("a folder where the file goes: said as what it is, also with -force")
    {
        REQUIRE(CreateDirectoryW((d + L"\\after.dll").c_str(), nullptr));
        Test::RunMode mode(false, true);
        Test::ConsoleCapture console;
        CHECK(ErrorOf(targets, 8, packed) ==
              L"Error creating target installation file '" + d + L"\\after.dll' - a directory of that name stands in its "
              L"place");
        for (const std::wstring& line : console.Lines())
            CHECK(line.find(L"after.dll' already exists") == std::wstring::npos);
        CHECK(IsDirectory((d + L"\\after.dll").c_str()));
    }
    SUBCASE("left to the next restart by the installation replaced: taken over without a question")
    {
        Test::ClearPendingRestartOperations();
        REQUIRE(MoveFileExW((d + L"\\kept.dll").c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
        Test::RunMode mode(false);
        Test::ConsoleCapture console;
        {
            WriteFilesFromLzmaStream w(targets, 8, packed.data(), packed.size());
            CHECK(ReadAll(d + L"\\kept.dll") == "replaced");
            // The new file must not go at the restart.
            CHECK(Test::PendingRestartOperations().empty());
        }
        CHECK(console.Lines() == Lines{L"Installing " + d + L"\\new.dll", L"Installing " + d + L"\\kept.dll",
                                       L"Installing " + d + L"\\after.dll",
                                       L"Rollback: removing previously created " + d + L"\\after.dll",
                                       L"Rollback: removing previously created " + d + L"\\new.dll",
                                       L"Rollback: removing taken-over " + d + L"\\kept.dll"});
        CHECK_FALSE(Exists(d + L"\\kept.dll"));
        Test::ClearPendingRestartOperations();
    }
    SUBCASE("a deletion left for the restart where no file stood yet does not take the new file")
    {
        // What the writer knew of the list when it began named no existing
        // file there: the new file is compared once it exists.
        Test::ClearPendingRestartOperations();
        REQUIRE(MoveFileExW((d + L"\\after.dll").c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
        REQUIRE(DeleteFileW((d + L"\\kept.dll").c_str()));
        Test::RunMode mode(false);
        Test::ConsoleCapture console;
        WriteFilesFromLzmaStream w(targets, 8, packed.data(), packed.size());
        w.Commit();
        CHECK(ReadAll(d + L"\\after.dll") == "after");
        CHECK(Test::PendingRestartOperations().empty());
        Test::ClearPendingRestartOperations();
    }
    SUBCASE("another program's rename of it pending for the restart is no deletion: still refused, and kept")
    {
        Test::ClearPendingRestartOperations();
        REQUIRE(MoveFileExW((d + L"\\kept.dll").c_str(), (d + L"\\moved.dll").c_str(), MOVEFILE_DELAY_UNTIL_REBOOT));
        const std::vector<std::wstring> theirs = Test::PendingRestartOperations();
        Test::RunMode mode(false);
        Test::ConsoleCapture console;
        CHECK(ExitOf(targets, packed) == 104);
        CHECK(ReadAll(d + L"\\kept.dll") == "old");
        CHECK(Test::PendingRestartOperations() == theirs);
        Test::ClearPendingRestartOperations();
    }
    SUBCASE("interactive: Yes overwrites, No ends with 104")
    {
        Test::RunMode mode(true);
        Test::ConsoleCapture console;
        {
            Test::MessageBoxAnswerer yes(L"Target File Exists", IDYES);
            WriteFilesFromLzmaStream w(targets, 8, packed.data(), packed.size());
            w.Commit();
            CHECK(yes.Texts().size() == 1);
        }
        CHECK(ReadAll(d + L"\\kept.dll") == "replaced");
        Test::MessageBoxAnswerer no(L"Target File Exists", IDNO);
        CHECK(ExitOf(targets, packed) == 104); // new.dll and after.dll now exist too: the first box ends it
        CHECK(console.Lines().back() == L"Installation canceled by user (file already exists)");
    }
}

TEST_CASE("extracting marked files to chosen paths")
{
    Test::TempDir dir;
    const std::wstring d = dir.Path();
    Test::RunMode mode(false);
    Test::ConsoleCapture console;
    Stream s;
    s.File("readme.txt", "skipped")
        .File("uninst.exe", "the uninstaller", 1)
        .File("lib2.dll", "library two", 2)
        .File("lib4.dll", "library four", 4)
        .File("big.bin", std::string(300000, 'b'));
    s.Msg(99, "beyond the first chunk"); // decoding this would fail

    SUBCASE("mark 1 only: the uninstaller to its path, then decoding stops")
    {
        Bytes packed = Pack(s.bytes);
        PackageTargets targets{d.c_str(), (d + L"\\copy-of-uninst.exe").c_str(), L"", L""};
        {
            WriteFilesFromLzmaStream w(targets, 1, packed.data(), packed.size());
            w.Commit();
        }
        CHECK(ReadAll(d + L"\\copy-of-uninst.exe") == "the uninstaller");
        CHECK_FALSE(Exists(d + L"\\readme.txt"));
        CHECK_FALSE(Exists(d + L"\\lib2.dll"));
        CHECK(TheInstallSettings().uninstallParams.empty());
        CHECK(console.Lines().empty());
    }
    SUBCASE("marks 1, 2 and 4, by name where no path is given")
    {
        Bytes packed = Pack(s.bytes);
        PackageTargets targets{d.c_str(), (d + L"\\u.exe").c_str(), L"", (d + L"\\four.dll").c_str()};
        WriteFilesFromLzmaStream w(targets, 7, packed.data(), packed.size());
        w.Commit();
        CHECK(ReadAll(d + L"\\u.exe") == "the uninstaller");
        CHECK(ReadAll(d + L"\\lib2.dll") == "library two");
        CHECK(ReadAll(d + L"\\four.dll") == "library four");
        CHECK(w.CreatedCount() == 3);
    }
    SUBCASE("all files read the whole stream")
    {
        CHECK(ErrorOf({d.c_str(), L"", L"", L""}, 8, Pack(s.bytes)) ==
              L"WriteFilesFromLzmaStream::ProcessHeader() - unsupported header message type 99");
    }
}

TEST_CASE("the package resource of the program")
{
    // The test program carries the package the build makes for the installer.
    Test::TempDir dir;
    REQUIRE(CreateDirectoryW((dir.Path() + L"\\TermInfo").c_str(), nullptr));
    Test::RunMode mode(false);
    Test::ConsoleCapture console;
    WriteFilesFromLzmaStream w({dir.Path().c_str(), L"", L"", L""}, WriteFilesFromLzmaStream::AllFiles);
    w.Commit();
    // 35 files, one program among them twice: on 64-bit Windows a 32-bit
    // process writes its 64-bit build and the three 64-bit-only files, any
    // other process the 32-bit build and none of them.
    const bool wow = Test::UnderWow64();
    CHECK(w.CreatedCount() == (wow ? 34u : 31u));
    CHECK(Exists(dir.Path() + L"\\uninst.exe"));
    CHECK(Exists(dir.Path() + L"\\TermInfo\\xterm"));
    CHECK(Exists(dir.Path() + L"\\QuendalAuth64.dll") == wow);
    // Each program of the package as Windows needs it: the log tool written
    // on 64-bit Windows is the 64-bit one, elsewhere this build's.
    CHECK(Test::MachineOf(dir.Path() + L"\\QuendalLog.exe") == (wow ? IMAGE_FILE_MACHINE_AMD64 : Test::kOwnMachine));
    CHECK(Test::MachineOf(dir.Path() + L"\\QuendalCore.dll") == Test::kOwnMachine);
    CHECK(ReadAll(dir.Path() + L"\\License.rtf").rfind("{\\rtf1", 0) == 0);
}

namespace {

// Bytes that do not compress, so that decoding them takes real work.
std::string Noise(std::size_t n, std::uint32_t seed)
{
    std::string s(n, '\0');
    for (char& c : s) {
        seed = seed * 1664525u + 1013904223u;
        c = static_cast<char>(seed >> 24);
    }
    return s;
}

// The threads of this process: the decoder's thread is gone once the writer is.
int ThreadsOfThisProcess()
{
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    REQUIRE(snap != INVALID_HANDLE_VALUE);
    THREADENTRY32 t = {};
    t.dwSize = sizeof(t);
    int n = 0;
    for (BOOL more = Thread32First(snap, &t); more; more = Thread32Next(snap, &t))
        n += t.th32OwnerProcessID == GetCurrentProcessId();
    CloseHandle(snap);
    return n;
}

// The files directly in a folder.
int FilesIn(const std::wstring& dir)
{
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &fd);
    int n = 0;
    if (h != INVALID_HANDLE_VALUE) {
        do
            n += !(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
        while (FindNextFileW(h, &fd));
        FindClose(h);
    }
    return n;
}

// Every file the run said it installed, it also said it removed, but the
// one it did not make (it could not, or it was to overwrite it).
void CheckEachInstalledFileRemoved(const Lines& lines, const std::wstring& notMade)
{
    const std::wstring installing = L"Installing ", removing = L"Rollback: removing previously created ";
    int installed = 0;
    for (const std::wstring& line : lines) {
        if (line.rfind(installing, 0) != 0 || line == installing + notMade)
            continue;
        ++installed;
        bool removed = false;
        for (const std::wstring& other : lines)
            removed = removed || other == removing + line.substr(installing.size());
        const std::string what = Test::Narrow(line);
        CAPTURE(what);
        CHECK(removed);
    }
    CHECK(installed > 0);
}

} // namespace

TEST_CASE("the writer and the decoder ahead of it: a failure on either side stops both, and what was written goes")
{
    Test::TempDir dir;
    const std::wstring d = dir.Path();
    PackageTargets targets{d.c_str(), L"", L"", L""};
    Test::RunMode mode(false, true);
    Test::ConsoleCapture console;
    const int threadsBefore = ThreadsOfThisProcess();
    std::wstring notMade;

    SUBCASE("a decoding error while earlier files are still being written")
    {
        Stream s;
        for (int i = 0; i < 24; ++i)
            s.File("file" + std::to_string(i) + ".bin", Noise(64 * 1024, static_cast<std::uint32_t>(i)));
        s.File("last.bin", Noise(1024 * 1024, 99));
        Bytes packed = Pack(s.bytes);
        // Inside the last file's compressed bytes.
        for (std::size_t i = packed.size() - 400000; i < packed.size() - 300000; ++i)
            packed[i] ^= 0x5A;
        CHECK(ErrorOf(targets, 8, packed).rfind(L"LzmaDecode() failed: error ", 0) == 0);
    }
    SUBCASE("a file that cannot be made while the decoder is far ahead")
    {
        Stream s;
        s.File("first.bin", Noise(200000, 1)).File("Missing\\second.bin", "x").File("big.bin", std::string(8 << 20, 'z'));
        notMade = d + L"\\Missing\\second.bin";
        CHECK(ErrorOf(targets, 8, Pack(s.bytes)) ==
              L"Error creating target installation file '" + d +
                  L"\\Missing\\second.bin' - CreateFile() failed with the following error: " +
                  W(WWLib::WindowsErrorText(3)));
    }
    SUBCASE("a file held open by another program: 300, while the decoder is far ahead")
    {
        Test::WriteTextFile(d + L"\\held.dll", "old");
        HANDLE held = CreateFileW((d + L"\\held.dll").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  0, nullptr);
        REQUIRE(held != INVALID_HANDLE_VALUE);
        notMade = d + L"\\held.dll";
        Stream s;
        s.File("first.bin", Noise(200000, 2)).File("held.dll", "new").File("big.bin", std::string(8 << 20, 'z'));
        CHECK(ExitOf(targets, Pack(s.bytes)) == 300);
        CloseHandle(held);
        CHECK(ReadAll(d + L"\\held.dll") == "old");
        bool said = false;
        for (const std::wstring& line : console.Lines())
            said = said || line == L"Target file '" + d + L"\\held.dll' is in use by a program that is still running";
        CHECK(said);
        DeleteFileW((d + L"\\held.dll").c_str());
    }
    CheckEachInstalledFileRemoved(console.Lines(), notMade);
    CHECK(FilesIn(d) == 0);
    CHECK(ThreadsOfThisProcess() == threadsBefore);
}

TEST_CASE("one large file, and many tiny ones, arrive whole")
{
    Test::TempDir dir;
    const std::wstring d = dir.Path();
    PackageTargets targets{d.c_str(), L"", L"", L""};
    Test::RunMode mode(false);
    Test::ConsoleCapture console;

    SUBCASE("one file of many chunks")
    {
        const std::string data = Noise(2 * 1024 * 1024 + 12345, 7);
        Stream s;
        s.File("large.bin", data);
        Bytes packed = Pack(s.bytes);
        WriteFilesFromLzmaStream w(targets, 8, packed.data(), packed.size());
        w.Commit();
        CHECK(w.WrittenBytes() == data.size());
        CHECK(ReadAll(d + L"\\large.bin") == data);
    }
    SUBCASE("hundreds of files of a few bytes, with the chunks' ends inside their messages")
    {
        // Fillers of sizes that put each chunk's end at another place among
        // the small files' messages.
        Stream s;
        std::vector<std::string> names;
        for (int group = 0; group < 16; ++group) {
            s.File("filler" + std::to_string(group), std::string(131072 - 150 - 37 * group, '\0'));
            for (int i = 0; i < 25; ++i) {
                const int n = group * 25 + i;
                names.push_back("t" + std::to_string(n));
                s.File(names.back(), std::string(static_cast<std::size_t>(n % 7), static_cast<char>('a' + n % 26)));
            }
        }
        Bytes packed = Pack(s.bytes);
        WriteFilesFromLzmaStream w(targets, 8, packed.data(), packed.size());
        w.Commit();
        CHECK(w.CreatedCount() == 16 + names.size());
        int wrong = 0;
        for (std::size_t n = 0; n < names.size(); ++n)
            wrong += ReadAll(d + L"\\t" + std::to_wstring(n)) !=
                     std::string(n % 7, static_cast<char>('a' + n % 26));
        CHECK(wrong == 0);
    }
}

namespace {

// The console as the writer sees it, which notes an interruption (as Ctrl+C
// would) once the second file has been announced.
struct InterruptingConsole : std::wstreambuf {
    std::wstring line;
    Lines lines;
    int_type overflow(int_type c) override
    {
        if (c == L'\n') {
            lines.push_back(line);
            if (line.rfind(L"Installing ", 0) == 0 && ++installing == 2)
                WWLib::NoteInterruption();
            line.clear();
        } else if (c != traits_type::eof()) {
            line += static_cast<wchar_t>(c);
        }
        return traits_type::not_eof(c);
    }
    int installing = 0;
};

} // namespace

// Run in a process of its own: an interruption, once noted, stays.
TEST_CASE("the writer interrupted between two files while the decoder runs ahead")
{
    Test::TempDir dir;
    const std::wstring d = dir.Path();
    Test::RunMode mode(false);
    const int threadsBefore = ThreadsOfThisProcess();
    Stream s;
    s.File("one.bin", Noise(300000, 3)).File("two.bin", Noise(300000, 4)).File("three.bin", "3");
    s.File("big.bin", std::string(8 << 20, 'z'));
    Bytes packed = Pack(s.bytes);
    InterruptingConsole console;
    std::wstreambuf* old = std::wcout.rdbuf(&console);
    int code = -1;
    try {
        WriteFilesFromLzmaStream w({d.c_str(), L"", L"", L""}, 8, packed.data(), packed.size());
        w.Commit();
    } catch (const SilentExit& e) {
        code = e.Code();
    }
    std::wcout.rdbuf(old);
    CHECK(code == WWLib::kExitInterrupted);
    CHECK(console.lines == Lines{L"Installing " + d + L"\\one.bin", L"Installing " + d + L"\\two.bin",
                                 L"Installation interrupted, aborting",
                                 L"Rollback: removing previously created " + d + L"\\two.bin",
                                 L"Rollback: removing previously created " + d + L"\\one.bin"});
    CHECK(FilesIn(d) == 0);
    CHECK(ThreadsOfThisProcess() == threadsBefore);
}
