// The program's shell without its window: the switches, the safe-mode
// preparation, the run sequence against an engine whose steps answer from a
// script, the restart and the exit codes. Restarts are recorded, never made.
#include <gtest/gtest.h>
#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/dialogs.h"
#include "app/resource.h"
#include "app/run.h"
#include "app/session.h"
#include "profile/engine.h"
#include "tests/app/app_doubles.h"
#include "tests/support/matchers.h"
#include "tests/support/test_platform.h"
#include "trace/trace.h"

using testing_support::TestPlatform;

namespace {

using testing_support::AppPlatform;
using testing_support::ScriptedNuke;

const char kAllSteps[] =
    "InitializeLists PopulateLists MsiUninstall StopNTProcesses StopNTServices ResetLspStack CleanupFiles "
    "CleanupRegValues CleanupRegKeys StartProcesses ";
const char kAllPosts[] =
    "1025:0 1026:106 1027:0 1026:114 1027:0 1027:0 1026:112 1027:0 1026:110 1027:0 1026:107 1027:0 1026:108 1027:0 "
    "1027:0 ";

std::string LogFolder() {
    char common[MAX_PATH] = {};
    ::SHGetSpecialFolderPathA(nullptr, common, CSIDL_COMMON_APPDATA, FALSE);
    return std::string(common) + "\\Velmoran clearway";
}

// The log as text with plain line ends; suffix " refused" for the log of a
// command line refused before any run.
std::string LogText(const std::string& suffix = "") {
    std::string text = testing_support::ReadWholeFile(LogFolder() + "\\app_tests" + suffix + ".log");
    std::string out;
    for (char c : text) {
        if (c != '\r') out += c;
    }
    return out;
}

struct RunCase {
    const char* name;
    void (*setup)(AppPlatform&, CZerlinDlg&, ScriptedNuke&);
    std::string calls;
    std::string posts;
    std::vector<DWORD> sleeps;
    RunState state;  // after the run
    std::vector<std::string> restarts;  // "call flags reason"
    bool started;  // Windows accepted the restart
    const char* traced;  // a line of the trace log, or "" for none
};

std::vector<std::string> Restarts(const AppPlatform& os) {
    std::vector<std::string> out;
    for (const auto& r : os.restarts) {
        out.push_back(r.call + " " + std::to_string(r.flags) + " " + std::to_string(r.reason));
    }
    return out;
}

TEST(RunRemovalTest, StepsPausesMessagesAndTheRestartInTheirOrder) {
    const std::vector<DWORD> kPauses = {30000, 5000, 1500, 500};
    const RunCase cases[] = {
        {"silent, defaults", [](AppPlatform&, CZerlinDlg&, ScriptedNuke&) {}, kAllSteps, kAllPosts, kPauses,
         Running, {"ExitWindowsEx 6 0"}, true, ""},
        // A run that changed nothing has nothing for a restart to finish.
        {"nothing to do", [](AppPlatform&, CZerlinDlg&, ScriptedNuke& e) { e.schedules = 0; }, kAllSteps,
         std::string(kAllPosts) + "1025:0 ", kPauses, RestartNeeded, {}, false,
         "Nothing was removed or scheduled for deletion: Windows is not restarted"},
        // Where nobody sees the session ExitWindowsEx may answer success and
        // not restart: the restart is asked for as the delayed one is.
        {"a session nobody sees", [](AppPlatform&, CZerlinDlg& d, ScriptedNuke&) { d.visibleSession = false; },
         kAllSteps, kAllPosts, kPauses, Running, {"InitiateSystemShutdownExA 0 2147745793"}, true, ""},
        {"delay 60", [](AppPlatform&, CZerlinDlg& d, ScriptedNuke&) { d.rebootDelay = 60; }, kAllSteps, kAllPosts,
         kPauses, Running, {"InitiateSystemShutdownExA 60 2147745793"}, true, ""},
        {"delay beyond the maximum (-1)", [](AppPlatform&, CZerlinDlg& d, ScriptedNuke&) { d.rebootDelay = ~0u; },
         kAllSteps, std::string(kAllPosts) + "1025:0 ", kPauses, RestartNeeded,
         {"InitiateSystemShutdownExA 4294967295 2147745793"}, false,
         "InitiateSystemShutdownExA failed with error 87: Windows does not restart"},
        {"shutdown right removed by policy",
         [](AppPlatform& os, CZerlinDlg&, ScriptedNuke&) { os.shutdownRight = false; }, kAllSteps,
         std::string(kAllPosts) + "1025:0 ", kPauses, RestartNeeded, {"ExitWindowsEx 6 0"}, false,
         "ExitWindowsEx failed with error 1314: Windows does not restart"},
        {"delay and --noreboot",
         [](AppPlatform&, CZerlinDlg& d, ScriptedNuke&) {
             d.rebootDelay = 60;
             d.noReboot = 1;
         },
         kAllSteps, std::string(kAllPosts) + "1025:0 ", kPauses, RestartNeeded, {}, false, ""},
        {"Windows 9x", [](AppPlatform& os, CZerlinDlg&, ScriptedNuke&) { os.platformId = VER_PLATFORM_WIN32_WINDOWS; },
         kAllSteps, kAllPosts, {30000, 5000, 1500}, Running, {"ExitWindowsEx 5 0"}, true, ""},
        // Without its token the run cannot enable the shutdown privilege, and
        // NT refuses the shut-down.
        {"token refused", [](AppPlatform& os, CZerlinDlg&, ScriptedNuke&) { os.tokenOpens = false; }, kAllSteps,
         std::string(kAllPosts) + "1025:0 ", {30000, 5000, 1500}, RestartNeeded, {"ExitWindowsEx 5 0"}, false,
         "ExitWindowsEx failed with error 1314: Windows does not restart"},
        {"values fail", [](AppPlatform&, CZerlinDlg&, ScriptedNuke& e) { e.failing = "CleanupRegValues", e.code = 5; },
         "InitializeLists PopulateLists MsiUninstall StopNTProcesses StopNTServices ResetLspStack CleanupFiles "
         "CleanupRegValues ",
         "1025:0 1026:106 1027:0 1026:114 1027:0 1027:0 1026:112 1027:0 1026:110 1027:0 1026:107 1027:0 1026:108 "
         "1027:5 1025:0 ",
         {30000, 5000, 1500}, Failed, {}, false, ""},
        {"profile fails", [](AppPlatform&, CZerlinDlg&, ScriptedNuke& e) { e.failing = "InitializeLists", e.code = 2; },
         "InitializeLists ", "1025:0 1026:106 1027:2 1025:0 ", {}, Failed, {}, false, ""},
        {"dialog mode, No",
         [](AppPlatform& os, CZerlinDlg& d, ScriptedNuke&) {
             d.silent = 0;
             os.messageBoxAnswer = IDNO;
         },
         "InitializeLists PopulateLists ", "1025:0 1026:106 1027:0 1025:0 ", {}, Cancelled, {}, false, ""},
        {"dialog mode, Yes",
         [](AppPlatform& os, CZerlinDlg& d, ScriptedNuke&) {
             d.silent = 0;
             os.messageBoxAnswer = IDYES;
         },
         kAllSteps, std::string(kAllPosts) + "1025:0 ", {30000, 5000, 1500}, RestartNeeded, {}, false, ""},
        {"cancel during the 30 s pause",
         [](AppPlatform& os, CZerlinDlg& d, ScriptedNuke&) {
             os.runState = &d.runState;
             os.cancelDuringPause = true;
         },
         "InitializeLists PopulateLists MsiUninstall StopNTProcesses StopNTServices ResetLspStack ",
         "1025:0 1026:106 1027:0 1026:114 1027:0 1027:0 1026:112 1027:0 1026:110 1027:1223 1025:0 ", {30000, 5000},
         Failed, {}, false, ""},
    };
    for (const RunCase& c : cases) {
        SCOPED_TRACE(c.name);
        TraceShutdown();
        ::DeleteFileA((LogFolder() + "\\app_tests.log").c_str());
        AppPlatform os;
        ScriptedNuke engine(os);
        CZerlinDlg dialog(os, engine);
        c.setup(os, dialog, engine);
        dialog.runState = Running;
        engine.dialog = &dialog;
        g_runContext = {&dialog, nullptr, 0, &engine, nullptr};
        RunRemoval(&g_runContext);
        EXPECT_EQ(engine.calls, c.calls);
        EXPECT_EQ(os.posts, c.posts);
        EXPECT_EQ(os.sleeps, c.sleeps);
        EXPECT_EQ(dialog.runState.load(), c.state);
        EXPECT_EQ(Restarts(os), c.restarts);
        if (!os.restarts.empty() && os.restarts[0].call == "InitiateSystemShutdownExA") {
            EXPECT_EQ(os.restarts[0].message,
                      "Uninstallation completed successfully.\nVelmoran Clearway\nwill restart your computer shortly.");
        }
        if (c.name == std::string("dialog mode, No")) {
            ASSERT_EQ(os.boxes.size(), 1u);
            EXPECT_EQ(os.boxes[0].caption, "Notification!");
            EXPECT_EQ(os.boxes[0].text,
                      "Now your old installation will be removed permanently. Are you sure you want to continue?");
            EXPECT_EQ(os.boxes[0].type, static_cast<UINT>(MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2));
            EXPECT_EQ(g_runContext.result, static_cast<DWORD>(ERROR_CANCELLED));
        }
        EXPECT_EQ(dialog.restartStarted.load(), c.started);
        const std::string log = LogText();
        // A refused restart call, and only that, traces its error.
        EXPECT_EQ(log.find(" failed with error ") != std::string::npos,
                  std::string(c.traced).find(" failed with error ") != std::string::npos)
            << log;
        if (*c.traced) {
            EXPECT_THAT(log, HasSubstr(c.traced)) << log;
        }
    }
}

// Shows of top-level windows on this thread (WM_SHOWWINDOW asking to show).
int g_windowsShown = 0;
LRESULT CALLBACK CountShows(int code, WPARAM wParam, LPARAM lParam) {
    const CWPSTRUCT* message = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && message->message == WM_SHOWWINDOW && message->wParam &&
        (::GetWindowLongA(message->hwnd, GWL_STYLE) & WS_CHILD) == 0) {
        ++g_windowsShown;
    }
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

// A silent run through the real dialog, as a deployment tool starts it: the
// exit code it reads, the restart calls, the beeps, and no window at all.
TEST(SilentRunTest, TheExitCodeSaysWhatHappened) {
    struct Case {
        const char* name;
        void (*setup)(AppPlatform&, CZerlinDlg&, ScriptedNuke&);
        DWORD exitCode;
        std::vector<std::string> restarts;
        std::vector<UINT> beeps;
    };
    const Case cases[] = {
        {"defaults: Windows restarts", [](AppPlatform&, CZerlinDlg&, ScriptedNuke&) {}, 1641, {"ExitWindowsEx 6 0"}, {}},
        {"shutdown right removed by policy", [](AppPlatform& os, CZerlinDlg&, ScriptedNuke&) { os.shutdownRight = false; }, 3010,
         {"ExitWindowsEx 6 0"}, {}},
        {"--reboot-delay=-1", [](AppPlatform&, CZerlinDlg& d, ScriptedNuke&) { d.rebootDelay = ~0u; }, 3010,
         {"InitiateSystemShutdownExA 4294967295 2147745793"}, {}},
        {"token refused", [](AppPlatform& os, CZerlinDlg&, ScriptedNuke&) { os.tokenOpens = false; }, 3010, {"ExitWindowsEx 5 0"}, {}},
        {"--noreboot", [](AppPlatform&, CZerlinDlg& d, ScriptedNuke&) { d.noReboot = 1; }, 3010, {}, {}},
        // What the run got done decides: nothing changed, nothing to finish;
        // something it was asked to remove still there, whatever the restart.
        {"nothing to do", [](AppPlatform&, CZerlinDlg&, ScriptedNuke& e) { e.schedules = 0; }, 0, {}, {}},
        {"incomplete", [](AppPlatform&, CZerlinDlg&, ScriptedNuke& e) { e.leaves = {"the 64-bit catalogue"}; }, 1603,
         {"ExitWindowsEx 6 0"}, {}},
        {"incomplete, nothing changed",
         [](AppPlatform&, CZerlinDlg&, ScriptedNuke& e) {
             e.schedules = 0;
             e.leaves = {"a product the installer kept"};
         },
         1603, {}, {}},
        {"no administrator rights", [](AppPlatform& os, CZerlinDlg&, ScriptedNuke&) { os.admin = false; }, 5, {}, {0xFFFFFFFF}},
    };
    HHOOK hook = ::SetWindowsHookExA(WH_CALLWNDPROC, CountShows, nullptr, ::GetCurrentThreadId());
    ASSERT_NE(hook, nullptr);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AppPlatform os;
        os.realDialogs = {IDD_CLEARWAY};
        ScriptedNuke engine(os);
        CZerlinDlg dialog(os, engine);
        dialog.silent = 1;
        c.setup(os, dialog, engine);
        g_windowsShown = 0;
        dialog.DoModal();
        EXPECT_EQ(dialog.ExitCode(), c.exitCode);
        EXPECT_EQ(Restarts(os), c.restarts);
        EXPECT_EQ(os.beeps, c.beeps);
        EXPECT_EQ(g_windowsShown, 0);
    }
    ::UnhookWindowsHookEx(hook);
}

