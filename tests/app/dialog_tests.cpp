// The real main dialog in the prefix (null display driver): its button is
// pressed with window messages from the test thread while the dialog runs
// on a thread of its own, and its texts are read back after each state.
#include <gtest/gtest.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/dialogs.h"
#include "app/resource.h"
#include "app/run.h"
#include "tests/app/app_doubles.h"
#include "tests/support/matchers.h"
#include "tests/support/test_platform.h"

using testing_support::AppPlatform;
using testing_support::ScriptedNuke;

namespace {

bool WaitFor(const std::function<bool()>& done, DWORD milliseconds = 20000) {
    for (DWORD waited = 0; waited < milliseconds; waited += 20) {
        if (done()) return true;
        ::Sleep(20);
    }
    return done();
}

std::string Text(HWND window, int id) {
    char text[4096] = {};
    ::GetDlgItemTextA(window, id, text, sizeof text);
    return text;
}

std::string LoadText(UINT id) {
    char text[1024] = {};
    ::LoadStringA(::GetModuleHandleA(nullptr), id, text, sizeof text);
    return text;
}

// The system's text for a code, as the system message table gives it.
std::string SystemText(DWORD code) {
    char text[1024] = {};
    ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                     MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, sizeof text, nullptr);
    return text;
}

// A step's line in the progress area: its caption and the results after it.
std::string StepLine(UINT caption, std::vector<DWORD> results) {
    std::string line = " -- " + LoadText(caption);
    for (DWORD code : results) line += " " + SystemText(code);
    return line;
}

std::string LogText() {
    char common[MAX_PATH] = {};
    ::SHGetSpecialFolderPathA(nullptr, common, CSIDL_COMMON_APPDATA, FALSE);
    return testing_support::ReadWholeFile(std::string(common) + "\\Velmoran clearway\\dialog_tests.log");
}

// Two threads that wait for each other stop every later test too: a test
// that finds the dialog hung reports it and ends the program.
void EndIfHung(bool settled, const char* what) {
    if (settled) return;
    ADD_FAILURE() << what << ": the dialog and the worker wait for each other";
    std::fflush(stdout);
    ::TerminateProcess(::GetCurrentProcess(), 3);
}

// One dialog on its own thread, in dialog mode unless the test says so.
class DialogRun {
public:
    DialogRun() : engine(os), dialog(os, engine) {
        dialog.silent = 0;
        os.realDialogs = {IDD_CLEARWAY, IDD_ABOUTBOX};
        gate = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    }
    ~DialogRun() {
        ::SetEvent(gate);
        if (thread_.joinable()) {
            // ESC until the dialog ends: while the worker still runs, ESC ends
            // the process, which the test platform only records.
            WaitFor([this] {
                if (!::IsWindow(dialog.Window())) return true;
                ::PostMessageA(dialog.Window(), WM_COMMAND, IDCANCEL, 0);
                return false;
            });
            thread_.join();
        }
        ::CloseHandle(gate);
    }
    void Start() {
        thread_ = std::thread([this] { dialog.DoModal(); });
        EXPECT_TRUE(WaitFor([this] { return dialog.Window() && ::IsWindowVisible(dialog.Window()); }));
    }
    void Press() { ::PostMessageA(dialog.Window(), WM_COMMAND, MAKEWPARAM(IDC_START, BN_CLICKED), 0); }
    std::string Step() { return Text(dialog.Window(), IDC_STEP_TEXT); }
    std::string Progress() { return Text(dialog.Window(), IDC_PROGRESS); }
    std::string Button() { return Text(dialog.Window(), IDC_START); }
    bool WaitForButton(const std::string& caption) {
        return WaitFor([&] { return Button() == caption && ::IsWindowEnabled(::GetDlgItem(dialog.Window(), IDC_START)); });
    }
    bool Ended() {
        if (!WaitFor([this] { return !::IsWindow(dialog.Window()); })) return false;
        thread_.join();
        return true;
    }

    AppPlatform os;
    ScriptedNuke engine;
    CZerlinDlg dialog;
    HANDLE gate;

private:
    std::thread thread_;
};

