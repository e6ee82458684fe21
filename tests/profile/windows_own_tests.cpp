// Windows' own keys, values and services against entries that name them by
// mistake, on the prefix's real registry: a copied line, a pattern too
// short, a data match that matches every driver. Each entry is read from a
// configuration file and the profile is built as a run builds it; what it
// names must not be listed for removal. The product's own keys below the
// same system keys still are.
#include <gtest/gtest.h>
#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include <algorithm>
#include <string>
#include <vector>

#include "guard/path_guard.h"
#include "platform/handles.h"
#include "profile/engine.h"
#include "tests/support/list_text.h"
#include "tests/support/matchers.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_dialog.h"
#include "tests/support/test_key.h"
#include "tests/support/test_platform.h"
#include "trace/trace.h"

using testing_support::Elements;
using testing_support::ProgramFolder;
using testing_support::ReadWholeFile;
using testing_support::TestDialog;
using testing_support::TestPlatform;
using testing_support::Texts;
using testing_support::WriteWholeFile;

namespace {

const char kServices[] = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services";
const char kRunPath[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kRun[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kSessionManager[] = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const char kWinlogon[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
const char kOwnService[] = "ClearwayTestsOwnDriver";

std::string Upper(const std::string& text) { return guard::UpperText(text.c_str()); }

// True when element names item or anything below it.
bool Touches(const std::string& element, const std::string& item) {
    const std::string e = Upper(element), i = Upper(item);
    return e.compare(0, i.size(), i) == 0 && (e.size() == i.size() || e[i.size()] == '\\');
}

class WindowsOwnTest : public ::testing::Test {
protected:
    void SetUp() override {
        TraceShutdown();
        // The product's own driver key below Services, and its Run value.
        ASSERT_TRUE(ownService_.SetText("", "ImagePath", "C:\\Program Files\\Velmoran\\velown.sys", KEY_WOW64_64KEY));
        // Values are listed in the program's own view; deleted in both.
        for (const REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
            ASSERT_TRUE(testing_support::SetText(HKEY_LOCAL_MACHINE, kRunPath, "ClearwayTestsOwn",
                                                 "C:\\Program Files\\Velmoran\\tray.exe", view));
        }
    }
    void TearDown() override {
        TraceShutdown();
        for (const REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
            HKEY run = nullptr;
            if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunPath, 0, KEY_SET_VALUE | view, &run) == ERROR_SUCCESS) {
                ::RegDeleteValueA(run, "ClearwayTestsOwn");
                ::RegCloseKey(run);
            }
        }
        ::DeleteFileA(ConfigPath().c_str());
    }
    static std::string ConfigPath() { return ProgramFolder() + "windows_own_tests.cfg"; }
    std::string Log() {
        TraceShutdown();
        return ReadWholeFile(testing_support::SpecialFolder(CSIDL_COMMON_APPDATA) +
                             "\\Velmoran clearway\\windows_own_tests.log");
    }

    // The profile of a run whose configuration holds these registry lines.
    DWORD Build(CNuke& engine, const std::string& values, const std::string& keys, const std::string& files = "") {
        WriteWholeFile(ConfigPath(), "[msi upgradecode 1]\n[service 1]\n[process 1]\n[registry value 1]\n" + values +
                                         "[registry key 1]\n" + keys + "[file 1]\n" + files);
        const DWORD rc = engine.InitializeLists(0, 0);
        return rc == ERROR_SUCCESS ? engine.PopulateLists() : rc;
    }

    testing_support::TestKey ownService_{HKEY_LOCAL_MACHINE,
                                         std::string("SYSTEM\\CurrentControlSet\\Services\\") + kOwnService};
    TestPlatform os_;
    TestDialog dialog_;
};

TEST_F(WindowsOwnTest, EntriesThatNameWhatWindowsNeedsListNothingOfIt) {
    const std::string services = kServices;
    struct Case {
        bool value;        // a line of the value section, else of the key section
        std::string line;  // after "remove="
        std::string item;  // refused: nothing listed is it or lies below it; else: it is listed
        bool listed;
    };
    // The product's own driver key and Run value below the same keys stay
    // removable, by name and by a data match that names the maker.
    const std::string own = services + "\\" + kOwnService;
    const Case cases[] = {
        {false, "REG_KEY,BY_VALUE," + std::string(kSessionManager), kSessionManager, false},
        {false, "REG_KEY,BY_VALUE,HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Enum\\PCI",
         "HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Enum", false},
        {false, "REG_KEY,BY_VALUE," + std::string(kWinlogon), kWinlogon, false},
        {false, "REG_KEY,BY_VALUE,HKEY_CLASSES_ROOT\\exefile", "HKEY_CLASSES_ROOT\\exefile", false},
        {false, "REG_KEY,BY_VALUE,HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Classes\\exefile\\shell",
         "HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Classes\\exefile", false},
        {false, "REG_KEY,BY_VALUE,HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Image File "
                "Execution Options\\*",
         "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options", false},
        // Data matches that every driver, or every program, passes.
        {false, "REG_KEY,BY_DATA_MATCH,\"" + services + "\\*\",\"ImagePath\",\"*.SYS*\"", services, false},
        {false, "REG_KEY,BY_DATA_MATCH,\"" + services + "\\*\",\"ImagePath\",\"*EXE*\"", services, false},
        {false, "REG_KEY,BY_DATA_MATCH,\"" + services + "\\*\",\"ImagePath\",\"*\\*\"", services, false},
        {true, "REG_VALUE,BY_VALUE," + std::string(kSessionManager) + "\\Environment\\ComSpec", kSessionManager,
         false},
        {true, "REG_VALUE,BY_VALUE," + std::string(kWinlogon) + "\\Shell", kWinlogon, false},
        {true, "REG_VALUE,BY_VALUE," + std::string(kSessionManager) + "\\Environment\\Pa*", kSessionManager, false},
        {true, "REG_VALUE,BY_DATA_MATCH,\"" + std::string(kRun) + "\\*\",\"*EXE*\"", kRun, false},
        {false, "REG_KEY,BY_VALUE," + own, own, true},
        {false, "REG_KEY,BY_DATA_MATCH,\"" + services + "\\*\",\"ImagePath\",\"*\\VELMORAN\\*.sys\"", own, true},
        {true, "REG_VALUE,BY_DATA_MATCH,\"" + std::string(kRun) + "\\*\",\"*VELMORAN*\"",
         std::string(kRun) + "\\ClearwayTestsOwn", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        CNuke engine(os_);
        engine.dialog = &dialog_;
        const std::string line = "remove=" + c.line + "\n";
        ASSERT_EQ(Build(engine, c.value ? line : "", c.value ? "" : line), 0u) << engine.errorText;
        if (c.listed) {
            const Texts listed = Elements(c.value ? engine.expandedRegValueList : engine.expandedRegKeyList);
            bool found = false;
            for (const std::string& element : listed) found = found || Upper(element) == Upper(c.item);
            EXPECT_TRUE(found) << testing::PrintToString(listed);
            continue;
        }
        for (TSet* list : {&engine.expandedRegKeyList, &engine.expandedRegValueList}) {
            for (const std::string& element : Elements(*list)) EXPECT_FALSE(Touches(element, c.item)) << element;
        }
        EXPECT_GT(engine.refused, 0u);
    }
}

// A service of the machine's own for as long as the object lives.
struct TestService {
    TestService(const char* serviceName, DWORD type, DWORD start, const std::string& image,
                const char* dependencies = nullptr)
        : name(serviceName) {
        platform::ServiceHandle scm(::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        Delete(scm.get());
        platform::ServiceHandle created(::CreateServiceA(scm.get(), name, name, SERVICE_ALL_ACCESS, type, start,
                                                         SERVICE_ERROR_IGNORE, image.c_str(), nullptr, nullptr,
                                                         dependencies, nullptr, nullptr));
        made = static_cast<bool>(created);
    }
    ~TestService() {
        platform::ServiceHandle scm(::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        Delete(scm.get());
    }
    void Delete(SC_HANDLE scm) const {
        platform::ServiceHandle old(::OpenServiceA(scm, name, DELETE));
        if (old) ::DeleteService(old.get());
    }
    const char* name;
    bool made = false;
};

std::string WindowsFolder() {
    char buffer[MAX_PATH] = {};
    ::GetWindowsDirectoryA(buffer, MAX_PATH);
    return buffer;
}

// Services Windows starts with, or installed itself, and those another
// service that stays depends on, are never listed; the product's own
// driver in System32 (its version names the maker) and a service whose
// dependents go with it are.
TEST_F(WindowsOwnTest, ServicesWindowsNeedsAreNeverListed) {
    const std::string windows = WindowsFolder();
    const std::string servicesKey = kServices;
    // The 64-bit System32 as this 32-bit test must name it.
    const std::string drivers = windows + "\\Sysnative\\drivers\\";
    WriteWholeFile(drivers + "clwtwin.sys", "a driver of the machine's");
    ASSERT_TRUE(::CopyFileA(testing_support::BuiltProgram("Clearway.exe").c_str(), (drivers + "clwtown.sys").c_str(),
                            FALSE));
    const std::string protectedProgram = windows + "\\Sysnative\\clwtsvc.exe";
    WriteWholeFile(protectedProgram, "a program Windows installed");
    os_.OwnByTrustedInstaller(protectedProgram);
    {
        const TestService services[] = {
            {"ClwtWinBoot", SERVICE_KERNEL_DRIVER, SERVICE_BOOT_START, "System32\\drivers\\clwtwin.sys"},
            {"ClwtWinSystem", SERVICE_KERNEL_DRIVER, SERVICE_SYSTEM_START, "\\SystemRoot\\System32\\drivers\\clwtwin.sys"},
            {"ClwtOwnBoot", SERVICE_KERNEL_DRIVER, SERVICE_BOOT_START, "\\SystemRoot\\System32\\drivers\\clwtown.sys"},
            {"ClwtInstalled", SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
             "\"" + windows + "\\System32\\clwtsvc.exe\" -k group"},
            {"ClwtBase", SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, "C:\\Velmoran\\base.exe"},
            {"ClwtUser", SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, "C:\\Velmoran\\user.exe", "ClwtBase\0"},
        };
        for (const TestService& service : services) ASSERT_TRUE(service.made) << service.name;
        const struct {
            std::string lines;
            Texts listed;
        } cases[] = {
            {"ClwtWinBoot\nClwtWinSystem\nClwtInstalled\nClwtOwnBoot\n", {"CLWTOWNBOOT"}},
            {"ClwtBase\n", {}},
            {"ClwtBase\nClwtUser\n", {"CLWTBASE", "CLWTUSER"}},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(c.lines);
            std::string lines;
            for (size_t at = 0; at < c.lines.size();) {
                const size_t end = c.lines.find('\n', at);
                lines += "remove=SERVICE_NAME,BY_VALUE," + c.lines.substr(at, end - at) + "\n";
                at = end + 1;
            }
            CNuke engine(os_);
            engine.dialog = &dialog_;
            WriteWholeFile(ConfigPath(), "[msi upgradecode 1]\n[service 1]\n" + lines +
                                             "[process 1]\n[registry value 1]\n[registry key 1]\n[file 1]\n");
            ASSERT_EQ(engine.InitializeLists(0, 0), 0u) << engine.errorText;
            ASSERT_EQ(engine.PopulateLists(), 0u);
            Texts listed;
            for (const std::string& name : Elements(engine.expandedServiceList)) {
                if (Upper(name).compare(0, 4, "CLWT") == 0) listed.push_back(Upper(name));
            }
            EXPECT_EQ(listed, c.listed);
        }
        // Nor is a refused service's key below Services; the product's is.
        CNuke engine(os_);
        engine.dialog = &dialog_;
        ASSERT_EQ(Build(engine, "", "remove=REG_KEY,BY_VALUE," + servicesKey + "\\ClwtWinBoot\n" +
                                        "remove=REG_KEY,BY_VALUE," + servicesKey + "\\ClwtInstalled\n" +
                                        "remove=REG_KEY,BY_VALUE," + servicesKey + "\\ClwtOwnBoot\n"),
                  0u);
        Texts keys;
        for (const std::string& key : Elements(engine.expandedRegKeyList)) {
            if (Upper(key).find("\\CLWT") != std::string::npos) keys.push_back(Upper(key.substr(key.rfind('\\') + 1)));
        }
        EXPECT_EQ(keys, Texts{"CLWTOWNBOOT"});
    }
    for (const char* file : {"clwtwin.sys", "clwtown.sys"}) ::DeleteFileA((drivers + file).c_str());
    ::DeleteFileA(protectedProgram.c_str());
}

// Files and folders Windows installed (their owner is TrustedInstaller) are
// neither listed nor given new permissions, as entries or found below one;
// the product's own driver in System32 still goes.
TEST_F(WindowsOwnTest, WhatWindowsInstalledStaysWithItsPermissions) {
    testing_support::TempFolder product("windows-own");
    ::CreateDirectoryA((product / "Installed").c_str(), nullptr);
    WriteWholeFile(product / "Installed\\part.dll", "Windows'");
    WriteWholeFile(product / "own.dll", "the product's");
    const std::string system = WindowsFolder() + "\\Sysnative\\";
    WriteWholeFile(system + "clwtwin.dll", "Windows'");
    WriteWholeFile(system + "drivers\\clwtown.sys", "the product's driver");
    os_.OwnByTrustedInstaller(product / "Installed");
    os_.OwnByTrustedInstaller(system + "clwtwin.dll");
    os_.keepFilePermissions = true;
    CNuke engine(os_);
    engine.dialog = &dialog_;
    const DWORD rc = Build(engine, "", "",
                           "remove=FILE_NAME,BY_VALUE," + product.path() + "\n" +
                               "remove=FILE_NAME_EXPAND,BY_VALUE,%SYSTEM%\\clwtwin.dll\n"
                               "remove=FILE_NAME_EXPAND,BY_VALUE,%SYSTEM%\\drivers\\clwtown.sys\n");
    ::DeleteFileA((system + "clwtwin.dll").c_str());
    ::DeleteFileA((system + "drivers\\clwtown.sys").c_str());
    ASSERT_EQ(rc, 0u) << engine.errorText;
    Texts listed;
    for (const std::string& path : Elements(engine.expandedFileList)) {
        if (Upper(path).find("WINDOWS-OWN") != std::string::npos || Upper(path).find("CLWT") != std::string::npos) {
            listed.push_back(Upper(path.substr(path.find_last_of('\\') + 1)));
        }
    }
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, (Texts{"CLWTOWN.SYS", "OWN.DLL", "WINDOWS-OWN"}));
    // The product's folder holds what stays: it keeps its permissions, and
    // so does what Windows installed in it.
    for (const std::string& changed : os_.filePermissionChanges) {
        EXPECT_EQ(Upper(changed).find("WINDOWS-OWN"), std::string::npos) << changed;
        EXPECT_EQ(Upper(changed).find("CLWTWIN"), std::string::npos) << changed;
    }
    EXPECT_GE(engine.refused, 2u);
}

// An ignore entry that could never match keeps nothing: what it names would
// be deleted. It stops the run before anything is changed, with the
// configuration error; one that is well formed but names something absent
// does not.
TEST_F(WindowsOwnTest, AnIgnoreEntryThatCouldKeepNothingStopsTheRun) {
    const struct {
        std::string values, keys, files;
        bool stops;
    } cases[] = {
        {"", "", "ignore=FILE_NAME,BY_VALUE,\\\\?\\C:\\Program Files\\Velmoran\\Keep\n", true},
        {"", "", "ignore=FILE_NAME,BY_VALUE,\\\\localhost\\C$\\Program Files\\Velmoran\\Keep\n", true},
        {"", "", "ignore=FILE_NAME,BY_VALUE,%ProgramFiles%\\Velmoran\\Keep\n", true},
        {"", "", "ignore=FILE_NAME,BY_VALUE,C:Velmoran\\Keep\n", true},
        {"", "", "ignore=FILE_NAME,BY_VALUE,..\\Velmoran\\Keep\n", true},
        {"", "ignore=REG_KEY,BY_VALUE,SOFTWARE\\Velmoran\\Keep\n", "", true},
        {"ignore=REG_VALUE,BY_VALUE,HKEY_LOCAL_MASHINE\\SOFTWARE\\Velmoran\\Keep\n", "", "", true},
        // Well formed: absent, a fragment, a macro the configuration knows.
        {"", "", "ignore=FILE_NAME,BY_VALUE,C:\\Absent\\Velmoran\\Keep\n", false},
        {"", "", "ignore=FILE_NAME,BY_VALUE,Velmoran\\Keep\n", false},
        {"", "", "ignore=FILE_NAME_EXPAND,BY_VALUE,%PROGRAM_FILES%\\Velmoran\\Keep\n", false},
        {"ignore=REG_VALUE,BY_VALUE,HKEY_LOCAL_MACHINE\\SOFTWARE\\Absent\\Keep\n",
         "ignore=REG_KEY,BY_VALUE,HKEY_CURRENT_USER\\Software\\Absent\n", "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.values + c.keys + c.files);
        CNuke engine(os_);
        engine.dialog = &dialog_;
        WriteWholeFile(ConfigPath(), "[msi upgradecode 1]\n[service 1]\n[process 1]\n[registry value 1]\n" +
                                         c.values + "[registry key 1]\n" + c.keys + "[file 1]\n" + c.files);
        const DWORD rc = engine.InitializeLists(0, 0);
        const std::string log = Log();
        if (c.stops) {
            EXPECT_EQ(rc, static_cast<DWORD>(ERROR_BAD_CONFIGURATION));
            EXPECT_THAT(log, HasSubstr("would keep nothing: ")) << log;
        } else {
            EXPECT_EQ(rc, 0u) << engine.errorText;
            EXPECT_THAT(log, Not(HasSubstr("would keep nothing"))) << log;
        }
    }
}

}  // namespace
