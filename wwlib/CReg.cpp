#include "CReg.h"

namespace WWLib {
namespace {

struct RootName {
    const wchar_t* name;
    HKEY root;
};

const RootName kRoots[] = {
    {L"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
    {L"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
    {L"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {L"HKCU", HKEY_CURRENT_USER},
    {L"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
    {L"HKLM", HKEY_LOCAL_MACHINE},
    {L"HKEY_USERS", HKEY_USERS},
    {L"HKEY_PERFORMANCE_DATA", HKEY_PERFORMANCE_DATA},
    {L"HKEY_DYN_DATA", HKEY_DYN_DATA},
};

wchar_t AsciiUpper(wchar_t c)
{
    return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

} // namespace

HKEY RegRootFromName(const wchar_t* name, std::size_t len)
{
    for (const RootName& r : kRoots) {
        std::size_t i = 0;
        while (i < len && r.name[i] && AsciiUpper(name[i]) == AsciiUpper(r.name[i]))
            ++i;
        if (i == len && !r.name[i])
            return r.root;
    }
    return nullptr;
}

RegKeyName RegKeyName::Path(const WString& path)
{
    std::size_t slash = path.find(L'\\');
    if (slash == WString::npos)
        return RegKeyName(RegRootFromName(path.c_str(), path.size()), WString());
    return RegKeyName(RegRootFromName(path.c_str(), slash), path.substr(slash + 1));
}

} // namespace WWLib

namespace WWLib {

LONG RegDeleteKeyTree(HKEY root, const WString& subkey)
{
    WStringList children;
    {
        CRegList<0> list(RegKeyName(root, subkey));
        list.List(children);
    }
    for (std::size_t i = 0; i < children.size(); ++i)
        RegDeleteKeyTree(root, subkey + L"\\" + children[i]);
    return RegDeleteKeyW(root, subkey.c_str());
}

} // namespace WWLib
