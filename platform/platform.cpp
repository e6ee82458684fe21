#include "platform/platform.h"

#include <share.h>

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

Platform& ProductionPlatform() {
    // Constructed on first use, so it exists for objects built during static
    // initialisation and outlives them.
    static Platform instance;
    return instance;
}

}  // namespace platform
