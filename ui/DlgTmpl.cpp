#include "DlgTmpl.h"

namespace {

constexpr std::uint32_t kDsSetFont = 0x40;

class Writer {
public:
    explicit Writer(std::vector<std::uint8_t>& out) : out_(out) {}
    void Word(std::uint16_t v)
    {
        out_.push_back(static_cast<std::uint8_t>(v));
        out_.push_back(static_cast<std::uint8_t>(v >> 8));
    }
    void Dword(std::uint32_t v)
    {
        Word(static_cast<std::uint16_t>(v));
        Word(static_cast<std::uint16_t>(v >> 16));
    }
    void String(const WString& s)
    {
        for (std::size_t i = 0; i < s.size(); ++i)
            Word(static_cast<std::uint16_t>(s[i]));
        Word(0);
    }
    // A name that is absent (0), an ordinal (0xFFFF, ordinal) or a string.
    void NameOrOrdinal(bool isOrdinal, bool isString, std::uint16_t ordinal, const WString& name)
    {
        if (isOrdinal) {
            Word(0xFFFF);
            Word(ordinal);
        } else if (isString) {
            String(name);
        } else {
            Word(0);
        }
    }
    void AlignDword()
    {
        while (out_.size() % 4)
            out_.push_back(0);
    }

private:
    std::vector<std::uint8_t>& out_;
};

void PutDword(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

} // namespace

void DlgTmpl::SetFont(const WString& face, std::uint16_t pointSize)
{
    fontFace = face;
    fontPointSize = pointSize;
    fontFaceSet = fontSizeSet = true;
    style |= kDsSetFont;
}

std::vector<std::uint8_t> DlgTmpl::Build() const
{
    std::vector<std::uint8_t> out;
    Writer w(out);
    w.Dword(style);
    w.Dword(exStyle);
    w.Word(itemCount);
    w.Word(static_cast<std::uint16_t>(x));
    w.Word(static_cast<std::uint16_t>(y));
    w.Word(static_cast<std::uint16_t>(cx));
    w.Word(static_cast<std::uint16_t>(cy));
    w.NameOrOrdinal(menuIsOrdinal, menuIsString, menuOrdinal, menuName);
    w.NameOrOrdinal(classIsOrdinal, classIsString, classOrdinal, className);
    w.String(title);
    const bool font = fontSizeSet && fontFaceSet;
    if (font) {
        w.Word(fontPointSize);
        w.String(fontFace);
    }
    for (const std::unique_ptr<Item>& item : items) {
        w.AlignDword();
        w.Dword(item->style);
        w.Dword(item->exStyle);
        w.Word(static_cast<std::uint16_t>(item->x));
        w.Word(static_cast<std::uint16_t>(item->y));
        w.Word(static_cast<std::uint16_t>(item->cx));
        w.Word(static_cast<std::uint16_t>(item->cy));
        w.Word(item->id);
        w.NameOrOrdinal(!item->classIsString, item->classIsString, item->classOrdinal, item->className);
        w.NameOrOrdinal(!item->titleIsString, item->titleIsString, item->titleOrdinal, item->title);
        if (item->creationData.size() > 0xFFFF) {
            w.Word(0);
        } else {
            w.Word(static_cast<std::uint16_t>(item->creationData.size()));
            out.insert(out.end(), item->creationData.begin(), item->creationData.end());
        }
    }
    // The written style and count follow what was written, whatever the fields say.
    PutDword(out, 0, font ? (style | kDsSetFont) : (style & ~kDsSetFont));
    const std::size_t count = items.size() < 0xFFFF ? items.size() : 0xFFFF;
    out[8] = static_cast<std::uint8_t>(count);
    out[9] = static_cast<std::uint8_t>(count >> 8);
    return out;
}

std::vector<std::uint8_t> BuildPackageContentsTemplate(const WString& productVersion)
{
    DlgTmpl t;
    t.SetFont(L"MS Shell Dlg", 8);
    t.exStyle = 0x00000080; // WS_EX_TOOLWINDOW
    t.x = t.y = 0;          // the window centres itself when it opens
    t.cx = t.cy = 190;
    t.title = L"Korvane Quendal " + productVersion + L" Package Contents";
    return t.Build();
}
