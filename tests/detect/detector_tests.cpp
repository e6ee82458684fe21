// The detector against real keys, services and processes of the prefix.
// Drive types come through the seam: the prefix has fixed drives only.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "detect/detector.h"
#include "platform/handles.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_key.h"
#include "tests/support/test_platform.h"

using testing_support::TestPlatform;

namespace {

const char kParlowe[] = "SOFTWARE\\Velmoran\\Parlowe";
const char kOrbisdale[] = "SOFTWARE\\Orbisdale";
const char kRoot[] = "SOFTWARE\\Orbisdale\\Velmoran";
const char kDunmere[] = "SOFTWARE\\Orbisdale\\Velmoran\\Dunmere";
const char kTollan[] = "SOFTWARE\\Orbisdale\\Velmoran\\Tollan";
const char kCorvey[] = "SOFTWARE\\Velmoran Corporation\\Velmoran Corvey";

// In the program's own view only: the other view may hold another test's
// machine.
void DeleteKeys() {
    ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Velmoran");
    ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, kOrbisdale);
    ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Velmoran Corporation");
}

// The key in the program's own view, with a text value unless name is null.
void SetValue(const char* keyPath, const char* name, const std::string& text) {
    if (name) {
        testing_support::SetText(HKEY_LOCAL_MACHINE, keyPath, name, text, 0);
    } else {
        testing_support::CreateKey(HKEY_LOCAL_MACHINE, keyPath, 0);
    }
}

// Two more drives than the prefix has: a removable one and a network one.
// With refuseFullAccess every process refuses all rights but the limited
// query right, as Windows does for SYSTEM's and protected processes.
class DrivesPlatform : public TestPlatform {
public:
    bool refuseFullAccess = false;
    HANDLE OpenProcess(DWORD access, BOOL inherit, DWORD processId) override {
        if (refuseFullAccess && access != PROCESS_QUERY_LIMITED_INFORMATION) {
            ::SetLastError(ERROR_ACCESS_DENIED);
            return nullptr;
        }
        return TestPlatform::OpenProcess(access, inherit, processId);
    }
    DWORD GetLogicalDriveStringsA(DWORD size, LPSTR buffer) override {
        DWORD length = TestPlatform::GetLogicalDriveStringsA(size, buffer);
        static const char kExtra[] = "R:\\\0N:\\\0";
        if (length == 0 || length + sizeof kExtra > size) return length;
        std::memcpy(buffer + length, kExtra, sizeof kExtra);
        return length + sizeof kExtra - 1;
    }
    UINT GetDriveTypeA(LPCSTR root) override {
        if (root && (root[0] == 'R' || root[0] == 'N')) return root[0] == 'R' ? DRIVE_REMOVABLE : DRIVE_REMOTE;
        return TestPlatform::GetDriveTypeA(root);
    }
};

