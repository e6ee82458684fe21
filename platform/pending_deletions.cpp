#include "platform/pending_deletions.h"

#include <cctype>

namespace platform {

bool PendingDeletionName(const std::string& path, std::wstring& ntName) {
    ntName.clear();
    if (path.size() <= 3 || path.size() >= MAX_PATH) return false;  // a drive's root is never deleted
    if (!std::isalpha(static_cast<unsigned char>(path[0])) || path[1] != ':' || path[2] != '\\') return false;
    if (path.find('/') != std::string::npos) return false;
    // Every part a name of its own: no empty, "." or ".." part, and no part
    // that Windows would trim (trailing dots and spaces).
    for (size_t from = 3; from <= path.size();) {
        size_t end = path.find('\\', from);
        if (end == std::string::npos) end = path.size();
        const std::string part = path.substr(from, end - from);
        if (part.empty() || part.back() == '.' || part.back() == ' ') return false;
        from = end + 1;
    }
    const int size = static_cast<int>(path.size());
    const int length = ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path.data(), size, nullptr, 0);
    if (length <= 0) return false;
    std::wstring wide(static_cast<size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path.data(), size, &wide[0], length);
    // Back again to the same bytes, or the code page reads it otherwise.
    BOOL defaulted = FALSE;
    if (::WideCharToMultiByte(CP_ACP, 0, wide.data(), length, nullptr, 0, nullptr, nullptr) != size) return false;
    std::string again(path.size(), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, wide.data(), length, &again[0], size, nullptr, &defaulted);
    if (defaulted || again != path) return false;
    ntName = L"\\??\\" + wide;
    return true;
}

bool AppendPendingDeletions(std::vector<wchar_t>& value, const std::vector<std::wstring>& ntNames) {
    std::vector<wchar_t> list = value;
    if (!list.empty()) {
        // The list's closing empty string goes, and comes back at its end.
        if (list.back() != L'\0') return false;
        list.pop_back();
        size_t strings = 0;
        for (size_t at = 0; at < list.size(); ++at) {
            if (list[at] == L'\0') ++strings;
        }
        if (!list.empty() && list.back() != L'\0') return false;
        // An odd number of strings: a pair without its target, which a pair
        // appended after it would complete. Nothing is added to such a list.
        if (strings % 2 != 0) return false;
    }
    for (const std::wstring& name : ntNames) {
        list.insert(list.end(), name.begin(), name.end());
        list.push_back(L'\0');
        list.push_back(L'\0');  // the empty target of a deletion
    }
    list.push_back(L'\0');
    value.swap(list);
    return true;
}

}  // namespace platform
