#include "profile/engine.h"

#include <mbstring.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "actions/run_backup.h"
#include "guard/own_files.h"
#include "msitool/msitool.h"
#include "platform/handles.h"
#include "platform/platform.h"
#include "platform/windows_version.h"
#include "profile/entry_text.h"
#include "profile/folder_macros.h"
#include "trace/trace.h"

const char kRetryMarkerKeyEntry[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmoran Clearway";
const char kRetryMarkerSubkey[] = "SOFTWARE\\Velmoran Clearway";
const char kProductWordInEntries[] = "VELMORAN";
const char kProductWordInNames[] = "Velmoran";

namespace {

// Every occurrence of word in text (a case-sensitive search) replaced by
// replacement; false when there was none.
bool ReplaceAll(std::string& text, const char* word, const std::string& replacement) {
    const size_t length = std::strlen(word);
    bool replaced = false;
    std::string out;
    size_t from = 0;
    for (;;) {
        const unsigned char* base = reinterpret_cast<const unsigned char*>(text.c_str());
        const unsigned char* hit =
            _mbsstr(base + from, reinterpret_cast<const unsigned char*>(word));
        if (!hit) break;
        size_t at = static_cast<size_t>(hit - base);
        out.append(text, from, at - from);
        out += replacement;
        from = at + length;
        replaced = true;
    }
    if (replaced) {
        out.append(text, from, std::string::npos);
        text = out;
    }
    return replaced;
}

}  // namespace

CNuke::CNuke(platform::Platform& platform)
    : runMsiTool(RunMsiTool), errorText(CopyText("<error not initialized>").release()), configFilePath(nullptr), os(platform) {}

RunBackup& CNuke::Backup() {
    if (!backup) backup.reset(new RunBackup(os, TracePlatform(), writesBackup));
    return *backup;
}

CNuke::~CNuke() {
    delete[] configFilePath;
    delete[] errorText;
}

const char* CNuke::ProductName() const {
    const char* name = dialog ? dialog->GetProductName() : nullptr;
    return name ? name : "";
}

const char* CNuke::InstallPath() const {
    const char* path = dialog ? dialog->GetInstallPath() : nullptr;
    return path ? path : "";
}

bool CNuke::IsCancelled() const { return dialog && dialog->GetRunState() == Cancelled; }

DWORD CNuke::CleanupLoop(const char* step, size_t count, bool testedFirst, const std::function<bool(size_t)>& body,
                         const std::function<void()>& flush) {
    bool errors = false;
    // Every element is counted, a refused one too.
    for (size_t index = 0; index < count; ++index) {
        if (index % 20 == 0 && !(index == 0 && testedFirst) && IsCancelled()) {
            if (flush) flush();
            TraceWrite("", -1, 0, "%s deleted '%d' values until uninstallation was cancelled by user\n", step,
                       static_cast<int>(index));
            return ERROR_CANCELLED;
        }
        if (!body(index)) errors = true;
    }
    if (flush) flush();
    if (errors) {
        TraceWrite("", -1, 0, "%s encountered errors but deleted '%d' values\n", step, static_cast<int>(count));
    } else {
        TraceWrite("", -1, 0, "%s was successful with '%d' deleted values\n", step, static_cast<int>(count));
    }
    return ERROR_SUCCESS;
}

std::vector<std::string> ListElements(TSet& list, bool descending) {
    std::vector<std::string> elements;
    const char* element = nullptr;
    for (DWORD rc = descending ? list.GetLast(element) : list.GetFirst(element); rc == ERROR_SUCCESS;
         rc = descending ? list.GetPrevious(element) : list.GetNext(element)) {
        elements.push_back(element);
    }
    return elements;
}

void CNuke::SetErrorText(const char* text) {
    delete[] errorText;
    errorText = CopyText(text).release();
}

bool CNuke::IsStartMenuMaskActive() const { return !startMenuMask.empty() && removeAll == 0; }

std::string CNuke::StartMenuVariant(const char* entry) const {
    std::string variant = UpperCased(entry);
    return ReplaceAll(variant, kProductWordInEntries, startMenuMask) ? variant : std::string();
}

void CNuke::ApplyStartMenuMask(TSet& list) {
    if (startMenuMask.empty()) return;
    TSet variants;
    const char* element = nullptr;
    for (DWORD rc = list.GetFirst(element); rc == ERROR_SUCCESS; rc = list.GetNext(element)) {
        std::string variant = StartMenuVariant(element);
        if (!variant.empty()) variants.Insert(variant.c_str());
    }
    for (DWORD rc = variants.GetFirst(element); rc == ERROR_SUCCESS; rc = variants.GetNext(element)) {
        list.Insert(element);
    }
}

DWORD CNuke::Get64ProgramFilesPath(char* buffer, DWORD size) {
    static const char kName[] = "CNuke::Get64ProgramFilesPath";
    if (!buffer || size == 0) {
        TraceWrite("", -1, 0, "%s(): Invalid parameters, path is '%s' and path length is '%d'\n", kName,
                   buffer ? buffer : "(null)", static_cast<int>(size));
        return ERROR_INVALID_PARAMETER;
    }
    platform::RegKey key(os);
    if (os.RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", 0,
                         KEY_ALL_ACCESS | KEY_WOW64_64KEY, key.put()) != ERROR_SUCCESS) {
        TraceWrite("", -1, 0, "%s(): RegOpenKeyEx FAILED  while trying to get program files path\n", kName);
        return ERROR_FILE_NOT_FOUND;
    }
    // One byte kept back so the text ends inside the buffer even when the
    // stored value lacks its terminator.
    DWORD bytes = size - 1;
    if (os.RegQueryValueExA(key.get(), "ProgramFilesDir", nullptr, nullptr, reinterpret_cast<LPBYTE>(buffer),
                            &bytes) != ERROR_SUCCESS) {
        buffer[0] = '\0';
        TraceWrite("", -1, 0, "%s(): RegQueryValue FAILED while trying to get program files path\n", kName);
        return ERROR_FILE_NOT_FOUND;
    }
    buffer[bytes < size ? bytes : size - 1] = '\0';
    return ERROR_SUCCESS;
}

