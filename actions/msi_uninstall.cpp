// The first removal step: every installed product of every listed upgrade
// code, then of the built-in table, is handed to the MSI tool for a silent
// uninstall. A call that throws is tried once more; a second throw skips the
// code.
#include <cwchar>
#include <string>
#include <vector>

#include "actions/run_backup.h"
#include "msitool/msitool.h"
#include "platform/platform.h"
#include "platform/wide_text.h"
#include "platform/windows_version.h"
#include "profile/engine.h"
#include "trace/trace.h"

namespace {

// Upgrade codes of the maker's earlier product lines, uninstalled in every
// run in this order whatever the configuration says. Kept exactly as the
// product lines registered them (some in lower case).
const char* const kBuiltInUpgradeCodes[] = {
    "{F57B46CE-FA92-4241-B1D8-98E296E2E1A7}", "{3056963A-F09F-4E5D-8CF5-41455C08FF79}",
    "{1bcaf7e4-b990-463b-8cec-60b02701db09}", "{E26AC389-4F35-4A4D-A7A6-3AAB87C3D1CD}",
    "{EA76C89D-7855-4742-A4BE-8EFD2027D21B}", "{2fe8dc29-04df-4072-abbe-715d93e47d54}",
    "{A427F1EC-5227-44E7-95CD-13044DEF9336}", "{A050AD48-4C8C-4913-BCA4-EED314056617}",
    "{15549693-5017-4570-b879-18213cfc9ded}", "{E9F0F514-6A20-4781-BDCB-E41A40BF8C65}",
    "{8A870EE7-85F1-41BB-B0C4-8F224734E685}", "{b7a967bc-bab4-40f9-9312-eb26f2c7615f}",
    "{63C4EDEA-F826-45F3-9E12-FBB324EF462F}", "{5A8E16EB-88DC-4421-8798-45BDDCCB3BB4}",
    "{4f64bf3c-c438-488b-ae68-9d344981facb}",
};

// The tool's command text holds at most 259 characters and its terminator.
const size_t kCommandCharacters = 259;



std::wstring UninstallCommand(platform::Platform& os, const char* upgradeCode) {
    std::wstring command = L"/uninstall /u:" + platform::WideText(os, upgradeCode);
    if (command.size() > kCommandCharacters) command.resize(kCommandCharacters);
    return command;
}

// The installed products of an upgrade code.
std::vector<std::wstring> RelatedProducts(platform::Platform& os, const char* upgradeCode) {
    std::vector<std::wstring> products;
    const std::wstring code = platform::WideText(os, upgradeCode);
    wchar_t product[39] = {};
    for (DWORD index = 0; os.MsiEnumRelatedProductsW(code.c_str(), 0, index, product) == ERROR_SUCCESS; ++index) {
        products.push_back(product);
    }
    return products;
}

// Products no backup can bring back go into the backup as a note, so that
// taking the run back can say what it cannot restore.
void NoteUninstalled(CNuke& engine, const char* upgradeCode, const std::vector<std::wstring>& before) {
    const std::vector<std::wstring> after = RelatedProducts(engine.os, upgradeCode);
    for (const std::wstring& product : before) {
        bool still = false;
        for (const std::wstring& left : after) still = still || left == product;
        if (!still) {
            ++engine.removed;
            engine.Backup().Note("the installer package " + platform::NarrowText(engine.os, product) + " (upgrade code " +
                                 upgradeCode + ") was uninstalled");
        }
    }
}

// One guarded call of the tool; false when it threw.
bool CallMsiTool(CNuke& engine, const std::wstring& command, int& value, MsiToolReport& report) {
    try {
        report.products.clear();
        value = engine.runMsiTool(engine.os, command.c_str(), true, &report);
        return true;
    } catch (...) {
        return false;
    }
}

// The folder of the run's trace log, ending in a backslash: each product's
// installer log goes beside it. Empty when no log is open.
std::wstring InstallerLogFolder(platform::Platform& os) {
    const std::string log = TraceLogPath();
    const size_t slash = log.find_last_of('\\');
    return slash == std::string::npos ? std::wstring() : platform::WideText(os, log.substr(0, slash + 1));
}

std::wstring InstallerLogStamp(platform::Platform& os) {
    SYSTEMTIME now = {};
    os.GetLocalTime(&now);
    wchar_t stamp[32];
    std::swprintf(stamp, 32, L"%04u-%02u-%02u %02u%02u%02u", now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
                  now.wSecond);
    return stamp;
}

}  // namespace

