#include "app/run.h"

#include <string>

#include "actions/run_undo.h"
#include "app/session.h"
#include "app/resource.h"
#include "platform/handles.h"
#include "platform/platform.h"
#include "platform/windows_version.h"
#include "profile/engine.h"
#include "restore/security_center.h"
#include "trace/trace.h"

RunContext g_runContext = {nullptr, nullptr, 0, nullptr, nullptr};

namespace {

class Worker {
public:
    explicit Worker(RunContext& run) : run_(run), dialog_(*run.dialog), engine_(*run.engine), os_(dialog_.Os()) {}

    DWORD Run();
    DWORD Undo();

private:
    void Post(UINT message, LPARAM lParam) { os_.PostMessageA(dialog_.Window(), message, 0, lParam); }
    // A step begins: the observer hears its name, and the dialog shows its
    // caption (a string id; 0 for a step the dialog does not show).
    void BeginStep(const char* name, UINT caption) {
        step_ = name;
        if (run_.observer) run_.observer->StepStarting(name);
        if (caption != 0) Post(kStepStarted, caption);
    }
    // Stores and posts a step's code; false when the run must end.
    bool Report(DWORD code) {
        run_.result = code;
        engine_.stepResults.emplace_back(step_, code);
        Post(kStepResult, static_cast<LPARAM>(code));
        return code == ERROR_SUCCESS;
    }
    DWORD Fail() {
        // A user's hive left loaded keeps that user from logging on.
        engine_.UnloadUserHives();
        dialog_.runState = Failed;
        Post(kStateChanged, 0);
        return run_.result;
    }

    const char* step_ = "";
    RunContext& run_;
    RunPanel& dialog_;
    CNuke& engine_;
    platform::Platform& os_;
};

DWORD Worker::Run() {
    Post(kStateChanged, 0);

    BeginStep("Building the removal profile", IDS_CREATING_PROFILE);
    DWORD rc = engine_.InitializeLists(dialog_.removeAll, dialog_.forceMsi);
    if (rc == ERROR_SUCCESS) rc = engine_.PopulateLists();
    if (!Report(rc)) return Fail();

    if (dialog_.silent == 0) {
        // A Cancel pressed while the profile was built has answered the
        // question already: the run ends as a cancelled step does.
        if (dialog_.runState.load() == Cancelled) {
            Report(ERROR_CANCELLED);
            return Fail();
        }
        const std::string question = dialog_.LoadText(IDS_CONFIRMATION);
        if (os_.MessageBoxA(dialog_.Window(), question.c_str(), "Notification!",
                            MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) == IDNO) {
            engine_.UnloadUserHives();
            dialog_.runState = Cancelled;
            run_.result = ERROR_CANCELLED;
            Post(kStateChanged, 0);
            return ERROR_CANCELLED;
        }
    }

    BeginStep("Uninstalling MSI packages", IDS_UNINSTALLING_MSI);
    if (!Report(engine_.MsiUninstall())) return Fail();
    os_.Sleep(30000);
    BeginStep("Stopping processes", 0);
    if (!Report(engine_.StopNTProcesses())) return Fail();
    os_.Sleep(5000);
    BeginStep("Stopping and deleting services", IDS_STOPPING_SERVICES);
    if (!Report(engine_.StopNTServices())) return Fail();
    BeginStep("Resetting the Winsock catalogue", IDS_RESTORING_DEFAULTS);
    if (!Report(engine_.ResetLspStack())) return Fail();

    if (platform::IsWindowsNT(os_)) {
        BeginStep("Removing Security Center registrations", 0);
        CleanupSecurityCenter(os_);
    }

    os_.Sleep(1500);
    BeginStep("Scheduling files and folders for deletion", IDS_CLEANING_FILES);
    if (!Report(engine_.CleanupFiles())) return Fail();
    BeginStep("Deleting registry values", IDS_CLEANING_REGISTRY);
    rc = engine_.CleanupRegValues();
    if (rc != ERROR_SUCCESS) {
        Report(rc);
        return Fail();
    }
    run_.result = rc;
    engine_.stepResults.emplace_back(step_, rc);
    BeginStep("Deleting registry keys", 0);
    if (!Report(engine_.CleanupRegKeys())) return Fail();
    engine_.UnloadUserHives();
    BeginStep("Starting programs", 0);
    if (!Report(engine_.StartProcesses())) return Fail();
    TraceWrite("", -1, 0, "The removal ended: %u changes made (%u keys, values, services, processes, installer "
               "packages and catalogue entries removed, %u files and folders scheduled for deletion), %u entries "
               "refused, %u items could not be deleted or scheduled, %u things are not removed (the lines that "
               "begin \"Not removed:\")\n",
               engine_.Changes(), engine_.removed, engine_.scheduled, engine_.refused, engine_.failures,
               static_cast<unsigned>(engine_.left.size()));

    if (dialog_.silent == 0) {
        dialog_.runState = RestartNeeded;
        Post(kStateChanged, 0);
        return 0;
    }
    BeginStep("Restarting Windows", 0);
    RestartAfterRun(run_);
    return 0;
}

DWORD Worker::Undo() {
    Post(kStateChanged, 0);
    Post(kStepStarted, IDS_UNDOING);
    const DWORD rc = dialog_.undoRun ? dialog_.undoRun() : static_cast<DWORD>(kUndoNothing);
    run_.result = rc;
    RunState end = Failed;
    switch (rc) {
        case kUndoRestored:
        case kUndoFilesGone:
        case kUndoNothing:
            end = Finished;
            break;
        case kUndoRestartNeeded:
            end = RestartNeeded;
            break;
    }
    // The step did its work when it ends in one of the undo's own results (a
    // restart still missing, files a restart took, nothing to take back):
    // the state's text says which.
    Post(kStepResult, static_cast<LPARAM>(end == Failed ? rc : ERROR_SUCCESS));
    dialog_.runState = end;
    Post(kStateChanged, 0);
    return rc;
}

}  // namespace

