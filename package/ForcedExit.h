#pragma once
// A test hook of the package's programs (never of the setup program): the
// environment variable QUENDAL_FORCE_EXIT makes a program end at once with a
// chosen exit code when it is started with a chosen switch.
//
//   QUENDAL_FORCE_EXIT=<program>:<switch>=<code>[;<program>:<switch>=<code>...]
//   e.g.  QUENDAL_FORCE_EXIT=Quendal.exe:-service=5;QuendalCfgManip.exe:/RegServer=7
//
// The code "hang" makes the program wait for ever instead, and "delay" makes
// it wait five seconds and then do its work: a run can then be stopped while
// it waits for that program. A code followed by "once" ends only the first
// such start (a mark in the temporary folder, which the tests' hook removes):
// the same program run again, as a put-back installation's, does its work.
//
// Names and switches compare without regard to case.
#include "../wwlib/SiteName.h"
#include <windows.h>
#include <cwchar>
#include <cwctype>
#include <string>

namespace Package {

inline std::wstring Lower(std::wstring s)
{
    for (wchar_t& c : s)
        c = static_cast<wchar_t>(std::towlower(c));
    return s;
}

inline std::wstring OwnFileName()
{
    wchar_t path[MAX_PATH * 2] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
    std::wstring p = path;
    return p.substr(p.rfind(L'\\') + 1);
}

// Ends the process when the hook names this program and one of its switches.
inline void ApplyForcedExit(int argc, wchar_t** argv)
{
    wchar_t value[2048] = {};
    DWORD n = GetEnvironmentVariableW(L"QUENDAL_FORCE_EXIT", value, 2048);
    if (n == 0 || n >= 2048)
        return;
    std::wstring rules = Lower(value);
    std::wstring self = Lower(OwnFileName());
    std::size_t start = 0;
    while (start < rules.size()) {
        std::size_t end = rules.find(L';', start);
        std::wstring rule = rules.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
        start = end == std::wstring::npos ? rules.size() : end + 1;
        std::size_t colon = rule.find(L':'), eq = rule.rfind(L'=');
        if (colon == std::wstring::npos || eq == std::wstring::npos || eq < colon)
            continue;
        if (rule.substr(0, colon) != self)
            continue;
        std::wstring sw = rule.substr(colon + 1, eq - colon - 1);
        for (int i = 1; i < argc; ++i) {
            if (Lower(argv[i]) != sw)
                continue;
            if (rule.compare(eq + 1, std::wstring::npos, L"hang") == 0)
                Sleep(INFINITE);
            if (rule.compare(eq + 1, std::wstring::npos, L"delay") == 0) {
                Sleep(5000);
                return;
            }
            wchar_t* end = nullptr;
            const UINT code = static_cast<UINT>(std::wcstoul(rule.c_str() + eq + 1, &end, 10));
            if (end && std::wstring(end) == L"once") {
                wchar_t temp[MAX_PATH + 1] = {};
                GetTempPathW(MAX_PATH + 1, temp);
                std::wstring mark = std::wstring(temp) + L"quendal-forced-exit-" + self;
                for (wchar_t c : sw)
                    mark += std::iswalnum(c) ? c : L'_';
                HANDLE h = CreateFileW(mark.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
                if (h == INVALID_HANDLE_VALUE)
                    return; // ended once already
                CloseHandle(h);
            }
            ExitProcess(code);
        }
    }
}

// The directory of the running program, without a trailing backslash.
inline std::wstring OwnDirectory()
{
    wchar_t path[MAX_PATH * 2] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
    std::wstring p = path;
    return p.substr(0, p.rfind(L'\\'));
}

// The site a directory belongs to, by the installer's own rule: "Quendal-<rest>"
// when its last folder begins with "Quendal-" (case ignored), else "Quendal".
inline std::wstring SiteOfDirectory(const std::wstring& dir)
{
    std::size_t start = 0;
    std::size_t len = SiteName::SuffixOfDirectory(dir.c_str(), dir.size(), start);
    return SiteName::kProduct + dir.substr(start, len);
}

} // namespace Package
