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

private:
    WString exePath;
    bool registered = false;
};

// The text a registration program's exit code other than 0 is reported with.
WString ExitCodeReason(unsigned long code);

// Whether the site's service runs. Throws SystemError when the service
// control manager or the service cannot be asked.
bool IsServiceRunning();
// Starts the site's service. Throws SystemError.
void StartSiteService();

// Starts the site's service once the installation is complete, saying so on
// the console. A start that fails is only a warning (and, in an interactive
// run, a box); the installation still completes.
void StartServiceAfterInstall();
