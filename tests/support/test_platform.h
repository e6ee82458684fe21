// Test doubles over the production platform: every call still reaches Wine
// unless a test asks for something else.
#pragma once
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "tests/support/acl_entries.h"

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
    std::function<DWORD(HMODULE, LPWSTR, DWORD)> moduleFileNameW;
    DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size) override;
    // Folders created with security attributes and the access list they
    // were given: Wine keeps of it only what its file modes can hold.
    struct CreatedFolder {
        std::string path;
        bool protectedDacl;
        std::vector<Ace> dacl;
    };
    std::vector<CreatedFolder> createdFolders;
    BOOL CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES security) override;
    BOOL CreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES security) override;
    std::function<std::time_t()> now;
    std::time_t Time() override;

    // The tests run as the product does, a 32-bit process on 64-bit Windows
    // (WoW64). Clearing `wow64` stands for 32-bit Windows (IsWow64Process
    // then says FALSE); clearing `hasIsWow64Process` or `hasRegDeleteKeyExA`
    // stands for a Windows without that function.
    BOOL IsWow64Process(HANDLE process, PBOOL wow64Flag) override;
    bool HasIsWow64Process() override;
    LSTATUS RegDeleteKeyExA(HKEY key, LPCSTR subKey, REGSAM sam, DWORD reserved) override;
    bool HasRegDeleteKeyExA() override;
    bool wow64 = true;

    // Registry keys locked for the current user, as Windows would lock them
    // (Wine enforces no registry ACLs). A key is named as a security object
    // ("MACHINE\SOFTWARE\X") with its object type: SE_REGISTRY_KEY for the
    // program's own view, kRegistryWow64_64Key for the 64-bit view
    // (on 32-bit Windows, `wow64` cleared, the one view is SE_REGISTRY_KEY).
    // A locked key refuses RegOpenKeyExA in its view, from its root or from
    // an open key above it, for anything but its permissions (READ_CONTROL,
    // WRITE_DAC, WRITE_OWNER: the rights of its owner), and the shell's
    // SHDeleteValueA / SHDeleteEmptyKeyA (own view), with ERROR_ACCESS_DENIED
    // until SetSecurityInfo writes a DACL through a handle to it. The
    // security calls for a locked key are answered here (no DACL, success);
    // every security call on a key, by name or by handle, is recorded.
    void LockKey(const std::string& objectName, SE_OBJECT_TYPE type);
    bool KeyLocked(HKEY root, LPCSTR subKey, SE_OBJECT_TYPE type) const;
    struct SecurityCall {
        std::string name;
        SE_OBJECT_TYPE type;  // of a handle: the view it was opened in
        SECURITY_INFORMATION info;
        bool set;  // a Set call; else a Get call
    };
    std::vector<SecurityCall> securityCalls;
    // The security object name of a key opened through RegOpenKeyExA, and
    // its view in `type`; empty for any other handle.
    std::string KeyName(HKEY key, SE_OBJECT_TYPE* type = nullptr) const;
    LSTATUS RegOpenKeyExA(HKEY root, LPCSTR subKey, DWORD options, REGSAM sam, PHKEY key) override;
    LSTATUS RegCloseKey(HKEY key) override;
    DWORD SHDeleteValueA(HKEY root, LPCSTR subKey, LPCSTR value) override;
    DWORD SHDeleteEmptyKeyA(HKEY root, LPCSTR subKey) override;
    // Files and folders Wine cannot give an owner (it keeps none but the
    // prefix's user, whatever SetNamedSecurityInfo is told): reported as
    // TrustedInstaller's, by name and through a handle, as the same file
    // (its volume and file index), whatever path names it.
    void OwnByTrustedInstaller(const std::string& path);
    DWORD GetNamedSecurityInfoA(LPCSTR name, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID* owner,
                                PSID* group, PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* descriptor) override;
    DWORD SetNamedSecurityInfoA(LPSTR name, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID owner, PSID group,
                                PACL dacl, PACL sacl) override;
    DWORD GetSecurityInfo(HANDLE object, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID* owner, PSID* group,
                          PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* descriptor) override;
    DWORD SetSecurityInfo(HANDLE object, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID owner, PSID group,
                          PACL dacl, PACL sacl) override;
    bool hasIsWow64Process = true;
    bool hasRegDeleteKeyExA = true;
    struct FileId {
        DWORD volume, high, low;
    };
    std::vector<FileId> installerOwned_;
    std::vector<BYTE> installerSid_;
    void ReportInstallerOwner(HANDLE file, PSID* owner);
    // Faults Wine does not make on request: a non-zero error makes the call
    // fail with it (access denied for the service manager, no memory for a
    // snapshot, a buffer too small for the user name).
    DWORD serviceManagerError = 0;
    SC_HANDLE OpenSCManagerA(LPCSTR machine, LPCSTR database, DWORD access) override;
    DWORD snapshotError = 0;
    HANDLE CreateToolhelp32Snapshot(DWORD flags, DWORD processId) override;
    DWORD userNameError = 0;
    BOOL GetUserNameA(LPSTR buffer, LPDWORD size) override;
    // With `keepFilePermissions`, a permission change of a file or folder is
    // recorded in `filePermissionChanges` and answered with success without
    // being made (for generated entries that name real system folders).
    bool keepFilePermissions = false;
    std::vector<std::string> filePermissionChanges;

    // Windows Installer. Every call still reaches the installer unless a
    // hook answers it; the calls are recorded.
    // Replaces MsiEnumRelatedProductsW (it may throw, as a faulty installer
    // would for the caller's guard).
    std::function<UINT(LPCWSTR upgradeCode, DWORD index, LPWSTR productCode)> enumRelatedProducts;
    struct EnumCall { std::wstring upgradeCode; DWORD index; UINT result; std::wstring productCode; };
    std::vector<EnumCall> enumCalls;
    UINT MsiEnumRelatedProductsW(LPCWSTR upgradeCode, DWORD reserved, DWORD index, LPWSTR productCode) override;
    // Asked before each MsiConfigureProductExW: a non-zero answer is returned
    // instead of the real call (1603 once, say); it may throw.
    std::function<UINT(LPCWSTR product)> configureProductFault;
    std::vector<std::wstring> configuredProducts;
    UINT MsiConfigureProductExW(LPCWSTR product, int installLevel, INSTALLSTATE state, LPCWSTR commandLine) override;
    // The same for MsiInstallProductW, asked with the package path.
    std::function<UINT(LPCWSTR packagePath)> installProductFault;
    struct InstallCall { std::wstring packagePath, commandLine; bool packageExisted; UINT result; };
    std::vector<InstallCall> installCalls;
    UINT MsiInstallProductW(LPCWSTR packagePath, LPCWSTR commandLine) override;
    std::vector<INSTALLUILEVEL> uiLevels;  // every level MsiSetInternalUI was given
    INSTALLUILEVEL MsiSetInternalUI(INSTALLUILEVEL level, HWND* window) override;

    // Console output. With `console` set, the standard output and error
    // handles are a console of the test's own: GetStdHandle gives stand-in
    // handles, GetConsoleMode succeeds on them and WriteConsoleW records
    // instead of writing. Without it the real handles are used and writes to
    // them are recorded and passed on.
    bool console = false;
    struct ConsoleWrite {
        DWORD which;           // STD_OUTPUT_HANDLE, STD_ERROR_HANDLE, or 0 for another handle
        bool throughConsole;   // WriteConsoleW; else WriteFile
        std::wstring text;     // WriteFile bytes are taken as UTF-8
    };
    std::vector<ConsoleWrite> consoleWrites;
    HANDLE GetStdHandle(DWORD which) override;
    BOOL GetConsoleMode(HANDLE handle, LPDWORD mode) override;
    BOOL WriteConsoleW(HANDLE handle, const VOID* text, DWORD length, LPDWORD written, LPVOID reserved) override;
    BOOL WriteFile(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped) override;

    // Rights: `editTokenGroups` changes what a successful TokenGroups read
    // returns; a non-zero `windowsMajorVersion` replaces the one
    // GetVersionExW and GetVersionExA report.
    std::function<void(TOKEN_GROUPS*)> editTokenGroups;
    BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS informationClass, LPVOID information, DWORD size,
                             PDWORD returnedSize) override;
    DWORD windowsMajorVersion = 0;
    BOOL GetVersionExW(LPOSVERSIONINFOW info) override;
    // The platform id GetVersionExA reports (1 Windows 9x, 2 NT; any other
    // value stands for an unknown platform).
    DWORD platformId = VER_PLATFORM_WIN32_NT;
    BOOL GetVersionExA(LPOSVERSIONINFOA info) override;

