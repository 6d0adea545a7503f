#include "../../wwlib/CReg.h"
#include "../support/Machine.h"
#include <doctest/doctest.h>

using namespace WWLib;
using Test::W;

namespace {

const wchar_t kKey[] = L"SOFTWARE\\QuendalTest\\Registry";

std::wstring S(WView v)
{
    return std::wstring(v.p, v.len);
}

} // namespace

TEST_CASE("registry keys named by path text")
{
    Test::ScopedRegKey key(HKEY_LOCAL_MACHINE, kKey);
    key.SetString(L"v", L"hello");

    SUBCASE("short and long root names, any ASCII case")
    {
        WString out;
        CRegRead<1>(RegKeyName::Path(WString(L"hklm\\") + kKey), L"v", out);
        CHECK(out == L"hello");
        out.clear();
        CRegRead<1>(RegKeyName::Path(WString(L"Hkey_Local_Machine\\") + kKey), L"v", out);
        CHECK(out == L"hello");
    }
    SUBCASE("a root name alone opens the root itself")
    {
        CRegOpen<0> root(RegKeyName::Path(L"Hkey_Local_Machine"), KEY_QUERY_VALUE);
        CHECK(root.Succeeded());
        CHECK(root.Root() == HKEY_LOCAL_MACHINE);
        CHECK(root.Subkey().empty());
    }
    SUBCASE("an unknown root name gives a null root and the open fails")
    {
        CHECK(RegKeyName::Path(L"HKCR\\X").root == nullptr);
        CRegOpen<0> bad(RegKeyName::Path(L"HKCR\\X"), KEY_QUERY_VALUE);
        CHECK(bad.Failed());
        CHECK(S(bad.Name()) == L"RegOpenKeyExW()");
    }
    SUBCASE("the root table")
    {
        CHECK(RegRootFromName(L"HKCU", 4) == HKEY_CURRENT_USER);
        CHECK(RegRootFromName(L"hkey_users", 10) == HKEY_USERS);
        CHECK(RegRootFromName(L"HKEY_CLASSES_ROOT", 17) == HKEY_CLASSES_ROOT);
        CHECK(RegRootFromName(L"HKEY_CURRENT_CONFIG", 19) == HKEY_CURRENT_CONFIG);
        CHECK(RegRootFromName(L"HKEY_DYN_DATA", 13) == HKEY_DYN_DATA);
        CHECK(RegRootFromName(L"HKU", 3) == nullptr);
        CHECK(RegRootFromName(L"HKLMX", 5) == nullptr);
    }
}

TEST_CASE("reading string values")
{
    Test::ScopedRegKey key(HKEY_LOCAL_MACHINE, kKey);

    SUBCASE("a missing key: flag 1 throws, flag 0 records")
    {
        WString out(L"unchanged");
        CRegRead<0> r(L"SOFTWARE\\QuendalTest\\Missing", L"v", out);
        CHECK(r.Failed());
        CHECK(r.Value() == 2);
        CHECK(out == L"unchanged");
        try {
            CRegRead<1>(L"SOFTWARE\\QuendalTest\\Missing", L"v", out);
            FAIL("no exception");
        } catch (const RegException& e) {
            CHECK(W(e.Message()) ==
                  L"RegOpenKeyExW() failed: Windows error 2: " + W(WindowsErrorText(2)));
            CHECK(e.Result() == 2);
        }
    }
    SUBCASE("a missing value")
    {
        WString out;
        CRegRead<0> r(kKey, L"absent", out);
        CHECK(r.Value() == 2);
        CHECK(S(r.Name()) == L"RegQueryValueExW()");
    }
    SUBCASE("a DWORD through the string reader fails with 1804")
    {
        key.SetDword(L"n", 7);
        WString out;
        CRegRead<0> r(kKey, L"n", out);
        CHECK(r.Value() == 1804);
        CHECK(S(r.Name()) == L"RegQueryValueExW()");
        CHECK_THROWS_AS(CRegRead<1>(kKey, L"n", out), RegException);
    }
    SUBCASE("REG_EXPAND_SZ is expanded, the same text as REG_SZ is not")
    {
        SetEnvironmentVariableW(L"QUENDAL_TEST_VAR", L"expanded");
        key.SetString(L"e", L"x-%QUENDAL_TEST_VAR%-y", REG_EXPAND_SZ);
        key.SetString(L"s", L"x-%QUENDAL_TEST_VAR%-y", REG_SZ);
        WString e, s;
        CRegRead<1>(kKey, L"e", e);
        CRegRead<1>(kKey, L"s", s);
        CHECK(e == L"x-expanded-y");
        CHECK(s == L"x-%QUENDAL_TEST_VAR%-y");
    }
    SUBCASE("a value stored without its terminating nul fails with 13")
    {
        // The data must not be followed by a nul in memory, or the system
        // counts the nul in for the caller.
        key.SetRaw(L"raw", REG_SZ, L"abcd", 3 * sizeof(wchar_t));
        WString out;
        CRegRead<0> r(kKey, L"raw", out);
        CHECK(r.Value() == 13);
        CHECK(S(r.Name()) == L"RegQueryValueExW()");
    }
    SUBCASE("an odd byte count drops the last byte; an empty value reads empty")
    {
        key.SetRaw(L"odd", REG_SZ, L"ab\0", 3 * sizeof(wchar_t) + 1);
        key.SetRaw(L"empty", REG_SZ, L"", 0);
        WString odd, empty(L"x");
        CRegRead<1>(kKey, L"odd", odd);
        CRegRead<1>(kKey, L"empty", empty);
        CHECK(odd == L"ab");
        CHECK(empty.empty());
    }
    SUBCASE("the default value")
    {
        key.SetString(L"", L"default text");
        WString out;
        CRegRead<1>(kKey, L"", out);
        CHECK(out == L"default text");
    }
}

