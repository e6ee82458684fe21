#include "tests/support/test_key.h"

#include <gtest/gtest.h>
#include <sddl.h>

#include <utility>
#include <vector>

#include "tests/support/registry_setup.h"

namespace testing_support {

namespace {

bool Reported(LSTATUS rc, const std::string& what) {
    if (rc != ERROR_SUCCESS) ADD_FAILURE() << "cannot " << what << ": error " << rc;
    return rc == ERROR_SUCCESS;
}

}  // namespace

bool CreateKey(HKEY root, const std::string& path, REGSAM view) {
    return Reported(MakeRegistryKey(root, path, "", view), "create " + path);
}

bool SetValue(HKEY root, const std::string& path, const std::string& name, DWORD type, const void* data, DWORD size,
              REGSAM view) {
    return Reported(SetRegistryValue(root, path, "", name, type, data, size, view), "set " + path + " : " + name);
}

bool SetText(HKEY root, const std::string& path, const std::string& name, const std::string& text, REGSAM view) {
    return SetValue(root, path, name, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1), view);
}

bool KeyExists(HKEY root, const std::string& path, REGSAM view) { return RegistryKeyExists(root, path, view); }

bool ValueExists(HKEY root, const std::string& path, const std::string& name, REGSAM view) {
    return RegistryValueExists(root, path, name, view);
}

void DeleteKeyTree(HKEY root, const std::string& path) {
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) DeleteRegistryTree(root, path, view);
}

TestKey::TestKey(HKEY root, std::string path) : root_(root), path_(std::move(path)) {
    Delete();
    // A key an earlier run left and that cannot go would make every check of
    // what a step removed pass or fail for the wrong reason.
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
        if (KeyExists(root_, path_, view)) ADD_FAILURE() << path_ << " is left from before and cannot be deleted";
    }
}

TestKey::~TestKey() { Delete(); }

std::string TestKey::Below(const std::string& relative) const {
    return relative.empty() ? path_ : path_ + "\\" + relative;
}

bool TestKey::Create(const std::string& relative, REGSAM view) const {
    return Reported(MakeRegistryKey(root_, path_, relative, view), "create " + Below(relative));
}

bool TestKey::Set(const std::string& relative, const std::string& name, DWORD type, const void* data, DWORD size,
                  REGSAM view) const {
    return Reported(SetRegistryValue(root_, path_, relative, name, type, data, size, view),
                    "set " + Below(relative) + " : " + name);
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

std::string UserSid() {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return std::string();
    std::vector<BYTE> user(512);
    DWORD size = 0;
    const BOOL read = ::GetTokenInformation(token, TokenUser, user.data(), static_cast<DWORD>(user.size()), &size);
    ::CloseHandle(token);
    char* text = nullptr;
    if (!read || !::ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &text)) {
        return std::string();
    }
    const std::string sid = text;
    ::LocalFree(text);
    return sid;
}

KeyLink::KeyLink(HKEY root, const std::string& path, const std::string& target) : root_(root), path_(path) {
    const std::string native =
        (root == HKEY_LOCAL_MACHINE ? std::string("\\Registry\\Machine\\") : "\\Registry\\User\\" + UserSid() + "\\") +
        target;
    const std::wstring wide(native.begin(), native.end());
    HKEY link = nullptr;
    DWORD disposition = 0;
    if (!Reported(::RegCreateKeyExA(root, path.c_str(), 0, nullptr, REG_OPTION_CREATE_LINK,
                                    KEY_ALL_ACCESS | KEY_CREATE_LINK | KEY_WOW64_64KEY, nullptr, &link, &disposition),
                  "create the link " + path)) {
        return;
    }
    Reported(::RegSetValueExW(link, L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE*>(wide.c_str()),
                              static_cast<DWORD>(wide.size() * sizeof(wchar_t))),
             "point the link " + path);
    ::RegCloseKey(link);
}

KeyLink::~KeyLink() {
    // Deleted as itself: a deletion by name would take the target.
    using DeleteKey = LONG(WINAPI*)(HANDLE);
    const auto deleteKey = reinterpret_cast<DeleteKey>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "NtDeleteKey")));
    HKEY link = nullptr;
    if (deleteKey && ::RegOpenKeyExA(root_, path_.c_str(), REG_OPTION_OPEN_LINK, DELETE | KEY_WOW64_64KEY, &link) ==
                         ERROR_SUCCESS) {
        if (deleteKey(link) != 0) ADD_FAILURE() << "cannot delete the link " << path_;
        ::RegCloseKey(link);
    }
}

}  // namespace testing_support
