#pragma once
// The grammar of an uninstall entry's "UninstallParam" list, which the
// installer writes and both the installer (to undo an upgrade) and the
// product's uninstaller read: one place, so that the two readings cannot
// differ. The list is a sequence of parameters separated by spaces, each
// "-name=value" (a flag: "-name"), quoted as a whole when it holds a space:
//     -feedback=yes "-workDir=C:\Sites\Quendal-A" "-delFile=C:\Sites\Quendal-A\Quendal.exe"
// A value cannot hold a double quote (no path, key or site name does).
// Header-only, over any string type with find, substr and +=: the
// installer's strings and the uninstaller's standard ones.
#include <cstddef>

namespace UninstallParams {

// Appends ` "-name=value"`; false, and nothing appended, for a value that
// holds a double quote.
template <class String>
bool Append(String& list, const wchar_t* name, const String& value)
{
    if (value.find(L'"') != String::npos)
        return false;
    list += L" \"-";
    list += name;
    list += L"=";
    list += value;
    list += L"\"";
    return true;
}

// Calls each(name, value) for every parameter, in order; a token that does
// not begin with "-" is no parameter and is passed over. A flag has an empty
// value; an unclosed quote runs to the end of the list.
template <class String, class Each>
void ForEach(const String& list, Each each)
{
    std::size_t i = 0;
    while (i < list.size()) {
        while (i < list.size() && list[i] == L' ')
            ++i;
        if (i >= list.size())
            break;
        String token;
        if (list[i] == L'"') {
            std::size_t close = list.find(L'"', i + 1);
            if (close == String::npos)
                close = list.size();
            token = list.substr(i + 1, close - i - 1);
            i = close + 1;
        } else {
            std::size_t end = list.find(L' ', i);
            if (end == String::npos)
                end = list.size();
            token = list.substr(i, end - i);
            i = end;
        }
        if (token.size() < 2 || token[0] != L'-')
            continue;
        std::size_t eq = token.find(L'=');
        each(token.substr(1, eq == String::npos ? String::npos : eq - 1),
             eq == String::npos ? String() : token.substr(eq + 1));
    }
}

} // namespace UninstallParams
