#include "platform/platform.h"

#include <cstring>
#include <string>
#include <vector>
#include <io.h>
#include <wincrypt.h>
#include <share.h>
#include <shlobj.h>
#include <shlwapi.h>

#include "platform/late_bound.h"
#include "platform/pending_deletions.h"

namespace platform {

DWORD SystemApi::GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) {
    return ::GetModuleFileNameA(module, buffer, size);
}
DWORD SystemApi::GetFileVersionInfoSizeA(LPCSTR path, LPDWORD handle) {
    return ::GetFileVersionInfoSizeA(path, handle);
}
BOOL SystemApi::GetFileVersionInfoA(LPCSTR path, DWORD handle, DWORD size, LPVOID data) {
    return ::GetFileVersionInfoA(path, handle, size, data);
}
BOOL SystemApi::VerQueryValueA(LPCVOID block, LPCSTR subBlock, LPVOID* buffer, PUINT length) {
    return ::VerQueryValueA(block, subBlock, buffer, length);
}
void SystemApi::OutputDebugStringA(LPCSTR text) { ::OutputDebugStringA(text); }
void SystemApi::GetLocalTime(LPSYSTEMTIME time) { ::GetLocalTime(time); }
LPSTR SystemApi::GetCommandLineA() { return ::GetCommandLineA(); }
BOOL SystemApi::FileTimeToLocalFileTime(const FILETIME* fileTime, LPFILETIME localTime) {
    return ::FileTimeToLocalFileTime(fileTime, localTime);
}
BOOL SystemApi::FileTimeToSystemTime(const FILETIME* fileTime, LPSYSTEMTIME systemTime) {
    return ::FileTimeToSystemTime(fileTime, systemTime);
}
DWORD SystemApi::GetTickCount() { return ::GetTickCount(); }
BOOL SystemApi::QueryPerformanceCounter(LARGE_INTEGER* count) { return ::QueryPerformanceCounter(count); }
BOOL SystemApi::QueryPerformanceFrequency(LARGE_INTEGER* frequency) {
    return ::QueryPerformanceFrequency(frequency);
}
std::time_t SystemApi::Time() { return std::time(nullptr); }
DWORD SystemApi::GetCurrentThreadId() { return ::GetCurrentThreadId(); }
DWORD SystemApi::GetCurrentProcessId() { return ::GetCurrentProcessId(); }
void SystemApi::Sleep(DWORD milliseconds) { ::Sleep(milliseconds); }
void SystemApi::InitializeCriticalSection(LPCRITICAL_SECTION section) { ::InitializeCriticalSection(section); }
void SystemApi::EnterCriticalSection(LPCRITICAL_SECTION section) { ::EnterCriticalSection(section); }
void SystemApi::LeaveCriticalSection(LPCRITICAL_SECTION section) { ::LeaveCriticalSection(section); }
void SystemApi::DeleteCriticalSection(LPCRITICAL_SECTION section) { ::DeleteCriticalSection(section); }
BOOL SystemApi::GetVersionExA(LPOSVERSIONINFOA info) { return ::GetVersionExA(info); }
int SystemApi::MultiByteToWideChar(UINT codePage, DWORD flags, LPCCH text, int length, LPWSTR wide, int wideLength) {
    return ::MultiByteToWideChar(codePage, flags, text, length, wide, wideLength);
}
int SystemApi::WideCharToMultiByte(UINT codePage, DWORD flags, LPCWCH wide, int wideLength, LPSTR text, int length,
                                   LPCCH defaultChar, LPBOOL usedDefault) {
    return ::WideCharToMultiByte(codePage, flags, wide, wideLength, text, length, defaultChar, usedDefault);
}
DWORD SystemApi::GetLastError() { return ::GetLastError(); }
void SystemApi::SetLastError(DWORD code) { ::SetLastError(code); }
DWORD SystemApi::GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size) {
    return ::GetEnvironmentVariableA(name, buffer, size);
}
DWORD SystemApi::ExpandEnvironmentStringsA(LPCSTR source, LPSTR buffer, DWORD size) {
    return ::ExpandEnvironmentStringsA(source, buffer, size);
}
int SystemApi::MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    return ::MessageBoxA(owner, text, caption, type);
}
void SystemApi::DebugBreak() { ::DebugBreak(); }
void SystemApi::ExitProcess(UINT code) { ::ExitProcess(code); }

namespace {

// The functions older Windows versions lack, looked up by name.
struct LateBoundFunctions {
    BOOL(WINAPI* isWow64Process)(HANDLE, PBOOL);
    LSTATUS(WINAPI* regDeleteKeyExA)(HKEY, LPCSTR, REGSAM, DWORD);
    DWORD(WINAPI* getFinalPathNameByHandleA)(HANDLE, LPSTR, DWORD, DWORD);
    LONG(WINAPI* ntQueryKey)(HANDLE, int, PVOID, ULONG, PULONG);
    BOOL(WINAPI* setFileInformationByHandle)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);
    BOOL(WINAPI* getFileInformationByHandleEx)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);
    BOOL(WINAPI* setDefaultDllDirectories)(DWORD);
};

