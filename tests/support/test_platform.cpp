#include "tests/support/test_platform.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <fstream>
#include <sstream>

#include "platform/handles.h"

#include <vector>

namespace testing_support {

void TestPlatform::OutputDebugStringA(LPCSTR text) {
    std::lock_guard<std::mutex> lock(mutex_);
    debugOutput_ += text ? text : "";
}

std::string TestPlatform::DebugOutput() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return debugOutput_;
}

void TestPlatform::ClearDebugOutput() {
    std::lock_guard<std::mutex> lock(mutex_);
    debugOutput_.clear();
}

void TestPlatform::Sleep(DWORD milliseconds) { sleeps.push_back(milliseconds); }

int TestPlatform::MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT type) {
    boxes.push_back({text ? text : "", caption ? caption : "", type});
    return messageBoxAnswer;
}

void TestPlatform::GetLocalTime(LPSYSTEMTIME time) {
    if (localTime) {
        localTime(time);
    } else {
        Platform::GetLocalTime(time);
    }
}

DWORD TestPlatform::GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) {
    return moduleFileName ? moduleFileName(module, buffer, size) : Platform::GetModuleFileNameA(module, buffer, size);
}

std::time_t TestPlatform::Time() { return now ? now() : Platform::Time(); }

REGSAM TestPlatform::DefaultView(REGSAM sam) {
#ifdef _WIN64
    if (!(sam & (KEY_WOW64_64KEY | KEY_WOW64_32KEY))) sam |= KEY_WOW64_32KEY;
#endif
    return sam;
}

LSTATUS TestPlatform::RegOpenKeyExA(HKEY root, LPCSTR subKey, DWORD options, REGSAM sam, PHKEY key) {
    return Platform::RegOpenKeyExA(root, subKey, options, DefaultView(sam), key);
}

LSTATUS TestPlatform::RegCreateKeyExA(HKEY root, LPCSTR subKey, DWORD reserved, LPSTR keyClass, DWORD options,
                                      REGSAM sam, LPSECURITY_ATTRIBUTES security, PHKEY key, LPDWORD disposition) {
    return Platform::RegCreateKeyExA(root, subKey, reserved, keyClass, options, DefaultView(sam), security, key,
                                     disposition);
}

LSTATUS TestPlatform::RegDeleteKeyA(HKEY root, LPCSTR subKey) {
#ifdef _WIN64
    return ::RegDeleteKeyExA(root, subKey, KEY_WOW64_32KEY, 0);
#else
    return Platform::RegDeleteKeyA(root, subKey);
#endif
}

DWORD TestPlatform::SHGetValueA(HKEY root, LPCSTR subKey, LPCSTR value, LPDWORD type, LPVOID data, LPDWORD size) {
#ifdef _WIN64
    HKEY key = nullptr;
    LSTATUS rc = ::RegOpenKeyExA(root, subKey, 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY, &key);
    if (rc != ERROR_SUCCESS) return static_cast<DWORD>(rc);
    rc = ::SHQueryValueExA(key, value, nullptr, type, data, size);
    ::RegCloseKey(key);
    return static_cast<DWORD>(rc);
#else
    return Platform::SHGetValueA(root, subKey, value, type, data, size);
#endif
}

BOOL TestPlatform::SHGetSpecialFolderPathA(HWND owner, LPSTR path, int folder, BOOL create) {
#ifdef _WIN64
    if (folder == CSIDL_PROGRAM_FILES) folder = CSIDL_PROGRAM_FILESX86;
    if (folder == CSIDL_SYSTEM) folder = CSIDL_SYSTEMX86;
#endif
    return Platform::SHGetSpecialFolderPathA(owner, path, folder, create);
}

UINT TestPlatform::GetSystemDirectoryA(LPSTR buffer, UINT size) {
#ifdef _WIN64
    return ::GetSystemWow64DirectoryA(buffer, size);
#else
    return Platform::GetSystemDirectoryA(buffer, size);
#endif
}

DWORD TestPlatform::SHDeleteValueA(HKEY root, LPCSTR subKey, LPCSTR value) {
#ifdef _WIN64
    platform::RegKey key;
    LSTATUS rc = ::RegOpenKeyExA(root, subKey, 0, KEY_SET_VALUE | KEY_WOW64_32KEY, key.put());
    if (rc != ERROR_SUCCESS) return static_cast<DWORD>(rc);
    return static_cast<DWORD>(::RegDeleteValueA(key.get(), value));
#else
    return Platform::SHDeleteValueA(root, subKey, value);
#endif
}

DWORD TestPlatform::SHDeleteEmptyKeyA(HKEY root, LPCSTR subKey) {
#ifdef _WIN64
    DWORD subkeys = 0;
    DWORD values = 0;
    {
        platform::RegKey key;
        LSTATUS rc = ::RegOpenKeyExA(root, subKey, 0, KEY_READ | KEY_WOW64_32KEY, key.put());
        if (rc != ERROR_SUCCESS) return static_cast<DWORD>(rc);
        rc = ::RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                                nullptr, nullptr, nullptr);
        if (rc != ERROR_SUCCESS) return static_cast<DWORD>(rc);
    }
    if (subkeys != 0 || values != 0) return ERROR_KEY_HAS_CHILDREN;
    return static_cast<DWORD>(::RegDeleteKeyExA(root, subKey, KEY_WOW64_32KEY, 0));
#else
    return Platform::SHDeleteEmptyKeyA(root, subKey);
#endif
}

BOOL TestPlatform::IsWow64Process(HANDLE process, PBOOL wow64Flag) {
    if (!hasIsWow64Process) {
        ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return FALSE;
    }
#ifdef _WIN64
    // The process the tests stand for is a 32-bit one.
    (void)process;
    if (wow64Flag) *wow64Flag = wow64 ? TRUE : FALSE;
    return TRUE;
#else
    BOOL ok = Platform::IsWow64Process(process, wow64Flag);
    if (ok && !wow64 && wow64Flag) *wow64Flag = FALSE;
    return ok;
#endif
}

bool TestPlatform::HasIsWow64Process() { return hasIsWow64Process && Platform::HasIsWow64Process(); }

LSTATUS TestPlatform::RegDeleteKeyExA(HKEY key, LPCSTR subKey, REGSAM sam, DWORD reserved) {
    if (!hasRegDeleteKeyExA) return ERROR_CALL_NOT_IMPLEMENTED;
    return Platform::RegDeleteKeyExA(key, subKey, sam, reserved);
}

bool TestPlatform::HasRegDeleteKeyExA() { return hasRegDeleteKeyExA && Platform::HasRegDeleteKeyExA(); }

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteWholeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

bool PathExists(const std::string& path) { return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

DWORD RunAndWait(const std::string& commandLine, DWORD timeoutMs) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    if (!::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                          &info)) {
        return ~0u;
    }
    platform::ObjectHandle process(info.hProcess), thread(info.hThread);
    if (::WaitForSingleObject(process.get(), timeoutMs) != WAIT_OBJECT_0) return ~0u;
    DWORD code = ~0u;
    ::GetExitCodeProcess(process.get(), &code);
    return code;
}

bool RunningOnWine() {
    HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::string ProgramFolder() {
    char path[MAX_PATH] = {};
    DWORD n = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string p(path, n);
    return p.substr(0, p.find_last_of('\\') + 1);
}

}  // namespace testing_support
