// Helpers shared by the MSI tool's test files.
#pragma once
#include <windows.h>

#include <string>

namespace msitool_testing {

// An upgrade code no product in the prefix carries.
const wchar_t kUnknownUpgradeCode[] = L"{D9E6E5A1-AF47-4BE9-BDA3-6120D14DB68E}";

inline std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }  // ASCII

inline std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) out += static_cast<char>(c);  // ASCII
    return out;
}

}  // namespace msitool_testing
