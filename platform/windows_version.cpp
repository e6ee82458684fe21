#include "platform/windows_version.h"

#include "platform/platform.h"

namespace platform {

bool GetWindowsVersion(Platform& os, OSVERSIONINFOA& version) {
    version = OSVERSIONINFOA();
    version.dwOSVersionInfoSize = sizeof version;
    return os.GetVersionExA(&version) != FALSE;
}

bool IsWindowsNT(Platform& os) {
    OSVERSIONINFOA version;
    return GetWindowsVersion(os, version) && version.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

bool IsWow64(Platform& os) {
    BOOL wow64 = FALSE;
    return os.HasIsWow64Process() && os.IsWow64Process(os.GetCurrentProcess(), &wow64) && wow64 != FALSE;
}

}  // namespace platform
