#include "guard/service_guard.h"

#include <cstdio>
#include <cstring>

#include "guard/own_files.h"
#include "guard/path_guard.h"
#include "platform/handles.h"
#include "platform/platform.h"

namespace guard {

namespace {

bool StartsWithNoCase(const std::string& text, const char* prefix) {
    const size_t n = std::strlen(prefix);
    return text.size() >= n && _strnicmp(text.c_str(), prefix, n) == 0;
}

std::string WindowsFolder(platform::Platform& os) {
    char buffer[MAX_PATH + 1] = {};
    const UINT n = os.GetWindowsDirectoryA(buffer, MAX_PATH);
    return n > 0 && n < MAX_PATH ? std::string(buffer, n) : std::string();
}

// The program's path out of a command line: a quoted path, or the text up
// to the end of its first ".exe" or ".sys" (a path with blanks, unquoted,
// as Windows itself finds it), or up to the first blank.
std::string ProgramOf(const std::string& line) {
    size_t start = line.find_first_not_of(' ');
    if (start == std::string::npos) return std::string();
    if (line[start] == '"') {
        const size_t end = line.find('"', start + 1);
        return line.substr(start + 1, end == std::string::npos ? std::string::npos : end - start - 1);
    }
    const std::string upper = UpperText(line.c_str());
    for (const char* extension : {".EXE", ".SYS"}) {
        for (size_t at = upper.find(extension, start); at != std::string::npos; at = upper.find(extension, at + 1)) {
            const size_t end = at + 4;
            if (end == upper.size() || upper[end] == ' ') return line.substr(start, end - start);
        }
    }
    const size_t blank = line.find(' ', start);
    return line.substr(start, blank == std::string::npos ? std::string::npos : blank - start);
}

// The service's configuration, in buffer; false when it cannot be read.
bool ReadConfig(platform::Platform& os, SC_HANDLE manager, const char* name, std::vector<BYTE>& buffer) {
    platform::ServiceHandle service(os, os.OpenServiceA(manager, name, SERVICE_QUERY_CONFIG));
    if (!service) return false;
    DWORD needed = 0;
    os.QueryServiceConfigA(service.get(), nullptr, 0, &needed);
    if (needed == 0) return false;
    buffer.assign(needed, 0);
    return os.QueryServiceConfigA(service.get(), reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data()), needed,
                                  &needed) != FALSE;
}

}  // namespace

std::string ServiceImageFile(platform::Platform& os, const char* name, const QUERY_SERVICE_CONFIGA& config) {
    const std::string windows = WindowsFolder(os);
    std::string path = ProgramOf(config.lpBinaryPathName ? config.lpBinaryPathName : "");
    const bool driver = (config.dwServiceType & (SERVICE_KERNEL_DRIVER | SERVICE_FILE_SYSTEM_DRIVER)) != 0;
    if (path.empty()) {
        if (!driver || !name || windows.empty()) return std::string();
        return windows + "\\System32\\drivers\\" + name + ".sys";
    }
    if (path.find('%') != std::string::npos) {
        char expanded[MAX_PATH + 1] = {};
        const DWORD n = os.ExpandEnvironmentStringsA(path.c_str(), expanded, MAX_PATH);
        if (n == 0 || n > MAX_PATH) return std::string();
        path = expanded;
    }
    if (StartsWithNoCase(path, "\\??\\")) path.erase(0, 4);
    if (StartsWithNoCase(path, "\\SystemRoot\\")) {
        path = windows + path.substr(std::strlen("\\SystemRoot"));
    } else if (!IsFullyQualified(path.c_str())) {
        // The loader takes a driver's relative path from the Windows folder.
        if (windows.empty() || path[0] == '\\') return std::string();
        path = windows + "\\" + path;
    }
    return path;
}

bool MadeByMaker(platform::Platform& os, const std::string& file) {
    DWORD handle = 0;
    // Read where the system reads it: the real System32, not the folder a
    // 32-bit program is shown under that name.
    const std::string real = Unredirected(os, file);
    const DWORD size = os.GetFileVersionInfoSizeA(real.c_str(), &handle);
    if (size == 0) return false;
    std::vector<BYTE> data(size);
    if (!os.GetFileVersionInfoA(real.c_str(), 0, size, data.data())) return false;
    struct Translation {
        WORD language, codePage;
    };
    Translation* translations = nullptr;
    UINT length = 0;
    if (!os.VerQueryValueA(data.data(), "\\VarFileInfo\\Translation", reinterpret_cast<LPVOID*>(&translations),
                           &length) ||
        !translations) {
        return false;
    }
    for (UINT i = 0; i < length / sizeof(Translation); ++i) {
        char block[64];
        std::snprintf(block, sizeof block, "\\StringFileInfo\\%04x%04x\\CompanyName", translations[i].language,
                      translations[i].codePage);
        char* company = nullptr;
        UINT companyLength = 0;
        if (os.VerQueryValueA(data.data(), block, reinterpret_cast<LPVOID*>(&company), &companyLength) && company &&
            ContainsText(UpperText(std::string(company, strnlen(company, companyLength)).c_str()), "VELMORAN")) {
            return true;
        }
    }
    return false;
}

