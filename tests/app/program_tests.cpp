// Clearway.exe itself on a damaged machine: the program of this build tree
// started as a process with --noreboot, its exit code, what the run removed
// at once, a real restart of the prefix, and what is gone and what stays;
// with a configuration full of mistakes that must cost nothing but
// themselves: everything outside the product is exactly as it was.
// The run holds its specified pauses (about three minutes, most of them the
// MSI step's built-in table): this one test takes that long.
#include <gtest/gtest.h>
#include <shlobj.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/handles.h"
#include "profile/engine.h"
#include "tests/app/damaged_setup.h"
#include "tests/support/damaged_machine.h"
#include "tests/support/machine_picture.h"
#include "tests/support/matchers.h"
#include "tests/support/msi_packages.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_dialog.h"
#include "tests/support/test_platform.h"
#include "trace/trace.h"

using testing_support::DamagedMachine;
using testing_support::Fate;
using testing_support::ItemKind;
using testing_support::FindMsiPackage;
using testing_support::MachineItem;
using testing_support::MsiPackage;
using testing_support::ProgramFolder;
using testing_support::RunAndWait;
using testing_support::TempFolder;

namespace {

const DWORD kRunTimeoutMs = 10 * 60 * 1000;

// Checks every item against its fate; restarted says whether the prefix has
// restarted since the run (files go only then).
void ExpectMachine(const DamagedMachine& machine, bool restarted) {
    for (const MachineItem& item : machine.Items()) {
        SCOPED_TRACE(item.KindText() + " " + item.name + " (" + item.note + ")");
        const bool present = DamagedMachine::Present(item);
        switch (item.fate) {
            case Fate::Stays: EXPECT_TRUE(present) << "must stay"; break;
            case Fate::GoesNow: EXPECT_FALSE(present) << "must be gone after the run"; break;
            case Fate::GoesAtRestart:
                EXPECT_EQ(present, !restarted) << (restarted ? "must be gone after the restart"
                                                             : "must stay until the restart (only scheduled)");
                break;
        }
    }
}

// ---- everything else on the machine ----
// Every file, folder, key and value outside what the run may change, with
// what it holds; a folder's times and a key's last write are left out, as
// they change when something below them goes.
using testing_support::Picture;
using testing_support::Upper;

// The machine's configuration with the mistakes people and scripts make,
// each of which must cost nothing but its entry: keys of the system with a
// trailing backslash, bare wildcards in common folders and in the Run key,
// a path without a drive, a profile through a compatibility link, service
// and process patterns that are nothing but a wildcard, and the ignore
// entries in other spellings.
std::string WithMistakes(const DamagedMachine& machine, const std::string& compat) {
    std::string config = machine.Configuration();
    auto replace = [&config](const std::string& from, const std::string& to) {
        const size_t at = config.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        config.replace(at, from.size(), to);
    };
    replace("ignore=REG_KEY,BY_VALUE,HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmoran\\Shared\n",
            "ignore=REG_KEY,BY_VALUE,hkey_local_machine\\software\\\\velmoran\\shared\\\n");
    replace("ignore=FILE_NAME_EXPAND,BY_VALUE,%PROGRAM_FILES%\\Velmoran\\Shared\n",
            "ignore=FILE_NAME_EXPAND,BY_VALUE,%PROGRAM_FILES%\\Velmoran\\.\\Shared\\\n");
    replace("[service 1]\n", "[service 1]\nremove=SERVICE_NAME,BY_VALUE,*\n");
    replace("[process 1]\n", "[process 1]\nstop=PROCESS_NAME,BY_VALUE,*\n");
    replace("[registry value 1]\n",
            "[registry value 1]\n"
            "remove=REG_VALUE,BY_VALUE,HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run\\*\n");
    replace("[registry key 1]\n",
            "[registry key 1]\n"
            "remove=REG_KEY,BY_VALUE,HKEY_LOCAL_MACHINE\\SOFTWARE\\\n"
            "remove=REG_KEY,BY_VALUE,HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\\n"
            "remove=REG_KEY,BY_VALUE,HKEY_CURRENT_USER\\Software\\\n");
    replace("[file 1]\n",
            "[file 1]\n"
            "remove=FILE_NAME_EXPAND,BY_VALUE,%COMMON_APPDATA%\\*\n"
            "remove=FILE_NAME_EXPAND,BY_VALUE,%APPDATA%\\*\n"
            "remove=FILE_NAME,BY_VALUE,\\WINDOWS\n"
            "remove=FILE_NAME,BY_VALUE,Velmoran\n"
            "remove=FILE_NAME,BY_VALUE," + compat + "\\john\n"
            "remove=FILE_NAME,BY_VALUE," + compat + "\\*\n");
    return config;
}

TEST(ProgramTest, ASilentRunWithoutRestartRemovesTheInstallationAndTheRestartFinishesIt) {
    const testing_support::LaidMachine laid;
    if (HasFatalFailure()) return;
    const MsiPackage& package = laid.package;
    const DamagedMachine& machine = laid.machine;

    // The program in a folder of its own, with the machine's configuration
    // and the mistakes. The profiles folder under another name, as
    // "Documents and Settings" names it on later Windows.
    TempFolder folder("program");
    const std::string program = testing_support::PlaceProgram(folder, machine);
    char profile[MAX_PATH] = {};
    ::GetEnvironmentVariableA("USERPROFILE", profile, MAX_PATH);
    const std::string users = std::string(profile).substr(0, std::string(profile).rfind('\\'));
    testing_support::UnixLink compat(testing_support::UnixPath(users), testing_support::UnixPath(folder / "Compat"));
    ASSERT_EQ(compat.made, 0u);
    const std::string config = WithMistakes(machine, folder / "Compat");
    if (HasFatalFailure()) return;
    testing_support::WriteWholeFile(folder / "Clearway.cfg", config);

    // Everything but what the machine says goes, the product's MSI records,
    // the run's own log and marker, and the program's folder.
    std::vector<std::string> skipped = {Upper(package.InstallFolder()), "C:\\PROGRAMDATA\\VELMORAN CLEARWAY",
                                        Upper(folder.path()), "C:\\WINDOWS\\INSTALLER", "C:\\WINDOWS\\TEMP\\VELSETUP-1.LOG",
                                        "C:\\WINDOWS\\TEMP\\VELSETUP-2.LOG",
                                        "HKEY_LOCAL_MACHINE\\SOFTWARE\\CLASSES\\INSTALLER",
                                        "HKEY_LOCAL_MACHINE\\SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\INSTALLER",
                                        "HKEY_LOCAL_MACHINE\\SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\UNINSTALL\\" +
                                            Upper(package.productCode),
                                        "HKEY_LOCAL_MACHINE\\SOFTWARE\\VELMORAN CLEARWAY"};
    // The product's own trees the configuration names: what stays in them
    // is checked item by item.
    char appData[MAX_PATH] = {};
    ::SHGetSpecialFolderPathA(nullptr, appData, CSIDL_APPDATA, FALSE);
    const std::string perUser = std::string(appData).substr(std::string(profile).size());
    for (const std::string& tree : {std::string("HKEY_LOCAL_MACHINE\\SOFTWARE\\VELMORAN"), std::string("HKEY_CURRENT_USER\\SOFTWARE\\VELMORAN"),
                                    Upper(std::string(profile) + perUser + "\\Velmoran"),
                                    Upper(users + "\\john" + perUser + "\\Velmoran")}) {
        skipped.push_back(tree);
    }
    for (const MachineItem& item : machine.Items()) {
        if (item.fate != Fate::Stays) skipped.push_back(Upper(item.name));
    }
    // A machine key as the 64-bit view shows the 32-bit one.
    const std::string software = "HKEY_LOCAL_MACHINE\\SOFTWARE\\";
    for (size_t i = 0, n = skipped.size(); i < n; ++i) {
        if (skipped[i].compare(0, software.size(), software) == 0) {
            skipped.push_back(software + "WOW6432NODE\\" + skipped[i].substr(software.size()));
        }
    }
    testing_support::PictureRules rules;
    rules.skipped = skipped;
    rules.parentTimes = false;
    auto registry = [&rules]() {
        Picture picture;
        for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
            testing_support::ExportKey(HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE", "SOFTWARE", view, picture, rules);
        }
        testing_support::ExportKey(HKEY_CURRENT_USER, "HKEY_CURRENT_USER", "Software", 0, picture, rules);
        return picture;
    };
    auto files = [&rules, &users]() {
        Picture picture;
        for (const char* path : {"C:\\ProgramData", "C:\\Program Files", "C:\\Program Files (x86)", "C:\\windows"}) {
            testing_support::ListFiles(path, picture, rules);
        }
        testing_support::ListFiles(users, picture, rules);
        return picture;
    };
    const Picture registryBefore = registry();
    const Picture filesBefore = files();

    // 3010: completed, a restart is still needed.
    EXPECT_EQ(RunAndWait("\"" + program + "\" --noreboot", kRunTimeoutMs), 3010u);
    const std::string log = testing_support::ReadWholeFile("C:\\ProgramData\\Velmoran clearway\\Clearway.log");
    EXPECT_THAT(log, HasSubstr("CleanupRegKeys")) << log;
    // Each mistake refused in one line.
    for (const char* refusal : {"ListServicesByName: refusing '*'", "ListProcessesByName: refusing '*'",
                                "ExpandRegKeyEntry: refusing to remove 'HKEY_LOCAL_MACHINE\\SOFTWARE': it is a key of the system",
                                "ListRegValuesByName: refusing 'HKEY_LOCAL_MACHINE\\SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\RUN\\*'",
                                "ExpandRemoveFileEntry: refusing to remove '\\WINDOWS': it is not a full path"}) {
        EXPECT_THAT(log, HasSubstr(refusal)) << refusal;
    }
    ExpectMachine(machine, false);
    EXPECT_EQ(testing_support::Differences(registryBefore, registry()), "");

    ASSERT_EQ(RunAndWait("C:\\windows\\system32\\wineboot.exe -r", 120000), 0u);
    ExpectMachine(machine, true);
    EXPECT_EQ(testing_support::Differences(filesBefore, files()), "");

}

// The sample configuration that ships with the program reads without error.
TEST(ProgramTest, TheShippedSampleConfigurationReads) {
    TraceShutdown();
    const std::string sample = testing_support::ReadWholeFile(ProgramFolder() + "sample.cfg");
    ASSERT_FALSE(sample.empty());
    testing_support::WriteWholeFile(ProgramFolder() + "program_tests.cfg", sample);
    testing_support::TestPlatform os;
    testing_support::TestDialog dialog;
    dialog.productName = "Velmoran Parlowe";
    CNuke engine(os);
    engine.dialog = &dialog;
    EXPECT_EQ(engine.InitializeLists(0, 0), 0u) << engine.errorText;
    EXPECT_EQ(engine.PopulateLists(), 0u);
    // One entry of each of its sections reached its list.
    EXPECT_TRUE(engine.removeMsiUpgradeCodeList.Contains("{00000000-0000-0000-0000-000000000000}"));
    EXPECT_TRUE(engine.ignoreServiceList.Contains("VELPARLOWEUPDATE"));
    EXPECT_TRUE(engine.removeRegKeyList.Contains("HKEY_LOCAL_MACHINE\\SOFTWARE\\VELMORAN\\PARLOWE"));
    EXPECT_TRUE(engine.ignoreFileList.Contains("C:\\PROGRAM FILES\\VELMORAN\\QUARANTINE"));
    TraceShutdown();
    ::DeleteFileA((ProgramFolder() + "program_tests.cfg").c_str());
}

}  // namespace
