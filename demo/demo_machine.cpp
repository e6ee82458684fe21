// The demo's hands inside the prefix: lays the damaged machine of
// tests/support/damaged_machine.h and reports what of it is present.
//   demo_machine lay   SERVICE_PROGRAM PRODUCT_CODE UPGRADE_CODE MSI_FOLDER CONFIG_PATH
//   demo_machine state SERVICE_PROGRAM PRODUCT_CODE UPGRADE_CODE MSI_FOLDER
//   demo_machine run PROGRAM [ARGUMENT...]
// lay writes the configuration file to CONFIG_PATH (the MSI product is
// installed by the caller). state prints one line per item:
//   fate <TAB> present (1 or 0) <TAB> kind <TAB> name <TAB> note
// with fate "stays", "goes" (during the run) or "restart" (at the restart).
// run starts PROGRAM, waits for it and prints "exit code N": the whole 32-bit
// code, which a Unix exit status would cut to its low byte.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "tests/support/damaged_machine.h"

using testing_support::DamagedMachine;
using testing_support::Fate;
using testing_support::MachineItem;

namespace {

int Run(int argc, char** argv) {
    std::string line;
    for (int i = 0; i < argc; ++i) line += (i ? " \"" : "\"") + std::string(argv[i]) + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!::CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
        std::fprintf(stderr, "demo_machine: %s did not start: %lu\n", argv[0], ::GetLastError());
        return 1;
    }
    ::WaitForSingleObject(info.hProcess, INFINITE);
    DWORD code = 0;
    ::GetExitCodeProcess(info.hProcess, &code);
    ::CloseHandle(info.hThread);
    ::CloseHandle(info.hProcess);
    std::printf("exit code %lu\n", code);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], "run") == 0) return Run(argc - 2, argv + 2);
    if (argc < 6 || (std::strcmp(argv[1], "lay") != 0 && std::strcmp(argv[1], "state") != 0) ||
        (std::strcmp(argv[1], "lay") == 0 && argc < 7)) {
        std::fprintf(stderr, "usage: demo_machine lay|state SERVICE_PROGRAM PRODUCT_CODE UPGRADE_CODE MSI_FOLDER [CONFIG_PATH]\n");
        return 2;
    }
    const DamagedMachine machine(argv[2], {argv[3], argv[4], argv[5]});
    if (std::strcmp(argv[1], "lay") == 0) {
        std::string error;
        if (!machine.Lay(error)) {
            std::fprintf(stderr, "demo_machine: %s\n", error.c_str());
            return 1;
        }
        FILE* config = std::fopen(argv[6], "w");
        if (!config || std::fputs(machine.Configuration().c_str(), config) < 0 || std::fclose(config) != 0) {
            std::fprintf(stderr, "demo_machine: %s not written\n", argv[6]);
            return 1;
        }
        return 0;
    }
    for (const MachineItem& item : machine.Items()) {
        const char* fate = item.fate == Fate::Stays ? "stays" : item.fate == Fate::GoesNow ? "goes" : "restart";
        std::printf("%s\t%d\t%s\t%s\t%s\n", fate, DamagedMachine::Present(item) ? 1 : 0, item.KindText().c_str(),
                    item.name.c_str(), item.note.c_str());
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
