// Dialog templates assembled in memory: the bytes, and what Windows makes of them.
#include "../../ui/DlgTmpl.h"
#include "../../ui/UiBoundary.h"
#include <doctest/doctest.h>
#include <windows.h>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

namespace {

void Append(Bytes& b, std::initializer_list<int> bytes)
{
    for (int v : bytes)
        b.push_back(static_cast<std::uint8_t>(v));
}

// An ASCII text as UTF-16 with its terminating zero.
void AppendText(Bytes& b, const char* text)
{
    for (const char* p = text;; ++p) {
        Append(b, {static_cast<unsigned char>(*p), 0});
        if (!*p)
            break;
    }
}

INT_PTR CALLBACK EmptyDialogProc(HWND, UINT msg, WPARAM, LPARAM)
{
    return msg == WM_INITDIALOG;
}

} // namespace

TEST_CASE("the package contents template, byte for byte")
{
    Bytes expected;
    Append(expected, {0x40, 0x02, 0xCC, 0x90});   // style: the default with DS_SETFONT
    Append(expected, {0x80, 0x00, 0x00, 0x00});   // WS_EX_TOOLWINDOW
    Append(expected, {0x00, 0x00});               // no items
    Append(expected, {0x00, 0x00, 0x00, 0x00});   // x, y
    Append(expected, {0xBE, 0x00, 0xBE, 0x00});   // 190 x 190
    Append(expected, {0x00, 0x00, 0x00, 0x00});   // no menu, the standard class
    AppendText(expected, "Korvane Quendal 5.18 Package Contents");
    Append(expected, {0x08, 0x00});               // 8 points
    AppendText(expected, "MS Shell Dlg");
    CHECK(BuildPackageContentsTemplate(L"5.18") == expected);
}

TEST_CASE("the serialiser: names, font flag, alignment and item count")
{
    SUBCASE("without a font DS_SETFONT is cleared, whatever the style field says")
    {
        DlgTmpl t;
        t.style |= 0x40;
        Bytes b = t.Build();
        CHECK(b.size() == 18 + 2 + 2 + 2);
        CHECK(b[0] == 0x00);
        CHECK(b[1] == 0x02);
    }
    SUBCASE("a menu and a class by ordinal or by name")
    {
        DlgTmpl t;
        t.menuIsOrdinal = true;
        t.menuOrdinal = 0x1234;
        t.classIsString = true;
        t.className = L"Cls";
        Bytes b = t.Build();
        Bytes tail(b.begin() + 18, b.end());
        Bytes expected;
        Append(expected, {0xFF, 0xFF, 0x34, 0x12});
        AppendText(expected, "Cls");
        AppendText(expected, "");
        CHECK(tail == expected);
    }
    SUBCASE("an item after an odd number of words starts on a 4-byte boundary")
    {
        DlgTmpl t;
        t.title = L"A"; // 18 + 2 + 2 + 4 = 26 bytes: two bytes of padding follow
        auto item = std::make_unique<DlgTmpl::Item>();
        item->style = WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON;
        item->x = 5;
        item->y = -1;
        item->cx = 50;
        item->cy = 14;
        item->id = 1;
        item->classOrdinal = 0x0080;
        item->titleIsString = true;
        item->title = L"OK";
        item->creationData = {0xAB};
        t.AddItem(std::move(item));
        Bytes b = t.Build();
        REQUIRE(b.size() == 28 + 18 + 4 + 6 + 2 + 1);
        CHECK(b[8] == 1); // the item count written is the number of items
        CHECK(b[26] == 0);
        CHECK(b[27] == 0);
        Bytes itemBytes(b.begin() + 28, b.end());
        Bytes expected;
        Append(expected, {0x00, 0x00, 0x00, 0x50, 0, 0, 0, 0});
        Append(expected, {5, 0, 0xFF, 0xFF, 50, 0, 14, 0, 1, 0});
        Append(expected, {0xFF, 0xFF, 0x80, 0x00});
        AppendText(expected, "OK");
        Append(expected, {1, 0, 0xAB});
        CHECK(itemBytes == expected);
    }
    SUBCASE("creation data over 0xFFFF bytes is written as none")
    {
        DlgTmpl t;
        auto item = std::make_unique<DlgTmpl::Item>();
        item->creationData.assign(0x10000, 1);
        t.AddItem(std::move(item));
        Bytes b = t.Build();
        CHECK(b.size() == 24 + 18 + 4 + 4 + 2);
        CHECK(b.back() == 0);
    }
}

TEST_CASE("Windows makes dialogs of the templates")
{
    SUBCASE("a template without items gives an empty dialog")
    {
        Bytes b = BuildPackageContentsTemplate(L"5.18");
        HWND dlg = CreateDialogIndirectParamW(GetModuleHandleW(nullptr), reinterpret_cast<LPCDLGTEMPLATEW>(b.data()),
                                              nullptr, &EmptyDialogProc, 0);
        REQUIRE(dlg != nullptr);
        wchar_t title[128] = {};
        GetWindowTextW(dlg, title, 128);
        CHECK(std::wstring(title) == L"Korvane Quendal 5.18 Package Contents");
        CHECK(GetWindow(dlg, GW_CHILD) == nullptr);
        CHECK((GetWindowLongPtrW(dlg, GWL_EXSTYLE) & WS_EX_TOOLWINDOW) != 0);
        DestroyWindow(dlg);
    }
    SUBCASE("an item becomes a control")
    {
        DlgTmpl t;
        t.SetFont(L"MS Shell Dlg", 8);
        t.style &= ~WS_VISIBLE;
        t.cx = 100;
        t.cy = 50;
        auto item = std::make_unique<DlgTmpl::Item>();
        item->style = WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON;
        item->cx = 40;
        item->cy = 14;
        item->id = 77;
        item->classOrdinal = 0x0080;
        item->titleIsString = true;
        item->title = L"Press";
        t.AddItem(std::move(item));
        Bytes b = t.Build();
        HWND dlg = CreateDialogIndirectParamW(GetModuleHandleW(nullptr), reinterpret_cast<LPCDLGTEMPLATEW>(b.data()),
                                              nullptr, &EmptyDialogProc, 0);
        REQUIRE(dlg != nullptr);
        HWND button = GetDlgItem(dlg, 77);
        REQUIRE(button != nullptr);
        wchar_t cls[32] = {}, text[32] = {};
        GetClassNameW(button, cls, 32);
        GetWindowTextW(button, text, 32);
        CHECK(std::wstring(cls) == L"Button");
        CHECK(std::wstring(text) == L"Press");
        DestroyWindow(dlg);
    }
}
