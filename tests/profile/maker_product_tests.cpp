// A real product of the maker, installed by the prefix's Windows Installer:
// the gathering finds the records the installer wrote for it, and the
// uninstall step removes it through the real MSI tool.
//
// Measured under Wine 8 (a per-machine x86 package installed by the 32-bit
// msiexec): the installer writes, all in the 64-bit view, the product's
// UserData\S-1-5-18\Products\<id> key (InstallProperties with Publisher and
// LocalPackage, and Features), the UpgradeCodes key below
// CurrentVersion\Installer and below Classes\Installer, the Classes\Installer
// Features and Products keys and a UserData\S-1-5-18\Components key whose
// value, named by the product id, holds the key file's path. It writes no
// value below CurrentVersion\Installer\Folders (the key stays empty), and
// the shell's program-name caches are not the installer's to write: those
// scans run against registrations laid down as data (gathering_tests).
#include <windows.h>
#include <gtest/gtest.h>
#include <msi.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "profile/engine.h"
#include "tests/support/list_text.h"
#include "tests/support/msi_packages.h"
#include "tests/support/test_platform.h"
#include "trace/trace.h"

using testing_support::Elements;
using testing_support::FindMsiPackage;
using testing_support::InstallMsiPackage;
using testing_support::MachineKeyExists;
using testing_support::MsiPackage;
using testing_support::MsiPackageInstalled;
using testing_support::PathExists;
using testing_support::TestPlatform;
using testing_support::Texts;
using testing_support::UninstallMsiPackage;

namespace {

using testing_support::Upper;

const char kUserData[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18";
const std::string kHklm = "HKEY_LOCAL_MACHINE\\";

// The installer's packed form of a GUID in registry form: the first three
// groups reversed, then each byte of the rest with its two digits swapped.
std::string Packed(const std::string& guid) {
    std::string hex;
    for (char c : guid) {
        if (isxdigit(static_cast<unsigned char>(c))) hex += static_cast<char>(toupper(static_cast<unsigned char>(c)));
    }
    std::string out(hex.rbegin() + 24, hex.rend());  // 8 digits
    out.append(hex.rbegin() + 20, hex.rbegin() + 24);
    out.append(hex.rbegin() + 16, hex.rbegin() + 20);
    for (size_t i = 16; i + 1 < hex.size(); i += 2) {
        out += hex[i + 1];
        out += hex[i];
    }
    return out;
}

// The component the installer registered for the product, asked of the
// installer rather than read from the registry the gathering reads.
std::string ComponentOf(const std::string& productCode) {
    char component[39], client[39];
    for (DWORD i = 0; ::MsiEnumComponentsA(i, component) == ERROR_SUCCESS; ++i) {
        for (DWORD j = 0; ::MsiEnumClientsA(component, j, client) == ERROR_SUCCESS; ++j) {
            if (_stricmp(client, productCode.c_str()) == 0) return component;
        }
    }
    return std::string();
}

// The elements of a list that name one of the ids.
Texts Naming(TSet& list, const Texts& ids) {
    Texts out;
    for (const std::string& element : Elements(list)) {
        for (const std::string& id : ids) {
            if (element.find(id) != std::string::npos) {
                out.push_back(element);
                break;
            }
        }
    }
    return out;
}

// One install serves the suite: the gathering reads it, the uninstall step
// removes it (a test that finds it gone installs it again).
class MakerProduct : public ::testing::Test {
protected:
    void SetUp() override {
        TraceShutdown();
        package_ = FindMsiPackage("maker_agent");
        if (!MsiPackageInstalled(package_)) {
            ASSERT_EQ(InstallMsiPackage(package_), 0u);
        }
    }
    static void TearDownTestSuite() {
        const MsiPackage package = FindMsiPackage("maker_agent");
        if (MsiPackageInstalled(package)) UninstallMsiPackage(package);
    }

    MsiPackage package_;
    TestPlatform os_;
};

TEST_F(MakerProduct, GatheringTakesEveryRecordTheInstallerWroteAndTheCachedPackage) {
    const std::string component = ComponentOf(package_.productCode);
    ASSERT_FALSE(component.empty());
    char cached[MAX_PATH] = {};
    DWORD size = sizeof cached;
    ASSERT_EQ(::MsiGetProductInfoA(package_.productCode.c_str(), "LocalPackage", cached, &size),
              static_cast<UINT>(ERROR_SUCCESS));
    ASSERT_TRUE(PathExists(cached));

    CNuke engine(os_);
    engine.ProductBasedMSIRemoval();
    engine.GatherS1518ComponentQtAssemblies();

    const std::string product = Packed(package_.productCode), upgrade = Packed(package_.upgradeCode),
                      componentId = Packed(component);
    Texts keys = {
        kHklm + kUserData + "\\Products\\" + product,
        kHklm + "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UpgradeCodes\\" + upgrade,
        kHklm + "SOFTWARE\\Classes\\Installer\\UpgradeCodes\\" + upgrade,
        kHklm + "SOFTWARE\\Classes\\Installer\\Features\\" + product,
        kHklm + "SOFTWARE\\Classes\\Installer\\Products\\" + product,
        // Found both by the product id and by its path naming the maker.
        kHklm + kUserData + "\\Components\\" + componentId,
    };
    std::sort(keys.begin(), keys.end(),
              [](const std::string& a, const std::string& b) { return _stricmp(a.c_str(), b.c_str()) < 0; });
    EXPECT_EQ(Naming(engine.removeRegKeyList, {product, upgrade, componentId}), keys);
    const Texts files = Elements(engine.expandedFileList);
    EXPECT_NE(std::find(files.begin(), files.end(), Upper(cached)), files.end()) << cached;
}

TEST_F(MakerProduct, TheUninstallStepRemovesTheProductOfAListedUpgradeCode) {
    CNuke engine(os_);
    engine.expandedMsiUpgradeCodeList.Insert(package_.upgradeCode.c_str());
    EXPECT_EQ(engine.MsiUninstall(), 0u);
    EXPECT_FALSE(MsiPackageInstalled(package_));
    EXPECT_FALSE(PathExists(package_.InstallFolder() + "\\agent.txt"));
    EXPECT_FALSE(MachineKeyExists(package_.UninstallKey(), package_.View()));
    EXPECT_FALSE(MachineKeyExists(std::string(kUserData) + "\\Products\\" + Packed(package_.productCode),
                                  KEY_WOW64_64KEY));
    // The built-in table's pauses, recorded instead of waited for.
    EXPECT_EQ(os_.sleeps, std::vector<DWORD>(15, 10000));
}

}  // namespace
