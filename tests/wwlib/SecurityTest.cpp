#include "../../wwlib/AccessControl.h"
#include "../../wwlib/MachineWideLock.h"
#include "../../wwlib/Membership.h"
#include "../../wwlib/SystemError.h"
#include "../../wwlib/Volume.h"
#include "../../wwlib/WinSecurity.h"
#include "../support/Machine.h"
#include <doctest/doctest.h>
#include <sddl.h>

using Test::W;

namespace {

std::wstring SidText(PSID sid)
{
    wchar_t* text = nullptr;
    if (!ConvertSidToStringSidW(sid, &text))
        return L"(invalid)";
    std::wstring s = text;
    LocalFree(text);
    return s;
}

// The attributes of a privilege in this process's token; -1 when absent.
long TokenAttributes(const wchar_t* name)
{
    LUID luid;
    if (!LookupPrivilegeValueW(nullptr, name, &luid))
        return -1;
    HANDLE token;
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
    BYTE buf[4096];
    DWORD size = 0;
    BOOL ok = GetTokenInformation(token, TokenPrivileges, buf, sizeof(buf), &size);
    CloseHandle(token);
    if (!ok)
        return -1;
    auto* p = reinterpret_cast<TOKEN_PRIVILEGES*>(buf);
    for (DWORD i = 0; i < p->PrivilegeCount; ++i)
        if (p->Privileges[i].Luid.LowPart == luid.LowPart && p->Privileges[i].Luid.HighPart == luid.HighPart)
            return static_cast<long>(p->Privileges[i].Attributes);
    return -1;
}

bool Member(DWORD rid)
{
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID sid;
    AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, rid, 0, 0, 0, 0, 0, 0, &sid);
    BOOL member = FALSE;
    CheckTokenMembership(nullptr, sid, &member);
    FreeSid(sid);
    return member != FALSE;
}

} // namespace

TEST_CASE("security identifiers")
{
    CHECK(SidText(Sid::Everyone().Get()) == L"S-1-1-0");
    CHECK(SidText(Sid::AuthenticatedUsers().Get()) == L"S-1-5-11");
    CHECK(SidText(Sid::LocalSystem().Get()) == L"S-1-5-18");
    CHECK(SidText(Sid::Administrators().Get()) == L"S-1-5-32-544");

    Sid eight;
    eight.Set(8, SECURITY_NT_AUTHORITY, 21, 7);
    CHECK(SidText(eight.Get()) == L"S-1-5-21-7-0-0-0-0-0-0");
    for (BYTE count : {BYTE(0), BYTE(9)}) {
        Sid bad;
        try {
            bad.Set(count, SECURITY_NT_AUTHORITY, 1);
            FAIL("no exception");
        } catch (const WStrException& e) {
            CHECK(W(e.Message()) == L"Sid::Set() - invalid subauthority count (" + std::to_wstring(count) + L")");
        }
    }
    Sid copy(Sid::Administrators().Get());
    CHECK(EqualSid(copy.Get(), Sid::Administrators().Get()));
    CHECK(Sid(nullptr).Empty());
}

TEST_CASE("access lists, ACLs and a protected descriptor, read back before use")
{
    AccessList list;
    list.Add(Sid::LocalSystem(), 0x001F01FF);
    list.Add(Sid::Administrators(), 0x001F01FF);
    list.Add(Sid::AuthenticatedUsers(), 0xA0000000);
    CHECK(list.Count() == 3);
    CHECK(list.Entry(1).grfAccessMode == SET_ACCESS);
    CHECK(list.Entry(1).grfInheritance == 3u);
    CHECK(list.Entry(1).Trustee.TrusteeForm == TRUSTEE_IS_SID);
    CHECK(list.Entry(1).Trustee.TrusteeType == TRUSTEE_IS_WELL_KNOWN_GROUP);

    AclHolder acl;
    acl.Make(list);
    REQUIRE(acl.Get());
    REQUIRE(acl.Get()->AceCount == 3);
    const wchar_t* sids[] = {L"S-1-5-18", L"S-1-5-32-544", L"S-1-5-11"};
    for (DWORD i = 0; i < 3; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        REQUIRE(GetAce(acl.Get(), i, reinterpret_cast<void**>(&ace)));
        CHECK(ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE);
        CHECK(ace->Header.AceFlags == (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE));
        CHECK(SidText(&ace->SidStart) == sids[i]);
    }
    ACCESS_ALLOWED_ACE* users = nullptr;
    GetAce(acl.Get(), 2, reinterpret_cast<void**>(&users));
    CHECK(users->Mask == 0xA0000000);
    acl.Make(list); // a second make replaces the first ACL
    CHECK(acl.Get()->AceCount == 3);

    SecurityDescriptor sd;
    sd.SetDacl(acl.Get());
    sd.ProtectDacl();
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    GetControl(sd.Get(), control);
    CHECK((control & SE_DACL_PROTECTED) != 0);
    CHECK((control & SE_DACL_PRESENT) != 0);
    CHECK(IsValidSecurityDescriptor(sd.Get()));
}

