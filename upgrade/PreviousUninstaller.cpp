#include "PreviousUninstaller.h"
#include "UninstallerProcesses.h"
#include "HeldFiles.h"
#include "InstalledSites.h"
#include "RestartAndResume.h"
#include "../nocrtlib/NoCrtFormat.h"
#include "../nocrtlib/NoCrtHandle.h"
#include "../nocrtlib/NoCrtPath.h"
#include "../steps/DeferredFileOps.h"
#include "../steps/InstallJournal.h"
#include "../steps/KeptInstallation.h"
#include "../steps/InstallSettings.h"
#include "../steps/StepReport.h"
#include "../steps/TargetDirectory.h"
#include "../steps/WriteFilesFromLzmaStream.h"
#include "../wwlib/AdministratorsFolder.h"
#include "../wwlib/FileLinks.h"
#include "../wwlib/SystemError.h"
#include "../wwlib/Version.h"
#include "../wwlib/ErrorText.h"
#include "../wwlib/Interruption.h"
#include "../wwlib/InstallError.h"
#include "../wwlib/Product.h"
#include "../wwlib/ProgramIdentity.h"
#include "../wwlib/RunAndWait.h"
#include "../wwlib/SilentExit.h"
#include "../wwlib/SystemInfo.h"
#include "../nocrtlib/NoCrtCompare.h"
#include <cstdlib>
#include <ctime>

using namespace WWLib;

namespace {

const unsigned long kNoResult = 0xFFFFFFFF;
const int kUninstallerMark = 1;

WString Hex(unsigned long long value)
{
    wchar_t digits[24];
    FormatUnsigned(value, 1, 16, digits);
    return WString(digits);
}

// The name with "-NNNN" before its extension.
WString WithSuffix(const WString& name, const WString& suffix)
{
    std::size_t dot = name.rfind(L'.');
    if (dot == WString::npos)
        return name + suffix;
    return name.substr(0, dot) + suffix + name.substr(dot);
}

} // namespace

namespace {

// The program a stored command runs.
WString ProgramOf(const WString& command)
{
    if (command.size() && command[0] == L'"') {
        std::size_t close = command.find(L'"', 1);
        return command.substr(1, close == WString::npos ? WString::npos : close - 1);
    }
    return command.substr(0, command.find(L' '));
}

WString OwnProgram()
{
    wchar_t path[MAX_PATH * 2] = {};
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
    return n && n < MAX_PATH * 2 ? WString(path, n) : WString();
}

} // namespace

WString ForeignUninstallerReason(const WString& command)
{
    const WString program = ProgramOf(command);
    if (GetFileAttributesW(program.c_str()) == INVALID_FILE_ATTRIBUTES)
        return WString(); // nothing to run: starting it fails, and says why
    const WString prefix = L"The previous uninstaller '" + program + L"' ";
    WString company, product;
    if (!ReadVersionNames(program, company, product) || company != Product::kMaker || product != Product::kName)
        return prefix + L"is not " + Product::kMakerPrefix + Product::kName + L"'s";
    const WString self = OwnProgram();
    // An installer that is unsigned, or whose signer this machine does not
    // trust, has no signer to compare with.
    if (self.empty() || VerifySignature(self) != Signature::Trusted)
        return WString();
    // The same name alone is anyone's to give a certificate of their own:
    // the signer must also chain to a root the machine trusts.
    const WString signer = SignerSubject(self);
    if (VerifySignature(program) != Signature::Trusted || signer.empty() || SignerSubject(program) != signer)
        return prefix + L"is not signed by this installer's signer";
    return WString();
}

WString RefusedUninstallerReason(const WString& site, const WString& command, const WString& entryDir)
{
    const WString program = ProgramOf(command);
    const WString refused = L"The previous uninstaller '" + program + L"' is not uninst.exe in the site's own folder";
    SplitPath parts = SplitAtLast(program, L'\\');
    if (!IsAbsolutePath(program) || !EqualNoCase(parts.tail, L"uninst.exe") || parts.head.empty())
        return refused;
    WString dir = parts.head, full = dir;
    WWLib::CPathMakeAbs<0> abs(full, dir);
    if (!EqualNoCase(full, dir) || !EqualNoCase(SiteNameFromDir(dir), site) ||
        (!entryDir.empty() && !EqualNoCase(entryDir, dir)) || !RefusedTargetReason(dir).empty())
        return refused;
    return WString();
}

bool VersionBelow(const WString& a, const WString& b)
{
    return WWLib::CompareVersions(a, b) < 0;
}

WString UninstallerResultError(unsigned long result)
{
    if (result <= 0xFFFF)
        return WString();
    WString text = L"Uninstaller failed with error code 0x" + Hex(result);
    if (result & 0x10000)
        text += L": Failed to delete the main file";
    else if (result & 0x20000)
        text += L": Exception caught";
    else if (result & 0x80000)
        text += L": Loading uninstallation information failed";
    else if (result & 0x40000)
        text += L": Usage error";
    return text;
}

