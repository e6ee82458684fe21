// The banner's version text for a program without a version resource and for
// one whose version resource carries the debug flag.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/matchers.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_platform.h"
#include "trace/trace.h"

TEST(TraceBanner, VersionTextComesFromTheFixedFileInformation) {
    testing_support::TempFolder folder(CLEARWAY_BANNER_NAME);
    InitTraceLog(nullptr, false, folder.path().c_str());
    TraceShutdown();
    std::string log = testing_support::ReadWholeFile(folder / CLEARWAY_BANNER_NAME ".log");
    EXPECT_THAT(log, HasSubstr("\t" CLEARWAY_BANNER_NAME " v." CLEARWAY_BANNER_VERSION "\r\n")) << log;
}