private:
    DWORD StandardHandleKind(HANDLE handle);
    std::vector<std::pair<std::string, SE_OBJECT_TYPE>>::const_iterator FindLocked(const std::string& name,
                                                                                  SE_OBJECT_TYPE type) const;
    bool LockedObject(const std::string& name, SE_OBJECT_TYPE type) const;
    std::vector<std::pair<std::string, SE_OBJECT_TYPE>> lockedKeys_;
    // The key a name is built from: a root, or a key opened earlier.
    std::string KeyPath(HKEY root, LPCSTR subKey, SE_OBJECT_TYPE* type) const;
    mutable std::mutex keyNamesMutex_;
    std::map<HKEY, std::pair<std::string, SE_OBJECT_TYPE>> keyNames_;
    mutable std::mutex mutex_;
    std::string debugOutput_;
};

// A special folder's path (SHGetSpecialFolderPathA), or an empty text.
std::string SpecialFolder(int csidl);
// The text with its ASCII letters upper- or lower-cased.
std::string Upper(std::string text);
std::string Lower(std::string text);

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

// The Unix form of a path of drive C: inside the prefix.
std::string UnixPath(const std::string& windowsPath);
// Runs a Unix program through Wine's start; its exit code.
DWORD RunUnix(const std::string& arguments);

// A Unix symbolic link from link to target (Unix paths) for the life of the
// object: what Wine shows as a link (a reparse point), since it makes none
// through the Win32 calls.
struct UnixLink {
    UnixLink(const std::string& target, const std::string& link);
    ~UnixLink();
    UnixLink(const UnixLink&) = delete;
    UnixLink& operator=(const UnixLink&) = delete;
    std::string path;
    DWORD made = ~0u;  // the exit code of ln; 0 when the link was made
};
// The folder of the running test program, with a trailing backslash.
std::string ProgramFolder();
// A program of this build tree's bin folder (Clearway.exe, test_service.exe),
// looked for from the running program's folder upwards; the path where it
// would be beside the running program when there is none.
std::string BuiltProgram(const char* name);

}  // namespace testing_support
