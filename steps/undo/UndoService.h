#pragma once
#include "../../nocrtlib/NoCrtString.h"

// The site's Windows service as a rollback and a recovery see it: removed
// when this run registered it, given its configuration back when it was
// there before, registered and started again when a kept installation comes
// back. What changes something says so; a failure is reported as a
// rollback's.
namespace UndoService {

// Whether a service of that name is known to the service control manager.
bool Exists(const WString& name);
// Starts a service; one that runs already counts as started. Returns empty,
// or why it could not.
WString Start(const WString& name);

// The configuration of an existing service as the journal stores it (its
// start type, error control, program and display name), or empty when there
// is no such service.
WString SavedConfig(const WString& name);
// Gives a service that existed before the registration its configuration
// back; its account stays as it is. Never throws.
bool RestoreConfig(const WString& name, const WString& config) noexcept;

// Stops and removes the service through the server's "/unregserver". Never
// throws.
bool Unregister(const WString& exePath) noexcept;
// Registers the service again through the server's "-service" (a replaced
// installation's, put back). Never throws.
bool Register(const WString& exePath) noexcept;

} // namespace UndoService
