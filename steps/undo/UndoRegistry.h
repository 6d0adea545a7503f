#pragma once
#include "../../nocrtlib/NoCrtString.h"

// The registry values the steps write, taken back: the uninstall entry (and
// the one it replaced, written back) and the first-run flag.
namespace UndoRegistry {

// The values of a key under HKEY_LOCAL_MACHINE (not its subkeys: an entry
// keeps none) as one text, to be written back by RestoreEntry; "-" for a key
// without values, empty when there is no such key.
WString SavedEntry(const WString& keyPath);

// Deletes the entry's key (a path under HKEY_LOCAL_MACHINE), saying so, and
// writes back the values of an entry it replaced (`previous`, as SavedEntry
// gives them). With `ownValuesOnly` (a journal's record, read back from the
// disk) only the values this program writes come back, with their types.
// Returns whether that worked. Never throws.
bool RestoreEntry(const WString& keyPath, const WString& previous = WString(), bool ownValuesOnly = false) noexcept;

// Deletes the first-run flag from the site's key (a path under
// HKEY_LOCAL_MACHINE), and the key when `keyCreated`. Never throws.
void RemoveFirstRunFlag(const WString& keyPath, bool keyCreated) noexcept;

} // namespace UndoRegistry