const LateBoundFunctions& Resolved() {
    static const LateBoundFunctions functions = {
        LateBound<BOOL(WINAPI*)(HANDLE, PBOOL)>("kernel32.dll", "IsWow64Process"),
        LateBound<LSTATUS(WINAPI*)(HKEY, LPCSTR, REGSAM, DWORD)>("advapi32.dll", "RegDeleteKeyExA"),
        LateBound<DWORD(WINAPI*)(HANDLE, LPSTR, DWORD, DWORD)>("kernel32.dll", "GetFinalPathNameByHandleA"),
        LateBound<LONG(WINAPI*)(HANDLE, int, PVOID, ULONG, PULONG)>("ntdll.dll", "NtQueryKey"),
        LateBound<BOOL(WINAPI*)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD)>("kernel32.dll",
                                                                                 "SetFileInformationByHandle"),
        LateBound<BOOL(WINAPI*)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD)>("kernel32.dll",
                                                                                 "GetFileInformationByHandleEx"),
        LateBound<BOOL(WINAPI*)(DWORD)>("kernel32.dll", "SetDefaultDllDirectories"),
    };
    return functions;
}

// Looked up once while the program starts, before any window is created.
[[maybe_unused]] const LateBoundFunctions& lateBoundAtStart = Resolved();

}  // namespace

BOOL SystemApi::IsWow64Process(HANDLE process, PBOOL wow64) {
    return CallLateBound(Resolved().isWow64Process, FALSE, process, wow64);
}
HANDLE SystemApi::GetCurrentProcess() { return ::GetCurrentProcess(); }
bool SystemApi::HasIsWow64Process() { return Resolved().isWow64Process != nullptr; }

DWORD FileApi::GetFileAttributesA(LPCSTR path) { return ::GetFileAttributesA(path); }
DWORD FileApi::GetLongPathNameA(LPCSTR shortPath, LPSTR longPath, DWORD size) {
    return ::GetLongPathNameA(shortPath, longPath, size);
}
BOOL FileApi::SetFileAttributesA(LPCSTR path, DWORD attributes) { return ::SetFileAttributesA(path, attributes); }
BOOL FileApi::CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES security) {
    return ::CreateDirectoryA(path, security);
}
BOOL FileApi::DeleteFileA(LPCSTR path) { return ::DeleteFileA(path); }
BOOL FileApi::RemoveDirectoryA(LPCSTR path) { return ::RemoveDirectoryA(path); }
BOOL FileApi::CreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES security) {
    return ::CreateDirectoryW(path, security);
}
BOOL FileApi::RemoveDirectoryW(LPCWSTR path) { return ::RemoveDirectoryW(path); }
BOOL FileApi::SetEndOfFile(HANDLE file) { return ::SetEndOfFile(file); }
DWORD FileApi::SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method) {
    return ::SetFilePointer(file, distance, distanceHigh, method);
}
std::FILE* FileApi::OpenSharedStream(const char* path, const char* mode) {
    return ::_fsopen(path, mode, _SH_DENYNO);
}

int FileApi::Access(const char* path, int mode) { return ::_access(path, mode); }
HANDLE FileApi::FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA data) { return ::FindFirstFileA(pattern, data); }
BOOL FileApi::FindNextFileA(HANDLE find, LPWIN32_FIND_DATAA data) { return ::FindNextFileA(find, data); }
BOOL FileApi::FindClose(HANDLE find) { return ::FindClose(find); }
HANDLE FileApi::FindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data) { return ::FindFirstFileW(pattern, data); }
BOOL FileApi::FindNextFileW(HANDLE find, LPWIN32_FIND_DATAW data) { return ::FindNextFileW(find, data); }
UINT FileApi::GetWindowsDirectoryA(LPSTR buffer, UINT size) { return ::GetWindowsDirectoryA(buffer, size); }
UINT FileApi::GetSystemDirectoryA(LPSTR buffer, UINT size) { return ::GetSystemDirectoryA(buffer, size); }
DWORD FileApi::GetLogicalDriveStringsA(DWORD size, LPSTR buffer) { return ::GetLogicalDriveStringsA(size, buffer); }
UINT FileApi::GetDriveTypeA(LPCSTR root) { return ::GetDriveTypeA(root); }
DWORD FileApi::GetFullPathNameA(LPCSTR path, DWORD size, LPSTR buffer, LPSTR* filePart) {
    return ::GetFullPathNameA(path, size, buffer, filePart);
}
HANDLE FileApi::CreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                            DWORD disposition, DWORD flags, HANDLE templateFile) {
    return ::CreateFileW(path, access, share, security, disposition, flags, templateFile);
}
HANDLE FileApi::CreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                            DWORD disposition, DWORD flags, HANDLE templateFile) {
    return ::CreateFileA(path, access, share, security, disposition, flags, templateFile);
}
BOOL FileApi::GetFileInformationByHandle(HANDLE file, LPBY_HANDLE_FILE_INFORMATION information) {
    return ::GetFileInformationByHandle(file, information);
}
DWORD FileApi::GetFinalPathNameByHandleA(HANDLE file, LPSTR buffer, DWORD size, DWORD flags) {
    return CallLateBound(Resolved().getFinalPathNameByHandleA, static_cast<DWORD>(0), file, buffer, size, flags);
}
LSTATUS RegistryApi::RegEnumValueW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameSize, LPDWORD reserved,
                                   LPDWORD type, LPBYTE data, LPDWORD dataSize) {
    return ::RegEnumValueW(key, index, name, nameSize, reserved, type, data, dataSize);
}
LSTATUS RegistryApi::RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameSize, LPDWORD reserved,
                                   LPWSTR keyClass, LPDWORD classSize, PFILETIME lastWrite) {
    return ::RegEnumKeyExW(key, index, name, nameSize, reserved, keyClass, classSize, lastWrite);
}
bool RegistryApi::RegKeyFullName(HKEY key, std::wstring& name) {
    name.clear();
    if (!Resolved().ntQueryKey) return false;
    const int kKeyNameInformation = 3;  // KEY_NAME_INFORMATION: a length in bytes, then the name
    std::vector<BYTE> buffer(1024);
    for (int attempt = 0; attempt < 4; ++attempt) {
        ULONG needed = 0;
        const LONG status = Resolved().ntQueryKey(key, kKeyNameInformation, buffer.data(),
                                                   static_cast<ULONG>(buffer.size()), &needed);
        if (status >= 0) {
            ULONG bytes = 0;
            std::memcpy(&bytes, buffer.data(), sizeof bytes);
            if (bytes > buffer.size() - sizeof bytes) return false;
            name.assign(reinterpret_cast<const wchar_t*>(buffer.data() + sizeof bytes), bytes / sizeof(wchar_t));
            return true;
        }
        if (needed <= buffer.size()) return false;
        buffer.resize(needed);
    }
    return false;
}
bool FileApi::HasGetFinalPathNameByHandleA() { return Resolved().getFinalPathNameByHandleA != nullptr; }
namespace {

// A by-handle information call that may be missing.
BOOL ByHandle(BOOL(WINAPI* call)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD), HANDLE file,
              FILE_INFO_BY_HANDLE_CLASS infoClass, LPVOID information, DWORD size) {
    return CallLateBound(call, FALSE, file, infoClass, information, size);
}

}  // namespace

