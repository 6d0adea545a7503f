#include "../../steps/DeferredFileOps.h"
#include "../../steps/InstallJournal.h"
#include "../../steps/InstallSettings.h"
#include "../../steps/JournalFile.h"
#include "../../steps/KeptInstallation.h"
#include "../../steps/MakeInstallDir.h"
#include "../../wwlib/Product.h"
#include "../../steps/undo/UndoFile.h"
#include "../../steps/undo/UndoRegistry.h"
#include "../../steps/undo/UndoSecurity.h"
#include "../support/Console.h"
#include "../support/Machine.h"
#include "../support/RunMode.h"
#include <doctest/doctest.h>
#include "../../wwlib/AdministratorsFolder.h"
#include "../../wwlib/FileLinks.h"
#include <sddl.h>
#include <shlobj.h>
#include <algorithm>
#include <functional>
#include <vector>

using Lines = std::vector<std::wstring>;

namespace {

const wchar_t kSite[] = L"Quendal-JournalTest";
const std::wstring kSiteKey = std::wstring(L"SOFTWARE\\Korvane\\") + kSite;

std::wstring JournalFolderPath()
{
    wchar_t data[MAX_PATH] = {};
    REQUIRE(SHGetSpecialFolderPathW(nullptr, data, CSIDL_COMMON_APPDATA, FALSE));
    return std::wstring(data) + L"\\Korvane Quendal Setup";
}

// Where the site's journal is; the folder is not made.
std::wstring JournalPath()
{
    return JournalFolderPath() + L"\\" + kSite + L".journal";
}

// The journal as the next run reads it, one string an entry; empty when
// there is none or it ended.
std::vector<std::wstring> Stored()
{
    WWLib::WStringList records;
    bool damaged = false;
    std::vector<std::wstring> entries;
    if (JournalFile::Read(JournalPathOf(kSite), records, damaged) == JournalFile::State::Unfinished)
        for (std::size_t i = 0; i < records.size(); ++i)
            entries.push_back(Test::W(records[i]));
    return entries;
}

void WriteStored(const std::vector<std::wstring>& entries)
{
    WWLib::WStringList records;
    for (const std::wstring& e : entries)
        records.push_back(e.c_str());
    JournalFile::Replace(JournalPathOf(kSite), records);
}

// What earlier versions kept in the site's key.
void WriteLegacy(const std::vector<std::wstring>& entries)
{
    std::wstring data;
    for (const std::wstring& e : entries)
        data += e + L'\0';
    data += L'\0';
    REQUIRE(RegSetKeyValueW(HKEY_LOCAL_MACHINE, kSiteKey.c_str(), L"InstallJournal", REG_MULTI_SZ, data.c_str(),
                            static_cast<DWORD>(data.size() * sizeof(wchar_t))) == ERROR_SUCCESS);
}

void Clean()
{
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kSiteKey.c_str());
    DeleteFileW(JournalPath().c_str());
    // What an earlier case's recovery could not undo waits, in the process,
    // for the next journal it opens: a recovery with no journal forgets it.
    Test::ConsoleCapture quiet;
    RecoverUnfinishedRun(kSite);
}

// A run that stops where it stands: its steps are left in place (as a killed
// run leaves them), and so is the journal.
void UnfinishedRun(const std::wstring& root)
{
    Test::RunMode leftInPlace(false, false, true);
    InstallJournal journal(kSite);
    MakeInstallDir dir((root + L"\\site").c_str(), nullptr, 0);
    InstallJournal::Record(UndoKind::File, (root + L"\\site\\a.txt").c_str());
    Test::WriteTextFile(root + L"\\site\\a.txt", "a");
    InstallJournal::Record(UndoKind::File, (root + L"\\site\\b.txt").c_str());
    Test::WriteTextFile(root + L"\\site\\b.txt", "b");
    // Recorded, and then killed before the change was made.
    InstallJournal::Record(UndoKind::File, (root + L"\\site\\never.txt").c_str());
}

} // namespace

TEST_CASE("the journal: each undo on the disk before its change, carried out last first by the next run")
{
    Clean();
    Test::TempDir root;
    Test::ConsoleCapture console;
    UnfinishedRun(root.Path());
    const std::wstring site = root.Path() + L"\\site";
    CHECK(Stored() == Lines{L"D|" + site, L"F|" + site + L"\\a.txt", L"F|" + site + L"\\b.txt",
                            L"F|" + site + L"\\never.txt"});
    CHECK(IsDirectory(site.c_str()));
    // The journal does not need the site's key any more.
    CHECK_FALSE(Test::KeyExists(HKEY_LOCAL_MACHINE, kSiteKey));

    Test::ConsoleCapture recovery;
    Test::RunMode mode(false);
    TheInstallSettings().installDir = site.c_str();
    CHECK(RecoverUnfinishedRun(kSite));
    CHECK(recovery.Lines() == Lines{L"An earlier installation of Quendal-JournalTest did not finish; undoing what it "
                                    L"changed",
                                    L"Rollback: removing previously created " + site + L"\\b.txt",
                                    L"Rollback: removing previously created " + site + L"\\a.txt",
                                    L"Rollback: removing previously created " + site});
    CHECK_FALSE(PathExists(site.c_str()));
    CHECK(GetFileAttributesW(JournalPath().c_str()) == INVALID_FILE_ATTRIBUTES);
    // Once only.
    CHECK_FALSE(RecoverUnfinishedRun(kSite));
    CHECK(recovery.Lines().size() == 4);
}

