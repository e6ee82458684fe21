#include "tests/support/damaged_machine.h"

#include <msi.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <cstring>
#include <utility>

#include "platform/handles.h"
#include "tests/support/registry_setup.h"
#include "tests/support/temp_folder.h"

namespace testing_support {

const char DamagedMachine::kInstallFolder[] = "C:\\Program Files (x86)\\Velmoran\\Parlowe";
const char DamagedMachine::kServiceName[] = "VelParloweSvc";
const char DamagedMachine::kTrayProgram[] = "veltray.exe";

namespace {

const char kVendorFolder[] = "C:\\Program Files (x86)\\Velmoran";
const char kSharedFolder[] = "C:\\Program Files (x86)\\Velmoran\\Shared";
const char kFolder64[] = "C:\\Program Files\\Velmoran";
const char kOtherFolder[] = "C:\\Program Files (x86)\\Northgale";
const char kOtherService[] = "NorthgaleUpdate";
const char kRun[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kSecondUser[] = "john";
// The second user's entry in the list of profiles Windows keeps.
const char kSecondUserProfileKey[] =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\S-1-5-21-3615-2749-1024-1001";

std::string Bin(const char* name) { return std::string(DamagedMachine::kInstallFolder) + "\\bin\\" + name; }

// The root and the path below it of a "HKEY_...\path" text.
std::pair<HKEY, std::string> SplitRoot(const std::string& key) {
    const size_t slash = key.find('\\');
    const std::string root = key.substr(0, slash);
    const std::string path = slash == std::string::npos ? std::string() : key.substr(slash + 1);
    return {root == "HKEY_CURRENT_USER" ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE, path};
}

bool MakeKey(const std::string& key, REGSAM view, std::initializer_list<std::pair<const char*, std::string>> values) {
    const auto split = SplitRoot(key);
    if (MakeRegistryKey(split.first, split.second, "", view) != ERROR_SUCCESS) return false;
    for (const auto& value : values) {
        if (SetRegistryValue(split.first, split.second, "", value.first, REG_SZ, value.second.c_str(),
                             static_cast<DWORD>(value.second.size() + 1), view) != ERROR_SUCCESS) {
            return false;
        }
    }
    return true;
}

void DeleteTree(const std::string& key, REGSAM view) {
    const auto split = SplitRoot(key);
    DeleteRegistryTree(split.first, split.second, view);
}

void DeleteValue(const std::string& value, REGSAM view) {
    const size_t slash = value.rfind('\\');
    const auto split = SplitRoot(value.substr(0, slash));
    platform::RegKey key;
    if (::RegOpenKeyExA(split.first, split.second.c_str(), 0, KEY_ALL_ACCESS | view, key.put()) == ERROR_SUCCESS) {
        ::RegDeleteValueA(key.get(), value.substr(slash + 1).c_str());
    }
}

bool WriteFile(const std::string& path, const std::string& text) {
    platform::FileHandle file(
        ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file && ::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
}

// Creates the folder and every folder above it.
bool MakeFolders(const std::string& path) {
    for (size_t at = path.find('\\', 3);; at = path.find('\\', at + 1)) {
        const std::string part = path.substr(0, at);
        if (!::CreateDirectoryA(part.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) return false;
        if (at == std::string::npos) return true;
    }
}

std::string Parent(const std::string& path) { return path.substr(0, path.rfind('\\')); }

bool StartTray(std::string& error) {
    std::string line = "\"" + Bin(DamagedMachine::kTrayProgram) + "\" --sleep 86400000";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!::CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                          &info)) {
        error = "the tray program did not start: " + std::to_string(::GetLastError());
        return false;
    }
    ::CloseHandle(info.hThread);
    ::CloseHandle(info.hProcess);
    return true;
}

bool CreateMachineService(SC_HANDLE manager, const char* name, const std::string& program, bool start,
                          std::string& error) {
    const std::string path = "\"" + program + "\"";
    platform::ServiceHandle service(::CreateServiceA(manager, name, name, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                                     SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE, path.c_str(), nullptr,
                                                     nullptr, nullptr, nullptr, nullptr));
    if (!service) {
        error = std::string("service ") + name + " not created: " + std::to_string(::GetLastError());
        return false;
    }
    if (!start) return true;
    if (!::StartServiceA(service.get(), 0, nullptr)) {
        error = std::string("service ") + name + " did not start: " + std::to_string(::GetLastError());
        return false;
    }
    // The service reports running from its own process; wait for it (a
    // slow start under emulation takes a few seconds).
    for (int i = 0; i < 600; ++i) {
        SERVICE_STATUS status = {};
        if (::QueryServiceStatus(service.get(), &status) && status.dwCurrentState == SERVICE_RUNNING) return true;
        ::Sleep(100);
    }
    error = std::string("service ") + name + " never reported running";
    return false;
}

void RemoveService(SC_HANDLE manager, const char* name) {
    platform::ServiceHandle service(::OpenServiceA(manager, name, SERVICE_STOP | DELETE | SERVICE_QUERY_STATUS));
    if (!service) return;
    SERVICE_STATUS status = {};
    ::ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
    ::DeleteService(service.get());
}

// A user's registry file, as a profile holds it: the hive of a key laid
// down for it in the running user's hive, saved and then deleted.
bool SaveUserHive(const std::string& file) {
    const char source[] = "Software\\ClearwayMachine\\SecondUserHive";
    ::DeleteFileA(file.c_str());
    if (!MakeKey(std::string("HKEY_CURRENT_USER\\") + source + "\\Software\\Northgale\\Viewer", 0,
                 {{"Data", "another vendor's setting of the second user"}})) {
        return false;
    }
    HANDLE raw = nullptr;
    if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &raw)) {
        platform::ObjectHandle token(raw);
        TOKEN_PRIVILEGES privileges = {};
        privileges.PrivilegeCount = 1;
        privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        if (::LookupPrivilegeValueA(nullptr, "SeBackupPrivilege", &privileges.Privileges[0].Luid)) {
            ::AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr);
        }
    }
    HKEY key = nullptr;
    LSTATUS rc = ::RegOpenKeyExA(HKEY_CURRENT_USER, source, 0, KEY_READ, &key);
    if (rc == ERROR_SUCCESS) {
        rc = ::RegSaveKeyA(key, file.c_str(), nullptr);
        ::RegCloseKey(key);
    }
    DeleteTree("HKEY_CURRENT_USER\\Software\\ClearwayMachine", 0);
    return rc == ERROR_SUCCESS;
}

}  // namespace

