// The preview platform against every call of the platform seam: each call
// that could change the machine is answered without acting and listed, and
// a call added to the seam without a place here fails the walk.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "platform/handles.h"
#include "platform/preview.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_platform.h"

namespace {

// Calls that only read the machine, or act on the program's own process
// (its windows, threads, console, COM apartment, memory): a preview makes
// them as they are.
const std::set<std::string> kPassedThrough = {
    // system
    "GetModuleFileNameA", "GetFileVersionInfoSizeA", "GetFileVersionInfoA", "VerQueryValueA", "OutputDebugStringA",
    "GetLocalTime", "GetCommandLineA", "SetDefaultDllDirectories", "FileTimeToLocalFileTime", "FileTimeToSystemTime", "GetTickCount", "QueryPerformanceCounter", "QueryPerformanceFrequency", "Time",
    "GetCurrentThreadId", "GetCurrentProcessId", "InitializeCriticalSection", "EnterCriticalSection", "LeaveCriticalSection",
    "DeleteCriticalSection", "GetLastError", "SetLastError", "GetVersionExA",
    "MultiByteToWideChar", "WideCharToMultiByte", "GetEnvironmentVariableA", "ExpandEnvironmentStringsA",
    "MessageBoxA", "DebugBreak", "ExitProcess", "IsWow64Process", "GetCurrentProcess", "HasIsWow64Process",
    "GetModuleFileNameW", "GetVersionExW", "GetCurrentThread",
    // files
    "GetFileAttributesA", "GetLongPathNameA", "Access", "FindFirstFileA", "FindNextFileA", "FindClose",
    "FindFirstFileW", "FindNextFileW",
    "GetWindowsDirectoryA", "GetSystemDirectoryA", "GetLogicalDriveStringsA", "GetDriveTypeA", "GetTempPathW",
    "GetFullPathNameA", "GetFileInformationByHandle", "GetFinalPathNameByHandleA", "HasGetFinalPathNameByHandleA",
    "GetFileInformationByHandleEx", "HasGetFileInformationByHandleEx",
    "CreateFileA", "CreateFileW",  // open for reading only: a writing or creating open is refused
    "SetFilePointer",
    // registry
    "RegOpenKeyExA", "RegCloseKey", "RegQueryValueExA", "RegEnumValueA", "RegEnumKeyA", "RegEnumKeyExA",
    "RegQueryInfoKeyA", "SHGetValueA", "HasRegDeleteKeyExA", "RegOpenKeyExW", "RegQueryValueExW",
    "RegFlushKey",  // writes nothing of its own
    "RegUnLoadKeyA",  // nothing is loaded in a preview
    "RegEnumValueW", "RegEnumKeyExW", "RegKeyFullName",
    // shell
    "SHGetSpecialFolderPathA", "GetUserNameA", "PathFindFileNameA", "PathFindOnPathA",
    // services
    "OpenSCManagerA", "EnumServicesStatusA", "CloseServiceHandle", "OpenServiceA", "QueryServiceStatus",
    "LockServiceDatabase", "UnlockServiceDatabase", "QueryServiceConfigA", "EnumDependentServicesA",
    // processes
    "CreateToolhelp32Snapshot", "Process32First", "Process32Next", "CloseHandle", "OpenProcess",
    "WaitForMultipleObjects", "EnumProcesses", "EnumProcessModules", "GetModuleFileNameExA",
    "QueryFullProcessImageNameA", "WaitForSingleObject", "GetExitCodeProcess",
    "CreateMutexA", "OpenMutexA",  // the run's own named mutex; nothing of the machine's
    // access control (lists built in memory; reading)
    "AllocateAndInitializeSid", "FreeSid", "BuildTrusteeWithSidW", "SetEntriesInAclW", "GetNamedSecurityInfoA",
    "GetNamedSecurityInfoW", "GetSecurityInfo", "GenerateRandom", "LookupAccountNameA", "GetAclInformation", "GetAce", "DeleteAce", "InitializeAcl", "AddAce", "EqualSid",
    "GetLengthSid", "OpenThreadToken", "OpenProcessToken", "GetTokenInformation",
    // installer
    "MsiEnumRelatedProductsW", "MsiGetProductInfoW", "MsiSetInternalUI",
    "MsiEnableLogW",  // names the log of the process's next installer call; a preview makes none
    // console (the standard handles)
    "GetStdHandle", "GetConsoleMode", "WriteConsoleW", "WriteFile", "AttachConsole", "PrintStdout",
    // Winsock catalogue
    "WSCEnumProtocols",
    // COM
    "CoInitialize", "CoInitializeEx", "CoUninitialize", "CoCreateInstance", "SysAllocString", "SysFreeString",
    "ConnectServer", "get_LocalPolicy", "get_CurrentProfile", "get_FirewallEnabled",
    // windows, dialogs, resources, threads
    "DialogBoxParamA", "EndDialog", "PostMessageA", "SendMessageA", "GetDlgItem", "SetDlgItemTextA",
    "SetWindowTextA", "EnableWindow", "ShowWindow", "IsIconic", "GetSystemMenu", "AppendMenuA", "LoadStringA",
    "LoadIconA", "MessageBeep", "GetSystemMetrics", "FormatMessageA", "LocalFree", "GetProcessWindowStation",
    "GetUserObjectInformationA", "CreateThread", "LookupPrivilegeValueA", "ProcessIdToSessionId",
    "MsgWaitForMultipleObjects", "PeekMessageA",
    // the run's own event, as its log is its own: what a preview would change
    "RegisterEventSourceA", "ReportEventA", "DeregisterEventSource",
};

// Every virtual call the seam declares.
std::set<std::string> SeamCalls() {
    std::set<std::string> names;
    std::FILE* file = std::fopen(CLEARWAY_SOURCE_DIR "/platform/platform.h", "rb");
    EXPECT_NE(file, nullptr);
    if (!file) return names;
    std::string text;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) text.append(buffer, n);
    std::fclose(file);
    const std::regex call(R"(virtual\s+[\w:\*\s]+?\b(\w+)\s*\()");
    for (std::sregex_iterator it(text.begin(), text.end(), call), end; it != end; ++it) names.insert((*it)[1]);
    return names;
}

