// The thin layer over the Windows functions. Engine code reaches the system
// only through a Platform, so tests can replace single calls with faults that
// Wine cannot produce, and record pauses instead of waiting.
//
// Every method keeps the Win32 name and shape of the call it forwards to and
// returns what that call returned; nothing throws across this layer.
//
// The preview's test (tests/app/preview_platform_tests.cpp) reads this file
// and fails for a virtual call it has no place for: a call added here gets a
// place there, passed through or recorded.
#pragma once
#include <windows.h>
#include <winsock2.h>
#include <ws2spi.h>
#include <aclapi.h>
#include <tlhelp32.h>
#include <msi.h>
#include <netfw.h>
#include <wbemcli.h>

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

namespace platform {

// The security object type of a key in the 64-bit registry view
// (SE_REGISTRY_WOW64_64KEY of the newer SDK headers, which MinGW lacks).
constexpr SE_OBJECT_TYPE kRegistryWow64_64Key = static_cast<SE_OBJECT_TYPE>(12);

// Module path and version resource, debugger output, time and counters,
// locks, last error, environment, message boxes and process end.
class SystemApi {
public:
    virtual ~SystemApi() = default;

    virtual DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size);
    virtual DWORD GetFileVersionInfoSizeA(LPCSTR path, LPDWORD handle);
    virtual BOOL GetFileVersionInfoA(LPCSTR path, DWORD handle, DWORD size, LPVOID data);
    virtual BOOL VerQueryValueA(LPCVOID block, LPCSTR subBlock, LPVOID* buffer, PUINT length);

    virtual void OutputDebugStringA(LPCSTR text);

    virtual void GetLocalTime(LPSYSTEMTIME time);
    virtual LPSTR GetCommandLineA();
    // Where the process's later LoadLibrary calls look (late-bound: Windows
    // before 8 without its update lacks it; ERROR_PROC_NOT_FOUND then).
    virtual BOOL SetDefaultDllDirectories(DWORD flags);
    virtual BOOL FileTimeToLocalFileTime(const FILETIME* fileTime, LPFILETIME localTime);
    virtual BOOL FileTimeToSystemTime(const FILETIME* fileTime, LPSYSTEMTIME systemTime);
    virtual DWORD GetTickCount();
    virtual BOOL QueryPerformanceCounter(LARGE_INTEGER* count);
    virtual BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency);
    // Seconds since 1970 (the C runtime's time()).
    virtual std::time_t Time();
    virtual DWORD GetCurrentThreadId();
    virtual DWORD GetCurrentProcessId();
    virtual void Sleep(DWORD milliseconds);

    virtual void InitializeCriticalSection(LPCRITICAL_SECTION section);
    virtual void EnterCriticalSection(LPCRITICAL_SECTION section);
    virtual void LeaveCriticalSection(LPCRITICAL_SECTION section);
    virtual void DeleteCriticalSection(LPCRITICAL_SECTION section);

    virtual DWORD GetLastError();
    virtual void SetLastError(DWORD code);

    virtual BOOL GetVersionExA(LPOSVERSIONINFOA info);
    virtual int MultiByteToWideChar(UINT codePage, DWORD flags, LPCCH text, int length, LPWSTR wide, int wideLength);
    virtual int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWCH wide, int wideLength, LPSTR text, int length,
                                    LPCCH defaultChar, LPBOOL usedDefault);

    virtual DWORD GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size);
    virtual DWORD ExpandEnvironmentStringsA(LPCSTR source, LPSTR buffer, DWORD size);

    virtual int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
    virtual void DebugBreak();
    virtual void ExitProcess(UINT code);

    // IsWow64Process is looked up by name once at program start (Windows
    // before XP SP2 lacks it); HasIsWow64Process says whether it was found.
    // Without it IsWow64Process fails with ERROR_CALL_NOT_IMPLEMENTED.
    virtual BOOL IsWow64Process(HANDLE process, PBOOL wow64);
    virtual HANDLE GetCurrentProcess();
    virtual bool HasIsWow64Process();

    // Wide forms and the thread, for the MSI tool.
    virtual DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size);
    virtual BOOL GetVersionExW(LPOSVERSIONINFOW info);
    virtual HANDLE GetCurrentThread();
};

