#include "tests/support/test_platform.h"

#include <sddl.h>
#include <shlobj.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>

#include "platform/handles.h"

#include <vector>

namespace testing_support {

void TestPlatform::OutputDebugStringA(LPCSTR text) {
    std::lock_guard<std::mutex> lock(mutex_);
    debugOutput_ += text ? text : "";
}

std::string TestPlatform::DebugOutput() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return debugOutput_;
}

void TestPlatform::ClearDebugOutput() {
    std::lock_guard<std::mutex> lock(mutex_);
    debugOutput_.clear();
}

void TestPlatform::Sleep(DWORD milliseconds) { sleeps.push_back(milliseconds); }

int TestPlatform::MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT type) {
    boxes.push_back({text ? text : "", caption ? caption : "", type});
    return messageBoxAnswer;
}

void TestPlatform::GetLocalTime(LPSYSTEMTIME time) {
    if (localTime) {
        localTime(time);
    } else {
        Platform::GetLocalTime(time);
    }
}

namespace {

void RecordFolder(std::vector<TestPlatform::CreatedFolder>& folders, const std::string& path,
                  LPSECURITY_ATTRIBUTES security) {
    if (!security || !security->lpSecurityDescriptor) return;
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    ::GetSecurityDescriptorDacl(security->lpSecurityDescriptor, &present, &dacl, &defaulted);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ::GetSecurityDescriptorControl(security->lpSecurityDescriptor, &control, &revision);
    folders.push_back({path, (control & SE_DACL_PROTECTED) != 0, Entries(present ? dacl : nullptr)});
}

}  // namespace

BOOL TestPlatform::CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES security) {
    RecordFolder(createdFolders, path ? path : "", security);
    return Platform::CreateDirectoryA(path, security);
}

BOOL TestPlatform::CreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES security) {
    char narrow[MAX_PATH * 2] = {};
    ::WideCharToMultiByte(CP_ACP, 0, path ? path : L"", -1, narrow, sizeof narrow, nullptr, nullptr);
    RecordFolder(createdFolders, narrow, security);
    return Platform::CreateDirectoryW(path, security);
}

DWORD TestPlatform::GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size) {
    return moduleFileNameW ? moduleFileNameW(module, buffer, size) : Platform::GetModuleFileNameW(module, buffer, size);
}

DWORD TestPlatform::GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) {
    return moduleFileName ? moduleFileName(module, buffer, size) : Platform::GetModuleFileNameA(module, buffer, size);
}

std::time_t TestPlatform::Time() { return now ? now() : Platform::Time(); }

void TestPlatform::LockKey(const std::string& objectName, SE_OBJECT_TYPE type) {
    lockedKeys_.emplace_back(objectName, type);
}

std::vector<std::pair<std::string, SE_OBJECT_TYPE>>::const_iterator TestPlatform::FindLocked(
    const std::string& name, SE_OBJECT_TYPE type) const {
    for (auto it = lockedKeys_.begin(); it != lockedKeys_.end(); ++it) {
        if (it->second == type && _stricmp(it->first.c_str(), name.c_str()) == 0) return it;
    }
    return lockedKeys_.end();
}

bool TestPlatform::LockedObject(const std::string& name, SE_OBJECT_TYPE type) const {
    return FindLocked(name, type) != lockedKeys_.end();
}

bool TestPlatform::KeyLocked(HKEY root, LPCSTR subKey, SE_OBJECT_TYPE type) const {
    if (!subKey || lockedKeys_.empty()) return false;
    const std::string path = KeyPath(root, subKey, &type);
    return !path.empty() && LockedObject(path, type);
}

std::string TestPlatform::KeyPath(HKEY root, LPCSTR subKey, SE_OBJECT_TYPE* type) const {
    const char* rootName = root == HKEY_CLASSES_ROOT    ? "CLASSES_ROOT"
                           : root == HKEY_CURRENT_USER  ? "CURRENT_USER"
                           : root == HKEY_LOCAL_MACHINE ? "MACHINE"
                           : root == HKEY_USERS         ? "USERS"
                                                        : nullptr;
    std::string path;
    if (rootName) {
        path = rootName;
    } else {
        std::lock_guard<std::mutex> lock(keyNamesMutex_);
        const auto it = keyNames_.find(root);
        if (it == keyNames_.end()) return std::string();
        path = it->second.first;
        if (type) *type = it->second.second;
    }
    if (subKey && *subKey) path += std::string("\\") + subKey;
    return path;
}

