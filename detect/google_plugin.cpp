#include "detect/google_plugin.h"

#include "platform/handles.h"
#include "platform/platform.h"
#include "trace/trace.h"

bool get_google_plugin_dir(platform::Platform& os, std::string& folder) {
    platform::RegKey key(os);
    if (os.RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\Google\\Google Desktop", 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY,
                         key.put()) != ERROR_SUCCESS) {
        return false;
    }
    char buffer[261] = {};
    DWORD size = sizeof buffer - 1;  // room for a terminator the value may lack
    if (os.RegQueryValueExA(key.get(), "plugin_dir", nullptr, nullptr, reinterpret_cast<LPBYTE>(buffer), &size) !=
        ERROR_SUCCESS) {
        TraceWrite("", -1, 0, "%s(): RegQueryValue FAILED\n", "get_google_plugin_dir");
        return false;
    }
    folder = buffer;
    return false;
}