// The application's view: which switches reach the dialog, what the usage
// box says and which exit code the process gets.
class SwitchApp : public CZerlinApp {
public:
    SwitchApp(platform::Platform& os, CNuke& engine) : CZerlinApp(os, engine) {}
    bool shown = false, undone = false, dialogUndo = false;
    int silent = -1, removeAll = -1, forceMsi = -1, noReboot = -1;
    DWORD rebootDelay = 0;

protected:
    DWORD Undo() override {
        undone = true;
        return 0;
    }
    void ShowDialog(CZerlinDlg& dialog) override {
        shown = true;
        silent = dialog.silent;
        removeAll = dialog.removeAll;
        forceMsi = dialog.forceMsi;
        noReboot = dialog.noReboot;
        rebootDelay = dialog.rebootDelay;
        dialogUndo = dialog.undo;
        if (dialog.undoRun) dialog.undoRun();  // as Start would
    }
};

TEST(CommandLineTest, SwitchesDelaysAndTheUsageBox) {
    struct Case {
        std::vector<const char*> arguments;
        bool shown;
        int silent, removeAll, forceMsi, noReboot;
        DWORD rebootDelay;
        DWORD exitCode;
    };
    const DWORD kBox = ~0u;    // the usage box, then 87
    const DWORD kHelp = ~1u;   // the usage box, then 0
    const DWORD kRefused = 87;  // without the usage box
    const Case cases[] = {
        {{}, true, 1, 0, 0, 0, 0, 0},
        {{"--gui"}, true, 0, 0, 0, 0, 0, 0},
        {{"--Gui", "--REMOVEALL", "--forceMSI", "--NOREBOOT"}, true, 0, 1, 1, 1, 0, 0},
        {{"--reboot-delay=60"}, true, 1, 0, 0, 0, 60, 0},
        // Without a number it would restart at once: refused, nothing shown.
        {{"--reboot-delay="}, false, 0, 0, 0, 0, 0, kRefused},
        {{"--reboot-delay=0"}, true, 1, 0, 0, 0, 0, 0},
        {{"--reboot-delay=abc"}, false, 0, 0, 0, 0, 0, kRefused},
        {{"--reboot-delay= "}, false, 0, 0, 0, 0, 0, kRefused},
        {{"--reboot-delay=15s"}, true, 1, 0, 0, 0, 15, 0},
        {{"x--reboot-delay= 42"}, true, 1, 0, 0, 0, 42, 0},
        {{"--reboot-delay=-1"}, true, 1, 0, 0, 0, 4294967295u, 0},
        {{"--reboot-delay=99999999999"}, true, 1, 0, 0, 0, 2147483647u, 0},  // saturates
        {{"--reboot-delay=30", "--reboot-delay=0", "--reboot-delay=7"}, true, 1, 0, 0, 0, 7, 0},
        {{"--reboot-delay=30", "--reboot-delay=x"}, false, 0, 0, 0, 0, 0, kRefused},
        {{"--REBOOT-DELAY=60"}, false, 0, 0, 0, 0, 0, kBox},
        {{"--GUI", "--help"}, false, 0, 0, 0, 0, 0, kHelp},
        {{"--HELP", "--bogus"}, false, 0, 0, 0, 0, 0, kHelp},
        {{"/?"}, false, 0, 0, 0, 0, 0, kHelp},
        {{"-?"}, false, 0, 0, 0, 0, 0, kHelp},
        {{"/HELP"}, false, 0, 0, 0, 0, 0, kHelp},
        {{"/h"}, false, 0, 0, 0, 0, 0, kBox},
        {{"--removeall", "/x"}, false, 0, 0, 0, 0, 0, kBox},
    };
    for (const Case& c : cases) {
        std::vector<char*> argv = {const_cast<char*>("C:\\tools\\Clearway.exe")};
        std::string joined;
        for (const char* a : c.arguments) {
            argv.push_back(const_cast<char*>(a));
            joined += std::string(a) + " ";
        }
        SCOPED_TRACE(joined);
        AppPlatform os;
        CNuke engine(os);
        {
            SwitchApp app(os, engine);
            EXPECT_FALSE(app.InitInstance(static_cast<int>(argv.size()), argv.data()));
            EXPECT_EQ(app.shown, c.shown);
            // One Application event, its kind by the exit code, its text the
            // log's closing line.
            ASSERT_EQ(os.events.size(), 1u);
            EXPECT_EQ(os.events[0].source, "Clearway");
            EXPECT_EQ(os.events[0].id, app.exitCode);
            // 0 is information; a dialog never shown ends as cancelled, a warning; 87 an error.
            EXPECT_EQ(os.events[0].type, app.exitCode == 0      ? EVENTLOG_INFORMATION_TYPE
                                         : app.exitCode == 1223 ? EVENTLOG_WARNING_TYPE
                                                                : EVENTLOG_ERROR_TYPE);
            EXPECT_EQ(os.events[0].text.rfind("Clearway ends with exit code " + std::to_string(app.exitCode) + ": ", 0),
                      0u);
            if (c.shown) {
                EXPECT_EQ(app.silent, c.silent);
                EXPECT_EQ(app.removeAll, c.removeAll);
                EXPECT_EQ(app.forceMsi, c.forceMsi);
                EXPECT_EQ(app.noReboot, c.noReboot);
                EXPECT_EQ(app.rebootDelay, c.rebootDelay);
                EXPECT_TRUE(os.boxes.empty());
            } else if (c.exitCode == kRefused) {
                EXPECT_TRUE(os.boxes.empty());
                EXPECT_EQ(app.exitCode, kRefused);
            } else {
                ASSERT_EQ(os.boxes.size(), 1u);
                // The first lines as they always were, then every switch.
                const std::string first =
                    "Usage:\nC:\\tools\\Clearway.exe [switch]\n--GUI to show the user interface\n--help to see "
                    "this message\n";
                EXPECT_EQ(os.boxes[0].text.substr(0, first.size()), first);
                for (const char* other : {"--noreboot", "--reboot-delay=", "--removeall", "--forcemsi", "--preview",
                                          "--undo", "/?", "start /wait"}) {
                    EXPECT_THAT(os.boxes[0].text.substr(first.size()), HasSubstr(other));
                }
                EXPECT_EQ(os.boxes[0].caption, "Usage");
                EXPECT_EQ(os.boxes[0].type, static_cast<UINT>(MB_OK));
                EXPECT_EQ(app.exitCode, c.exitCode == kHelp ? 0u : 87u);
            }
        }
    }
}