TEST(MainDialogTest, StartRunRestart) {
    DialogRun run;
    run.engine.gate = run.gate;
    run.os.messageBoxAnswer = IDYES;
    run.Start();
    EXPECT_EQ(run.Step(), LoadText(IDS_READY));
    EXPECT_EQ(run.Button(), "Start");
    EXPECT_EQ(run.Progress(), "");

    // The system menu offers the About box after a separator.
    HMENU menu = ::GetSystemMenu(run.dialog.Window(), FALSE);
    const int items = ::GetMenuItemCount(menu);
    char about[64] = {};
    ::GetMenuStringA(menu, items - 1, about, sizeof about, MF_BYPOSITION);
    EXPECT_EQ(std::string(about), "&About...");
    EXPECT_EQ(::GetMenuItemID(menu, items - 1), static_cast<UINT>(IDM_ABOUTBOX));
    EXPECT_EQ(::GetMenuState(menu, items - 2, MF_BYPOSITION) & MF_SEPARATOR, static_cast<UINT>(MF_SEPARATOR));
    ::PostMessageA(run.dialog.Window(), WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
    HWND box = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (box = ::FindWindowA(nullptr, "About Zerlin")) != nullptr; }));
    // The box is found as soon as it exists; its controls come a moment later.
    std::string line;
    EXPECT_TRUE(WaitFor([&] {
        char text[64] = {};
        if (HWND first = ::GetWindow(box, GW_CHILD)) ::GetWindowTextA(first, text, sizeof text);
        line = text;
        return line == "Clearway  Version 1.01";
    })) << line;
    ::PostMessageA(box, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(WaitFor([&] { return !::IsWindow(box); }));

    run.Press();
    ASSERT_TRUE(run.WaitForButton("Cancel"));
    EXPECT_TRUE(WaitFor([&] { return run.Step() == LoadText(IDS_UNINSTALLING_MSI); }));  // held in the MSI step
    ::SetEvent(run.gate);
    ASSERT_TRUE(run.WaitForButton("Restart")) << run.Button();
    EXPECT_TRUE(WaitFor([&] { return run.Step() == LoadText(IDS_RESTART_NEEDED); })) << run.Step();
    // Every caption and result in the log; the progress area shows its
    // latest lines.
    const std::string log = run.dialog.logText;
    EXPECT_EQ(log.find("\n -- Creating uninstallation profile... "), 0u) << log;
    const std::string progress = run.Progress();
    ASSERT_LE(progress.size(), log.size());
    EXPECT_EQ(log.substr(log.size() - progress.size()), progress);
    EXPECT_THAT(progress, HasSubstr("\n -- Cleaning up registry... ")) << progress;
    EXPECT_EQ(run.os.boxes.size(), 1u);  // the confirmation

    run.Press();
    ASSERT_TRUE(run.Ended());
    ASSERT_EQ(run.os.restarts.size(), 1u);
    EXPECT_EQ(run.os.restarts[0].call, "ExitWindowsEx");
    EXPECT_EQ(run.os.restarts[0].flags, static_cast<DWORD>(EWX_REBOOT | EWX_FORCE));
    EXPECT_EQ(run.dialog.ExitCode(), 1641u);
}

