// The populate step beside bare walks of the same trees, and the cost of
// scheduling growing numbers of paths. Prints figures; asserts nothing.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "actions/run_backup.h"
#include "platform/platform.h"
#include "profile/engine.h"
#include "guard/own_files.h"
#include "platform/handles.h"
#include "platform/privileges.h"
#include "profile/user_hives.h"
#include "tests/support/test_key.h"
#include "tests/support/test_platform.h"
#include "trace/trace.h"

namespace {

using Clock = std::chrono::steady_clock;
double Seconds(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

const char kTree[] = "C:\\clearway-work\\bench-tree";
const char kKey[] = "SOFTWARE\\ClearwayBench";
const char kSessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";

void RemoveTree(const std::string& path) {
    WIN32_FIND_DATAA data;
    HANDLE find = ::FindFirstFileA((path + "\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::string name = data.cFileName;
            if (name == "." || name == "..") continue;
            std::string child = path + "\\" + name;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(child);
            } else {
                ::DeleteFileA(child.c_str());
            }
        } while (::FindNextFileA(find, &data));
        ::FindClose(find);
    }
    ::RemoveDirectoryA(path.c_str());
}

// 2,000 folders (100 with 19 subfolders each), 10 files in every folder.
void MakeTree() {
    RemoveTree(kTree);
    ::CreateDirectoryA("C:\\clearway-work", nullptr);
    ::CreateDirectoryA(kTree, nullptr);
    for (int top = 0; top < 100; ++top) {
        std::string a = std::string(kTree) + "\\Folder" + std::to_string(top);
        ::CreateDirectoryA(a.c_str(), nullptr);
        for (int sub = 0; sub < 20; ++sub) {
            std::string folder = sub == 0 ? a : a + "\\Sub" + std::to_string(sub);
            ::CreateDirectoryA(folder.c_str(), nullptr);
            for (int f = 0; f < 10; ++f) {
                HANDLE h = ::CreateFileA((folder + "\\file" + std::to_string(f) + ".dat").c_str(), GENERIC_WRITE, 0,
                                         nullptr, CREATE_ALWAYS, 0, nullptr);
                ::CloseHandle(h);
            }
        }
    }
}

// 2,000 keys with 9 values each: 20,000 keys and values.
void MakeKeys() {
    ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, kKey);
    HKEY root = nullptr;
    ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &root,
                      nullptr);
    for (int k = 0; k < 2000; ++k) {
        HKEY key = nullptr;
        std::string name = "Group" + std::to_string(k / 20) + "\\Key" + std::to_string(k);
        ::RegCreateKeyExA(root, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &key,
                          nullptr);
        for (int v = 0; v < 9; ++v) {
            std::string value = "Value" + std::to_string(v);
            ::RegSetValueExA(key, value.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>("data"), 5);
        }
        ::RegCloseKey(key);
    }
    ::RegCloseKey(root);
}

size_t BareFileWalk(const std::string& path) {
    size_t count = 1;
    WIN32_FIND_DATAA data;
    HANDLE find = ::FindFirstFileA((path + "\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return count;
    do {
        std::string name = data.cFileName;
        if (name == "." || name == "..") continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            count += BareFileWalk(path + "\\" + name);
        } else {
            ++count;
        }
    } while (::FindNextFileA(find, &data));
    ::FindClose(find);
    return count;
}

size_t BareKeyWalk(HKEY parent, const std::string& path) {
    HKEY key = nullptr;
    if (::RegOpenKeyExA(parent, path.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) return 0;
    size_t count = 1;
    char name[261];
    for (DWORD i = 0; ::RegEnumKeyA(key, i, name, sizeof name) == ERROR_SUCCESS; ++i) count += BareKeyWalk(key, name);
    for (DWORD i = 0;; ++i) {
        DWORD size = sizeof name;
        if (::RegEnumValueA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        ++count;
    }
    ::RegCloseKey(key);
    return count;
}

// The pending renames of the prefix before the benchmark, put back after it.
std::vector<char> SavePendingRenames() {
    std::vector<char> data(1 << 20);
    DWORD size = static_cast<DWORD>(data.size());
    HKEY key = nullptr;
    ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_ALL_ACCESS, &key);
    if (::RegQueryValueExA(key, "PendingFileRenameOperations", nullptr, nullptr,
                           reinterpret_cast<BYTE*>(data.data()), &size) != ERROR_SUCCESS) {
        size = 0;
    }
    ::RegCloseKey(key);
    data.resize(size);
    return data;
}

void RestorePendingRenames(const std::vector<char>& data) {
    HKEY key = nullptr;
    ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_ALL_ACCESS, &key);
    if (data.empty()) {
        ::RegDeleteValueA(key, "PendingFileRenameOperations");
    } else {
        ::RegSetValueExA(key, "PendingFileRenameOperations", 0, REG_MULTI_SZ,
                         reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size()));
    }
    ::RegCloseKey(key);
}