LONG KeyValue(REGSAM view, const char* name, std::string& out) {
    char data[64] = {};
    DWORD size = sizeof data - 1;
    HKEY key = nullptr;
    LONG rc = ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\ClearwayTests\\Preview", 0, KEY_READ | view, &key);
    if (rc != ERROR_SUCCESS) return rc;
    rc = ::RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size);
    ::RegCloseKey(key);
    out = data;
    return rc;
}

TEST(PreviewPlatformTest, EveryCallThatWouldChangeTheMachineIsListedAndNotMade) {
    testing_support::TempFolder folder("preview_platform");
    const std::string file = folder / "keep.txt";
    testing_support::WriteWholeFile(file, "data");
    const std::string subfolder = folder / "sub";
    ::CreateDirectoryA(subfolder.c_str(), nullptr);
    const std::wstring wideFile(file.begin(), file.end());
    const char kKey[] = "SOFTWARE\\ClearwayTests\\Preview";
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
        HKEY key = nullptr;
        ASSERT_EQ(::RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &key,
                                    nullptr),
                  ERROR_SUCCESS);
        ::RegSetValueExA(key, "Stay", 0, REG_SZ, reinterpret_cast<const BYTE*>("1"), 2);
        ::RegCloseKey(key);
    }
    platform::ServiceHandle manager(::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    platform::ServiceHandle service(::CreateServiceA(manager.get(), "cwpreviewsvc", "cwpreviewsvc",
                                                     SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                                     SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE,
                                                     "C:\\windows\\system32\\notepad.exe", nullptr, nullptr, nullptr,
                                                     nullptr, nullptr));
    ASSERT_TRUE(service) << ::GetLastError();

    platform::PreviewPlatform os;
    HKEY open = nullptr;
    ASSERT_EQ(os.RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, &open), ERROR_SUCCESS);
    SC_HANDLE opened = os.OpenServiceA(manager.get(), "cwpreviewsvc", SERVICE_ALL_ACCESS);
    HANDLE self = os.OpenProcess(PROCESS_ALL_ACCESS, FALSE, ::GetCurrentProcessId());
    GUID provider = {0x1234, 0x5678, 0x9abc, {1, 2, 3, 4, 5, 6, 7, 8}};
    char commandLine[] = "cmd.exe /c exit 3";
    wchar_t wideCommandLine[] = L"cmd.exe /c exit 4";

    // Each changing call, made on a real target.
    const std::map<std::string, std::function<void()>> kChanges = {
        {"Sleep", [&] { os.Sleep(60000); }},
        {"SetFileAttributesA", [&] { os.SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY); }},
        {"CreateDirectoryA", [&] { os.CreateDirectoryA((folder / "new").c_str(), nullptr); }},
        {"DeleteFileA", [&] { os.DeleteFileA(file.c_str()); }},
        {"RemoveDirectoryA", [&] { os.RemoveDirectoryA(subfolder.c_str()); }},
        {"OpenSharedStream", [&] { EXPECT_EQ(os.OpenSharedStream(file.c_str(), "w"), nullptr); }},
        {"MoveFileExA", [&] { os.MoveFileExA(file.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT); }},
        {"ScheduleDeletionsAtRestart", [&] { EXPECT_EQ(os.ScheduleDeletionsAtRestart({file + ".later"}), 0u); }},
        {"RegLoadKeyA", [&] { EXPECT_NE(os.RegLoadKeyA(HKEY_USERS, "Clearway S-1-5-21-1", file.c_str()), 0); }},
        {"CopyFileW", [&] { os.CopyFileW(wideFile.c_str(), (wideFile + L".copy").c_str(), FALSE); }},
        {"DeleteFileW", [&] { os.DeleteFileW((wideFile + L".other").c_str()); }},
        {"CreateDirectoryW", [&] { os.CreateDirectoryW(std::wstring(wideFile + L".new").c_str(), nullptr); }},
        {"RemoveDirectoryW", [&] { os.RemoveDirectoryW((std::wstring(subfolder.begin(), subfolder.end()) + L"W").c_str()); }},
        {"SetSecurityInfo",
         [&] { os.SetSecurityInfo(nullptr, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr, nullptr); }},
        {"SetFileInformationByHandle",
         [&] {
             // Opened to be moved, through the preview: the open is allowed, the move recorded.
             platform::FileHandle moving(os, os.CreateFileA(file.c_str(), DELETE | FILE_READ_ATTRIBUTES,
                                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                            nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT,
                                                            nullptr));
             ASSERT_TRUE(moving);
             const std::wstring to = L"\\??\\" + wideFile + L".moved";
             std::vector<BYTE> buffer(sizeof(FILE_RENAME_INFO) + to.size() * sizeof(wchar_t), 0);
             auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
             rename->FileNameLength = static_cast<DWORD>(to.size() * sizeof(wchar_t));
             std::memcpy(rename->FileName, to.c_str(), to.size() * sizeof(wchar_t));
             EXPECT_TRUE(os.SetFileInformationByHandle(moving.get(), FileRenameInfo, rename,
                                                       static_cast<DWORD>(buffer.size())));
         }},
        {"SetEndOfFile",
         [&] {
             platform::FileHandle read(::CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                     OPEN_EXISTING, 0, nullptr));
             os.SetEndOfFile(read.get());
         }},
        {"RegCreateKeyExA",
         [&] {
             HKEY created = nullptr;
             os.RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\ClearwayTests\\Preview\\New", 0, nullptr, 0,
                                KEY_ALL_ACCESS, nullptr, &created, nullptr);
             os.RegCloseKey(created);
         }},
        {"RegSetValueExA", [&] { os.RegSetValueExA(open, "Stay", 0, REG_SZ, reinterpret_cast<const BYTE*>("2"), 2); }},
        {"RegDeleteValueA", [&] { os.RegDeleteValueA(open, "Stay"); }},
        {"RegDeleteKeyA", [&] { os.RegDeleteKeyA(HKEY_LOCAL_MACHINE, kKey); }},
        {"SHDeleteValueA", [&] { os.SHDeleteValueA(HKEY_LOCAL_MACHINE, kKey, "Stay"); }},
        // The key the preview created above: a key of other tests would hold subkeys.
        {"SHDeleteEmptyKeyA",
         [&] { os.SHDeleteEmptyKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\ClearwayTests\\Preview\\New"); }},
        {"RegDeleteKeyExA", [&] { os.RegDeleteKeyExA(HKEY_LOCAL_MACHINE, kKey, KEY_WOW64_64KEY, 0); }},
        {"RegCreateKeyExW",
         [&] {
             HKEY created = nullptr;
             os.RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\ClearwayTests\\Preview\\NewW", 0, nullptr, 0,
                                KEY_ALL_ACCESS, nullptr, &created, nullptr);
             os.RegCloseKey(created);
         }},
        {"RegSetValueExW",
         [&] { os.RegSetValueExW(open, L"StayW", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"3"), 4); }},
        {"RegDeleteValueW", [&] { os.RegDeleteValueW(open, L"StayW"); }},
        {"ControlService",
         [&] {
             SERVICE_STATUS status;
             os.ControlService(opened, SERVICE_CONTROL_STOP, &status);
         }},
        {"DeleteService", [&] { os.DeleteService(opened); }},
        {"StartServiceA", [&] { os.StartServiceA(opened, 0, nullptr); }},
        {"TerminateProcess", [&] { os.TerminateProcess(self, 1); }},
        {"CreateProcessA",
         [&] {
             STARTUPINFOA startup = {};
             startup.cb = sizeof startup;
             PROCESS_INFORMATION info;
             os.CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info);
         }},
        {"CreateProcessW",
         [&] {
             STARTUPINFOW startup = {};
             startup.cb = sizeof startup;
             PROCESS_INFORMATION info;
             os.CreateProcessW(nullptr, wideCommandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                               &info);
         }},
        {"SetNamedSecurityInfoA",
         [&] {
             std::string name = file;
             os.SetNamedSecurityInfoA(&name[0], SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr,
                                      nullptr);
         }},
        {"MsiConfigureProductExW",
         [&] {
             os.MsiConfigureProductExW(L"{00000000-0000-0000-0000-000000000001}", 65535, INSTALLSTATE_ABSENT, L"");
         }},
        {"MsiInstallProductW", [&] { os.MsiInstallProductW(wideFile.c_str(), L"REMOVE=ALL"); }},
        {"WSCDeinstallProvider",
         [&] {
             int error = 0;
             os.WSCDeinstallProvider(&provider, &error);
         }},
        {"DeleteInstance", [&] { os.DeleteInstance(nullptr, const_cast<BSTR>(L"AntiVirusProduct.x=\"y\""), 0, nullptr, nullptr); }},
        {"put_FirewallEnabled", [&] { os.put_FirewallEnabled(nullptr, VARIANT_FALSE); }},
        {"AdjustTokenPrivileges",
         [&] {
             TOKEN_PRIVILEGES privileges = {};
             os.AdjustTokenPrivileges(nullptr, FALSE, &privileges, 0, nullptr, nullptr);
         }},
        {"ExitWindowsEx", [&] { os.ExitWindowsEx(EWX_REBOOT | EWX_FORCE, 0); }},
        {"InitiateSystemShutdownExA",
         [&] {
             char message[] = "x";
             os.InitiateSystemShutdownExA(nullptr, message, 60, TRUE, TRUE, 0);
         }},
    };

    const std::set<std::string> calls = SeamCalls();
    EXPECT_GT(calls.size(), kPassedThrough.size());  // the declarations were read
    for (const std::string& name : calls) {
        EXPECT_TRUE(kPassedThrough.count(name) || kChanges.count(name))
            << name << ": a platform call without a preview answer (list it as passed through, or answer it in "
                       "the preview platform and here)";
    }
    for (const auto& change : kChanges) {
        SCOPED_TRACE(change.first);
        EXPECT_EQ(kPassedThrough.count(change.first), 0u);
        const size_t before = os.Changes().size();
        const DWORD paused = os.PausedMilliseconds();
        change.second();
        if (change.first == "Sleep") {
            EXPECT_EQ(os.PausedMilliseconds(), paused + 60000);
        } else {
            EXPECT_EQ(os.Changes().size(), before + 1);
        }
    }

    // And nothing happened.
    EXPECT_EQ(testing_support::ReadWholeFile(file), "data");
    EXPECT_EQ(::GetFileAttributesA(file.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_FALSE(testing_support::PathExists(folder / "new"));
    EXPECT_FALSE(testing_support::PathExists(file + ".copy"));
    EXPECT_FALSE(testing_support::PathExists(file + ".moved"));
    EXPECT_TRUE(testing_support::PathExists(subfolder));
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
        std::string value;
        EXPECT_EQ(KeyValue(view, "Stay", value), ERROR_SUCCESS);
        EXPECT_EQ(value, "1");
    }
    HKEY key = nullptr;
    EXPECT_NE(::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\ClearwayTests\\Preview\\New", 0, KEY_READ, &key),
              ERROR_SUCCESS);
    SERVICE_STATUS status = {};
    EXPECT_TRUE(::QueryServiceStatus(service.get(), &status)) << "the service still exists";

    os.RegCloseKey(open);
    os.CloseServiceHandle(opened);
    ::CloseHandle(self);
    ::DeleteService(service.get());
    ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE\\ClearwayTests\\Preview");
    ::RegDeleteKeyExA(HKEY_LOCAL_MACHINE, kKey, KEY_WOW64_64KEY, 0);
}

}  // namespace
