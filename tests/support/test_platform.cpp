#include "tests/support/test_platform.h"

#include <fstream>
#include <sstream>

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