TEST_CASE("writing, multi-string lists and deleting")
{
    Test::ScopedRegKey key(HKEY_LOCAL_MACHINE, kKey);

    SUBCASE("a string value is written with its nul")
    {
        CRegWrite<1>(kKey, L"w", WString(L"text"));
        DWORD type = 0, size = 0;
        HKEY h;
        REQUIRE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_QUERY_VALUE, &h) == 0);
        RegQueryValueExW(h, L"w", nullptr, &type, nullptr, &size);
        RegCloseKey(h);
        CHECK(type == REG_SZ);
        CHECK(size == 10);
    }
    SUBCASE("a key path that does not exist yet is created")
    {
        CRegWrite<1>(WString(kKey) + L"\\Deeper\\Still", L"n", DWORD(42));
        DWORD value = 0, size = sizeof(value);
        CHECK(RegGetValueW(HKEY_LOCAL_MACHINE, (std::wstring(kKey) + L"\\Deeper\\Still").c_str(), L"n",
                           RRF_RT_REG_DWORD, nullptr, &value, &size) == 0);
        CHECK(value == 42);
    }
    SUBCASE("two texts read back as two entries, an empty text as an empty entry")
    {
        WStringList list;
        list.push_back(L"one");
        list.push_back(L"");
        list.push_back(L"three");
        CRegWrite<1>(kKey, L"m", list);
        WStringList back;
        CRegRead<1>(kKey, L"m", back);
        REQUIRE(back.size() == 3);
        CHECK(back[0] == L"one");
        CHECK(back[1] == L"");
        CHECK(back[2] == L"three");
    }
    SUBCASE("a list written by another program with its closing nul")
    {
        key.SetRaw(L"m2", REG_MULTI_SZ, L"a\0bc\0", 6 * sizeof(wchar_t));
        WStringList back;
        CRegRead<1>(kKey, L"m2", back);
        REQUIRE(back.size() == 2);
        CHECK(back[0] == L"a");
        CHECK(back[1] == L"bc");
    }
    SUBCASE("an empty list is stored as four zero bytes and reads back empty")
    {
        WStringList empty;
        CRegWrite<1>(kKey, L"none", empty);
        BYTE data[16];
        DWORD size = sizeof(data), type = 0;
        HKEY h;
        REQUIRE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_QUERY_VALUE, &h) == 0);
        RegQueryValueExW(h, L"none", nullptr, &type, data, &size);
        RegCloseKey(h);
        CHECK(type == REG_MULTI_SZ);
        CHECK(size == 4);
        CHECK((data[0] | data[1] | data[2] | data[3]) == 0);
        WStringList back;
        back.push_back(L"stale");
        CRegRead<1>(kKey, L"none", back);
        CHECK(back.size() == 0);
    }
    SUBCASE("a string value through the list reader fails with 1804")
    {
        key.SetString(L"s", L"x");
        WStringList back;
        CRegRead<0> r(kKey, L"s", back);
        CHECK(r.Value() == 1804);
    }
    SUBCASE("deleting a value, and a missing one")
    {
        key.SetString(L"gone", L"x");
        CRegDeleteValue<1>(kKey, L"gone");
        WString out;
        CHECK(CRegRead<0>(kKey, L"gone", out).Value() == 2);
        CRegDeleteValue<0> again(kKey, L"gone");
        CHECK(again.Value() == 2);
        CHECK(S(again.Name()) == L"RegDeleteValueW()");
        CHECK_THROWS_AS(CRegDeleteValue<1>(kKey, L"gone"), RegException);
    }
    SUBCASE("a failed open makes the following write a no-op on a flag-0 object")
    {
        CRegWrite<0> w(RegKeyName::Path(L"NOSUCHROOT\\x"), L"v", WString(L"t"));
        CHECK(w.Failed());
        CHECK(S(w.Name()) == L"RegCreateKeyExW()");
    }
}

TEST_CASE("listing subkeys")
{
    Test::ScopedRegKey key(HKEY_LOCAL_MACHINE, kKey);
    WStringList names;
    names.push_back(L"already here");
    {
        CRegList<1> list(kKey);
        list.List(names);
    }
    CHECK(names.size() == 1); // no subkeys: nothing added
    std::wstring longName(255, L'k'); // the longest name a key may have
    key.Sub(L"Alpha");
    key.Sub(longName);
    CRegList<1> list(kKey);
    list.List(names);
    REQUIRE(names.size() == 3);
    bool alpha = false, longOne = false;
    for (std::size_t i = 1; i < names.size(); ++i) {
        alpha = alpha || names[i] == L"Alpha";
        longOne = longOne || W(names[i]) == longName;
    }
    CHECK(alpha);
    CHECK(longOne);
    CHECK_THROWS_AS(CRegList<1>(L"SOFTWARE\\QuendalTest\\Missing"), RegException);
}