// Files and folders.
class FileApi {
public:
    virtual ~FileApi() = default;

    virtual DWORD GetFileAttributesA(LPCSTR path);
    virtual DWORD GetLongPathNameA(LPCSTR shortPath, LPSTR longPath, DWORD size);
    virtual BOOL SetFileAttributesA(LPCSTR path, DWORD attributes);
    virtual BOOL CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES security);
    virtual BOOL DeleteFileA(LPCSTR path);
    virtual BOOL RemoveDirectoryA(LPCSTR path);
    // A C runtime stream opened with others allowed to read and write the
    // file (_fsopen with _SH_DENYNO); null on failure with errno set.
    virtual std::FILE* OpenSharedStream(const char* path, const char* mode);
    // The C runtime's _access: 0 when path exists with the asked access.
    virtual int Access(const char* path, int mode);
    virtual HANDLE FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA data);
    virtual BOOL FindNextFileA(HANDLE find, LPWIN32_FIND_DATAA data);
    virtual BOOL FindClose(HANDLE find);
    // The wide forms list a name as it is stored, whatever the code page can
    // hold; FindClose ends them too.
    virtual HANDLE FindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data);
    virtual BOOL FindNextFileW(HANDLE find, LPWIN32_FIND_DATAW data);
    virtual UINT GetWindowsDirectoryA(LPSTR buffer, UINT size);
    virtual UINT GetSystemDirectoryA(LPSTR buffer, UINT size);
    virtual BOOL MoveFileExA(LPCSTR existing, LPCSTR newName, DWORD flags);
    // Each path scheduled for deletion at the next start of Windows, in
    // order, as MoveFileExA(path, NULL, MOVEFILE_DELAY_UNTIL_REBOOT) would
    // register it, but in one read and one write of the pending renames
    // (64-bit view), every pair already there kept. Each path must have a
    // name PendingDeletionName accepts. ERROR_SUCCESS, or the error of the
    // open, read or write; then nothing is added. ERROR_INVALID_DATA: the
    // value is no list of pairs, or not a REG_MULTI_SZ. Without paths the
    // value is only read and judged.
    virtual DWORD ScheduleDeletionsAtRestart(const std::vector<std::string>& paths);
    virtual DWORD GetLogicalDriveStringsA(DWORD size, LPSTR buffer);
    virtual UINT GetDriveTypeA(LPCSTR root);
    virtual DWORD GetTempPathW(DWORD size, LPWSTR buffer);
    virtual BOOL CopyFileW(LPCWSTR existing, LPCWSTR newName, BOOL failIfExists);
    virtual BOOL DeleteFileW(LPCWSTR path);
    virtual BOOL CreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES security);
    virtual BOOL RemoveDirectoryW(LPCWSTR path);
    virtual BOOL SetEndOfFile(HANDLE file);
    virtual DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method);

    // What a path stands for: its full form ("." and ".." segments, trailing
    // dots and blanks resolved), an open handle's identity, and the final
    // path behind links. GetFinalPathNameByHandleA is looked up by name (XP
    // lacks it); without it the call fails with ERROR_CALL_NOT_IMPLEMENTED.
    virtual DWORD GetFullPathNameA(LPCSTR path, DWORD size, LPSTR buffer, LPSTR* filePart);
    virtual HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                               DWORD disposition, DWORD flags, HANDLE templateFile);
    virtual HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                               DWORD disposition, DWORD flags, HANDLE templateFile);
    virtual BOOL GetFileInformationByHandle(HANDLE file, LPBY_HANDLE_FILE_INFORMATION information);
    virtual DWORD GetFinalPathNameByHandleA(HANDLE file, LPSTR buffer, DWORD size, DWORD flags);
    virtual bool HasGetFinalPathNameByHandleA();
    // Renames the open file or folder itself (FileRenameInfo), whatever its
    // name leads to by now. Looked up by name (XP lacks it); without it the
    // call fails with ERROR_CALL_NOT_IMPLEMENTED.
    virtual BOOL SetFileInformationByHandle(HANDLE file, FILE_INFO_BY_HANDLE_CLASS infoClass, LPVOID information,
                                            DWORD size);
    // Reads what an open file or folder is (FileBasicInfo, FileStandardInfo)
    // or what a folder holds (FileIdBothDirectoryInfo). Looked up by name
    // (XP lacks it); without it the call fails with
    // ERROR_CALL_NOT_IMPLEMENTED.
    virtual BOOL GetFileInformationByHandleEx(HANDLE file, FILE_INFO_BY_HANDLE_CLASS infoClass, LPVOID information,
                                              DWORD size);
    virtual bool HasGetFileInformationByHandleEx();
};

