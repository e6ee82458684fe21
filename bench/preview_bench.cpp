// A preview of the demo's damaged machine beside the profile alone: the
// machine of tests/support/damaged_machine.h is laid (its MSI product
// installed), then, five times each, in this process and on the preview
// platform (nothing on the machine changes):
// - the profile alone: InitializeLists and PopulateLists;
// - a preview as the program makes one: the run's worker over every step
//   (its pauses recorded, not waited for), then the report, which builds the
//   profile a second time without ignore entries;
// and, in the 32-bit tree, Clearway.exe --preview as a process. The 64-bit
// build sees the machine as a 64-bit process does (its own Program Files
// folder), so its profile is smaller. Prints figures; asserts nothing.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "app/dialogs.h"
#include "app/preview_report.h"
#include "app/run.h"
#include "app/run_result.h"
#include "platform/preview.h"
#include "profile/engine.h"
#include "tests/support/damaged_machine.h"
#include "tests/support/msi_packages.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_platform.h"
#include "trace/trace.h"

using testing_support::DamagedMachine;
using testing_support::MsiPackage;
using testing_support::BuiltProgram;
using testing_support::ProgramFolder;

namespace {

using Clock = std::chrono::steady_clock;
double Seconds(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

const int kRounds = 5;

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

std::string Figures(const std::vector<double>& values) {
    std::string text;
    char one[32];
    for (double value : values) {
        std::snprintf(one, sizeof one, "%s%.2f", text.empty() ? "" : " ", value);
        text += one;
    }
    std::snprintf(one, sizeof one, " s, median %.2f s", Median(values));
    return text + one;
}

struct Profile {
    double seconds;
    DWORD result;
    int files, values, keys, services, msiCodes;
};

Profile BuildProfile() {
    platform::PreviewPlatform os;
    CNuke engine(os);
    CZerlinDlg dialog(os, engine);
    engine.dialog = &dialog;
    const Clock::time_point start = Clock::now();
    DWORD rc = engine.InitializeLists(0, 0);
    if (rc == ERROR_SUCCESS) rc = engine.PopulateLists();
    const double seconds = Seconds(start);
    TraceShutdown();
    return {seconds,
            rc,
            engine.expandedFileList.Count(),
            engine.expandedRegValueList.Count(),
            engine.expandedRegKeyList.Count(),
            engine.expandedServiceList.Count(),
            engine.expandedMsiUpgradeCodeList.Count()};
}

struct Preview {
    double run, report;
    DWORD result;
    size_t changes;
    DWORD pausedMs;
};

Preview RunPreview() {
    platform::PreviewPlatform os;
    CNuke engine(os);
    CZerlinDlg dialog(os, engine);
    engine.dialog = &dialog;
    dialog.runState = Running;
    PreviewSteps steps(&os);
    g_runContext = {&dialog, nullptr, 0, &engine, &steps};
    const Clock::time_point start = Clock::now();
    RunRemoval(&g_runContext);
    const double run = Seconds(start);
    const Clock::time_point reportStart = Clock::now();
    const std::string report = BuildPreviewReport(os, engine, dialog);
    const double reportSeconds = Seconds(reportStart);
    TraceShutdown();
    return {run, reportSeconds, g_runContext.result, os.Changes().size(), os.PausedMilliseconds()};
}

// Starts a command line with its output going nowhere (the program writes
// its report to the console it was started from); its exit code.
DWORD RunQuietly(const std::string& commandLine) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE nul = ::CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0,
                               nullptr);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = startup.hStdError = nul;
    PROCESS_INFORMATION info = {};
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    DWORD code = ~0u;
    if (::CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                         &info)) {
        ::WaitForSingleObject(info.hProcess, 5 * 60 * 1000);
        ::GetExitCodeProcess(info.hProcess, &code);
        ::CloseHandle(info.hThread);
        ::CloseHandle(info.hProcess);
    }
    ::CloseHandle(nul);
    return code;
}

}  // namespace

