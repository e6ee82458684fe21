// The MSI tool against real packages installed in the prefix.
#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "msitool/msitool.h"
#include "msitool/product_family.h"
#include "platform/handles.h"
#include "tests/msitool/msitool_test_support.h"
#include "tests/support/matchers.h"
#include "tests/support/msi_packages.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_platform.h"
#include "trace/trace.h"

using msitool_testing::Narrow;
using msitool_testing::Wide;
using testing_support::FindMsiPackage;
using testing_support::MachineKeyExists;
using testing_support::MsiPackage;
using testing_support::MsiPackageInstalled;
using testing_support::PathExists;
using testing_support::TempFolder;
using testing_support::TestPlatform;

namespace {

const wchar_t kRemoveCommand[] = L"REMOVE=ALL REBOOT=ReallySuppress";

// Installs the named packages in order and removes whatever is left of them
// at the end.
class InstalledProducts : public ::testing::Test {
protected:
    std::vector<MsiPackage> Install(const std::vector<std::string>& ids) {
        std::vector<MsiPackage> packages;
        for (const std::string& id : ids) {
            packages.push_back(FindMsiPackage(id));
            installed_.push_back(packages.back());
            EXPECT_EQ(testing_support::InstallMsiPackage(packages.back()), 0u) << id;
            EXPECT_TRUE(MsiPackageInstalled(packages.back())) << id;
        }
        return packages;
    }
    // Installs the package from a copy at path: its file name becomes the
    // product's package name.
    void InstallFrom(const MsiPackage& package, const std::string& path) {
        installed_.push_back(package);
        if (MsiPackageInstalled(package)) testing_support::UninstallMsiPackage(package);
        EXPECT_EQ(testing_support::RunAndWait("msiexec /i \"" + path + "\" /qn", 120000), 0u);
        EXPECT_TRUE(MsiPackageInstalled(package));
    }
    void TearDown() override {
        for (const MsiPackage& package : installed_) {
            if (MsiPackageInstalled(package)) testing_support::UninstallMsiPackage(package);
        }
    }
    // Nothing of the package is left: the product, its files, its Uninstall
    // entry and its own key.
    static void ExpectGone(const MsiPackage& package) {
        SCOPED_TRACE(package.id);
        EXPECT_FALSE(MsiPackageInstalled(package));
        EXPECT_FALSE(PathExists(package.InstallFolder()));
        for (const std::string& file : package.files) EXPECT_FALSE(PathExists(package.InstallFolder() + "\\" + file));
        EXPECT_FALSE(MachineKeyExists(package.UninstallKey(), package.View()));
        EXPECT_FALSE(MachineKeyExists(package.ProductKey(), package.View()));
    }
    static std::wstring UninstallLine(const MsiPackage& package) {
        return L"/uninstall /u:" + Wide(package.upgradeCode);
    }