// Registry, including the 64-bit view flag and the shell's value helpers.
class RegistryApi {
public:
    virtual ~RegistryApi() = default;

    virtual LSTATUS RegOpenKeyExA(HKEY root, LPCSTR subKey, DWORD options, REGSAM sam, PHKEY key);
    virtual LSTATUS RegCreateKeyExA(HKEY root, LPCSTR subKey, DWORD reserved, LPSTR keyClass, DWORD options,
                                    REGSAM sam, LPSECURITY_ATTRIBUTES security, PHKEY key, LPDWORD disposition);
    virtual LSTATUS RegCloseKey(HKEY key);
    virtual LSTATUS RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                     LPDWORD size);
    virtual LSTATUS RegSetValueExA(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD size);
    virtual LSTATUS RegEnumValueA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD reserved,
                                  LPDWORD type, LPBYTE data, LPDWORD dataSize);
    virtual LSTATUS RegEnumKeyA(HKEY key, DWORD index, LPSTR name, DWORD nameSize);
    virtual LSTATUS RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD reserved,
                                  LPSTR keyClass, LPDWORD classSize, PFILETIME lastWrite);
    virtual LSTATUS RegQueryInfoKeyA(HKEY key, LPSTR keyClass, LPDWORD classSize, LPDWORD reserved,
                                     LPDWORD subKeys, LPDWORD maxSubKeyLength, LPDWORD maxClassLength,
                                     LPDWORD values, LPDWORD maxValueNameLength, LPDWORD maxValueLength,
                                     LPDWORD securityDescriptorSize, PFILETIME lastWrite);
    virtual LSTATUS RegDeleteValueA(HKEY key, LPCSTR name);
    virtual LSTATUS RegDeleteKeyA(HKEY root, LPCSTR subKey);
    virtual DWORD SHGetValueA(HKEY root, LPCSTR subKey, LPCSTR value, LPDWORD type, LPVOID data, LPDWORD size);
    virtual DWORD SHDeleteValueA(HKEY root, LPCSTR subKey, LPCSTR value);
    virtual DWORD SHDeleteEmptyKeyA(HKEY root, LPCSTR subKey);
    // RegDeleteKeyExA is looked up by name once at program start (it is
    // missing before 64-bit XP); HasRegDeleteKeyExA says whether it was
    // found. Without it RegDeleteKeyExA returns ERROR_CALL_NOT_IMPLEMENTED.
    virtual LSTATUS RegDeleteKeyExA(HKEY key, LPCSTR subKey, REGSAM sam, DWORD reserved);
    virtual bool HasRegDeleteKeyExA();

    // Wide forms, for the MSI tool's registry values.
    virtual LSTATUS RegOpenKeyExW(HKEY root, LPCWSTR subKey, DWORD options, REGSAM sam, PHKEY key);
    virtual LSTATUS RegEnumValueW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameSize, LPDWORD reserved,
                                  LPDWORD type, LPBYTE data, LPDWORD dataSize);
    virtual LSTATUS RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameSize, LPDWORD reserved,
                                  LPWSTR keyClass, LPDWORD classSize, PFILETIME lastWrite);
    // The name Windows gives an open key (for a key of the 32-bit view
    // "\REGISTRY\MACHINE\SOFTWARE\Wow6432Node\X"): ntdll's NtQueryKey with
    // KeyNameInformation, looked up by name. False when it fails or is
    // missing.
    virtual bool RegKeyFullName(HKEY key, std::wstring& name);
    virtual LSTATUS RegCreateKeyExW(HKEY root, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass, DWORD options,
                                    REGSAM sam, LPSECURITY_ATTRIBUTES security, PHKEY key, LPDWORD disposition);
    virtual LSTATUS RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                     LPDWORD size);
    virtual LSTATUS RegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD size);
    virtual LSTATUS RegDeleteValueW(HKEY key, LPCWSTR name);
    virtual LSTATUS RegFlushKey(HKEY key);
    // A hive file loaded under, and unloaded from, a key below HKEY_USERS or
    // HKEY_LOCAL_MACHINE (the backup and restore privileges enabled).
    virtual LSTATUS RegLoadKeyA(HKEY root, LPCSTR subKey, LPCSTR file);
    virtual LSTATUS RegUnLoadKeyA(HKEY root, LPCSTR subKey);
};

