#include "app/preview_report.h"

#include <shlobj.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "actions/run_backup.h"
#include "app/run.h"
#include "guard/run_folder.h"
#include "platform/handles.h"
#include "platform/preview.h"
#include "profile/engine.h"
#include "profile/tset.h"
#include "profile/user_hives.h"
#include "trace/trace.h"

namespace {

// The run's steps in run order, as the run announces them.
const char* const kSteps[] = {
    "Before the run",
    "Building the removal profile",
    "Uninstalling MSI packages",
    "Stopping processes",
    "Stopping and deleting services",
    "Resetting the Winsock catalogue",
    "Removing Security Center registrations",
    "Scheduling files and folders for deletion",
    "Deleting registry values",
    "Deleting registry keys",
    "Starting programs",
    "Restarting Windows",
};

std::vector<std::string> Elements(TSet& set) {
    std::vector<std::string> out;
    const char* text = nullptr;
    for (DWORD rc = set.GetFirst(text); rc == 0; rc = set.GetNext(text)) out.push_back(text);
    return out;
}

void Clear(TSet& set) {
    const char* text = nullptr;
    for (DWORD rc = set.GetFirst(text); rc == 0;) rc = set.RemoveCurrentAndGetNext(text);
}

// What each ignore element kept out of one expanded list: the elements a
// profile without ignore entries has and the real one lacks.
void AddKept(TSet& without, TSet& with, const std::vector<TSet*>& ignoreLists,
             std::map<std::string, std::vector<std::string>>& kept) {
    for (const std::string& element : Elements(without)) {
        if (with.Contains(element.c_str())) continue;
        for (TSet* ignoreList : ignoreLists) {
            for (const std::string& ignore : Elements(*ignoreList)) {
                if (!ignore.empty() && element.find(ignore) != std::string::npos) kept[ignore].push_back(element);
            }
        }
    }
}

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
    return text.size() >= prefix.size() && _strnicmp(text.c_str(), prefix.c_str(), prefix.size()) == 0;
}

// Whether a change names something of the user's: a key of their registry
// or classes, or a path in their profile folder.
bool IsTheUsers(const std::string& text, const UserHive& user, bool reached) {
    if (reached) {
        const std::string registry = "HKEY_USERS\\" + user.mount;
        for (const std::string& root : {registry + "\\", registry + " ", registry + "_Classes"}) {
            if (StartsWithNoCase(text, root)) return true;
        }
        if (_stricmp(text.c_str(), registry.c_str()) == 0) return true;
    }
    return !user.folder.empty() && StartsWithNoCase(text, user.folder + "\\");
}

// Every other user's changes under their profile: what the steps above
// list for their registry and folder, gathered per user.
std::string EachUsersChanges(const std::vector<platform::PreviewPlatform::Change>& changes, const UserHives& users) {
    if (users.Hives().empty() && users.Missed().empty()) return std::string();
    std::string out = "\r\nEach user's changes (the steps above list them too):\r\n";
    for (const bool reached : {true, false}) {
        for (const UserHive& user : reached ? users.Hives() : users.Missed()) {
            std::vector<const platform::PreviewPlatform::Change*> theirs;
            for (const auto& change : changes) {
                if (IsTheUsers(change.text, user, reached)) theirs.push_back(&change);
            }
            out += "   " + user.sid + " (profile '" + user.folder + "'): " + std::to_string(theirs.size()) +
                   (theirs.size() == 1 ? " change" : " changes");
            if (!reached) {
                out += "; its registry is not listed: a preview does not load the registry of a user who is not "
                       "logged on, a run does";
            }
            out += "\r\n";
            for (const auto* change : theirs) out += "      " + change->kind + ": " + change->text + "\r\n";
        }
    }
    return out;
}

}  // namespace

