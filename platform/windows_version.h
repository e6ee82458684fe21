// Which Windows the program runs on, as GetVersionExA answers through the
// platform.
#pragma once
#include <windows.h>

namespace platform {

class Platform;

// GetVersionExA's answer in version; false when Windows gives none.
bool GetWindowsVersion(Platform& os, OSVERSIONINFOA& version);
// True when Windows says it is of the NT line (NT 4 up to today's).
bool IsWindowsNT(Platform& os);
// True when this process is a 32-bit one on 64-bit Windows; false where
// Windows lacks the question (it is then 32-bit throughout).
bool IsWow64(Platform& os);

}  // namespace platform