TEST(MainDialogTest, EndStatesAndTheirExitCodes) {
    struct Case {
        const char* name;
        void (*setup)(DialogRun&);
        bool cancelWhileRunning;
        bool endsItself;  // the dialog closes without Quit
        UINT stepText;
        const char* button;
        std::string progressEnd;  // the end of the progress area
        DWORD exitCode;
    };
    const Case cases[] = {
        {"No to the confirmation", [](DialogRun& r) { r.os.messageBoxAnswer = IDNO; }, false, false, IDS_CANCELLED,
         "Quit", StepLine(IDS_CREATING_PROFILE, {0}), 1223},
        {"Cancel during the run", [](DialogRun& r) { r.engine.gate = r.gate; }, true, false, IDS_FAILED, "Quit",
         StepLine(IDS_RESTORING_DEFAULTS, {1223}), 1223},
        {"a code without a system text",
         [](DialogRun& r) {
             r.engine.failing = "MsiUninstall";
             r.engine.code = 0x2000BEEF;
         },
         false, false, IDS_FAILED, "Quit", " -- " + LoadText(IDS_UNINSTALLING_MSI) + " Failed", 0x2000BEEF},
        {"no administrator rights", [](DialogRun& r) { r.os.admin = false; }, false, false, IDS_FAILED, "Quit",
         "Not enough rights. You should re-logon as a local administrator.", 5},
        {"--noreboot", [](DialogRun& r) { r.dialog.noReboot = 1; }, false, true, IDS_RESTART_NEEDED, "Restart",
         StepLine(IDS_CLEANING_REGISTRY, {0, 0}), 3010},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DialogRun run;
        run.os.messageBoxAnswer = IDYES;
        c.setup(run);
        run.Start();
        if (run.os.admin) {
            run.Press();
            if (c.cancelWhileRunning) {
                // Held in the MSI step, past the question: a Cancel pressed while
                // the profile is built ends the run before anything changes.
                ASSERT_TRUE(WaitFor([&] { return run.engine.atGate.load(); }));
                ASSERT_EQ(run.Button(), "Cancel");
                run.Press();
                ::Sleep(200);
                ::SetEvent(run.gate);  // the engine notices the cancel at its next test
            }
        }
        std::string progress;
        if (c.endsItself) {
            ASSERT_TRUE(run.Ended());
            progress = run.dialog.logText;
        } else {
            // The dialog reads the state when it handles a message, so a quick
            // run may pass through a mixed picture; the end state settles.
            EXPECT_TRUE(WaitFor([&] { return run.Button() == c.button && run.Step() == LoadText(c.stepText); }))
                << run.Button() << " / " << run.Step();
            progress = run.Progress();
            run.Press();  // Quit
            ASSERT_TRUE(run.Ended());
        }
        ASSERT_FALSE(c.progressEnd.empty());
        EXPECT_GE(progress.size(), c.progressEnd.size()) << progress;
        EXPECT_EQ(progress.substr(progress.size() - std::min(progress.size(), c.progressEnd.size())), c.progressEnd)
            << progress;
        EXPECT_TRUE(run.os.restarts.empty());
        EXPECT_EQ(run.dialog.ExitCode(), c.exitCode);
    }
}

// ESC or the close box while the worker is inside a removal loop: the
// process ends at once with 1223 and the dialog, which the worker reads
// through its link, is not ended under it.
TEST(MainDialogTest, ClosingDuringTheRunEndsTheProcessWithoutEndingTheDialog) {
    DialogRun run;
    run.os.messageBoxAnswer = IDYES;
    run.engine.gate = run.gate;
    run.engine.gateStep = "CleanupFiles";
    run.engine.loopAtGate = true;
    run.Start();
    run.Press();
    ASSERT_TRUE(WaitFor([&] { return run.engine.atGate.load(); }));

    ::SendMessageA(run.dialog.Window(), WM_COMMAND, IDCANCEL, 0);  // handled when this returns
    EXPECT_EQ(run.os.exitCodes, std::vector<UINT>{1223});
    EXPECT_TRUE(::IsWindow(run.dialog.Window()));
    EXPECT_EQ(run.dialog.runState.load(), Running);
    EXPECT_THAT(LogText(), HasSubstr("The dialog was closed during the run: Clearway ends at once with 1223"))
        << LogText();

    // Only the test platform comes back from ExitProcess: the worker goes on
    // with the dialog it uses, and the exit code stays the one given.
    ::SetEvent(run.gate);
    ASSERT_TRUE(run.WaitForButton("Restart"));
    run.os.exitCodes.clear();
    ::SendMessageA(run.dialog.Window(), WM_COMMAND, IDCANCEL, 0);  // the run is over: the dialog ends
    ASSERT_TRUE(run.Ended());
    EXPECT_TRUE(run.os.exitCodes.empty());
    EXPECT_EQ(run.dialog.ExitCode(), 1223u);
}

