#include "platform/preview.h"

#include <tlhelp32.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/late_bound.h"
#include "platform/registry_names.h"

namespace platform {

namespace {

std::string RootText(HKEY root) {
    const char* name = RootKeyName(root);
    return name ? name : "";
}


std::string View(REGSAM sam) {
    if (sam & KEY_WOW64_64KEY) return " (64-bit view)";
    if (sam & KEY_WOW64_32KEY) return " (32-bit view)";
    return " (program's view)";
}

std::string GuidText(const GUID& guid) {
    wchar_t text[40] = {};
    ::StringFromGUID2(guid, text, 40);
    return Narrow(text);
}

std::string Upper(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

// A process's image: its full path where Windows gives it (through the
// handle, or through a handle of our own that may only query, since the run
// opens processes to end them and nothing more), else its file name from
// the process list, else its id.
std::string ProcessName(HANDLE process, DWORD processId) {
    using Query = BOOL(WINAPI*)(HANDLE, DWORD, LPSTR, PDWORD);
    static const Query query = LateBound<Query>("kernel32.dll", "QueryFullProcessImageNameA");
    char path[MAX_PATH * 2] = {};
    DWORD size = sizeof path;
    if (query && process && query(process, 0, path, &size)) return std::string(path, size);
    if (!processId && process) processId = ::GetProcessId(process);
    if (!processId) return "a process";
    const DWORD kQueryLimited = 0x1000;  // PROCESS_QUERY_LIMITED_INFORMATION, Vista and later
    if (query) {
        if (HANDLE own = ::OpenProcess(kQueryLimited, FALSE, processId)) {
            size = sizeof path;
            const BOOL named = query(own, 0, path, &size);
            ::CloseHandle(own);
            if (named) return std::string(path, size);
        }
    }
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot != INVALID_HANDLE_VALUE) {
        PROCESSENTRY32 entry = {};
        entry.dwSize = sizeof entry;
        for (BOOL more = ::Process32First(snapshot, &entry); more; more = ::Process32Next(snapshot, &entry)) {
            if (entry.th32ProcessID == processId) {
                ::CloseHandle(snapshot);
                return entry.szExeFile;
            }
        }
        ::CloseHandle(snapshot);
    }
    return "process " + std::to_string(processId);
}

}  // namespace

std::string Narrow(const wchar_t* text) {
    if (!text) return std::string();
    const int length = ::WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 1) return std::string();
    std::vector<char> narrow(static_cast<size_t>(length));
    ::WideCharToMultiByte(CP_ACP, 0, text, -1, narrow.data(), length, nullptr, nullptr);
    return narrow.data();
}

std::vector<PreviewPlatform::Change> PreviewPlatform::Changes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return changes_;
}

void PreviewPlatform::BeginStep(const char* name) {
    std::lock_guard<std::mutex> lock(mutex_);
    step_ = name ? name : "";
}

void PreviewPlatform::Record(const std::string& kind, const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!recording_) return;
    if (!seen_.insert(step_ + '\n' + kind + '\n' + text).second) return;
    changes_.push_back({step_, kind, text});
}

void PreviewPlatform::Sleep(DWORD milliseconds) {
    std::lock_guard<std::mutex> lock(mutex_);
    paused_ += milliseconds;
}

// ---- files ----

