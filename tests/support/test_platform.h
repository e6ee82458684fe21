// Test doubles over the production platform: every call still reaches Wine
// unless a test asks for something else.
#pragma once
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace testing_support {

class TestPlatform : public platform::Platform {
public:
    // Debugger output is recorded instead of sent.
    void OutputDebugStringA(LPCSTR text) override;
    std::string DebugOutput() const;
    void ClearDebugOutput();

    // Pauses are recorded, never waited for.
    void Sleep(DWORD milliseconds) override;
    std::vector<DWORD> sleeps;

    // Message boxes are answered with `messageBoxAnswer` and recorded.
    int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) override;
    int messageBoxAnswer = IDIGNORE;
    struct Box { std::string text, caption; UINT type; };
    std::vector<Box> boxes;

    void DebugBreak() override { ++debugBreaks; }
    int debugBreaks = 0;
    void ExitProcess(UINT code) override { exitCodes.push_back(code); }
    std::vector<UINT> exitCodes;

    // Optional replacements; empty means the real call.
    std::function<void(LPSYSTEMTIME)> localTime;
    void GetLocalTime(LPSYSTEMTIME time) override;
    std::function<DWORD(HMODULE, LPSTR, DWORD)> moduleFileName;
    DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) override;
    std::function<std::time_t()> now;
    std::time_t Time() override;

    // The tests run as a 64-bit program for a 32-bit one (see README): on a
    // 64-bit build the registry calls that name no view get the 32-bit view,
    // as a 32-bit process on 64-bit Windows gets it by default, and the
    // Program Files and system folders are the 32-bit ones.
    LSTATUS RegOpenKeyExA(HKEY root, LPCSTR subKey, DWORD options, REGSAM sam, PHKEY key) override;
    LSTATUS RegCreateKeyExA(HKEY root, LPCSTR subKey, DWORD reserved, LPSTR keyClass, DWORD options, REGSAM sam,
                            LPSECURITY_ATTRIBUTES security, PHKEY key, LPDWORD disposition) override;
    LSTATUS RegDeleteKeyA(HKEY root, LPCSTR subKey) override;
    DWORD SHGetValueA(HKEY root, LPCSTR subKey, LPCSTR value, LPDWORD type, LPVOID data, LPDWORD size) override;
    BOOL SHGetSpecialFolderPathA(HWND owner, LPSTR path, int folder, BOOL create) override;
    UINT GetSystemDirectoryA(LPSTR buffer, UINT size) override;
    static REGSAM DefaultView(REGSAM sam);

    // The shell's delete helpers act on the 32-bit view on a 64-bit build as
    // well: SHDeleteEmptyKeyA deletes the key only when it has no subkeys and
    // no values, and fails with ERROR_KEY_HAS_CHILDREN otherwise.
    DWORD SHDeleteValueA(HKEY root, LPCSTR subKey, LPCSTR value) override;
    DWORD SHDeleteEmptyKeyA(HKEY root, LPCSTR subKey) override;
    // The program runs as a 32-bit process on 64-bit Windows unless `wow64`
    // is cleared (32-bit Windows). Clearing `hasIsWow64Process` or
    // `hasRegDeleteKeyExA` stands for a Windows without that function.
    BOOL IsWow64Process(HANDLE process, PBOOL wow64Flag) override;
    bool HasIsWow64Process() override;
    LSTATUS RegDeleteKeyExA(HKEY key, LPCSTR subKey, REGSAM sam, DWORD reserved) override;
    bool HasRegDeleteKeyExA() override;
    bool wow64 = true;
    bool hasIsWow64Process = true;
    bool hasRegDeleteKeyExA = true;

private:
    mutable std::mutex mutex_;
    std::string debugOutput_;
};

// Text of a whole file, or an empty text when it cannot be read.
std::string ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const std::string& text);
bool PathExists(const std::string& path);
// True under Wine. Assertions on behaviour where Wine differs from Windows
// expect Wine's result only here, and fail once Wine starts to agree.
bool RunningOnWine();
// Starts a command line and waits for it; its exit code, or ~0u when it
// could not start or did not end in time.
DWORD RunAndWait(const std::string& commandLine, DWORD timeoutMs);
// The folder of the running test program, with a trailing backslash.
std::string ProgramFolder();

}  // namespace testing_support
