// A damaged Velmoran installation as data: what lies on the machine before a
// removal run, and for each item whether the run must remove it at once
// (registry data, services, processes, the MSI product), at the next restart
// (files and folders), or leave it alone (ignored folders and keys, another
// vendor's data). Laid into the prefix by Lay, looked at by Present; the
// whole-program test and the demo use the same machine.
//
// The product is "Velmoran Parlowe" in C:\Program Files (x86)\Velmoran\Parlowe
// with a 64-bit part under the 64-bit Program Files folder and registry view,
// a running service and tray process, per-user data in the current profile
// and in a second one (C:\users\john), setup logs in the Windows temporary
// folder, a shared folder and key that the configuration ignores, and the
// other vendor Northgale beside it. No gtest here: the demo's helper program
// links it too.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace testing_support {

enum class ItemKind { File, Folder, Key, Value, Service, Process, MsiProduct };
enum class Fate { Stays, GoesNow, GoesAtRestart };

struct MachineItem {
    ItemKind kind;
    // File, Folder: the path. Key: "HKEY_LOCAL_MACHINE\..." or
    // "HKEY_CURRENT_USER\...". Value: the key's text, a backslash and the
    // value name. Service: its name. Process: its file name. MsiProduct: its
    // product code.
    std::string name;
    REGSAM view;  // Key, Value: KEY_WOW64_32KEY or KEY_WOW64_64KEY; else 0
    Fate fate;
    std::string note;  // why it goes or stays, for the demo's table

    // "key (64-bit view)", "file", ...
    std::string KindText() const;
};

// The MSI product of the machine, installed by msiexec (a package built with
// tests/support/make-msi.sh from the line in tests/support/machine_packages.txt).
struct MachineMsiProduct {
    std::string productCode;
    std::string upgradeCode;
    std::string installFolder;  // where its files go
};

class DamagedMachine {
public:
    // serviceProgram: a program that runs as a service and, with
    // "--sleep N", as a plain sleeper (tests/actions/test_service.cpp); it is
    // copied into the product as its service and its tray program.
    DamagedMachine(std::string serviceProgram, MachineMsiProduct msi);

    std::vector<MachineItem> Items() const;
    // Clearway.cfg for this machine.
    std::string Configuration() const;

    // Removes whatever an earlier machine left (the MSI product excepted),
    // then lays every item but the MSI product: files, keys, values, the
    // running service and the running tray process. False with a reason in
    // error when something could not be laid.
    bool Lay(std::string& error) const;
    // Removes every item that is left, also the ones that stay, and ends the
    // tray process and the service (the MSI product excepted).
    void Clear() const;

    static bool Present(const MachineItem& item);

    static const char kInstallFolder[];  // C:\Program Files (x86)\Velmoran\Parlowe
    static const char kServiceName[];
    static const char kTrayProgram[];    // file name of the tray process

private:
    std::string serviceProgram_;
    MachineMsiProduct msi_;
    std::string userData_;    // the current profile's per-user application data folder
    std::string secondData_;  // the same folder of the second profile
    std::string secondProfile_;
};

// Ends every process whose file name is name (case-insensitive); how many.
int EndProcesses(const std::string& name);

}  // namespace testing_support