BOOL FileApi::SetFileInformationByHandle(HANDLE file, FILE_INFO_BY_HANDLE_CLASS infoClass, LPVOID information,
                                         DWORD size) {
    return ByHandle(Resolved().setFileInformationByHandle, file, infoClass, information, size);
}
BOOL FileApi::GetFileInformationByHandleEx(HANDLE file, FILE_INFO_BY_HANDLE_CLASS infoClass, LPVOID information,
                                           DWORD size) {
    return ByHandle(Resolved().getFileInformationByHandleEx, file, infoClass, information, size);
}
BOOL SystemApi::SetDefaultDllDirectories(DWORD flags) {
    if (!Resolved().setDefaultDllDirectories) {
        ::SetLastError(ERROR_PROC_NOT_FOUND);
        return FALSE;
    }
    return Resolved().setDefaultDllDirectories(flags);
}
bool FileApi::HasGetFileInformationByHandleEx() { return Resolved().getFileInformationByHandleEx != nullptr; }
BOOL FileApi::MoveFileExA(LPCSTR existing, LPCSTR newName, DWORD flags) {
    return ::MoveFileExA(existing, newName, flags);
}
DWORD FileApi::ScheduleDeletionsAtRestart(const std::vector<std::string>& paths) {
    std::vector<std::wstring> names(paths.size());
    for (size_t i = 0; i < paths.size(); ++i) {
        if (!PendingDeletionName(paths[i], names[i])) return ERROR_INVALID_NAME;
    }
    static const wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
    static const wchar_t kPendingRenames[] = L"PendingFileRenameOperations";
    HKEY key = nullptr;
    LSTATUS rc = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0,
                                 KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_WOW64_64KEY, &key);
    if (rc != ERROR_SUCCESS) return static_cast<DWORD>(rc);
    // Read and written in one open of the key, with nothing in between, as
    // MoveFileExA does; a value that grew since its size was asked is read
    // again.
    std::vector<wchar_t> value;
    DWORD type = REG_MULTI_SZ;
    for (;;) {
        DWORD size = static_cast<DWORD>(value.size() * sizeof(wchar_t));
        rc = ::RegQueryValueExW(key, kPendingRenames, nullptr, &type,
                                value.empty() ? nullptr : reinterpret_cast<BYTE*>(value.data()), &size);
        if (rc == ERROR_FILE_NOT_FOUND) {
            value.clear();
            type = REG_MULTI_SZ;
            rc = ERROR_SUCCESS;
            break;
        }
        const bool room = rc == ERROR_SUCCESS && (!value.empty() || size == 0);
        if (rc == ERROR_MORE_DATA || (rc == ERROR_SUCCESS && !room)) {
            value.assign(size / sizeof(wchar_t) + 1, L'\0');
            continue;
        }
        if (rc == ERROR_SUCCESS) {
            // Windows reads the list as wide strings of a REG_MULTI_SZ.
            if (type != REG_MULTI_SZ || size % sizeof(wchar_t) != 0) rc = ERROR_INVALID_DATA;
            value.resize(size / sizeof(wchar_t));
        }
        break;
    }
    if (rc == ERROR_SUCCESS && !AppendPendingDeletions(value, names)) rc = ERROR_INVALID_DATA;
    if (rc == ERROR_SUCCESS && !names.empty()) {
        rc = ::RegSetValueExW(key, kPendingRenames, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(value.data()),
                              static_cast<DWORD>(value.size() * sizeof(wchar_t)));
    }
    ::RegCloseKey(key);
    return static_cast<DWORD>(rc);
}

