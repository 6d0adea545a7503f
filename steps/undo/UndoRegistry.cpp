#include "UndoRegistry.h"
#include "../StepReport.h"
#include "../../nocrtlib/NoCrtCompare.h"
#include "../../nocrtlib/NoCrtConvert.h"
#include "../../nocrtlib/NoCrtFormat.h"
#include "../../wwlib/CReg.h"
#include "../../wwlib/ErrorText.h"
#include <windows.h>

using namespace WWLib;

namespace {

// Each value as "<name in hex>.<type>.<data in hex>", separated by commas:
// hexadecimal holds neither separator.
void Append(WString& text, const WString& name, DWORD type, const BYTE* data, DWORD size)
{
    if (!text.empty())
        text += L',';
    text += BytesToHex(name.c_str(), name.size() * sizeof(wchar_t));
    text += L'.';
    wchar_t digits[24];
    FormatUnsigned(type, 1, 10, digits);
    text += digits;
    text += L'.';
    text += BytesToHex(data, size);
}

// The values the entry is written with, and their types.
bool IsOwnValue(const WString& name, DWORD type)
{
    static const wchar_t* const texts[] = {L"DisplayName", L"DisplayIcon", L"UninstallString", L"UninstallParam",
                                           L"InstallDir", L"ProductName", L"Version", L"DisplayVersion",
                                           L"Publisher", L"InstallLocation", L"QuietUninstallString",
                                           L"InstallDate", L"URLInfoAbout"};
    static const wchar_t* const numbers[] = {L"EstimatedSize", L"NoModify", L"NoRepair"};
    for (const wchar_t* text : texts)
        if (type == REG_SZ && EqualNoCase(name, text))
            return true;
    for (const wchar_t* number : numbers)
        if (type == REG_DWORD && EqualNoCase(name, number))
            return true;
    return false;
}

bool WriteBack(HKEY key, const WString& saved, bool ownValuesOnly)
{
    std::size_t start = 0;
    while (start < saved.size()) {
        std::size_t comma = saved.find(L',', start);
        WString item = saved.substr(start, comma == WString::npos ? WString::npos : comma - start);
        start = comma == WString::npos ? saved.size() : comma + 1;
        std::size_t dot1 = item.find(L'.'), dot2 = dot1 == WString::npos ? WString::npos : item.find(L'.', dot1 + 1);
        NoCrtDataVect<std::uint8_t> name, data;
        if (dot2 == WString::npos || !HexToBytes(item.substr(0, dot1), name) || name.size() % 2 ||
            !HexToBytes(item.substr(dot2 + 1), data))
            return false;
        DWORD type = 0;
        for (std::size_t i = dot1 + 1; i < dot2; ++i)
            type = type * 10 + static_cast<DWORD>(item[i] - L'0');
        WString valueName(reinterpret_cast<const wchar_t*>(name.data()), name.size() / 2);
        if (ownValuesOnly && !IsOwnValue(valueName, type))
            continue;
        if (RegSetValueExW(key, valueName.c_str(), 0, type, data.data(), static_cast<DWORD>(data.size())) !=
            ERROR_SUCCESS)
            return false;
    }
    return true;
}

} // namespace

namespace UndoRegistry {

WString SavedEntry(const WString& keyPath)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return WString();
    WString text;
    for (DWORD i = 0;; ++i) {
        wchar_t name[16384];
        DWORD nameLen = 16384, type = 0, size = 0;
        if (RegEnumValueW(key, i, name, &nameLen, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
            break;
        NoCrtDataVect<BYTE> data;
        data.resize(size ? size : 1);
        nameLen = 16384;
        if (RegEnumValueW(key, i, name, &nameLen, nullptr, &type, data.data(), &size) != ERROR_SUCCESS)
            break;
        Append(text, WString(name, nameLen), type, data.data(), size);
    }
    RegCloseKey(key);
    // A key without values still comes back, as a key.
    return text.empty() ? WString(L"-") : text;
}

bool RestoreEntry(const WString& keyPath, const WString& previous, bool ownValuesOnly) noexcept
{
    try {
        StepLine(L"Rollback: unregistering uninstaller");
        LONG r = RegDeleteKeyTree(HKEY_LOCAL_MACHINE, keyPath);
        if (r != ERROR_SUCCESS && r != ERROR_FILE_NOT_FOUND) {
            ReportRollbackFailure(RollbackKind::UninstallerEntry, WString(), WindowsErrorText(static_cast<DWORD>(r)));
            return false;
        }
        if (previous.empty())
            return true;
        StepLine(L"Rollback: restoring the previous uninstall entry " + keyPath);
        HKEY key = nullptr;
        r = RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
        if (r != ERROR_SUCCESS) {
            ReportRollbackFailure(RollbackKind::UninstallerEntry, WString(), WindowsErrorText(static_cast<DWORD>(r)));
            return false;
        }
        bool ok = previous == WString(L"-") || WriteBack(key, previous, ownValuesOnly);
        RegCloseKey(key);
        return ok;
    } catch (...) {
        return false;
    }
}

void RemoveFirstRunFlag(const WString& keyPath, bool keyCreated) noexcept
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        RegDeleteValueW(key, L"FirstRunFlag");
        RegCloseKey(key);
    }
    // A failed removal leaves only the key; the run is failing already.
    if (keyCreated)
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, keyPath.c_str());
}

} // namespace UndoRegistry
