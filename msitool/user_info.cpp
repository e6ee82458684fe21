#include "msitool/user_info.h"

#include <memory>
#include <new>

#include "msitool/console.h"
#include "platform/handles.h"
#include "platform/platform.h"

namespace {

const wchar_t kPrivilegesError[] =
    L"Initialization Error: Insufficient privileges.\n"
    L"This tool needs to be run with administrative rights.\n"
    L"Please log in as an administrator or use the 'Run as...'\n"
    L"functionality to run the tool with administrative rights.\n";

}  // namespace

DWORD UserInfo::GetWindowsMajorVersion() {
    OSVERSIONINFOW info = {};
    info.dwOSVersionInfoSize = sizeof info;
    return os_.GetVersionExW(&info) ? info.dwMajorVersion : 0;
}

bool UserInfo::HasGroup(DWORD aliasRid) {
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    platform::AllocatedSid group(os_);
    if (!os_.AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, aliasRid, 0, 0, 0, 0, 0, 0,
                                      group.put())) {
        return false;
    }
    platform::ObjectHandle token(os_);
    if (!os_.OpenThreadToken(os_.GetCurrentThread(), TOKEN_QUERY, TRUE, token.put()) &&
        !os_.OpenProcessToken(os_.GetCurrentProcess(), TOKEN_QUERY, token.put())) {
        return false;
    }
    DWORD size = 0;
    os_.GetTokenInformation(token.get(), TokenGroups, nullptr, 0, &size);
    if (size == 0) return false;
    std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[size]);
    if (!buffer || !os_.GetTokenInformation(token.get(), TokenGroups, buffer.get(), size, &size)) return false;

    const auto* groups = reinterpret_cast<const TOKEN_GROUPS*>(buffer.get());
    const bool denyOnlyCounts = GetWindowsMajorVersion() >= 6;
    for (DWORD i = 0; i < groups->GroupCount; ++i) {
        const DWORD attributes = groups->Groups[i].Attributes;
        if (!os_.EqualSid(groups->Groups[i].Sid, group.get())) continue;
        if ((attributes & SE_GROUP_ENABLED) || (denyOnlyCounts && (attributes & SE_GROUP_USE_FOR_DENY_ONLY))) {
            return true;
        }
    }
    return false;
}

bool UserInfo::IsAdministrator() { return HasGroup(DOMAIN_ALIAS_RID_ADMINS); }

bool UserInfo::IsGuest() { return HasGroup(DOMAIN_ALIAS_RID_GUESTS); }

bool UserInfo::CheckAdministrator(bool report) {
    if (IsAdministrator()) return true;
    if (report) WriteStandardText(os_, STD_ERROR_HANDLE, kPrivilegesError);
    return false;
}