TEST_CASE("privileges are enabled by counted enablers")
{
    SUBCASE("nested enablers keep the privilege until the outer one goes")
    {
        PrivilegeHolder& shutdown = PrivilegeHolder::Shutdown();
        REQUIRE(TokenAttributes(L"SeShutdownPrivilege") >= 0);
        CHECK((TokenAttributes(L"SeShutdownPrivilege") & SE_PRIVILEGE_ENABLED) == 0);
        {
            PrivilegeEnabler outer(shutdown);
            CHECK(outer.Try());
            CHECK(shutdown.GetState() == PrivilegeHolder::Enabled);
            {
                PrivilegeEnabler inner(shutdown);
                CHECK(inner.Try());
                CHECK(inner.Try());
                CHECK(shutdown.Count() == 2);
            }
            CHECK(shutdown.Count() == 1);
            CHECK((TokenAttributes(L"SeShutdownPrivilege") & SE_PRIVILEGE_ENABLED) != 0);
        }
        CHECK(shutdown.Count() == 0);
        CHECK(shutdown.GetState() == PrivilegeHolder::Held);
        CHECK((TokenAttributes(L"SeShutdownPrivilege") & SE_PRIVILEGE_ENABLED) == 0);
    }
    SUBCASE("a privilege the token does not hold fails, at once the second time")
    {
        REQUIRE(TokenAttributes(L"SeCreateTokenPrivilege") == -1);
        PrivilegeHolder missing(L"SeCreateTokenPrivilege");
        PrivilegeEnabler first(missing);
        CHECK_FALSE(first.Try());
        CHECK(GetLastError() == ERROR_PRIVILEGE_NOT_HELD);
        CHECK(missing.GetState() == PrivilegeHolder::NotAvailable);
        SetLastError(0);
        CHECK_FALSE(first.Try());
        CHECK(GetLastError() == ERROR_PRIVILEGE_NOT_HELD);
        PrivilegeEnabler second(missing);
        SetLastError(0);
        CHECK_FALSE(second.Try());
        CHECK(GetLastError() == ERROR_PRIVILEGE_NOT_HELD);
    }
    SUBCASE("a privilege the token had enabled stays enabled after its last enabler")
    {
        REQUIRE((TokenAttributes(L"SeChangeNotifyPrivilege") & SE_PRIVILEGE_ENABLED) != 0);
        PrivilegeHolder notify(L"SeChangeNotifyPrivilege");
        {
            PrivilegeEnabler enabler(notify);
            CHECK(enabler.Try());
        }
        CHECK(notify.Count() == 0);
        CHECK((TokenAttributes(L"SeChangeNotifyPrivilege") & SE_PRIVILEGE_ENABLED) != 0);
    }
    SUBCASE("releasing more than was enabled is an assertion failure")
    {
        PrivilegeHolder idle(L"SeShutdownPrivilege");
        try {
            idle.Release();
            FAIL("no exception");
        } catch (const StrAssertionFailed& e) {
            std::wstring text(e.Description().p);
            CHECK(text.find(L"source file 'wwlib\\WinSecurity', line ") != std::wstring::npos);
            CHECK(text.substr(text.find(L"\r\n") + 2) == L"!!m_count");
        }
    }
}

TEST_CASE("group membership of the process token")
{
    CHECK(IsAdministrator(false) == Member(DOMAIN_ALIAS_RID_ADMINS));
    CHECK(IsAdministrator(false)); // Wine runs everything as an administrator
    CHECK(IsPowerUser() == Member(DOMAIN_ALIAS_RID_POWER_USERS));
    CHECK(TokenHasBuiltinGroup(DOMAIN_ALIAS_RID_USERS) == Member(DOMAIN_ALIAS_RID_USERS));
    // What the version alone answers: a version that could not be read is
    // no membership; outside the NT family there are no groups to be in.
    CHECK(MembershipByVersion(0, 0, 0) == VersionAnswer::NotMember);
    CHECK(MembershipByVersion(VER_PLATFORM_WIN32_NT, 6, 1) == VersionAnswer::AskToken);
    CHECK(MembershipByVersion(VER_PLATFORM_WIN32_WINDOWS, 4, 10) == VersionAnswer::Member);
    CHECK(MembershipByVersion(VER_PLATFORM_WIN32s, 3, 1) == VersionAnswer::Member);
}

