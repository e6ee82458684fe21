// Doubles for the program's shell: a machine whose restarts, posted
// messages, rights and window station a test chooses, and an engine whose
// run steps answer from a script.
#pragma once
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "profile/engine.h"
#include "tests/support/test_platform.h"

namespace testing_support {

// A machine for the shell: restarts, posted messages and window station as
// the test says; COM refused so the restore steps stay quick.
class AppPlatform : public TestPlatform {
public:
    struct Restart {
        std::string call;
        DWORD flags;  // ExitWindowsEx flags, or the shutdown's time-out
        DWORD reason;
        std::string message;
    };
    std::vector<Restart> restarts;
    std::string posts;  // "message:lParam " for each post
    bool tokenOpens = true;  // false: the token refuses the access that adjusts its privileges
    bool admin = true;
    bool visible = true;
    int safeBoot = 0;
    std::vector<int> dialogs;  // resource ids of the dialogs shown
    std::atomic<RunState>* runState = nullptr;

    // Wine keeps no event log: the run's events are recorded here.
    struct Event {
        std::string source;
        WORD type;
        DWORD id;
        std::string text;
    };
    std::vector<Event> events;
    std::string eventSource;
    HANDLE RegisterEventSourceA(LPCSTR, LPCSTR source) override {
        eventSource = source ? source : "";
        return reinterpret_cast<HANDLE>(static_cast<INT_PTR>(0x4E7));
    }
    BOOL ReportEventA(HANDLE log, WORD type, WORD, DWORD id, PSID, WORD count, DWORD, LPCSTR* strings,
                      LPVOID) override {
        EXPECT_EQ(log, reinterpret_cast<HANDLE>(static_cast<INT_PTR>(0x4E7)));
        events.push_back({eventSource, type, id, count > 0 && strings && strings[0] ? strings[0] : ""});
        return TRUE;
    }
    BOOL DeregisterEventSource(HANDLE) override { return TRUE; }

    // Restarts are recorded, never made, and answered as Windows answers
    // them: on NT only once the shutdown privilege is enabled, which a policy
    // that removed the shutdown right from administrators prevents; a
    // time-out beyond the maximum is an invalid parameter.
    bool shutdownRight = true;
    bool shutdownPrivilegeEnabled = false;
    BOOL ExitWindowsEx(UINT flags, DWORD reason) override {
        restarts.push_back({"ExitWindowsEx", flags, reason, ""});
        return ShutdownAllowed();
    }
    BOOL InitiateSystemShutdownExA(LPSTR machine, LPSTR message, DWORD timeout, BOOL force, BOOL reboot,
                                   DWORD reason) override {
        EXPECT_EQ(machine, nullptr);
        EXPECT_TRUE(force && reboot);
        restarts.push_back({"InitiateSystemShutdownExA", timeout, reason, message});
        if (timeout > MAX_SHUTDOWN_TIMEOUT) {
            ::SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        return ShutdownAllowed();
    }
    BOOL AdjustTokenPrivileges(HANDLE, BOOL disableAll, PTOKEN_PRIVILEGES state, DWORD, PTOKEN_PRIVILEGES,
                               PDWORD) override {
        LUID shutdown = {};
        ::LookupPrivilegeValueA(nullptr, SE_SHUTDOWN_NAME, &shutdown);
        for (DWORD i = 0; !disableAll && state && i < state->PrivilegeCount; ++i) {
            const LUID& luid = state->Privileges[i].Luid;
            if (luid.LowPart == shutdown.LowPart && luid.HighPart == shutdown.HighPart &&
                (state->Privileges[i].Attributes & SE_PRIVILEGE_ENABLED) && shutdownRight) {
                shutdownPrivilegeEnabled = true;
            }
        }
        ::SetLastError(shutdownRight ? ERROR_SUCCESS : ERROR_NOT_ALL_ASSIGNED);
        return TRUE;
    }
    BOOL ShutdownAllowed() {
        if (platformId == VER_PLATFORM_WIN32_NT && !shutdownPrivilegeEnabled) {
            ::SetLastError(ERROR_PRIVILEGE_NOT_HELD);
            return FALSE;
        }
        return TRUE;
    }
    BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override {
        EXPECT_EQ(wParam, 0u);
        posts += std::to_string(message) + ":" + std::to_string(lParam) + " ";
        return window ? TestPlatform::PostMessageA(window, message, wParam, lParam) : TRUE;
    }
    BOOL OpenProcessToken(HANDLE process, DWORD access, PHANDLE token) override {
        if (!tokenOpens && (access & TOKEN_ADJUST_PRIVILEGES)) {
            ::SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        return TestPlatform::OpenProcessToken(process, access, token);
    }
    BOOL AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY authority, BYTE count, DWORD s0, DWORD s1, DWORD s2,
                                  DWORD s3, DWORD s4, DWORD s5, DWORD s6, DWORD s7, PSID* sid) override {
        if (!admin) return FALSE;
        return TestPlatform::AllocateAndInitializeSid(authority, count, s0, s1, s2, s3, s4, s5, s6, s7, sid);
    }
    std::vector<UINT> beeps;
    BOOL MessageBeep(UINT type) override {
        beeps.push_back(type);
        return TRUE;
    }
    DWORD serviceStartError = 0;  // StartServiceA fails with it
    BOOL StartServiceA(SC_HANDLE service, DWORD count, LPCSTR* arguments) override {
        if (serviceStartError == 0) return TestPlatform::StartServiceA(service, count, arguments);
        ::SetLastError(serviceStartError);
        return FALSE;
    }
    DWORD sessionId = ~0u;  // the session ProcessIdToSessionId reports; ~0u: the real one
    BOOL ProcessIdToSessionId(DWORD processId, DWORD* session) override {
        if (sessionId == ~0u) return TestPlatform::ProcessIdToSessionId(processId, session);
        *session = sessionId;
        return TRUE;
    }
    // Confirmation boxes: answered by the test platform unless realBoxes, when
    // the real box shows; beforeBox runs first either way.
    bool realBoxes = false;
    std::function<void()> beforeBox;
    int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) override {
        if (beforeBox) beforeBox();
        if (!realBoxes) return TestPlatform::MessageBoxA(owner, text, caption, type);
        boxes.push_back({text ? text : "", caption ? caption : "", type});
        return Platform::MessageBoxA(owner, text, caption, type);
    }
    HRESULT CoInitialize(LPVOID) override { return E_FAIL; }
    HRESULT CoInitializeEx(LPVOID, DWORD) override { return E_FAIL; }
    int PrintStdout(const char*) override { return 0; }
    int GetSystemMetrics(int index) override {
        return index == SM_CLEANBOOT ? safeBoot : TestPlatform::GetSystemMetrics(index);
    }
    BOOL GetUserObjectInformationA(HANDLE object, int index, PVOID information, DWORD size,
                                   LPDWORD needed) override {
        BOOL ok = TestPlatform::GetUserObjectInformationA(object, index, information, size, needed);
        if (ok && index == UOI_FLAGS) {
            auto* flags = static_cast<USEROBJECTFLAGS*>(information);
            flags->dwFlags = visible ? (flags->dwFlags | WSF_VISIBLE) : (flags->dwFlags & ~WSF_VISIBLE);
        }
        return ok;
    }
    // Dialogs are recorded; only those a test names are really made (the
    // null display driver makes them without a screen).
    std::vector<int> realDialogs;  // resource ids that are really made
    INT_PTR DialogBoxParamA(HINSTANCE instance, LPCSTR resource, HWND owner, DLGPROC procedure,
                            LPARAM parameter) override {
        const int id = static_cast<int>(reinterpret_cast<UINT_PTR>(resource));
        dialogs.push_back(id);
        if (std::find(realDialogs.begin(), realDialogs.end(), id) != realDialogs.end()) {
            return TestPlatform::DialogBoxParamA(instance, resource, owner, procedure, parameter);
        }
        return IDCANCEL;
    }
    void Sleep(DWORD milliseconds) override {
        TestPlatform::Sleep(milliseconds);
        if (milliseconds == 30000 && runState && cancelDuringPause) *runState = Cancelled;
    }
    bool cancelDuringPause = false;
};

// An engine whose run steps answer from a script and record their calls.
class ScriptedNuke : public CNuke {
public:
    explicit ScriptedNuke(platform::Platform& os) : CNuke(os) {}
    std::string calls;
    std::string failing;  // the step that returns `code`
    DWORD code = 0;