TEST_CASE("the journal: ended at the commit and after the steps' own rollback, kept with -noRollback")
{
    Clean();
    Test::TempDir root;
    Test::ConsoleCapture console;
    Test::RunMode mode(false);
    {
        InstallJournal journal(kSite);
        MakeInstallDir dir((root.Path() + L"\\rolled").c_str(), nullptr, 0);
        CHECK(Stored().size() == 1);
    }
    CHECK_FALSE(PathExists((root.Path() + L"\\rolled").c_str()));
    CHECK(GetFileAttributesW(JournalPath().c_str()) == INVALID_FILE_ATTRIBUTES);

    {
        InstallJournal journal(kSite);
        MakeInstallDir dir((root.Path() + L"\\kept").c_str(), nullptr, 0);
        CHECK(Stored() == Lines{L"D|" + root.Path() + L"\\kept"});
        // Ended at the commit itself, before the steps are committed: a run
        // killed after this point is a completed one.
        journal.Commit();
        CHECK(Stored().empty());
        dir.Commit();
    }
    CHECK(IsDirectory((root.Path() + L"\\kept").c_str()));
    // The ended journal stays as the completed run's record: the next run
    // drops it while the site's entry is there...
    const std::wstring entry = std::wstring(kUninstallKey) + L"\\" + kSite;
    {
        Test::ScopedRegKey registered(HKEY_LOCAL_MACHINE, entry);
        registered.SetString(L"Version", L"5.18");
        Test::ConsoleCapture recovery;
        TheInstallSettings().installDir = root.Path().c_str();
        CHECK_FALSE(RecoverUnfinishedRun(kSite));
        CHECK(recovery.Lines().empty());
        CHECK(GetFileAttributesW(JournalPath().c_str()) == INVALID_FILE_ATTRIBUTES);
    }
    // ... and undoes the run when the entry was lost (its registry changes
    // never reached the disk): only the journal knows its files then.
    {
        InstallJournal journal(kSite);
        MakeInstallDir dir((root.Path() + L"\\lost").c_str(), nullptr, 0);
        journal.Commit();
        dir.Commit();
    }
    {
        Test::ConsoleCapture recovery;
        TheInstallSettings().installDir = root.Path().c_str();
        CHECK(RecoverUnfinishedRun(kSite));
        CHECK(recovery.Lines() == Lines{L"The earlier installation of Quendal-JournalTest is not registered any more; "
                                        L"undoing what it changed",
                                        L"Rollback: removing previously created " + root.Path() + L"\\lost"});
        CHECK(GetFileAttributesW(JournalPath().c_str()) == INVALID_FILE_ATTRIBUTES);
    }

    {
        Test::RunMode leftInPlace(false, false, true);
        InstallJournal journal(kSite);
        MakeInstallDir dir((root.Path() + L"\\left").c_str(), nullptr, 0);
    }
    CHECK(Stored() == Lines{L"D|" + root.Path() + L"\\left"});
    Clean();

    // Without an open journal a step records nothing.
    { MakeInstallDir dir((root.Path() + L"\\alone").c_str(), nullptr, 0); }
    CHECK(GetFileAttributesW(JournalPath().c_str()) == INVALID_FILE_ATTRIBUTES);
}

TEST_CASE("the journal file: checksummed lines, a torn last record, damage, the end record")
{
    Clean();
    const std::wstring path = JournalPath();
    WriteStored({L"D|C:\\one", L"F|C:\\one\\\u00e9t\u00e9.txt"});
    std::string bytes = Test::ReadFileBytes(path);
    CHECK(bytes == std::string(JournalFile::EncodeLine(L"D|C:\\one").c_str()) +
                       JournalFile::EncodeLine(L"F|C:\\one\\\u00e9t\u00e9.txt").c_str());
    CHECK(bytes.substr(8, 11) == " D|C:\\one\r\n");

    WWLib::WStringList records;
    bool damaged = true;
    // A power cut in the middle of the last record: the others stand.
    Test::WriteTextFile(path, bytes.substr(0, bytes.size() - 5));
    CHECK(JournalFile::Read(path.c_str(), records, damaged) == JournalFile::State::Unfinished);
    CHECK(records.size() == 1);
    CHECK_FALSE(damaged);

    // A changed byte in the first record: nothing after it is trusted, and
    // the damage is said.
    std::string changed = bytes;
    changed[12] = 'X';
    Test::WriteTextFile(path, changed);
    CHECK(JournalFile::Read(path.c_str(), records, damaged) == JournalFile::State::Unfinished);
    CHECK(records.size() == 0);
    CHECK(damaged);

    // Ended, the installation registered: nothing to undo.
    Test::WriteTextFile(path, bytes + JournalFile::EncodeLine(L"E|").c_str());
    CHECK(JournalFile::Read(path.c_str(), records, damaged) == JournalFile::State::Ended);
    CHECK(records.size() == 2);
    Test::ScopedRegKey registered(HKEY_LOCAL_MACHINE, std::wstring(kUninstallKey) + L"\\" + kSite);
    registered.SetString(L"Version", L"5.18");
    Test::ConsoleCapture console;
    Test::RunMode mode(false);
    CHECK_FALSE(RecoverUnfinishedRun(kSite));
    CHECK(console.Lines().empty());
    CHECK(GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES);
    CHECK(JournalFile::Read(path.c_str(), records, damaged) == JournalFile::State::None);
}