BOOL PreviewPlatform::SetFileAttributesA(LPCSTR path, DWORD attributes) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%lx", static_cast<unsigned long>(attributes));
    Record("file attributes set", std::string(path ? path : "") + " -> " + text);
    return TRUE;
}
BOOL PreviewPlatform::CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES) {
    // The trace folder and the report's folder are the preview's own output.
    if (Platform::GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) {
        ::SetLastError(ERROR_ALREADY_EXISTS);
        return FALSE;
    }
    Record("folder created", path ? path : "");
    return TRUE;
}
BOOL PreviewPlatform::DeleteFileA(LPCSTR path) {
    Record("file deleted", path ? path : "");
    return TRUE;
}
BOOL PreviewPlatform::RemoveDirectoryA(LPCSTR path) {
    Record("folder deleted", path ? path : "");
    return TRUE;
}
std::FILE* PreviewPlatform::OpenSharedStream(const char* path, const char* mode) {
    if (mode && std::strpbrk(mode, "wa+")) {
        Record("file written", path ? path : "");
        errno = EACCES;
        return nullptr;
    }
    return Platform::OpenSharedStream(path, mode);
}
DWORD PreviewPlatform::ScheduleDeletionsAtRestart(const std::vector<std::string>& paths) {
    for (const std::string& path : paths) Record("file scheduled for deletion at restart", path);
    return ERROR_SUCCESS;
}
BOOL PreviewPlatform::MoveFileExA(LPCSTR existing, LPCSTR newName, DWORD flags) {
    if (!newName && (flags & MOVEFILE_DELAY_UNTIL_REBOOT)) {
        Record("file scheduled for deletion at restart", existing ? existing : "");
    } else {
        Record("file moved", std::string(existing ? existing : "") + " -> " + (newName ? newName : ""));
    }
    return TRUE;
}
BOOL PreviewPlatform::CopyFileW(LPCWSTR existing, LPCWSTR newName, BOOL) {
    Record("file copied", Narrow(existing) + " -> " + Narrow(newName));
    return TRUE;
}
BOOL PreviewPlatform::DeleteFileW(LPCWSTR path) {
    Record("file deleted", Narrow(path));
    return TRUE;
}
BOOL PreviewPlatform::CreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES) {
    Record("folder created", Narrow(path));
    return TRUE;
}
BOOL PreviewPlatform::RemoveDirectoryW(LPCWSTR path) {
    Record("folder deleted", Narrow(path));
    return TRUE;
}
BOOL PreviewPlatform::SetEndOfFile(HANDLE) {
    Record("file emptied", "");
    return TRUE;
}
namespace {

const DWORD kWritingRights = GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA |
                             FILE_WRITE_ATTRIBUTES | DELETE | WRITE_DAC | WRITE_OWNER;

// An open that could write, create or delete: a preview refuses it.
bool OpensToChange(DWORD access, DWORD disposition, DWORD flags) {
    return disposition != OPEN_EXISTING || (access & kWritingRights) || (flags & FILE_FLAG_DELETE_ON_CLOSE);
}

}  // namespace

HANDLE PreviewPlatform::CreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                    DWORD disposition, DWORD flags, HANDLE templateFile) {
    // An open to move the object only: made without the right to delete,
    // and the move itself is recorded.
    if (disposition == OPEN_EXISTING && (access & kWritingRights) == DELETE && !(flags & FILE_FLAG_DELETE_ON_CLOSE)) {
        access &= ~static_cast<DWORD>(DELETE);
    }
    if (OpensToChange(access, disposition, flags)) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    return Platform::CreateFileA(path, access, share, security, disposition, flags, templateFile);
}
HANDLE PreviewPlatform::CreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                    DWORD disposition, DWORD flags, HANDLE templateFile) {
    if (OpensToChange(access, disposition, flags)) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    return Platform::CreateFileW(path, access, share, security, disposition, flags, templateFile);
}
BOOL PreviewPlatform::SetFileInformationByHandle(HANDLE file, FILE_INFO_BY_HANDLE_CLASS infoClass, LPVOID information,
                                                 DWORD size) {
    char name[1024] = {};
    const DWORD n = Platform::GetFinalPathNameByHandleA(file, name, sizeof name, 0);
    std::string from = n > 0 && n < sizeof name ? name : "an open file or folder";
    if (from.compare(0, 4, "\\\\?\\") == 0) from.erase(0, 4);
    if (infoClass == FileRenameInfo && information && size >= sizeof(FILE_RENAME_INFO)) {
        const auto* rename = static_cast<const FILE_RENAME_INFO*>(information);
        std::wstring to(rename->FileName, rename->FileNameLength / sizeof(wchar_t));
        if (to.compare(0, 4, L"\\??\\") == 0) to.erase(0, 4);
        Record("moved into the run's holding folder", from + " -> " + Narrow(to.c_str()));
    } else {
        Record("file information changed", from);
    }
    return TRUE;
}

// ---- registry ----

std::string PreviewPlatform::KeyName(HKEY root, const std::string& subKey, REGSAM sam) {
    std::string name = RootText(root);
    if (name.empty()) {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = keys_.find(root);
        if (it != keys_.end()) {
            name = it->second.name;
            if (!(sam & (KEY_WOW64_64KEY | KEY_WOW64_32KEY))) sam = it->second.sam;
        }
    }
    if (!subKey.empty()) name += "\\" + subKey;
    return name + View(sam);
}

