#include "tests/support/test_key.h"

#include <gtest/gtest.h>

#include <utility>

#include "platform/handles.h"

namespace testing_support {

namespace {

// Opens (creating) relative below root\path in view: the path first, then
// each name of the relative part below the key before it.
bool Open(HKEY root, const std::string& path, const std::string& relative, REGSAM view, platform::RegKey& key) {
    LSTATUS rc = ::RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, key.put(),
                                   nullptr);
    // One name at a time: a relative path may be longer than a call takes.
    for (size_t from = 0; rc == ERROR_SUCCESS && from < relative.size();) {
        size_t end = relative.find('\\', from);
        if (end == std::string::npos) end = relative.size();
        platform::RegKey below;
        rc = ::RegCreateKeyExA(key.get(), relative.substr(from, end - from).c_str(), 0, nullptr, 0,
                               KEY_ALL_ACCESS | view, nullptr, below.put(), nullptr);
        key = std::move(below);
        from = end + 1;
    }
    if (rc != ERROR_SUCCESS) ADD_FAILURE() << "cannot create " << path << "\\" << relative << ": error " << rc;
    return rc == ERROR_SUCCESS;
}

bool SetIn(HKEY key, const std::string& name, DWORD type, const void* data, DWORD size) {
    const LSTATUS rc = ::RegSetValueExA(key, name.c_str(), 0, type, static_cast<const BYTE*>(data), size);
    if (rc != ERROR_SUCCESS) ADD_FAILURE() << "cannot set " << name << ": error " << rc;
    return rc == ERROR_SUCCESS;
}

bool Readable(HKEY root, const std::string& path, REGSAM view, platform::RegKey& key) {
    return ::RegOpenKeyExA(root, path.c_str(), 0, KEY_READ | view, key.put()) == ERROR_SUCCESS;
}

}  // namespace

bool CreateKey(HKEY root, const std::string& path, REGSAM view) {
    platform::RegKey key;
    return Open(root, path, "", view, key);
}

bool SetValue(HKEY root, const std::string& path, const std::string& name, DWORD type, const void* data, DWORD size,
              REGSAM view) {
    platform::RegKey key;
    return Open(root, path, "", view, key) && SetIn(key.get(), name, type, data, size);
}

bool SetText(HKEY root, const std::string& path, const std::string& name, const std::string& text, REGSAM view) {
    return SetValue(root, path, name, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1), view);
}

bool KeyExists(HKEY root, const std::string& path, REGSAM view) {
    platform::RegKey key;
    return Readable(root, path, view, key);
}

bool ValueExists(HKEY root, const std::string& path, const std::string& name, REGSAM view) {
    platform::RegKey key;
    return Readable(root, path, view, key) &&
           ::RegQueryValueExA(key.get(), name.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

void DeleteKeyTree(HKEY root, const std::string& path) {
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
        {
            platform::RegKey key;
            if (::RegOpenKeyExA(root, path.c_str(), 0, KEY_ALL_ACCESS | view, key.put()) != ERROR_SUCCESS) continue;
            ::RegDeleteTreeA(key.get(), nullptr);
        }
        ::RegDeleteKeyExA(root, path.c_str(), view, 0);
    }
}

TestKey::TestKey(HKEY root, std::string path) : root_(root), path_(std::move(path)) { Delete(); }

TestKey::~TestKey() { Delete(); }

std::string TestKey::Below(const std::string& relative) const {
    return relative.empty() ? path_ : path_ + "\\" + relative;
}

bool TestKey::Create(const std::string& relative, REGSAM view) const {
    platform::RegKey key;
    return Open(root_, path_, relative, view, key);
}

bool TestKey::Set(const std::string& relative, const std::string& name, DWORD type, const void* data, DWORD size,
                  REGSAM view) const {
    platform::RegKey key;
    return Open(root_, path_, relative, view, key) && SetIn(key.get(), name, type, data, size);
}

bool TestKey::SetText(const std::string& relative, const std::string& name, const std::string& text,
                      REGSAM view) const {
    return Set(relative, name, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1), view);
}

bool TestKey::SetDword(const std::string& relative, const std::string& name, DWORD data, REGSAM view) const {
    return Set(relative, name, REG_DWORD, &data, sizeof data, view);
}

bool TestKey::Exists(const std::string& relative, REGSAM view) const { return KeyExists(root_, Below(relative), view); }

bool TestKey::HasValue(const std::string& relative, const std::string& name, REGSAM view) const {
    return ValueExists(root_, Below(relative), name, view);
}

}  // namespace testing_support