DWORD WINAPI RunRemoval(LPVOID context) { return Worker(*static_cast<RunContext*>(context)).Run(); }

DWORD WINAPI RunUndo(LPVOID context) { return Worker(*static_cast<RunContext*>(context)).Undo(); }

bool StartRunThread(RunContext& run, RunPanel& panel, CNuke& engine, LPTHREAD_START_ROUTINE worker) {
    run.dialog = &panel;
    run.result = 0;
    run.engine = &engine;
    run.observer = panel.observer;
    run.threadHandle = panel.Os().CreateThread(nullptr, 0, worker, &run, 0, nullptr);
    if (run.threadHandle) return true;
    run.result = panel.Os().GetLastError();
    return false;
}

void WaitForRun(RunContext& run, platform::Platform& os) {
    if (!run.threadHandle) return;
    // Owned from here, and closed through the platform once the worker has
    // ended; the context keeps it until then for RunRunning.
    const platform::ObjectHandle owner(os, run.threadHandle);
    HANDLE worker = owner.get();
    // The worker's confirmation box is owned by the dialog and sends it
    // messages (to disable and enable it); they are served while waiting, or
    // each thread would wait for the other for ever.
    for (;;) {
        const DWORD woke = os.MsgWaitForMultipleObjects(1, &worker, FALSE, INFINITE, QS_SENDMESSAGE);
        if (woke == WAIT_OBJECT_0 + 1) {
            MSG message;
            os.PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);  // serves what was sent
            continue;
        }
        if (woke != WAIT_OBJECT_0) os.WaitForSingleObject(worker, INFINITE);
        break;
    }
    run.threadHandle = nullptr;
}

bool RunRunning(RunContext& run, platform::Platform& os) {
    return run.threadHandle && os.WaitForSingleObject(run.threadHandle, 0) == WAIT_TIMEOUT;
}

void RestartAfterRun(RunContext& run) {
    RunPanel& dialog = *run.dialog;
    platform::Platform& os = dialog.Os();
    const bool nt = platform::IsWindowsNT(os);
    // A run that changed nothing has nothing for a restart to finish: a
    // start-up script that runs Clearway at every boot must not restart the
    // machine at every boot.
    const bool needed = run.engine->Changes() != 0;
    if (!needed && dialog.noReboot == 0) {
        TraceWrite("", -1, 0, "Nothing was removed or scheduled for deletion: Windows is not restarted\n");
    }
    const bool restart = needed && dialog.noReboot == 0;
    bool started = false;
    if (nt && EnableShutdownPrivilege(os)) {
        dialog.firewall.RestoreWindowsFirewall();
        os.Sleep(500);
        if (restart) started = RestartWindows(os, dialog.rebootDelay, dialog.visibleSession);
    } else if (restart) {
        if (nt) {
            TraceWrite("", -1, 0, "RestartAfterRun: the process token could not be opened (error %lu)\n",
                       static_cast<unsigned long>(os.GetLastError()));
        }
        started = RestartAccepted(os, "ExitWindowsEx", os.ExitWindowsEx(EWX_SHUTDOWN | EWX_FORCE, 0));
    }
    if (started) {
        dialog.restartStarted = true;
        return;
    }
    dialog.runState = RestartNeeded;
    os.PostMessageA(dialog.Window(), kStateChanged, 0, 0);
}
