// Measures the package writer against liblzma alone on one package file:
//   package_bench.exe PACKAGE
// or, as the installation profile's baseline, says that it started, then
// brings up the desktop (as the first window or shell object of any program
// does) and says so:
//   package_bench.exe --desktop
// (a) decoding the package to memory, (b) writing its files into an empty
// folder, both from the same mapped bytes, five times each; then the
// medians, their ratio, the writer's throughput and the process's peak memory.
#include "../../steps/InstallSettings.h"
#include "../../steps/LzmaAloneDecoder.h"
#include "../../steps/WriteFilesFromLzmaStream.h"
#include <windows.h>
#include <psapi.h>
#include <cstdio>
#include <algorithm>
#include <iostream>
#include <vector>

namespace {

struct NullBuf : std::wstreambuf {
    int_type overflow(int_type c) override { return traits_type::not_eof(c); }
};

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to)
{
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return double(to.QuadPart - from.QuadPart) / double(f.QuadPart);
}

void DeleteTree(const std::wstring& path)
{
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((path + L"\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = fd.cFileName;
            if (name == L"." || name == L"..")
                continue;
            std::wstring full = path + L"\\" + name;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                DeleteTree(full);
            else
                DeleteFileW(full.c_str());
        } while (FindNextFileW(h, &fd));
        FindClose(h);
    }
    RemoveDirectoryW(path.c_str());
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// (a) liblzma alone, output discarded; -1 when the package does not decode.
double DecodeAlone(const std::uint8_t* data, std::size_t size, std::uint64_t plain)
{
    LARGE_INTEGER t0, t1;
    QueryPerformanceCounter(&t0);
    LzmaAloneDecoder decoder;
    decoder.Init(data);
    std::vector<std::uint8_t> out(0x20000);
    const std::uint8_t* in = data + 13;
    std::size_t inLeft = size - 13;
    for (std::uint64_t left = plain; left;) {
        std::size_t consumed = 0, produced = 0;
        std::size_t want = left < out.size() ? static_cast<std::size_t>(left) : out.size();
        if (decoder.Decode(in, inLeft, out.data(), want, consumed, produced) != 0 || !produced)
            return -1;
        in += consumed;
        inLeft -= consumed;
        left -= produced;
    }
    QueryPerformanceCounter(&t1);
    return Seconds(t0, t1);
}

// (b) the writer into an empty folder, its console lines discarded.
double WriteAll(const std::wstring& target, const std::uint8_t* data, std::size_t size)
{
    NullBuf quiet;
    std::wstreambuf* old = std::wcout.rdbuf(&quiet);
    LARGE_INTEGER t0, t1;
    QueryPerformanceCounter(&t0);
    {
        WriteFilesFromLzmaStream writer({target.c_str(), L"", L"", L""}, WriteFilesFromLzmaStream::AllFiles, data,
                                        size);
        writer.Commit();
    }
    QueryPerformanceCounter(&t1);
    std::wcout.rdbuf(old);
    return Seconds(t0, t1);
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: package_bench PACKAGE | --desktop\n");
        return 2;
    }
    if (lstrcmpW(argv[1], L"--desktop") == 0) {
        // Under Wine the desktop is a process of its own, started on demand:
        // one line before it, one once it is up.
        std::printf("started\n");
        std::fflush(stdout);
        std::printf("desktop %s\n", GetDesktopWindow() ? "up" : "missing");
        std::fflush(stdout);
        return 0;
    }
    HANDLE file = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "cannot open the package\n");
        return 1;
    }
    DWORD size = GetFileSize(file, nullptr);
    HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    const auto* data = static_cast<const std::uint8_t*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
    std::uint64_t plain = 0;
    for (int i = 7; i >= 0; --i)
        plain = (plain << 8) | data[5 + i];

    // Five rounds of each, taken in turns, so that a disturbance of the
    // machine touches both sides; the medians are compared.
    const int kRounds = 5;
    std::vector<double> decodeTimes, writeTimes;
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    const std::wstring target = std::wstring(tmp) + L"quendal-bench";
    TheInstallSettings().interactive = false;
    for (int round = 0; round < kRounds; ++round) {
        double a = DecodeAlone(data, size, plain);
        if (a < 0)
            return 1;
        decodeTimes.push_back(a);
        DeleteTree(target);
        CreateDirectoryW(target.c_str(), nullptr);
        // The product package's one subfolder, which an installation makes
        // in a step of its own before the files.
        CreateDirectoryW((target + L"\\TermInfo").c_str(), nullptr);
        // Each round as one installation's: its own uninstall parameters.
        TheInstallSettings().uninstallParams.clear();
        try {
            writeTimes.push_back(WriteAll(target, data, size));
        } catch (const std::exception& e) {
            std::fprintf(stderr, "the writer failed: %s\n", e.what());
            return 1;
        }
        // Committed, the files stay: the bench removes them itself.
        DeleteTree(target);
    }

    PROCESS_MEMORY_COUNTERS pmc = {};
    pmc.cb = sizeof(pmc);
    GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof(pmc));
    const double a = Median(decodeTimes), b = Median(writeTimes);
    const double mb = double(plain) / 1e6;
    std::printf("package: %.1f MB packed, %.1f MB unpacked, %d rounds, medians\n", size / 1e6, mb, kRounds);
    std::printf("(a) liblzma decoding to memory: %.3f s (%.1f MB/s)\n", a, mb / a);
    std::printf("(b) WriteFilesFromLzmaStream:   %.3f s (%.1f MB/s)\n", b, mb / b);
    std::printf("ratio b/a: %.2f\n", b / a);
    // The mapped package's pages count into the working set as they are
    // read; what is left is the program's own memory.
    std::printf("peak working set: %.1f MB, less the packed package read in place: %.1f MB\n",
                pmc.PeakWorkingSetSize / 1048576.0, (pmc.PeakWorkingSetSize - size) / 1048576.0);
    UnmapViewOfFile(data);
    CloseHandle(mapping);
    CloseHandle(file);
    return 0;
}