std::string MachineItem::KindText() const {
    const char* viewText = view == KEY_WOW64_64KEY ? " (64-bit view)" : " (32-bit view)";
    switch (kind) {
        case ItemKind::File: return "file";
        case ItemKind::Folder: return "folder";
        case ItemKind::Key: return std::string("key") + (name.compare(0, 18, "HKEY_CURRENT_USER\\") == 0 ? "" : viewText);
        case ItemKind::Value: return std::string("value") + viewText;
        case ItemKind::Service: return "service";
        case ItemKind::Process: return "process";
        case ItemKind::MsiProduct: return "MSI product";
    }
    return "";
}

DamagedMachine::DamagedMachine(std::string serviceProgram, MachineMsiProduct msi)
    : serviceProgram_(std::move(serviceProgram)), msi_(std::move(msi)) {
    char folder[MAX_PATH] = {};
    ::SHGetSpecialFolderPathA(nullptr, folder, CSIDL_APPDATA, FALSE);
    userData_ = folder;
    char profile[MAX_PATH] = {};
    ::GetEnvironmentVariableA("USERPROFILE", profile, MAX_PATH);
    // The second profile beside the current one, with the same layout.
    const std::string current = profile;
    secondProfile_ = Parent(current) + "\\" + kSecondUser;
    secondData_ = userData_.compare(0, current.size(), current) == 0 ? secondProfile_ + userData_.substr(current.size())
                                                                     : secondProfile_ + "\\AppData\\Roaming";
}