    TestPlatform os_;

private:
    std::vector<MsiPackage> installed_;
};

TEST_F(InstalledProducts, UninstallRemovesEveryVersionNewestFirst) {
    // The older one first, so the installer lists it first.
    const auto packages = Install({"removal_older", "removal_newer"});
    ASSERT_FALSE(HasFailure());
    const MsiPackage& older = packages[0];
    const MsiPackage& newer = packages[1];
    for (const MsiPackage& package : packages) {
        ASSERT_TRUE(PathExists(package.InstallFolder() + "\\tool.dll"));
        ASSERT_TRUE(MachineKeyExists(package.UninstallKey(), package.View()));
        ASSERT_TRUE(MachineKeyExists(package.ProductKey(), package.View()));
    }

    EXPECT_EQ(RunMsiTool(os_, UninstallLine(older).c_str(), true), 0);

    // The order the family received: the older first, so the newest-first
    // removal below is the family's own doing.
    std::vector<std::wstring> received;
    for (const auto& call : os_.enumCalls) {
        if (call.result != ERROR_SUCCESS) break;
        received.push_back(call.productCode);
    }
    EXPECT_EQ(received, (std::vector<std::wstring>{Wide(older.productCode), Wide(newer.productCode)}));
    EXPECT_EQ(os_.configuredProducts, (std::vector<std::wstring>{Wide(newer.productCode), Wide(older.productCode)}));
    EXPECT_TRUE(os_.installCalls.empty());  // no retry was needed
    // The installer's interface was off for the removals and then restored.
    ASSERT_EQ(os_.uiLevels.size(), 2u);
    EXPECT_EQ(os_.uiLevels[0], INSTALLUILEVEL_NONE);
    EXPECT_NE(os_.uiLevels[1], INSTALLUILEVEL_NONE);
    ExpectGone(older);
    ExpectGone(newer);
}

TEST_F(InstalledProducts, RefusedRemovalIsRetriedFromACopyOfTheCachedPackage) {
    const MsiPackage retry = Install({"retry"})[0];
    ASSERT_FALSE(HasFailure());
    wchar_t temp[MAX_PATH] = {};
    ASSERT_NE(::GetTempPathW(MAX_PATH, temp), 0u);
    // A file under the package's own name in the shared temporary folder,
    // where anyone could have put it: never copied over, never run.
    const std::string planted = Narrow(temp) + retry.id + ".msi";
    testing_support::WriteWholeFile(planted, "planted");

    // The silent removal is refused and the retry fails too: the copy goes
    // all the same, and the family keeps the product.
    os_.configureProductFault = [](LPCWSTR) -> UINT { return ERROR_INSTALL_FAILURE; };
    std::string copied;
    os_.installProductFault = [&copied](LPCWSTR path) -> UINT {
        copied = testing_support::ReadWholeFile(Narrow(path));
        return ERROR_INSTALL_FAILURE;
    };
    {
        ProductFamily family(os_, Wide(retry.upgradeCode));
        EXPECT_EQ(family.UninstallAll(), 0u);
        ASSERT_EQ(family.GetCount(), 1u);
        EXPECT_EQ(family.Products().front()->GetProductCode(), Wide(retry.productCode));
    }
    // The copy lay in a folder of its own, made for SYSTEM and
    // Administrators alone, under a fresh name, and the folder is gone.
    ASSERT_EQ(os_.installCalls.size(), 1u);
    ASSERT_EQ(os_.createdFolders.size(), 1u);
    const std::string folder = os_.createdFolders[0].path;
    EXPECT_EQ(folder.rfind(Narrow(temp) + "Clearway-", 0), 0u) << folder;
    EXPECT_EQ(folder.size(), Narrow(temp).size() + 9 + 32);
    EXPECT_TRUE(os_.createdFolders[0].protectedDacl);
    EXPECT_EQ(os_.createdFolders[0].dacl, testing_support::OwnAcl(false));
    EXPECT_EQ(os_.installCalls[0].packagePath, Wide(folder) + L"\\" + Wide(retry.id) + L".msi");
    EXPECT_EQ(os_.installCalls[0].commandLine, kRemoveCommand);
    EXPECT_EQ(copied.substr(0, 4), std::string("\xD0\xCF\x11\xE0", 4));  // the cached package
    EXPECT_FALSE(PathExists(folder));
    EXPECT_EQ(testing_support::ReadWholeFile(planted), "planted");
    EXPECT_TRUE(MsiPackageInstalled(retry));

    // Refused once, then the installer removes it from the copy.
    int refusals = 1;
    os_.configureProductFault = [&refusals](LPCWSTR) -> UINT { return refusals-- > 0 ? ERROR_INSTALL_FAILURE : 0; };
    os_.installProductFault = nullptr;
    os_.installCalls.clear();
    os_.createdFolders.clear();
    EXPECT_EQ(RunMsiTool(os_, UninstallLine(retry).c_str(), true), 0);
    ASSERT_EQ(os_.installCalls.size(), 1u);
    ASSERT_EQ(os_.createdFolders.size(), 1u);
    EXPECT_NE(os_.createdFolders[0].path, folder);  // a fresh name each time
    EXPECT_TRUE(os_.installCalls[0].packageExisted);
    EXPECT_EQ(os_.installCalls[0].result, 0u);
    EXPECT_FALSE(PathExists(os_.createdFolders[0].path));
    ::DeleteFileA(planted.c_str());
    ExpectGone(retry);
}

// What the caller hears of each product: the installer's answers in the
// report, each product's verbose installer log in the report's folder, a
// restart request counted as removed, and a 1618 that ends the walk.
TEST_F(InstalledProducts, TheReportCarriesTheInstallersAnswers) {
    struct Case {
        const char* name;
        UINT configure;  // what the silent removal answers; 0: the installer's own
        UINT cached;     // what the retry from the cached package answers
        std::vector<std::pair<UINT, bool>> answers;  // per product answered: code, removed
        bool cachedTried;
        size_t configured;  // products the installer was asked to remove
    };
    const Case cases[] = {
        {"removed", 0, 0, {{0, true}, {0, true}}, false, 2},
        {"removed, a restart needed", ERROR_SUCCESS_REBOOT_REQUIRED, 0,
         {{ERROR_SUCCESS_REBOOT_REQUIRED, true}, {ERROR_SUCCESS_REBOOT_REQUIRED, true}}, false, 2},
        {"refused, and from the cached package too", ERROR_INSTALL_FAILURE, ERROR_INSTALL_FAILURE,
         {{ERROR_INSTALL_FAILURE, false}, {ERROR_INSTALL_FAILURE, false}}, true, 2},
        // Every later product would meet the other installation too.
        {"another installation in progress", ERROR_INSTALL_ALREADY_RUNNING, 0,
         {{ERROR_INSTALL_ALREADY_RUNNING, false}}, false, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto packages = Install({"removal_older", "removal_newer"});
        ASSERT_FALSE(HasFailure());
        TempFolder logs("msi-logs");
        os_.configuredProducts.clear();
        os_.installCalls.clear();
        const UINT configure = c.configure;
        os_.configureProductFault = configure == 0 ? std::function<UINT(LPCWSTR)>() :
                                                     [configure](LPCWSTR) { return configure; };
        const UINT cached = c.cached;
        os_.installProductFault = [cached](LPCWSTR) { return cached; };
        MsiToolReport report;
        report.logFolder = Wide(logs.path()) + L"\\";
        report.logStamp = L"2026-12-11 120000";
        EXPECT_EQ(RunMsiTool(os_, UninstallLine(packages[0]).c_str(), true, &report), 0);
        EXPECT_EQ(os_.configuredProducts.size(), c.configured);
        EXPECT_EQ(os_.installCalls.empty(), !c.cachedTried);
        ASSERT_EQ(report.products.size(), c.answers.size());
        for (size_t i = 0; i < c.answers.size(); ++i) {
            const MsiProductAnswer& answer = report.products[i];
            EXPECT_EQ(answer.productCode, Wide(packages[1 - i].productCode));  // newest first
            EXPECT_EQ(answer.configureCode, c.answers[i].first);
            EXPECT_EQ(answer.removed, c.answers[i].second);
            EXPECT_EQ(answer.cachedTried, c.cachedTried);
            EXPECT_EQ(answer.logPath, report.logFolder + L"MSI " + answer.productCode + L" 2026-12-11 120000.log");
        }
        if (c.cachedTried) {
            // The copy of the cached package lay in a private folder of the
            // run's own folder, not in the temporary one.
            ASSERT_FALSE(os_.createdFolders.empty());
            EXPECT_EQ(os_.createdFolders[0].path.rfind(logs.path() + "\\Clearway-", 0), 0u)
                << os_.createdFolders[0].path;
            EXPECT_TRUE(os_.installCalls[0].packageExisted);
        }
        os_.createdFolders.clear();
        if (c.configure == 0) {
            // The installer itself ran and logged each removal.
            for (const MsiProductAnswer& answer : report.products) {
                EXPECT_TRUE(PathExists(Narrow(answer.logPath))) << Narrow(answer.logPath);
            }
            for (const MsiPackage& package : packages) ExpectGone(package);
        }
        os_.configureProductFault = nullptr;
        os_.installProductFault = nullptr;
        TearDown();
    }
}

// A temporary folder so deep that the copy's path in its private folder
// would pass 259 characters: the retry is refused and traced, never cut,
// and the private folder is gone.
TEST_F(InstalledProducts, ARetryWhoseCopyWouldNotFitIsRefusedNeverCut) {
    const MsiPackage retry = FindMsiPackage("retry");
    TempFolder source("msitool_package_name");
    const std::string packageName = "retry-package-with-a-name-long-enough-to-pass-the-limit.msi";
    ASSERT_TRUE(::CopyFileA(retry.PackagePath().c_str(), (source / packageName).c_str(), FALSE));
    InstallFrom(retry, source / packageName);
    ASSERT_FALSE(HasFailure());

    TempFolder deep("msitool_deep_temp");
    std::string temp = deep.path();
    while (temp.size() < 190) {
        temp += "\\" + std::string(20, 'd');
        ASSERT_TRUE(::CreateDirectoryA(temp.c_str(), nullptr)) << temp;
    }

    TempFolder logs("msitool_retry_log");
    InitTraceLog(nullptr, false, logs.path().c_str());
    wchar_t oldTemp[MAX_PATH] = {};
    const DWORD hadTemp = ::GetEnvironmentVariableW(L"TMP", oldTemp, MAX_PATH);
    ::SetEnvironmentVariableW(L"TMP", (Wide(temp) + L"\\").c_str());  // what GetTempPathW gives
    os_.configureProductFault = [](LPCWSTR) -> UINT { return ERROR_INSTALL_FAILURE; };
    os_.installProductFault = [](LPCWSTR) -> UINT { return ERROR_INSTALL_FAILURE; };
    {
        ProductFamily family(os_, Wide(retry.upgradeCode));
        EXPECT_EQ(family.UninstallAll(), 0u);
        EXPECT_EQ(family.GetCount(), 1u);  // the family keeps the product
    }
    ::SetEnvironmentVariableW(L"TMP", hadTemp ? oldTemp : nullptr);
    TraceShutdown();

    EXPECT_TRUE(os_.installCalls.empty());
    EXPECT_TRUE(MsiPackageInstalled(retry));
    ASSERT_EQ(os_.createdFolders.size(), 1u);
    EXPECT_FALSE(PathExists(os_.createdFolders[0].path));
    const std::string copy = os_.createdFolders[0].path + "\\" + packageName;
    EXPECT_GT(copy.size(), 259u);
    const std::string log = testing_support::ReadWholeFile(logs / "msitool_tests.log");
    EXPECT_THAT(log, HasSubstr("UninstallFromCachedPackage: the copy's path '" + copy + "' is longer than 259 characters; no "
                       "retry from the cached package"))
        << log;
}

// SystemComponent of the package's Uninstall entry in a view: the double
// word, or ~0u when the value is missing.
DWORD SystemComponent(const MsiPackage& package, REGSAM view) {
    DWORD value = 0, size = sizeof value;
    platform::RegKey key;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, package.UninstallKey().c_str(), 0, KEY_READ | view, key.put()) != 0 ||
        ::RegQueryValueExA(key.get(), "SystemComponent", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) !=
            0) {
        return ~0u;
    }
    return value;
}