// --undo alone takes the run back without a window; with --GUI the dialog
// does it with its own texts; it cannot be previewed.
TEST(CommandLineTest, UndoAloneInTheDialogButNeverAsAPreview) {
    struct Case {
        std::vector<const char*> arguments;
        bool shown, dialogUndo, undone;
        DWORD exitCode;
    };
    const Case cases[] = {
        {{"--undo"}, false, false, true, 0},
        {{"--GUI", "--UNDO"}, true, true, true, 1223},  // the test's dialog is never started
        {{"--undo", "--preview"}, false, false, false, 87},
    };
    for (const Case& c : cases) {
        std::vector<char*> argv = {const_cast<char*>("Clearway.exe")};
        for (const char* a : c.arguments) argv.push_back(const_cast<char*>(a));
        SCOPED_TRACE(c.arguments.size() > 1 ? c.arguments[1] : c.arguments[0]);
        AppPlatform os;
        CNuke engine(os);
        SwitchApp app(os, engine);
        app.InitInstance(static_cast<int>(argv.size()), argv.data());
        EXPECT_EQ(app.shown, c.shown);
        EXPECT_EQ(app.dialogUndo, c.dialogUndo);
        EXPECT_EQ(app.undone, c.undone);
        EXPECT_EQ(app.exitCode, c.exitCode);
    }
    TraceSetLogNameSuffix(nullptr);  // the undo's log name is the process's from then on
}

