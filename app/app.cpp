#include "app/app.h"

#include <mbstring.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "actions/run_backup.h"
#include "actions/run_undo.h"
#include "app/dialogs.h"
#include "app/preview_report.h"
#include "app/run.h"
#include "app/run_result.h"
#include "app/session.h"
#include "guard/own_files.h"
#include "platform/preview.h"
#include "platform/handles.h"
#include "platform/platform.h"
#include "platform/windows_version.h"
#include "profile/engine.h"
#include "trace/trace.h"

namespace {

bool Equal(const char* a, const char* b) {
    return _mbsicmp(reinterpret_cast<const unsigned char*>(a), reinterpret_cast<const unsigned char*>(b)) == 0;
}

// The first lines as they always were; every switch below them.
const char kUsage[] =
    "Usage:\n%s [switch]\n--GUI to show the user interface\n--help to see this message\n"
    "--noreboot to leave the restart to you (exit code 3010)\n"
    "--reboot-delay=N to restart N seconds after the run, with a notice\n"
    "--removeall to remove the install folder and shortcuts too, ignoring the ignore entries\n"
    "--forcemsi to clean the maker's leftover Windows Installer registrations too\n"
    "--preview to change nothing and list what a run would remove\n"
    "--undo to take back the last run before the restart\n"
    "/? or -? or /help to see this message\n"
    "At a command prompt: start /wait Clearway.exe ... to wait for it and get its exit code\n";

// Held for the whole run, so that one Clearway at a time changes the
// machine. Only SYSTEM, administrators and services may create objects in
// the Global namespace (SeCreateGlobalPrivilege): a user cannot take the
// name first.
const char kRunMutexName[] = "Global\\Velmoran Clearway run";
// The Windows Installer holds it while an installation is in progress.
const char kInstallerMutexName[] = "Global\\_MSIExecute";

}  // namespace

Switches ParseSwitches(int argumentCount, char** arguments) {
    Switches switches;
    for (int i = 1; i < argumentCount; ++i) {
        const char* argument = arguments[i] ? arguments[i] : "";
        if (Equal(argument, "--GUI")) {
            switches.gui = true;
        } else if (Equal(argument, "--removeall")) {
            switches.removeAll = true;
        } else if (Equal(argument, "--forcemsi")) {
            switches.forceMsi = true;
        } else if (Equal(argument, "--noreboot")) {
            switches.noReboot = true;
        } else if (Equal(argument, "--preview")) {
            switches.preview = true;
        } else if (Equal(argument, "--undo")) {
            switches.undo = true;
        } else if (std::strstr(argument, "--reboot-delay=")) {
            // The value follows the first equals sign; strtol saturates.
            const char* text = std::strchr(argument, '=') + 1;
            char* end = nullptr;
            const long value = std::strtol(text, &end, 10);
            if (end == text) {
                // No number at all (an unset script variable, a typo) would
                // leave no delay: the machine would restart at once.
                switches.stop = Switches::kNoDelay;
                switches.stopping = argument;
                return switches;
            }
            if (value != 0) switches.rebootDelay = static_cast<DWORD>(value);
        } else {
            const bool help = Equal(argument, "--help") || Equal(argument, "/?") || Equal(argument, "-?") ||
                              Equal(argument, "/help");
            switches.stop = help ? Switches::kHelp : Switches::kUnknown;
            switches.stopping = argument;
            return switches;
        }
    }
    return switches;
}

CZerlinApp::CZerlinApp(platform::Platform& os, CNuke& engine, platform::PreviewPlatform* recorder)
    : safeBootMode(os.GetSystemMetrics(SM_CLEANBOOT)), runMutex_(os), os_(os), engine_(engine), recorder_(recorder) {}

CZerlinApp::~CZerlinApp() { DeleteSafeModeMsiKey(); }

void CZerlinApp::ShowDialog(CZerlinDlg& dialog) { dialog.DoModal(); }

DWORD CZerlinApp::Undo() { return UndoNewestRun(engine_.os); }

void CZerlinApp::Usage(const char* programName) {
    std::vector<char> text(std::strlen(kUsage) + std::strlen(programName) + 1);
    std::snprintf(text.data(), text.size(), kUsage, programName);
    // Where nobody could close the box the text is only in the log, which
    // also says which switch was not understood.
    if (visibleSession_) os_.MessageBoxA(nullptr, text.data(), "Usage", MB_OK);
    Refuse(text.data(), exitCode, "usage");
}

std::string CZerlinApp::ClosingLine() const {
    return "Clearway ends with exit code " + std::to_string(exitCode) + ": " + ExitCodeMeaning(exitCode);
}

