#include "app/session.h"

#include <vector>

#include "platform/handles.h"
#include "platform/platform.h"
#include "platform/windows_version.h"
#include "trace/trace.h"

const char kUndoNeedsRights[] = "--undo: administrator rights are needed; nothing was taken back\n";

bool IsUserAdmin(platform::Platform& os) {
    OSVERSIONINFOA version;
    if (platform::GetWindowsVersion(os, version) && version.dwPlatformId != VER_PLATFORM_WIN32_NT) return true;

    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    platform::AllocatedSid administrators(os);
    if (!os.AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                     administrators.put())) {
        return false;
    }
    platform::ObjectHandle token(os);
    if (!os.OpenProcessToken(os.GetCurrentProcess(), TOKEN_QUERY, token.put())) return false;
    bool admin = false;
    DWORD size = 0;
    os.GetTokenInformation(token.get(), TokenGroups, nullptr, 0, &size);
    if (size != 0) {
        std::vector<BYTE> buffer(size);
        if (os.GetTokenInformation(token.get(), TokenGroups, buffer.data(), size, &size)) {
            const TOKEN_GROUPS* groups = reinterpret_cast<const TOKEN_GROUPS*>(buffer.data());
            for (DWORD i = 0; i < groups->GroupCount && !admin; ++i) {
                admin = os.EqualSid(groups->Groups[i].Sid, administrators.get()) &&
                        (groups->Groups[i].Attributes & SE_GROUP_ENABLED) != 0;
            }
        }
    }
    return admin;
}

bool IsVisibleSession(platform::Platform& os) {
    HWINSTA station = os.GetProcessWindowStation();
    USEROBJECTFLAGS flags = {};
    DWORD needed = 0;
    // When the question cannot be answered, behave as the interactive
    // program always did.
    if (!station || !os.GetUserObjectInformationA(station, UOI_FLAGS, &flags, sizeof flags, &needed)) return true;
    if ((flags.dwFlags & WSF_VISIBLE) == 0) return false;
    // From Windows Vista on, session 0 holds the services and nobody logs on
    // to it; its interactive station WinSta0 still reports itself visible
    // (what services allowed to interact with the desktop and start-up
    // scripts get). Before Vista session 0 is the console's, which users see.
    OSVERSIONINFOA version;
    if (!platform::GetWindowsVersion(os, version) || version.dwPlatformId != VER_PLATFORM_WIN32_NT ||
        version.dwMajorVersion < 6) {
        return true;
    }
    DWORD session = 0;
    return !os.ProcessIdToSessionId(os.GetCurrentProcessId(), &session) || session != 0;
}

bool EnableShutdownPrivilege(platform::Platform& os) {
    platform::ObjectHandle token(os);
    if (!os.OpenProcessToken(os.GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put())) {
        return false;
    }
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    os.LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &privileges.Privileges[0].Luid);
    // Whether Windows granted it shows in the restart call's answer.
    os.AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr);
    return true;
}

bool RestartAccepted(platform::Platform& os, const char* call, BOOL result) {
    if (result) return true;
    const DWORD error = os.GetLastError();
    TraceWrite("", -1, 0, "%s failed with error %lu: Windows does not restart; restart it to finish the removal\n",
               call, static_cast<unsigned long>(error));
    return false;
}

bool RestartWindows(platform::Platform& os, DWORD delaySeconds, bool visibleSession) {
    if (delaySeconds == 0 && visibleSession) {
        return RestartAccepted(os, "ExitWindowsEx", os.ExitWindowsEx(EWX_REBOOT | EWX_FORCE, 0));
    }
    // Also without a delay where nobody sees the session (a service's, a
    // start-up script's): there ExitWindowsEx may answer success and not
    // restart.
    char message[] = "Uninstallation completed successfully.\nVelmoran Clearway\nwill restart your computer shortly.";
    // Windows refuses a time-out beyond its maximum (--reboot-delay=-1 is
    // 4294967295 seconds); the refusal is handled like any other.
    return RestartAccepted(os, "InitiateSystemShutdownExA",
                           os.InitiateSystemShutdownExA(nullptr, message, delaySeconds, TRUE, TRUE,
                                                        SHTDN_REASON_FLAG_PLANNED | SHTDN_REASON_MAJOR_APPLICATION |
                                                            SHTDN_REASON_MINOR_MAINTENANCE));
}