TEST_CASE("the journal: entries it does not know, or that are damaged, are passed over")
{
    Clean();
    Test::TempDir root;
    const std::wstring file = root.Path() + L"\\left.txt";
    Test::WriteTextFile(file, "x");
    WriteStored({L"F|" + file, L"Z|" + root.Path(), L"F", L"", L"A|" + root.Path() + L"|not hex"});
    Test::ConsoleCapture console;
    Test::RunMode mode(false);
    TheInstallSettings().installDir = root.Path().c_str();
    CHECK(RecoverUnfinishedRun(kSite));
    CHECK(console.Lines() == Lines{L"An earlier installation of Quendal-JournalTest did not finish; undoing what it "
                                   L"changed",
                                   L"Rollback: restoring the previous access control of " + root.Path(),
                                   L"Restoring access control failed: the stored access control list is damaged",
                                   L"Rollback: removing previously created " + file});
    CHECK_FALSE(PathExists(file.c_str()));
    CHECK(IsDirectory(root.Path().c_str()));
    CHECK(Stored().empty());
}

TEST_CASE("the journal: one that an earlier version kept in the site's key is carried out and removed")
{
    Clean();
    Test::TempDir root;
    const std::wstring file = root.Path() + L"\\old.txt";
    Test::WriteTextFile(file, "x");
    WriteLegacy({L"K|Quendal-JournalTest", L"F|" + file});
    Test::ConsoleCapture console;
    Test::RunMode mode(false);
    TheInstallSettings().installDir = root.Path().c_str();
    CHECK(RecoverUnfinishedRun(kSite));
    CHECK(console.Lines() == Lines{L"An earlier installation of Quendal-JournalTest did not finish; undoing what it "
                                   L"changed",
                                   L"Rollback: removing previously created " + file});
    CHECK_FALSE(PathExists(file.c_str()));
    // The key was made for that journal: it goes with it.
    CHECK_FALSE(Test::KeyExists(HKEY_LOCAL_MACHINE, kSiteKey));
    CHECK_FALSE(RecoverUnfinishedRun(kSite));
}

TEST_CASE("the journal: what a recovery cannot undo stays recorded, through the next run, until it is undone")
{
    Clean();
    Test::TempDir root, other;
    const std::wstring elsewhere = other.Path() + L"\\Quendal.exe";
    Test::WriteTextFile(elsewhere, "x");
    // A folder of the site that someone replaced with a link to another.
    const std::wstring target = other.Path() + L"\\target", link = root.Path() + L"\\linked";
    REQUIRE(CreateDirectoryW(target.c_str(), nullptr));
    Test::WriteTextFile(target + L"\\keep.txt", "keep");
    Test::MakeLink(target, link);
    WriteStored({L"D|" + link, L"F|" + link + L"\\keep.txt", L"F|" + elsewhere});

    Test::RunMode mode(false);
    TheInstallSettings().installDir = root.Path().c_str();
    {
        Test::ConsoleCapture console;
        CHECK(RecoverUnfinishedRun(kSite));
        const Lines lines = console.Lines();
        REQUIRE(lines.size() >= 5);
        CHECK(lines[1] == L"Skipped, outside the site: F|" + elsewhere);
        CHECK(lines[2] == L"Rollback: removing previously created " + link + L"\\keep.txt");
        CHECK(lines[3] == L"Left " + link + L"\\keep.txt: it is reached through a link");
        CHECK(lines.back() == L"3 change(s) of the earlier installation of Quendal-JournalTest were not undone; they "
                              L"stay recorded for the next run");
    }
    CHECK(Test::ReadFileBytes(target + L"\\keep.txt") == "keep");
    CHECK(PathExists(elsewhere.c_str()));
    CHECK(Stored() == Lines{L"D|" + link, L"F|" + link + L"\\keep.txt", L"F|" + elsewhere});

    // This run's own journal begins with them; its rollback keeps them...
    {
        Test::ConsoleCapture console;
        InstallJournal journal(kSite);
        MakeInstallDir dir((root.Path() + L"\\new").c_str(), nullptr, 0);
        CHECK(Stored().size() == 4);
    }
    CHECK(Stored() == Lines{L"D|" + link, L"F|" + link + L"\\keep.txt", L"F|" + elsewhere});
    // ... and its completion keeps what lies outside it: the rest it replaced.
    {
        Test::ConsoleCapture console;
        InstallJournal journal(kSite);
        journal.Commit();
    }
    CHECK(Stored() == Lines{L"F|" + elsewhere});

    // A later run for the other folder undoes it, and the journal goes.
    TheInstallSettings().installDir = other.Path().c_str();
    {
        Test::ConsoleCapture console;
        CHECK(RecoverUnfinishedRun(kSite));
    }
    CHECK_FALSE(PathExists(elsewhere.c_str()));
    CHECK(GetFileAttributesW(JournalPath().c_str()) == INVALID_FILE_ATTRIBUTES);
    Test::RemoveLink(link);
    CHECK(Test::ReadFileBytes(target + L"\\keep.txt") == "keep");
}

