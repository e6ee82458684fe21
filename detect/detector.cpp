#include "detect/detector.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "guard/path_guard.h"
#include "platform/platform.h"
#include "platform/windows_version.h"
#include "profile/entry_text.h"
#include "trace/trace.h"

namespace {

const char kParloweKey[] = "SOFTWARE\\Velmoran\\Parlowe";
const char kQuillKey[] = "SOFTWARE\\Orbisdale\\Velmoran\\Quill";
const char kRootKey[] = "SOFTWARE\\Orbisdale\\Velmoran";
const char kDunmereKey[] = "SOFTWARE\\Orbisdale\\Velmoran\\Dunmere";
const char kTollanKey[] = "SOFTWARE\\Orbisdale\\Velmoran\\Tollan";
const char kCorveyKey[] = "SOFTWARE\\Velmoran Corporation\\Velmoran Corvey";

// The maker's products that must be uninstalled before a run, and what each
// leaves on Windows 9x: a process whose executable name holds the text.
struct Product9x {
    const char* line;
    const char* executable;
};
const Product9x kProducts9x[] = {
    {"Velmoran Dunmere\n", "DUNAGENT.EXE"},
    {"Velmoran Tollan\n", "veltoll"},
    {"Velmoran Corvey\n", "VELCORA.EXE"},
};

const DWORD kNameBufferBytes = 1024;
const DWORD kInstallPathBytes = 514;

// Reads a text value into a zero-filled 1024-byte buffer; false when the
// value cannot be read.
bool ReadName(platform::Platform& os, HKEY key, const char* name, std::string& out) {
    char buffer[kNameBufferBytes + 1] = {};
    DWORD size = kNameBufferBytes;
    if (os.RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<LPBYTE>(buffer), &size) != ERROR_SUCCESS) {
        return false;
    }
    out = buffer;
    return true;
}

std::string DataLossText(const std::string& path, const char* tabs) {
    return "Clearway detected that Velmoran product is installed in\n" + path + "\n" + tabs +
           "Uninstalling the product may cause loss of important personal or system data.\n" + tabs +
           "Please contact Velmoran support.";
}

bool Contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

// The folder as Windows finally resolves it; the text upper-cased when it
// cannot be resolved. A drive without its backslash ("C:", as the
// normalisation leaves a root) is its root.
std::string Resolved(platform::Platform& os, const char* path, bool* refused = nullptr) {
    std::string text = path ? path : "";
    if (text.size() == 2 && text[1] == ':') text += '\\';
    std::string out;
    const bool failed = guard::ResolveFinalPath(os, text.c_str(), out) != nullptr;
    if (refused) *refused = failed;
    return failed ? guard::UpperText(text.c_str()) : out;
}

}  // namespace

CDetector::CDetector(platform::Platform& os) : os_(os), scManager_(os), servicesMemory_(os) {}

CDetector::~CDetector() = default;

DWORD CDetector::DetectProducts() {
    RetrieveProductName();
    OSVERSIONINFOA version;
    platform::GetWindowsVersion(os_, version);
    if (version.dwPlatformId == VER_PLATFORM_WIN32_NT) {
        isNT = 1;
        EnumerateServicesAndProcesses();
    } else if (version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS) {
        isNT = 0;
        EnumerateProcesses9x();
    } else {
        os_.SetLastError(ERROR_APP_WRONG_OS);
        return static_cast<DWORD>(-1);
    }
    return os_.GetLastError();
}

bool CDetector::RetrieveProductName() {
    if (RetrieveParloweProductName()) return true;
    RetrieveQuillProductName();
    return false;
}

