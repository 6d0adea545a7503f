#include "DeferredFileOps.h"
#include "../wwlib/CReg.h"
#include "../wwlib/SystemInfo.h"
#include <windows.h>
#include "../nocrtlib/NoCrtCompare.h"

using namespace WWLib;

namespace {

// The short (8.3) form in a buffer of 261 characters; empty when the path has
// none (for instance because it does not exist).
WString ShortForm(const WString& path)
{
    wchar_t buf[261] = {};
    DWORD n = GetShortPathNameW(path.c_str(), buf, 261);
    if (n == 0 || n >= 261)
        return WString();
    return WString(buf, n);
}

} // namespace

bool PathExists(const WString& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsDirectory(const WString& path)
{
    DWORD attrs = GetFileAttributesW(path.c_str());
    return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY);
}

bool ScheduleDeleteOnReboot(const WString& path)
{
    return MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
}

namespace {

// The short form of a pending entry's path ("\\??\\C:\\..." in the list),
// comparable with ShortForm's; empty while the path does not exist.
WString ShortFormOfEntry(const WString& entry)
{
    WString source = entry;
    if (source.startsWith(L"\\??\\"))
        source[1] = L'\\';
    WString shortSource = ShortForm(source);
    if (shortSource.startsWith(L"\\\\?\\"))
        shortSource.erase(0, 4);
    return shortSource;
}

// The index of the first pending deletion (not a rename) of the path whose
// short form is `target`, from `from` on; list.size() when there is none.
std::size_t FindDeletion(const WStringList& list, const WString& target, std::size_t from)
{
    for (std::size_t i = from; i + 1 < list.size(); i += 2) {
        if (!list[i + 1].empty())
            continue; // a rename: never touched
        const WString shortSource = ShortFormOfEntry(list[i]);
        if (!shortSource.empty() && EqualNoCase(shortSource, target))
            return i;
    }
    return list.size();
}

// The short form of an existing path, and the pending list; false when the
// path has no short form or the list cannot be read or is empty. The list
// comes first: it is usually absent, and a short form costs a look into the
// folder (a whole listing under Wine), once for each file an installation
// writes.
bool ReadPendingFor(const WString& path, WString& target, WStringList& list)
{
    if (!CRegRead<0>(kSessionManagerKey, kPendingRenamesValue, list).Succeeded() || list.empty())
        return false;
    WString abs = path;
    CPathMakeAbs<0> makeAbs(abs, path);
    target = ShortForm(abs);
    return !target.empty();
}

} // namespace

bool IsPendingDelete(const WString& path) noexcept
{
    try {
        WString target;
        WStringList list;
        return ReadPendingFor(path, target, list) && FindDeletion(list, target, 0) < list.size();
    } catch (...) {
        return false;
    }
}

bool CancelPendingDelete(const WString& path) noexcept
{
    try {
        WString target;
        WStringList list;
        if (!ReadPendingFor(path, target, list))
            return false;
        bool changed = false;
        for (std::size_t i = FindDeletion(list, target, 0); i < list.size(); i = FindDeletion(list, target, i)) {
            WStringList rest;
            for (std::size_t j = 0; j < list.size(); ++j)
                if (j != i && j != i + 1)
                    rest.push_back(list[j]);
            list = std::move(rest);
            changed = true;
        }
        if (!changed)
            return false;
        if (list.empty()) // nothing else pending: as if nothing had ever been
            return CRegDeleteValue<0>(kSessionManagerKey, kPendingRenamesValue).Succeeded();
        CRegWrite<0> write(kSessionManagerKey, kPendingRenamesValue, list);
        return write.Succeeded();
    } catch (...) {
        return false;
    }
}

PendingDeletions::PendingDeletions(bool read) noexcept
{
    try {
        WStringList list;
        if (!read || !CRegRead<0>(kSessionManagerKey, kPendingRenamesValue, list).Succeeded())
            return;
        for (std::size_t i = 0; i + 1 < list.size(); i += 2) {
            if (!list[i + 1].empty())
                continue; // a rename: never touched
            entries_.push_back(Entry{list[i], ShortFormOfEntry(list[i])});
        }
    } catch (...) {
        entries_.clear();
    }
}

bool PendingDeletions::Names(const WString& path) noexcept
{
    try {
        if (entries_.empty())
            return false;
        WString abs = path;
        CPathMakeAbs<0> makeAbs(abs, path);
        const WString target = ShortForm(abs);
        if (target.empty())
            return false;
        for (std::size_t i = 0; i < entries_.size(); ++i) {
            Entry& e = entries_[i];
            if (e.shortForm.empty())
                e.shortForm = ShortFormOfEntry(e.source);
            if (!e.shortForm.empty() && EqualNoCase(e.shortForm, target))
                return true;
        }
    } catch (...) {
    }
    return false;
}