bool CNuke::IsIgnoreList(const TSet& list) const {
    return &list == &ignoreFileList || &list == &ignoreRegKeyList || &list == &ignoreRegValueList ||
           &list == &ignoreServiceList || &list == &ignoreMsiUpgradeCodeList;
}

namespace {

// The forms two entries are compared in: upper case (handlers insert some
// text as the system spells it) and, for registry entries, the canonical
// key form as well, so any spelling of a key matches.
void AddComparedForms(CNuke& nuke, bool keys, const char* text, std::vector<std::string>& forms) {
    std::string upper = guard::UpperText(text);
    if (keys) {
        for (std::string& canonical : nuke.KeyGuard().Forms(text)) {
            if (!canonical.empty() && canonical != upper) forms.push_back(std::move(canonical));
        }
    }
    if (!upper.empty()) forms.push_back(std::move(upper));
}

bool HoldsAny(const std::vector<std::string>& forms, const std::vector<std::string>& ignores) {
    for (const std::string& form : forms) {
        for (const std::string& ignore : ignores) {
            if (guard::ContainsText(form, ignore)) return true;
        }
    }
    return false;
}

std::vector<std::string> ComparedForms(CNuke& nuke, bool keys, TSet& list) {
    std::vector<std::string> forms;
    const char* element = nullptr;
    for (DWORD rc = list.GetFirst(element); rc == ERROR_SUCCESS; rc = list.GetNext(element)) {
        AddComparedForms(nuke, keys, element, forms);
    }
    return forms;
}

}  // namespace

bool CNuke::IsIgnored(TSet& ignoreList, const char* text) {
    const bool keys = &ignoreList == &ignoreRegKeyList || &ignoreList == &ignoreRegValueList;
    std::vector<std::string> forms;
    AddComparedForms(*this, keys, text ? text : "", forms);
    return HoldsAny(forms, ComparedForms(*this, keys, ignoreList));
}