std::string TestPlatform::KeyName(HKEY key, SE_OBJECT_TYPE* type) const {
    std::lock_guard<std::mutex> lock(keyNamesMutex_);
    const auto it = keyNames_.find(key);
    if (it == keyNames_.end()) return std::string();
    if (type) *type = it->second.second;
    return it->second.first;
}

LSTATUS TestPlatform::RegOpenKeyExA(HKEY root, LPCSTR subKey, DWORD options, REGSAM sam, PHKEY key) {
    // 32-bit Windows has one view, whatever the open asks for; a key opened
    // below an open key is in that key's view.
    SE_OBJECT_TYPE type = (sam & KEY_WOW64_64KEY) && wow64 ? platform::kRegistryWow64_64Key : SE_REGISTRY_KEY;
    const std::string path = KeyPath(root, subKey, &type);
    // A locked key lets its owner at its permissions, and nobody at its
    // contents.
    const REGSAM rights = sam & ~(KEY_WOW64_64KEY | KEY_WOW64_32KEY);
    const REGSAM ownerRights = READ_CONTROL | WRITE_DAC | WRITE_OWNER;
    if (!path.empty() && (rights & ~ownerRights) != 0 && LockedObject(path, type)) return ERROR_ACCESS_DENIED;
    const LSTATUS rc = Platform::RegOpenKeyExA(root, subKey, options, sam, key);
    if (rc == ERROR_SUCCESS && key && !path.empty()) {
        std::lock_guard<std::mutex> lock(keyNamesMutex_);
        keyNames_[*key] = {path, type};
    }
    return rc;
}

LSTATUS TestPlatform::RegCloseKey(HKEY key) {
    {
        std::lock_guard<std::mutex> lock(keyNamesMutex_);
        keyNames_.erase(key);
    }
    return Platform::RegCloseKey(key);
}

DWORD TestPlatform::SHDeleteValueA(HKEY root, LPCSTR subKey, LPCSTR value) {
    if (KeyLocked(root, subKey, SE_REGISTRY_KEY)) return ERROR_ACCESS_DENIED;
    return Platform::SHDeleteValueA(root, subKey, value);
}

DWORD TestPlatform::SHDeleteEmptyKeyA(HKEY root, LPCSTR subKey) {
    if (KeyLocked(root, subKey, SE_REGISTRY_KEY)) return ERROR_ACCESS_DENIED;
    return Platform::SHDeleteEmptyKeyA(root, subKey);
}

