// The thin layer over the Windows functions. Engine code reaches the system
// only through a Platform, so tests can replace single calls with faults that
// Wine cannot produce, and record pauses instead of waiting.
//
// Every method keeps the Win32 name and shape of the call it forwards to and
// returns what that call returned; nothing throws across this layer.
#pragma once
#include <windows.h>

#include <cstdio>
#include <ctime>

namespace platform {

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
    virtual DWORD GetTickCount();
    virtual BOOL QueryPerformanceCounter(LARGE_INTEGER* count);
    virtual BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency);
    // Seconds since 1970 (the C runtime's time()).
    virtual std::time_t Time();
    virtual DWORD GetCurrentThreadId();
    virtual void Sleep(DWORD milliseconds);

    virtual void InitializeCriticalSection(LPCRITICAL_SECTION section);
    virtual void EnterCriticalSection(LPCRITICAL_SECTION section);
    virtual void LeaveCriticalSection(LPCRITICAL_SECTION section);
    virtual void DeleteCriticalSection(LPCRITICAL_SECTION section);

    virtual DWORD GetLastError();
    virtual void SetLastError(DWORD code);

    virtual DWORD GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size);
    virtual DWORD ExpandEnvironmentStringsA(LPCSTR source, LPSTR buffer, DWORD size);

    virtual int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
    virtual void DebugBreak();
    virtual void ExitProcess(UINT code);
};

// Files and folders.
class FileApi {
public:
    virtual ~FileApi() = default;

    virtual DWORD GetFileAttributesA(LPCSTR path);
    virtual BOOL SetFileAttributesA(LPCSTR path, DWORD attributes);
    virtual BOOL CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES security);
    virtual BOOL DeleteFileA(LPCSTR path);
    virtual BOOL RemoveDirectoryA(LPCSTR path);
    // A C runtime stream opened with others allowed to read and write the
    // file (_fsopen with _SH_DENYNO); null on failure with errno set.
    virtual std::FILE* OpenSharedStream(const char* path, const char* mode);
};

class Platform : public SystemApi, public FileApi {
public:
    ~Platform() override = default;
};

// The production platform: every call goes to Windows.
Platform& ProductionPlatform();

}  // namespace platform
