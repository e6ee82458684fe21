#include "tests/support/msi_packages.h"

#include <msi.h>

#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "platform/handles.h"
#include "tests/support/test_platform.h"

namespace testing_support {

namespace {

const DWORD kMsiexecTimeoutMs = 120000;

std::string Strip(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

}  // namespace

std::string MsiPackage::PackagePath() const { return ProgramFolder() + id + ".msi"; }

std::string MsiPackage::InstallFolder() const {
    return std::string(x64 ? "C:\\Program Files\\" : "C:\\Program Files (x86)\\") + productName;
}

std::string MsiPackage::UninstallKey() const {
    return "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + productCode;
}

std::string MsiPackage::ProductKey() const { return "SOFTWARE\\" + manufacturer + "\\" + productName; }

REGSAM MsiPackage::View() const { return x64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY; }

std::vector<MsiPackage> LoadMsiPackages(const std::string& listName) {
    std::vector<MsiPackage> packages;
    std::ifstream list(ProgramFolder() + listName);
    EXPECT_TRUE(list.good()) << "no " << listName << " beside the test program";
    std::string line;
    while (std::getline(list, line)) {
        line = Strip(line);
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> fields;
        std::istringstream split(line);
        for (std::string field; std::getline(split, field, '|');) fields.push_back(Strip(field));
        if (fields.size() != 8) {
            ADD_FAILURE() << "malformed package line: " << line;
            continue;
        }
        MsiPackage package;
        package.id = fields[0];
        package.productName = fields[1];
        package.manufacturer = fields[2];
        package.version = fields[3];
        package.x64 = fields[4] == "x64";
        package.upgradeCode = fields[5];
        package.productCode = fields[6];
        std::istringstream names(fields[7]);
        for (std::string name; names >> name;) package.files.push_back(name);
        packages.push_back(package);
    }
    return packages;
}

MsiPackage FindMsiPackage(const std::string& id, const std::string& list) {
    for (const MsiPackage& package : LoadMsiPackages(list)) {
        if (package.id == id) return package;
    }
    ADD_FAILURE() << "no test package " << id;
    return MsiPackage();
}

DWORD InstallMsiPackage(const MsiPackage& package) {
    if (MsiPackageInstalled(package)) UninstallMsiPackage(package);
    return RunAndWait("msiexec /i \"" + package.PackagePath() + "\" /qn", kMsiexecTimeoutMs);
}

DWORD UninstallMsiPackage(const MsiPackage& package) {
    return RunAndWait("msiexec /x " + package.productCode + " /qn", kMsiexecTimeoutMs);
}

bool MsiPackageInstalled(const MsiPackage& package) {
    return ::MsiQueryProductStateA(package.productCode.c_str()) == INSTALLSTATE_DEFAULT;
}

bool MachineKeyExists(const std::string& key, REGSAM view) {
    platform::RegKey opened;
    return ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ | view, opened.put()) == ERROR_SUCCESS;
}

}  // namespace testing_support