// Shell folders and the account.
class ShellApi {
public:
    virtual ~ShellApi() = default;

    virtual BOOL SHGetSpecialFolderPathA(HWND owner, LPSTR path, int folder, BOOL create);
    virtual BOOL GetUserNameA(LPSTR buffer, LPDWORD size);
    virtual LPSTR PathFindFileNameA(LPCSTR path);
    virtual BOOL PathFindOnPathA(LPSTR path, LPCSTR* otherDirs);
};

// Service control manager.
class ServiceApi {
public:
    virtual ~ServiceApi() = default;

    virtual SC_HANDLE OpenSCManagerA(LPCSTR machine, LPCSTR database, DWORD access);
    virtual BOOL EnumServicesStatusA(SC_HANDLE manager, DWORD type, DWORD state, LPENUM_SERVICE_STATUSA services,
                                     DWORD size, LPDWORD needed, LPDWORD count, LPDWORD resume);
    virtual BOOL CloseServiceHandle(SC_HANDLE handle);
    virtual SC_HANDLE OpenServiceA(SC_HANDLE manager, LPCSTR name, DWORD access);
    virtual BOOL ControlService(SC_HANDLE service, DWORD control, LPSERVICE_STATUS status);
    virtual BOOL QueryServiceStatus(SC_HANDLE service, LPSERVICE_STATUS status);
    virtual BOOL DeleteService(SC_HANDLE service);
    virtual SC_LOCK LockServiceDatabase(SC_HANDLE manager);
    virtual BOOL UnlockServiceDatabase(SC_LOCK lock);
    virtual BOOL StartServiceA(SC_HANDLE service, DWORD count, LPCSTR* arguments);
    virtual BOOL QueryServiceConfigA(SC_HANDLE service, LPQUERY_SERVICE_CONFIGA config, DWORD size, LPDWORD needed);
    virtual BOOL EnumDependentServicesA(SC_HANDLE service, DWORD state, LPENUM_SERVICE_STATUSA services, DWORD size,
                                        LPDWORD needed, LPDWORD count);
};

// Processes: tool-help snapshots.
class ProcessApi {
public:
    virtual ~ProcessApi() = default;

