#pragma once
#include "OperationWithRollback.h"
#include "../nocrtlib/NoCrtString.h"

// Registers the server's Windows service by running the server with
// "-service", and removes it on rollback with "/unregserver". The server
// reports success by exit code 0. A failure goes to the step policy (110).
class RegisterService : public OperationWithRollback {
public:
    explicit RegisterService(const WString& exePath);
    ~RegisterService();
    bool Registered() const { return registered; }
    // Stops and removes the service through the server's "/unregserver",
    // saying so. Never throws.
    static bool Unregister(const WString& exePath) noexcept;

    // The configuration of an existing service as the journal stores it
    // (its start type, error control, program and display name), or empty
    // when there is no such service.
    static WString SavedConfig(const WString& name);
    // Gives a service that existed before the registration its configuration
    // back, saying so; its account stays as it is. Never throws.
    static bool RestoreConfig(const WString& name, const WString& config) noexcept;

private:
    WString exePath;
    // A service that existed (an upgrade's, kept by the previous uninstaller)
    // is given back its configuration on rollback, never deleted: it is not
    // this run's, and its account cannot be made again.
    WString previousConfig;
    bool registered = false;
};

// The text a registration program's exit code other than 0 is reported with.
WString ExitCodeReason(unsigned long code);

// Whether the site's service runs. Throws SystemError when the service
// control manager or the service cannot be asked.
bool IsServiceRunning();
// Starts the site's service. Throws SystemError.
void StartSiteService();
// Whether a service of that name is known to the service control manager.
bool ServiceExists(const WString& name);
// Starts a service; one that runs already counts as started. Returns empty,
// or why it could not.
WString StartServiceNamed(const WString& name);

// Starts the site's service once the installation is complete, saying so on
// the console. A start that fails is only a warning (and, in an interactive
// run, a box); the installation still completes.
void StartServiceAfterInstall();