TEST(SafeModeTest, TheInstallerServiceKeyOnlyInSafeModeAndGoneAtExit) {
    const char kNetwork[] = "SYSTEM\\CurrentControlSet\\Control\\SafeBoot\\Network\\MSIServer";
    const char kMinimal[] = "SYSTEM\\CurrentControlSet\\Control\\SafeBoot\\Minimal\\MSIServer";
    auto exists = [](const char* path) {
        HKEY key = nullptr;
        if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
        ::RegCloseKey(key);
        return true;
    };
    struct Case {
        int mode;
        DWORD serviceError;  // StartServiceA fails with it
        const char* key;     // the SafeBoot key while the program runs
        bool shown;
        DWORD exitCode;      // when not shown
    };
    const Case cases[] = {
        {0, 0, nullptr, true, 0},
        {1, 0, kMinimal, true, 0},
        {2, 0, kNetwork, true, 0},
        {1, ERROR_SERVICE_DISABLED, kMinimal, false, 1601},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.mode) + " " + std::to_string(c.serviceError));
        AppPlatform os;
        os.safeBoot = c.mode;
        os.serviceStartError = c.serviceError;
        CNuke engine(os);
        {
            SwitchApp app(os, engine);
            char* argv[] = {const_cast<char*>("Clearway.exe")};
            app.InitInstance(1, argv);
            EXPECT_EQ(app.shown, c.shown);  // Wine's installer service starts or already runs
            if (!c.shown) {
                EXPECT_EQ(app.exitCode, c.exitCode);
            }
            for (const char* key : {kMinimal, kNetwork}) EXPECT_EQ(exists(key), key == c.key) << key;
            if (c.key) {
                char value[32] = {};
                LONG size = sizeof value;
                EXPECT_EQ(::RegQueryValueA(HKEY_LOCAL_MACHINE, c.key, value, &size), ERROR_SUCCESS);
                EXPECT_STREQ(value, "Service");
            }
        }
        EXPECT_FALSE(exists(kMinimal));
        EXPECT_FALSE(exists(kNetwork));
    }
}

