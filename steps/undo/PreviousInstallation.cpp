#include "PreviousInstallation.h"
#include "../StepReport.h"
#include "../TargetDirectory.h"
#include "../../nocrtlib/NoCrtCompare.h"
#include "../../wwlib/CReg.h"
#include "../../wwlib/Product.h"
#include "../../wwlib/UninstallParams.h"
#include <windows.h>

namespace {

// The values of one parameter of a stored list, in order.
WWLib::WStringList ValuesOf(const WString& params, const wchar_t* name)
{
    WWLib::WStringList values;
    UninstallParams::ForEach(params, [&](const WString& param, const WString& value) {
        if (!value.empty() && EqualNoCase(param, WString(name)))
            values.push_back(value);
    });
    return values;
}

} // namespace

namespace PreviousInstallation {

bool RemoveWhatIsLeft(const WString& site, const WString& dir, const WString& params) noexcept
{
    bool removed = true;
    try {
        const WString entry = WString(kUninstallKey) + L"\\" + site;
        WString stored;
        if (WWLib::CRegRead<0>(WWLib::RegKeyName(HKEY_LOCAL_MACHINE, entry), L"UninstallParam", stored).Succeeded() &&
            stored == params) {
            StepLine(L"Rollback: removing the previous installation's uninstall entry");
            LONG r = WWLib::RegDeleteKeyTree(HKEY_LOCAL_MACHINE, entry);
            removed = r == ERROR_SUCCESS || r == ERROR_FILE_NOT_FOUND;
        }
        const WString top = ComparablePath(dir);
        WWLib::WStringList files = ValuesOf(params, L"delFile");
        for (std::size_t i = 0; i < files.size(); ++i) {
            const WString path = ComparablePath(files[i]);
            if (!PathBelow(path, top) || GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES)
                continue;
            removed = RemoveOnRollback(L"Rollback: removing the previous installation's " + path, path, &DeleteFileW,
                                       RollbackKind::File) && removed;
        }
        WWLib::WStringList dirs = ValuesOf(params, L"delDir");
        for (std::size_t i = dirs.size(); i-- > 0;) {
            const WString path = ComparablePath(dirs[i]);
            if (PathBelow(path, top) && GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES)
                RemoveDirectoryW(path.c_str()); // one that still holds something stays
        }
    } catch (...) {
        return false;
    }
    return removed;
}

WWLib::WStringList ProgramsIn(const WString& dir, const WString& params)
{
    WWLib::WStringList programs;
    const WString top = ComparablePath(dir);
    WWLib::WStringList files = ValuesOf(params, L"delFile");
    for (std::size_t i = 0; i < files.size(); ++i) {
        const WString path = ComparablePath(files[i]);
        if (PathBelow(path, top) && path.size() > 4 && EqualNoCase(path.substr(path.size() - 4), L".exe"))
            programs.push_back(path);
    }
    return programs;
}

} // namespace PreviousInstallation