std::string PreviewPlatform::KeyName(HKEY key) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = keys_.find(key);
    if (it != keys_.end()) return it->second.name + View(it->second.sam);
    const std::string root = RootText(key);
    return root.empty() ? "an open key" : root + View(0);
}

void PreviewPlatform::Remember(HKEY key, HKEY root, const std::string& subKey, REGSAM sam) {
    std::string name = RootText(root);
    REGSAM view = sam & (KEY_WOW64_64KEY | KEY_WOW64_32KEY);
    std::lock_guard<std::mutex> lock(mutex_);
    if (name.empty()) {
        auto it = keys_.find(root);
        if (it != keys_.end()) {
            name = it->second.name;
            if (!view) view = it->second.sam;
        }
    }
    if (!subKey.empty()) name += "\\" + subKey;
    keys_[key] = {name, view};
}

HKEY PreviewPlatform::FakeKey(HKEY root, const std::string& subKey, REGSAM sam) {
    HKEY key;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // Never a handle Windows hands out: values of open keys are small
        // multiples of four.
        key = reinterpret_cast<HKEY>(static_cast<UINT_PTR>(0x7FFF0001u + 4u * ++fakeKeys_));
    }
    Remember(key, root, subKey, sam);
    return key;
}

LSTATUS PreviewPlatform::CreateMissingKey(HKEY root, const std::string& subKey, REGSAM sam, PHKEY key,
                                          LPDWORD disposition) {
    const std::string name = KeyName(root, subKey, sam);
    Record("registry key created", name);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        deletedKeys_.erase(Upper(name));
        createdKeys_.insert(Upper(name));
    }
    *key = FakeKey(root, subKey, sam);
    if (disposition) *disposition = REG_CREATED_NEW_KEY;
    return ERROR_SUCCESS;
}

LSTATUS PreviewPlatform::RegOpenKeyExA(HKEY root, LPCSTR subKey, DWORD options, REGSAM sam, PHKEY key) {
    LSTATUS rc = Platform::RegOpenKeyExA(root, subKey, options, sam, key);
    if (rc == ERROR_SUCCESS && key) Remember(*key, root, subKey ? subKey : "", sam);
    return rc;
}

LSTATUS PreviewPlatform::RegCreateKeyExA(HKEY root, LPCSTR subKey, DWORD, LPSTR, DWORD options, REGSAM sam,
                                         LPSECURITY_ATTRIBUTES, PHKEY key, LPDWORD disposition) {
    // An existing key is only opened; a missing one would be created.
    const REGSAM read = KEY_READ | (sam & (KEY_WOW64_64KEY | KEY_WOW64_32KEY));
    if (Platform::RegOpenKeyExA(root, subKey, options, read, key) == ERROR_SUCCESS) {
        Remember(*key, root, subKey ? subKey : "", sam);
        if (disposition) *disposition = REG_OPENED_EXISTING_KEY;
        return ERROR_SUCCESS;
    }
    return CreateMissingKey(root, subKey ? subKey : "", sam, key, disposition);
}

LSTATUS PreviewPlatform::RegCloseKey(HKEY key) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        keys_.erase(key);
    }
    const UINT_PTR value = reinterpret_cast<UINT_PTR>(key);
    if (value > 0x7FFF0001u && (value - 0x7FFF0001u) % 4 == 0) return ERROR_SUCCESS;
    return Platform::RegCloseKey(key);
}