namespace {

bool ReadFileId(HANDLE file, TestPlatform::FileId& id) {
    BY_HANDLE_FILE_INFORMATION information = {};
    if (file == INVALID_HANDLE_VALUE || !::GetFileInformationByHandle(file, &information)) return false;
    id = {information.dwVolumeSerialNumber, information.nFileIndexHigh, information.nFileIndexLow};
    return true;
}

HANDLE OpenForId(LPCSTR name) {
    return ::CreateFileA(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

}  // namespace

void TestPlatform::OwnByTrustedInstaller(const std::string& path) {
    if (installerSid_.empty()) {
        PSID sid = nullptr;
        ::ConvertStringSidToSidA("S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464", &sid);
        installerSid_.assign(static_cast<BYTE*>(sid), static_cast<BYTE*>(sid) + ::GetLengthSid(sid));
        ::LocalFree(sid);
    }
    platform::FileHandle file(OpenForId(path.c_str()));
    FileId id = {};
    if (ReadFileId(file.get(), id)) installerOwned_.push_back(id);
}

void TestPlatform::ReportInstallerOwner(HANDLE file, PSID* owner) {
    FileId id = {};
    if (!owner || installerOwned_.empty() || !ReadFileId(file, id)) return;
    for (const FileId& owned : installerOwned_) {
        if (owned.volume == id.volume && owned.high == id.high && owned.low == id.low) {
            *owner = installerSid_.data();
        }
    }
}

DWORD TestPlatform::GetNamedSecurityInfoA(LPCSTR name, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID* owner,
                                          PSID* group, PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* descriptor) {
    securityCalls.push_back({name ? name : "", type, info, false});
    const DWORD rc = Platform::GetNamedSecurityInfoA(name, type, info, owner, group, dacl, sacl, descriptor);
    if (rc == ERROR_SUCCESS && type == SE_FILE_OBJECT && (info & OWNER_SECURITY_INFORMATION) && name) {
        platform::FileHandle file(OpenForId(name));
        ReportInstallerOwner(file.get(), owner);
    }
    return rc;
}

DWORD TestPlatform::SetNamedSecurityInfoA(LPSTR name, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID owner,
                                          PSID group, PACL dacl, PACL sacl) {
    const std::string object = name ? name : "";
    securityCalls.push_back({object, type, info, true});
    if (keepFilePermissions && type == SE_FILE_OBJECT) {
        filePermissionChanges.push_back(object);
        return ERROR_SUCCESS;
    }
    return Platform::SetNamedSecurityInfoA(name, type, info, owner, group, dacl, sacl);
}

DWORD TestPlatform::GetSecurityInfo(HANDLE object, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID* owner,
                                    PSID* group, PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* descriptor) {
    SE_OBJECT_TYPE view = type;
    const std::string key = type == SE_REGISTRY_KEY ? KeyName(static_cast<HKEY>(object), &view) : std::string();
    if (key.empty()) {
        const DWORD rc = Platform::GetSecurityInfo(object, type, info, owner, group, dacl, sacl, descriptor);
        if (rc == ERROR_SUCCESS && type == SE_FILE_OBJECT && (info & OWNER_SECURITY_INFORMATION)) {
            ReportInstallerOwner(object, owner);
        }
        return rc;
    }
    securityCalls.push_back({key, view, info, false});
    if (!LockedObject(key, view)) {
        return Platform::GetSecurityInfo(object, type, info, owner, group, dacl, sacl, descriptor);
    }
    // A descriptor without a DACL, freed by the caller with LocalFree.
    auto* sd = static_cast<PSECURITY_DESCRIPTOR>(::LocalAlloc(LPTR, SECURITY_DESCRIPTOR_MIN_LENGTH));
    if (!sd) return ERROR_NOT_ENOUGH_MEMORY;
    ::InitializeSecurityDescriptor(sd, SECURITY_DESCRIPTOR_REVISION);
    if (owner) *owner = nullptr;
    if (group) *group = nullptr;
    if (dacl) *dacl = nullptr;
    if (sacl) *sacl = nullptr;
    if (descriptor) {
        *descriptor = sd;
    } else {
        ::LocalFree(sd);
    }
    return ERROR_SUCCESS;
}

DWORD TestPlatform::SetSecurityInfo(HANDLE object, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID owner,
                                    PSID group, PACL dacl, PACL sacl) {
    SE_OBJECT_TYPE view = type;
    const std::string key = type == SE_REGISTRY_KEY ? KeyName(static_cast<HKEY>(object), &view) : std::string();
    if (key.empty()) return Platform::SetSecurityInfo(object, type, info, owner, group, dacl, sacl);
    securityCalls.push_back({key, view, info, true});
    const auto locked = FindLocked(key, view);
    if (locked == lockedKeys_.end()) return Platform::SetSecurityInfo(object, type, info, owner, group, dacl, sacl);
    if ((info & DACL_SECURITY_INFORMATION) && dacl) lockedKeys_.erase(locked);
    return ERROR_SUCCESS;
}

SC_HANDLE TestPlatform::OpenSCManagerA(LPCSTR machine, LPCSTR database, DWORD access) {
    if (serviceManagerError == 0) return Platform::OpenSCManagerA(machine, database, access);
    ::SetLastError(serviceManagerError);
    return nullptr;
}

HANDLE TestPlatform::CreateToolhelp32Snapshot(DWORD flags, DWORD processId) {
    if (snapshotError == 0) return Platform::CreateToolhelp32Snapshot(flags, processId);
    ::SetLastError(snapshotError);
    return INVALID_HANDLE_VALUE;
}

BOOL TestPlatform::GetUserNameA(LPSTR buffer, LPDWORD size) {
    if (userNameError == 0) return Platform::GetUserNameA(buffer, size);
    ::SetLastError(userNameError);
    return FALSE;
}

BOOL TestPlatform::IsWow64Process(HANDLE process, PBOOL wow64Flag) {
    if (!hasIsWow64Process) {
        ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return FALSE;
    }
    BOOL ok = Platform::IsWow64Process(process, wow64Flag);
    if (ok && !wow64 && wow64Flag) *wow64Flag = FALSE;
    return ok;
}

bool TestPlatform::HasIsWow64Process() { return hasIsWow64Process && Platform::HasIsWow64Process(); }

LSTATUS TestPlatform::RegDeleteKeyExA(HKEY key, LPCSTR subKey, REGSAM sam, DWORD reserved) {
    if (!hasRegDeleteKeyExA) return ERROR_CALL_NOT_IMPLEMENTED;
    return Platform::RegDeleteKeyExA(key, subKey, sam, reserved);
}

bool TestPlatform::HasRegDeleteKeyExA() { return hasRegDeleteKeyExA && Platform::HasRegDeleteKeyExA(); }

UINT TestPlatform::MsiEnumRelatedProductsW(LPCWSTR upgradeCode, DWORD reserved, DWORD index, LPWSTR productCode) {
    const UINT result = enumRelatedProducts ? enumRelatedProducts(upgradeCode, index, productCode)
                                            : Platform::MsiEnumRelatedProductsW(upgradeCode, reserved, index,
                                                                                productCode);
    enumCalls.push_back(
        {upgradeCode ? upgradeCode : L"", index, result, result == ERROR_SUCCESS && productCode ? productCode : L""});
    return result;
}

UINT TestPlatform::MsiConfigureProductExW(LPCWSTR product, int installLevel, INSTALLSTATE state,
                                          LPCWSTR commandLine) {
    configuredProducts.push_back(product ? product : L"");
    const UINT fault = configureProductFault ? configureProductFault(product) : 0;
    if (fault != 0) return fault;
    return Platform::MsiConfigureProductExW(product, installLevel, state, commandLine);
}

UINT TestPlatform::MsiInstallProductW(LPCWSTR packagePath, LPCWSTR commandLine) {
    const bool existed = packagePath && ::GetFileAttributesW(packagePath) != INVALID_FILE_ATTRIBUTES;
    const UINT fault = installProductFault ? installProductFault(packagePath) : 0;
    const UINT result = fault != 0 ? fault : Platform::MsiInstallProductW(packagePath, commandLine);
    installCalls.push_back({packagePath ? packagePath : L"", commandLine ? commandLine : L"", existed, result});
    return result;
}

INSTALLUILEVEL TestPlatform::MsiSetInternalUI(INSTALLUILEVEL level, HWND* window) {
    uiLevels.push_back(level);
    return Platform::MsiSetInternalUI(level, window);
}

namespace {

// The stand-in console's handles: values no real handle takes.
HANDLE const kConsoleOutput = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0x7f10));
HANDLE const kConsoleError = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0x7f14));

}  // namespace