// Cancel pressed just before the worker asks its question: the question is
// not asked when the cancel came first, and a question already on its way
// still shows and is answered while the dialog waits for the worker.
TEST(MainDialogTest, CancelNeverLeavesTheDialogAndTheQuestionWaitingForEachOther) {
    struct Case {
        const char* name;
        bool cancelAsTheBoxOpens;  // else while the profile is built
        size_t boxes;
        UINT stepText;
        std::string progressEnd;
    };
    const Case cases[] = {
        {"Cancel while the profile is built", false, 0, IDS_FAILED, StepLine(IDS_CREATING_PROFILE, {0, 1223})},
        {"Cancel as the question opens, answered No", true, 1, IDS_CANCELLED, StepLine(IDS_CREATING_PROFILE, {0})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DialogRun run;
        if (c.cancelAsTheBoxOpens) {
            run.os.realBoxes = true;
            run.os.beforeBox = [&run] {
                run.Press();  // Cancel, from the worker's thread as the box is about to open
                WaitFor([&run] { return run.dialog.runState.load() == Cancelled; });
            };
        } else {
            run.engine.gate = run.gate;
            run.engine.gateStep = "PopulateLists";
        }
        run.Start();
        run.Press();
        if (c.cancelAsTheBoxOpens) {
            HWND box = nullptr;
            EndIfHung(WaitFor([&] { return (box = ::FindWindowA(nullptr, "Notification!")) != nullptr; }),
                      "the question never opened");
            ::PostMessageA(box, WM_COMMAND, IDNO, 0);
        } else {
            ASSERT_TRUE(WaitFor([&] { return run.engine.atGate.load(); }));
            run.Press();  // Cancel
            ASSERT_TRUE(WaitFor([&] { return run.dialog.runState.load() == Cancelled; }));
            ::SetEvent(run.gate);
        }
        EndIfHung(WaitFor([&] { return run.Button() == "Quit" && run.Step() == LoadText(c.stepText); }),
                  "the run never ended");
        const std::string progress = run.Progress();
        EXPECT_EQ(progress.substr(progress.size() - std::min(progress.size(), c.progressEnd.size())), c.progressEnd)
            << progress;
        EXPECT_EQ(run.os.boxes.size(), c.boxes);
        EXPECT_EQ(run.engine.calls, "InitializeLists PopulateLists ");
        run.Press();  // Quit
        ASSERT_TRUE(run.Ended());
        EXPECT_EQ(run.dialog.ExitCode(), 1223u);
    }
}

// --undo --GUI: the same dialog with the undo's texts. Its one step cannot
// be cancelled (the button waits, ESC is ignored), and its result settles
// the end: Quit with the undo's code, or Restart when services come back only
// at the next start.
TEST(MainDialogTest, UndoWithItsOwnTexts) {
    struct Case {
        const char* name;
        bool admin;
        DWORD result;
        const char* button;
        UINT stepText;
        DWORD exitCode;
    };
    const Case cases[] = {
        {"restored", true, 0, "Quit", IDS_UNDO_DONE, 0},
        {"files deleted by a restart", true, 18, "Quit", IDS_UNDO_FILES_GONE, 18},
        {"nothing to undo", true, 1168, "Quit", IDS_UNDO_NOTHING, 1168},
        {"an error", true, ERROR_WRITE_FAULT, "Quit", IDS_UNDO_FAILED, ERROR_WRITE_FAULT},
        {"services at the next start", true, 3010, "Restart", IDS_UNDO_RESTART_NEEDED, 1641},
        {"no administrator rights", false, 0, "Quit", IDS_UNDO_FAILED, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DialogRun run;
        run.os.admin = c.admin;
        run.dialog.undo = true;
        int undos = 0;
        run.dialog.undoRun = [&] {
            ++undos;
            ::WaitForSingleObject(run.gate, 20000);
            return c.result;
        };
        run.Start();
        if (c.admin) {
            EXPECT_EQ(run.Step(), LoadText(IDS_UNDO_READY));
            run.Press();
            ASSERT_TRUE(WaitFor([&] { return run.Step() == LoadText(IDS_UNDOING); })) << run.Step();
            EXPECT_FALSE(::IsWindowEnabled(::GetDlgItem(run.dialog.Window(), IDC_START)));
            ::SendMessageA(run.dialog.Window(), WM_COMMAND, IDCANCEL, 0);  // ESC
            EXPECT_TRUE(::IsWindow(run.dialog.Window()));
            EXPECT_TRUE(run.os.exitCodes.empty());
            ::SetEvent(run.gate);
        }
        EXPECT_TRUE(run.WaitForButton(c.button) && WaitFor([&] { return run.Step() == LoadText(c.stepText); }))
            << run.Button() << " / " << run.Step();
        const std::string progress = run.Progress();
        const std::string end = c.admin ? StepLine(IDS_UNDOING, {c.result == ERROR_WRITE_FAULT ? c.result : 0}) : LoadText(IDS_NO_RIGHTS);
        EXPECT_EQ(progress.substr(progress.size() - std::min(progress.size(), end.size())), end) << progress;
        run.Press();
        ASSERT_TRUE(run.Ended());
        EXPECT_EQ(undos, c.admin ? 1 : 0);
        EXPECT_EQ(run.engine.calls, "");  // no removal step
        EXPECT_EQ(run.os.restarts.size(), c.result == 3010 ? 1u : 0u);
        EXPECT_EQ(run.dialog.ExitCode(), c.exitCode);
    }
}

}  // namespace
