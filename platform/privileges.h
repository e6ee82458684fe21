// Privileges of the process's token, enabled for as long as the object
// lives and then set back as they were: the backup and restore privileges
// while a user's hive is loaded, the ownership privilege while an owner is
// taken.
#pragma once
#include <windows.h>

#include <initializer_list>
#include <vector>

#include "platform/handles.h"

namespace platform {

class Platform;

class EnabledPrivileges {
public:
    EnabledPrivileges(Platform& os, std::initializer_list<const char*> names);
    ~EnabledPrivileges();
    EnabledPrivileges(const EnabledPrivileges&) = delete;
    EnabledPrivileges& operator=(const EnabledPrivileges&) = delete;

    // True when every one asked for is enabled; else the error (1300,
    // ERROR_NOT_ALL_ASSIGNED, when the account does not hold one).
    bool Enabled() const { return error_ == ERROR_SUCCESS; }
    DWORD Error() const { return error_; }

private:
    Platform& os_;
    ObjectHandle token_;
    std::vector<BYTE> previous_;  // a TOKEN_PRIVILEGES as they were
    DWORD error_ = ERROR_SUCCESS;
};

}  // namespace platform
