#include "msitool/msitool.h"

#include <windows.h>

#include <string>

#include "msitool/command_line.h"
#include "msitool/console.h"
#include "msitool/product_family.h"
#include "msitool/user_info.h"
#include "platform/platform.h"

// The tool's version, 1.0.56.
const wchar_t kMsiToolBanner[] = L"\nVelmoran Msi Tool v%d.%d.%d %ls\n";

const wchar_t kMsiToolUsage[] =
    L"\nUsage: %ls [/?] [/hideoldaddremoves] [/u:UPGRADECODE]\n\n"
    L" /?                  : Prints this usage info\n\n"
    L" /hideoldaddremoves  : Hides add/remove programs for all the old products\n"
    L"                       that have same UPGRADE code. Versions that are older\n"
    L"                       than the newest installed are hidden.\n"
    L"                       /u:UPGRADECODE is required for this switch.\n\n"
    L" /uninstall          : Uninstalls all products with same UPGRADE code.\n"
    L"                       If the msi uninstallation fails it tries to\n"
    L"                       uninstall it by copying the cached msi file to\n"
    L"                       temp and using it for MsiInstallProduct with\n"
    L"                       REMOVE=ALL REBOOT=ReallySuppress.\n"
    L"                       /u:UPGRADECODE is required for this switch.\n\n"
    L" [/u:UPGRADECODE]    : msi UpgradeCode.\n"
    L"                       E.g. /u:{5D0C4A7E-3B21-4F6A-9C88-2E71B04D6A13}\n";

namespace {

int RunCore(platform::Platform& os, const CommandLine& commandLine, bool skipRightsCheck, MsiToolReport* report) {
    if (!commandLine.IsValid()) return ERROR_BAD_ARGUMENTS;
    if (commandLine.help) return ERROR_SUCCESS;
    if (!skipRightsCheck && !UserInfo(os).CheckAdministrator(true)) return ERROR_ACCESS_DENIED;
    if (commandLine.upgradeCode.empty()) return ERROR_SUCCESS;
    ProductFamily family(os, commandLine.upgradeCode);
    // With both switches only the hiding runs.
    if (commandLine.hideOldAddRemoves) {
        family.HideOldAddRemoves();
    } else if (commandLine.uninstall) {
        family.UninstallAll(report);
    }
    return ERROR_SUCCESS;
}

// The file name of the running program: the text after the last backslash.
std::wstring ProgramFileName(platform::Platform& os) {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = os.GetModuleFileNameW(nullptr, path, MAX_PATH);
    const std::wstring full(path, length < MAX_PATH ? length : MAX_PATH - 1);
    return full.substr(full.find_last_of(L'\\') + 1);
}

}  // namespace

int RunMsiTool(platform::Platform& os, const wchar_t* commandLine, bool skipRightsCheck, MsiToolReport* report) {
    return RunCore(os, CommandLine(commandLine), skipRightsCheck, report);
}

int MsiToolMain(platform::Platform& os, int argumentCount, wchar_t** arguments, bool skipRightsCheck) {
    WriteStandardText(os, STD_OUTPUT_HANDLE, FormatConsoleText(kMsiToolBanner, 1, 0, 56, L""));
    const CommandLine commandLine(argumentCount, arguments);
    if (!commandLine.IsValid() || commandLine.help) {
        WriteStandardText(os, STD_OUTPUT_HANDLE, FormatConsoleText(kMsiToolUsage, ProgramFileName(os).c_str()));
    }
    return RunCore(os, commandLine, skipRightsCheck, nullptr);
}
