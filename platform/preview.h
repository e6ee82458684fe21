// A platform for a preview run: everything that reads the machine goes to
// Windows, every call that would change it is recorded and answered as a
// success without acting, and pauses are not waited for. The engine and the
// dialog run on it unchanged; afterwards the records say what a real run
// would have done, step by step.
#pragma once
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace platform {

class PreviewPlatform : public Platform {
public:
    struct Change {
        std::string step;  // the run step under way (BeginStep)
        std::string kind;  // what would change: "file", "registry value", ...
        std::string text;
    };
    // The changes in the order the run asked for them; a change asked for
    // twice in one step (a retry, a second pass) is listed once.
    std::vector<Change> Changes() const;
    // Pauses the run asked for, in milliseconds.
    DWORD PausedMilliseconds() const { return paused_; }
    // While false, changes are still answered but not listed.
    void SetRecording(bool on) { recording_ = on; }

    // The run's step now under way: what follows is filed under its name.
    void BeginStep(const char* name);

    // System.
    void Sleep(DWORD milliseconds) override;

    // Files.
    BOOL SetFileAttributesA(LPCSTR path, DWORD attributes) override;
    BOOL CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES security) override;
    BOOL DeleteFileA(LPCSTR path) override;
    BOOL RemoveDirectoryA(LPCSTR path) override;
    std::FILE* OpenSharedStream(const char* path, const char* mode) override;
    BOOL MoveFileExA(LPCSTR existing, LPCSTR newName, DWORD flags) override;
    DWORD ScheduleDeletionsAtRestart(const std::vector<std::string>& paths) override;
    BOOL CopyFileW(LPCWSTR existing, LPCWSTR newName, BOOL failIfExists) override;
    BOOL DeleteFileW(LPCWSTR path) override;
    BOOL CreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES security) override;
    BOOL RemoveDirectoryW(LPCWSTR path) override;
    BOOL SetEndOfFile(HANDLE file) override;
    // Opens an existing file or folder to read what it is; an open that
    // could write or create fails with access denied.
    HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                       DWORD flags, HANDLE templateFile) override;
    HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                       DWORD flags, HANDLE templateFile) override;
    // A move into Clearway's holding folder is recorded under the new name.
    BOOL SetFileInformationByHandle(HANDLE file, FILE_INFO_BY_HANDLE_CLASS infoClass, LPVOID information,
                                    DWORD size) override;

    // Registry.
    LSTATUS RegOpenKeyExA(HKEY root, LPCSTR subKey, DWORD options, REGSAM sam, PHKEY key) override;
    LSTATUS RegCreateKeyExA(HKEY root, LPCSTR subKey, DWORD reserved, LPSTR keyClass, DWORD options, REGSAM sam,
                            LPSECURITY_ATTRIBUTES security, PHKEY key, LPDWORD disposition) override;
    LSTATUS RegCloseKey(HKEY key) override;
    LSTATUS RegSetValueExA(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD size) override;
    LSTATUS RegDeleteValueA(HKEY key, LPCSTR name) override;
    LSTATUS RegDeleteKeyA(HKEY root, LPCSTR subKey) override;
    DWORD SHDeleteValueA(HKEY root, LPCSTR subKey, LPCSTR value) override;
    DWORD SHDeleteEmptyKeyA(HKEY root, LPCSTR subKey) override;
    LSTATUS RegDeleteKeyExA(HKEY key, LPCSTR subKey, REGSAM sam, DWORD reserved) override;
    LSTATUS RegOpenKeyExW(HKEY root, LPCWSTR subKey, DWORD options, REGSAM sam, PHKEY key) override;
    LSTATUS RegCreateKeyExW(HKEY root, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass, DWORD options, REGSAM sam,
                            LPSECURITY_ATTRIBUTES security, PHKEY key, LPDWORD disposition) override;
    LSTATUS RegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data,
                           DWORD size) override;
    LSTATUS RegDeleteValueW(HKEY key, LPCWSTR name) override;
    LSTATUS RegFlushKey(HKEY key) override;
    // A user's hive is not loaded: the preview names it, and lists what it
    // would remove from the users whose hives Windows has loaded.
    LSTATUS RegLoadKeyA(HKEY root, LPCSTR subKey, LPCSTR file) override;
    LSTATUS RegUnLoadKeyA(HKEY root, LPCSTR subKey) override;

    // Services.
    SC_HANDLE OpenServiceA(SC_HANDLE manager, LPCSTR name, DWORD access) override;
    BOOL ControlService(SC_HANDLE service, DWORD control, LPSERVICE_STATUS status) override;
    BOOL QueryServiceStatus(SC_HANDLE service, LPSERVICE_STATUS status) override;
    BOOL DeleteService(SC_HANDLE service) override;
    BOOL StartServiceA(SC_HANDLE service, DWORD count, LPCSTR* arguments) override;

    // Processes.
    HANDLE OpenProcess(DWORD access, BOOL inherit, DWORD processId) override;
    BOOL TerminateProcess(HANDLE process, UINT exitCode) override;
    DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds) override;
    BOOL CreateProcessA(LPCSTR application, LPSTR commandLine, LPSECURITY_ATTRIBUTES processSecurity,
                        LPSECURITY_ATTRIBUTES threadSecurity, BOOL inheritHandles, DWORD flags, LPVOID environment,
                        LPCSTR currentDirectory, LPSTARTUPINFOA startup, LPPROCESS_INFORMATION info) override;
    BOOL CreateProcessW(LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES processSecurity,
                        LPSECURITY_ATTRIBUTES threadSecurity, BOOL inheritHandles, DWORD flags, LPVOID environment,
                        LPCWSTR currentDirectory, LPSTARTUPINFOW startup, LPPROCESS_INFORMATION info) override;
    DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) override;
    BOOL GetExitCodeProcess(HANDLE process, LPDWORD code) override;

    // Access control.
    DWORD SetSecurityInfo(HANDLE object, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID owner, PSID group,
                          PACL dacl, PACL sacl) override;
    DWORD SetNamedSecurityInfoA(LPSTR name, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID owner, PSID group,
                                PACL dacl, PACL sacl) override;

    // Installer.
    UINT MsiConfigureProductExW(LPCWSTR product, int installLevel, INSTALLSTATE state, LPCWSTR commandLine) override;
    UINT MsiInstallProductW(LPCWSTR packagePath, LPCWSTR commandLine) override;

    // Winsock catalogue.
    int WSCDeinstallProvider(LPGUID providerId, LPINT error) override;

    // Security Center and firewall.
    HRESULT DeleteInstance(IWbemServices* services, const BSTR objectPath, long flags, IWbemContext* context,
                           IWbemCallResult** callResult) override;
    HRESULT put_FirewallEnabled(INetFwProfile* profile, VARIANT_BOOL enabled) override;

    // Privileges and restart.
    BOOL AdjustTokenPrivileges(HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES state, DWORD size,
                               PTOKEN_PRIVILEGES previous, PDWORD needed) override;
    BOOL ExitWindowsEx(UINT flags, DWORD reason) override;
    BOOL InitiateSystemShutdownExA(LPSTR machine, LPSTR message, DWORD timeout, BOOL forceAppsClosed, BOOL reboot,
                                   DWORD reason) override;