DWORD CNuke::ExcludeIgnoreList(TSet& list, TSet& ignoreList) {
    const bool keys = &list == &expandedRegKeyList || &list == &expandedRegValueList;
    const std::vector<std::string> ignores = ComparedForms(*this, keys, ignoreList);
    if (ignores.empty()) return ERROR_SUCCESS;
    const char* element = nullptr;
    DWORD rc = list.GetFirst(element);
    std::vector<std::string> forms;
    while (rc == ERROR_SUCCESS) {
        forms.clear();
        AddComparedForms(*this, keys, element, forms);
        if (HoldsAny(forms, ignores)) {
            TraceWrite("", -1, 0, "ExcludeIgnoreList: object '%s' excluded\n", element);
            rc = list.RemoveCurrentAndGetNext(element);
        } else {
            rc = list.GetNext(element);
        }
    }
    return ERROR_SUCCESS;
}

const guard::FolderGuard& CNuke::FolderGuard() {
    if (!folderGuard_) {
        std::vector<std::string> macroFolders;
        for (const FolderMacro& macro : kFolderMacros) macroFolders.push_back(MacroFolder(*this, macro.folder));
        folderGuard_.reset(new guard::FolderGuard(os, macroFolders));
    }
    return *folderGuard_;
}

const guard::KeyGuard& CNuke::KeyGuard() {
    if (!keyGuard_) keyGuard_.reset(new guard::KeyGuard(os));
    return *keyGuard_;
}

void CNuke::LogListContents(TSet& list) {
    TraceWrite("", -1, 0, "--- --- --- Logging list contents... --- --- ---\n");
    const char* element = nullptr;
    for (DWORD rc = list.GetFirst(element); rc == ERROR_SUCCESS; rc = list.GetNext(element)) {
        TraceWrite("", -1, 0, "%s\n", element);
    }
    TraceWrite("", -1, 0, "--- --- --- List content logged! --- --- ---\n");
}

// ---- the list steps ----

DWORD CNuke::InitIgnoreServiceList() { return ReadConfigList(ignoreServiceList, "service", "ignore"); }
DWORD CNuke::InitRemoveServiceList() { return ReadConfigList(removeServiceList, "service", "remove"); }
DWORD CNuke::InitStopProcessList() { return ReadConfigList(stopProcessList, "process", "stop"); }
DWORD CNuke::InitStartProcessList() { return ReadConfigList(startProcessList, "process", "start"); }
DWORD CNuke::InitIgnoreRegValueList() {
    const DWORD rc = ReadConfigList(ignoreRegValueList, "registry value", "ignore");
    return rc == ERROR_SUCCESS ? CheckIgnoreEntries(ignoreRegValueList, "InitIgnoreRegValueList") : rc;
}

DWORD CNuke::InitRemoveRegValueList() {
    DWORD rc = ReadConfigList(removeRegValueList, "registry value", "remove");
    LogListContents(removeRegValueList);
    return rc;
}

// An ignore entry that could match nothing would let what it names be
// deleted: it stops the run before anything is changed.
DWORD CNuke::CheckIgnoreEntries(TSet& list, const char* step) {
    const char* element = nullptr;
    for (DWORD rc = list.GetFirst(element); rc == ERROR_SUCCESS; rc = list.GetNext(element)) {
        const char* why = nullptr;
        if (&list == &ignoreFileList) {
            why = guard::IgnoreNeverMatches(element, false);
        } else if (!KeyGuard().BeginsWithRoot(element)) {
            why = "it does not begin with a root of the registry";
        }
        if (!why) continue;
        TraceWrite("", -1, 0, "%s: the ignore entry '%s' would keep nothing: %s\n", step, element, why);
        SetErrorText(element);
        return ERROR_BAD_CONFIGURATION;
    }
    return ERROR_SUCCESS;
}

DWORD CNuke::InitIgnoreRegKeyList() {
    const DWORD rc = ReadConfigList(ignoreRegKeyList, "registry key", "ignore");
    return rc == ERROR_SUCCESS ? CheckIgnoreEntries(ignoreRegKeyList, "InitIgnoreRegKeyList") : rc;
}