    virtual HANDLE CreateToolhelp32Snapshot(DWORD flags, DWORD processId);
    virtual BOOL Process32First(HANDLE snapshot, LPPROCESSENTRY32 entry);
    virtual BOOL Process32Next(HANDLE snapshot, LPPROCESSENTRY32 entry);
    virtual BOOL CloseHandle(HANDLE handle);
    virtual HANDLE OpenProcess(DWORD access, BOOL inherit, DWORD processId);
    virtual BOOL TerminateProcess(HANDLE process, UINT exitCode);
    virtual DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds);
    // Named mutexes: one run at a time, and the installer's own busy sign.
    virtual HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES security, BOOL initialOwner, LPCSTR name);
    virtual HANDLE OpenMutexA(DWORD access, BOOL inherit, LPCSTR name);
    // The process status functions are loaded from psapi.dll on first use;
    // without it they fail with ERROR_CALL_NOT_IMPLEMENTED.
    virtual BOOL EnumProcesses(DWORD* processIds, DWORD size, DWORD* needed);
    virtual BOOL EnumProcessModules(HANDLE process, HMODULE* modules, DWORD size, LPDWORD needed);
    virtual DWORD GetModuleFileNameExA(HANDLE process, HMODULE module, LPSTR name, DWORD size);
    // Looked up by name (missing before Vista): ERROR_CALL_NOT_IMPLEMENTED
    // without it.
    virtual BOOL QueryFullProcessImageNameA(HANDLE process, DWORD flags, LPSTR name, PDWORD size);
    virtual BOOL CreateProcessA(LPCSTR application, LPSTR commandLine, LPSECURITY_ATTRIBUTES processSecurity,
                                LPSECURITY_ATTRIBUTES threadSecurity, BOOL inheritHandles, DWORD flags,
                                LPVOID environment, LPCSTR currentDirectory, LPSTARTUPINFOA startup,
                                LPPROCESS_INFORMATION info);
    virtual BOOL CreateProcessW(LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES processSecurity,
                                LPSECURITY_ATTRIBUTES threadSecurity, BOOL inheritHandles, DWORD flags,
                                LPVOID environment, LPCWSTR currentDirectory, LPSTARTUPINFOW startup,
                                LPPROCESS_INFORMATION info);
    virtual DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
    virtual BOOL GetExitCodeProcess(HANDLE process, LPDWORD exitCode);
};

// Access control: SIDs, access control lists and the security information of
// named objects (files, registry keys).
class SecurityApi {
public:
    virtual ~SecurityApi() = default;

    virtual BOOL AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY authority, BYTE count, DWORD sub0, DWORD sub1,
                                          DWORD sub2, DWORD sub3, DWORD sub4, DWORD sub5, DWORD sub6, DWORD sub7,
                                          PSID* sid);
    virtual PVOID FreeSid(PSID sid);
    virtual void BuildTrusteeWithSidW(PTRUSTEE_W trustee, PSID sid);
    virtual DWORD SetEntriesInAclW(ULONG count, PEXPLICIT_ACCESS_W entries, PACL oldAcl, PACL* newAcl);
    virtual DWORD SetNamedSecurityInfoA(LPSTR name, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID owner,
                                        PSID group, PACL dacl, PACL sacl);
    virtual DWORD GetNamedSecurityInfoA(LPCSTR name, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID* owner,
                                        PSID* group, PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* descriptor);
    // The same through an open handle: the object checked is the one set.
    virtual DWORD GetSecurityInfo(HANDLE object, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID* owner,
                                  PSID* group, PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* descriptor);
    virtual DWORD SetSecurityInfo(HANDLE object, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID owner,
                                  PSID group, PACL dacl, PACL sacl);
    virtual DWORD GetNamedSecurityInfoW(LPCWSTR name, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID* owner,
                                        PSID* group, PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* descriptor);
    // Random bytes from the system's generator (for names no one can guess).
    virtual BOOL GenerateRandom(BYTE* buffer, DWORD size);
    virtual BOOL LookupAccountNameA(LPCSTR system, LPCSTR account, PSID sid, LPDWORD sidSize, LPSTR domain,
                                    LPDWORD domainSize, PSID_NAME_USE use);
    virtual BOOL GetAclInformation(PACL acl, LPVOID information, DWORD size, ACL_INFORMATION_CLASS informationClass);
    virtual BOOL GetAce(PACL acl, DWORD index, LPVOID* ace);
    virtual BOOL DeleteAce(PACL acl, DWORD index);
    virtual BOOL InitializeAcl(PACL acl, DWORD size, DWORD revision);
    virtual BOOL AddAce(PACL acl, DWORD revision, DWORD startIndex, LPVOID aceList, DWORD listLength);
    virtual BOOL EqualSid(PSID a, PSID b);
    virtual DWORD GetLengthSid(PSID sid);

    // Access tokens.
    virtual BOOL OpenThreadToken(HANDLE thread, DWORD access, BOOL openAsSelf, PHANDLE token);
    virtual BOOL OpenProcessToken(HANDLE process, DWORD access, PHANDLE token);
    virtual BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS informationClass, LPVOID information,
                                     DWORD size, PDWORD returnedSize);
};

