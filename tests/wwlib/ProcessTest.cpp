#include "../../wwlib/ConsoleOutput.h"
#include "../../wwlib/InstallError.h"
#include "../../wwlib/RunAndWait.h"
#include "../support/Machine.h"
#include <doctest/doctest.h>

using Test::W;

TEST_CASE("RunAndWait returns the child's exit code")
{
    CHECK(RunAndWait(L"cmd.exe /c exit 7", false) == 7);
    CHECK(RunAndWait(L"cmd.exe /c exit 0", true) == 0);
    try {
        RunAndWait(L"\"C:\\no\\such\\program.exe\" -x", false);
        FAIL("no exception");
    } catch (const InstallError& e) {
        CHECK(W(e.Message()).rfind(L"CreateProcessW() failed: Windows error ", 0) == 0);
    }
}

TEST_CASE("console text into a pipe or file is UTF-8 with CR LF line ends")
{
    const wchar_t text[] = L"Path C:\\Z\u00fcrich\\\u65e5\u672c\nnext\r\nlast\n";
    AString bytes = WWLib::ConsoleStreamBuf::EncodeForFile(text, wcslen(text));
    CHECK(std::string(bytes.c_str()) ==
          "Path C:\\Z\xc3\xbcrich\\\xe6\x97\xa5\xe6\x9c\xac\r\nnext\r\nlast\r\n");
}
