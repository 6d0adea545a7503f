#pragma once
// Answers the message boxes another process shows: a background thread waits
// for a dialog with the given caption, reads its text and presses a button.
#include <windows.h>
#include <string>
#include <vector>

namespace Test {

class Lock {
public:
    explicit Lock(CRITICAL_SECTION& cs) : cs_(cs) { EnterCriticalSection(&cs_); }
    ~Lock() { LeaveCriticalSection(&cs_); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

private:
    CRITICAL_SECTION& cs_;
};

class MessageBoxAnswerer {
public:
    // Presses `button` (IDOK, IDYES, IDNO, ...) in every box titled `caption`.
    MessageBoxAnswerer(std::wstring caption, int button);
    ~MessageBoxAnswerer();
    MessageBoxAnswerer(const MessageBoxAnswerer&) = delete;
    MessageBoxAnswerer& operator=(const MessageBoxAnswerer&) = delete;

    // The texts of the boxes answered so far, in order.
    std::vector<std::wstring> Texts() const;
    // The default button of each box answered so far (IDYES, IDNO, IDOK, ...).
    std::vector<int> DefaultButtons() const;

    // The answering loop, on a thread of its own.
    void Run();

private:

    std::wstring caption_;
    int button_;
    volatile LONG stop_ = 0;
    mutable CRITICAL_SECTION lock_;
    std::vector<std::wstring> texts_;
    std::vector<int> defaults_;
    std::vector<HWND> answered_;
    HANDLE thread_;
};

} // namespace Test