TEST_CASE("the journal: the server's folder loses only the unchanged files its command made")
{
    Clean();
    Test::TempDir root;
    const std::wstring config = root.Path() + L"\\Config";
    REQUIRE(CreateDirectoryW(config.c_str(), nullptr));
    const std::wstring made = config + L"\\Quendal-Settings.qst", changed = config + L"\\Quendal.log",
                       added = config + L"\\hostkey";
    Test::WriteTextFile(made, "settings");
    Test::WriteTextFile(changed, "log");
    WriteStored({L"T|" + config, L"W|" + made + L"|" + Test::W(UndoFile::Stamp(made.c_str())),
                 L"W|" + changed + L"|" + Test::W(UndoFile::Stamp(changed.c_str()))});
    // Since then, the administrator's own.
    Test::WriteTextFile(changed, "log and more");
    Test::WriteTextFile(added, "key");

    Test::ConsoleCapture console;
    Test::RunMode mode(false);
    TheInstallSettings().installDir = root.Path().c_str();
    CHECK(RecoverUnfinishedRun(kSite));
    CHECK(console.Lines() ==
          Lines{L"An earlier installation of Quendal-JournalTest did not finish; undoing what it changed",
                L"Kept " + changed + L": it changed since the earlier installation wrote it",
                L"Rollback: removing previously created " + made,
                L"Kept " + config + L": it holds files that the earlier installation did not write"});
    CHECK_FALSE(PathExists(made.c_str()));
    CHECK(Test::ReadFileBytes(changed) == "log and more");
    CHECK(Test::ReadFileBytes(added) == "key");
    CHECK(Stored().empty());

    // Once they are gone too, so is the folder.
    DeleteFileW(changed.c_str());
    DeleteFileW(added.c_str());
    WriteStored({L"T|" + config});
    CHECK(RecoverUnfinishedRun(kSite));
    CHECK_FALSE(PathExists(config.c_str()));
}

TEST_CASE("the journal: actions outside the site and the directory of this run are said and left")
{
    Clean();
    Test::TempDir victim, site;
    const std::wstring bait = victim.Path() + L"\\keep.txt", marker = victim.Path() + L"\\marker.exe";
    Test::WriteTextFile(bait, "keep");
    REQUIRE(CopyFileW((Test::OwnDirectory() + L"\\test_steps.exe").c_str(), marker.c_str(), FALSE));
    REQUIRE(RegSetKeyValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Victim", L"Keep", REG_SZ, L"1", 4) == ERROR_SUCCESS);
    const std::vector<std::wstring> outside = {
        L"F|" + bait,
        L"P|" + bait,
        L"T|" + victim.Path(),
        L"D|" + victim.Path(),
        L"A|" + victim.Path() + L"|00",
        L"L|" + bait,
        L"C|" + marker,
        L"S|Quendal-JournalTest|" + marker,
        L"S|Spooler|" + site.Path() + L"\\Quendal.exe",
        L"U|SOFTWARE\\Victim",
        L"R|SOFTWARE\\Victim",
        L"K|Quendal-Other",
    };
    WriteStored(outside);
    Test::ConsoleCapture console;
    Test::RunMode mode(false);
    TheInstallSettings().installDir = site.Path().c_str();
    CHECK(RecoverUnfinishedRun(kSite));
    Lines expected{L"An earlier installation of Quendal-JournalTest did not finish; undoing what it changed"};
    for (auto it = outside.rbegin(); it != outside.rend(); ++it) {
        std::wstring entry = *it;
        std::size_t bar = entry.find(L'|', 2);
        expected.push_back(L"Skipped, outside the site: " + entry.substr(0, bar));
    }
    expected.push_back(L"12 change(s) of the earlier installation of Quendal-JournalTest were not undone; they stay "
                       L"recorded for the next run");
    std::wstring got;
    for (const std::wstring& line : console.Lines())
        got += line + L"\n";
    const std::string lines = Test::Narrow(got);
    CAPTURE(lines);
    CHECK(console.Lines() == expected);
    CHECK(PathExists(bait.c_str()));
    CHECK(PathExists(marker.c_str()));
    CHECK(Test::KeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Victim"));
    // Left for a run whose site they are, or the uninstaller.
    CHECK(Stored() == outside);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Victim");
    Clean();
}

TEST_CASE("security descriptors as the journal stores them")
{
    PSECURITY_DESCRIPTOR sd = nullptr;
    ULONG size = 0;
    REQUIRE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", SDDL_REVISION_1,
                                                                 &sd, &size));
    const WString text = UndoSecurity::Encode(sd, size);
    CHECK(text.size() == size * 2);
    NoCrtDataVect<std::uint8_t> back;
    REQUIRE(UndoSecurity::Decode(text, back));
    REQUIRE(back.size() == size);
    CHECK(memcmp(back.data(), sd, size) == 0);
    LocalFree(sd);

    CHECK_FALSE(UndoSecurity::Decode(L"", back));
    CHECK_FALSE(UndoSecurity::Decode(text.substr(0, text.size() - 1), back)); // odd
    CHECK_FALSE(UndoSecurity::Decode(text.substr(0, text.size() - 2), back)); // one byte short
    CHECK_FALSE(UndoSecurity::Decode(L"0G", back));
    CHECK_FALSE(UndoSecurity::Decode(L"0011223344", back)); // hex, but no descriptor
    // Offsets that point past the bytes, which the system's checks would follow.
    CHECK_FALSE(UndoSecurity::Decode(L"010004800000000000000000000000001400000002000800", back)); // a DACL cut short
    CHECK_FALSE(UndoSecurity::Decode(L"0100048000000000000000000000000014000000020000010000000000", back)); // a DACL too long
    CHECK_FALSE(UndoSecurity::Decode(L"01000480FF000000000000000000000000000000", back)); // the owner beyond the end
}