TEST(RightsTest, AdministratorsGroupEnabledOrWindows9x) {
    struct Case {
        const char* name;
        bool sidMade;    // AllocateAndInitializeSid succeeds
        bool denyOnly;   // the Administrators group is in the token for denial only, not enabled
        DWORD platform;
        bool admin;
    };
    const Case cases[] = {
        {"Wine's user, an administrator", true, false, VER_PLATFORM_WIN32_NT, true},
        {"the group's SID cannot be made", false, false, VER_PLATFORM_WIN32_NT, false},
        {"group present but not enabled (a filtered token)", true, true, VER_PLATFORM_WIN32_NT, false},
        {"Windows 9x", false, false, VER_PLATFORM_WIN32_WINDOWS, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AppPlatform os;
        os.admin = c.sidMade;
        os.platformId = c.platform;
        int filtered = 0;
        if (c.denyOnly) {
            os.editTokenGroups = [&filtered](TOKEN_GROUPS* groups) {
                BYTE sid[SECURITY_MAX_SID_SIZE];
                DWORD size = sizeof sid;
                ::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &size);
                for (DWORD i = 0; i < groups->GroupCount; ++i) {
                    if (!::EqualSid(groups->Groups[i].Sid, sid)) continue;
                    groups->Groups[i].Attributes = SE_GROUP_USE_FOR_DENY_ONLY;
                    ++filtered;
                }
            };
        }
        EXPECT_EQ(IsUserAdmin(os), c.admin);
        if (c.denyOnly) {
            EXPECT_GT(filtered, 0);  // the group was in the token
        }
    }
}

