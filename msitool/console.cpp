#include "msitool/console.h"

#include <cstdarg>
#include <cwchar>

#include "platform/platform.h"

void WriteStandardText(platform::Platform& os, DWORD which, const std::wstring& text) {
    const HANDLE handle = os.GetStdHandle(which);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE || text.empty()) return;
    DWORD mode = 0;
    DWORD written = 0;
    if (os.GetConsoleMode(handle, &mode)) {
        os.WriteConsoleW(handle, text.c_str(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    const int wideLength = static_cast<int>(text.size());
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), wideLength, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return;
    std::string utf8(static_cast<size_t>(bytes), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), wideLength, &utf8[0], bytes, nullptr, nullptr);
    os.WriteFile(handle, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

std::wstring FormatConsoleText(const wchar_t* format, ...) {
    wchar_t buffer[2000] = {};
    va_list arguments;
    va_start(arguments, format);
    const int length = std::vswprintf(buffer, 2000, format, arguments);
    va_end(arguments);
    return length < 0 ? std::wstring() : std::wstring(buffer, static_cast<size_t>(length));
}