void CZerlinApp::Close() {
    const std::string line = ClosingLine();
    RunResult result;
    result.version = TraceVersion();
    result.kind = kind_;
    result.switches = switches_;
    char account[257] = {};
    DWORD size = sizeof account;
    if (os_.GetUserNameA(account, &size)) result.account = account;
    result.start = started_;
    result.end = os_.Time();
    result.exitCode = exitCode;
    result.meaning = ExitCodeMeaning(exitCode);
    result.summary = line;
    result.steps = engine_.stepResults;
    result.removed = engine_.removed;
    result.scheduled = engine_.scheduled;
    result.refused = engine_.refused;
    result.failed = engine_.failures;
    result.left = engine_.left;
    result.installer = engine_.installerAnswers;
    // Files wait for the restart; an undo says so by its code.
    result.restartPending = kind_ == "undo" ? exitCode == kExitRestartRequired : engine_.scheduled != 0;
    result.log = TraceLogPath();
    if (engine_.backup && engine_.writesBackup) result.backup = engine_.backup->BackupPath();
    resultPath = WriteRunResult(result);
    ReportRunEvent(os_, result);
    // The last line of the log; the console is the run's own output, past
    // a preview's platform.
    TraceWrite("", -1, 0, "%s\n", line.c_str());
    SayOnParentConsole(TracePlatform(), line + "\r\n");
}

void CZerlinApp::Refuse(const char* text, DWORD code, const char* kind) {
    // A log of its own: the log of the last real run, which an
    // administrator may be about to read, stays as it is.
    TraceSetLogNameSuffix(" refused");
    kind_ = kind;
    engine_.OpenTraceLog();
    exitCode = code;
    TraceWrite("", -1, 0, "%s", text);
    Close();
    TraceShutdown();
    TraceSetLogNameSuffix("");
}

bool CZerlinApp::TakeRunMutex() {
    runMutex_.reset(os_.CreateMutexA(nullptr, TRUE, kRunMutexName));
    const DWORD error = os_.GetLastError();
    if (runMutex_ && error != ERROR_ALREADY_EXISTS) return true;
    runMutex_.reset();
    char text[256];
    std::snprintf(text, sizeof text,
                  "Another Clearway is running on this machine (%s, error %lu): nothing was done (exit code %lu). "
                  "Run Clearway again when it has ended.\n",
                  kRunMutexName, static_cast<unsigned long>(error), static_cast<unsigned long>(kExitBusy));
    Refuse(text, kExitBusy);
    return false;
}

bool CZerlinApp::ProgramFolderUnsafe() {
    const std::wstring program = guard::ProgramPath(os_);
    const std::string why = program.empty() ? std::string("the program's own path cannot be read")
                                            : guard::OthersCanSteerProgram(os_, program);
    if (why.empty()) return false;
    // Its configuration could start any program and delete anything with
    // this run's rights, and a library beside it would run inside it.
    const std::string text = "Others can change what this run would do: " + why +
                             ". Nothing was done (exit code " + std::to_string(kExitUnsafeFolder) +
                             "). Keep Clearway in a folder only administrators can change, such as "
                             "%ProgramFiles%\\Velmoran Clearway.\n";
    Refuse(text.c_str(), kExitUnsafeFolder);
    return true;
}

bool CZerlinApp::InstallerBusy() {
    platform::ObjectHandle installer(os_, os_.OpenMutexA(SYNCHRONIZE, FALSE, kInstallerMutexName));
    if (!installer) return false;
    char text[256];
    std::snprintf(text, sizeof text,
                  "Windows Installer is busy with another installation (%s is held): nothing was done (exit code "
                  "%lu). Run Clearway again when it has ended.\n",
                  kInstallerMutexName, static_cast<unsigned long>(kExitBusy));
    Refuse(text, kExitBusy);
    return true;
}