LSTATUS RegistryApi::RegOpenKeyExA(HKEY root, LPCSTR subKey, DWORD options, REGSAM sam, PHKEY key) {
    return ::RegOpenKeyExA(root, subKey, options, sam, key);
}
LSTATUS RegistryApi::RegCreateKeyExA(HKEY root, LPCSTR subKey, DWORD reserved, LPSTR keyClass, DWORD options,
                                     REGSAM sam, LPSECURITY_ATTRIBUTES security, PHKEY key, LPDWORD disposition) {
    return ::RegCreateKeyExA(root, subKey, reserved, keyClass, options, sam, security, key, disposition);
}
LSTATUS RegistryApi::RegCloseKey(HKEY key) { return ::RegCloseKey(key); }
LSTATUS RegistryApi::RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                      LPDWORD size) {
    return ::RegQueryValueExA(key, name, reserved, type, data, size);
}
LSTATUS RegistryApi::RegSetValueExA(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data,
                                    DWORD size) {
    return ::RegSetValueExA(key, name, reserved, type, data, size);
}
LSTATUS RegistryApi::RegEnumValueA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD reserved,
                                   LPDWORD type, LPBYTE data, LPDWORD dataSize) {
    return ::RegEnumValueA(key, index, name, nameSize, reserved, type, data, dataSize);
}
LSTATUS RegistryApi::RegEnumKeyA(HKEY key, DWORD index, LPSTR name, DWORD nameSize) {
    return ::RegEnumKeyA(key, index, name, nameSize);
}
LSTATUS RegistryApi::RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD reserved,
                                   LPSTR keyClass, LPDWORD classSize, PFILETIME lastWrite) {
    return ::RegEnumKeyExA(key, index, name, nameSize, reserved, keyClass, classSize, lastWrite);
}
LSTATUS RegistryApi::RegQueryInfoKeyA(HKEY key, LPSTR keyClass, LPDWORD classSize, LPDWORD reserved,
                                      LPDWORD subKeys, LPDWORD maxSubKeyLength, LPDWORD maxClassLength,
                                      LPDWORD values, LPDWORD maxValueNameLength, LPDWORD maxValueLength,
                                      LPDWORD securityDescriptorSize, PFILETIME lastWrite) {
    return ::RegQueryInfoKeyA(key, keyClass, classSize, reserved, subKeys, maxSubKeyLength, maxClassLength, values,
                              maxValueNameLength, maxValueLength, securityDescriptorSize, lastWrite);
}
LSTATUS RegistryApi::RegDeleteValueA(HKEY key, LPCSTR name) { return ::RegDeleteValueA(key, name); }
LSTATUS RegistryApi::RegDeleteKeyA(HKEY root, LPCSTR subKey) { return ::RegDeleteKeyA(root, subKey); }
DWORD RegistryApi::SHGetValueA(HKEY root, LPCSTR subKey, LPCSTR value, LPDWORD type, LPVOID data, LPDWORD size) {
    return ::SHGetValueA(root, subKey, value, type, data, size);
}
DWORD RegistryApi::SHDeleteValueA(HKEY root, LPCSTR subKey, LPCSTR value) {
    return static_cast<DWORD>(::SHDeleteValueA(root, subKey, value));
}
DWORD RegistryApi::SHDeleteEmptyKeyA(HKEY root, LPCSTR subKey) {
    return static_cast<DWORD>(::SHDeleteEmptyKeyA(root, subKey));
}
LSTATUS RegistryApi::RegDeleteKeyExA(HKEY key, LPCSTR subKey, REGSAM sam, DWORD reserved) {
    if (!Resolved().regDeleteKeyExA) return ERROR_CALL_NOT_IMPLEMENTED;
    return Resolved().regDeleteKeyExA(key, subKey, sam, reserved);
}
bool RegistryApi::HasRegDeleteKeyExA() { return Resolved().regDeleteKeyExA != nullptr; }

BOOL ShellApi::SHGetSpecialFolderPathA(HWND owner, LPSTR path, int folder, BOOL create) {
    return ::SHGetSpecialFolderPathA(owner, path, folder, create);
}
BOOL ShellApi::GetUserNameA(LPSTR buffer, LPDWORD size) { return ::GetUserNameA(buffer, size); }
LPSTR ShellApi::PathFindFileNameA(LPCSTR path) { return ::PathFindFileNameA(path); }
BOOL ShellApi::PathFindOnPathA(LPSTR path, LPCSTR* otherDirs) { return ::PathFindOnPathA(path, otherDirs); }

SC_HANDLE ServiceApi::OpenSCManagerA(LPCSTR machine, LPCSTR database, DWORD access) {
    return ::OpenSCManagerA(machine, database, access);
}
BOOL ServiceApi::EnumServicesStatusA(SC_HANDLE manager, DWORD type, DWORD state, LPENUM_SERVICE_STATUSA services,
                                      DWORD size, LPDWORD needed, LPDWORD count, LPDWORD resume) {
    return ::EnumServicesStatusA(manager, type, state, services, size, needed, count, resume);
}
BOOL ServiceApi::CloseServiceHandle(SC_HANDLE handle) { return ::CloseServiceHandle(handle); }
SC_HANDLE ServiceApi::OpenServiceA(SC_HANDLE manager, LPCSTR name, DWORD access) {
    return ::OpenServiceA(manager, name, access);
}
BOOL ServiceApi::ControlService(SC_HANDLE service, DWORD control, LPSERVICE_STATUS status) {
    return ::ControlService(service, control, status);
}
BOOL ServiceApi::QueryServiceStatus(SC_HANDLE service, LPSERVICE_STATUS status) {
    return ::QueryServiceStatus(service, status);
}
BOOL ServiceApi::DeleteService(SC_HANDLE service) { return ::DeleteService(service); }
BOOL ServiceApi::QueryServiceConfigA(SC_HANDLE service, LPQUERY_SERVICE_CONFIGA config, DWORD size, LPDWORD needed) {
    return ::QueryServiceConfigA(service, config, size, needed);
}
BOOL ServiceApi::EnumDependentServicesA(SC_HANDLE service, DWORD state, LPENUM_SERVICE_STATUSA services, DWORD size,
                                        LPDWORD needed, LPDWORD count) {
    return ::EnumDependentServicesA(service, state, services, size, needed, count);
}
SC_LOCK ServiceApi::LockServiceDatabase(SC_HANDLE manager) { return ::LockServiceDatabase(manager); }
BOOL ServiceApi::UnlockServiceDatabase(SC_LOCK lock) { return ::UnlockServiceDatabase(lock); }