std::vector<MachineItem> DamagedMachine::Items() const {
    const std::string install = kInstallFolder;
    const REGSAM v32 = KEY_WOW64_32KEY, v64 = KEY_WOW64_64KEY;
    const Fate stays = Fate::Stays, now = Fate::GoesNow, restart = Fate::GoesAtRestart;
    const char product[] = "the product's folder";
    return {
        {ItemKind::MsiProduct, msi_.productCode, 0, now, "its upgrade code is configured"},
        {ItemKind::Folder, msi_.installFolder, 0, now, "uninstalled with the MSI product"},
        {ItemKind::Service, kServiceName, 0, now, "running; configured by wildcard"},
        {ItemKind::Process, kTrayProgram, 0, now, "running; configured to stop"},
        {ItemKind::Service, kOtherService, 0, stays, "another vendor's"},
        // On 64-bit Windows a configured key is listed with its subtree in
        // the 64-bit view only; the 32-bit product key loses its values.
        {ItemKind::Key, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmoran\\NetFilter", v64, now, "below the configured key"},
        {ItemKind::Key, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmoran\\NetFilter\\Parameters", v64, now,
         "below the configured key"},
        {ItemKind::Key, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmoran\\Shared", v64, stays, "ignored"},
        {ItemKind::Value, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmoran\\Shared\\Data", v64, stays, "in the ignored key"},
        {ItemKind::Key, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmoran", v64, stays, "holds the ignored key"},
        {ItemKind::Value, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmoran\\Parlowe\\ProductName", v32, now,
         "matches a configured wildcard"},
        {ItemKind::Value, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmoran\\Parlowe\\InstallPath", v32, now,
         "matches a configured wildcard"},
        {ItemKind::Key, "HKEY_CURRENT_USER\\Software\\Velmoran\\Parlowe", 0, now, "below the configured key"},
        {ItemKind::Key, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Northgale\\Tools", v32, stays, "another vendor's"},
        {ItemKind::Key, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Northgale\\Tools", v64, stays, "another vendor's"},
        {ItemKind::Key, "HKEY_CURRENT_USER\\Software\\Northgale", 0, stays, "another vendor's"},
        {ItemKind::Value, std::string(kRun) + "\\VelmoranTray", v32, now, "matches a configured wildcard"},
        {ItemKind::Value, std::string(kRun) + "\\VelmoranNetFilter", v64, now, "configured, 64-bit view only"},
        {ItemKind::Value, std::string(kRun) + "\\NorthgaleTray", v32, stays, "another vendor's"},
        {ItemKind::Value, std::string(kRun) + "\\NorthgaleAgent", v64, stays, "another vendor's"},
        {ItemKind::File, install + "\\bin\\velpar.dll", 0, restart, "read-only"},
        {ItemKind::File, Bin("velsvc.exe"), 0, restart, "the service's program"},
        {ItemKind::File, Bin(kTrayProgram), 0, restart, "the tray program"},
        {ItemKind::File, install + "\\data\\cfg.dat", 0, restart, product},
        {ItemKind::Folder, install, 0, restart, product},
        {ItemKind::File, std::string(kSharedFolder) + "\\keep.dat", 0, stays, "ignored folder"},
        {ItemKind::Folder, kVendorFolder, 0, stays, "holds the ignored folder"},
        {ItemKind::File, std::string(kFolder64) + "\\NetFilter\\velnf64.sys", 0, restart, "64-bit Program Files"},
        {ItemKind::Folder, kFolder64, 0, restart, "64-bit Program Files"},
        {ItemKind::File, userData_ + "\\Velmoran\\Parlowe\\user.dat", 0, restart, "current profile"},
        {ItemKind::File, secondData_ + "\\Velmoran\\Parlowe\\user.dat", 0, restart, "second profile"},
        {ItemKind::File, secondData_ + "\\Northgale\\notes.txt", 0, stays, "another vendor's, second profile"},
        {ItemKind::File, "C:\\windows\\Temp\\VelSetup-1.log", 0, restart, "matches a configured wildcard"},
        {ItemKind::File, "C:\\windows\\Temp\\VelSetup-2.log", 0, restart, "matches a configured wildcard"},
        {ItemKind::File, "C:\\windows\\Temp\\NorthgaleSetup.log", 0, stays, "another vendor's"},
        {ItemKind::File, std::string(kOtherFolder) + "\\Tools\\tool.exe", 0, stays, "another vendor's"},
    };
}

std::string DamagedMachine::Configuration() const {
    return "; Clearway's removal profile for the Velmoran Parlowe machine.\n"
           "[msi upgradecode 1]\n"
           "remove=GUID,BY_VALUE," + msi_.upgradeCode + "\n"
           "[service 1]\n"
           "remove=SERVICE_NAME,BY_VALUE,VELPARLOWE*\n"
           "[process 1]\n"
           "stop=PROCESS_NAME,BY_VALUE,VELTRAY.EXE\n"
           "[registry value 1]\n"
           "remove=REG_VALUE,BY_VALUE," + std::string(kRun) + "\\Velmoran*\n"
           "remove=REG_VALUE,BY_VALUE," + std::string(kRun) + "\\VelmoranNetFilter\n"
           "remove=REG_VALUE,BY_VALUE,HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmoran\\Parlowe\\*\n"
           "[registry key 1]\n"
           "remove=REG_KEY,BY_VALUE,HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmoran\n"
           "remove=REG_KEY,BY_VALUE,HKEY_CURRENT_USER\\Software\\Velmoran\n"
           "ignore=REG_KEY,BY_VALUE,HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmoran\\Shared\n"
           "[file 1]\n"
           "remove=FILE_NAME_EXPAND,BY_VALUE,%PROGRAM_FILES%\\Velmoran\n"
           "remove=FILE_NAME_EXPAND,BY_VALUE,%PROGRAM_FILES_64%\\Velmoran\n"
           "remove=FILE_NAME_EXPAND,BY_VALUE,%APPDATA%\\Velmoran\n"
           "remove=FILE_NAME_EXPAND,BY_VALUE,%WINDOWS%\\Temp\\VelSetup*.log\n"
           "ignore=FILE_NAME_EXPAND,BY_VALUE,%PROGRAM_FILES%\\Velmoran\\Shared\n";
}

void DamagedMachine::Clear() const {
    EndProcesses(kTrayProgram);
    platform::ServiceHandle manager(::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (manager) {
        RemoveService(manager.get(), kServiceName);
        RemoveService(manager.get(), kOtherService);
    }
    for (const MachineItem& item : Items()) {
        switch (item.kind) {
            case ItemKind::File:
            case ItemKind::Folder:
                if (item.name != msi_.installFolder) RemoveTree(item.name);
                break;
            case ItemKind::Key: DeleteTree(item.name, item.view); break;
            case ItemKind::Value: DeleteValue(item.name, item.view); break;
            default: break;
        }
    }
    for (const char* folder : {kVendorFolder, kFolder64, kOtherFolder}) RemoveTree(folder);
    RemoveTree(secondProfile_);
    DeleteTree(kSecondUserProfileKey, KEY_WOW64_64KEY);
    RemoveTree(userData_ + "\\Velmoran");
    RemoveTree(userData_ + "\\Northgale");
    DeleteTree("HKEY_LOCAL_MACHINE\\SOFTWARE\\Northgale", KEY_WOW64_32KEY);
    DeleteTree("HKEY_LOCAL_MACHINE\\SOFTWARE\\Northgale", KEY_WOW64_64KEY);
    DeleteTree("HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmoran", KEY_WOW64_32KEY);
    DeleteTree("HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmoran", KEY_WOW64_64KEY);
    DeleteTree("HKEY_CURRENT_USER\\Software\\Velmoran", 0);
}

bool DamagedMachine::Lay(std::string& error) const {
    Clear();
    const std::string install = kInstallFolder;
    // Files and folders.
    for (const MachineItem& item : Items()) {
        if (item.kind == ItemKind::Folder && item.name != msi_.installFolder && !MakeFolders(item.name)) {
            error = "folder " + item.name + " not created";
            return false;
        }
        if (item.kind != ItemKind::File) continue;
        const bool program = item.name == Bin("velsvc.exe") || item.name == Bin(kTrayProgram);
        if (!MakeFolders(Parent(item.name)) ||
            !(program ? ::CopyFileA(serviceProgram_.c_str(), item.name.c_str(), FALSE) != 0
                      : WriteFile(item.name, item.name + "\r\n"))) {
            error = "file " + item.name + " not written";
            return false;
        }
    }
    ::SetFileAttributesA((install + "\\bin\\velpar.dll").c_str(), FILE_ATTRIBUTE_READONLY);

    // Registry: keys and values as listed.
    for (const MachineItem& item : Items()) {
        bool made = true;
        if (item.kind == ItemKind::Key) made = MakeKey(item.name, item.view, {{"Data", item.note}});
        if (item.kind == ItemKind::Value) {
            const size_t slash = item.name.rfind('\\');
            const std::string name = item.name.substr(slash + 1);
            made = MakeKey(item.name.substr(0, slash), item.view, {{name.c_str(), "\"" + Bin(kTrayProgram) + "\""}});
        }
        if (!made) {
            error = item.KindText() + " " + item.name + " not written";
            return false;
        }
    }

    // The second user is a profile Windows records, with a registry of its
    // own that a run loads (the user is not logged on).
    if (!MakeKey(kSecondUserProfileKey, KEY_WOW64_64KEY, {{"ProfileImagePath", secondProfile_}})) {
        error = "the second profile was not recorded";
        return false;
    }
    if (!MakeFolders(secondProfile_) || !SaveUserHive(secondProfile_ + "\\NTUSER.DAT")) {
        error = "the second user's registry was not written";
        return false;
    }

    // The product's own key, as the product detector reads it.
    if (!MakeKey("HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmoran\\Parlowe", KEY_WOW64_32KEY,
                 {{"ProductName", "Velmoran Parlowe"}, {"InstallPath", install}, {"Version", "4.2"}})) {
        error = "the product key was not written";
        return false;
    }

    // The service runs, the other vendor's is only installed; the tray
    // program runs.
    platform::ServiceHandle manager(::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) {
        error = "no service manager";
        return false;
    }
    return CreateMachineService(manager.get(), kServiceName, Bin("velsvc.exe"), true, error) &&
           CreateMachineService(manager.get(), kOtherService, std::string(kOtherFolder) + "\\Tools\\tool.exe", false,
                                error) &&
           StartTray(error);
}

bool DamagedMachine::Present(const MachineItem& item) {
    switch (item.kind) {
        case ItemKind::File:
        case ItemKind::Folder:
            return ::GetFileAttributesA(item.name.c_str()) != INVALID_FILE_ATTRIBUTES;
        case ItemKind::Key: {
            const auto split = SplitRoot(item.name);
            return RegistryKeyExists(split.first, split.second, item.view);
        }
        case ItemKind::Value: {
            const size_t slash = item.name.rfind('\\');
            const auto split = SplitRoot(item.name.substr(0, slash));
            return RegistryValueExists(split.first, split.second, item.name.substr(slash + 1), item.view);
        }
        case ItemKind::Service: {
            platform::ServiceHandle manager(::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
            platform::ServiceHandle service(
                manager ? ::OpenServiceA(manager.get(), item.name.c_str(), SERVICE_QUERY_STATUS) : nullptr);
            return static_cast<bool>(service);
        }
        case ItemKind::Process: {
            platform::SnapshotHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
            PROCESSENTRY32 entry = {};
            entry.dwSize = sizeof entry;
            for (BOOL more = snapshot && ::Process32First(snapshot.get(), &entry); more;
                 more = ::Process32Next(snapshot.get(), &entry)) {
                if (::lstrcmpiA(entry.szExeFile, item.name.c_str()) == 0) return true;
            }
            return false;
        }
        case ItemKind::MsiProduct:
            return ::MsiQueryProductStateA(item.name.c_str()) == INSTALLSTATE_DEFAULT;
    }
    return false;
}

int EndProcesses(const std::string& name) {
    int ended = 0;
    platform::SnapshotHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = snapshot && ::Process32First(snapshot.get(), &entry); more;
         more = ::Process32Next(snapshot.get(), &entry)) {
        if (::lstrcmpiA(entry.szExeFile, name.c_str()) != 0) continue;
        platform::ObjectHandle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID));
        if (process && ::TerminateProcess(process.get(), 1)) {
            ::WaitForSingleObject(process.get(), 10000);
            ++ended;
        }
    }
    return ended;
}

}  // namespace testing_support
