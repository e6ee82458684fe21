// Test MSI packages: real Windows Installer products built with wixl from a
// list kept with the tests, installed and removed with msiexec in the prefix.
//
// A test folder lists its packages in msi_packages.txt, one a line:
//   id | product name | manufacturer | version | x86 or x64 | upgrade code | product code | files...
// and calls clearway_msi_packages(<program> msi_packages.txt) in its
// CMakeLists.txt: at build time tests/support/make-msi.sh builds <id>.msi on
// the host (wixl does not run inside the prefix) and copies the list beside
// the test program, where LoadMsiPackages reads it. Each package installs its
// files (each holding its own name) into <Program Files>\<product name>\ and
// the value HKLM\SOFTWARE\<manufacturer>\<product name> "Version".
//
// Measured under Wine 8 in the WoW64 prefix, with msiexec started from the
// 32-bit test program (the 32-bit msiexec) or from the host (the 64-bit one),
// the same either way:
// - an x86 package installs into C:\Program Files (x86)\<name>, and its
//   Uninstall entry (its product code's key below
//   HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall) and registry
//   values land in the 32-bit view only;
// - an x64 package installs into C:\Program Files\<name>, with its Uninstall
//   entry and values in the 64-bit view only;
// - one install or removal takes about a second.
// Programs that use these packages share the Windows Installer: give their
// ctest entries RESOURCE_LOCK windows_installer.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace testing_support {

struct MsiPackage {
    std::string id;  // the file name without ".msi"
    std::string productName;
    std::string manufacturer;
    std::string version;
    bool x64 = false;
    std::string upgradeCode;
    std::string productCode;
    std::vector<std::string> files;

    // The .msi beside the test program.
    std::string PackagePath() const;
    // Where its files go: C:\Program Files (x86)\<name> or C:\Program Files\<name>.
    std::string InstallFolder() const;
    // Below HKLM, in View().
    std::string UninstallKey() const;
    std::string ProductKey() const;  // SOFTWARE\<manufacturer>\<product name>
    // The registry view its entries are in: KEY_WOW64_32KEY or KEY_WOW64_64KEY.
    REGSAM View() const;
};

// The packages of msi_packages.txt (or another list) beside the test
// program; fails the calling test (and returns none) when the list cannot be
// read.
std::vector<MsiPackage> LoadMsiPackages(const std::string& list = "msi_packages.txt");
// The package with that id from LoadMsiPackages; a failed test without one.
MsiPackage FindMsiPackage(const std::string& id, const std::string& list = "msi_packages.txt");

// msiexec /i <package> /qn (removes an earlier install of it first, so a run
// after an interrupted one starts clean); msiexec's exit code.
DWORD InstallMsiPackage(const MsiPackage& package);
// msiexec /x {product code} /qn; msiexec's exit code (1605 when it was not installed).
DWORD UninstallMsiPackage(const MsiPackage& package);
// The installer knows the product as installed.
bool MsiPackageInstalled(const MsiPackage& package);
// Whether HKLM\<key> exists in the view.
bool MachineKeyExists(const std::string& key, REGSAM view);

}  // namespace testing_support