HANDLE ProcessApi::CreateToolhelp32Snapshot(DWORD flags, DWORD processId) {
    return ::CreateToolhelp32Snapshot(flags, processId);
}
BOOL ProcessApi::Process32First(HANDLE snapshot, LPPROCESSENTRY32 entry) { return ::Process32First(snapshot, entry); }
BOOL ProcessApi::Process32Next(HANDLE snapshot, LPPROCESSENTRY32 entry) { return ::Process32Next(snapshot, entry); }
BOOL ProcessApi::CloseHandle(HANDLE handle) { return ::CloseHandle(handle); }
HANDLE ProcessApi::OpenProcess(DWORD access, BOOL inherit, DWORD processId) {
    return ::OpenProcess(access, inherit, processId);
}
BOOL ProcessApi::TerminateProcess(HANDLE process, UINT exitCode) { return ::TerminateProcess(process, exitCode); }
DWORD ProcessApi::WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds) {
    return ::WaitForMultipleObjects(count, handles, waitAll, milliseconds);
}
namespace {

using EnumProcessesFn = BOOL(WINAPI*)(DWORD*, DWORD, DWORD*);
using EnumProcessModulesFn = BOOL(WINAPI*)(HANDLE, HMODULE*, DWORD, LPDWORD);
using GetModuleFileNameExAFn = DWORD(WINAPI*)(HANDLE, HMODULE, LPSTR, DWORD);
using QueryFullProcessImageNameAFn = BOOL(WINAPI*)(HANDLE, DWORD, LPSTR, PDWORD);

}  // namespace

BOOL ProcessApi::EnumProcesses(DWORD* processIds, DWORD size, DWORD* needed) {
    static const EnumProcessesFn call = LateBound<EnumProcessesFn>("psapi.dll", "EnumProcesses");
    return CallLateBound(call, FALSE, processIds, size, needed);
}
BOOL ProcessApi::EnumProcessModules(HANDLE process, HMODULE* modules, DWORD size, LPDWORD needed) {
    static const EnumProcessModulesFn call = LateBound<EnumProcessModulesFn>("psapi.dll", "EnumProcessModules");
    return CallLateBound(call, FALSE, process, modules, size, needed);
}
DWORD ProcessApi::GetModuleFileNameExA(HANDLE process, HMODULE module, LPSTR name, DWORD size) {
    static const GetModuleFileNameExAFn call =
        LateBound<GetModuleFileNameExAFn>("psapi.dll", "GetModuleFileNameExA");
    return CallLateBound(call, static_cast<DWORD>(0), process, module, name, size);
}
BOOL ProcessApi::QueryFullProcessImageNameA(HANDLE process, DWORD flags, LPSTR name, PDWORD size) {
    static const QueryFullProcessImageNameAFn call =
        LateBound<QueryFullProcessImageNameAFn>("kernel32.dll", "QueryFullProcessImageNameA");
    return CallLateBound(call, FALSE, process, flags, name, size);
}
BOOL ProcessApi::CreateProcessA(LPCSTR application, LPSTR commandLine, LPSECURITY_ATTRIBUTES processSecurity,
                                LPSECURITY_ATTRIBUTES threadSecurity, BOOL inheritHandles, DWORD flags,
                                LPVOID environment, LPCSTR currentDirectory, LPSTARTUPINFOA startup,
                                LPPROCESS_INFORMATION info) {
    return ::CreateProcessA(application, commandLine, processSecurity, threadSecurity, inheritHandles, flags,
                            environment, currentDirectory, startup, info);
}
BOOL ProcessApi::CreateProcessW(LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES processSecurity,
                                LPSECURITY_ATTRIBUTES threadSecurity, BOOL inheritHandles, DWORD flags,
                                LPVOID environment, LPCWSTR currentDirectory, LPSTARTUPINFOW startup,
                                LPPROCESS_INFORMATION info) {
    return ::CreateProcessW(application, commandLine, processSecurity, threadSecurity, inheritHandles, flags,
                            environment, currentDirectory, startup, info);
}
DWORD ProcessApi::WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    return ::WaitForSingleObject(handle, milliseconds);
}
HANDLE ProcessApi::CreateMutexA(LPSECURITY_ATTRIBUTES security, BOOL initialOwner, LPCSTR name) {
    return ::CreateMutexA(security, initialOwner, name);
}
HANDLE ProcessApi::OpenMutexA(DWORD access, BOOL inherit, LPCSTR name) { return ::OpenMutexA(access, inherit, name); }
BOOL ProcessApi::GetExitCodeProcess(HANDLE process, LPDWORD exitCode) {
    return ::GetExitCodeProcess(process, exitCode);
}