// Where no one can see a window, the texts that would wait for a button go
// to the trace log and the program ends with its code at once.
TEST(UnattendedSessionTest, WarningAndUsageGoToTheLogInsteadOfAWindow) {
    ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Velmoran Corporation");
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Velmoran Corporation\\Velmoran Corvey", 0, nullptr, 0,
                                KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    ::RegCloseKey(key);
    const std::string warning = "Following software should be uninstalled before using Clearway:\n\nVelmoran Corvey\n";
    for (bool visible : {false, true}) {
        SCOPED_TRACE(visible ? "visible" : "invisible");
        AppPlatform os;
        os.visible = visible;
        os.realDialogs = {102};
        CNuke engine(os);
        CZerlinApp app(os, engine);
        char* argv[] = {const_cast<char*>("Clearway.exe")};
        app.InitInstance(1, argv);
        EXPECT_EQ(app.exitCode, 1638u);
        EXPECT_EQ(os.dialogs, (visible ? std::vector<int>{102, 130} : std::vector<int>{102}));
        EXPECT_EQ(LogText().find(warning) != std::string::npos, !visible) << LogText();

        char* bad[] = {const_cast<char*>("Clearway.exe"), const_cast<char*>("--bogus")};
        CZerlinApp usage(os, engine);
        usage.InitInstance(2, bad);
        EXPECT_EQ(usage.exitCode, 87u);
        EXPECT_EQ(os.boxes.size(), visible ? 1u : 0u);
        // The usage text is in the log of refusals either way.
        EXPECT_THAT(LogText(" refused"), HasSubstr("Usage:\nClearway.exe [switch]\n"));
        ::DeleteFileA((LogFolder() + "\\app_tests.log").c_str());
        ::DeleteFileA((LogFolder() + "\\app_tests refused.log").c_str());
    }
    ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Velmoran Corporation");
}