DWORD CNuke::InitRemoveRegKeyList() {
    DWORD rc = ReadConfigList(removeRegKeyList, "registry key", "remove");
    // A --removeall run deletes the marker key an earlier run left.
    if (removeAll == 1 && markerFound == 1) {
        TraceWrite("", -1, 0, "InitRemoveRegKeyList: removeRegKeyList.Insert(%s)\n", kRetryMarkerKeyEntry);
        AddListEntry(removeRegKeyList, "REG_KEY", "BY_VALUE", kRetryMarkerKeyEntry);
    }
    LogListContents(removeRegKeyList);
    return rc;
}

DWORD CNuke::InitIgnoreFileList() {
    DWORD rc = ReadConfigList(ignoreFileList, "file", "ignore");
    if (rc == ERROR_SUCCESS) {
        const DWORD checked = CheckIgnoreEntries(ignoreFileList, "InitIgnoreFileList");
        if (checked != ERROR_SUCCESS) return checked;
    }
    // The start-menu variants first, then every element in the form the
    // expanded list has: a full path as Windows resolves it ("." and ".."
    // segments, short names, links along it), beside its normal form, so
    // any spelling of a kept folder keeps it. Text that is not a full path,
    // and could match one, stays a fragment that keeps every path holding
    // it.
    ApplyStartMenuMask(ignoreFileList);
    TSet resolved;
    const char* element = nullptr;
    for (DWORD erc = ignoreFileList.GetFirst(element); erc == ERROR_SUCCESS;
         erc = ignoreFileList.RemoveCurrentAndGetNext(element)) {
        std::vector<char> copy(element, element + std::strlen(element) + 1);
        NormalizeEntry(copy.data());
        resolved.Insert(copy.data());
        std::string path;
        if (!guard::ResolvePath(os, copy.data(), path) && path != copy.data()) resolved.Insert(path.c_str());
    }
    ignoreFileList.AddAll(resolved);
    return rc;
}

DWORD CNuke::InitRemoveFileList() {
    DWORD rc = ReadConfigList(removeFileList, "file", "remove");
    ApplyStartMenuMask(removeFileList);
    if (removeAll != 1) return rc;

    const char* installPath = InstallPath();
    if (*installPath) {
        TraceWrite("", -1, 0, "InitRemoveFileList: removeFileList.Insert(%s)\n", installPath);
        removeFileList.Insert(installPath);
    } else {
        TraceWrite("", -1, 0, "InitRemoveFileList: --removeall parameter in use, but root installation path empty!!\n");
    }
    const char* productName = ProductName();
    if (!*productName) {
        TraceWrite("", -1, 0, "InitRemoveFileList: --removeall parameter in use, but product name empty!!\n");
        return rc;
    }
    char programs[MAX_PATH] = {};
    os.SHGetSpecialFolderPathA(nullptr, programs, CSIDL_COMMON_PROGRAMS, FALSE);
    std::string menuFolder = std::string(programs) + "\\" + productName;
    TraceWrite("", -1, 0, "InitRemoveFileList: removeFileList.Insert(%s)\n", menuFolder.c_str());
    removeFileList.Insert(menuFolder.c_str());

    std::string desktopLinks = std::string("%COMMON_DESKTOPDIRECTORY%\\") + productName + "*";
    TraceWrite("", -1, 0, "InitRemoveFileList: removeFileList.Insert(%s)\n", desktopLinks.c_str());
    AddListEntry(removeFileList, "FILE_NAME_EXPAND", "BY_VALUE", desktopLinks.c_str());
    return rc;
}

DWORD CNuke::InitIgnoreMsiUpgradeCodeList() {
    return ReadConfigList(ignoreMsiUpgradeCodeList, "msi upgradecode", "ignore");
}
DWORD CNuke::InitRemoveMsiUpgradeCodeList() {
    return ReadConfigList(removeMsiUpgradeCodeList, "msi upgradecode", "remove");
}