private:
    void Record(const std::string& kind, const std::string& text);
    // The name of an open key ("HKEY_LOCAL_MACHINE\SOFTWARE\X (64-bit view)").
    std::string KeyName(HKEY key);
    std::string KeyName(HKEY root, const std::string& subKey, REGSAM sam);
    void Remember(HKEY key, HKEY root, const std::string& subKey, REGSAM sam);
    HKEY FakeKey(HKEY root, const std::string& subKey, REGSAM sam);
    // A key the run would create: recorded, and a fake handle for it.
    LSTATUS CreateMissingKey(HKEY root, const std::string& subKey, REGSAM sam, PHKEY key, LPDWORD disposition);
    // A key deletion as Windows would answer it: ERROR_FILE_NOT_FOUND for a
    // key that is not there (or that the run has deleted; one it has created
    // is there), `refusal` for one that still holds a subkey the run has not
    // deleted, else success, the key listed and remembered as deleted.
    DWORD DeleteKey(HKEY root, const std::string& subKey, REGSAM sam, DWORD refusal);

    mutable std::mutex mutex_;
    std::vector<Change> changes_;
    std::set<std::string> seen_;
    std::string step_ = "Before the run";
    bool recording_ = true;
    DWORD paused_ = 0;
    struct KeyInfo {
        std::string name;
        REGSAM sam;
    };
    std::map<HKEY, KeyInfo> keys_;
    std::map<SC_HANDLE, std::string> services_;
    std::set<SC_HANDLE> stopped_;
    std::map<HANDLE, std::string> processes_;
    std::set<std::string> createdKeys_, deletedKeys_;  // KeyName, upper case
    unsigned fakeKeys_ = 0;
};

// The text of a wide string in the ANSI code page.
std::string Narrow(const wchar_t* text);

}  // namespace platform
