#include "app/dialogs.h"

#include <cstdio>
#include <vector>

#include "actions/run_undo.h"
#include "app/resource.h"
#include "app/run.h"
#include "app/session.h"
#include "platform/handles.h"
#include "platform/platform.h"
#include "platform/windows_version.h"
#include "trace/trace.h"

namespace {

const char* const kStateCaptions[] = {"Start", "Quit", "Cancel", "Quit", "Restart", "Quit"};

// What sets the dialog's two uses apart: a removal, and the undo of
// --undo --GUI, which puts back what a run took.
struct DialogMode {
    UINT readyText, failedText, restartText;
    // What is installed now decides whether a removal may start; it is no
    // reason to refuse an undo.
    bool detects;
    // Half an import is worse than a whole one: an undo runs to its end.
    bool cancellable;
    // The firewall a removal switched off is switched on again.
    bool restoresFirewall;
    // The run's end decides the exit code from what the engine got done.
    bool judgesRun;
    const char* noRightsTrace;  // a trace line of its own without the rights, or null
    LPTHREAD_START_ROUTINE worker;
};

const DialogMode kRemoval = {IDS_READY, IDS_FAILED, IDS_RESTART_NEEDED, true, true, true, true, nullptr, RunRemoval};
const DialogMode kUndo = {IDS_UNDO_READY, IDS_UNDO_FAILED, IDS_UNDO_RESTART_NEEDED, false, false, false, false,
                          kUndoNeedsRights, RunUndo};

const DialogMode& ModeOf(bool undo) { return undo ? kUndo : kRemoval; }

}  // namespace

WarningDlg::WarningDlg(platform::Platform& os) : Dialog(os, IDD_WARNING) {}

void WarningDlg::DoDataExchange() { Bind(IDC_WARNING_TEXT, text); }

void WarningDlg::OnCommand(int id, int) {
    if (id == IDC_EXIT) EndDialog(IDCANCEL);
}

CAboutDlg::CAboutDlg(platform::Platform& os) : Dialog(os, IDD_ABOUTBOX) {}

CZerlinDlg::CZerlinDlg(platform::Platform& os, CNuke& engine)
    : Dialog(os, IDD_CLEARWAY), RunPanel(os), warningDlg(os), detector(os), engine_(engine) {
    icon = os.LoadIconA(platform::ResourceModule(), MAKEINTRESOURCEA(IDR_MAINFRAME));
}

void CZerlinDlg::DoDataExchange() {
    Bind(IDC_STEP_TEXT, stepText);
    Bind(IDC_PROGRESS, progressView);
}

std::string CZerlinDlg::LoadText(UINT id) {
    char buffer[1024] = {};
    os_.LoadStringA(platform::ResourceModule(), id, buffer, sizeof buffer);
    return buffer;
}

void CZerlinDlg::Show() {
    progressView = logText;
    if (visibleLines_ > 0) {
        // Keep the last visibleLines_ lines; "\r\n" and "\n" each end one.
        int lines = 0;
        for (size_t at = logText.size(); at-- > 0;) {
            if (logText[at] == '\n' && ++lines == visibleLines_) {
                progressView = logText.substr(at + 1);
                break;
            }
        }
    }
    UpdateData();
}

const char* ExitCodeMeaning(DWORD code) {
    switch (code) {
        case kExitSuccess: return "success, no restart is needed";
        case kExitNoRights: return "administrator rights are needed; nothing was done";
        case kExitUnsafeFolder:
            return "others can change Clearway, its configuration or its folder; nothing was done";
        case kUndoFilesGone: return "the registry is back, but a restart had already deleted the run's files";
        case kExitBadSwitch: return "a switch was not understood; nothing was done";
        case kUndoNothing: return "there is no run that has not been taken back already";
        case kExitCancelled: return "cancelled; the steps done so far stay done";
        case kExitNoVisibleSession: return "--GUI where nobody can see the dialog; nothing was done";
        case kExitInstallerServiceFailed: return "the Windows Installer service cannot run in safe mode; nothing was done";
        case kExitIncomplete:
            return "incomplete: the run went to its end, but some of what it was asked to remove is still there "
                   "(the lines that begin \"Not removed:\" say what)";
        case kExitBusy:
            return "busy: another Clearway or another installation is running; run Clearway again later";
        case kExitProtectedLocation:
            return "the product lies where removing it could destroy data; nothing was done";
        case kExitIncompatibleProducts: return "other Velmoran products must be uninstalled first; nothing was done";
        case kExitRestartStarted: return "the removal completed and Windows is restarting";
        case kExitRestartRequired: return "completed; restart Windows to finish it";
    }
    return "a step failed with this Windows error code and the run stopped there (the lines above say which)";
}

UINT CZerlinDlg::StateText(RunState state) const {
    switch (state) {
        case Ready:
            return ModeOf(undo).readyText;
        case Failed:
            return ModeOf(undo).failedText;
        case Cancelled:
            return IDS_CANCELLED;
        case RestartNeeded:
            return ModeOf(undo).restartText;
        case Finished:
            if (g_runContext.result == kUndoFilesGone) return IDS_UNDO_FILES_GONE;
            return g_runContext.result == kUndoNothing ? IDS_UNDO_NOTHING : IDS_UNDO_DONE;
        case Running:
            break;
    }
    return 0;
}

