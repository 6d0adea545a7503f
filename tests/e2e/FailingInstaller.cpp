// The installer's entry around a sequence that fails in a chosen way, to see
// how the entry reports each: QUENDAL_TEST_FAILURE = "access-violation" (the
// default), "bad-string" (a string made from a bad pointer), "dialog" (the
// main dialog made without its data record: it throws inside its window
// procedure), "dialog-data" (the main dialog with a record: built without the
// agreement's resource, its initialisation fails), "std-exception",
// "unrecognized" or "silent-exit".
#include "../../driver/InstallerEntry.h"
#include "../../nocrtlib/NoCrtString.h"
#include "../../ui/MainDialog.h"
#include "../../ui/UiBoundary.h"
#include "../../wwlib/DllLoader.h"
#include "../../wwlib/SilentExit.h"
#include <windows.h>
#include <cstring>
#include <stdexcept>

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

void FailingSequence()
{
    char mode[64] = {};
    GetEnvironmentVariableA("QUENDAL_TEST_FAILURE", mode, sizeof(mode));
    if (std::strcmp(mode, "std-exception") == 0)
        throw std::runtime_error("runtime trouble");
    if (std::strcmp(mode, "unrecognized") == 0)
        throw 42;
    if (std::strcmp(mode, "silent-exit") == 0)
        throw SilentExit(77);
    if (std::strcmp(mode, "dialog") == 0) {
        WWLib::LoadProcessRichEdit();
        UiBoundary::SetModalDialog(nullptr);
        DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(MainDialog::kTemplateId), nullptr,
                        &MainDialog::DialogProc, 0);
        UiBoundary::RethrowPending();
        throw SilentExit(1);
    }
    if (std::strcmp(mode, "dialog-data") == 0) {
        WWLib::LoadProcessRichEdit();
        bool accepted = false, panel = true;
        WString dir(L"C:\\Q");
        MainDialog::SiteList sites;
        MainDialog::Data data{&accepted, &dir, &panel, &sites};
        throw SilentExit(static_cast<int>(MainDialog::Run(data)));
    }
    if (std::strcmp(mode, "bad-string") == 0) {
        // Measuring the text faults: in this program's own code, so translated.
        const wchar_t* volatile bad = reinterpret_cast<const wchar_t*>(16);
        WString text(bad);
        throw SilentExit(static_cast<int>(text.size()));
    }
    Fault(nullptr);
}

} // namespace

int main()
{
    return InstallerEntry(&FailingSequence);
}