BOOL SecurityApi::AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY authority, BYTE count, DWORD sub0, DWORD sub1,
                                           DWORD sub2, DWORD sub3, DWORD sub4, DWORD sub5, DWORD sub6, DWORD sub7,
                                           PSID* sid) {
    return ::AllocateAndInitializeSid(authority, count, sub0, sub1, sub2, sub3, sub4, sub5, sub6, sub7, sid);
}
PVOID SecurityApi::FreeSid(PSID sid) { return ::FreeSid(sid); }
void SecurityApi::BuildTrusteeWithSidW(PTRUSTEE_W trustee, PSID sid) { ::BuildTrusteeWithSidW(trustee, sid); }
DWORD SecurityApi::SetEntriesInAclW(ULONG count, PEXPLICIT_ACCESS_W entries, PACL oldAcl, PACL* newAcl) {
    return ::SetEntriesInAclW(count, entries, oldAcl, newAcl);
}
DWORD SecurityApi::GetSecurityInfo(HANDLE object, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID* owner,
                                   PSID* group, PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* descriptor) {
    return ::GetSecurityInfo(object, type, info, owner, group, dacl, sacl, descriptor);
}
DWORD SecurityApi::SetSecurityInfo(HANDLE object, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID owner,
                                   PSID group, PACL dacl, PACL sacl) {
    return ::SetSecurityInfo(object, type, info, owner, group, dacl, sacl);
}
DWORD SecurityApi::GetNamedSecurityInfoW(LPCWSTR name, SE_OBJECT_TYPE type, SECURITY_INFORMATION info,
                                         PSID* owner, PSID* group, PACL* dacl, PACL* sacl,
                                         PSECURITY_DESCRIPTOR* descriptor) {
    return ::GetNamedSecurityInfoW(name, type, info, owner, group, dacl, sacl, descriptor);
}
BOOL SecurityApi::GenerateRandom(BYTE* buffer, DWORD size) {
    HCRYPTPROV provider = 0;
    if (!::CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT | CRYPT_SILENT)) {
        return FALSE;
    }
    const BOOL ok = ::CryptGenRandom(provider, size, buffer);
    ::CryptReleaseContext(provider, 0);
    return ok;
}
DWORD SecurityApi::SetNamedSecurityInfoA(LPSTR name, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID owner,
                                         PSID group, PACL dacl, PACL sacl) {
    return ::SetNamedSecurityInfoA(name, type, info, owner, group, dacl, sacl);
}
DWORD SecurityApi::GetNamedSecurityInfoA(LPCSTR name, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID* owner,
                                         PSID* group, PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* descriptor) {
    return ::GetNamedSecurityInfoA(name, type, info, owner, group, dacl, sacl, descriptor);
}
BOOL SecurityApi::LookupAccountNameA(LPCSTR system, LPCSTR account, PSID sid, LPDWORD sidSize, LPSTR domain,
                                     LPDWORD domainSize, PSID_NAME_USE use) {
    return ::LookupAccountNameA(system, account, sid, sidSize, domain, domainSize, use);
}
BOOL SecurityApi::GetAclInformation(PACL acl, LPVOID information, DWORD size, ACL_INFORMATION_CLASS informationClass) {
    return ::GetAclInformation(acl, information, size, informationClass);
}
BOOL SecurityApi::GetAce(PACL acl, DWORD index, LPVOID* ace) { return ::GetAce(acl, index, ace); }
BOOL SecurityApi::DeleteAce(PACL acl, DWORD index) { return ::DeleteAce(acl, index); }
BOOL SecurityApi::InitializeAcl(PACL acl, DWORD size, DWORD revision) { return ::InitializeAcl(acl, size, revision); }
BOOL SecurityApi::AddAce(PACL acl, DWORD revision, DWORD startIndex, LPVOID aceList, DWORD listLength) {
    return ::AddAce(acl, revision, startIndex, aceList, listLength);
}
BOOL SecurityApi::EqualSid(PSID a, PSID b) { return ::EqualSid(a, b); }
DWORD SecurityApi::GetLengthSid(PSID sid) { return ::GetLengthSid(sid); }

DWORD SystemApi::GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size) {
    return ::GetModuleFileNameW(module, buffer, size);
}
BOOL SystemApi::GetVersionExW(LPOSVERSIONINFOW info) {
#ifdef _MSC_VER
#pragma warning(suppress : 4996)  // deprecated, but the version is what the callers ask for
#endif
    return ::GetVersionExW(info);
}
HANDLE SystemApi::GetCurrentThread() { return ::GetCurrentThread(); }

DWORD FileApi::GetTempPathW(DWORD size, LPWSTR buffer) { return ::GetTempPathW(size, buffer); }
BOOL FileApi::CopyFileW(LPCWSTR existing, LPCWSTR newName, BOOL failIfExists) {
    return ::CopyFileW(existing, newName, failIfExists);
}
BOOL FileApi::DeleteFileW(LPCWSTR path) { return ::DeleteFileW(path); }

LSTATUS RegistryApi::RegOpenKeyExW(HKEY root, LPCWSTR subKey, DWORD options, REGSAM sam, PHKEY key) {
    return ::RegOpenKeyExW(root, subKey, options, sam, key);
}
LSTATUS RegistryApi::RegCreateKeyExW(HKEY root, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass, DWORD options,
                                     REGSAM sam, LPSECURITY_ATTRIBUTES security, PHKEY key, LPDWORD disposition) {
    return ::RegCreateKeyExW(root, subKey, reserved, keyClass, options, sam, security, key, disposition);
}
LSTATUS RegistryApi::RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                      LPDWORD size) {
    return ::RegQueryValueExW(key, name, reserved, type, data, size);
}
LSTATUS RegistryApi::RegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data,
                                    DWORD size) {
    return ::RegSetValueExW(key, name, reserved, type, data, size);
}
LSTATUS RegistryApi::RegDeleteValueW(HKEY key, LPCWSTR name) { return ::RegDeleteValueW(key, name); }
LSTATUS RegistryApi::RegFlushKey(HKEY key) { return ::RegFlushKey(key); }
LSTATUS RegistryApi::RegLoadKeyA(HKEY root, LPCSTR subKey, LPCSTR file) { return ::RegLoadKeyA(root, subKey, file); }
LSTATUS RegistryApi::RegUnLoadKeyA(HKEY root, LPCSTR subKey) { return ::RegUnLoadKeyA(root, subKey); }

