// A removal run: one worker thread that calls the engine's steps in their
// fixed order and reports to the main dialog by posted messages.
#pragma once
#include <windows.h>

#include <atomic>
#include <functional>
#include <string>

#include "profile/engine.h"
#include "restore/firewall.h"

namespace platform { class Platform; }
class RunObserver;

// The dialog as a run sees it, and as the engine does (its dialog link):
// the switches the run goes by, the state both share, the window the
// run's progress is posted to and the texts it asks.
class RunPanel : public CNukeDialogLink {
public:
    explicit RunPanel(platform::Platform& os) : firewall(os) {}
    RunState GetRunState() const override { return runState.load(); }
    virtual platform::Platform& Os() = 0;
    virtual HWND Window() const = 0;
    // A text of the program's string table; empty when missing.
    virtual std::string LoadText(UINT id) = 0;

    std::atomic<RunState> runState{Ready};
    CWinFirewall firewall;
    int silent = 1;
    int noReboot = 0;
    DWORD rebootDelay = 0;
    int removeAll = 0;
    int forceMsi = 0;
    // False where nobody can see a window (a service's session): the
    // detector's warning then goes to the trace log instead of a dialog.
    bool visibleSession = true;
    // --undo --GUI: the dialog takes the newest run back with undoRun
    // instead of removing, with its own texts; no detection, and the one step
    // cannot be cancelled half-way.
    bool undo = false;
    std::function<DWORD()> undoRun;
    // Hears the run's steps as they begin (a preview's recorder); may be null.
    RunObserver* observer = nullptr;
    // Set by the run when it started a restart or shut-down of Windows.
    std::atomic<bool> restartStarted{false};
};

// Worker to dialog messages (wParam 0): state changed; step started (lParam
// the caption's string id); step result (lParam the Win32 code).
const UINT kStateChanged = WM_USER + 1;
const UINT kStepStarted = WM_USER + 2;
const UINT kStepResult = WM_USER + 3;

// Hears the steps of a run as they begin (the preview lists what each step
// would do under its name).
class RunObserver {
public:
    virtual ~RunObserver() = default;
    virtual void StepStarting(const char* name) = 0;
};

struct RunContext {
    RunPanel* dialog;
    HANDLE threadHandle;
    DWORD result;
    CNuke* engine;
    RunObserver* observer;  // may be null
};

// The one run of the program; engine is the program's removal engine.
extern RunContext g_runContext;

DWORD WINAPI RunRemoval(LPVOID context);
// The run's life: its worker thread (RunRemoval or RunUndo) started for the
// panel and engine, false with the error as the context's result when it
// cannot start; the wait for its end, serving the messages sent to this
// thread meanwhile; and whether it is still under way.
bool StartRunThread(RunContext& run, RunPanel& panel, CNuke& engine, LPTHREAD_START_ROUTINE worker);
void WaitForRun(RunContext& run, platform::Platform& os);
bool RunRunning(RunContext& run, platform::Platform& os);
// The undo of --undo --GUI: one step, the dialog's undoRun, whose result
// settles the state (Finished, RestartNeeded, or Failed for an error).
DWORD WINAPI RunUndo(LPVOID context);
// After a silent run: the firewall restore and the restart. The dialog's
// restartStarted is set only when Windows accepted the restart; with
// --noreboot, or when Windows refused, the run ends in RestartNeeded.
void RestartAfterRun(RunContext& run);
