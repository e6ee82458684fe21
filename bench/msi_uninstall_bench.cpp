// The MSI uninstall step over five installed products (five upgrade codes)
// beside a bare `msiexec /x` of the same five, installed again in between,
// in one run. The step's pauses (10 s after each built-in table code) are
// recorded instead of waited for, so its wall time is the time of the work
// alone; they are printed apart. Prints figures; asserts nothing.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "profile/engine.h"
#include "tests/support/msi_packages.h"
#include "tests/support/test_platform.h"
#include "trace/trace.h"

using testing_support::InstallMsiPackage;
using testing_support::LoadMsiPackages;
using testing_support::MsiPackage;
using testing_support::MsiPackageInstalled;
using testing_support::UninstallMsiPackage;

namespace {

using Clock = std::chrono::steady_clock;
double Seconds(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// The production platform with the pauses recorded, not waited for.
class RecordedPauses : public platform::Platform {
public:
    void Sleep(DWORD milliseconds) override {
        ++pauses;
        pausedMs += milliseconds;
    }
    int pauses = 0;
    DWORD pausedMs = 0;
};

// Installs every package; false (with a message) when one fails.
bool InstallAll(const std::vector<MsiPackage>& packages) {
    for (const MsiPackage& package : packages) {
        const DWORD rc = InstallMsiPackage(package);
        if (rc != 0) {
            std::printf("installing %s failed with %lu\n", package.id.c_str(), rc);
            return false;
        }
    }
    return true;
}

int Installed(const std::vector<MsiPackage>& packages) {
    int count = 0;
    for (const MsiPackage& package : packages) count += MsiPackageInstalled(package) ? 1 : 0;
    return count;
}

struct StepTiming {
    double seconds;
    DWORD result;
    int pauses;
    DWORD pausedMs;
};

// One MsiUninstall with the codes listed, the trace log open as in a run.
StepTiming RunStep(const std::vector<MsiPackage>& packages) {
    RecordedPauses os;
    CNuke engine(os);
    for (const MsiPackage& package : packages) engine.expandedMsiUpgradeCodeList.Insert(package.upgradeCode.c_str());
    const Clock::time_point start = Clock::now();
    const DWORD result = engine.MsiUninstall();
    return {Seconds(start), result, os.pauses, os.pausedMs};
}

}  // namespace

int main() {
    const std::vector<MsiPackage> packages = LoadMsiPackages();
    const std::string log = testing_support::ProgramFolder() + "msi_uninstall_bench.log";
    TraceSetOptions(-1, 0, false, false);
    TraceOpenLog(log.c_str(), "w");

    std::printf("installing %zu products...\n", packages.size());
    if (packages.size() != 5 || !InstallAll(packages)) return 1;
    const StepTiming step = RunStep(packages);
    const int leftByStep = Installed(packages);

    // The built-in table alone, with none of its codes installed.
    const StepTiming table = RunStep({});

    std::printf("installing them again...\n");
    if (!InstallAll(packages)) return 1;
    const Clock::time_point start = Clock::now();
    for (const MsiPackage& package : packages) UninstallMsiPackage(package);
    const double bare = Seconds(start);
    const int leftByBare = Installed(packages);
    TraceShutdown();

    std::printf("MsiUninstall, 5 products of 5 listed codes and the 15 table codes: %.2f s without its pauses "
                "(result %lu, %d products left; %d pauses of %.0f s in all recorded, not waited for)\n",
                step.seconds, step.result, leftByStep, step.pauses, step.pausedMs / 1000.0);
    std::printf("  of which the 15 table codes with nothing installed: %.3f s\n", table.seconds);
    std::printf("bare msiexec /x of the same 5 products: %.2f s (%d products left)\n", bare, leftByBare);
    std::printf("ratio MsiUninstall / bare: %.2f; listed part only (step less table) / bare: %.2f\n",
                step.seconds / bare, (step.seconds - table.seconds) / bare);
    return 0;
}