BOOL SecurityApi::OpenThreadToken(HANDLE thread, DWORD access, BOOL openAsSelf, PHANDLE token) {
    return ::OpenThreadToken(thread, access, openAsSelf, token);
}
BOOL SecurityApi::OpenProcessToken(HANDLE process, DWORD access, PHANDLE token) {
    return ::OpenProcessToken(process, access, token);
}
BOOL SecurityApi::GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS informationClass, LPVOID information,
                                      DWORD size, PDWORD returnedSize) {
    return ::GetTokenInformation(token, informationClass, information, size, returnedSize);
}

UINT InstallerApi::MsiEnumRelatedProductsW(LPCWSTR upgradeCode, DWORD reserved, DWORD index, LPWSTR productCode) {
    return ::MsiEnumRelatedProductsW(upgradeCode, reserved, index, productCode);
}
UINT InstallerApi::MsiGetProductInfoW(LPCWSTR product, LPCWSTR property, LPWSTR buffer, LPDWORD size) {
    return ::MsiGetProductInfoW(product, property, buffer, size);
}
UINT InstallerApi::MsiConfigureProductExW(LPCWSTR product, int installLevel, INSTALLSTATE state,
                                          LPCWSTR commandLine) {
    return ::MsiConfigureProductExW(product, installLevel, state, commandLine);
}
UINT InstallerApi::MsiInstallProductW(LPCWSTR packagePath, LPCWSTR commandLine) {
    return ::MsiInstallProductW(packagePath, commandLine);
}
UINT InstallerApi::MsiEnableLogW(DWORD logMode, LPCWSTR logFile, DWORD attributes) {
    return ::MsiEnableLogW(logMode, logFile, attributes);
}
INSTALLUILEVEL InstallerApi::MsiSetInternalUI(INSTALLUILEVEL level, HWND* window) {
    return ::MsiSetInternalUI(level, window);
}

HANDLE ConsoleApi::GetStdHandle(DWORD which) { return ::GetStdHandle(which); }
BOOL ConsoleApi::GetConsoleMode(HANDLE console, LPDWORD mode) { return ::GetConsoleMode(console, mode); }
BOOL ConsoleApi::WriteConsoleW(HANDLE console, const VOID* text, DWORD length, LPDWORD written, LPVOID reserved) {
    return ::WriteConsoleW(console, text, length, written, reserved);
}
BOOL ConsoleApi::WriteFile(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped) {
    return ::WriteFile(file, data, size, written, overlapped);
}

int WinsockCatalogApi::WSCEnumProtocols(LPINT protocols, LPWSAPROTOCOL_INFOW buffer, LPDWORD bufferLength,
                                        LPINT error) {
    return ::WSCEnumProtocols(protocols, buffer, bufferLength, error);
}
int WinsockCatalogApi::WSCDeinstallProvider(LPGUID providerId, LPINT error) {
    return ::WSCDeinstallProvider(providerId, error);
}

Platform& ProductionPlatform() {
    // Constructed on first use, so it exists for objects built during static
    // initialisation and outlives them.
    static Platform instance;
    return instance;
}

}  // namespace platform

namespace platform {

int ConsoleApi::PrintStdout(const char* text) { return std::printf("%s", text); }
BOOL ConsoleApi::AttachConsole(DWORD processId) { return ::AttachConsole(processId); }

HRESULT ComApi::CoInitialize(LPVOID reserved) { return ::CoInitialize(reserved); }
HRESULT ComApi::CoInitializeEx(LPVOID reserved, DWORD model) { return ::CoInitializeEx(reserved, model); }
void ComApi::CoUninitialize() { ::CoUninitialize(); }
HRESULT ComApi::CoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID iid, LPVOID* object) {
    return ::CoCreateInstance(clsid, outer, context, iid, object);
}
BSTR ComApi::SysAllocString(const OLECHAR* text) { return ::SysAllocString(text); }
void ComApi::SysFreeString(BSTR text) { ::SysFreeString(text); }
HRESULT ComApi::ConnectServer(IWbemLocator* locator, const BSTR nameSpace, const BSTR user, const BSTR password,
                              const BSTR locale, long flags, const BSTR authority, IWbemContext* context,
                              IWbemServices** services) {
    return locator->ConnectServer(nameSpace, user, password, locale, flags, authority, context, services);
}
HRESULT ComApi::DeleteInstance(IWbemServices* services, const BSTR objectPath, long flags, IWbemContext* context,
                               IWbemCallResult** callResult) {
    return services->DeleteInstance(objectPath, flags, context, callResult);
}
HRESULT ComApi::get_LocalPolicy(INetFwMgr* manager, INetFwPolicy** policy) { return manager->get_LocalPolicy(policy); }
HRESULT ComApi::get_CurrentProfile(INetFwPolicy* policy, INetFwProfile** profile) {
    return policy->get_CurrentProfile(profile);
}
HRESULT ComApi::get_FirewallEnabled(INetFwProfile* profile, VARIANT_BOOL* enabled) {
    return profile->get_FirewallEnabled(enabled);
}
HRESULT ComApi::put_FirewallEnabled(INetFwProfile* profile, VARIANT_BOOL enabled) {
    return profile->put_FirewallEnabled(enabled);
}

}  // namespace platform

