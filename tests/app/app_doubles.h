// Doubles for the program's shell: a machine whose restarts, posted
// messages, rights and window station a test chooses, and an engine whose
// run steps answer from a script.
#pragma once
#include <windows.h>

#include <algorithm>
#include <atomic>
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
    bool tokenOpens = true;
    bool admin = true;
    bool visible = true;
    int safeBoot = 0;
    std::vector<int> dialogs;  // resource ids of the dialogs shown
    std::atomic<RunState>* runState = nullptr;

    BOOL ExitWindowsEx(UINT flags, DWORD reason) override {
        restarts.push_back({"ExitWindowsEx", flags, reason, ""});
        return TRUE;
    }
    BOOL InitiateSystemShutdownExA(LPSTR machine, LPSTR message, DWORD timeout, BOOL force, BOOL reboot,
                                   DWORD reason) override {
        EXPECT_EQ(machine, nullptr);
        EXPECT_TRUE(force && reboot);
        restarts.push_back({"InitiateSystemShutdownExA", timeout, reason, message});
        return TRUE;
    }
    BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override {
        EXPECT_EQ(wParam, 0u);
        posts += std::to_string(message) + ":" + std::to_string(lParam) + " ";
        return window ? TestPlatform::PostMessageA(window, message, wParam, lParam) : TRUE;
    }
    BOOL OpenProcessToken(HANDLE process, DWORD access, PHANDLE token) override {
        if (!tokenOpens) {
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

    HANDLE gate = nullptr;  // when set, MsiUninstall waits for it (a run held in Running)
    DWORD Step(const char* name) {
        if (gate && std::string(name) == "MsiUninstall") ::WaitForSingleObject(gate, 20000);
        calls += std::string(name) + " ";
        return failing == name ? code : 0;
    }
    DWORD InitializeLists(int, int) override { return Step("InitializeLists"); }
    DWORD PopulateLists() override { return Step("PopulateLists"); }
    DWORD MsiUninstall() override { return Step("MsiUninstall"); }
    DWORD StopNTProcesses() override { return Step("StopNTProcesses"); }
    DWORD StopNTServices() override { return Step("StopNTServices"); }
    DWORD ResetLspStack() override {
        DWORD rc = Step("ResetLspStack");
        return IsCancelled() ? ERROR_CANCELLED : rc;  // the one step that notices a cancel here
    }
    DWORD CleanupFiles() override { return Step("CleanupFiles"); }
    DWORD CleanupRegValues() override { return Step("CleanupRegValues"); }
    DWORD CleanupRegKeys() override { return Step("CleanupRegKeys"); }
    DWORD StartProcesses() override { return Step("StartProcesses"); }
};

}  // namespace testing_support
