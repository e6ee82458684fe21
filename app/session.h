// The session the program runs in: whether its user may remove, whether
// anyone sees its windows, and restarting Windows from it.
#pragma once
#include <windows.h>

namespace platform { class Platform; }

// The trace line of an undo that lacks administrator rights.
extern const char kUndoNeedsRights[];

// True when the process may run the removal: always on Windows 9x; on NT
// when the token's Administrators group is enabled.
bool IsUserAdmin(platform::Platform& os);
// True when the process's window station is visible, that is a person could
// see and press its windows.
bool IsVisibleSession(platform::Platform& os);
// Enables the shutdown privilege in the process token; false (with the
// token's error as the last error) when the token cannot be opened for it.
bool EnableShutdownPrivilege(platform::Platform& os);
// The result of a restart or shut-down call (ExitWindowsEx,
// InitiateSystemShutdownExA): true when Windows accepted it. A refusal is
// traced with its error code; the files then stay scheduled for whatever
// restart comes next.
bool RestartAccepted(platform::Platform& os, const char* call, BOOL result);
// Restarts Windows on NT with the shutdown privilege enabled: at once
// (ExitWindowsEx) where someone sees the session and no delay is asked,
// else announced with the delay (InitiateSystemShutdownExA). True when
// Windows accepted it.
bool RestartWindows(platform::Platform& os, DWORD delaySeconds, bool visibleSession);
