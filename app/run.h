// A removal run: one worker thread that calls the engine's steps in their
// fixed order and reports to the main dialog by posted messages.
#pragma once
#include <windows.h>

class CNuke;
class CZerlinDlg;
namespace platform { class Platform; }

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
    CZerlinDlg* dialog;
    HANDLE threadHandle;
    DWORD result;
    CNuke* engine;
    RunObserver* observer;  // may be null
};

// The one run of the program; engine is the program's removal engine.
extern RunContext g_runContext;

DWORD WINAPI RunRemoval(LPVOID context);
// The undo of --undo --GUI: one step, the dialog's undoRun, whose result
// settles the state (Finished, RestartNeeded, or Failed for an error).
DWORD WINAPI RunUndo(LPVOID context);
// After a silent run: the firewall restore and the restart. The dialog's
// restartStarted is set only when Windows accepted the restart; with
// --noreboot, or when Windows refused, the run ends in RestartNeeded.
void RestartAfterRun(RunContext& run);
// The result of a restart or shut-down call (ExitWindowsEx,
// InitiateSystemShutdownExA): true when Windows accepted it. A refusal is
// traced with its error code; the files then stay scheduled for whatever
// restart comes next.
bool RestartAccepted(platform::Platform& os, const char* call, BOOL result);
// Enables the shutdown privilege in the process token; false (with the
// token's error as the last error) when the token cannot be opened for it.
bool EnableShutdownPrivilege(platform::Platform& os);