CNuke::ToolCall CNuke::UninstallUpgradeCode(const char* step, const char* upgradeCode) {
    const std::wstring command = UninstallCommand(os, upgradeCode);
    const std::vector<std::wstring> installed = RelatedProducts(os, upgradeCode);
    MsiToolReport report;
    report.logFolder = InstallerLogFolder(os);
    report.logStamp = InstallerLogStamp(os);
    ToolCall call;
    if (CallMsiTool(*this, command, call.value, report)) {
        TraceWrite("", -1, 0, "%s returned value '%d'\n", step, call.value);
    } else {
        TraceWrite("", -1, 0, "%s crashed...\n", step);
        TraceWrite("", -1, 0, "Trying again the %s uninstall...\n", step);
        if (CallMsiTool(*this, command, call.value, report)) {
            TraceWrite("", -1, 0, "%s returned value '%d'\n", step, call.value);
        } else {
            TraceWrite("", -1, 0, "%s crashed two times in row, trying next MsiUninstall\n", step);
            call.value = 0;
            return call;
        }
    }
    call.answered = true;
    for (const MsiProductAnswer& answer : report.products) {
        const std::string product = platform::NarrowText(os, answer.productCode);
        std::string text = step + std::string(": Windows Installer answered ") + std::to_string(answer.configureCode) +
                           " for the product " + product + " (upgrade code " + upgradeCode + ")";
        if (answer.cachedTried) {
            text += ", and " + std::to_string(answer.cachedCode) + " to the retry from its cached package";
        }
        text += answer.removed ? "; it is uninstalled" : "; it is not uninstalled";
        if (!answer.logPath.empty()) text += "; the installer's log is '" + platform::NarrowText(os, answer.logPath) + "'";
        TraceWrite("", -1, 0, "%s\n", text.c_str());
        call.busy = call.busy || answer.configureCode == ERROR_INSTALL_ALREADY_RUNNING;
        InstallerAnswer kept;
        kept.upgradeCode = upgradeCode;
        kept.productCode = product;
        kept.code = answer.configureCode;
        kept.cachedTried = answer.cachedTried;
        kept.cachedCode = answer.cachedCode;
        kept.removed = answer.removed;
        installerAnswers.push_back(kept);
    }
    NoteUninstalled(*this, upgradeCode, installed);
    installerBusy = installerBusy || call.busy;
    return call;
}

DWORD CNuke::MsiUninstall() {
    TraceWrite("", -1, 0, "%s", "MsiUninstall: entry\n");
    if (!platform::IsWindowsNT(os)) return ERROR_SUCCESS;

    TraceWrite("", -1, 0, "%s", "MsiUninstall: looping start...\n");
    DWORD result = ERROR_SUCCESS;
    const char* code = nullptr;
    for (DWORD rc = expandedMsiUpgradeCodeList.GetFirst(code); rc == ERROR_SUCCESS;
         rc = expandedMsiUpgradeCodeList.GetNext(code)) {
        TraceWrite("", -1, 0, "%s", "MsiUninstall Parsing upgrade code...\n");
        TraceWrite("", -1, 0, "MsiUninstall calling VelMsi api using command '%s'...\n",
                   platform::NarrowText(os, UninstallCommand(os, code)).c_str());
        const ToolCall call = UninstallUpgradeCode("MsiUninstall", code);
        if (result == ERROR_SUCCESS && call.value != 0) result = static_cast<DWORD>(call.value);
        if (call.busy) return StopForBusyInstaller();
        const std::vector<std::wstring> still = RelatedProducts(os, code);
        if (!still.empty() && forceMsi == 0) {
            for (const std::wstring& product : still) {
                Left("the installer package " + platform::NarrowText(os, product) + " (upgrade code " + code +
                     ") is still registered with Windows Installer: its uninstall failed (the installer's answers are "
                     "traced above); run Clearway with --forcemsi to clean its registration");
            }
        }
    }
    if (!HCMSIUninstall()) return StopForBusyInstaller();
    TraceWrite("", -1, 0, "%s", "MsiUninstall: looping exit\n");
    return result;
}

DWORD CNuke::StopForBusyInstaller() {
    TraceWrite("", -1, 0, "MsiUninstall: another installation is in progress (Windows Installer answered %lu): the run "
               "stops here, before any service, file or key is touched. Run Clearway again when it has ended.\n",
               static_cast<unsigned long>(ERROR_INSTALL_ALREADY_RUNNING));
    return ERROR_INSTALL_ALREADY_RUNNING;
}

bool CNuke::HCMSIUninstall() {
    // Built afresh on each call.
    const std::vector<std::string> table(std::begin(kBuiltInUpgradeCodes), std::end(kBuiltInUpgradeCodes));
    for (const std::string& code : table) {
        TraceWrite("", -1, 0, "HCMSIUninstall calling VelMsi api using command '%s'...\n", code.c_str());
        const ToolCall call = UninstallUpgradeCode("HCMSIUninstall", code.c_str());
        if (call.busy) return false;
        // A pause after each code the tool took, none after two throws.
        if (call.answered) os.Sleep(10000);
    }
    return true;
}