HANDLE TestPlatform::GetStdHandle(DWORD which) {
    if (console && which == STD_OUTPUT_HANDLE) return kConsoleOutput;
    if (console && which == STD_ERROR_HANDLE) return kConsoleError;
    return Platform::GetStdHandle(which);
}

DWORD TestPlatform::StandardHandleKind(HANDLE handle) {
    if (handle == GetStdHandle(STD_OUTPUT_HANDLE)) return STD_OUTPUT_HANDLE;
    if (handle == GetStdHandle(STD_ERROR_HANDLE)) return STD_ERROR_HANDLE;
    return 0;
}

BOOL TestPlatform::GetConsoleMode(HANDLE handle, LPDWORD mode) {
    if (console && (handle == kConsoleOutput || handle == kConsoleError)) {
        *mode = ENABLE_PROCESSED_OUTPUT | ENABLE_WRAP_AT_EOL_OUTPUT;
        return TRUE;
    }
    return Platform::GetConsoleMode(handle, mode);
}

BOOL TestPlatform::WriteConsoleW(HANDLE handle, const VOID* text, DWORD length, LPDWORD written, LPVOID reserved) {
    consoleWrites.push_back({StandardHandleKind(handle), true, std::wstring(static_cast<const wchar_t*>(text), length)});
    if (console && (handle == kConsoleOutput || handle == kConsoleError)) {
        if (written) *written = length;
        return TRUE;
    }
    return Platform::WriteConsoleW(handle, text, length, written, reserved);
}

