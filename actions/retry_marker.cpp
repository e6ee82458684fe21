// The removal-retry marker: the product name kept in the program's own key
// for a later run.
#include <cstring>
#include <string>

#include "platform/handles.h"
#include "platform/platform.h"
#include "profile/engine.h"
#include "trace/trace.h"

void CNuke::MarkRegistryForPossibleRemovalRetry() {
    const char* name = ProductName();
    if (!*name) {
        TraceWrite("", -1, 0, "%s", "MarkRegistryForPossibleRemovalRetry: source empty. Registry NOT marked.\n");
        return;
    }
    platform::RegKey key(os);
    if (os.RegCreateKeyExA(HKEY_LOCAL_MACHINE, kRetryMarkerSubkey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                           KEY_ALL_ACCESS, nullptr, key.put(), nullptr) != ERROR_SUCCESS) {
        TraceWrite("", -1, 0, "%s",
                   "MarkRegistryForPossibleRemovalRetry: marking the registry with base key failed.\n");
        return;
    }
    os.RegSetValueExA(key.get(), "ApplicationName", 0, REG_SZ, reinterpret_cast<const BYTE*>(name),
                      static_cast<DWORD>(std::strlen(name) + 1));
    key.reset();
    marked = 1;
    TraceWrite("", -1, 0, "%s", "MarkRegistryForPossibleRemovalRetry: marking the registry successful.\n");
}

void CNuke::ReadRegistryForRemovalRetry() {
    if (marked) return;
    platform::RegKey key(os);
    if (os.RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRetryMarkerSubkey, 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
        TraceWrite("", -1, 0, "%s", "ReadRegistryForRemovalRetry: Velmoran Clearway key not found\n");
        return;
    }
    markerFound = 1;
    if (*ProductName()) return;  // a name that detection reported is never replaced

    char buffer[260] = {};
    DWORD type = 0;
    DWORD size = sizeof buffer;
    LSTATUS rc = os.RegQueryValueExA(key.get(), "ApplicationName", nullptr, &type, reinterpret_cast<LPBYTE>(buffer),
                                     &size);
    std::string name;
    if (rc != ERROR_SUCCESS) {
        TraceWrite("", -1, 0, "ReadRegistryForRemovalRetry: ApplicationName not found %d\n", static_cast<int>(rc));
    } else {
        // The text ends at its first zero or at the size read.
        size_t length = 0;
        while (length < size && length < sizeof buffer && buffer[length]) ++length;
        name.assign(buffer, length);
        const char* blanks = " \t\r\n\v\f";
        size_t first = name.find_first_not_of(blanks);
        size_t last = name.find_last_not_of(blanks);
        name = first == std::string::npos ? std::string() : name.substr(first, last - first + 1);
        if (dialog) dialog->SetProductName(name.c_str());
    }
    TraceWrite("", -1, 0, "ReadRegistryForRemovalRetry: ApplicationName='%s'\n", name.c_str());
}
