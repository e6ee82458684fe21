#include <gtest/gtest.h>

#include "actions/report.h"
#include "tests/support/test_platform.h"
#include "trace/trace.h"

TEST(ReportOperationErrorTest, OneLinePerCodeWithItsMeaning) {
    testing_support::TestPlatform os;
    TraceSetPlatform(&os);
    ReportOperationError(2, "Deleting registry value", "HKEY_USERS\\X");
    ReportOperationError(6, "Terminating service", "VELSVC");
    ReportOperationError(145, "Deleting folder", "C:\\A");
    ReportOperationError(5, "Starting of process", nullptr);
    TraceSetPlatform(nullptr);
    EXPECT_EQ(os.DebugOutput(),
              "Deleting registry value 'HKEY_USERS\\X' reported \"file\" not found\n"
              "Terminating service 'VELSVC' reported invalid handle\n"
              "Deleting folder 'C:\\A' reported the directory is not empty\n"
              "Starting of process '' reported error code '5'\n");
}
