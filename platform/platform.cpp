#include "platform/platform.h"

#include <io.h>
#include <share.h>
#include <shlobj.h>
#include <shlwapi.h>

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
DWORD SystemApi::GetTickCount() { return ::GetTickCount(); }
BOOL SystemApi::QueryPerformanceCounter(LARGE_INTEGER* count) { return ::QueryPerformanceCounter(count); }
BOOL SystemApi::QueryPerformanceFrequency(LARGE_INTEGER* frequency) {
    return ::QueryPerformanceFrequency(frequency);
}
std::time_t SystemApi::Time() { return std::time(nullptr); }
DWORD SystemApi::GetCurrentThreadId() { return ::GetCurrentThreadId(); }
void SystemApi::Sleep(DWORD milliseconds) { ::Sleep(milliseconds); }
void SystemApi::InitializeCriticalSection(LPCRITICAL_SECTION section) { ::InitializeCriticalSection(section); }
void SystemApi::EnterCriticalSection(LPCRITICAL_SECTION section) { ::EnterCriticalSection(section); }
void SystemApi::LeaveCriticalSection(LPCRITICAL_SECTION section) { ::LeaveCriticalSection(section); }
void SystemApi::DeleteCriticalSection(LPCRITICAL_SECTION section) { ::DeleteCriticalSection(section); }
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

DWORD FileApi::GetFileAttributesA(LPCSTR path) { return ::GetFileAttributesA(path); }
BOOL FileApi::SetFileAttributesA(LPCSTR path, DWORD attributes) { return ::SetFileAttributesA(path, attributes); }
BOOL FileApi::CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES security) {
    return ::CreateDirectoryA(path, security);
}
BOOL FileApi::DeleteFileA(LPCSTR path) { return ::DeleteFileA(path); }
BOOL FileApi::RemoveDirectoryA(LPCSTR path) { return ::RemoveDirectoryA(path); }
std::FILE* FileApi::OpenSharedStream(const char* path, const char* mode) {
    return ::_fsopen(path, mode, _SH_DENYNO);
}

int FileApi::Access(const char* path, int mode) { return ::_access(path, mode); }
HANDLE FileApi::FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA data) { return ::FindFirstFileA(pattern, data); }
BOOL FileApi::FindNextFileA(HANDLE find, LPWIN32_FIND_DATAA data) { return ::FindNextFileA(find, data); }
BOOL FileApi::FindClose(HANDLE find) { return ::FindClose(find); }
UINT FileApi::GetWindowsDirectoryA(LPSTR buffer, UINT size) { return ::GetWindowsDirectoryA(buffer, size); }
UINT FileApi::GetSystemDirectoryA(LPSTR buffer, UINT size) { return ::GetSystemDirectoryA(buffer, size); }

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
LSTATUS RegistryApi::RegDeleteValueA(HKEY key, LPCSTR name) { return ::RegDeleteValueA(key, name); }
LSTATUS RegistryApi::RegDeleteKeyA(HKEY root, LPCSTR subKey) { return ::RegDeleteKeyA(root, subKey); }
DWORD RegistryApi::SHGetValueA(HKEY root, LPCSTR subKey, LPCSTR value, LPDWORD type, LPVOID data, LPDWORD size) {
    return ::SHGetValueA(root, subKey, value, type, data, size);
}

BOOL ShellApi::SHGetSpecialFolderPathA(HWND owner, LPSTR path, int folder, BOOL create) {
    return ::SHGetSpecialFolderPathA(owner, path, folder, create);
}
BOOL ShellApi::GetUserNameA(LPSTR buffer, LPDWORD size) { return ::GetUserNameA(buffer, size); }
LPSTR ShellApi::PathFindFileNameA(LPCSTR path) { return ::PathFindFileNameA(path); }

SC_HANDLE ServiceApi::OpenSCManagerA(LPCSTR machine, LPCSTR database, DWORD access) {
    return ::OpenSCManagerA(machine, database, access);
}
BOOL ServiceApi::EnumServicesStatusA(SC_HANDLE manager, DWORD type, DWORD state, LPENUM_SERVICE_STATUSA services,
                                      DWORD size, LPDWORD needed, LPDWORD count, LPDWORD resume) {
    return ::EnumServicesStatusA(manager, type, state, services, size, needed, count, resume);
}
BOOL ServiceApi::CloseServiceHandle(SC_HANDLE handle) { return ::CloseServiceHandle(handle); }

HANDLE ProcessApi::CreateToolhelp32Snapshot(DWORD flags, DWORD processId) {
    return ::CreateToolhelp32Snapshot(flags, processId);
}
BOOL ProcessApi::Process32First(HANDLE snapshot, LPPROCESSENTRY32 entry) { return ::Process32First(snapshot, entry); }
BOOL ProcessApi::Process32Next(HANDLE snapshot, LPPROCESSENTRY32 entry) { return ::Process32Next(snapshot, entry); }
BOOL ProcessApi::CloseHandle(HANDLE handle) { return ::CloseHandle(handle); }

Platform& ProductionPlatform() {
    // Constructed on first use, so it exists for objects built during static
    // initialisation and outlives them.
    static Platform instance;
    return instance;
}

}  // namespace platform
