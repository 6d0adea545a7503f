#include "InstallOptions.h"
#include "../wwlib/CanonicalPath.h"
#include "../nocrtlib/NoCrtPath.h"
#include "../steps/TargetDirectory.h"
#include "../steps/ShellFolders.h"
#include "../upgrade/InstalledSites.h"
#include "../wwlib/Product.h"
#include "../wwlib/SilentExit.h"
#include "../wwlib/SystemInfo.h"
#include "../wwlib/ErrorText.h"
#include "../wwlib/SystemError.h"
#include "../nocrtlib/NoCrtCompare.h"

namespace {

const wchar_t kUsageBody[] =
    L"\n"
    L"on the machine it is being run on.\n"
    L"\n"
    L"Quendal is an SSH2 server for Windows 2000/XP/2003/Vista/2008/7.\n"
    L"\n"
    L"This program must be run by a user with administrator privileges. If run\n"
    L"without command line options, installation will be performed in interactive\n"
    L"mode. If run with command line options, installation will be performed in\n"
    L"unattended mode.\n"
    L"\n"
    L"Usage (unattended mode only):\n"
    L" QuendalInstaller -installDir=directory OR -site=site-name\n"
    L"                  [-acceptEULA] [-force] [-noRollback]\n"
    L"                  [-settings=settings-file]\n"
    L"                  [-startService]\n"
    L"                  [-log=log-file]\n"
    L"\n"
    L" site-name: \"Quendal\" for the default site\n"
    L"            \"Quendal-<name>\" for a named site\n"
    L"\n"
    L"IMPORTANT: Applications like the Windows Event Viewer can lock Quendal files\n"
    L"that need to be replaced during an upgrade. If the installer cannot replace\n"
    L"files because they are locked, it will return with exit code 300. This exit\n"
    L"code indicates that the installer must be run again using the same parameters\n"
    L"after the computer has been restarted, or after ALL programs that had locked\n"
    L"Quendal files, in any logon session, have been closed.\n";

const WString g_usage = WString(L"This program will install Korvane Quendal ") + Product::kVersion + kUsageBody;

// The directory as the rest of the run expects it: canonical, from the
// current directory when relative. A path that has no such form is refused.
WString NormalizeDir(const WString& dir)
{
    WString canonical;
    WString refused = WWLib::CanonicalPath(dir, canonical, true);
    if (!refused.empty())
        throw CmdLine::Err(L"Refusing to install into '" + dir + L"': " + refused + L".");
    return canonical;
}

} // namespace

const WString& UsageText()
{
    return g_usage;
}

void ParseInstallOptions(CmdLine& cmd, InstallSettings& settings, const wchar_t* productName)
{
    if (cmd.ParameterCount() <= 1 && cmd.OptionCount() == 0) {
        settings.interactive = true;
        return;
    }
    settings.interactive = false;
    if (cmd.IsHelp())
        throw SilentExit(200);
    settings.interactive = cmd.Flag(L"interactive", true);
    settings.force = cmd.Flag(L"force", true);
    settings.noRollback = cmd.Flag(L"noRollback", true);
    settings.acceptEULA = cmd.Flag(L"acceptEULA", true);

    WString dir;
    cmd.Value(L"installDir", dir);
    WString site;
    cmd.Value(L"site", site);

    if (dir.empty()) {
        if (site.empty()) {
            WString msg = L"Missing '-installDir'";
            if (productName)
                msg += L" or '-site'";
            throw CmdLine::Err(msg + L" parameter.");
        }
        if (productName && !IsValidSiteName(site))
            throw CmdLine::Err(L"Invalid '-site' parameter: '" + site + L"' is not '" + productName + L"' or '" +
                               productName + L"-' followed by a folder name.");
        // An entry that names a folder of another name is not this site's.
        InstalledSiteList sites = FindInstalledSites(productName);
        for (std::size_t i = 0; i < sites.size() && dir.empty(); ++i)
            if (EqualNoCase(sites[i].siteName, site))
                dir = OwnDirectoryOf(sites[i]);
        if (dir.empty())
            dir = PathJoin(GetProgramFilesDir(), site);
    } else if (!site.empty() && !EqualNoCase(SiteNameFromDir(dir), site)) {
        throw CmdLine::Err(L"Mismatching '-installDir' and '-site' parameters.");
    }
    settings.installDir = NormalizeDir(dir);
    WString refused = RefusedTargetReason(settings.installDir);
    if (!refused.empty())
        throw CmdLine::Err(L"Refusing to install into '" + settings.installDir + L"': " + refused + L".");
}

void ReadServerOptions(CmdLine& cmd, ServerOptions& options)
{
    options.startService = cmd.Flag(L"startService", true);
    WString settings;
    if (cmd.Value(L"settings", settings)) {
        options.settingsFile = settings;
        WWLib::CPathMakeAbs<0> abs(options.settingsFile, settings);
    }
}

std::unique_ptr<WWLib::LogFile> OpenLogOption(CmdLine& cmd)
{
    WString path;
    if (!cmd.Value(L"log", path))
        return nullptr;
    if (path.empty())
        throw CmdLine::Err(L"Missing log file name in '-log='.");
    std::unique_ptr<WWLib::LogFile> log;
    try {
        log.reset(new WWLib::LogFile(path));
    } catch (const SystemError& e) {
        throw CmdLine::Err(L"Cannot open the log file '" + path + L"': " + WWLib::WindowsErrorText(e.Code()));
    }
    WWLib::SetProcessLog(log.get());
    log->Started(WString(Product::kMakerPrefix) + Product::kName + L" " + Product::kVersion + L" setup");
    return log;
}
