// The service listing against real services of the prefix.
#include <gtest/gtest.h>

#include <string>

#include "actions/services.h"
#include "platform/handles.h"
#include "profile/tset.h"
#include "tests/support/test_platform.h"

namespace {

TEST(EnumServiceNamesTest, ListsEveryServiceInAnyState) {
    testing_support::TestPlatform os;
    platform::ServiceHandle scm(::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    ASSERT_TRUE(scm);
    const char* names[] = {"CWENUMSVC1", "CWENUMSVC2"};
    for (const char* name : names) {
        platform::ServiceHandle old(::OpenServiceA(scm.get(), name, DELETE));
        if (old) ::DeleteService(old.get());
        platform::ServiceHandle created(::CreateServiceA(
            scm.get(), name, name, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
            SERVICE_ERROR_IGNORE, "C:\\windows\\system32\\notepad.exe", nullptr, nullptr, nullptr, nullptr, nullptr));
        ASSERT_TRUE(created) << ::GetLastError();
    }
    TSet set;
    EXPECT_EQ(EnumServiceNames(os, scm.get(), set), 0u);
    EXPECT_TRUE(set.Contains("CWENUMSVC1"));
    EXPECT_TRUE(set.Contains("cwenumsvc2"));
    EXPECT_TRUE(set.Contains("RpcSs"));  // a running system service
    EXPECT_GT(set.Count(), 10);
    for (const char* name : names) {
        platform::ServiceHandle service(::OpenServiceA(scm.get(), name, DELETE));
        ::DeleteService(service.get());
    }

    // Without a manager handle the size query fails and its error is given.
    TSet none;
    EXPECT_EQ(EnumServiceNames(os, nullptr, none), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_TRUE(none.IsEmpty());
}

}  // namespace
