#include "NoCrtPath.h"

bool IsAbsolutePath(const WString& path)
{
    return path.size() > 2 && ((path[1] == L':' && path[2] == L'\\') || (path[0] == L'\\' && path[1] == L'\\'));
}

WString PathJoin(const WString& first, const WString& second)
{
    if (first.empty() || second.empty())
        return first + second;
    bool firstEnds = first[first.size() - 1] == L'\\';
    bool secondBegins = second[0] == L'\\';
    if (firstEnds && secondBegins)
        return first + second.substr(1);
    if (firstEnds || secondBegins)
        return first + second;
    WString r;
    r.reserve(first.size() + 1 + second.size());
    r.append(first);
    r.append(L'\\');
    r.append(second);
    return r;
}

SplitPath SplitAtLast(const WString& path, wchar_t separator)
{
    WString p = path;
    for (;;) {
        std::size_t pos = p.rfind(separator);
        if (pos == WString::npos)
            return {p, WString()};
        if (pos == p.size() - 1 && pos != 0) {
            p.erase(pos);
            continue;
        }
        return {p.substr(0, pos), p.substr(pos + 1)};
    }
}