// --GUI where nobody could press Start: no dialog, a line in the trace log,
// and a code of its own at once.
TEST(UnattendedSessionTest, TheDialogModeOnlyWhereSomeoneSeesIt) {
    for (bool visible : {true, false}) {
        SCOPED_TRACE(visible ? "visible" : "invisible");
        ::DeleteFileA((LogFolder() + "\\app_tests.log").c_str());
        AppPlatform os;
        os.visible = visible;
        CNuke engine(os);
        CZerlinApp app(os, engine);
        char* argv[] = {const_cast<char*>("Clearway.exe"), const_cast<char*>("--GUI")};
        app.InitInstance(2, argv);
        EXPECT_EQ(os.dialogs, (visible ? std::vector<int>{IDD_CLEARWAY} : std::vector<int>{}));
        if (!visible) {
            EXPECT_EQ(app.exitCode, 1459u);  // ERROR_REQUIRES_INTERACTIVE_WINDOWSTATION
            EXPECT_THAT(LogText(" refused"), HasSubstr("--GUI: nobody can see the windows of this session, so the dialog "
                                                        "cannot be shown; nothing was done (exit code 1459)"))
                << LogText(" refused");
        }
    }
    ::DeleteFileA((LogFolder() + "\\app_tests.log").c_str());
}

