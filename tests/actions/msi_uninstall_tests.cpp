// The MSI uninstall driver with a stand-in for the MSI tool's entry, so the
// tool can answer or throw as each case needs; the tool itself is tested
// against the prefix's real installer in its own tests.
#include <gtest/gtest.h>

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "msitool/msitool.h"
#include "profile/engine.h"
#include "tests/support/list_text.h"
#include "tests/support/matchers.h"
#include "tests/support/test_platform.h"
#include "trace/trace.h"

using testing_support::ProgramFolder;
using testing_support::ReadWholeFile;
using testing_support::TestPlatform;

namespace {

const int kThrow = -1;  // the stand-in throws instead of answering

// What the stand-in answers, call by call (0 once the script runs out), and
// the commands it was given.
struct ToolScript {
    std::vector<int> answers;
    size_t next = 0;
    std::vector<std::wstring> commands;
    // Calls whose one product the installer answers with a code.
    std::map<size_t, UINT> installerAnswers;
} g_script;

const wchar_t kProduct[] = L"{0D000000-0000-4000-8000-00000000000D}";

int StandInTool(platform::Platform&, const wchar_t* commandLine, bool skipRightsCheck, MsiToolReport* report) {
    EXPECT_TRUE(skipRightsCheck);
    const auto installer = g_script.installerAnswers.find(g_script.commands.size());
    if (report && installer != g_script.installerAnswers.end()) {
        MsiProductAnswer product;
        product.productCode = kProduct;
        product.configureCode = installer->second;
        product.removed = installer->second == 0;
        report->products.push_back(product);
    }
    g_script.commands.push_back(commandLine);
    const int answer = g_script.next < g_script.answers.size() ? g_script.answers[g_script.next] : 0;
    ++g_script.next;
    if (answer == kThrow) throw std::runtime_error("installer fault");
    return answer;
}

class MsiUninstallTest : public ::testing::Test {
protected:
    MsiUninstallTest() : engine_(os_) {
        engine_.runMsiTool = StandInTool;
        g_script = ToolScript();
    }
    DWORD Run(const std::vector<const char*>& codes, const std::vector<int>& answers) {
        for (const char* code : codes) engine_.expandedMsiUpgradeCodeList.Insert(code);
        g_script.answers = answers;
        TraceShutdown();
        TraceSetOptions(-1, 0, false, false);
        TraceOpenLog(LogPath().c_str(), "w");
        DWORD rc = engine_.MsiUninstall();
        TraceShutdown();
        log_ = ReadWholeFile(LogPath());
        return rc;
    }
    static std::string LogPath() { return ProgramFolder() + "msi_uninstall_tests.log"; }
    size_t Count(const std::string& line) const {
        size_t n = 0;
        for (size_t at = log_.find(line); at != std::string::npos; at = log_.find(line, at + 1)) ++n;
        return n;
    }