// Windows Installer (msi.dll).
class InstallerApi {
public:
    virtual ~InstallerApi() = default;

    virtual UINT MsiEnumRelatedProductsW(LPCWSTR upgradeCode, DWORD reserved, DWORD index, LPWSTR productCode);
    virtual UINT MsiGetProductInfoW(LPCWSTR product, LPCWSTR property, LPWSTR buffer, LPDWORD size);
    virtual UINT MsiConfigureProductExW(LPCWSTR product, int installLevel, INSTALLSTATE state, LPCWSTR commandLine);
    virtual UINT MsiInstallProductW(LPCWSTR packagePath, LPCWSTR commandLine);
    virtual INSTALLUILEVEL MsiSetInternalUI(INSTALLUILEVEL level, HWND* window);
    virtual UINT MsiEnableLogW(DWORD logMode, LPCWSTR logFile, DWORD attributes);
};

// The standard handles and console output.
class ConsoleApi {
public:
    virtual ~ConsoleApi() = default;

    virtual HANDLE GetStdHandle(DWORD which);
    virtual BOOL GetConsoleMode(HANDLE console, LPDWORD mode);
    virtual BOOL WriteConsoleW(HANDLE console, const VOID* text, DWORD length, LPDWORD written, LPVOID reserved);
    virtual BOOL WriteFile(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped);
    virtual BOOL AttachConsole(DWORD processId);
    // The C runtime's standard output (printf).
    virtual int PrintStdout(const char* text);
};

// Winsock 2 service-provider catalogue, in the view of the calling process
// (a 32-bit process sees the 32-bit catalogue).
class WinsockCatalogApi {
public:
    virtual ~WinsockCatalogApi() = default;

    virtual int WSCEnumProtocols(LPINT protocols, LPWSAPROTOCOL_INFOW buffer, LPDWORD bufferLength, LPINT error);
    virtual int WSCDeinstallProvider(LPGUID providerId, LPINT error);
};

// COM, and the few methods of the WMI and Windows Firewall objects the
// restore uses: each call forwards to the object's own method, so a test can
// answer for objects Wine only partly has.
class ComApi {
public:
    virtual ~ComApi() = default;

    virtual HRESULT CoInitialize(LPVOID reserved);
    virtual HRESULT CoInitializeEx(LPVOID reserved, DWORD model);
    virtual void CoUninitialize();
    virtual HRESULT CoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID iid, LPVOID* object);
    virtual BSTR SysAllocString(const OLECHAR* text);
    virtual void SysFreeString(BSTR text);

    virtual HRESULT ConnectServer(IWbemLocator* locator, const BSTR nameSpace, const BSTR user, const BSTR password,
                                  const BSTR locale, long flags, const BSTR authority, IWbemContext* context,
                                  IWbemServices** services);
    virtual HRESULT DeleteInstance(IWbemServices* services, const BSTR objectPath, long flags, IWbemContext* context,
                                   IWbemCallResult** callResult);

    virtual HRESULT get_LocalPolicy(INetFwMgr* manager, INetFwPolicy** policy);
    virtual HRESULT get_CurrentProfile(INetFwPolicy* policy, INetFwProfile** profile);
    virtual HRESULT get_FirewallEnabled(INetFwProfile* profile, VARIANT_BOOL* enabled);
    virtual HRESULT put_FirewallEnabled(INetFwProfile* profile, VARIANT_BOOL enabled);
};

