// The installer's entry around a sequence that faults: proves that an access
// violation in the run reaches the entry's handler after the objects on the
// way were destroyed.
#include "../../driver/InstallerEntry.h"
#include <windows.h>

namespace {

struct Announces {
    ~Announces()
    {
        DWORD done;
        const char text[] = "destructor ran\r\n";
        WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, sizeof(text) - 1, &done, nullptr);
    }
};

__attribute__((noinline)) void Fault(volatile int* p)
{
    Announces a;
    *p = 42;
}

void FaultingSequence()
{
    Fault(nullptr);
}

} // namespace

int main()
{
    return InstallerEntry(&FaultingSequence);
}