// The same platform with the security descriptor writes left out, to show
// what the ACL reset of every folder costs on its own.
class NoAclWrites : public platform::Platform {
public:
    DWORD SetNamedSecurityInfoA(LPSTR, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID, PSID, PACL, PACL) override {
        return ERROR_SUCCESS;
    }
};

// 500 keys with 9 values each below root\path: 5,000 keys and values.
void MakeUserKeys(HKEY root, const std::string& path) {
    testing_support::DeleteKeyTree(root, path);
    for (int k = 0; k < 500; ++k) {
        const std::string key = path + "\\Group" + std::to_string(k / 20) + "\\Key" + std::to_string(k);
        for (int v = 0; v < 9; ++v) testing_support::SetText(root, key, "Value" + std::to_string(v), "data", 0);
    }
}

const char kUserKey[] = "Software\\ClearwayBenchUser";
const char kHiveSource[] = "Software\\ClearwayBenchHive";
const char kProfileList[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
const char* const kBenchUsers[] = {"S-1-5-21-777-777-777-1001", "S-1-5-21-777-777-777-1002"};

// Two more profiles whose hives hold the same keys as the running account's
// HKEY_CURRENT_USER\Software\ClearwayBenchUser; false when they cannot be made.
bool MakeUserProfiles() {
    MakeUserKeys(HKEY_CURRENT_USER, std::string(kHiveSource) + "\\" + kUserKey);
    platform::Platform& os = platform::ProductionPlatform();
    for (const char* sid : kBenchUsers) {
        const std::string folder = std::string("C:\\clearway-work\\") + sid;
        ::CreateDirectoryA("C:\\clearway-work", nullptr);
        ::CreateDirectoryA(folder.c_str(), nullptr);
        const std::string hive = folder + "\\NTUSER.DAT";
        ::DeleteFileA(hive.c_str());
        platform::RegKey source(os);
        if (::RegOpenKeyExA(HKEY_CURRENT_USER, kHiveSource, 0, KEY_READ, source.put()) != ERROR_SUCCESS) return false;
        platform::EnabledPrivileges privileges(os, {"SeBackupPrivilege", "SeRestorePrivilege"});
        if (::RegSaveKeyA(source.get(), hive.c_str(), nullptr) != ERROR_SUCCESS) return false;
        if (!testing_support::SetText(HKEY_LOCAL_MACHINE, std::string(kProfileList) + "\\" + sid, "ProfileImagePath",
                                      folder, KEY_WOW64_64KEY)) {
            return false;
        }
    }
    testing_support::DeleteKeyTree(HKEY_CURRENT_USER, kHiveSource);
    return true;
}

void RemoveUserProfiles() {
    for (const char* sid : kBenchUsers) {
        ::RegDeleteKeyExA(HKEY_LOCAL_MACHINE, (std::string(kProfileList) + "\\" + sid).c_str(), KEY_WOW64_64KEY, 0);
        const std::string folder = std::string("C:\\clearway-work\\") + sid;
        ::DeleteFileA((folder + "\\NTUSER.DAT").c_str());
        ::RemoveDirectoryA(folder.c_str());
    }
    testing_support::DeleteKeyTree(HKEY_CURRENT_USER, kUserKey);
}

// The registry steps for a HKEY_CURRENT_USER entry with the running
// account's hive only, and with two more users' hives loaded for the run:
// each hive may cost at most 1.2 times what the running account's does.
void UserHiveFigures() {
    if (!MakeUserProfiles()) {
        std::printf("users' hives: not measured (the profiles could not be made)\n");
        RemoveUserProfiles();
        return;
    }
    std::vector<double> times[2];
    for (int round = 0; round < 6; ++round) {
        const int allUsers = round % 2;
        MakeUserKeys(HKEY_CURRENT_USER, kUserKey);
        CNuke cleaner(platform::ProductionPlatform());
        cleaner.Backup().SetFolder("C:\\clearway-work\\no such folder\\backup");
        const std::string entry = std::string("HKEY_CURRENT_USER\\") + kUserKey;
        cleaner.removeRegKeyList.Insert(entry.c_str());
        if (allUsers) {
            cleaner.userHives.Load(guard::RunningUserSidText(cleaner.os));
            for (const UserHive& hive : cleaner.userHives.Hives()) {
                cleaner.removeRegKeyList.Insert(UserHives::ForHive(entry.c_str(), hive).c_str());
            }
        }
        const Clock::time_point start = Clock::now();
        cleaner.PopulateRemoveRegList();
        cleaner.CleanupRegValues();
        cleaner.CleanupRegKeys();
        times[allUsers].push_back(Seconds(start));
        std::printf("users' hives: %u hive%s, %d keys + %d values in %.3f s\n",
                    allUsers ? static_cast<unsigned>(cleaner.userHives.Hives().size()) + 1 : 1, allUsers ? "s" : "",
                    cleaner.expandedRegKeyList.Count(), cleaner.expandedRegValueList.Count(), times[allUsers].back());
        cleaner.UnloadUserHives();
    }
    for (auto& list : times) std::sort(list.begin(), list.end());
    std::printf("users' hives: median %.3f s for three hives, %.3f s for the running account's; per hive %.2f "
                "(goal: at most 1.2)\n",
                times[1][1], times[0][1], times[1][1] / 3 / times[0][1]);
    RemoveUserProfiles();
}

}  // namespace