void CNuke::InitISPCustomizationOverride() {
    TraceWrite("", -1, 0, "InitISPCustomizationOverride: the \"detector\" says product name is '%s'\n", ProductName());
    startMenuMask = ProductName();
    if (startMenuMask.find(kProductWordInNames) != std::string::npos) {
        TraceWrite("", -1, 0,
                   "InitISPCustomizationOverride: product name is not ISP customized. Override is not committed.\n");
        return;
    }
    if (removeAll != 0) {
        TraceWrite("", -1, 0,
                   "InitISPCustomizationOverride: removeall -parameter in use, specific removal for customized "
                   "content will be executed.\n");
    } else if (startMenuMask.find(' ') == std::string::npos) {
        TraceWrite("", -1, 0,
                   "InitISPCustomizationOverride: '%s' override not considered safe enough for start menu item "
                   "deletion. Start menu items will be left intact.\n",
                   startMenuMask.c_str());
        startMenuMask.clear();
        MarkRegistryForPossibleRemovalRetry();
    }
    ReadRegistryForRemovalRetry();
    TraceWrite("", -1, 0, "InitISPCustomizationOverride: customization start menu mask=%s\n", startMenuMask.c_str());
}

void SayOnParentConsole(platform::Platform& os, const std::string& text) {
    // A second call finds the console attached already.
    if (!os.AttachConsole(ATTACH_PARENT_PROCESS) && os.GetLastError() != ERROR_ACCESS_DENIED) return;
    platform::FileHandle console(os, os.CreateFileA("CONOUT$", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                nullptr, OPEN_EXISTING, 0, nullptr));
    DWORD written = 0;
    if (console) os.WriteFile(console.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

void CNuke::Left(const std::string& what) {
    // A preview changes nothing (its platform only records), so it cannot
    // know what a run would leave behind.
    if (!writesBackup) return;
    left.push_back(what);
    TraceWrite("", -1, 0, "Not removed: %s\n", what.c_str());
}

void CNuke::OpenTraceLog() {
    // The log is the run's own output, not a change to the machine: it
    // goes through the trace's platform, also in a preview.
    platform::Platform& files = TracePlatform();
    const std::string folder = guard::RunFolder(os);
    std::string done;
    std::string refusal = guard::PrepareOwnFolder(files, folder, done);
    if (refusal.empty()) {
        InitTraceLog(nullptr, false, folder.c_str());
        if (*TraceLogPath() == '\0') {
            refusal = *TraceLogRefusal() ? std::string("its log file: ") + TraceLogRefusal()
                                         : std::string("its log file cannot be opened");
        }
    }
    if (!refusal.empty()) {
        // Never elsewhere: beside the program may be a folder anyone can
        // write to. The run goes on without a log file.
        const std::string text = "Clearway: no trace log is written: the folder '" + folder + "' is not safe: " +
                                 refusal + "\r\n";
        TraceWrite("", -1, 0, "%s", text.c_str());
        if (!logRefusalSaid_) SayOnParentConsole(files, text);
        logRefusalSaid_ = true;
        return;
    }
    if (!done.empty()) TraceWrite("", -1, 0, "OpenTraceLog: the trace folder '%s' was %s\n", folder.c_str(), done.c_str());
    if (logHeaderSaid_) return;
    logHeaderSaid_ = true;
    // Who ran what where: the first thing a reader of a fleet's logs needs.
    const char* commandLine = os.GetCommandLineA();
    char account[257] = {};
    DWORD size = sizeof account;
    if (!os.GetUserNameA(account, &size)) account[0] = '\0';
    TraceWrite("", -1, 0, "Command line: %s\n", commandLine ? commandLine : "");
    TraceWrite("", -1, 0, "Account: %s\n", *account ? account : "(unknown)");
    OSVERSIONINFOA version;
    if (platform::GetWindowsVersion(os, version)) {
        TraceWrite("", -1, 0, "Windows %lu.%lu build %lu %s, %s\n", static_cast<unsigned long>(version.dwMajorVersion),
                   static_cast<unsigned long>(version.dwMinorVersion), static_cast<unsigned long>(version.dwBuildNumber),
                   version.szCSDVersion, Is64BitWindows() ? "64-bit" : "32-bit");
    } else {
        TraceWrite("", -1, 0, "Windows version unknown, %s\n", Is64BitWindows() ? "64-bit" : "32-bit");
    }
}

DWORD CNuke::InitializeLists(int removeAllSwitch, int forceMsiSwitch) {
    OpenTraceLog();

    DWORD rc = InitConfigFile();
    if (rc != ERROR_SUCCESS) {
        TraceWrite("", -1, 0, "InitConfigFile failed and returned error code '%04d'\n", static_cast<int>(rc));
        return rc;
    }
    TraceWrite("", -1, 0, "InitConfigFile was successful.\n");
    if (configFilePath) TraceWrite("", -1, 0, "InitializeLists: Config file found as '%s'\n", configFilePath);

    // Every other user's registry, before any entry is read: an entry of
    // the current user's is read for each of them.
    for (const std::string& what : userHives.Load(guard::RunningUserSidText(os))) Left(what);

    removeAll = removeAllSwitch;
    forceMsi = forceMsiSwitch;
    GatherS1518ComponentQtAssemblies();
    if (forceMsi == 1) ProductBasedMSIRemoval();

    InitISPCustomizationOverride();

    struct Step {
        const char* name;
        DWORD (CNuke::*run)();
        TSet CNuke::*list;
        bool skippedByRemoveAll;
    };
    static const Step kSteps[] = {
        {"InitIgnoreServiceList", &CNuke::InitIgnoreServiceList, &CNuke::ignoreServiceList, true},
        {"InitRemoveServiceList", &CNuke::InitRemoveServiceList, &CNuke::removeServiceList, false},
        {"InitStopProcessList", &CNuke::InitStopProcessList, &CNuke::stopProcessList, false},
        {"InitStartProcessList", &CNuke::InitStartProcessList, &CNuke::startProcessList, false},
        {"InitIgnoreRegValueList", &CNuke::InitIgnoreRegValueList, &CNuke::ignoreRegValueList, true},
        {"InitRemoveRegValueList", &CNuke::InitRemoveRegValueList, &CNuke::removeRegValueList, false},
        {"InitIgnoreRegKeyList", &CNuke::InitIgnoreRegKeyList, &CNuke::ignoreRegKeyList, true},
        {"InitRemoveRegKeyList", &CNuke::InitRemoveRegKeyList, &CNuke::removeRegKeyList, false},
        {"InitIgnoreFileList", &CNuke::InitIgnoreFileList, &CNuke::ignoreFileList, true},
        {"InitRemoveFileList", &CNuke::InitRemoveFileList, &CNuke::removeFileList, false},
        {"InitIgnoreMsiUpgradeCodeList", &CNuke::InitIgnoreMsiUpgradeCodeList, &CNuke::ignoreMsiUpgradeCodeList,
         true},
        {"InitRemoveMsiUpgradeCodeList", &CNuke::InitRemoveMsiUpgradeCodeList, &CNuke::removeMsiUpgradeCodeList,
         false},
    };
    for (const Step& step : kSteps) {
        if (step.skippedByRemoveAll && removeAll != 0) continue;
        rc = (this->*step.run)();
        if (!TraceListStep(step.name, rc, (this->*step.list).Count())) return rc;
    }
    return ERROR_SUCCESS;
}

bool CNuke::TraceListStep(const char* name, DWORD rc, int items, int values) {
    const bool both = values >= 0;  // the registry lists: keys and values
    if (rc == ERROR_SUCCESS) {
        if (both) {
            TraceWrite("", -1, 0, "%s was successful with '%d' keys and '%d' values in the lists\n", name, items,
                       values);
        } else {
            TraceWrite("", -1, 0, "%s was successful with '%d' items in the list\n", name, items);
        }
        return true;
    }
    if (errorText) {
        TraceWrite("", -1, 0, "%s reported error message '%s' and returned error code '%04d'\n", name, errorText,
                   static_cast<int>(rc));
    } else if (both) {
        TraceWrite("", -1, 0, "%s constructed lists with '%d' keys, '%d' values and returned code '%04d'\n", name,
                   items, values, static_cast<int>(rc));
    } else {
        TraceWrite("", -1, 0, "%s constructed list with '%d' items and returned code '%04d'\n", name, items,
                   static_cast<int>(rc));
    }
    return false;
}