LSTATUS PreviewPlatform::RegSetValueExA(HKEY key, LPCSTR name, DWORD, DWORD, const BYTE*, DWORD) {
    Record("registry value written", KeyName(key) + " : " + (name && *name ? name : "(default)"));
    return ERROR_SUCCESS;
}
LSTATUS PreviewPlatform::RegDeleteValueA(HKEY key, LPCSTR name) {
    Record("registry value deleted", KeyName(key) + " : " + (name && *name ? name : "(default)"));
    return ERROR_SUCCESS;
}
LSTATUS PreviewPlatform::RegDeleteKeyA(HKEY root, LPCSTR subKey) {
    return static_cast<LSTATUS>(DeleteKey(root, subKey ? subKey : "", 0, ERROR_ACCESS_DENIED));
}
DWORD PreviewPlatform::SHDeleteValueA(HKEY root, LPCSTR subKey, LPCSTR value) {
    // The shell's helper deletes only what exists.
    HKEY key = nullptr;
    if (Platform::RegOpenKeyExA(root, subKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return ERROR_FILE_NOT_FOUND;
    const LSTATUS rc = Platform::RegQueryValueExA(key, value, nullptr, nullptr, nullptr, nullptr);
    Platform::RegCloseKey(key);
    if (rc != ERROR_SUCCESS) return static_cast<DWORD>(rc);
    Record("registry value deleted",
           KeyName(root, subKey ? subKey : "", 0) + " : " + (value && *value ? value : "(default)"));
    return ERROR_SUCCESS;
}
DWORD PreviewPlatform::SHDeleteEmptyKeyA(HKEY root, LPCSTR subKey) {
    // The shell's helper deletes a key without subkeys only.
    return DeleteKey(root, subKey ? subKey : "", 0, ERROR_KEY_HAS_CHILDREN);
}
LSTATUS PreviewPlatform::RegDeleteKeyExA(HKEY key, LPCSTR subKey, REGSAM sam, DWORD) {
    return static_cast<LSTATUS>(DeleteKey(key, subKey ? subKey : "", sam, ERROR_ACCESS_DENIED));
}

LSTATUS PreviewPlatform::RegLoadKeyA(HKEY, LPCSTR subKey, LPCSTR file) {
    Record("user registry not loaded", std::string(file ? file : "") + " (as HKEY_USERS\\" + (subKey ? subKey : "") +
                                           "; what it holds is not listed)");
    return ERROR_ACCESS_DENIED;
}
LSTATUS PreviewPlatform::RegUnLoadKeyA(HKEY, LPCSTR) { return ERROR_SUCCESS; }

// Windows deletes no key that still has subkeys; the ones this run has
// deleted by now count as gone.
DWORD PreviewPlatform::DeleteKey(HKEY root, const std::string& subKey, REGSAM sam, DWORD refusal) {
    const REGSAM view = sam & (KEY_WOW64_64KEY | KEY_WOW64_32KEY);
    const std::string name = KeyName(root, subKey, sam);
    bool created = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (deletedKeys_.count(Upper(name))) return ERROR_FILE_NOT_FOUND;
        created = createdKeys_.erase(Upper(name)) > 0;
        if (created) deletedKeys_.insert(Upper(name));
    }
    if (created) {
        Record("registry key deleted", name);
        return ERROR_SUCCESS;
    }
    HKEY open = nullptr;
    if (Platform::RegOpenKeyExA(root, subKey.c_str(), 0, KEY_READ | view, &open) != ERROR_SUCCESS) {
        return ERROR_FILE_NOT_FOUND;
    }
    bool holdsKey = false;
    char child[256];
    for (DWORD i = 0; !holdsKey; ++i) {
        DWORD size = sizeof child;
        if (Platform::RegEnumKeyExA(open, i, child, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        const std::string childName = KeyName(root, subKey.empty() ? std::string(child) : subKey + "\\" + child, sam);
        std::lock_guard<std::mutex> lock(mutex_);
        holdsKey = deletedKeys_.count(Upper(childName)) == 0;
    }
    Platform::RegCloseKey(open);
    if (holdsKey) return refusal;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        deletedKeys_.insert(Upper(name));
    }
    Record("registry key deleted", name);
    return ERROR_SUCCESS;
}
LSTATUS PreviewPlatform::RegOpenKeyExW(HKEY root, LPCWSTR subKey, DWORD options, REGSAM sam, PHKEY key) {
    LSTATUS rc = Platform::RegOpenKeyExW(root, subKey, options, sam, key);
    if (rc == ERROR_SUCCESS && key) Remember(*key, root, Narrow(subKey), sam);
    return rc;
}
LSTATUS PreviewPlatform::RegCreateKeyExW(HKEY root, LPCWSTR subKey, DWORD, LPWSTR, DWORD options, REGSAM sam,
                                         LPSECURITY_ATTRIBUTES, PHKEY key, LPDWORD disposition) {
    const REGSAM read = KEY_READ | (sam & (KEY_WOW64_64KEY | KEY_WOW64_32KEY));
    if (Platform::RegOpenKeyExW(root, subKey, options, read, key) == ERROR_SUCCESS) {
        Remember(*key, root, Narrow(subKey), sam);
        if (disposition) *disposition = REG_OPENED_EXISTING_KEY;
        return ERROR_SUCCESS;
    }
    return CreateMissingKey(root, Narrow(subKey), sam, key, disposition);
}
LSTATUS PreviewPlatform::RegSetValueExW(HKEY key, LPCWSTR name, DWORD, DWORD, const BYTE*, DWORD) {
    Record("registry value written", KeyName(key) + " : " + (name && *name ? Narrow(name) : "(default)"));
    return ERROR_SUCCESS;
}
LSTATUS PreviewPlatform::RegDeleteValueW(HKEY key, LPCWSTR name) {
    Record("registry value deleted", KeyName(key) + " : " + (name && *name ? Narrow(name) : "(default)"));
    return ERROR_SUCCESS;
}
LSTATUS PreviewPlatform::RegFlushKey(HKEY) { return ERROR_SUCCESS; }

// ---- services ----

SC_HANDLE PreviewPlatform::OpenServiceA(SC_HANDLE manager, LPCSTR name, DWORD access) {
    SC_HANDLE service = Platform::OpenServiceA(manager, name, access);
    if (service) {
        std::lock_guard<std::mutex> lock(mutex_);
        services_[service] = name ? name : "";
        stopped_.erase(service);
    }
    return service;
}
BOOL PreviewPlatform::ControlService(SC_HANDLE service, DWORD control, LPSERVICE_STATUS status) {
    std::string name;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        name = services_[service];
        if (control == SERVICE_CONTROL_STOP) stopped_.insert(service);
    }
    Record(control == SERVICE_CONTROL_STOP ? "service stopped" : "service controlled", name);
    if (status) {
        std::memset(status, 0, sizeof *status);
        status->dwCurrentState = SERVICE_STOPPED;
    }
    return TRUE;
}
BOOL PreviewPlatform::QueryServiceStatus(SC_HANDLE service, LPSERVICE_STATUS status) {
    BOOL ok = Platform::QueryServiceStatus(service, status);
    std::lock_guard<std::mutex> lock(mutex_);
    // A service the run stopped is seen as stopped, as it would be.
    if (ok && status && stopped_.count(service)) status->dwCurrentState = SERVICE_STOPPED;
    return ok;
}
BOOL PreviewPlatform::DeleteService(SC_HANDLE service) {
    std::string name;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        name = services_[service];
    }
    Record("service deleted", name);
    return TRUE;
}
BOOL PreviewPlatform::StartServiceA(SC_HANDLE service, DWORD, LPCSTR*) {
    std::string name;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        name = services_[service];
    }
    Record("service started", name);
    return TRUE;
}