TEST_F(InstalledProducts, HidingLeavesOnlyTheNewestVisibleInTheViewOfEachEntry) {
    // 1.0 (x86), 1.5 (x64: its entry is only in the 64-bit view), and two of 2.0.
    const auto packages = Install({"hide_old32", "hide_old64", "hide_new_a", "hide_new_b"});
    ASSERT_FALSE(HasFailure());
    ProductFamily family(os_, Wide(packages[0].upgradeCode));
    ASSERT_EQ(family.GetCount(), 4u);
    // Of the two newest the one the installer lists first stays visible.
    std::wstring visible;
    for (const auto& product : family.Products()) {
        const std::wstring code = product->GetProductCode();
        if (code == Wide(packages[2].productCode) || code == Wide(packages[3].productCode)) {
            visible = code;
            break;
        }
    }

    EXPECT_EQ(family.HideOldAddRemoves(), 3u);

    for (const MsiPackage& package : packages) {
        SCOPED_TRACE(package.id);
        const REGSAM otherView = package.x64 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
        EXPECT_EQ(SystemComponent(package, package.View()), Wide(package.productCode) == visible ? ~0u : 1u);
        EXPECT_FALSE(MachineKeyExists(package.UninstallKey(), otherView));  // nothing made in the other view
    }

    // The entry hides (again) and removes nothing.
    EXPECT_EQ(RunMsiTool(os_, (L"/hideoldaddremoves /u:" + Wide(packages[0].upgradeCode)).c_str(), false), 0);
    EXPECT_TRUE(os_.configuredProducts.empty());
    EXPECT_EQ(SystemComponent(packages[0], packages[0].View()), 1u);
    for (const MsiPackage& package : packages) EXPECT_TRUE(MsiPackageInstalled(package)) << package.id;
}

}  // namespace
