#pragma once
// The main of the package's window programs: what their window code throws
// (carried out of the window procedure) is shown in a box, and the program
// ends with 1.
#include <windows.h>
#include <exception>

namespace Package {

template <class F>
int RunWindowProgram(const char* title, F&& run)
{
    try {
        return run();
    } catch (const std::exception& e) {
        MessageBoxA(nullptr, e.what(), title, MB_OK | MB_ICONERROR);
    } catch (...) {
        MessageBoxA(nullptr, "Unexpected failure", title, MB_OK | MB_ICONERROR);
    }
    return 1;
}

} // namespace Package
