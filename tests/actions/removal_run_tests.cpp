// A whole removal on a damaged test machine: configuration beside the
// program, list initialisation, populate step, the removal steps, then a
// real restart of the prefix. What must stay is checked with what must go.
#include <gtest/gtest.h>

#include <string>

#include "platform/handles.h"
#include "profile/engine.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_dialog.h"
#include "tests/support/test_key.h"
#include "tests/support/test_platform.h"
#include "trace/trace.h"

using testing_support::PathExists;
using testing_support::ProgramFolder;
using testing_support::RunAndWait;
using testing_support::TempFolder;
using testing_support::TestDialog;
using testing_support::TestPlatform;
using testing_support::WriteWholeFile;

namespace {

const char kValues[] = "SOFTWARE\\ClearwayTests\\RunValues";  // 32-bit view
const char kProduct[] = "SOFTWARE\\ClearwayTests\\RunProduct";  // 64-bit view
const char kOther[] = "SOFTWARE\\ClearwayTests\\RunOther";      // both views, must stay

bool KeyExists(const std::string& path, REGSAM view) {
    return testing_support::KeyExists(HKEY_LOCAL_MACHINE, path, view);
}

bool ValueExists(const std::string& path, const char* name, REGSAM view) {
    return testing_support::ValueExists(HKEY_LOCAL_MACHINE, path, name, view);
}

// The key in view with the values named, each "x".
void MakeKey(const std::string& path, REGSAM view, std::initializer_list<const char*> values) {
    testing_support::CreateKey(HKEY_LOCAL_MACHINE, path, view);
    for (const char* name : values) testing_support::SetText(HKEY_LOCAL_MACHINE, path, name, "x", view);
}

void CleanRegistry() {
    for (const char* path : {kValues, kProduct, kOther}) testing_support::DeleteKeyTree(HKEY_LOCAL_MACHINE, path);
}

TEST(RemovalRunTest, ADamagedInstallationIsRemovedAndWhatStaysStays) {
    TraceShutdown();
    CleanRegistry();
    TempFolder folder("run");
    const std::string client = folder / "Velmoran\\Client";
    for (const char* d : {"Velmoran", "Velmoran\\Client", "Velmoran\\Client\\bin", "Velmoran\\Client\\data",
                          "Velmoran\\Client\\Shared", "Other"}) {
        ::CreateDirectoryA((folder / d).c_str(), nullptr);
    }
    for (const char* f : {"Velmoran\\Client\\bin\\vel.dll", "Velmoran\\Client\\data\\cfg.dat",
                          "Velmoran\\Client\\Shared\\keep.dat", "Other\\other.dat"}) {
        WriteWholeFile(folder / f, "x");
    }
    ::SetFileAttributesA((folder / "Velmoran\\Client\\bin\\vel.dll").c_str(), FILE_ATTRIBUTE_READONLY);

    MakeKey(kValues, KEY_WOW64_32KEY, {"VelPath", "VelMode", "Unrelated"});
    MakeKey(std::string(kProduct) + "\\Settings", KEY_WOW64_64KEY, {"A", "B"});
    MakeKey(std::string(kProduct) + "\\Keep", KEY_WOW64_64KEY, {"Kept"});
    MakeKey(kOther, KEY_WOW64_64KEY, {"Stays"});
    MakeKey(kOther, KEY_WOW64_32KEY, {"Stays"});

    platform::ServiceHandle scm(::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    ASSERT_TRUE(scm);
    {
        platform::ServiceHandle old(::OpenServiceA(scm.get(), "VELRUNSVC", DELETE));
        if (old) ::DeleteService(old.get());
    }
    platform::ServiceHandle created(::CreateServiceA(
        scm.get(), "VELRUNSVC", "VELRUNSVC", SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
        SERVICE_ERROR_IGNORE, "C:\\windows\\system32\\notepad.exe", nullptr, nullptr, nullptr, nullptr, nullptr));
    ASSERT_TRUE(created);
    created.reset();

    WriteWholeFile(ProgramFolder() + "removal_run_tests.cfg",
                   "[msi upgradecode 1]\n"
                   "[service 1]\n"
                   "remove=SERVICE_NAME,BY_VALUE,VELRUN*\n"
                   "[process 1]\n"
                   "[registry value 1]\n"
                   "remove=REG_VALUE,BY_VALUE,HKEY_LOCAL_MACHINE\\SOFTWARE\\ClearwayTests\\RunValues\\Vel*\n"
                   "[registry key 1]\n"
                   "remove=REG_KEY,BY_VALUE,HKEY_LOCAL_MACHINE\\SOFTWARE\\ClearwayTests\\RunProduct\n"
                   "ignore=REG_KEY,BY_VALUE,HKEY_LOCAL_MACHINE\\SOFTWARE\\ClearwayTests\\RunProduct\\Keep\n"
                   "[file 1]\n"
                   "remove=FILE_NAME,BY_VALUE," + client + "\n"
                   "ignore=FILE_NAME,BY_VALUE," + client + "\\Shared\n");

    TestPlatform os;
    TestDialog dialog;
    dialog.productName = "Velmoran";
    CNuke engine(os);
    engine.dialog = &dialog;
    ASSERT_EQ(engine.InitializeLists(0, 0), 0u) << engine.errorText;
    ASSERT_EQ(engine.PopulateLists(), 0u);
    EXPECT_EQ(engine.StopNTServices(), 0u);
    EXPECT_EQ(engine.CleanupFiles(), 0u);
    EXPECT_EQ(engine.CleanupRegValues(), 0u);
    EXPECT_EQ(engine.CleanupRegKeys(), 0u);
    TraceShutdown();
    ::DeleteFileA((ProgramFolder() + "removal_run_tests.cfg").c_str());

    // Registry data goes at once: the listed values, the product's subtree
    // but its ignored subkey (so the product key itself, not empty, stays).
    EXPECT_FALSE(ValueExists(kValues, "VelPath", KEY_WOW64_32KEY));
    EXPECT_FALSE(ValueExists(kValues, "VelMode", KEY_WOW64_32KEY));
    EXPECT_TRUE(ValueExists(kValues, "Unrelated", KEY_WOW64_32KEY));
    EXPECT_FALSE(KeyExists(std::string(kProduct) + "\\Settings", KEY_WOW64_64KEY));
    EXPECT_TRUE(ValueExists(std::string(kProduct) + "\\Keep", "Kept", KEY_WOW64_64KEY));
    EXPECT_TRUE(KeyExists(kProduct, KEY_WOW64_64KEY));
    EXPECT_TRUE(ValueExists(kOther, "Stays", KEY_WOW64_64KEY));
    EXPECT_TRUE(ValueExists(kOther, "Stays", KEY_WOW64_32KEY));
    // The service is gone once its last handle closed.
    ::SetLastError(0xdeadbeef);  // the error must come from the open
    platform::ServiceHandle service(::OpenServiceA(scm.get(), "VELRUNSVC", SERVICE_QUERY_STATUS));
    EXPECT_FALSE(service);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));

    // Files stay until the restart.
    ASSERT_TRUE(PathExists(folder / "Velmoran\\Client\\bin\\vel.dll"));
    ASSERT_EQ(RunAndWait("C:\\windows\\system32\\wineboot.exe -r", 120000), 0u);
    EXPECT_FALSE(PathExists(folder / "Velmoran\\Client\\bin\\vel.dll"));
    EXPECT_FALSE(PathExists(folder / "Velmoran\\Client\\bin"));
    EXPECT_FALSE(PathExists(folder / "Velmoran\\Client\\data"));
    EXPECT_TRUE(PathExists(folder / "Velmoran\\Client\\Shared\\keep.dat"));
    EXPECT_TRUE(PathExists(folder / "Other\\other.dat"));
    // The client folder was scheduled but still holds the kept folder.
    EXPECT_TRUE(PathExists(client));

    CleanRegistry();
}

}  // namespace
