#pragma once
#include "../nocrtlib/NoCrtString.h"

// The site's own key under the maker's key (HKLM\SOFTWARE\Korvane\<site>):
// what the server keeps there, and what the installer must remember from one
// run to the next while an installation is unfinished.

// The key's path under HKEY_LOCAL_MACHINE.
WString SiteKeyPath(const WString& site);

// Deletes the site's key when it holds no value and no subkey; a key with
// anything in it stays. Never throws.
void DeleteSiteKeyIfEmpty(const WString& site) noexcept;

// A service that ran before an upgrade runs again after it, even when the
// upgrade needs a restart (300) and the caller repeats the command without
// -startService: remembered from before the old site is removed until an
// installation completes. None of them throws: without the value the
// repeated command only lacks -startService.
void RememberRunningService(const WString& site) noexcept;
bool RunningServiceRemembered(const WString& site) noexcept;
void ForgetRunningService(const WString& site) noexcept;