// Whether anyone can see the session's windows: the window station's flag,
// and from Vista on the session id, since session 0's interactive station
// says it is visible while nobody logs on to it.
TEST(UnattendedSessionTest, SessionZeroFromVistaOnIsNobodysWhateverItsStationSays) {
    struct Case {
        bool stationVisible;
        DWORD major;
        DWORD session;
        bool visible;
    };
    const Case cases[] = {
        {true, 6, 1, true},   // a user's session
        {true, 6, 0, false},  // services, start-up scripts, tasks run as SYSTEM
        {true, 10, 0, false},
        {true, 5, 0, true},   // Windows XP: session 0 is the console's
        {false, 6, 1, false}, // a service's own window station
        {false, 5, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.stationVisible) + " " + std::to_string(c.major) + " " +
                     std::to_string(c.session));
        AppPlatform os;
        os.visible = c.stationVisible;
        os.windowsMajorVersion = c.major;
        os.sessionId = c.session;
        EXPECT_EQ(IsVisibleSession(os), c.visible);
    }
    // The test program itself runs in a session someone could see.
    AppPlatform os;
    EXPECT_TRUE(IsVisibleSession(os));
}

// The administrators' README: every example command line runs with switches
// the program accepts (a mistyped one would show the usage text and end with
// 87 on every machine it was deployed to).
TEST(ReadmeTest, EveryExampleCommandLineUsesSwitchesTheProgramAccepts) {
    const std::string readme = testing_support::ReadWholeFile(CLEARWAY_SOURCE_DIR "/dist/README.txt");
    ASSERT_FALSE(readme.empty());
    int examples = 0;
    std::istringstream lines(readme);
    for (std::string line; std::getline(lines, line);) {
        const size_t program = line.find("Clearway.exe");
        if (program == std::string::npos) continue;
        // The words after the program's name that are switches, with the
        // quotes and separators of batch and PowerShell around them.
        std::string rest = line.substr(program + std::strlen("Clearway.exe"));
        for (char& c : rest) {
            if (c == ',' || c == ';' || c == '"' || c == '\'' || c == '(' || c == ')' || c == '{' || c == '}') c = ' ';
        }
        std::vector<std::string> switches;
        std::istringstream words(rest);
        for (std::string word; words >> word;) {
            if (word.compare(0, 2, "--") == 0) switches.push_back(word);
        }
        if (switches.empty()) continue;
        ++examples;
        SCOPED_TRACE(line);
        std::vector<char*> argv = {const_cast<char*>("Clearway.exe")};
        for (std::string& word : switches) argv.push_back(&word[0]);
        AppPlatform os;
        CNuke engine(os);
        SwitchApp app(os, engine);
        app.InitInstance(static_cast<int>(argv.size()), argv.data());
        EXPECT_NE(app.exitCode, static_cast<DWORD>(kExitBadSwitch));
        const bool undo = switches[0] == "--undo";
        const bool gui = std::find(switches.begin(), switches.end(), "--GUI") != switches.end();
        EXPECT_EQ(app.shown, switches[0] != "--help" && (!undo || gui));
        EXPECT_EQ(app.undone, undo);
    }
    EXPECT_GE(examples, 10);  // the command line table and the deployment examples
}

}  // namespace