namespace {

unsigned long RunUninstaller(const WString& command, UninstallerProcesses& processes);

} // namespace

unsigned long RunUninstallerWithResult(const WString& command)
{
    UninstallerProcesses processes;
    return RunUninstaller(command, processes);
}

namespace {

unsigned long RunUninstaller(const WString& command, UninstallerProcesses& processes)
{
    SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
    NoCrtHandle mapping(CreateFileMappingW(INVALID_HANDLE_VALUE, &sa, PAGE_READWRITE, 0, 4, nullptr));
    if (!mapping.valid())
        ThrowCallFailed(L"CreateFileMapping()", GetLastError());
    NoCrtMappedView view(MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 4));
    if (!view.valid())
        ThrowCallFailed(L"MapViewOfFile()", GetLastError());
    NoCrtHandle done(CreateEventW(&sa, TRUE, FALSE, nullptr));
    if (!done.valid())
        ThrowCallFailed(L"CreateEventW()", GetLastError());
    WString line = command + L" -unat -result=" + Hex(reinterpret_cast<ULONG_PTR>(mapping.get())) + L" -done=" +
                   Hex(reinterpret_cast<ULONG_PTR>(done.get())) + L" -reinstall -skipUnregSvc";
    unsigned long code = processes.Run(line);
    if (!(code & 1))
        return code;
    // The uninstaller goes on in another process; its result follows, unless
    // every process of it ends without one (a broken or crashed uninstaller,
    // whose exit code only happens to have bit 0x1).
    for (;;) {
        if (WaitForSingleObject(done.get(), 200) == WAIT_OBJECT_0)
            return *static_cast<const volatile DWORD*>(view.get());
        if (!processes.Tracked()) {
            WaitForSingleObject(done.get(), INFINITE);
            return *static_cast<const volatile DWORD*>(view.get());
        }
        if (processes.AllEnded() && WaitForSingleObject(done.get(), 0) != WAIT_OBJECT_0)
            throw WStrException(L"The uninstaller ended with exit code 0x" + Hex(code) +
                                L" without reporting its result");
    }
}

} // namespace