TEST_CASE("the volume behind a path")
{
    CHECK(W(VolumeRootOf(L"C:\\windows\\system32")) == L"C:\\");
    wchar_t cwdRoot[MAX_PATH] = {};
    GetVolumePathNameW(L".", cwdRoot, MAX_PATH);
    CHECK(W(VolumeRootOf(nullptr)) == cwdRoot);

    CHECK(W(VolumeRootFromFullPath(L"C:\\dir\\file")) == L"C:\\");
    CHECK(W(VolumeRootFromFullPath(L"\\\\server\\share\\dir")) == L"\\\\server\\share\\");
    CHECK(W(VolumeRootFromFullPath(L"\\\\server\\share")) == L"\\\\server\\share\\");
    CHECK(W(VolumeRootFromFullPath(L"\\\\server")) == L"\\\\server\\");

    DWORD flags = 0;
    REQUIRE(GetVolumeInformationW(L"C:\\", nullptr, 0, nullptr, nullptr, &flags, nullptr, 0));
    CHECK(VolumeFlagsOf(L"C:\\windows") == flags);
    CHECK_THROWS_AS(VolumeFlagsOf(L"Q:\\no\\such\\drive"), SystemError);
}

TEST_CASE("the machine-wide lock: one holder, whatever a user made of its name or a cut left of its file")
{
    // A name of its own: the end-to-end scenarios take the product's lock.
    const wchar_t* name = L"Global\\Quendal-Test-Lock";
    Test::TempDir temp;
    const std::wstring folder = temp.Path() + L"\\Setup", file = folder + L"\\Setup.lock";
    const WString lockFile(file.c_str());
    const std::wstring passedOver = L"Warning: the lock 'Global\\Quendal-Test-Lock' is someone else's; it is passed over";

    SUBCASE("a second taker is refused, even in the same thread, which the mutex alone would let in")
    {
        WWLib::MachineWideLock first, second;
        REQUIRE(first.TryTake(name, lockFile));
        CHECK(first.Notes().empty());
        CHECK_FALSE(second.TryTake(name, lockFile));
        first.Release();
        CHECK(second.TryTake(name, lockFile));
        second.Release();
        // The file goes with its holder, and the folder it made too.
        CHECK(GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES);
    }
    SUBCASE("a file a cut left behind is taken; the folder stays while it holds anything else")
    {
        REQUIRE(CreateDirectoryW(folder.c_str(), nullptr));
        Test::WriteTextFile(file, "left by a cut");
        Test::WriteTextFile(folder + L"\\Site.journal", "a journal");
        {
            WWLib::MachineWideLock lock;
            CHECK(lock.TryTake(name, lockFile));
        }
        CHECK(GetFileAttributesW(file.c_str()) == INVALID_FILE_ATTRIBUTES);
        CHECK(Test::ReadFileBytes(folder + L"\\Site.journal") == "a journal");
    }
    struct Squat {
        const char* what;
        const wchar_t* sddl;
    };
    // What a standard user may do first with the name in Global\: own it,
    // and hold it for good, or give it a list that refuses everyone.
    const Squat squats[] = {
        {"owned by Users, held", L"O:BUD:(A;;GA;;;WD)"},
        {"owned by Users, a list that refuses everyone", L"O:BUD:"},
    };
    for (const Squat& squat : squats) {
        CAPTURE(std::string(squat.what));
        PSECURITY_DESCRIPTOR sd = nullptr;
        REQUIRE(ConvertStringSecurityDescriptorToSecurityDescriptorW(squat.sddl, SDDL_REVISION_1, &sd, nullptr));
        SECURITY_ATTRIBUTES sa = {sizeof(sa), sd, FALSE};
        HANDLE squatter = CreateMutexW(&sa, TRUE, name);
        LocalFree(sd);
        REQUIRE(squatter);
        // Held by another thread, as another process would.
        struct Holder {
            static DWORD WINAPI Run(void* mutex)
            {
                WaitForSingleObject(static_cast<HANDLE>(mutex), INFINITE);
                Sleep(INFINITE);
                return 0;
            }
        };
        HANDLE copy = nullptr;
        REQUIRE(DuplicateHandle(GetCurrentProcess(), squatter, GetCurrentProcess(), &copy, 0, FALSE,
                                DUPLICATE_SAME_ACCESS));
        ReleaseMutex(squatter);
        HANDLE thread = CreateThread(nullptr, 0, Holder::Run, copy, 0, nullptr);
        REQUIRE(thread);
        Sleep(200);
        {
            WWLib::MachineWideLock lock, other;
            CHECK(lock.TryTake(name, lockFile));
            REQUIRE(lock.Notes().size() == 1);
            CHECK(W(lock.Notes()[0]) == passedOver);
            // The file still keeps a second taker out.
            CHECK_FALSE(other.TryTake(name, lockFile));
        }
        TerminateThread(thread, 0);
        CloseHandle(thread);
        CloseHandle(copy);
        CloseHandle(squatter);
    }
}