int main() {
    const MsiPackage package = testing_support::FindMsiPackage("parlowe_agent", "machine_packages.txt");
    const DamagedMachine machine(BuiltProgram("test_service.exe"),
                                 {package.productCode, package.upgradeCode, package.InstallFolder()});
    std::printf("laying the damaged machine...\n");
    if (testing_support::InstallMsiPackage(package) != 0) {
        std::printf("the machine's MSI package did not install\n");
        return 1;
    }
    std::string error;
    if (!machine.Lay(error)) {
        std::printf("the machine was not laid: %s\n", error.c_str());
        return 1;
    }
    const std::string configuration = ProgramFolder() + "preview_bench.cfg";
    testing_support::WriteWholeFile(configuration, machine.Configuration());
    TraceSetLogNameSuffix(" preview");  // as the program does for a preview

    std::vector<double> profileTimes, runTimes, reportTimes, previewTimes, programTimes;
    Profile profile = {};
    Preview preview = {};
    for (int round = 0; round < kRounds; ++round) {
        profile = BuildProfile();
        profileTimes.push_back(profile.seconds);
        preview = RunPreview();
        runTimes.push_back(preview.run);
        reportTimes.push_back(preview.report);
        previewTimes.push_back(preview.run + preview.report);
    }

    // The program itself, where this tree builds it.
    const std::string built = BuiltProgram("Clearway.exe");
    DWORD programCode = 0;
    if (::GetFileAttributesA(built.c_str()) != INVALID_FILE_ATTRIBUTES) {
        testing_support::TempFolder folder("preview_bench");
        const std::string program = folder / "Clearway.exe";
        ::CopyFileA(built.c_str(), program.c_str(), FALSE);
        testing_support::WriteWholeFile(folder / "Clearway.cfg", machine.Configuration());
        for (int round = 0; round < kRounds; ++round) {
            const Clock::time_point start = Clock::now();
            programCode = RunQuietly("\"" + program + "\" --preview");
            programTimes.push_back(Seconds(start));
        }
    }

    machine.Clear();
    testing_support::UninstallMsiPackage(package);
    ::DeleteFileA(configuration.c_str());

    std::printf("profile (InitializeLists + PopulateLists) alone: %s (result %lu; %d files and folders, %d values, "
                "%d keys, %d services, %d MSI codes)\n",
                Figures(profileTimes).c_str(), profile.result, profile.files, profile.values, profile.keys,
                profile.services, profile.msiCodes);
    std::printf("preview, whole: %s (result %lu, %zu changes listed, %.1f s of pauses not waited for)\n",
                Figures(previewTimes).c_str(), preview.result, preview.changes, preview.pausedMs / 1000.0);
    std::printf("  the run's steps: %s\n", Figures(runTimes).c_str());
    std::printf("  the report (a second profile without ignore entries): %s\n", Figures(reportTimes).c_str());
    std::printf("preview / profile alone (medians): %.2f\n", Median(previewTimes) / Median(profileTimes));
    if (!programTimes.empty()) {
        std::printf("Clearway.exe --preview as a process: %s (exit code %lu)\n", Figures(programTimes).c_str(),
                    programCode);
    }

    // The result record a run writes at its end, as full as a run's: every
    // step, fifteen installer answers, ten things left.
    RunResult record;
    record.version = "1.0.1.0";
    record.kind = "run";
    record.switches = {"--noreboot", "--forcemsi"};
    record.account = "SYSTEM";
    record.exitCode = 1603;
    record.meaning = record.summary = std::string(200, 'x');
    for (int i = 0; i < 11; ++i) record.steps.emplace_back("a step of the run", 0);
    for (int i = 0; i < 15; ++i) {
        CNuke::InstallerAnswer answer;
        answer.upgradeCode = answer.productCode = "{F57B46CE-FA92-4241-B1D8-98E296E2E1A7}";
        answer.code = 1603;
        record.installer.push_back(answer);
    }
    for (int i = 0; i < 10; ++i) record.left.push_back(std::string(150, 'y'));
    std::vector<double> recordTimes;
    for (int round = 0; round < 20; ++round) {
        const Clock::time_point start = Clock::now();
        WriteRunResult(record);
        recordTimes.push_back(Seconds(start) * 1000.0);
    }
    std::printf("Clearway result.json written (twenty times): median %.2f ms, longest %.2f ms\n", Median(recordTimes),
                *std::max_element(recordTimes.begin(), recordTimes.end()));
    return 0;
}