// The populate step beside bare walks of the same trees.
void PopulateFigures() {
    std::printf("building 20,000 files in 2,000 folders and 20,000 keys and values...\n");
    MakeTree();
    MakeKeys();

    Clock::time_point start = Clock::now();
    size_t files = BareFileWalk(kTree);
    double bareFiles = Seconds(start);
    start = Clock::now();
    size_t keys = BareKeyWalk(HKEY_LOCAL_MACHINE, kKey);
    double bareKeys = Seconds(start);

    CNuke engine(platform::ProductionPlatform());
    engine.removeFileList.Insert(kTree);
    start = Clock::now();
    engine.PopulateRemoveFileList();
    double populateFiles = Seconds(start);
    NoAclWrites noAcl;
    CNuke withoutAcl(noAcl);
    withoutAcl.removeFileList.Insert(kTree);
    start = Clock::now();
    withoutAcl.PopulateRemoveFileList();
    double populateNoAcl = Seconds(start);
    engine.removeRegKeyList.Insert((std::string("HKEY_LOCAL_MACHINE\\") + kKey).c_str());
    start = Clock::now();
    engine.PopulateRemoveRegList();
    double populateKeys = Seconds(start);

    std::printf("files: bare walk %zu entries in %.3f s; populate %d entries in %.3f s; ratio %.2f (goal: at most 2)\n",
                files, bareFiles, engine.expandedFileList.Count(), populateFiles, populateFiles / bareFiles);
    std::printf("files without the ACL writes: %.3f s; ratio %.2f\n", populateNoAcl, populateNoAcl / bareFiles);
    // The same tree once anyone may add files to its folders: there a file
    // could be another user's name for a file elsewhere, so each file's
    // names are counted (one open per file).
    const DWORD made = testing_support::RunUnix("/bin/chmod -R 777 \"" + testing_support::UnixPath(kTree) + "\"");
    CNuke open(platform::ProductionPlatform());
    open.removeFileList.Insert(kTree);
    start = Clock::now();
    open.PopulateRemoveFileList();
    const double populateOpen = Seconds(start);
    if (made == 0) {
        std::printf("files in folders anyone may add to: populate %d entries in %.3f s; ratio %.2f\n",
                    open.expandedFileList.Count(), populateOpen, populateOpen / bareFiles);
    } else {
        std::printf("files in folders anyone may add to: not measured (chmod failed as %lu)\n",
                    static_cast<unsigned long>(made));
    }
    std::printf("registry: bare walk %zu keys and values in %.3f s; populate %d keys + %d values in %.3f s; ratio "
                "%.2f (goal: at most 2)\n",
                keys, bareKeys, engine.expandedRegKeyList.Count(), engine.expandedRegValueList.Count(), populateKeys,
                populateKeys / bareKeys);
}

