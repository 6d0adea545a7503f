#pragma once
#include "../nocrtlib/NoCrtVector.h"
#include "../nocrtlib/NoCrtString.h"
#include "../wwlib/Product.h"


// One installed copy of the product, as its uninstall entry describes it.
struct InstalledSite {
    WString siteName;
    // The directory of the installed uninstaller; empty when the entry names none.
    WString installDir;
    WString version;
};
using InstalledSiteList = NoCrtVector<InstalledSite>;

// The site an installation directory belongs to: "Quendal-<rest>" when the
// last folder name begins with "Quendal-" (case ignored), else "Quendal"
// (wwlib/SiteName.h, the rule the package's programs follow too).
WString SiteNameFromDir(const WString& installDir);

// The installed sites of the product, in registry order. Entries that cannot
// be read or are inconsistent are left out; never throws for registry problems.
InstalledSiteList FindInstalledSites(const WString& productName);

// One string value of a site's uninstall entry; empty on any failure.
WString ReadSiteUninstallValue(const WString& siteName, const WString& valueName);

// True when `name` is the product itself or begins with "<product>-" (case ignored).
bool IsSiteOfProduct(const WString& productName, const WString& name);

// True when `name` can name a site: "Quendal", or "Quendal-" followed by
// a folder name: no \ / : * ? " < > | or control character, not "." or "..",
// no trailing dot or space, and not a device name (CON, PRN, AUX, NUL,
// COM1-COM9, LPT1-LPT9, CONIN$, CONOUT$, with or without an extension).
bool IsValidSiteName(const WString& name);

// The directory an installed site's entry names, when it is that site's: its
// last folder gives back the site's name. Empty otherwise, and for an entry
// that names no directory.
WString OwnDirectoryOf(const InstalledSite& site);
