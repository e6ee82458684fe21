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

}  // namespace platform