TEST_CASE("the server's folder, rolled back by its own run, is emptied without entering a link")
{
    Test::TempDir root, victim;
    Test::WriteTextFile(victim.Path() + L"\\data.db", "someone else's");
    const std::wstring config = root.Path() + L"\\Config";
    REQUIRE(CreateDirectoryW(config.c_str(), nullptr));
    Test::WriteTextFile(config + L"\\Quendal-Settings.qst", "settings");
    Test::MakeLink(victim.Path(), config + L"\\linked");
    Test::ConsoleCapture console;
    Test::RunMode mode(false);
    TheInstallSettings().installDir = root.Path().c_str();
    UndoFile::RemoveServerData(config.c_str());
    CHECK(Test::ReadFileBytes(victim.Path() + L"\\data.db") == "someone else's");
    CHECK_FALSE(PathExists((config + L"\\Quendal-Settings.qst").c_str()));
    if (GetFileAttributesW((config + L"\\linked").c_str()) != INVALID_FILE_ATTRIBUTES)
        Test::RemoveLink(config + L"\\linked"); // Wine cannot remove it itself
    Test::ClearPendingRestartOperations();
}

TEST_CASE("the journal: an older uninstall entry that a killed run had replaced comes back")
{
    Clean();
    const std::wstring entry = std::wstring(kUninstallKey) + L"\\" + kSite;
    Test::ScopedRegKey older(HKEY_LOCAL_MACHINE, entry);
    older.SetString(L"DisplayName", L"an older installation");
    older.SetDword(L"NoModify", 1);
    const WString saved = UndoRegistry::SavedEntry(entry.c_str());
    // Killed after the old entry went and before the new one was whole.
    WriteStored({L"U|" + entry + L"|" + Test::W(saved)});
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, entry.c_str());
    Test::TempDir root;
    Test::ConsoleCapture console;
    Test::RunMode mode(false);
    TheInstallSettings().installDir = root.Path().c_str();
    CHECK(RecoverUnfinishedRun(kSite));
    CHECK(Test::RegString(HKEY_LOCAL_MACHINE, entry, L"DisplayName") == L"an older installation");
    CHECK(Stored().empty());
}

TEST_CASE("the journal: what the previous installation's uninstaller left when the run was killed goes")
{
    Clean();
    Test::TempDir root, other;
    const std::wstring dir = root.Path(), outside = other.Path() + L"\\keep.txt";
    REQUIRE(CreateDirectoryW((dir + L"\\TermInfo").c_str(), nullptr));
    Test::WriteTextFile(dir + L"\\TermInfo\\dumb", "old");
    Test::WriteTextFile(dir + L"\\Quendal.exe", "old");
    Test::WriteTextFile(outside, "keep");
    // The uninstaller had removed its entry and some of its files.
    const std::wstring params = L" -feedback=yes \"-workDir=" + dir + L"\" \"-delFile=" + dir + L"\\uninst.exe\" \"-delFile=" +
                                dir + L"\\Quendal.exe\" \"-delFile=" + dir + L"\\TermInfo\\dumb\" \"-delFile=" + outside +
                                L"\" \"-delDir=" + dir + L"\" \"-delDir=" + dir + L"\\TermInfo\"";
    WriteStored({L"O|" + dir + L"|" + params});
    // Its entry is still there (the uninstaller had not reached it), and
    // another site's that lists the same folder is not its.
    const std::wstring entry = std::wstring(kUninstallKey) + L"\\" + kSite, otherEntry = entry + L"-Other";
    Test::ScopedRegKey registered(HKEY_LOCAL_MACHINE, entry), unrelated(HKEY_LOCAL_MACHINE, otherEntry);
    registered.SetString(L"UninstallParam", params);
    unrelated.SetString(L"UninstallParam", params);
    Test::ConsoleCapture console;
    Test::RunMode mode(false);
    TheInstallSettings().installDir = dir.c_str();
    CHECK(RecoverUnfinishedRun(kSite));
    CHECK_FALSE(Test::KeyExists(HKEY_LOCAL_MACHINE, entry));
    CHECK(Test::KeyExists(HKEY_LOCAL_MACHINE, otherEntry));
    CHECK(console.Lines() == Lines{L"An earlier installation of Quendal-JournalTest did not finish; undoing what it "
                                   L"changed",
                                   L"Rollback: removing the previous installation's uninstall entry",
                                   L"Rollback: removing the previous installation's " + dir + L"\\Quendal.exe",
                                   L"Rollback: removing the previous installation's " + dir + L"\\TermInfo\\dumb"});
    CHECK_FALSE(PathExists((dir + L"\\TermInfo").c_str()));
    CHECK(IsDirectory(dir.c_str())); // the run's own folder, made by the test
    CHECK(Test::ReadFileBytes(outside) == "keep");
    CHECK(Stored().empty());
}

namespace {

// A descriptor from its SDDL text, freed with the holder.
struct Sddl {
    explicit Sddl(const wchar_t* text)
    {
        REQUIRE(ConvertStringSecurityDescriptorToSecurityDescriptorW(text, SDDL_REVISION_1, &sd, nullptr));
    }
    ~Sddl() { LocalFree(sd); }
    Sddl(const Sddl&) = delete;
    Sddl& operator=(const Sddl&) = delete;
    PSECURITY_DESCRIPTOR sd = nullptr;
};

std::wstring DistrustOfFolder(const std::wstring& dir)
{
    PSECURITY_DESCRIPTOR sd = nullptr;
    REQUIRE(GetNamedSecurityInfoW(dir.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                  nullptr, nullptr, nullptr, nullptr, &sd) == ERROR_SUCCESS);
    std::wstring reason = Test::W(WWLib::AdministratorsFolder::Distrust(sd));
    LocalFree(sd);
    return reason;
}

// The folders a planted journal folder was moved to, by their names.
std::vector<std::wstring> MovedAside()
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((JournalFolderPath() + L" (*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
        do
            names.push_back(found.cFileName);
        while (FindNextFileW(find, &found));
        FindClose(find);
    }
    return names;
}

} // namespace

