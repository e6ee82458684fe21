// Clearway.exe itself on a damaged machine: the program of this build tree
// started as a process with --noreboot, its exit code, what the run removed
// at once, a real restart of the prefix, and what is gone and what stays.
// The run holds its specified pauses (about three minutes, most of them the
// MSI step's built-in table): this one test takes that long.
#include <gtest/gtest.h>

#include <string>

#include "platform/handles.h"
#include "profile/engine.h"
#include "tests/app/damaged_setup.h"
#include "tests/support/damaged_machine.h"
#include "tests/support/msi_packages.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_dialog.h"
#include "tests/support/test_platform.h"
#include "trace/trace.h"

using testing_support::DamagedMachine;
using testing_support::Fate;
using testing_support::FindMsiPackage;
using testing_support::MachineItem;
using testing_support::MsiPackage;
using testing_support::ProgramFolder;
using testing_support::RunAndWait;
using testing_support::TempFolder;

namespace {

const DWORD kRunTimeoutMs = 10 * 60 * 1000;

// Checks every item against its fate; restarted says whether the prefix has
// restarted since the run (files go only then).
void ExpectMachine(const DamagedMachine& machine, bool restarted) {
    for (const MachineItem& item : machine.Items()) {
        SCOPED_TRACE(item.KindText() + " " + item.name + " (" + item.note + ")");
        const bool present = DamagedMachine::Present(item);
        switch (item.fate) {
            case Fate::Stays: EXPECT_TRUE(present) << "must stay"; break;
            case Fate::GoesNow: EXPECT_FALSE(present) << "must be gone after the run"; break;
            case Fate::GoesAtRestart:
                EXPECT_EQ(present, !restarted) << (restarted ? "must be gone after the restart"
                                                             : "must stay until the restart (only scheduled)");
                break;
        }
    }
}

TEST(ProgramTest, ASilentRunWithoutRestartRemovesTheInstallationAndTheRestartFinishesIt) {
    const MsiPackage package = testing_support::FindMsiPackage("parlowe_agent");
    const DamagedMachine machine = testing_support::MachineOf(package);
    testing_support::LayMachine(machine, package);
    if (HasFatalFailure()) return;

    // The program with its configuration in a folder of its own.
    TempFolder folder("program");
    const std::string program = testing_support::PlaceProgram(folder, machine);

    // 3010: completed, a restart is still needed.
    EXPECT_EQ(RunAndWait("\"" + program + "\" --noreboot", kRunTimeoutMs), 3010u);
    const std::string log = testing_support::ReadWholeFile("C:\\ProgramData\\Velmoran clearway\\Clearway.log");
    EXPECT_NE(log.find("CleanupRegKeys"), std::string::npos) << log;
    ExpectMachine(machine, false);

    ASSERT_EQ(RunAndWait("C:\\windows\\system32\\wineboot.exe -r", 120000), 0u);
    ExpectMachine(machine, true);

    machine.Clear();
    testing_support::UninstallMsiPackage(package);
}

// The sample configuration that ships with the program reads without error.
TEST(ProgramTest, TheShippedSampleConfigurationReads) {
    TraceShutdown();
    const std::string sample = testing_support::ReadWholeFile(ProgramFolder() + "sample.cfg");
    ASSERT_FALSE(sample.empty());
    testing_support::WriteWholeFile(ProgramFolder() + "program_tests.cfg", sample);
    testing_support::TestPlatform os;
    testing_support::TestDialog dialog;
    dialog.productName = "Velmoran Parlowe";
    CNuke engine(os);
    engine.dialog = &dialog;
    EXPECT_EQ(engine.InitializeLists(0, 0), 0u) << engine.errorText;
    EXPECT_EQ(engine.PopulateLists(), 0u);
    // One entry of each of its sections reached its list.
    EXPECT_TRUE(engine.removeMsiUpgradeCodeList.Contains("{00000000-0000-0000-0000-000000000000}"));
    EXPECT_TRUE(engine.ignoreServiceList.Contains("VELPARLOWEUPDATE"));
    EXPECT_TRUE(engine.removeRegKeyList.Contains("HKEY_LOCAL_MACHINE\\SOFTWARE\\VELMORAN\\PARLOWE"));
    EXPECT_TRUE(engine.ignoreFileList.Contains("C:\\PROGRAM FILES\\VELMORAN\\QUARANTINE"));
    TraceShutdown();
    ::DeleteFileA((ProgramFolder() + "program_tests.cfg").c_str());
}

}  // namespace
