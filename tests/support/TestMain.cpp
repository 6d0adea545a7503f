#define DOCTEST_CONFIG_IMPLEMENT
#include <doctest/doctest.h>
#include <windows.h>

// Each test program is the first command of a new prefix's session: Wine's
// service control manager may still be starting when the first test asks it
// for something. Wait (half a minute at most) until it answers.
int main(int argc, char** argv)
{
    for (int i = 0; i < 300; ++i) {
        SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE);
        if (scm) {
            CloseServiceHandle(scm);
            break;
        }
        Sleep(100);
    }
    doctest::Context context(argc, argv);
    return context.run();
}
