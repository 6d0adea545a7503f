#pragma once
#include "../../nocrtlib/NoCrtString.h"
#include "../../nocrtlib/datavect.h"
#include <cstdint>
#include <windows.h>

// A folder's access control list as the journal saves it, and given back: by
// the securing step on rollback, by a kept installation's folders put back,
// and by the journal's recovery.
namespace UndoSecurity {

// A security descriptor as stored in the journal (hexadecimal digits of its
// self-relative form), and back. Decoding fails for text that is not such a
// descriptor.
WString Encode(const void* selfRelative, std::size_t size);
bool Decode(const WString& text, NoCrtDataVect<std::uint8_t>& out);

// The folder's access list, encoded; empty when it cannot be read.
WString Of(const WString& dir);

// What is reported when an access list cannot be set.
WString SetFailureReason(DWORD error);

// Gives a directory back the access control list (and its protection) of a
// descriptor as the journal stores it, saying so. Never throws.
bool Restore(const WString& dir, const WString& descriptor) noexcept;

} // namespace UndoSecurity