// ---- processes ----

HANDLE PreviewPlatform::OpenProcess(DWORD access, BOOL inherit, DWORD processId) {
    HANDLE process = Platform::OpenProcess(access, inherit, processId);
    if (process) {
        const std::string name = ProcessName(process, processId);
        std::lock_guard<std::mutex> lock(mutex_);
        processes_[process] = name;
    }
    return process;
}
BOOL PreviewPlatform::TerminateProcess(HANDLE process, UINT) {
    std::string name;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = processes_.find(process);
        if (it != processes_.end()) name = it->second;
    }
    if (name.empty()) name = ProcessName(process, 0);
    Record("process terminated", name);
    return TRUE;
}
DWORD PreviewPlatform::WaitForMultipleObjects(DWORD, const HANDLE*, BOOL, DWORD) {
    // The processes the run would have ended: nothing to wait for.
    return WAIT_OBJECT_0;
}
BOOL PreviewPlatform::CreateProcessA(LPCSTR application, LPSTR commandLine, LPSECURITY_ATTRIBUTES,
                                     LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID, LPCSTR, LPSTARTUPINFOA,
                                     LPPROCESS_INFORMATION info) {
    Record("program started", commandLine && *commandLine ? commandLine : (application ? application : ""));
    if (info) std::memset(info, 0, sizeof *info);
    return TRUE;
}
BOOL PreviewPlatform::CreateProcessW(LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES,
                                     LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID, LPCWSTR, LPSTARTUPINFOW,
                                     LPPROCESS_INFORMATION info) {
    Record("program started", commandLine && *commandLine ? Narrow(commandLine) : Narrow(application));
    if (info) std::memset(info, 0, sizeof *info);
    return TRUE;
}
DWORD PreviewPlatform::WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    // A program the preview did not start has ended at once.
    if (!handle) return WAIT_OBJECT_0;
    return Platform::WaitForSingleObject(handle, milliseconds);
}
BOOL PreviewPlatform::GetExitCodeProcess(HANDLE process, LPDWORD code) {
    if (!process) {
        if (code) *code = 0;
        return TRUE;
    }
    return Platform::GetExitCodeProcess(process, code);
}

