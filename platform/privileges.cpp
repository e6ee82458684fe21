#include "platform/privileges.h"

#include "platform/platform.h"

namespace platform {

EnabledPrivileges::EnabledPrivileges(Platform& os, std::initializer_list<const char*> names) : os_(os), token_(os) {
    HANDLE raw = nullptr;
    if (!os.OpenProcessToken(os.GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &raw)) {
        error_ = os.GetLastError();
        return;
    }
    token_.reset(raw);
    const DWORD count = static_cast<DWORD>(names.size());
    const size_t size = sizeof(TOKEN_PRIVILEGES) + (count > 0 ? count - 1 : 0) * sizeof(LUID_AND_ATTRIBUTES);
    std::vector<BYTE> wanted(size, 0);
    auto* privileges = reinterpret_cast<TOKEN_PRIVILEGES*>(wanted.data());
    privileges->PrivilegeCount = count;
    DWORD i = 0;
    for (const char* name : names) {
        if (!os.LookupPrivilegeValueA(nullptr, name, &privileges->Privileges[i].Luid)) {
            error_ = os.GetLastError();
            return;
        }
        privileges->Privileges[i++].Attributes = SE_PRIVILEGE_ENABLED;
    }
    previous_.assign(size, 0);
    DWORD needed = 0;
    os.SetLastError(ERROR_SUCCESS);
    if (!os.AdjustTokenPrivileges(token_.get(), FALSE, privileges, static_cast<DWORD>(size),
                                  reinterpret_cast<TOKEN_PRIVILEGES*>(previous_.data()), &needed)) {
        error_ = os.GetLastError();
        previous_.clear();
        return;
    }
    // Success that still holds ERROR_NOT_ALL_ASSIGNED: one is not held.
    error_ = os.GetLastError();
}

EnabledPrivileges::~EnabledPrivileges() {
    if (!token_ || previous_.empty()) return;
    os_.AdjustTokenPrivileges(token_.get(), FALSE, reinterpret_cast<TOKEN_PRIVILEGES*>(previous_.data()), 0, nullptr,
                              nullptr);
}

}  // namespace platform