TEST_CASE("the journal's folder: only the installer's own is read or written; a planted one goes aside, kept")
{
    // Whose folder it is, as the descriptor says. Wine keeps no owner of its
    // own (every file reads back as the user's), so the owner rule is shown
    // on descriptors here; the lists are read back from real folders below.
    struct Row {
        const wchar_t* sddl;
        const wchar_t* distrust;
    };
    const Row rows[] = {
        {L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", L""},
        {L"O:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)(D;;FA;;;WD)", L""},
        {L"O:S-1-5-21-1-2-3-1001D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", L"its owner is not an administrator"},
        {L"O:BUD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", L"its owner is not an administrator"},
        {L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;WD)", L"others than administrators may change it"},
        // What a folder under ProgramData inherits: users may add folders,
        // and what they add is their own.
        {L"O:BAD:(A;;0x4;;;BU)(A;OICIIO;FA;;;CO)(A;;FA;;;BA)", L"others than administrators may change it"},
        {L"O:BAD:(A;OICIIO;FA;;;CO)(A;;FA;;;BA)", L"others than administrators may change it"},
        {L"O:BAD:(A;;WD;;;AU)(A;;FA;;;BA)", L"others than administrators may change it"},
        {L"O:BAD:(A;;0x10000;;;BU)(A;;FA;;;BA)", L"others than administrators may change it"}, // DELETE
    };
    for (const Row& row : rows) {
        CAPTURE(Test::Narrow(row.sddl));
        Sddl sd(row.sddl);
        CHECK(Test::W(WWLib::AdministratorsFolder::Distrust(sd.sd)) == row.distrust);
    }
    {
        const Sid admins = Sid::Administrators(); // the descriptor points at it
        SecurityDescriptor open;
        open.SetOwner(admins);
        open.SetDacl(nullptr);
        CHECK(Test::W(WWLib::AdministratorsFolder::Distrust(open.Get())) == L"anyone may change it");
    }
    // What the installer makes its folder with passes its own rule, with
    // Administrators as the owner.
    {
        WWLib::AdministratorsFolder::Security security;
        CHECK(WWLib::AdministratorsFolder::Distrust(security.sd.Get()).empty());
        PSID owner = nullptr;
        BOOL defaulted = TRUE;
        REQUIRE(GetSecurityDescriptorOwner(security.sd.Get(), &owner, &defaulted));
        CHECK(Sid::Administrators().Equals(owner));
    }

    Clean();
    const std::wstring folder = JournalFolderPath();
    Test::DeleteTree(folder); // what the cases before left of it
    REQUIRE(GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES);
    REQUIRE(MovedAside().empty());
    Test::TempDir user(L"Public"), site;
    const std::wstring bait = site.Path() + L"\\bait.txt";
    Test::WriteTextFile(bait, "the user's");
    // A journal as a user would plant it: valid records naming what the
    // user wants deleted.
    const AString planted = JournalFile::EncodeLine(WString((L"F|" + bait).c_str()));
    const std::string plantedBytes(planted.c_str(), planted.size());
    TheInstallSettings().installDir = site.Path().c_str();
    Test::RunMode mode(false);

    struct Plant {
        const char* name;
        std::function<void()> make;
        std::function<void()> remove;
        const wchar_t* distrust;
        bool link;
    };
    const Plant plants[] = {
        {"a link to a user's folder",
         [&] {
             Test::WriteTextFile(user.Path() + L"\\Quendal-JournalTest.journal", plantedBytes);
             Test::MakeLink(user.Path(), folder);
         },
         [&] {
             for (const std::wstring& name : MovedAside())
                 Test::RemoveLink(folder.substr(0, folder.rfind(L'\\') + 1) + name);
             if (WWLib::IsReparsePoint(folder.c_str()))
                 Test::RemoveLink(folder);
         },
         L"it is a link", true},
        {"a folder that lets everyone write",
         [&] {
             REQUIRE(CreateDirectoryW(folder.c_str(), nullptr));
             Sddl everyone(L"D:P(A;OICI;FA;;;WD)");
             BOOL present = FALSE, defaulted = FALSE;
             PACL dacl = nullptr;
             REQUIRE(GetSecurityDescriptorDacl(everyone.sd, &present, &dacl, &defaulted));
             REQUIRE(SetNamedSecurityInfoW(const_cast<wchar_t*>(folder.c_str()), SE_FILE_OBJECT,
                                           DACL_SECURITY_INFORMATION, nullptr, nullptr, dacl,
                                           nullptr) == ERROR_SUCCESS);
             Test::WriteTextFile(folder + L"\\Quendal-JournalTest.journal", plantedBytes);
         },
         [&] {
             for (const std::wstring& name : MovedAside())
                 Test::DeleteTree(folder.substr(0, folder.rfind(L'\\') + 1) + name);
         },
         L"others than administrators may change it", false},
    };
    for (const Plant& plant : plants) {
        CAPTURE(plant.name);
        plant.make();
        const std::wstring refused = L"The folder '" + folder + L"' is not the installer's own (" + plant.distrust +
                                     L")";
        Test::ConsoleCapture console;
        // Read as the next run reads it: passed over, nothing undone.
        CHECK_FALSE(RecoverUnfinishedRun(kSite));
        CHECK(console.Lines() ==
              Lines{L"Warning: the installation journal cannot be read (" + refused + L"); it is passed over"});
        CHECK(Test::ReadFileBytes(bait) == "the user's");
        // Written by the run: the planted folder goes aside, whole, and the
        // journal is the installer's own, in a folder of its own.
        console.Clear();
        bool ownFolder = false;
        {
            InstallJournal journal(kSite);
            InstallJournal::Record(UndoKind::File, (site.Path() + L"\\a.txt").c_str());
            ownFolder = !WWLib::IsReparsePoint(folder.c_str()) && DistrustOfFolder(folder).empty();
        }
        const std::wstring planted = (plant.link ? user.Path() : folder + L" (not the installer's 1)") +
                                     L"\\Quendal-JournalTest.journal";
        const std::vector<std::wstring> aside = MovedAside();
        if (plant.link && aside.empty()) {
            // Wine moves what a link points at, not the link: that goes
            // back, and the run goes on without a journal.
            CHECK(console.Lines() == Lines{L"Warning: the installation journal cannot be written (" + refused +
                                           L" and cannot be moved aside: the system moves what the link points "
                                           L"at); an interrupted installation cannot be undone by the next run"});
            CHECK_FALSE(ownFolder);
            CHECK(WWLib::IsReparsePoint(folder.c_str()));
        } else {
            REQUIRE(aside.size() == 1);
            CHECK(aside[0] == L"Korvane Quendal Setup (not the installer's 1)");
            CHECK(console.Lines() == Lines{L"Warning: the folder '" + folder + L"' is not the installer's own (" +
                                           plant.distrust + L"); it was moved to '" + folder +
                                           L" (not the installer's 1)', and the installer makes its own"});
            CHECK(ownFolder);
        }
        CHECK(Test::ReadFileBytes(planted) == plantedBytes);
        CHECK(Test::ReadFileBytes(bait) == "the user's");
        plant.remove();
        Test::DeleteTree(folder);
    }
    CHECK(MovedAside().empty());
    Test::DeleteTree(user.Path() + L"\\Quendal-JournalTest.journal");
}

TEST_CASE("the journal file: a link in the installer's own folder is neither followed, read nor emptied")
{
    Clean();
    Test::TempDir user, site;
    const std::wstring target = user.Path() + L"\\the user's.txt";
    Test::WriteTextFile(target, "the user's");
    const std::wstring journal = Test::W(JournalPathOf(kSite)); // makes the installer's folder
    Test::MakeLink(target, journal);
    TheInstallSettings().installDir = site.Path().c_str();
    Test::RunMode mode(false);
    Test::ConsoleCapture console;
    CHECK_FALSE(RecoverUnfinishedRun(kSite));
    {
        InstallJournal opened(kSite);
        InstallJournal::Record(UndoKind::File, (site.Path() + L"\\a.txt").c_str());
    }
    const std::wstring refused = L"The journal '" + journal + L"' is a link";
    CHECK(console.Lines() ==
          Lines{L"Warning: the installation journal cannot be read (" + refused + L"); it is passed over",
                L"Warning: the installation journal cannot be written (" + refused +
                    L"); an interrupted installation cannot be undone by the next run"});
    CHECK(Test::ReadFileBytes(target) == "the user's");
    Test::RemoveLink(journal);
    Clean();
}

TEST_CASE("the journal: a killed upgrade's kept installation comes back as it was, or stays recorded")
{
    struct Case {
        const char* name;
        // What the previous uninstaller had done when the run was killed.
        std::function<void(const std::wstring& dir)> removed;
        bool whole; // all of it back, nothing left recorded
    };
    const Case cases[] = {
        {"nothing yet: only the second names go", [](const std::wstring&) {}, true},
        {"its files and a folder removed: they come back",
         [](const std::wstring& dir) {
             REQUIRE(DeleteFileW((dir + L"\\Quendal.exe").c_str()));
             REQUIRE(DeleteFileW((dir + L"\\ReadMe.txt").c_str()));
             REQUIRE(DeleteFileW((dir + L"\\TermInfo\\dumb").c_str()));
             REQUIRE(RemoveDirectoryW((dir + L"\\TermInfo").c_str()));
         },
         true},
        // Someone else's file where the old one was is never overwritten.
        {"another file in a file's place: that one stays recorded",
         [](const std::wstring& dir) {
             REQUIRE(DeleteFileW((dir + L"\\ReadMe.txt").c_str()));
             Test::WriteTextFile(dir + L"\\ReadMe.txt", "someone else's");
         },
         false},
    };
    for (const Case& c : cases) {
        const std::string name = c.name;
        CAPTURE(name);
        Clean();
        Test::TempDir root;
        const std::wstring dir = root.Path();
        REQUIRE(CreateDirectoryW((dir + L"\\TermInfo").c_str(), nullptr));
        Test::WriteTextFile(dir + L"\\TermInfo\\dumb", "terminal");
        Test::WriteTextFile(dir + L"\\Quendal.exe", "program");
        Test::WriteTextFile(dir + L"\\ReadMe.txt", "edited by the administrator");
        const std::wstring params = L" -feedback=yes \"-workDir=" + dir + L"\" \"-delDir=" + dir + L"\" \"-delDir=" +
                                    dir + L"\\TermInfo\" \"-delFile=" + dir + L"\\Quendal.exe\" \"-delFile=" + dir +
                                    L"\\ReadMe.txt\" \"-delFile=" + dir + L"\\TermInfo\\dumb\"";
        const std::wstring entry = std::wstring(kUninstallKey) + L"\\" + kSite;
        Test::ScopedRegKey registered(HKEY_LOCAL_MACHINE, entry);
        registered.SetString(L"UninstallParam", params);
        registered.SetString(L"DisplayName", L"Korvane Quendal-JournalTest 5.18 (remove only)");
        Test::ConsoleCapture console;
        {
            // Kept, then killed while its uninstaller worked: nothing undone.
            Test::RunMode leftInPlace(false, false, true);
            TheInstallSettings().installDir = dir.c_str();
            InstallJournal journal(kSite);
            KeptInstallation kept;
            kept.Keep(kSite, dir.c_str(), params.c_str(), false);
            REQUIRE(kept.Kept());
            c.removed(dir);
            REQUIRE(RegDeleteTreeW(HKEY_LOCAL_MACHINE, entry.c_str()) == ERROR_SUCCESS);
        }
        Test::RunMode mode(false);
        TheInstallSettings().installDir = dir.c_str();
        CHECK(RecoverUnfinishedRun(kSite));
        std::string said;
        for (const std::wstring& line : console.Lines())
            said += Test::Narrow(line) + "\n";
        CAPTURE(said);
        CHECK(Test::ReadFileBytes(dir + L"\\Quendal.exe") == "program");
        CHECK(Test::ReadFileBytes(dir + L"\\TermInfo\\dumb") == "terminal");
        CHECK(Test::RegString(HKEY_LOCAL_MACHINE, entry, L"UninstallParam") == params);
        CHECK(Test::RegString(HKEY_LOCAL_MACHINE, entry, L"DisplayName") ==
              L"Korvane Quendal-JournalTest 5.18 (remove only)");
        // The second names: gone once everything is back.
        WIN32_FIND_DATAW fd;
        HANDLE find = FindFirstFileW((dir + L"\\Quendal previous-*").c_str(), &fd);
        if (find != INVALID_HANDLE_VALUE)
            FindClose(find);
        if (c.whole) {
            CHECK(Test::ReadFileBytes(dir + L"\\ReadMe.txt") == "edited by the administrator");
            CHECK(find == INVALID_HANDLE_VALUE);
            CHECK(Stored().empty());
        } else {
            CHECK(Test::ReadFileBytes(dir + L"\\ReadMe.txt") == "someone else's");
            const Lines said = console.Lines();
            CHECK(std::find(said.begin(), said.end(),
                            L"Rollback: the previous installation's " + dir +
                                L"\\ReadMe.txt is not put back: another file stands there") != said.end());
            const std::vector<std::wstring> left = Stored();
            CHECK(std::count_if(left.begin(), left.end(),
                                [](const std::wstring& e) { return e.rfind(L"B|", 0) == 0; }) == 1);
        }
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, entry.c_str());
        Clean();
    }
}