void CZerlinDlg::Finish() {
    if (!exitSettled_) {
        exitSettled_ = true;
        if (ModeOf(undo).judgesRun && (restartStarted || runState.load() == RestartNeeded)) {
            // The run went to its end: what it got done decides.
            if (!engine_.Complete()) {
                exitCode_ = kExitIncomplete;
            } else if (restartStarted) {
                exitCode_ = kExitRestartStarted;
            } else {
                exitCode_ = engine_.Changes() == 0 ? static_cast<DWORD>(kExitSuccess)
                                                 : static_cast<DWORD>(kExitRestartRequired);
            }
        } else if (restartStarted) {
            exitCode_ = kExitRestartStarted;
        } else {
            switch (runState.load()) {
                case Ready:
                case Cancelled:
                case Running:  // ended while a run was under way
                    exitCode_ = kExitCancelled;
                    break;
                case Failed:
                    exitCode_ = noRights ? static_cast<DWORD>(kExitNoRights)
                                        : (g_runContext.result != 0 ? g_runContext.result : ERROR_CANCELLED);
                    break;
                case RestartNeeded:
                    exitCode_ = kExitRestartRequired;
                    break;
                case Finished:  // an undo: its own result
                    exitCode_ = g_runContext.result;
                    break;
            }
        }
    }
    EndDialog(IDCANCEL);
}

void CZerlinDlg::Refuse(const std::string& text, DWORD code) {
    exitCode_ = code;
    exitSettled_ = true;
    if (visibleSession) {
        warningDlg.text = text;
        warningDlg.DoModal(Window());
    } else {
        // Nobody could press the dialog's button: the text goes to the log
        // the run would have written, and the program ends at once.
        engine_.OpenTraceLog();
        TraceWrite("", -1, 0, "%s\n", text.c_str());
        TraceShutdown();
    }
    EndDialog(IDCANCEL);
}

