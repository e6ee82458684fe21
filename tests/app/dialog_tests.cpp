// The real main dialog in the prefix (null display driver): its button is
// pressed with window messages from the test thread while the dialog runs
// on a thread of its own, and its texts are read back after each state.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>

#include "app/dialogs.h"
#include "app/resource.h"
#include "app/run.h"
#include "tests/app/app_doubles.h"

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
            if (dialog.Window()) ::PostMessageA(dialog.Window(), WM_COMMAND, IDCANCEL, 0);
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
    char line[64] = {};
    ::GetWindowTextA(::GetWindow(box, GW_CHILD), line, sizeof line);
    EXPECT_EQ(std::string(line), "Clearway  Version 1.01");
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
    EXPECT_NE(progress.find("\n -- Cleaning up registry... "), std::string::npos) << progress;
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
        UINT stepText;
        const char* button;
        const char* progressEnd;  // the last line of the progress area, or "" for any
        DWORD exitCode;
    };
    const Case cases[] = {
        {"No to the confirmation", [](DialogRun& r) { r.os.messageBoxAnswer = IDNO; }, false, IDS_CANCELLED, "Quit",
         "", 1223},
        {"Cancel during the run", [](DialogRun& r) { r.engine.gate = r.gate; }, true, IDS_FAILED, "Quit", "", 1223},
        {"a code without a system text",
         [](DialogRun& r) {
             r.engine.failing = "MsiUninstall";
             r.engine.code = 0x2000BEEF;
         },
         false, IDS_FAILED, "Quit", " Failed", 0x2000BEEF},
        {"no administrator rights", [](DialogRun& r) { r.os.admin = false; }, false, IDS_FAILED, "Quit",
         "Not enough rights. You should re-logon as a local administrator.", 5},
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
                ASSERT_TRUE(run.WaitForButton("Cancel"));
                run.Press();
                ::Sleep(200);
                ::SetEvent(run.gate);  // the engine notices the cancel at its next test
            }
        }
        // The dialog reads the state when it handles a message, so a quick run
        // may pass through a mixed picture; the end state settles.
        EXPECT_TRUE(WaitFor([&] { return run.Button() == c.button && run.Step() == LoadText(c.stepText); }))
            << run.Button() << " / " << run.Step();
        const std::string progress = run.Progress();
        const std::string end = c.progressEnd;
        EXPECT_EQ(progress.substr(progress.size() - std::min(progress.size(), end.size())), end) << progress;
        run.Press();  // Quit
        ASSERT_TRUE(run.Ended());
        EXPECT_TRUE(run.os.restarts.empty());
        EXPECT_EQ(run.dialog.ExitCode(), c.exitCode);
    }
}

}  // namespace