std::string RefusesService(platform::Platform& os, SC_HANDLE manager, const char* name) {
    std::vector<BYTE> buffer;
    if (!ReadConfig(os, manager, name, buffer)) return std::string();
    const auto* config = reinterpret_cast<const QUERY_SERVICE_CONFIGA*>(buffer.data());
    const std::string image = ServiceImageFile(os, name, *config);
    if (image.empty()) return std::string();
    if (OwnedByTrustedInstaller(os, image)) {
        return "its program '" + image + "' is Windows' own (its owner is TrustedInstaller)";
    }
    const std::string windows = UpperText(WindowsFolder(os).c_str());
    const std::string upper = UpperText(image.c_str());
    const bool inWindows = !windows.empty() && upper.size() > windows.size() &&
                           upper.compare(0, windows.size(), windows) == 0 && upper[windows.size()] == '\\';
    if (config->dwStartType <= SERVICE_SYSTEM_START && inWindows && !MadeByMaker(os, image)) {
        return "it starts with Windows (boot or system start) from '" + image + "', which is not the product's";
    }
    return std::string();
}

ServiceDependents::ServiceDependents(platform::Platform& os, SC_HANDLE manager) {
    const DWORD types = SERVICE_WIN32 | SERVICE_DRIVER;
    DWORD needed = 0, count = 0, resume = 0;
    std::vector<BYTE> buffer;
    os.EnumServicesStatusA(manager, types, SERVICE_STATE_ALL, nullptr, 0, &needed, &count, &resume);
    if (needed == 0) return;
    buffer.resize(needed);
    resume = 0;
    auto* services = reinterpret_cast<ENUM_SERVICE_STATUSA*>(buffer.data());
    if (!os.EnumServicesStatusA(manager, types, SERVICE_STATE_ALL, services, needed, &needed, &count, &resume)) return;
    for (DWORD i = 0; i < count; ++i) {
        const char* name = services[i].lpServiceName;
        if (!name) continue;
        // Names one after the other, each ending in a zero, the list in two;
        // a group's name begins with '+' and names no one service.
        const auto add = [&](const char* list, const char* end) {
            for (const char* need = list; need && need < end && *need;) {
                const size_t length = strnlen(need, static_cast<size_t>(end - need));
                if (*need != SC_GROUP_IDENTIFIER) needs_.push_back({name, std::string(need, length)});
                need += length + 1;
            }
        };
        std::vector<BYTE> config;
        if (ReadConfig(os, manager, name, config)) {
            const char* list = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(config.data())->lpDependencies;
            add(list, reinterpret_cast<const char*>(config.data() + config.size()));
        }
        // The service manager's own record of them, which not every system
        // gives back in the configuration.
        platform::RegKey key(os);
        if (os.RegOpenKeyExA(HKEY_LOCAL_MACHINE, ("SYSTEM\\CurrentControlSet\\Services\\" + std::string(name)).c_str(), 0,
                             KEY_QUERY_VALUE | KEY_WOW64_64KEY, key.put()) == ERROR_SUCCESS) {
            DWORD type = 0, size = 0;
            if (os.RegQueryValueExA(key.get(), "DependOnService", nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
                type == REG_MULTI_SZ && size > 0) {
                std::vector<char> list(size + 2, '\0');
                if (os.RegQueryValueExA(key.get(), "DependOnService", nullptr, &type,
                                        reinterpret_cast<LPBYTE>(list.data()), &size) == ERROR_SUCCESS) {
                    add(list.data(), list.data() + (size < list.size() ? size : list.size()));
                }
            }
        }
    }
}

std::vector<std::string> ServiceDependents::Of(const char* name) const {
    std::vector<std::string> names;
    for (const Need& need : needs_) {
        if (name && _stricmp(need.needed.c_str(), name) == 0) names.push_back(need.dependent);
    }
    return names;
}

}  // namespace guard
