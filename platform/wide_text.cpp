#include "platform/wide_text.h"

#include <cwctype>
#include <vector>

#include "platform/platform.h"

namespace platform {

std::wstring WideText(Platform& os, const std::string& text) {
    if (text.empty()) return std::wstring();
    const int size = os.MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    if (size <= 1) return std::wstring();
    std::vector<wchar_t> wide(static_cast<size_t>(size));
    if (os.MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), size) != size) return std::wstring();
    return wide.data();
}

std::string NarrowText(Platform& os, const std::wstring& text) {
    if (text.empty()) return std::string();
    const int size = os.WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return std::string();
    std::vector<char> narrow(static_cast<size_t>(size));
    os.WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, narrow.data(), size, nullptr, nullptr);
    return narrow.data();
}

std::wstring UpperWide(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towupper(c));
    return text;
}

}  // namespace platform