BOOL CZerlinDlg::OnInitDialog() {
    HMENU menu = os_.GetSystemMenu(Window(), FALSE);
    if (menu) {
        const std::string about = LoadText(IDS_ABOUTBOX);
        if (!about.empty()) {
            os_.AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
            os_.AppendMenuA(menu, MF_STRING, IDM_ABOUTBOX, about.c_str());
        }
    }
    os_.SendMessageA(Window(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    os_.SendMessageA(Window(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    if (HWND progress = os_.GetDlgItem(Window(), IDC_PROGRESS)) {
        RECT area = {};
        ::GetClientRect(progress, &area);
        HDC dc = ::GetDC(progress);
        HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HGDIOBJ>(os_.SendMessageA(progress, WM_GETFONT, 0, 0)));
        TEXTMETRICA metrics = {};
        if (::GetTextMetricsA(dc, &metrics) && metrics.tmHeight > 0) {
            visibleLines_ = static_cast<int>((area.bottom - area.top) / metrics.tmHeight);
        }
        ::SelectObject(dc, old);
        ::ReleaseDC(progress, dc);
    }

    const DialogMode& mode = ModeOf(undo);
    if (mode.detects) detector.DetectProducts();
    if (mode.detects && detector.CheckIncompatibleProducts() == 1) {
        Refuse(detector.message, kExitIncompatibleProducts);
        return TRUE;
    }
    if (mode.detects && detector.CheckInstallLocation() == 1) {
        Refuse(detector.message, kExitProtectedLocation);
        return TRUE;
    }
    if (!IsUserAdmin(os_)) {
        runState = Failed;
        noRights = true;
        logText = LoadText(IDS_NO_RIGHTS);
        if (mode.noRightsTrace) TraceWrite("", -1, 0, "%s", mode.noRightsTrace);
    }
    OnStateChanged();
    if (silent == 1) OnStartButton();
    return TRUE;
}

void CZerlinDlg::WaitForWorker() { WaitForRun(g_runContext, os_); }

bool CZerlinDlg::WorkerRunning() { return RunRunning(g_runContext, os_); }

void CZerlinDlg::StartRun() {
    runState = Running;
    engine_.dialog = this;
    if (!StartRunThread(g_runContext, *this, engine_, ModeOf(undo).worker)) {
        runState = Failed;
        OnStateChanged();
        return;
    }
    if (silent == 1) {
        WaitForWorker();
        Finish();
    }
}

void CZerlinDlg::OnStartButton() {
    const RunState state = runState.load();
    if (!ModeOf(undo).cancellable && state == Running) return;
    char text[512];
    std::snprintf(text, sizeof text, LoadText(IDS_PROCESSING).c_str(), kStateCaptions[state]);
    stepText = text;
    Show();
    HWND button = os_.GetDlgItem(Window(), IDC_START);
    os_.EnableWindow(button, FALSE);
    os_.SendMessageA(Window(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(button), TRUE);

    switch (state) {
        case Ready:
            StartRun();
            if (silent == 1 && runState.load() == Failed && !g_runContext.threadHandle) Finish();
            return;
        case Running:
            runState = Cancelled;
            cancelWait_ = true;
            WaitForWorker();
            cancelWait_ = false;
            return;
        case RestartNeeded: {
            if (platform::IsWindowsNT(os_) && EnableShutdownPrivilege(os_)) {
                if (ModeOf(undo).restoresFirewall) firewall.RestoreWindowsFirewall();
                restartStarted = RestartWindows(os_, 0, true);  // pressed: someone sees the session
            } else {
                restartStarted =
                    RestartAccepted(os_, "ExitWindowsEx", os_.ExitWindowsEx(EWX_FORCE | EWX_POWEROFF, 0));
            }
            // Then as for Quit.
            Finish();
            runState = Ready;
            WaitForWorker();
            return;
        }
        case Failed:
        case Cancelled:
        case Finished:
            Finish();  // the exit code comes from the state the run ended in
            runState = Ready;
            WaitForWorker();
            return;
    }
}

void CZerlinDlg::OnStateChanged() {
    const RunState state = runState.load();
    if (state != Running) stepText = LoadText(StateText(state));
    switch (state) {
        case Failed:
            os_.MessageBeep(0xFFFFFFFF);
            break;
        case RestartNeeded:
            if (noReboot == 1) Finish();
            os_.MessageBeep(MB_ICONASTERISK);
            break;
        case Finished:
            os_.MessageBeep(MB_ICONASTERISK);
            break;
        case Ready:
        case Running:
        case Cancelled:
            break;
    }
    HWND button = os_.GetDlgItem(Window(), IDC_START);
    os_.SetWindowTextA(button, kStateCaptions[state]);
    Show();
    // A run that cannot be cancelled keeps its button off until its end.
    if (!ModeOf(undo).cancellable && state == Running) return;
    os_.EnableWindow(button, TRUE);
    os_.SendMessageA(Window(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(button), TRUE);
}

void CZerlinDlg::OnStepStarted(UINT stringId) {
    stepText = LoadText(stringId);
    logText += "\n -- " + stepText;
    Show();
}

void CZerlinDlg::OnStepResult(DWORD code) {
    char* text = nullptr;
    const DWORD length = os_.FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code,
        MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPSTR>(&text), 0, nullptr);
    if (length != 0 && text) {
        logText += " ";
        logText += text;
        os_.LocalFree(text);
    } else {
        logText += " Failed";
    }
    Show();
}

void CZerlinDlg::OnCommand(int id, int notification) {
    if (id == IDC_START && notification == BN_CLICKED) OnStartButton();
}

void CZerlinDlg::OnCancel() {
    // ESC during a run that cannot be cancelled waits for its end.
    const DialogMode& mode = ModeOf(undo);
    if (!mode.cancellable && WorkerRunning() && runState.load() == Running) return;
    if (mode.restoresFirewall && platform::IsWindowsNT(os_)) firewall.RestoreWindowsFirewall();
    if (WorkerRunning()) {
        if (runState.load() == Running || cancelWait_) {
            // Ending the dialog would destroy it and the engine while the
            // worker still uses them: the process ends at once instead, which
            // stops the worker where it is. Every trace line is on disk as
            // soon as it is written.
            TraceWrite("", -1, 0, "The dialog was closed during the run: Clearway ends at once with %lu, the run "
                       "stops where it is and nothing is rolled back\n", static_cast<unsigned long>(kExitCancelled));
            exitCode_ = kExitCancelled;
            exitSettled_ = true;
            os_.ExitProcess(kExitCancelled);
            return;  // only a test's platform comes back
        }
        // The worker has posted how the run ended and only returns.
        WaitForWorker();
    }
    Finish();
}

bool CZerlinDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (message) {
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) == IDM_ABOUTBOX) {
                CAboutDlg about(os_);
                about.DoModal(Window());
                return true;
            }
            return false;
        case WM_PAINT:
            if (os_.IsIconic(Window())) {
                PAINTSTRUCT paint;
                HDC dc = ::BeginPaint(Window(), &paint);
                os_.SendMessageA(Window(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
                RECT client;
                ::GetClientRect(Window(), &client);
                const int x = (client.right - client.left - os_.GetSystemMetrics(SM_CXICON) + 1) / 2;
                const int y = (client.bottom - client.top - os_.GetSystemMetrics(SM_CYICON) + 1) / 2;
                ::DrawIcon(dc, x, y, icon);
                ::EndPaint(Window(), &paint);
                return true;
            }
            // The default painting follows; a silent run's window never stays.
            if (silent == 1) os_.ShowWindow(Window(), SW_HIDE);
            return false;
        case WM_QUERYDRAGICON:
            result = reinterpret_cast<LRESULT>(icon);
            return true;
        case kStateChanged:
            OnStateChanged();
            return true;
        case kStepStarted:
            OnStepStarted(static_cast<UINT>(lParam));
            return true;
        case kStepResult:
            OnStepResult(static_cast<DWORD>(lParam));
            return true;
    }
    return false;
}