bool CDetector::RetrieveParloweProductName() {
    platform::RegKey key(os_);
    if (os_.RegOpenKeyExA(HKEY_LOCAL_MACHINE, kParloweKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
        TraceWrite("", -1, 0, "RetrieveParloweProductName: RegOpenKeyEx failed for 'SOFTWARE\\Velmoran\\Parlowe'\n");
        return false;
    }
    if (!ReadName(os_, key.get(), "ProductName", productName)) {
        TraceWrite("", -1, 0, "RetrieveParloweProductName: RegQueryValueEx failed for 'ProductName'\n");
        return false;
    }
    TraceWrite("", -1, 0, "RetrieveParloweProductName: ProductName=%s\n", productName.c_str());
    return true;
}

void CDetector::RetrieveQuillProductName() {
    {
        platform::RegKey key(os_);
        if (os_.RegOpenKeyExA(HKEY_LOCAL_MACHINE, kQuillKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
            TraceWrite("", -1, 0,
                       "RetrieveQuillProductName: RegOpenKeyEx failed for 'SOFTWARE\\Orbisdale\\Velmoran\\Quill'\n");
        } else {
            DWORD number = 0;
            DWORD size = sizeof number;  // the value's type is not examined
            if (os_.RegQueryValueExA(key.get(), "LastInstalledProduct", nullptr, nullptr,
                                     reinterpret_cast<LPBYTE>(&number), &size) == ERROR_SUCCESS) {
                lastInstalledProduct = static_cast<int>(number);
            } else {
                TraceWrite("", -1, 0, "RetrieveQuillProductName: RegQueryValueEx failed for 'LastInstalledProduct'\n");
            }
        }
    }
    char tail[64];
    std::snprintf(tail, sizeof tail, "\\Products\\%d", lastInstalledProduct);
    platform::RegKey product(os_);
    if (os_.RegOpenKeyExA(HKEY_LOCAL_MACHINE, (std::string(kQuillKey) + tail).c_str(), 0, KEY_READ, product.put()) !=
        ERROR_SUCCESS) {
        TraceWrite("", -1, 0, "RetrieveQuillProductName: RegOpenKeyEx failed for 'SOFTWARE\\Orbisdale\\Velmoran\\Quill%s'\n",
                   tail);
        return;
    }
    if (!ReadName(os_, product.get(), "ProductName", productName)) {
        TraceWrite("", -1, 0, "RetrieveQuillProductName: RegQueryValueEx failed for 'ProductName'\n");
        return;
    }
    TraceWrite("", -1, 0, "RetrieveQuillProductName: ProductName=%s\n", productName.c_str());
}

DWORD CDetector::EnumerateServicesAndProcesses() {
    scManager_.reset(os_.OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!scManager_) return os_.GetLastError();

    DWORD needed = 0, count = 0, resume = 0;
    if (!os_.EnumServicesStatusA(scManager_.get(), SERVICE_DRIVER | SERVICE_WIN32, SERVICE_STATE_ALL, nullptr, 0, &needed,
                                 &count, &resume) &&
        os_.GetLastError() != ERROR_MORE_DATA) {
        return os_.GetLastError();
    }
    servicesMemory_.reset(::LocalAlloc(LMEM_FIXED | LMEM_ZEROINIT, needed ? needed : 1));
    services = static_cast<ENUM_SERVICE_STATUSA*>(servicesMemory_.get());
    serviceCount = 0;
    if (!services) return ERROR_NOT_ENOUGH_MEMORY;
    resume = 0;
    count = 0;
    // The records returned count even when more followed (a service added
    // since the size was asked for).
    os_.EnumServicesStatusA(scManager_.get(), SERVICE_DRIVER | SERVICE_WIN32, SERVICE_STATE_ALL, services, needed, &needed,
                            &count, &resume);
    serviceCount = count;

    std::vector<DWORD> ids(512);
    DWORD returned = 0;
    for (;;) {
        const DWORD room = static_cast<DWORD>(ids.size() * sizeof(DWORD));
        if (!os_.EnumProcesses(ids.data(), room, &returned)) return os_.GetLastError();
        if (returned != room) break;
        ids.resize(ids.size() + 512);
    }
    clientProcessPath.clear();
    for (DWORD i = 0; i < returned / sizeof(DWORD); ++i) {
        const std::string path = ProcessImagePath(ids[i]);
        if (Contains(path, "velcora") || Contains(path, "velcorvey")) clientProcessPath = path;
    }
    return 1;
}

std::string CDetector::ProcessImagePath(DWORD processId) {
    // The full access mask every Windows version accepts (newer SDKs define
    // PROCESS_ALL_ACCESS wider, which Windows XP refuses).
    const DWORD kAllAccess = 0x1F0FFF;
    platform::ObjectHandle process(os_, os_.OpenProcess(kAllAccess, FALSE, processId));
    if (!process) {
        // Windows refuses every right for SYSTEM's and protected processes
        // (a service of the maker among them); from Vista on the image path
        // below needs only the limited query right, which it grants.
        OSVERSIONINFOA version;
        if (!platform::GetWindowsVersion(os_, version) || version.dwPlatformId != VER_PLATFORM_WIN32_NT ||
            version.dwMajorVersion < 6) {
            return std::string();
        }
        process.reset(os_.OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
        if (!process) return std::string();
    }
    char path[2048 + 1] = {};
    HMODULE first = nullptr;
    DWORD needed = 0;
    if (os_.EnumProcessModules(process.get(), &first, sizeof first, &needed) &&
        os_.GetModuleFileNameExA(process.get(), first, path, 2048) != 0) {
        return path;
    }
    // A 32-bit process cannot read the modules of a 64-bit one; the image
    // path still names the program.
    DWORD size = 2048;
    if (os_.QueryFullProcessImageNameA(process.get(), 0, path, &size)) return std::string(path, size);
    return std::string();
}

DWORD CDetector::EnumerateProcesses9x() {
    productsFound9x.clear();
    platform::SnapshotHandle snapshot(os_, os_.CreateToolhelp32Snapshot(TH32CS_SNAPALL, 0));
    if (!snapshot) return 0;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    if (!os_.Process32First(snapshot.get(), &entry)) return 0;
    do {
        for (const Product9x& product : kProducts9x) {
            if (std::strstr(entry.szExeFile, product.executable)) productsFound9x += product.line;
        }
    } while (os_.Process32Next(snapshot.get(), &entry));
    return 1;
}

bool CDetector::KeyExists(const char* keyPath) {
    platform::RegKey key(os_);
    return os_.RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

int CDetector::CheckIncompatibleProducts() {
    message = "Following software should be uninstalled before using Clearway:\n\n";
    int result = 0;
    if (isNT == 0) {
        if (!productsFound9x.empty()) {
            message += productsFound9x;
            result = 1;
        }
    } else if (isNT == 1) {
        for (DWORD i = 0; i < serviceCount; ++i) {
            const char* name = services[i].lpServiceName ? services[i].lpServiceName : "";
            if (std::strstr(name, "veldun1") && KeyExists(kDunmereKey)) {
                message += "Velmoran Dunmere\n";
                result = 1;
            }
            if (std::strstr(name, "veltoll") && KeyExists(kTollanKey)) {
                message += "Velmoran Tollan\n";
                result = 1;
            }
        }
        if (KeyExists(kCorveyKey) || !clientProcessPath.empty()) {
            message += "Velmoran Corvey\n";
            result = 1;
        }
    }
    warn = result;
    return result;
}

bool CDetector::ReadInstallPath(const char* keyPath, const char* valueName, const char* fittedTabs,
                                const char* largerTabs) {
    message.clear();
    platform::RegKey key(os_);
    if (os_.RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return false;
    std::vector<char> buffer(kInstallPathBytes + 1, '\0');
    DWORD size = kInstallPathBytes;
    LSTATUS rc = os_.RegQueryValueExA(key.get(), valueName, nullptr, nullptr, reinterpret_cast<LPBYTE>(buffer.data()),
                                      &size);
    const char* tabs = fittedTabs;
    if (rc == ERROR_MORE_DATA && size != 0) {
        buffer.assign(size + 2, '\0');
        DWORD larger = size + 2;
        rc = os_.RegQueryValueExA(key.get(), valueName, nullptr, nullptr, reinterpret_cast<LPBYTE>(buffer.data()),
                                  &larger);
        size = larger;
        tabs = largerTabs;
    }
    if (rc != ERROR_SUCCESS) return false;
    // Ends at the last byte returned, whether or not the value held a
    // terminator of its own.
    if (size < buffer.size()) buffer[size] = '\0';
    installPath = buffer.data();
    message = DataLossText(installPath, tabs);
    return true;
}

bool CDetector::ReadParloweInstallPath() { return ReadInstallPath(kParloweKey, "InstallPath", "\t\t", "\t\t\t\t\t"); }

void CDetector::ReadRootInstallPath() {
    ReadInstallPath(kRootKey, "InstallationRootDirectory", "\t\t\t", "\t\t\t\t\t\t");
}

int CDetector::CheckInstallLocation() {
    if (!ReadParloweInstallPath()) ReadRootInstallPath();
    std::vector<char> text(installPath.begin(), installPath.end());
    text.push_back('\0');
    NormalizeEntry(text.data());
    installPath = text.data();
    if (installPath.empty()) return 0;

    // The tests see the folder as Windows resolves it: "." and ".." segments,
    // doubled separators, short names and links make no difference. A path
    // that is not fully qualified would be resolved against whatever folder
    // the program started in: removing it could take anything.
    bool refused = false;
    const std::string canonical = Resolved(os_, installPath.c_str(), &refused);
    if (refused) {
        warn = 1;
        return warn;
    }
    bool flag = Contains(canonical, "DOCUMENTS AND SETTINGS") || Contains(canonical, "\\USERS\\");

    char value[MAX_PATH + 1] = {};
    if (os_.GetEnvironmentVariableA("WINDIR", value, MAX_PATH) != 0) {
        std::string windir = value;
        std::vector<char> upper(windir.begin(), windir.end());
        upper.push_back('\0');
        UpperCaseText(upper.data());
        if (Contains(canonical, upper.data())) flag = true;
    }
    // Every Program Files folder of the machine: a 32-bit process on 64-bit
    // Windows reads ProgramFiles as the x86 folder.
    for (const char* variable : {"ProgramFiles", "ProgramW6432", "ProgramFiles(x86)"}) {
        std::memset(value, 0, sizeof value);
        const DWORD length = os_.GetEnvironmentVariableA(variable, value, MAX_PATH);
        if (length != 0 && length < MAX_PATH && canonical == Resolved(os_, value)) flag = true;
    }
    char drives[1024 + 1] = {};
    const DWORD length = os_.GetLogicalDriveStringsA(1024, drives);
    if (length >= 1 && length <= 1024) {
        for (const char* root = drives; *root; root += std::strlen(root) + 1) {
            if (os_.GetDriveTypeA(root) != DRIVE_FIXED) continue;
            if (canonical == Resolved(os_, root)) flag = true;
        }
    }
    warn = flag ? 1 : 0;
    return warn;
}
