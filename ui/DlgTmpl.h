#pragma once
#include "../nocrtlib/NoCrtString.h"
#include <cstdint>
#include <memory>
#include <vector>

class DlgTmplBase {
public:
    virtual ~DlgTmplBase() = default;
};

// A classic dialog template (DLGTEMPLATE, not the extended form) assembled in
// memory, for windows that are not stored as dialog resources. Build gives the
// bytes that CreateDialogIndirectParamW and DialogBoxIndirectParamW take; the
// caller keeps them for as long as windows are made from them.
class DlgTmpl : public DlgTmplBase {
public:
    // WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | DS_SETFOREGROUND
    static constexpr std::uint32_t kDefaultStyle = 0x90CC0200;

    struct Item {
        bool classIsString = false;
        bool titleIsString = false;
        std::uint32_t style = 0;
        std::uint32_t exStyle = 0;
        std::int16_t x = 0, y = 0, cx = 0, cy = 0;
        std::uint16_t id = 0;
        WString className;
        std::uint16_t classOrdinal = 0;
        WString title;
        std::uint16_t titleOrdinal = 0;
        std::vector<std::uint8_t> creationData;
    };

    // Sets the font and DS_SETFONT; the program always uses 8 points.
    void SetFont(const WString& face, std::uint16_t pointSize);
    void AddItem(std::unique_ptr<Item> item) { items.push_back(std::move(item)); }
    std::vector<std::uint8_t> Build() const;

    bool menuIsOrdinal = false, menuIsString = false;
    bool classIsOrdinal = false, classIsString = false;
    bool fontSizeSet = false, fontFaceSet = false;
    std::uint32_t style = kDefaultStyle;
    std::uint32_t exStyle = 0;
    std::uint16_t itemCount = 0;
    std::int16_t x = 0, y = 0, cx = 0, cy = 0;
    std::uint16_t menuOrdinal = 0;
    WString menuName;
    std::uint16_t classOrdinal = 0;
    WString className;
    WString title;
    std::uint16_t fontPointSize = 0;
    WString fontFace;
    std::vector<std::unique_ptr<Item>> items;
};

// The template of the package contents window: a tool window of 190 x 190
// dialog units titled "Korvane Quendal <version> Package Contents".
std::vector<std::uint8_t> BuildPackageContentsTemplate(const WString& productVersion);
