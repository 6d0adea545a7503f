#pragma once
#include "../../nocrtlib/NoCrtString.h"

// A COM server's registration: an executable runs with "/RegServer" or
// "/UnregServer", a DLL's DllRegisterServer or DllUnregisterServer is called.
// The registration step and every undo and put-back go through it.
namespace ComRegistration {

// Registers or unregisters `serverPath`. Throws InstallError.
void Run(const WString& serverPath, bool unregister, bool inheritHandles);

// Unregisters a server this installation registered, saying so. Never throws.
bool Unregister(const WString& serverPath) noexcept;
// Registers a server again (a replaced installation's, put back), reporting
// a failure as a rollback's. Never throws.
bool Register(const WString& serverPath) noexcept;

} // namespace ComRegistration