BOOL TestPlatform::WriteFile(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped) {
    const DWORD kind = StandardHandleKind(file);
    if (kind != 0) {
        const char* bytes = static_cast<const char*>(data);
        const int length = ::MultiByteToWideChar(CP_UTF8, 0, bytes, static_cast<int>(size), nullptr, 0);
        std::wstring text(static_cast<size_t>(length > 0 ? length : 0), L'\0');
        if (length > 0) ::MultiByteToWideChar(CP_UTF8, 0, bytes, static_cast<int>(size), &text[0], length);
        consoleWrites.push_back({kind, false, text});
    }
    return Platform::WriteFile(file, data, size, written, overlapped);
}

BOOL TestPlatform::GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS informationClass, LPVOID information,
                                       DWORD size, PDWORD returnedSize) {
    const BOOL ok = Platform::GetTokenInformation(token, informationClass, information, size, returnedSize);
    if (ok && information && informationClass == TokenGroups && editTokenGroups) {
        editTokenGroups(static_cast<TOKEN_GROUPS*>(information));
    }
    return ok;
}

BOOL TestPlatform::GetVersionExA(LPOSVERSIONINFOA info) {
    const BOOL ok = Platform::GetVersionExA(info);
    if (ok) info->dwPlatformId = platformId;
    if (ok && windowsMajorVersion != 0) info->dwMajorVersion = windowsMajorVersion;
    return ok;
}

BOOL TestPlatform::GetVersionExW(LPOSVERSIONINFOW info) {
    const BOOL ok = Platform::GetVersionExW(info);
    if (ok && windowsMajorVersion != 0) info->dwMajorVersion = windowsMajorVersion;
    return ok;
}

std::string SpecialFolder(int csidl) {
    char path[MAX_PATH] = {};
    return ::SHGetSpecialFolderPathA(nullptr, path, csidl, FALSE) ? path : "";
}

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteWholeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

bool PathExists(const std::string& path) { return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

DWORD RunAndWait(const std::string& commandLine, DWORD timeoutMs) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    if (!::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                          &info)) {
        return ~0u;
    }
    platform::ObjectHandle process(info.hProcess), thread(info.hThread);
    if (::WaitForSingleObject(process.get(), timeoutMs) != WAIT_OBJECT_0) return ~0u;
    DWORD code = ~0u;
    ::GetExitCodeProcess(process.get(), &code);
    return code;
}

bool RunningOnWine() {
    HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::string ProgramFolder() {
    char path[MAX_PATH] = {};
    DWORD n = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string p(path, n);
    return p.substr(0, p.find_last_of('\\') + 1);
}

std::string BuiltProgram(const char* name) {
    std::string folder = ProgramFolder();
    for (int up = 0; up < 4; ++up) {
        const std::string candidate = folder + "bin\\" + name;
        if (::GetFileAttributesA(candidate.c_str()) != INVALID_FILE_ATTRIBUTES) return candidate;
        folder += "..\\";
    }
    return ProgramFolder() + name;
}

std::string UnixPath(const std::string& windowsPath) {
    char prefix[1024] = {};
    if (!::GetEnvironmentVariableA("WINEPREFIX", prefix, sizeof prefix)) return "";
    std::string unix = std::string(prefix) + "/drive_c" + windowsPath.substr(2);
    std::replace(unix.begin(), unix.end(), '\\', '/');
    return unix;
}

DWORD RunUnix(const std::string& arguments) {
    return RunAndWait("C:\\windows\\system32\\cmd.exe /c start /wait /unix " + arguments, 60000);
}

UnixLink::UnixLink(const std::string& target, const std::string& link) : path(link) {
    RunUnix("/bin/rm -f \"" + path + "\"");
    made = RunUnix("/bin/ln -s \"" + target + "\" \"" + path + "\"");
}

UnixLink::~UnixLink() { RunUnix("/bin/rm -f \"" + path + "\""); }

}  // namespace testing_support
