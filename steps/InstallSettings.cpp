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

WString& TheSiteName()
{
    static WString site;
    return site;
}