class DetectorTest : public ::testing::Test {
protected:
    void SetUp() override { DeleteKeys(); }
    void TearDown() override {
        DeleteKeys();
        for (const std::string& name : services_) {
            platform::ServiceHandle service(::OpenServiceA(manager_.get(), name.c_str(), DELETE));
            if (service) ::DeleteService(service.get());
        }
        for (platform::ObjectHandle& process : processes_) {
            ::TerminateProcess(process.get(), 1);
            ::WaitForSingleObject(process.get(), 5000);
        }
    }
    void AddService(const std::string& name) {
        if (!manager_) manager_.reset(::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        platform::ServiceHandle old(::OpenServiceA(manager_.get(), name.c_str(), DELETE));
        if (old) ::DeleteService(old.get());
        platform::ServiceHandle created(::CreateServiceA(
            manager_.get(), name.c_str(), name.c_str(), SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
            SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE, "C:\\windows\\system32\\notepad.exe", nullptr, nullptr,
            nullptr, nullptr, nullptr));
        ASSERT_TRUE(created) << ::GetLastError();
        services_.push_back(name);
    }
    // Runs a copy of the prefix's command interpreter (32- or 64-bit) under
    // the given name until the test ends.
    void StartProgram(const std::string& path, bool bits64) {
        const char* source = bits64 ? "C:\\windows\\sysnative\\cmd.exe" : "C:\\windows\\syswow64\\cmd.exe";
        ASSERT_TRUE(::CopyFileA(source, path.c_str(), FALSE)) << path << " " << ::GetLastError();
        std::string commandLine = "\"" + path + "\" /c ping -n 120 127.0.0.1";
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info = {};
        ASSERT_TRUE(::CreateProcessA(path.c_str(), &commandLine[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                                     nullptr, nullptr, &startup, &info));
        ::CloseHandle(info.hThread);
        processes_.emplace_back(info.hProcess);
    }

    DrivesPlatform os_;
    platform::ServiceHandle manager_;
    std::vector<std::string> services_;
    std::vector<platform::ObjectHandle> processes_;
};

const char kHeader[] = "Following software should be uninstalled before using Clearway:\n\n";

TEST_F(DetectorTest, ProductsThatMustGoFirstComeFromServicesWithTheirKeysAndTheCorveyKey) {
    AddService("cwveldun1a");
    AddService("cwveldun1b");
    AddService("cwveltoll");  // without its key: no line
    SetValue(kDunmere, nullptr, "");
    {
        CDetector detector(os_);
        detector.DetectProducts();
        EXPECT_EQ(detector.isNT, 1);
        EXPECT_GT(detector.serviceCount, 10u);
        EXPECT_EQ(detector.CheckIncompatibleProducts(), 1);
        EXPECT_EQ(detector.message, std::string(kHeader) + "Velmoran Dunmere\nVelmoran Dunmere\n");
        EXPECT_EQ(detector.warn, 1);
    }
    DeleteKeys();
    SetValue(kCorvey, nullptr, "");  // the key alone suffices
    CDetector detector(os_);
    detector.DetectProducts();
    EXPECT_EQ(detector.CheckIncompatibleProducts(), 1);
    EXPECT_EQ(detector.message, std::string(kHeader) + "Velmoran Corvey\n");
}

TEST_F(DetectorTest, ARunningCorveyProgramIsFoundWhether32Or64Bit) {
    struct Case {
        const char* name;
        bool bits64;
        bool refuseFullAccess;
        DWORD major;  // Windows version; 0: Wine's
        bool found;
    };
    const Case cases[] = {
        {"32-bit", false, false, 0, true},
        {"64-bit", true, false, 0, true},
        // A service of the maker, owned by SYSTEM: only the limited query right.
        {"64-bit, only the limited right", true, true, 0, true},
        {"64-bit, only the limited right, Windows XP (which lacks it)", true, true, 5, false},
    };
    testing_support::TempFolder folder("detector_corvey");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = folder / (c.bits64 ? "velcorvey64.exe" : "velcorvey32.exe");
        StartProgram(path, c.bits64);
        ::Sleep(1500);  // let the copy start
        os_.refuseFullAccess = c.refuseFullAccess;
        os_.windowsMajorVersion = c.major;
        CDetector detector(os_);
        detector.DetectProducts();
        os_.refuseFullAccess = false;
        os_.windowsMajorVersion = 0;
        EXPECT_EQ(detector.clientProcessPath, c.found ? path : "");
        EXPECT_EQ(detector.CheckIncompatibleProducts(), c.found ? 1 : 0);
        EXPECT_EQ(detector.message, std::string(kHeader) + (c.found ? "Velmoran Corvey\n" : ""));
        TearDown();
        processes_.clear();
    }
    CDetector none(os_);
    none.DetectProducts();
    EXPECT_EQ(none.CheckIncompatibleProducts(), 0);
    EXPECT_EQ(none.message, kHeader);
}

TEST_F(DetectorTest, Windows9xScansProcessNamesAndOtherPlatformsNothing) {
    testing_support::TempFolder folder("detector_9x");
    StartProgram(folder / "DUNAGENT.EXE", false);
    ::Sleep(1500);
    os_.platformId = VER_PLATFORM_WIN32_WINDOWS;
    CDetector detector(os_);
    detector.DetectProducts();
    EXPECT_EQ(detector.isNT, 0);
    EXPECT_EQ(detector.productsFound9x, "Velmoran Dunmere\n");
    EXPECT_EQ(detector.CheckIncompatibleProducts(), 1);
    EXPECT_EQ(detector.message, std::string(kHeader) + "Velmoran Dunmere\n");

    os_.platformId = 3;
    CDetector other(os_);
    ::SetLastError(0xdeadbeef);  // the error must come from the detection
    EXPECT_EQ(other.DetectProducts(), static_cast<DWORD>(-1));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_APP_WRONG_OS));
    other.isNT = 3;
    EXPECT_EQ(other.CheckIncompatibleProducts(), 0);
}

