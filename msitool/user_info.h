// The rights test of the MSI tool.
#pragma once
#include <windows.h>

namespace platform { class Platform; }

class UserInfo {
public:
    explicit UserInfo(platform::Platform& os) : os_(os) {}
    virtual ~UserInfo() = default;

    // True when the token (the thread's, else the process's) holds the local
    // Administrators group enabled, or on Windows 6 and later also as a
    // deny-only group (an administrator running without elevation).
    bool IsAdministrator();
    // The same test against the local Guests group.
    bool IsGuest();
    // IsAdministrator; when it is false and report is set, the privileges
    // error goes to the standard error handle.
    bool CheckAdministrator(bool report);
    // From GetVersionExW; 0 when it fails.
    DWORD GetWindowsMajorVersion();

private:
    bool HasGroup(DWORD aliasRid);
    platform::Platform& os_;
};
