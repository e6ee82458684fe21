// The main dialog, the notification dialog and the About box.
#pragma once
#include <windows.h>

#include <atomic>
#include <functional>
#include <string>

#include "app/run.h"
#include "detect/detector.h"
#include "platform/dialog.h"
#include "profile/engine.h"

class WarningDlg : public platform::Dialog {
public:
    explicit WarningDlg(platform::Platform& os);
    std::string text;

protected:
    void DoDataExchange() override;
    void OnCommand(int id, int notification) override;
};

class CAboutDlg : public platform::Dialog {
public:
    explicit CAboutDlg(platform::Platform& os);
};

// What the process's exit code says, for deployment tools (see the README).
enum ProcessExitCode : DWORD {
    kExitSuccess = 0,
    kExitNoRights = ERROR_ACCESS_DENIED,                  // 5
    kExitUnsafeFolder = 448,                              // others can change Clearway, its configuration or folder
    kExitBadSwitch = ERROR_INVALID_PARAMETER,             // 87
    kExitCancelled = ERROR_CANCELLED,                     // 1223
    kExitNoVisibleSession = ERROR_REQUIRES_INTERACTIVE_WINDOWSTATION,  // 1459: --GUI where nobody sees windows
    kExitInstallerServiceFailed = 1601,                   // safe mode: the installer service cannot run
    kExitIncomplete = ERROR_INSTALL_FAILURE,              // 1603: the run ended, something asked for is still there
    kExitBusy = ERROR_INSTALL_ALREADY_RUNNING,            // 1618: another Clearway or installation runs; try later
    kExitProtectedLocation = 1625,                        // the product folder must not be removed
    kExitIncompatibleProducts = 1638,                     // other products of the maker must go first
    kExitRestartStarted = 1641,                           // the removal completed and Windows restarts
    kExitRestartRequired = 3010,                          // the removal completed; a restart is still needed
};

// What an exit code means, in the words of the log's last line.
const char* ExitCodeMeaning(DWORD code);

class CZerlinDlg : public platform::Dialog, public RunPanel {
public:
    CZerlinDlg(platform::Platform& os, CNuke& engine);

    // The engine's view of the dialog.
    const char* GetProductName() const override { return detector.productName.c_str(); }
    void SetProductName(const char* name) override { detector.productName = name ? name : ""; }
    const char* GetInstallPath() const override { return detector.installPath.c_str(); }

    platform::Platform& Os() override { return os_; }
    HWND Window() const override { return Dialog::Window(); }
    // The process's exit code once the dialog has ended.
    DWORD ExitCode() const { return exitCode_; }

    WarningDlg warningDlg;
    CDetector detector;
    std::string stepText;
    std::string logText;
    // What the progress area shows: the last lines of logText that fit (a
    // static control does not scroll, and the latest step matters most).
    std::string progressView;
    HICON icon = nullptr;
    bool noRights = false;

    void OnStartButton();
    void OnStateChanged();
    void OnStepStarted(UINT stringId);
    void OnStepResult(DWORD code);
    // A text of the program's string table (LoadStringA); empty when missing.
    std::string LoadText(UINT id) override;

protected:
    void DoDataExchange() override;
    BOOL OnInitDialog() override;
    void OnCommand(int id, int notification) override;
    void OnCancel() override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    // Shows a blocking finding of the detector and ends the program.
    void Refuse(const std::string& text, DWORD code);
    // Ends the dialog, settling the exit code from the state it ends in.
    void Finish();
    void StartRun();
    // Waits for the worker to end, serving the messages sent to this thread.
    void WaitForWorker();
    bool WorkerRunning();
    // The text the step line shows in a state, for a removal or an undo.
    UINT StateText(RunState state) const;
    // Copies the fields into the controls, the progress area's tail first.
    void Show();
    int visibleLines_ = 0;  // lines the progress area holds; 0: unknown

    CNuke& engine_;
    DWORD exitCode_ = kExitCancelled;
    bool exitSettled_ = false;
    bool cancelWait_ = false;  // Cancel waits for the worker to notice it
};
