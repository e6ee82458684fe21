#include "tests/support/registry_setup.h"

#include <utility>

#include "platform/handles.h"

namespace testing_support {

namespace {

LSTATUS Open(HKEY root, const std::string& path, const std::string& relative, REGSAM view, platform::RegKey& key) {
    LSTATUS rc = ::RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, key.put(),
                                   nullptr);
    for (size_t from = 0; rc == ERROR_SUCCESS && from < relative.size();) {
        size_t end = relative.find('\\', from);
        if (end == std::string::npos) end = relative.size();
        platform::RegKey below;
        rc = ::RegCreateKeyExA(key.get(), relative.substr(from, end - from).c_str(), 0, nullptr, 0,
                               KEY_ALL_ACCESS | view, nullptr, below.put(), nullptr);
        key = std::move(below);
        from = end + 1;
    }
    return rc;
}

}  // namespace

LSTATUS MakeRegistryKey(HKEY root, const std::string& path, const std::string& relative, REGSAM view) {
    platform::RegKey key;
    return Open(root, path, relative, view, key);
}

LSTATUS SetRegistryValue(HKEY root, const std::string& path, const std::string& relative, const std::string& name,
                         DWORD type, const void* data, DWORD size, REGSAM view) {
    platform::RegKey key;
    const LSTATUS rc = Open(root, path, relative, view, key);
    if (rc != ERROR_SUCCESS) return rc;
    return ::RegSetValueExA(key.get(), name.c_str(), 0, type, static_cast<const BYTE*>(data), size);
}

bool RegistryKeyExists(HKEY root, const std::string& path, REGSAM view) {
    platform::RegKey key;
    return ::RegOpenKeyExA(root, path.c_str(), 0, KEY_READ | view, key.put()) == ERROR_SUCCESS;
}

bool RegistryValueExists(HKEY root, const std::string& path, const std::string& name, REGSAM view) {
    platform::RegKey key;
    return ::RegOpenKeyExA(root, path.c_str(), 0, KEY_READ | view, key.put()) == ERROR_SUCCESS &&
           ::RegQueryValueExA(key.get(), name.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

void DeleteRegistryTree(HKEY root, const std::string& path, REGSAM view) {
    {
        platform::RegKey key;
        if (::RegOpenKeyExA(root, path.c_str(), 0, KEY_ALL_ACCESS | view, key.put()) != ERROR_SUCCESS) return;
        ::RegDeleteTreeA(key.get(), nullptr);
    }
    ::RegDeleteKeyExA(root, path.c_str(), view, 0);
}

}  // namespace testing_support
