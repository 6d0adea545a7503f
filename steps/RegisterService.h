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

private:
    WString exePath;
    // A service that existed (an upgrade's, kept by the previous uninstaller)
    // is given back its configuration on rollback, never deleted: it is not
    // this run's, and its account cannot be made again.
    WString previousConfig;
    bool registered = false;
};

// Whether the site's service runs. Throws SystemError when the service
// control manager or the service cannot be asked.
bool IsServiceRunning();
// Starts the site's service. Throws SystemError.
void StartSiteService();

// Starts the site's service once the installation is complete, saying so on
// the console. A start that fails is only a warning (and, in an interactive
// run, a box); the installation still completes.
void StartServiceAfterInstall();