    TestPlatform os_;
    CNuke engine_;
    std::string log_;
};

const char kA[] = "{0A000000-0000-4000-8000-00000000000A}";
const char kB[] = "{0B000000-0000-4000-8000-00000000000B}";
const char kC[] = "{0C000000-0000-4000-8000-00000000000C}";

TEST_F(MsiUninstallTest, ListedCodesThenTheFifteenBuiltInOnesWithAPauseAfterEachCompletedTableCall) {
    EXPECT_EQ(Run({kC, kA, kB}, {0, 160, 0, 5}), 160u);  // the first failure of the list is the step's result
    ASSERT_EQ(g_script.commands.size(), 18u);
    EXPECT_EQ(g_script.commands[0], L"/uninstall /u:{0A000000-0000-4000-8000-00000000000A}");
    EXPECT_EQ(g_script.commands[2], L"/uninstall /u:{0C000000-0000-4000-8000-00000000000C}");
    // The table: fifteen distinct codes in registry form, passed as stored,
    // some in lower case.
    bool lower = false, upper = false;
    for (size_t i = 3; i < 18; ++i) {
        const std::wstring& command = g_script.commands[i];
        ASSERT_EQ(command.size(), 14u + 38u);
        EXPECT_EQ(command.compare(0, 15, L"/uninstall /u:{"), 0);
        EXPECT_EQ(command.back(), L'}');
        for (size_t j = 3; j < i; ++j) EXPECT_NE(command, g_script.commands[j]);
        lower |= command.find_first_of(L"abcdef", 15) != std::wstring::npos;
        upper |= command.find_first_of(L"ABCDEF", 15) != std::wstring::npos;
    }
    EXPECT_TRUE(lower && upper);
    EXPECT_EQ(os_.sleeps, std::vector<DWORD>(15, 10000));
    EXPECT_THAT(log_, HasSubstr("MsiUninstall: entry\r\nMsiUninstall: looping start...\r\nMsiUninstall Parsing upgrade "
                        "code...\r\nMsiUninstall calling VelMsi api using command '/uninstall "
                        "/u:{0A000000-0000-4000-8000-00000000000A}'...\r\nMsiUninstall returned value '0'\r\n"))
        << log_;
    EXPECT_EQ(Count("MsiUninstall returned value '160'\r\n"), 1u);
    EXPECT_EQ(Count("HCMSIUninstall returned value '"), 15u);
    EXPECT_EQ(Count("HCMSIUninstall returned value '5'"), 1u);  // table results never reach the step's result
    EXPECT_THAT(log_, HasSubstr("HCMSIUninstall calling VelMsi api using command '{"));
    EXPECT_EQ(log_.substr(log_.size() - 28), "MsiUninstall: looping exit\r\n");
}

// The installer's answer for each product is traced; a refusal of a damaged
// product lets the run go on, another installation in progress (1618) ends
// the step at once with that code, before anything else is touched.
TEST_F(MsiUninstallTest, TheInstallersAnswersAreTracedAndABusyInstallerStopsTheStep) {
    g_script.installerAnswers = {{0, ERROR_INSTALL_FAILURE}, {1, ERROR_INSTALL_ALREADY_RUNNING}};
    EXPECT_EQ(Run({kA, kB, kC}, {}), static_cast<DWORD>(ERROR_INSTALL_ALREADY_RUNNING));
    EXPECT_EQ(g_script.commands.size(), 2u);  // neither C nor the table
    EXPECT_TRUE(engine_.installerBusy);
    EXPECT_THAT(log_, HasSubstr("MsiUninstall: Windows Installer answered 1603 for the product "
                                "{0D000000-0000-4000-8000-00000000000D} (upgrade code " + std::string(kA) +
                                "); it is not uninstalled\r\n"));
    EXPECT_THAT(log_, HasSubstr("MsiUninstall: Windows Installer answered 1618 for the product "
                                "{0D000000-0000-4000-8000-00000000000D} (upgrade code " + std::string(kB) + ")"));
    EXPECT_THAT(log_, HasSubstr("MsiUninstall: another installation is in progress (Windows Installer answered "
                                "1618): the run stops here, before any service, file or key is touched."));
    ASSERT_EQ(engine_.installerAnswers.size(), 2u);
    EXPECT_EQ(engine_.installerAnswers[1].upgradeCode, kB);
    EXPECT_EQ(engine_.installerAnswers[1].code, static_cast<UINT>(ERROR_INSTALL_ALREADY_RUNNING));
    EXPECT_TRUE(os_.sleeps.empty());

    // In the built-in table too: A, B and C, then the table's second code.
    g_script = ToolScript();
    g_script.installerAnswers = {{4, ERROR_INSTALL_ALREADY_RUNNING}};
    EXPECT_EQ(Run({}, {}), static_cast<DWORD>(ERROR_INSTALL_ALREADY_RUNNING));
    EXPECT_EQ(g_script.commands.size(), 5u);
    EXPECT_EQ(os_.sleeps.size(), 1u);  // after the table code before it
}

TEST_F(MsiUninstallTest, AThrowingCallIsTriedOnceMoreAndTwoThrowsSkipTheCode) {
    // A: throws, then answers 160. B: throws twice. Table: first code throws
    // then answers (pause), second throws twice (no pause).
    EXPECT_EQ(Run({kA, kB}, {kThrow, 160, kThrow, kThrow, kThrow, 0, kThrow, kThrow}), 160u);
    EXPECT_EQ(g_script.commands.size(), 4u + 2u + 2u + 13u);
    EXPECT_EQ(g_script.commands[0], g_script.commands[1]);
    EXPECT_THAT(log_, HasSubstr("MsiUninstall crashed...\r\nTrying again the MsiUninstall uninstall...\r\n"
                        "MsiUninstall returned value '160'\r\n"))
        << log_;
    EXPECT_THAT(log_, HasSubstr("Trying again the MsiUninstall uninstall...\r\n"
                        "MsiUninstall crashed two times in row, trying next MsiUninstall\r\n"));
    EXPECT_THAT(log_, HasSubstr("HCMSIUninstall crashed...\r\nTrying again the HCMSIUninstall uninstall...\r\n"
                        "HCMSIUninstall returned value '0'\r\n"));
    EXPECT_EQ(Count("HCMSIUninstall crashed two times in row, trying next MsiUninstall\r\n"), 1u);
    EXPECT_EQ(os_.sleeps.size(), 14u);
}

TEST_F(MsiUninstallTest, OutsideTheNtFamilyNothingIsUninstalled) {
    os_.platformId = VER_PLATFORM_WIN32_WINDOWS;
    EXPECT_EQ(Run({kA}, {160}), 0u);
    EXPECT_TRUE(g_script.commands.empty());
    EXPECT_EQ(log_.substr(log_.find("MsiUninstall")), "MsiUninstall: entry\r\n");
    EXPECT_TRUE(os_.sleeps.empty());
}

TEST_F(MsiUninstallTest, AnEmptyListStillRunsTheTable) {
    EXPECT_EQ(Run({}, {160}), 0u);
    EXPECT_EQ(g_script.commands.size(), 15u);
    EXPECT_EQ(Count("MsiUninstall Parsing upgrade code"), 0u);
}

}  // namespace