namespace platform {

INT_PTR WindowApi::DialogBoxParamA(HINSTANCE instance, LPCSTR resource, HWND owner, DLGPROC procedure,
                                   LPARAM parameter) {
    return ::DialogBoxParamA(instance, resource, owner, procedure, parameter);
}
BOOL WindowApi::EndDialog(HWND dialog, INT_PTR result) { return ::EndDialog(dialog, result); }
BOOL WindowApi::PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return ::PostMessageA(window, message, wParam, lParam);
}
LRESULT WindowApi::SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return ::SendMessageA(window, message, wParam, lParam);
}
HWND WindowApi::GetDlgItem(HWND dialog, int id) { return ::GetDlgItem(dialog, id); }
BOOL WindowApi::SetDlgItemTextA(HWND dialog, int id, LPCSTR text) { return ::SetDlgItemTextA(dialog, id, text); }
BOOL WindowApi::SetWindowTextA(HWND window, LPCSTR text) { return ::SetWindowTextA(window, text); }
BOOL WindowApi::EnableWindow(HWND window, BOOL enable) { return ::EnableWindow(window, enable); }
BOOL WindowApi::ShowWindow(HWND window, int command) { return ::ShowWindow(window, command); }
BOOL WindowApi::IsIconic(HWND window) { return ::IsIconic(window); }
HMENU WindowApi::GetSystemMenu(HWND window, BOOL revert) { return ::GetSystemMenu(window, revert); }
BOOL WindowApi::AppendMenuA(HMENU menu, UINT flags, UINT_PTR id, LPCSTR text) {
    return ::AppendMenuA(menu, flags, id, text);
}
int WindowApi::LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int size) {
    return ::LoadStringA(instance, id, buffer, size);
}
HICON WindowApi::LoadIconA(HINSTANCE instance, LPCSTR name) { return ::LoadIconA(instance, name); }
BOOL WindowApi::MessageBeep(UINT type) { return ::MessageBeep(type); }
int WindowApi::GetSystemMetrics(int index) { return ::GetSystemMetrics(index); }
DWORD WindowApi::FormatMessageA(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId, LPSTR buffer,
                                DWORD size, va_list* arguments) {
    return ::FormatMessageA(flags, source, messageId, languageId, buffer, size, arguments);
}
HLOCAL WindowApi::LocalFree(HLOCAL memory) { return ::LocalFree(memory); }
HWINSTA WindowApi::GetProcessWindowStation() { return ::GetProcessWindowStation(); }
BOOL WindowApi::GetUserObjectInformationA(HANDLE object, int index, PVOID information, DWORD size, LPDWORD needed) {
    return ::GetUserObjectInformationA(object, index, information, size, needed);
}
BOOL WindowApi::ProcessIdToSessionId(DWORD processId, DWORD* sessionId) {
    using Function = BOOL(WINAPI*)(DWORD, DWORD*);
    static const Function call = LateBound<Function>("kernel32.dll", "ProcessIdToSessionId");
    return CallLateBound(call, FALSE, processId, sessionId);
}
DWORD WindowApi::MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds,
                                           DWORD wakeMask) {
    return ::MsgWaitForMultipleObjects(count, handles, waitAll, milliseconds, wakeMask);
}
BOOL WindowApi::PeekMessageA(LPMSG message, HWND window, UINT first, UINT last, UINT remove) {
    return ::PeekMessageA(message, window, first, last, remove);
}
HANDLE WindowApi::CreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stackSize, LPTHREAD_START_ROUTINE start,
                               LPVOID parameter, DWORD flags, LPDWORD threadId) {
    return ::CreateThread(security, stackSize, start, parameter, flags, threadId);
}
BOOL WindowApi::LookupPrivilegeValueA(LPCSTR system, LPCSTR name, PLUID luid) {
    return ::LookupPrivilegeValueA(system, name, luid);
}
BOOL WindowApi::AdjustTokenPrivileges(HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES state, DWORD size,
                                      PTOKEN_PRIVILEGES previous, PDWORD needed) {
    return ::AdjustTokenPrivileges(token, disableAll, state, size, previous, needed);
}
BOOL WindowApi::ExitWindowsEx(UINT flags, DWORD reason) { return ::ExitWindowsEx(flags, reason); }
HANDLE WindowApi::RegisterEventSourceA(LPCSTR server, LPCSTR source) { return ::RegisterEventSourceA(server, source); }
BOOL WindowApi::ReportEventA(HANDLE log, WORD type, WORD category, DWORD eventId, PSID user, WORD count, DWORD size,
                             LPCSTR* strings, LPVOID data) {
    return ::ReportEventA(log, type, category, eventId, user, count, size, strings, data);
}
BOOL WindowApi::DeregisterEventSource(HANDLE log) { return ::DeregisterEventSource(log); }
BOOL WindowApi::InitiateSystemShutdownExA(LPSTR machine, LPSTR message, DWORD timeout, BOOL forceAppsClosed,
                                          BOOL reboot, DWORD reason) {
    return ::InitiateSystemShutdownExA(machine, message, timeout, forceAppsClosed, reboot, reason);
}
BOOL ServiceApi::StartServiceA(SC_HANDLE service, DWORD count, LPCSTR* arguments) {
    return ::StartServiceA(service, count, arguments);
}

}  // namespace platform
