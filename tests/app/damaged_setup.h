// The damaged machine with its MSI product laid into the prefix, and
// Clearway.exe of this build tree copied with the machine's configuration
// into a folder of its own: the start of every test of the whole program.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "tests/support/damaged_machine.h"
#include "tests/support/msi_packages.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_platform.h"

namespace testing_support {

inline DamagedMachine MachineOf(const MsiPackage& package) {
    return DamagedMachine(BuiltProgram("test_service.exe"),
                          {package.productCode, package.upgradeCode, package.InstallFolder()});
}

// Installs the product and lays the rest; fails the test unless every item
// is there afterwards.
inline void LayMachine(const DamagedMachine& machine, const MsiPackage& package) {
    ASSERT_EQ(InstallMsiPackage(package), 0u);
    std::string error;
    ASSERT_TRUE(machine.Lay(error)) << error;
    for (const MachineItem& item : machine.Items()) {
        ASSERT_TRUE(DamagedMachine::Present(item)) << "not laid: " << item.KindText() << " " << item.name;
    }
}

// The machine of the parlowe agent package laid for one test: cleared, and
// its product uninstalled, when the test ends, however it ended.
class LaidMachine {
public:
    LaidMachine() : package(FindMsiPackage("parlowe_agent")), machine(MachineOf(package)) { LayMachine(machine, package); }
    ~LaidMachine() {
        machine.Clear();
        UninstallMsiPackage(package);
    }
    LaidMachine(const LaidMachine&) = delete;
    LaidMachine& operator=(const LaidMachine&) = delete;

    const MsiPackage package;
    const DamagedMachine machine;
};

// The program (Clearway.exe of the build tree, or another build of it) as
// Clearway.exe with the machine's configuration beside it, and
// instvelps_x64 with the stand-in for the maker's library, as a complete
// package holds them; its path.
inline std::string PlaceProgram(const TempFolder& folder, const DamagedMachine& machine,
                                const char* build = "Clearway.exe") {
    const std::string program = folder / "Clearway.exe";
    EXPECT_TRUE(::CopyFileA(BuiltProgram(build).c_str(), program.c_str(), FALSE));
    for (const char* beside : {"instvelps_x64.exe", "instvelps_x64.dll"}) {
        EXPECT_TRUE(::CopyFileA((ProgramFolder() + beside).c_str(), (folder / beside).c_str(), FALSE)) << beside;
    }
    WriteWholeFile(folder / "Clearway.cfg", machine.Configuration());
    return program;
}

}  // namespace testing_support