std::string BuildPreviewReport(platform::PreviewPlatform& os, CNuke& engine, RunPanel& dialog) {
    const std::vector<platform::PreviewPlatform::Change> changes = os.Changes();

    // The profile once more without ignore entries, recorded nowhere.
    std::map<std::string, std::vector<std::string>> kept;
    {
        os.SetRecording(false);
        CNuke bare(os);
        bare.dialog = &dialog;
        if (bare.InitializeLists(dialog.removeAll, dialog.forceMsi) == ERROR_SUCCESS) {
            for (TSet* list : {&bare.ignoreFileList, &bare.ignoreRegKeyList, &bare.ignoreRegValueList,
                               &bare.ignoreServiceList, &bare.ignoreMsiUpgradeCodeList}) {
                Clear(*list);
            }
            if (bare.PopulateLists() == ERROR_SUCCESS) {
                AddKept(bare.expandedFileList, engine.expandedFileList, {&engine.ignoreFileList}, kept);
                AddKept(bare.expandedRegKeyList, engine.expandedRegKeyList, {&engine.ignoreRegKeyList}, kept);
                AddKept(bare.expandedRegValueList, engine.expandedRegValueList,
                        {&engine.ignoreRegValueList, &engine.ignoreRegKeyList}, kept);
                AddKept(bare.expandedServiceList, engine.expandedServiceList, {&engine.ignoreServiceList}, kept);
                AddKept(bare.expandedMsiUpgradeCodeList, engine.expandedMsiUpgradeCodeList,
                        {&engine.ignoreMsiUpgradeCodeList}, kept);
            }
        }
        os.SetRecording(true);
    }

    std::string report =
        "Clearway preview\r\n"
        "Nothing on this machine was changed. A removal run with the same switches would make these changes, in "
        "this order.\r\n";
    size_t total = 0;
    int number = 0;
    for (const char* step : kSteps) {
        std::vector<const platform::PreviewPlatform::Change*> inStep;
        for (const auto& change : changes) {
            if (change.step == step) inStep.push_back(&change);
        }
        if (inStep.empty() && step == kSteps[0]) continue;
        total += inStep.size();
        char heading[256];
        std::snprintf(heading, sizeof heading, "\r\n%d. %s: %u change%s\r\n", ++number, step,
                      static_cast<unsigned>(inStep.size()), inStep.size() == 1 ? "" : "s");
        report += heading;
        for (const auto* change : inStep) report += "   " + change->kind + ": " + change->text + "\r\n";
    }
    char line[128];
    std::snprintf(line, sizeof line, "\r\nIn all: %u changes; %.1f s of pauses not waited for.\r\n",
                  static_cast<unsigned>(total), os.PausedMilliseconds() / 1000.0);
    report += line;
    if (engine.backup && (engine.backup->Keys() || engine.backup->Values())) {
        report += "\r\nBackup the run would write first: '" + engine.backup->BackupPath() + "' with " +
                  std::to_string(engine.backup->Keys()) + " keys and " + std::to_string(engine.backup->Values()) +
                  " values\r\n";
    } else {
        report += "\r\nBackup the run would write first: none (no registry data would be deleted)\r\n";
    }
    report += EachUsersChanges(changes, engine.userHives);
    std::snprintf(line, sizeof line, "\r\nIgnore entries that kept something: %u\r\n",
                  static_cast<unsigned>(kept.size()));
    report += line;
    for (const auto& entry : kept) {
        report += "   " + entry.first + " kept:\r\n";
        for (const std::string& element : entry.second) report += "      " + element + "\r\n";
    }
    return report;
}

std::string WritePreviewReport(platform::PreviewPlatform& os, const std::string& report) {
    // The preview's own output, through the trace log's platform: made the
    // run's own like the trace folder, and never written through a link.
    std::string why;
    const std::string path = guard::WriteRunFile(TracePlatform(), guard::kPreviewReportName, report, why);
    if (!why.empty()) {
        TraceWrite("", -1, 0, "The preview report '%s\\%s' is not written: %s\n",
                   guard::RunFolder(TracePlatform()).c_str(), guard::kPreviewReportName, why.c_str());
    }
    // Started from a console: the report goes there too, to the standard
    // output the program was given or else the console of its parent, past
    // the preview platform, which refuses every open for writing.
    HANDLE out = os.GetStdHandle(STD_OUTPUT_HANDLE);
    if (out && out != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        os.WriteFile(out, report.data(), static_cast<DWORD>(report.size()), &written, nullptr);
    } else {
        SayOnParentConsole(TracePlatform(), report);
    }
    return path;  // empty for a report that is not there
}

void PreviewSteps::StepStarting(const char* name) {
    if (recorder_) recorder_->BeginStep(name);
}
