#include "FirstRunFlag.h"
#include "undo/UndoRegistry.h"
#include "DeferredFileOps.h"
#include "InstallJournal.h"
#include "SiteKey.h"
#include "../wwlib/CReg.h"
#include "../wwlib/Product.h"
#include <windows.h>

FirstRunFlag::FirstRunFlag(const WString& installDir, const WString& site)
    : keyPath_(SiteKeyPath(site))
{
    WString settings = installDir + L"\\Config\\Quendal-Settings.qst";
    if (PathExists(settings) && !IsDirectory(settings))
        return;
    // Set already (the installation this one replaces had it): neither this
    // run's to set nor its to take away.
    HKEY existing;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath_.c_str(), 0, KEY_QUERY_VALUE, &existing) == ERROR_SUCCESS) {
        const bool set = RegQueryValueExW(existing, L"FirstRunFlag", nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
        RegCloseKey(existing);
        if (set)
            return;
    }
    InstallJournal::Record(UndoKind::FirstRunFlag, keyPath_);
    WWLib::CRegCreate<0> key(keyPath_, KEY_WRITE);
    if (key.Failed())
        return;
    keyCreated_ = key.Created();
    DWORD one = 1;
    written_ = RegSetValueExW(key.Key(), L"FirstRunFlag", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one),
                              sizeof(one)) == ERROR_SUCCESS;
}

FirstRunFlag::~FirstRunFlag()
{
    if (ShouldRollBack(written_))
        UndoRegistry::RemoveFirstRunFlag(keyPath_, keyCreated_);
}