    // When gate is set, gateStep waits for it (a run held in Running); with
    // loopAtGate the step asks IsCancelled over and over meanwhile, as the
    // removal loops do between their items.
    HANDLE gate = nullptr;
    std::string gateStep = "MsiUninstall";
    bool loopAtGate = false;
    std::atomic<bool> atGate{false};
    DWORD Step(const char* name) {
        if (gate && gateStep == name) {
            atGate = true;
            if (loopAtGate) {
                while (::WaitForSingleObject(gate, 5) == WAIT_TIMEOUT) IsCancelled();
            } else {
                ::WaitForSingleObject(gate, 20000);
            }
        }
        calls += std::string(name) + " ";
        return failing == name ? code : 0;
    }
    DWORD InitializeLists(int, int) override {
        OpenTraceLog();  // as the real step does first
        return Step("InitializeLists");
    }
    DWORD PopulateLists() override { return Step("PopulateLists"); }
    DWORD MsiUninstall() override { return Step("MsiUninstall"); }
    DWORD StopNTProcesses() override { return Step("StopNTProcesses"); }
    DWORD StopNTServices() override { return Step("StopNTServices"); }
    DWORD ResetLspStack() override {
        DWORD rc = Step("ResetLspStack");
        return IsCancelled() ? ERROR_CANCELLED : rc;  // the one step that notices a cancel here
    }
    // Schedules what a removal schedules: a run that changed something.
    unsigned schedules = 1;
    // What the run could not remove (an incomplete run).
    std::vector<std::string> leaves;
    DWORD CleanupFiles() override {
        scheduled += schedules;
        for (const std::string& what : leaves) Left(what);
        return Step("CleanupFiles");
    }
    DWORD CleanupRegValues() override { return Step("CleanupRegValues"); }
    DWORD CleanupRegKeys() override { return Step("CleanupRegKeys"); }
    DWORD StartProcesses() override { return Step("StartProcesses"); }
};

}  // namespace testing_support