// A keep that fails at its second file is forced past (-force): its kept
// names go, the uninstaller removes the entry and the files, and the run is
// killed. The recovery must not bring back an entry without its files. (A
// file that cannot be kept cannot be had under Wine, which links even a file
// held without sharing: the journal is cut where such a keep would stop.)
TEST_CASE("the journal: a keep that stops half-way leaves no uninstall entry to write back")
{
    Clean();
    Test::TempDir root;
    const std::wstring dir = root.Path();
    Test::WriteTextFile(dir + L"\\Quendal.exe", "program");
    Test::WriteTextFile(dir + L"\\ReadMe.txt", "edited");
    const std::wstring params = L" \"-delDir=" + dir + L"\" \"-delFile=" + dir + L"\\Quendal.exe\" \"-delFile=" + dir +
                                L"\\ReadMe.txt\"";
    const std::wstring entry = std::wstring(kUninstallKey) + L"\\" + kSite;
    Test::ScopedRegKey registered(HKEY_LOCAL_MACHINE, entry);
    registered.SetString(L"UninstallParam", params);
    Test::ConsoleCapture console;
    {
        // Killed once it was kept: the journal and the second names stay.
        Test::RunMode leftInPlace(false, false, true);
        TheInstallSettings().installDir = dir.c_str();
        InstallJournal journal(kSite);
        KeptInstallation kept;
        kept.Keep(kSite, dir.c_str(), params.c_str(), true);
        REQUIRE(kept.Kept());
    }
    {
        std::vector<std::wstring> records = Stored();
        auto first = std::find_if(records.begin(), records.end(),
                                  [](const std::wstring& e) { return e.rfind(L"B|", 0) == 0; });
        REQUIRE(first != records.end());
        const std::wstring keptName = first->substr(first->rfind(L'|') + 1);
        records.erase(first + 1, records.end());
        WriteStored(records);
        const std::wstring keptFolder = keptName.substr(0, keptName.rfind(L'\\'));
        for (const wchar_t* name : {L"\\1", L"\\2"})
            CHECK(DeleteFileW((keptFolder + name).c_str()));
        REQUIRE(RemoveDirectoryW(keptFolder.c_str()));
        REQUIRE(RegDeleteTreeW(HKEY_LOCAL_MACHINE, entry.c_str()) == ERROR_SUCCESS);
        REQUIRE(DeleteFileW((dir + L"\\Quendal.exe").c_str()));
        REQUIRE(DeleteFileW((dir + L"\\ReadMe.txt").c_str()));
    }
    Test::RunMode mode(false);
    TheInstallSettings().installDir = dir.c_str();
    CHECK(RecoverUnfinishedRun(kSite));
    CHECK_FALSE(Test::KeyExists(HKEY_LOCAL_MACHINE, entry));
    CHECK(Stored().empty());
    Clean();
}