bool CZerlinApp::InitInstance(int argumentCount, char** arguments) {
    started_ = os_.Time();
    for (int i = 1; i < argumentCount; ++i) switches_.push_back(arguments[i] ? arguments[i] : "");
    visibleSession_ = IsVisibleSession(os_);
    CZerlinDlg dialog(os_, engine_);
    dialog.visibleSession = visibleSession_;
    dialog.silent = 1;
    const char* programName = argumentCount > 0 && arguments[0] ? arguments[0] : "";
    const Switches switches = ParseSwitches(argumentCount, arguments);
    if (switches.gui) dialog.silent = 0;
    if (switches.removeAll) dialog.removeAll = 1;
    if (switches.forceMsi) dialog.forceMsi = 1;
    if (switches.noReboot) dialog.noReboot = 1;
    if (switches.preview) preview = 1;
    if (switches.undo) undo = 1;
    dialog.rebootDelay = switches.rebootDelay;
    if (switches.stop == Switches::kNoDelay) {
        const std::string line = switches.stopping +
                                 ": no number of seconds follows the equals sign; nothing was done (exit "
                                 "code " + std::to_string(kExitBadSwitch) +
                                 "). Give the delay in seconds, for example --reboot-delay=300.\n";
        Refuse(line.c_str(), kExitBadSwitch);
        return false;
    }
    if (switches.stop != Switches::kNone) {
        exitCode = switches.stop == Switches::kHelp ? static_cast<DWORD>(kExitSuccess)
                                                    : static_cast<DWORD>(kExitBadSwitch);
        Usage(programName);
        return false;
    }
    if (dialog.silent == 0 && !visibleSession_) {
        // The dialog would wait for a Start nobody can press.
        const std::string line = "--GUI: nobody can see the windows of this session, so the dialog cannot be shown; "
                                 "nothing was done (exit code " + std::to_string(kExitNoVisibleSession) +
                                 "). Run Clearway without --GUI here.\n";
        Refuse(line.c_str(), kExitNoVisibleSession);
        return false;
    }
    if (undo && preview) {
        // A preview platform would only pretend to import the backup.
        Refuse("--undo cannot be previewed: nothing was taken back\n", kExitBadSwitch);
        return false;
    }
    if (!TakeRunMutex()) return false;
    if (checksProgramFolder && ProgramFolderUnsafe()) return false;
    if (undo) {
        kind_ = "undo";
        // Its own log: the log of the run it takes back stays.
        TraceSetLogNameSuffix(" undo");
        engine_.OpenTraceLog();
        if (dialog.silent == 0) {
            // The same dialog with its own texts; it checks the rights itself.
            dialog.undo = true;
            dialog.undoRun = [this] { return Undo(); };
            ShowDialog(dialog);
            exitCode = dialog.ExitCode();
        } else if (!IsUserAdmin(os_)) {
            TraceWrite("", -1, 0, "%s", kUndoNeedsRights);
            os_.MessageBeep(MB_ICONHAND);
            exitCode = kExitNoRights;
        } else {
            exitCode = Undo();
        }
        Close();
        TraceShutdown();
        return false;
    }
    if (!preview && InstallerBusy()) return false;
    if (safeBootMode != 0 && !StartMsiServiceInSafeMode()) {
        exitCode = kExitInstallerServiceFailed;
        return false;
    }
    platform::PreviewPlatform* recorder = preview ? recorder_ : nullptr;
    PreviewSteps steps(recorder);
    if (recorder) {
        kind_ = "preview";
        TraceSetLogNameSuffix(" preview");  // the log of the last real run stays
        dialog.observer = &steps;
    }
    ShowDialog(dialog);
    exitCode = dialog.ExitCode();
    if (recorder) {
        reportPath = WritePreviewReport(*recorder, BuildPreviewReport(*recorder, engine_, dialog));
        // A preview that ran to its end did all it was asked to.
        if (exitCode == kExitRestartStarted || exitCode == kExitRestartRequired) exitCode = kExitSuccess;
    }
    Close();
    return false;
}

bool CZerlinApp::WriteSafeModeMsiKey() {
    if (safeBootMode == 1) {
        safeBootKeyPath = "SYSTEM\\CurrentControlSet\\Control\\SafeBoot\\Minimal\\MSIServer";
    } else if (safeBootMode == 2) {
        safeBootKeyPath = "SYSTEM\\CurrentControlSet\\Control\\SafeBoot\\Network\\MSIServer";
    } else {
        return true;
    }
    platform::RegKey key(os_);
    if (os_.RegCreateKeyExA(HKEY_LOCAL_MACHINE, safeBootKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                            nullptr, key.put(), nullptr) != ERROR_SUCCESS ||
        !key) {
        return false;
    }
    static const char kService[] = "Service";
    return os_.RegSetValueExA(key.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(kService),
                              sizeof kService) == ERROR_SUCCESS;
}

bool CZerlinApp::StartMsiServiceInSafeMode() {
    if (!WriteSafeModeMsiKey()) return false;
    platform::ServiceHandle manager(os_, os_.OpenSCManagerA(nullptr, "ServicesActive", SC_MANAGER_ALL_ACCESS));
    if (!manager) return false;
    platform::ServiceHandle service(os_, os_.OpenServiceA(manager.get(), "msiserver", SERVICE_ALL_ACCESS));
    if (!service) return false;
    return os_.StartServiceA(service.get(), 0, nullptr) || os_.GetLastError() == ERROR_SERVICE_ALREADY_RUNNING;
}

void CZerlinApp::DeleteSafeModeMsiKey() {
    if (safeBootMode != 0 && safeBootKeyPath) os_.RegDeleteKeyA(HKEY_LOCAL_MACHINE, safeBootKeyPath);
}
