// Every user's registry: a second profile recorded in ProfileList, whose
// NTUSER.DAT is a real hive saved from a key of this prefix. A run loads
// it, applies the current user's entries to it as to HKEY_CURRENT_USER,
// and unloads it. Wine does not write a loaded hive back to its file when
// it is unloaded, so what the run deleted is checked while it is loaded.
#include <gtest/gtest.h>
#include <shlobj.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "actions/run_backup.h"
#include "actions/run_undo.h"
#include "platform/handles.h"
#include "platform/privileges.h"
#include "profile/engine.h"
#include "tests/support/matchers.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_dialog.h"
#include "tests/support/test_key.h"
#include "tests/support/test_platform.h"
#include "trace/trace.h"

using testing_support::KeyExists;
using testing_support::ProgramFolder;
using testing_support::ReadWholeFile;
using testing_support::TempFolder;
using testing_support::TestDialog;
using testing_support::TestPlatform;
using testing_support::ValueExists;
using testing_support::WriteWholeFile;

namespace {

const char kProfiles[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
const char kUser[] = "S-1-5-21-900-900-900-1501";      // a profile with a hive
const char kNoHive[] = "S-1-5-21-900-900-900-1502";    // a profile whose hive is missing
const char kLinked[] = "S-1-5-21-900-900-900-1503";    // a profile whose hive is a link out of it
const char kSource[] = "Software\\ClearwayTests\\HiveSource";
const char kClassesSource[] = "Software\\ClearwayTests\\ClassesSource";

class UserHivesTest : public ::testing::Test {
protected:
    void SetUp() override {
        TraceShutdown();
        // The user's hive: the product's key with a kept subkey, another
        // program's key, and a Run value of the product's.
        ASSERT_TRUE(source_.SetText("Software\\Velmoran\\Settings", "Level", "3", KEY_WOW64_64KEY));
        ASSERT_TRUE(source_.SetText("Software\\Velmoran\\Keep", "Data", "kept", KEY_WOW64_64KEY));
        ASSERT_TRUE(source_.SetText("Software\\Other", "Setting", "x", KEY_WOW64_64KEY));
        ASSERT_TRUE(source_.SetText("Software\\Velmoran\\Victim", "Path",
                                    "HKEY_LOCAL_MACHINE\\SOFTWARE\\ClearwayTests\\AnotherUsersChoice\\Value",
                                    KEY_WOW64_64KEY));
        ASSERT_TRUE(source_.SetText("Software\\Microsoft\\Windows\\CurrentVersion\\Run", "VelmoranTray",
                                    "C:\\Program Files\\Velmoran\\tray.exe", KEY_WOW64_64KEY));
        SaveHive(kSource, Hive());
        // The user's classes: the product's file type and the system's
        // class registrations.
        ASSERT_TRUE(classes_.SetText("VelmoranFile\\shell\\open", "", "tray.exe", KEY_WOW64_64KEY));
        ASSERT_TRUE(classes_.SetText("CLSID\\{0F1E2D3C-0000-0000-0000-00000000C1EA}", "", "kept", KEY_WOW64_64KEY));
        const std::string usrClass = user_ / "AppData\\Local\\Microsoft\\Windows";
        const int made = ::SHCreateDirectoryExA(nullptr, usrClass.c_str(), nullptr);
        ASSERT_TRUE(made == ERROR_SUCCESS || made == ERROR_ALREADY_EXISTS) << made;
        SaveHive(kClassesSource, UsrClass());
        // Its user made the hive file a link to a hive elsewhere.
        ASSERT_TRUE(::CopyFileA(Hive().c_str(), (elsewhere_ / "NTUSER.DAT").c_str(), FALSE));
        linkedHive_.reset(new testing_support::UnixLink(testing_support::UnixPath(elsewhere_ / "NTUSER.DAT"),
                                                        testing_support::UnixPath(linked_ / "NTUSER.DAT")));
        ASSERT_EQ(linkedHive_->made, 0u);
        const std::pair<const char*, std::string> profiles[] = {
            {kUser, user_.path()}, {kNoHive, noHive_.path()}, {kLinked, linked_.path()}};
        for (const auto& profile : profiles) {
            ASSERT_TRUE(testing_support::SetText(HKEY_LOCAL_MACHINE, std::string(kProfiles) + "\\" + profile.first,
                                                 "ProfileImagePath", profile.second, KEY_WOW64_64KEY));
        }
    }
    void TearDown() override {
        TraceShutdown();
        for (const char* sid : {kUser, kNoHive, kLinked}) {
            ::RegDeleteKeyExA(HKEY_LOCAL_MACHINE, (std::string(kProfiles) + "\\" + sid).c_str(), KEY_WOW64_64KEY, 0);
        }
        ::DeleteFileA(ConfigPath().c_str());
    }
    // Saves key (below HKEY_CURRENT_USER) as the hive file path, as it was made.
    void SaveHive(const char* key, const std::string& path) {
        ::DeleteFileA(path.c_str());
        platform::RegKey source(os_);
        ASSERT_EQ(::RegOpenKeyExA(HKEY_CURRENT_USER, key, 0, KEY_READ, source.put()), ERROR_SUCCESS);
        platform::EnabledPrivileges privileges(os_, {"SeBackupPrivilege", "SeRestorePrivilege"});
        ASSERT_EQ(::RegSaveKeyA(source.get(), path.c_str(), nullptr), ERROR_SUCCESS);
    }
    std::string UsrClass() const { return user_ / "AppData\\Local\\Microsoft\\Windows\\UsrClass.dat"; }
    std::string Hive() const { return user_ / "NTUSER.DAT"; }
    static std::string ConfigPath() { return ProgramFolder() + "user_hives_tests.cfg"; }
    static std::string Mounted(const std::string& path) {
        return std::string("Clearway ") + kUser + (path.empty() ? "" : "\\" + path);
    }
    std::string Log() {
        TraceShutdown();
        return ReadWholeFile(testing_support::SpecialFolder(CSIDL_COMMON_APPDATA) +
                             "\\Velmoran clearway\\user_hives_tests.log");
    }

    testing_support::TestKey source_{HKEY_CURRENT_USER, kSource};
    testing_support::TestKey classes_{HKEY_CURRENT_USER, kClassesSource};
    TempFolder user_{"clwt-user"};
    TempFolder noHive_{"clwt-nohive"};
    TempFolder linked_{"clwt-linked"};
    TempFolder elsewhere_{"clwt-elsewhere"};
    std::unique_ptr<testing_support::UnixLink> linkedHive_;
    TestPlatform os_;
    TestDialog dialog_;
};

// The removal every test runs: the current user's keys, a value, a
// reference, an ignored key and the user's classes.
const char kRemoval[] =
    "[msi upgradecode 1]\n[service 1]\n[process 1]\n[registry value 1]\n"
    "remove=REG_VALUE,BY_VALUE,HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\VelmoranTray\n"
    // What a value names is read from the running account's
    // registry only: another user's data never names a removal.
    "remove=REG_VALUE,BY_REFERENCE,HKEY_CURRENT_USER\\Software\\Velmoran\\Victim\\Path\n"
    "[registry key 1]\n"
    "remove=REG_KEY,BY_VALUE,HKEY_CURRENT_USER\\Software\\Velmoran\n"
    "ignore=REG_KEY,BY_VALUE,HKEY_CURRENT_USER\\Software\\Velmoran\\Keep\n"
    "remove=REG_KEY,BY_VALUE,HKEY_CURRENT_USER\\Software\\Classes\\VelmoranFile\n"
    "remove=REG_KEY,BY_VALUE,HKEY_CURRENT_USER\\Software\\Classes\\CLSID\n"
    "[file 1]\n";

TEST_F(UserHivesTest, TheCurrentUsersEntriesGoInEveryUsersHiveAndTheHiveIsUnloaded) {
    WriteWholeFile(ConfigPath(), kRemoval);
    {
        CNuke engine(os_);
        engine.dialog = &dialog_;
        ASSERT_EQ(engine.InitializeLists(0, 0), 0u) << engine.errorText;
        ASSERT_EQ(engine.PopulateLists(), 0u);
        ASSERT_TRUE(KeyExists(HKEY_USERS, Mounted("Software\\Velmoran\\Settings"), KEY_WOW64_64KEY));
        EXPECT_FALSE(engine.removeRegValueList.Contains(
            "HKEY_LOCAL_MACHINE\\SOFTWARE\\CLEARWAYTESTS\\ANOTHERUSERSCHOICE\\VALUE"));
        EXPECT_EQ(engine.CleanupRegValues(), 0u);
        EXPECT_EQ(engine.CleanupRegKeys(), 0u);

        // While it is loaded: the product's keys and value are gone, the
        // ignored key, its holder and another program's key stay.
        EXPECT_FALSE(KeyExists(HKEY_USERS, Mounted("Software\\Velmoran\\Settings"), KEY_WOW64_64KEY));
        EXPECT_TRUE(ValueExists(HKEY_USERS, Mounted("Software\\Velmoran\\Keep"), "Data", KEY_WOW64_64KEY));
        EXPECT_TRUE(ValueExists(HKEY_USERS, Mounted("Software\\Other"), "Setting", KEY_WOW64_64KEY));
        EXPECT_FALSE(ValueExists(HKEY_USERS, Mounted("Software\\Microsoft\\Windows\\CurrentVersion\\Run"),
                                 "VelmoranTray", KEY_WOW64_64KEY));
        // In the user's classes hive: the product's file type is gone, the
        // class registrations stay (a key of the system in every hive).
        const std::string userClasses = std::string("Clearway ") + kUser + "_Classes";
        EXPECT_FALSE(KeyExists(HKEY_USERS, userClasses + "\\VelmoranFile", KEY_WOW64_64KEY));
        EXPECT_TRUE(KeyExists(HKEY_USERS, userClasses + "\\CLSID\\{0F1E2D3C-0000-0000-0000-00000000C1EA}",
                              KEY_WOW64_64KEY));
        // The running account's own copy of the source is no user's hive.
        EXPECT_TRUE(source_.Exists("Software\\Velmoran\\Settings", KEY_WOW64_64KEY));

        // A profile whose hive cannot be loaded, or leads out of it, is
        // named as not removed; the hive elsewhere is not loaded.
        for (const char* sid : {kNoHive, kLinked}) {
            bool named = false;
            for (const std::string& what : engine.left) named = named || what.find(sid) != std::string::npos;
            EXPECT_TRUE(named) << sid;
        }
        EXPECT_FALSE(KeyExists(HKEY_USERS, std::string("Clearway ") + kLinked, KEY_WOW64_64KEY));

        engine.UnloadUserHives();
        EXPECT_FALSE(KeyExists(HKEY_USERS, Mounted(""), KEY_WOW64_64KEY));
        EXPECT_FALSE(KeyExists(HKEY_USERS, userClasses, KEY_WOW64_64KEY));

        // The backup holds what went from the loaded hive as notes only: an
        // import cannot reach a hive that is not loaded, and one key it
        // cannot write fails the whole import.
        const std::string path = engine.Backup().BackupPath();
        ASSERT_FALSE(path.empty());
        const std::string raw = ReadWholeFile(path);
        std::string backup;  // the UTF-16 file's ASCII text
        for (size_t i = 2; i + 1 < raw.size(); i += 2) backup += raw[i];
        EXPECT_THAT(backup, HasSubstr("; [HKEY_USERS\\Clearway " + std::string(kUser) + "\\Software\\Velmoran"))
            << backup;
        EXPECT_THAT(backup, Not(HasSubstr("\n[HKEY_USERS\\Clearway "))) << backup;
        EXPECT_THAT(backup, HasSubstr("reg load")) << backup;
    }
    const std::string log = Log();
    EXPECT_THAT(log, HasSubstr("UserHives: loaded the registry of '" + std::string(kUser) + "' from '")) << log;
    EXPECT_THAT(log, HasSubstr("UserHives: unloaded the registry of '" + std::string(kUser) + "'")) << log;
    EXPECT_THAT(log, HasSubstr("UserHives: the registry of '" + std::string(kNoHive) + "' could not be loaded"))
        << log;
}

// A run that ends early (its configuration fails) leaves no hive loaded:
// the engine unloads what it loaded when it ends.
TEST_F(UserHivesTest, AFailedRunLeavesNoHiveLoaded) {
    WriteWholeFile(ConfigPath(), "[msi upgradecode 1]\n[service 1]\n[process 1]\n[registry value 1]\n"
                                 "[registry key 1]\nremove=REG_KEY,NO_SUCH_METHOD,HKCU\\Software\\Velmoran\n"
                                 "[file 1]\n");
    {
        CNuke engine(os_);
        engine.dialog = &dialog_;
        EXPECT_EQ(engine.InitializeLists(0, 0), static_cast<DWORD>(ERROR_BAD_CONFIGURATION));
        EXPECT_TRUE(KeyExists(HKEY_USERS, Mounted(""), KEY_WOW64_64KEY));
    }
    EXPECT_FALSE(KeyExists(HKEY_USERS, Mounted(""), KEY_WOW64_64KEY));
}

// The platform of an undo, which reads what the import brought back into a
// hive it loaded just before unloading it: Wine does not write a loaded
// hive back to its file, as Windows does.
class UnloadWatch : public TestPlatform {
public:
    std::function<void(const std::string&)> beforeUnload;
    LSTATUS RegUnLoadKeyA(HKEY root, LPCSTR subKey) override {
        if (beforeUnload) beforeUnload(subKey);
        return TestPlatform::RegUnLoadKeyA(root, subKey);
    }
};

// --undo brings a user's keys back into the hive the run loaded: loaded
// again when the user is still not logged on, or where Windows has it when
// they are. The hive files are first saved without what the run deleted,
// as Windows writes them back when the run unloads them.
TEST_F(UserHivesTest, AnUndoBringsTheUsersKeysBackIntoTheirHive) {
    for (const bool loggedOn : {false, true}) {
        SCOPED_TRACE(loggedOn ? "logged on at the undo" : "not logged on");
        if (loggedOn) SetUp();  // the machine as it was before the first pass
        WriteWholeFile(ConfigPath(), kRemoval);
        std::string folder;
        {
            CNuke engine(os_);
            engine.dialog = &dialog_;
            ASSERT_EQ(engine.InitializeLists(0, 0), 0u) << engine.errorText;
            ASSERT_EQ(engine.PopulateLists(), 0u);
            EXPECT_EQ(engine.CleanupRegValues(), 0u);
            EXPECT_EQ(engine.CleanupRegKeys(), 0u);
            const std::string backup = engine.Backup().BackupPath();
            folder = backup.substr(0, backup.rfind('\\'));
        }
        testing_support::DeleteKeyTree(HKEY_CURRENT_USER, source_.Below("Software\\Velmoran\\Settings"));
        testing_support::DeleteKeyTree(HKEY_CURRENT_USER, classes_.Below("VelmoranFile"));
        SaveHive(kSource, Hive());
        SaveHive(kClassesSource, UsrClass());
        const std::string settings = "\\Software\\Velmoran\\Settings";
        const std::string fileType = "_Classes\\VelmoranFile\\shell\\open";
        UnloadWatch undo;
        std::string unloaded;
        if (loggedOn) {
            // Windows has loaded the user's registry, without the classes.
            platform::EnabledPrivileges privileges(os_, {"SeBackupPrivilege", "SeRestorePrivilege"});
            ASSERT_EQ(::RegLoadKeyA(HKEY_USERS, kUser, Hive().c_str()), ERROR_SUCCESS);
        } else {
            undo.beforeUnload = [&](const std::string& mount) {
                if (mount == Mounted("") && KeyExists(HKEY_USERS, mount + settings, KEY_WOW64_64KEY)) {
                    unloaded += "registry restored;";
                }
                if (mount == Mounted("") + "_Classes" && KeyExists(HKEY_USERS, Mounted("") + fileType, KEY_WOW64_64KEY)) {
                    unloaded += "classes restored;";
                }
            };
        }
        const DWORD result = UndoNewestRun(undo, folder);
        const std::string trace = Log();
        if (loggedOn) {
            // A user without classes now cannot get them back: the undo
            // says so and is incomplete.
            EXPECT_EQ(result, kUndoIncomplete) << trace;
            EXPECT_TRUE(ValueExists(HKEY_USERS, kUser + settings, "Level", KEY_WOW64_64KEY)) << trace;
            EXPECT_THAT(trace, HasSubstr("for '" + std::string(kUser) + "' is back in the user's registry ("));
            EXPECT_THAT(trace, HasSubstr(" keys; the user is logged on)"));
            EXPECT_THAT(trace, HasSubstr("the classes of '" + std::string(kUser) + "': the user's classes registry "
                                         "cannot be reached"));
            platform::EnabledPrivileges privileges(os_, {"SeBackupPrivilege", "SeRestorePrivilege"});
            EXPECT_EQ(::RegUnLoadKeyA(HKEY_USERS, kUser), ERROR_SUCCESS);
        } else {
            EXPECT_EQ(result, kUndoRestored) << trace;
            EXPECT_EQ(unloaded, "classes restored;registry restored;") << trace;
            EXPECT_THAT(trace, Not(HasSubstr("Undo: not restored:")));
            EXPECT_FALSE(KeyExists(HKEY_USERS, Mounted(""), KEY_WOW64_64KEY));
        }
        // The notes were not imported as they stand, and the file that
        // carried the keys is gone.
        EXPECT_FALSE(KeyExists(HKEY_USERS, Mounted("") + settings, KEY_WOW64_64KEY));
        WIN32_FIND_DATAA found = {};
        const HANDLE find = ::FindFirstFileA((folder + "\\Clearway user registry *").c_str(), &found);
        EXPECT_EQ(find, INVALID_HANDLE_VALUE) << found.cFileName;
        if (find != INVALID_HANDLE_VALUE) ::FindClose(find);
    }
}

}  // namespace