int main(int argc, char** argv) {
    // The trace goes to a log as in a run, not to the debugger output.
    char folder[MAX_PATH] = {};
    const DWORD length = ::GetTempPathA(MAX_PATH, folder);
    if (length > 1 && folder[length - 1] == '\\') folder[length - 1] = '\0';
    InitTraceLog(nullptr, false, folder);
    const bool populateOnly = argc > 1 && std::string(argv[1]) == "--populate-only";
    // Only the registry steps with and without the backup.
    const bool registryOnly = argc > 1 && std::string(argv[1]) == "--registry-steps";
    // Only the registry steps over the users' hives.
    if (argc > 1 && std::string(argv[1]) == "--user-hives") {
        UserHiveFigures();
        TraceShutdown();
        return 0;
    }
    std::vector<char> pending = SavePendingRenames();
    // Only CleanupFiles's scheduling, without the calls per path beside it.
    const bool batchOnly = argc > 1 && std::string(argv[1]) == "--batch-only";
    if (!registryOnly && !batchOnly) PopulateFigures();
    Clock::time_point start;

    // The registry steps with the backup of each key and value before it is
    // deleted, and with a backup that cannot be written (each item then
    // costs one test): the goal is at most 1.3 times. Three rounds each,
    // taken in turns, and the medians compared: one round alone varies by
    // half with the state of the registry.
    std::vector<double> registrySteps[2];
    for (int round = 0; round < 6 && !populateOnly && !batchOnly; ++round) {
        const int withBackup = round % 2;
        MakeKeys();
        CNuke cleaner(platform::ProductionPlatform());
        if (!withBackup) cleaner.Backup().SetFolder("C:\\clearway-work\\no such folder\\backup");
        cleaner.removeRegKeyList.Insert((std::string("HKEY_LOCAL_MACHINE\\") + kKey).c_str());
        cleaner.PopulateRemoveRegList();
        start = Clock::now();
        cleaner.CleanupRegValues();
        cleaner.CleanupRegKeys();
        registrySteps[withBackup].push_back(Seconds(start));
        std::printf("registry steps %s the backup: %d keys + %d values in %.3f s (%u keys and %u values backed up)\n",
                    withBackup ? "with" : "without", cleaner.expandedRegKeyList.Count(),
                    cleaner.expandedRegValueList.Count(), registrySteps[withBackup].back(), cleaner.Backup().Keys(),
                    cleaner.Backup().Values());
    }
    if (!populateOnly && !batchOnly) {
        for (auto& times : registrySteps) std::sort(times.begin(), times.end());
        std::printf("registry steps: median %.3f s with the backup, %.3f s without; ratio %.2f (goal: at most 1.3)\n",
                    registrySteps[1][1], registrySteps[0][1], registrySteps[1][1] / registrySteps[0][1]);
    }

    if (!populateOnly && !batchOnly) UserHiveFigures();

    // Scheduling cost for growing lists (paths need not exist to be
    // scheduled): CleanupFiles, which writes the pending renames once,
    // beside a MoveFileExA call per path, which reads and writes the whole
    // value each time.
    double batchSeconds[3] = {};
    const int counts[] = {1000, 5000, 20000};
    const bool callsToo = !batchOnly;
    for (int n = 0; n < 3 && !populateOnly && !registryOnly; ++n) {
        const int count = counts[n];
        std::vector<std::string> paths;
        for (int i = 0; i < count; ++i) paths.push_back("C:\\CLEARWAY-WORK\\BENCH-SCHEDULE\\F" + std::to_string(i));
        {
            CNuke cleaner(platform::ProductionPlatform());
            for (const std::string& path : paths) cleaner.expandedFileList.Insert(path.c_str());
            start = Clock::now();
            cleaner.CleanupFiles();
            batchSeconds[n] = Seconds(start);
            RestorePendingRenames(pending);
        }
        double callSeconds = 0;
        if (callsToo) {
            start = Clock::now();
            for (const std::string& path : paths) ::MoveFileExA(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
            callSeconds = Seconds(start);
            RestorePendingRenames(pending);
        }
        std::printf("CleanupFiles: %d paths scheduled in %.3f s (%.1f us per path); MoveFileExA per path: %.3f s\n",
                    count, batchSeconds[n], batchSeconds[n] * 1e6 / count, callSeconds);
    }
    if (!populateOnly && !registryOnly) {
        std::printf("CleanupFiles: 20,000 paths in %.3f s (goal: under 2 s native); 20,000 to 1,000 ratio %.1f "
                    "(goal: at most 25, linear is 20)\n",
                    batchSeconds[2], batchSeconds[2] / batchSeconds[0]);
    }
    const std::string log = TraceLogPath() ? TraceLogPath() : "";
    TraceShutdown();
    if (!log.empty()) ::DeleteFileA(log.c_str());
    RemoveTree(kTree);
    ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, kKey);
    return 0;
}