void CopyPackageFilesToTemp(int selector, TempPackageFiles& files)
{
    wchar_t temp[265] = {};
    DWORD n = GetTempPathW(265, temp);
    if (n == 0 || n >= 265) {
        DWORD err = GetLastError();
        throw WStrException(L"Getting temporary path failed: GetTempPath() failed: " + WindowsErrorText(err));
    }
    const WString name = L"uninst.exe";
    // Under LocalSystem the temporary folder is the system's, where any user
    // may put files: the copy goes into a folder of this run's own, which
    // only administrators may write, and is written new, never over a file.
    try {
        files.dir = WWLib::AdministratorsFolder::MakeNew(temp, L"Quendal Setup");
    } catch (const SystemError& e) {
        throw WStrException(L"Copying " + name + L" to temporary path failed: " + ReasonOf(e));
    }
    if (selector & kUninstallerMark)
        files.uninstaller = PathJoin(files.dir, name);
    std::srand(static_cast<unsigned>(std::time(nullptr)) + GetCurrentProcessId());
    for (int attempt = 0;; ++attempt) {
        try {
            WriteFilesFromLzmaStream writer({files.dir, files.uninstaller, WString(), WString()}, selector);
            if (!files.uninstaller.empty())
                ScheduleDeleteOnReboot(files.uninstaller);
            writer.Commit();
            break;
        } catch (const InstallError& e) {
            if (attempt == 10) {
                RemoveDirectoryW(files.dir.c_str());
                throw WStrException(L"Copying " + name + L" to temporary path failed: " + e.Message());
            }
            wchar_t digits[8];
            FormatUnsigned(static_cast<unsigned>(std::rand() % 9999), 4, 10, digits);
            files.uninstaller = PathJoin(files.dir, WithSuffix(name, WString(L"-") + digits));
        }
    }
    // The folder after its file: the restart deletes in the order given.
    ScheduleDeleteOnReboot(files.dir);
    // What runs is what was written: held without write or delete sharing
    // until the uninstaller has run.
    if (!files.uninstaller.empty()) {
        HANDLE h = CreateFileW(files.uninstaller.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            throw WStrException(L"Copying " + name + L" to temporary path failed: " +
                                WindowsErrorText(GetLastError()));
        files.held.reset(h);
        if (!WWLib::OpenedAsNamed(files.held.get(), files.uninstaller))
            throw WStrException(L"Copying " + name + L" to temporary path failed: it is a link");
    }
}

namespace {

unsigned long g_uninstallPause = 3000;

// The pause after the previous uninstaller stands for its processes ending
// and letting go of their files: over as soon as every process it started
// has ended, and at most the pause. Without a job to tell, the whole pause.
void WaitForUninstallerToEnd(const UninstallerProcesses& processes)
{
    const DWORD started = GetTickCount();
    while (GetTickCount() - started < g_uninstallPause) {
        if (processes.Tracked() && processes.AllEnded())
            return;
        Sleep(20);
    }
}

} // namespace

void SetUninstallPause(unsigned long ms)
{
    g_uninstallPause = ms;
}

namespace {

// A removal that failed: a warning with -force, a question in an interactive
// run (Yes goes on), otherwise 107. What was kept of the installation comes
// back before the run ends, and the reason stays the last line.
void ReportUninstallFailure(WString error, KeptInstallation& kept)
{
    const InstallSettings& settings = TheInstallSettings();
    if (error[error.size() - 1] == L'.')
        error.erase(error.size() - 1);
    if (!settings.interactive) {
        if (!settings.force) {
            kept.PutBackNow();
            StepLine(error + L" (use /Force flag to override uninstallation failure); aborting");
            throw SilentExit(107);
        }
        StepLine(L"Warning: " + error);
        return;
    }
    StepLine(L"Warning: " + error);
    WString box = error + L".\nDo you want to continue with the installation anyway?";
    if (MessageBoxW(nullptr, box.c_str(), L"Uninstallation failure", MB_YESNO | MB_DEFBUTTON2 | MB_ICONWARNING) !=
        IDYES) {
        kept.PutBackNow();
        StepLine(L"Installation canceled by user (uninstallation failure)");
        throw SilentExit(107);
    }
}

} // namespace

bool UninstallExisting(KeptInstallation& kept, bool serviceRan)
{
    const WString& site = TheSiteName();
    const InstallSettings& settings = TheInstallSettings();
    WString version = ReadSiteUninstallValue(site, L"Version");
    WString command = ReadSiteUninstallValue(site, L"UninstallString");
    WString params = ReadSiteUninstallValue(site, L"UninstallParam");
    if (command.empty() || params.empty())
        return false;
    StepLine(L"Uninstalling the existing " + site + L" " + version + L" installation");

    unsigned long result = kNoResult;
    WString error;
    UninstallerProcesses processes;
    try {
        // Run as it stands only when it is the site's own uninstaller. An
        // entry the recovery has just written back is taken only from that,
        // whichever program then runs; without its program it is no
        // installation to remove: passed over, and replaced by this run's entry.
        const bool older = version.empty() || VersionBelow(version, Product::kVersion);
        const bool restored = RecoveryRestoredUninstallEntry();
        if (!older || restored) {
            error = RefusedUninstallerReason(site, command, ReadSiteUninstallValue(site, L"InstallDir"));
            if (error.empty())
                error = ForeignUninstallerReason(command);
        }
        const bool passOver =
            error.empty() && restored && GetFileAttributesW(ProgramOf(command).c_str()) == INVALID_FILE_ATTRIBUTES;
        if (error.empty() && !passOver) {
            // Files that another program holds would stay half removed until
            // a restart: found first, the old installation keeps running.
            StopIfFilesHeld(site, settings.installDir, params);
            // Kept before anything goes, so that an upgrade that does not
            // complete gives it back. Without a way to keep it the removal
            // is the administrator's call, as a failed removal is.
            try {
                kept.Keep(site, settings.installDir, params, serviceRan);
            } catch (const std::exception& e) {
                ReportUninstallFailure(L"The " + site + L" installation cannot be kept for its return if the "
                                       L"upgrade fails: " + ReasonOf(e), kept);
            }
        }
        if (!kept.Kept())
            InstallJournal::Record(UndoKind::PreviousInstallation, settings.installDir, params);
        if (passOver) {
            StepLine(L"Warning: the previous uninstaller '" + ProgramOf(command) +
                     L"' is not there; its entry is passed over");
            result = 0;
        } else if (error.empty() && !older) {
            StepLine(WString());
            result = RunUninstaller(command, processes);
        } else if (error.empty()) {
            TempPackageFiles files;
            CopyPackageFilesToTemp(kUninstallerMark, files);
            StepLine(WString());
            result = RunUninstaller(L"\"" + files.uninstaller + L"\" \"" + site + L"\"", processes);
        }
        StepLine(WString());
    } catch (const InstallError& e) {
        error = L"Launching uninstaller failed: " + e.Message();
    } catch (const std::exception& e) {
        error = ReasonOf(e);
    }

    // The console's Ctrl+C reaches the uninstaller too. Stopped by it, it ends
    // with STATUS_CONTROL_C_EXIT, whose bits would read as "restart needed":
    // the run stops here instead, before it asks for a restart.
    if (error.empty() && result == STATUS_CONTROL_C_EXIT)
        NoteInterruption();
    StopIfInterrupted();
    bool restart = false;
    if (error.empty() && result != 0) {
        restart = (result & 0x6) != 0;
        error = UninstallerResultError(result);
    }
    if (!error.empty())
        ReportUninstallFailure(error, kept);
    if (restart) {
        // Until the restart the old installation runs, whole: nothing the
        // uninstaller left for the restart to delete is its any more.
        kept.PutBackNow();
        RestartForReinstall();
    }
    WaitForUninstallerToEnd(processes);
    return true;
}