// Windows, dialogs and messages, resources, threads, privileges and the
// restart of Windows.
class WindowApi {
public:
    virtual ~WindowApi() = default;

    virtual INT_PTR DialogBoxParamA(HINSTANCE instance, LPCSTR resource, HWND owner, DLGPROC procedure,
                                    LPARAM parameter);
    virtual BOOL EndDialog(HWND dialog, INT_PTR result);
    virtual BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    virtual LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    virtual HWND GetDlgItem(HWND dialog, int id);
    virtual BOOL SetDlgItemTextA(HWND dialog, int id, LPCSTR text);
    virtual BOOL SetWindowTextA(HWND window, LPCSTR text);
    virtual BOOL EnableWindow(HWND window, BOOL enable);
    virtual BOOL ShowWindow(HWND window, int command);
    virtual BOOL IsIconic(HWND window);
    virtual HMENU GetSystemMenu(HWND window, BOOL revert);
    virtual BOOL AppendMenuA(HMENU menu, UINT flags, UINT_PTR id, LPCSTR text);
    virtual int LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int size);
    virtual HICON LoadIconA(HINSTANCE instance, LPCSTR name);
    virtual BOOL MessageBeep(UINT type);
    virtual int GetSystemMetrics(int index);
    virtual DWORD FormatMessageA(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId, LPSTR buffer,
                                 DWORD size, va_list* arguments);
    virtual HLOCAL LocalFree(HLOCAL memory);
    // The process's window station and its flags (UOI_FLAGS).
    virtual HWINSTA GetProcessWindowStation();
    virtual BOOL GetUserObjectInformationA(HANDLE object, int index, PVOID information, DWORD size,
                                           LPDWORD needed);
    // The Terminal Services session a process runs in. Looked up by name
    // (Windows 9x and NT 4 lack it): ERROR_CALL_NOT_IMPLEMENTED without it.
    virtual BOOL ProcessIdToSessionId(DWORD processId, DWORD* sessionId);
    // A wait that still serves the messages other threads send to this
    // thread's windows, and the peek that serves them.
    virtual DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds,
                                            DWORD wakeMask);
    virtual BOOL PeekMessageA(LPMSG message, HWND window, UINT first, UINT last, UINT remove);

    virtual HANDLE CreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stackSize, LPTHREAD_START_ROUTINE start,
                                LPVOID parameter, DWORD flags, LPDWORD threadId);
    virtual BOOL LookupPrivilegeValueA(LPCSTR system, LPCSTR name, PLUID luid);
    virtual BOOL AdjustTokenPrivileges(HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES state, DWORD size,
                                       PTOKEN_PRIVILEGES previous, PDWORD needed);
    virtual BOOL ExitWindowsEx(UINT flags, DWORD reason);
    // The Application event log.
    virtual HANDLE RegisterEventSourceA(LPCSTR server, LPCSTR source);
    virtual BOOL ReportEventA(HANDLE log, WORD type, WORD category, DWORD eventId, PSID user, WORD count, DWORD size,
                              LPCSTR* strings, LPVOID data);
    virtual BOOL DeregisterEventSource(HANDLE log);
    virtual BOOL InitiateSystemShutdownExA(LPSTR machine, LPSTR message, DWORD timeout, BOOL forceAppsClosed,
                                           BOOL reboot, DWORD reason);
};

class Platform : public SystemApi,
                 public FileApi,
                 public RegistryApi,
                 public ShellApi,
                 public ServiceApi,
                 public ProcessApi,
                 public SecurityApi,
                 public InstallerApi,
                 public ConsoleApi,
                 public WinsockCatalogApi,
                 public ComApi,
                 public WindowApi {
public:
    ~Platform() override = default;
};

// The production platform: every call goes to Windows.
Platform& ProductionPlatform();

}  // namespace platform
