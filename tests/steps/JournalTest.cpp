#include "../../steps/DeferredFileOps.h"
#include "../../steps/InstallJournal.h"
#include "../../steps/InstallSettings.h"
#include "../../steps/MakeInstallDir.h"
#include "../../steps/SecuredInstallDir.h"
#include "../support/Console.h"
#include "../support/Machine.h"
#include "../support/RunMode.h"
#include <doctest/doctest.h>
#include <sddl.h>
#include <algorithm>
#include <vector>

using Lines = std::vector<std::wstring>;

namespace {

const wchar_t kSite[] = L"Quendal-JournalTest";
const std::wstring kSiteKey = std::wstring(L"SOFTWARE\\Korvane\\") + kSite;

// The journal as stored, one string an entry; empty when there is none.
std::vector<std::wstring> Stored()
{
    std::vector<std::wstring> entries;
    std::vector<wchar_t> data(65536);
    DWORD size = static_cast<DWORD>(data.size() * sizeof(wchar_t));
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kSiteKey.c_str(), L"InstallJournal", RRF_RT_REG_MULTI_SZ, nullptr,
                     data.data(), &size))
        return entries;
    for (const wchar_t* p = data.data(); *p; p += wcslen(p) + 1)
        entries.push_back(p);
    return entries;
}

void WriteStored(const std::vector<std::wstring>& entries)
{
    std::wstring data;
    for (const std::wstring& e : entries)
        data += e + L'\0';
    data += L'\0';
    REQUIRE(RegSetKeyValueW(HKEY_LOCAL_MACHINE, kSiteKey.c_str(), L"InstallJournal", REG_MULTI_SZ, data.c_str(),
                            static_cast<DWORD>(data.size() * sizeof(wchar_t))) == ERROR_SUCCESS);
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

TEST_CASE("the journal: each undo kept before its change, carried out last first by the next run")
{
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kSiteKey.c_str());
    Test::TempDir root;
    Test::ConsoleCapture console;
    UnfinishedRun(root.Path());
    const std::wstring site = root.Path() + L"\\site";
    CHECK(Stored() == Lines{L"K|Quendal-JournalTest", L"D|" + site, L"F|" + site + L"\\a.txt",
                            L"F|" + site + L"\\b.txt", L"F|" + site + L"\\never.txt"});
    CHECK(IsDirectory(site.c_str()));

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
    // The site's key was made for the journal: it goes with it.
    CHECK_FALSE(Test::KeyExists(HKEY_LOCAL_MACHINE, kSiteKey));
    // Once only.
    CHECK_FALSE(RecoverUnfinishedRun(kSite));
    CHECK(recovery.Lines().size() == 4);
}

TEST_CASE("the journal: removed at the commit and after the steps' own rollback; a key that was there stays")
{
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kSiteKey.c_str());
    Test::TempDir root;
    Test::ConsoleCapture console;
    Test::RunMode mode(false);
    {
        InstallJournal journal(kSite);
        MakeInstallDir dir((root.Path() + L"\\rolled").c_str(), nullptr, 0);
        CHECK(Stored().size() == 2);
    }
    CHECK_FALSE(PathExists((root.Path() + L"\\rolled").c_str()));
    CHECK_FALSE(Test::KeyExists(HKEY_LOCAL_MACHINE, kSiteKey));

    // A key with a value of the site's before the run keeps it.
    REQUIRE(RegSetKeyValueW(HKEY_LOCAL_MACHINE, kSiteKey.c_str(), L"FirstRunFlag", REG_DWORD, "\1\0\0\0", 4) == 0);
    {
        InstallJournal journal(kSite);
        MakeInstallDir dir((root.Path() + L"\\kept").c_str(), nullptr, 0);
        CHECK(Stored() == Lines{L"D|" + root.Path() + L"\\kept"});
        dir.Commit();
        journal.Commit();
    }
    CHECK(Stored().empty());
    CHECK(IsDirectory((root.Path() + L"\\kept").c_str()));
    CHECK(Test::KeyExists(HKEY_LOCAL_MACHINE, kSiteKey));
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kSiteKey.c_str());

    // Without an open journal a step records nothing.
    { MakeInstallDir dir((root.Path() + L"\\alone").c_str(), nullptr, 0); }
    CHECK_FALSE(Test::KeyExists(HKEY_LOCAL_MACHINE, kSiteKey));
}

TEST_CASE("the journal: entries it does not know, or that are damaged, are passed over")
{
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kSiteKey.c_str());
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
    // The key was there before this journal: it stays.
    CHECK(Test::KeyExists(HKEY_LOCAL_MACHINE, kSiteKey));
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kSiteKey.c_str());
}

TEST_CASE("the journal: actions outside the site and the directory of this run are said and left")
{
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kSiteKey.c_str());
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
    std::wstring got;
    for (const std::wstring& line : console.Lines())
        got += line + L"\n";
    const std::string lines = Test::Narrow(got);
    CAPTURE(lines);
    CHECK(console.Lines() == expected);
    CHECK(PathExists(bait.c_str()));
    CHECK(PathExists(marker.c_str()));
    CHECK(Test::KeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Victim"));
    CHECK(Stored().empty());
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Victim");
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kSiteKey.c_str());
}

TEST_CASE("security descriptors as the journal stores them")
{
    PSECURITY_DESCRIPTOR sd = nullptr;
    ULONG size = 0;
    REQUIRE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", SDDL_REVISION_1,
                                                                 &sd, &size));
    const WString text = EncodeDescriptor(sd, size);
    CHECK(text.size() == size * 2);
    NoCrtDataVect<std::uint8_t> back;
    REQUIRE(DecodeDescriptor(text, back));
    REQUIRE(back.size() == size);
    CHECK(memcmp(back.data(), sd, size) == 0);
    LocalFree(sd);

    CHECK_FALSE(DecodeDescriptor(L"", back));
    CHECK_FALSE(DecodeDescriptor(text.substr(0, text.size() - 1), back)); // odd
    CHECK_FALSE(DecodeDescriptor(text.substr(0, text.size() - 2), back)); // one byte short
    CHECK_FALSE(DecodeDescriptor(L"0G", back));
    CHECK_FALSE(DecodeDescriptor(L"0011223344", back)); // hex, but no descriptor
}
