#include "tests/support/machine_picture.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "platform/handles.h"
#include "tests/support/test_platform.h"

namespace testing_support {

namespace {

std::string TimeText(const FILETIME& time) {
    return std::to_string((static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
}

bool Skipped(const std::string& upperName, const PictureRules& rules) {
    for (const std::string& skipped : rules.skipped) {
        if (upperName == skipped || upperName.compare(0, skipped.size() + 1, skipped + "\\") == 0) return true;
    }
    return false;
}

}  // namespace

std::string Hex(const BYTE* data, DWORD size) {
    std::string text;
    char byte[4];
    for (DWORD i = 0; i < size; ++i) {
        std::snprintf(byte, sizeof byte, "%02x", data[i]);
        text += byte;
    }
    return text;
}

std::string KeyName(const std::string& key, REGSAM view) {
    const std::string upper = Upper(key);
    if (upper.compare(0, 17, "HKEY_CURRENT_USER") == 0) return upper;
    return upper + (view == KEY_WOW64_64KEY ? " (64-bit view)" : " (32-bit view)");
}

void ExportKey(HKEY root, const std::string& rootName, const std::string& path, REGSAM view, Picture& picture,
               const PictureRules& rules) {
    const std::string full = Upper(rootName + "\\" + path);
    if (Skipped(full, rules)) return;
    platform::RegKey key;
    if (::RegOpenKeyExA(root, path.c_str(), 0, KEY_READ | view, key.put()) != ERROR_SUCCESS) return;
    const std::string name = KeyName(full, view);
    FILETIME written = {};
    ::RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                       nullptr, &written);
    picture["key " + name] = rules.parentTimes ? TimeText(written) : std::string();
    std::vector<char> valueName(16384);
    std::vector<BYTE> data(1 << 16);
    for (DWORD i = 0;; ++i) {
        DWORD nameSize = static_cast<DWORD>(valueName.size()), size = static_cast<DWORD>(data.size()), type = 0;
        if (::RegEnumValueA(key.get(), i, valueName.data(), &nameSize, nullptr, &type, data.data(), &size) !=
            ERROR_SUCCESS) {
            break;
        }
        if (Skipped(full + "\\" + Upper(valueName.data()), rules)) continue;
        picture["value " + name + " : " + Upper(valueName.data())] = std::to_string(type) + " " + Hex(data.data(), size);
    }
    std::vector<std::string> children;
    char child[256];
    for (DWORD i = 0;; ++i) {
        DWORD size = sizeof child;
        if (::RegEnumKeyExA(key.get(), i, child, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        children.push_back(child);
    }
    for (const std::string& c : children) {
        ExportKey(root, rootName, path.empty() ? c : path + "\\" + c, view, picture, rules);
    }
}

void ListFiles(const std::string& path, Picture& picture, const PictureRules& rules) {
    const std::string upper = Upper(path);
    if (Skipped(upper, rules)) return;
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return;
    const bool folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    std::string what = std::to_string(data.dwFileAttributes);
    if (!folder || rules.parentTimes) {
        what += " " + std::to_string(data.nFileSizeLow) + " " + TimeText(data.ftCreationTime) + " " +
                TimeText(data.ftLastWriteTime);
    }
    picture["file " + upper] = what;
    if (!folder || (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) return;
    std::vector<std::string> names;
    WIN32_FIND_DATAA found = {};
    platform::FindHandle find(::FindFirstFileA((path + "\\*").c_str(), &found));
    for (bool more = static_cast<bool>(find); more; more = ::FindNextFileA(find.get(), &found) != FALSE) {
        if (std::strcmp(found.cFileName, ".") != 0 && std::strcmp(found.cFileName, "..") != 0) {
            names.push_back(found.cFileName);
        }
    }
    for (const std::string& name : names) ListFiles(path + "\\" + name, picture, rules);
}

std::string Differences(const Picture& before, const Picture& after) {
    std::string text;
    for (const auto& entry : before) {
        auto it = after.find(entry.first);
        if (it == after.end() || it->second != entry.second) text += "- " + entry.first + " = " + entry.second + "\n";
    }
    for (const auto& entry : after) {
        auto it = before.find(entry.first);
        if (it == before.end() || it->second != entry.second) text += "+ " + entry.first + " = " + entry.second + "\n";
    }
    return text;
}

}  // namespace testing_support
