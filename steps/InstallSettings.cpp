#include "InstallSettings.h"

InstallSettings& TheInstallSettings()
{
    static InstallSettings settings;
    return settings;
}

ServerOptions& TheServerOptions()
{
    static ServerOptions options;
    return options;
}