// ---- access control ----

DWORD PreviewPlatform::SetSecurityInfo(HANDLE object, SE_OBJECT_TYPE type, SECURITY_INFORMATION, PSID, PSID, PACL,
                                       PACL) {
    if (type == SE_REGISTRY_KEY) {
        Record("registry permissions opened to Administrators", KeyName(static_cast<HKEY>(object)));
        return ERROR_SUCCESS;
    }
    Record("permissions changed", "an open file or folder");
    return ERROR_SUCCESS;
}
DWORD PreviewPlatform::SetNamedSecurityInfoA(LPSTR name, SE_OBJECT_TYPE type, SECURITY_INFORMATION, PSID, PSID, PACL,
                                             PACL) {
    Record(type == SE_FILE_OBJECT ? "file permissions given to SYSTEM and Administrators alone"
                                  : "registry permissions opened to Administrators",
           std::string(name ? name : "") + (type == static_cast<SE_OBJECT_TYPE>(12) ? " (64-bit view)" : ""));
    return ERROR_SUCCESS;
}

// ---- installer ----

UINT PreviewPlatform::MsiConfigureProductExW(LPCWSTR product, int, INSTALLSTATE, LPCWSTR) {
    wchar_t version[100] = {};
    DWORD size = 100;
    Platform::MsiGetProductInfoW(product, L"VersionString", version, &size);
    wchar_t name[260] = {};
    size = 260;
    Platform::MsiGetProductInfoW(product, L"ProductName", name, &size);
    Record("product uninstalled", Narrow(product) + " " + Narrow(name) + " version " + Narrow(version));
    return ERROR_SUCCESS;
}
UINT PreviewPlatform::MsiInstallProductW(LPCWSTR packagePath, LPCWSTR commandLine) {
    Record("package run", Narrow(packagePath) + " " + Narrow(commandLine));
    return ERROR_SUCCESS;
}

// ---- Winsock catalogue ----

int PreviewPlatform::WSCDeinstallProvider(LPGUID providerId, LPINT error) {
    Record("catalogue entry deinstalled", providerId ? GuidText(*providerId) : "");
    if (error) *error = 0;
    return 0;
}

// ---- Security Center and firewall ----

HRESULT PreviewPlatform::DeleteInstance(IWbemServices*, const BSTR objectPath, long, IWbemContext*,
                                        IWbemCallResult**) {
    Record("Security Center registration deleted", Narrow(objectPath));
    return S_OK;
}
HRESULT PreviewPlatform::put_FirewallEnabled(INetFwProfile*, VARIANT_BOOL enabled) {
    Record("firewall switched", enabled ? "on" : "off");
    return S_OK;
}

// ---- privileges and restart ----

BOOL PreviewPlatform::AdjustTokenPrivileges(HANDLE, BOOL, PTOKEN_PRIVILEGES, DWORD, PTOKEN_PRIVILEGES, PDWORD) {
    Record("privilege enabled", "SeShutdownPrivilege");
    return TRUE;
}
BOOL PreviewPlatform::ExitWindowsEx(UINT flags, DWORD) {
    Record("Windows restarted", (flags & EWX_REBOOT) ? "restart" : "shut down");
    return TRUE;
}
BOOL PreviewPlatform::InitiateSystemShutdownExA(LPSTR, LPSTR, DWORD timeout, BOOL, BOOL, DWORD) {
    Record("Windows restarted", "restart after " + std::to_string(timeout) + " seconds");
    return TRUE;
}

}  // namespace platform