TEST_F(DetectorTest, ProductNameFromParloweElseFromTheLastInstalledQuillProduct) {
    CDetector none(os_);
    none.DetectProducts();
    EXPECT_EQ(none.productName, "");
    SetValue("SOFTWARE\\Orbisdale\\Velmoran\\Quill\\Products\\0", "ProductName", "Velmoran Quill Zero");
    CDetector quill(os_);  // no LastInstalledProduct: product 0
    quill.DetectProducts();
    EXPECT_EQ(quill.productName, "Velmoran Quill Zero");
    SetValue(kParlowe, "ProductName", "Velmoran Parlowe Suite");
    CDetector parlowe(os_);
    parlowe.DetectProducts();
    EXPECT_EQ(parlowe.productName, "Velmoran Parlowe Suite");
}

std::string Text(const std::string& path, int tabs) {
    const std::string t(static_cast<size_t>(tabs), '\t');
    return "Clearway detected that Velmoran product is installed in\n" + path + "\n" + t +
           "Uninstalling the product may cause loss of important personal or system data.\n" + t +
           "Please contact Velmoran support.";
}

TEST_F(DetectorTest, InstallLocationsWhoseRemovalWouldDestroyData) {
    struct Case {
        const char* value;
        int warn;
        const char* installPath;  // normalised, as the profile reads it
    };
    const Case cases[] = {
        {"\"C:\\Documents and Settings\\Bob\\Velmoran\\\"", 1, "C:\\DOCUMENTS AND SETTINGS\\BOB\\VELMORAN"},
        {"C:\\Users\\Bob\\Velmoran", 1, "C:\\USERS\\BOB\\VELMORAN"},
        {"C:\\Users\\", 0, "C:\\USERS"},
        {"C:\\windows\\system32\\Velmoran", 1, "C:\\WINDOWS\\SYSTEM32\\VELMORAN"},
        {"C:\\windows\\..\\Velmoran", 0, "C:\\WINDOWS\\..\\VELMORAN"},
        {"C:\\Program Files", 1, "C:\\PROGRAM FILES"},  // not what a 32-bit process reads as ProgramFiles
        {"c:\\\\program files (x86)\\\\", 1, "C:\\PROGRAM FILES (X86)\\"},
        {"C:\\Program Files\\Missing\\..", 1, "C:\\PROGRAM FILES\\MISSING\\.."},
        {"C:\\Program Files\\Velmoran", 0, "C:\\PROGRAM FILES\\VELMORAN"},
        {"C:\\", 1, "C:"},
        {"c:", 1, "C:"},
        {"R:\\", 0, "R:"},
        {"N:", 0, "N:"},
        {"D:\\Velmoran", 0, "D:\\VELMORAN"},
        // Not fully qualified: resolved against whatever folder the program
        // started in (System32, for an elevated prompt), so removing it
        // could take anything.
        {"\\Program Files\\Velmoran", 1, "\\PROGRAM FILES\\VELMORAN"},
        {"Velmoran\\Parlowe", 1, "VELMORAN\\PARLOWE"},
        {"C:Velmoran", 1, "C:VELMORAN"},
        {"\\\\server\\share\\Velmoran", 1, "\\SERVER\\SHARE\\VELMORAN"},
        {"", 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        SetValue(kParlowe, "InstallPath", c.value);
        CDetector detector(os_);
        detector.warn = 7;
        EXPECT_EQ(detector.CheckInstallLocation(), c.warn);
        EXPECT_EQ(detector.warn, *c.value ? c.warn : 7);  // an empty path leaves warn alone
        EXPECT_EQ(detector.installPath, c.installPath);
        if (*c.value) {
            EXPECT_EQ(detector.message, Text(c.value, 2));
        }
    }
}

TEST_F(DetectorTest, TheFourDataLossTextsDifferInTheirTabs) {
    const std::string longPath = "C:\\Users\\Bob\\" + std::string(600, 'v');
    struct Case {
        const char* key;
        const char* value;
        std::string path;
        int tabs;
    };
    const Case cases[] = {
        {kParlowe, "InstallPath", "C:\\Users\\Bob\\A", 2},
        {kParlowe, "InstallPath", longPath, 5},
        {kRoot, "InstallationRootDirectory", "C:\\Users\\Bob\\C", 3},
        {kRoot, "InstallationRootDirectory", longPath, 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tabs);
        DeleteKeys();
        SetValue(kParlowe, "ProductName", "Velmoran Parlowe");  // the key without InstallPath falls through
        SetValue(c.key, c.value, c.path);
        CDetector detector(os_);
        EXPECT_EQ(detector.CheckInstallLocation(), 1);
        EXPECT_EQ(detector.message, Text(c.path, c.tabs));
    }
}

}  // namespace
