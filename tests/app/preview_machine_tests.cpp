// A preview on the damaged machine, then a real run on the same machine.
// Clearway.exe --preview of this build tree, started as a process, must
// leave the machine exactly as it was: the registry trees of the product,
// the other vendor and the places a run writes, in both views; the pending
// renames; the services; the processes; the product's folders with sizes and
// times. Its report must then name exactly what a real run removes: the
// program's run sequence in this process on a platform that records its
// pauses and its restart, then a real restart of the prefix (wineboot -r).
#include <gtest/gtest.h>
#include <windows.h>

#include <msi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "actions/run_backup.h"
#include "actions/run_undo.h"
#include "app/dialogs.h"
#include "app/run.h"
#include "platform/handles.h"
#include "profile/engine.h"
#include "tests/app/app_doubles.h"
#include "tests/app/damaged_setup.h"
#include "tests/support/damaged_machine.h"
#include "tests/support/machine_picture.h"
#include "tests/support/matchers.h"
#include "tests/support/msi_packages.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_platform.h"
#include "trace/trace.h"

using testing_support::DamagedMachine;
using testing_support::Differences;
using testing_support::ExportKey;
using testing_support::Hex;
using testing_support::KeyName;
using testing_support::ListFiles;
using testing_support::Picture;
using testing_support::Upper;
using testing_support::Fate;
using testing_support::ItemKind;
using testing_support::MachineItem;
using testing_support::MsiPackage;
using testing_support::ProgramFolder;
using testing_support::RunAndWait;
using testing_support::TempFolder;

namespace {

const DWORD kPreviewTimeoutMs = 5 * 60 * 1000;
const char kReport[] = "C:\\ProgramData\\Velmoran clearway\\Clearway preview.txt";
const char k64[] = " (64-bit view)";
const char k32[] = " (32-bit view)";

bool StartsWith(const std::string& text, const std::string& start) { return text.compare(0, start.size(), start) == 0; }

std::string FileName(const std::string& path) { return path.substr(path.rfind('\\') + 1); }

// A name of KeyName's form without its view, and the view.
std::string WithoutView(const std::string& name, REGSAM& view) {
    for (const char* text : {k64, k32}) {
        const size_t length = std::string(text).size();
        if (name.size() > length && name.compare(name.size() - length, length, text) == 0) {
            view = text == k64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
            return name.substr(0, name.size() - length);
        }
    }
    view = 0;
    return name;
}

// ---- a picture of the machine ----
// One entry per thing, by a name that says where it is ("key ...",
// "value ...", "file ...", "service ...", "process ...", "product ...",
// "pending ..."), with what it holds.
void ListServices(Picture& picture) {
    platform::ServiceHandle manager(::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE));
    ASSERT_TRUE(manager);
    std::vector<BYTE> buffer(1 << 16);
    DWORD needed = 0, count = 0, resume = 0;
    ASSERT_TRUE(::EnumServicesStatusA(manager.get(), SERVICE_WIN32, SERVICE_STATE_ALL,
                                      reinterpret_cast<ENUM_SERVICE_STATUSA*>(buffer.data()),
                                      static_cast<DWORD>(buffer.size()), &needed, &count, &resume));
    const auto* services = reinterpret_cast<const ENUM_SERVICE_STATUSA*>(buffer.data());
    for (DWORD i = 0; i < count; ++i) {
        std::string program;
        platform::ServiceHandle service(::OpenServiceA(manager.get(), services[i].lpServiceName, SERVICE_QUERY_CONFIG));
        std::vector<BYTE> config(8192);
        DWORD size = 0;
        if (service && ::QueryServiceConfigA(service.get(), reinterpret_cast<QUERY_SERVICE_CONFIGA*>(config.data()),
                                             static_cast<DWORD>(config.size()), &size)) {
            program = Upper(reinterpret_cast<QUERY_SERVICE_CONFIGA*>(config.data())->lpBinaryPathName);
        }
        picture["service " + Upper(services[i].lpServiceName)] =
            std::to_string(services[i].ServiceStatus.dwCurrentState) + " " + program;
    }
}

// A process that is still starting has no name yet (the console host of a
// console program just started, say): the list is taken again until every
// process has one.
void ListProcesses(Picture& picture) {
    for (int attempt = 0; attempt < 50; ++attempt) {
        Picture processes;
        bool named = true;
        platform::SnapshotHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
        PROCESSENTRY32 entry = {};
        entry.dwSize = sizeof entry;
        for (BOOL more = snapshot && ::Process32First(snapshot.get(), &entry); more;
             more = ::Process32Next(snapshot.get(), &entry)) {
            named = named && entry.szExeFile[0] != '\0';
            // A console host comes and goes with every console: the preview
            // writes its report to the console of its parent, which starts one.
            if (Upper(entry.szExeFile) == "CONHOST.EXE") continue;
            processes["process " + Upper(entry.szExeFile) + " " + std::to_string(entry.th32ProcessID)] =
                "parent " + std::to_string(entry.th32ParentProcessID);
        }
        if (named || attempt == 49) {
            picture.insert(processes.begin(), processes.end());
            return;
        }
        ::Sleep(100);
    }
}

Picture TakePicture(const DamagedMachine& machine, const MsiPackage& package) {
    Picture picture;
    const std::string uninstall = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + package.productCode;
    const std::string services = "SYSTEM\\CurrentControlSet\\Services\\";
    const std::string machineTrees[] = {
        "SOFTWARE\\Velmoran", "SOFTWARE\\Northgale", "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", uninstall,
        std::string("SOFTWARE\\") + "Velmoran Clearway",  // the retry marker
        services + DamagedMachine::kServiceName, services + "NorthgaleUpdate", services + "WinSock2",
        "SYSTEM\\CurrentControlSet\\Control\\SafeBoot",
    };
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
        for (const std::string& tree : machineTrees) ExportKey(HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE", tree, view, picture);
        // The renames a restart carries out.
        platform::RegKey session;
        std::vector<BYTE> data(1 << 16);
        DWORD size = static_cast<DWORD>(data.size()), type = 0;
        const bool pending =
            ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0,
                            KEY_READ | view, session.put()) == ERROR_SUCCESS &&
            ::RegQueryValueExA(session.get(), "PendingFileRenameOperations", nullptr, &type, data.data(), &size) ==
                ERROR_SUCCESS;
        picture[std::string("pending renames") + (view == KEY_WOW64_64KEY ? k64 : k32)] =
            pending ? Hex(data.data(), size) : "none";
    }
    for (const char* tree : {"Software\\Velmoran", "Software\\Northgale"}) {
        ExportKey(HKEY_CURRENT_USER, "HKEY_CURRENT_USER", tree, 0, picture);
    }
    for (const MachineItem& item : machine.Items()) {
        if (item.kind == ItemKind::File || item.kind == ItemKind::Folder) ListFiles(item.name, picture);
    }
    ListFiles(package.InstallFolder(), picture);
    ListServices(picture);
    ListProcesses(picture);
    picture["product " + Upper(package.productCode)] = std::to_string(::MsiQueryProductStateA(package.productCode.c_str()));
    return picture;
}

// A folder scheduled for deletion stays at the restart while something in
// it stays (an ignored folder, say).
bool HoldsSomething(const std::string& path) {
    WIN32_FIND_DATAA found = {};
    HANDLE find = ::FindFirstFileA((path + "\\*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return false;
    bool holds = false;
    do {
        holds = std::string(found.cFileName) != "." && std::string(found.cFileName) != "..";
    } while (!holds && ::FindNextFileA(find, &found));
    ::FindClose(find);
    return holds;
}

// ---- the preview report ----
// Its change lines ("   kind: text") up to "In all:", by kind; names as in
// a picture (upper case; the program's own view is the 32-bit one).
struct Report {
    std::set<std::string> products, processes, stoppedServices, deletedServices, files, values, keys;
    // The step headings each kind of change was listed under.
    std::map<std::string, std::set<std::string>> stepsOf;
};

std::string ReportKey(const std::string& text) {
    const size_t view = text.rfind(" (");
    std::string key = text.substr(0, view);
    return KeyName(key, view != std::string::npos && text.compare(view, std::string::npos, k64) == 0
                            ? KEY_WOW64_64KEY
                            : KEY_WOW64_32KEY);
}

Report ParseReport(const std::string& text) {
    Report report;
    std::string step;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find("\r\n", at);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(at, end - at);
        at = end + 2;
        if (StartsWith(line, "In all:")) break;
        const size_t colon = line.find(": ");
        const size_t dot = line.find(". ");
        if (!line.empty() && std::isdigit(static_cast<unsigned char>(line[0])) && dot != std::string::npos &&
            colon != std::string::npos) {
            step = line.substr(dot + 2, colon - dot - 2);  // "3. Deleting registry keys: 12 changes"
            continue;
        }
        if (!StartsWith(line, "   ") || colon == std::string::npos) continue;
        const std::string kind = line.substr(3, colon - 3), what = line.substr(colon + 2);
        report.stepsOf[kind].insert(step);
        if (kind == "product uninstalled") report.products.insert(Upper(what.substr(0, what.find(' '))));
        if (kind == "process terminated") report.processes.insert(Upper(FileName(what)));
        if (kind == "service stopped") report.stoppedServices.insert(Upper(what));
        if (kind == "service deleted") report.deletedServices.insert(Upper(what));
        if (kind == "file scheduled for deletion at restart") report.files.insert(Upper(what));
        if (kind == "registry key deleted") report.keys.insert(ReportKey(what));
        if (kind == "registry value deleted") {
            const size_t split = what.find(") : ");
            if (split != std::string::npos) {
                report.values.insert(ReportKey(what.substr(0, split + 1)) + " : " + Upper(what.substr(split + 4)));
            }
        }
    }
    return report;
}

// ---- what the report explains ----
class Explanation {
public:
    Explanation(const Report& report, const Picture& before, const MsiPackage& package)
        : report_(report), before_(before), package_(package) {}

    // Whether a real run per the report takes this picture entry away.
    bool Explains(const std::string& entry) const {
        const size_t space = entry.find(' ');
        const std::string kind = entry.substr(0, space), name = entry.substr(space + 1);
        if (kind == "file") return report_.files.count(name) || InProduct(name);
        if (kind == "key") return KeyGoes(name);
        if (kind == "value") {
            const size_t split = name.find(" : ");
            return report_.values.count(name) || KeyGoes(name.substr(0, split));
        }
        if (kind == "service") return report_.deletedServices.count(name) > 0;
        if (kind == "process") return ProcessGoes(name, 2);
        if (kind == "product") return report_.products.count(name) > 0;
        return false;
    }

    // Whether the report lists a machine item (its folder: the product).
    bool Lists(const MachineItem& item) const {
        switch (item.kind) {
            case ItemKind::File:
            case ItemKind::Folder:
                return report_.files.count(Upper(item.name)) ||
                       (Upper(item.name) == Upper(package_.InstallFolder()) && ProductGoes());
            case ItemKind::Key: return report_.keys.count(KeyName(item.name, item.view)) > 0;
            case ItemKind::Value: {
                const size_t slash = item.name.rfind('\\');
                return report_.values.count(KeyName(item.name.substr(0, slash), item.view) + " : " +
                                            Upper(item.name.substr(slash + 1))) > 0;
            }
            case ItemKind::Service: return report_.deletedServices.count(Upper(item.name)) > 0;
            case ItemKind::Process: return report_.processes.count(Upper(item.name)) > 0;
            case ItemKind::MsiProduct: return report_.products.count(Upper(item.name)) > 0;
        }
        return false;
    }

private:
    bool ProductGoes() const { return report_.products.count(Upper(package_.productCode)) > 0; }
    // The product's files go with it.
    bool InProduct(const std::string& path) const {
        const std::string folder = Upper(package_.InstallFolder());
        return ProductGoes() && (path == folder || StartsWith(path, folder + "\\"));
    }
    bool KeyGoes(const std::string& key) const {
        if (report_.keys.count(key)) return true;
        // The product's Uninstall entry goes with it, a service's key with
        // the service.
        if (ProductGoes() && key.find("\\UNINSTALL\\" + Upper(package_.productCode)) != std::string::npos) return true;
        for (const std::string& service : report_.deletedServices) {
            const std::string own = "HKEY_LOCAL_MACHINE\\SYSTEM\\CURRENTCONTROLSET\\SERVICES\\" + service;
            if (StartsWith(key, own + "\\") || StartsWith(key, own + " (")) return true;
        }
        return false;
    }
    // "NAME pid": terminated, the program of a service the run stops, or a
    // child of one that goes (a console program's console host).
    bool ProcessGoes(const std::string& process, int depth) const {
        const std::string name = process.substr(0, process.rfind(' '));
        if (report_.processes.count(name)) return true;
        for (const std::string& service : report_.stoppedServices) {
            auto it = before_.find("service " + service);
            if (it != before_.end() && it->second.find("\\" + name) != std::string::npos) return true;
        }
        auto self = before_.find("process " + process);
        if (depth == 0 || self == before_.end()) return false;
        const std::string parent = " " + self->second.substr(self->second.find(' ') + 1);
        for (auto it = before_.lower_bound("process "); it != before_.end() && StartsWith(it->first, "process "); ++it) {
            if (it->first.size() > parent.size() &&
                it->first.compare(it->first.size() - parent.size(), parent.size(), parent) == 0) {
                return ProcessGoes(it->first.substr(8), depth - 1);
            }
        }
        return false;
    }

    const Report& report_;
    const Picture& before_;
    const MsiPackage& package_;
};

// The backups of runs in the trace folder, by name.
std::set<std::string> Backups() {
    std::set<std::string> names;
    WIN32_FIND_DATAA found = {};
    platform::FindHandle find(::FindFirstFileA("C:\\ProgramData\\Velmoran clearway\\Clearway backup *", &found));
    for (bool more = static_cast<bool>(find); more; more = ::FindNextFileA(find.get(), &found) != FALSE) {
        names.insert(found.cFileName);
    }
    return names;
}

// The real run: the program's run sequence in this process, silent, with
// the machine's configuration and its restart recorded (the test restarts
// the prefix itself). A backup folder other than the trace folder when given.
void RunForReal(const DamagedMachine& machine, const std::string& backupFolder) {
    testing_support::WriteWholeFile(ProgramFolder() + "preview_machine_tests.cfg", machine.Configuration());
    testing_support::AppPlatform os;
    CNuke engine(os);
    if (!backupFolder.empty()) engine.Backup().SetFolder(backupFolder);
    CZerlinDlg dialog(os, engine);
    dialog.runState = Running;
    engine.dialog = &dialog;
    g_runContext = {&dialog, nullptr, 0, &engine, nullptr};
    RunRemoval(&g_runContext);
    TraceShutdown();
    EXPECT_EQ(g_runContext.result, 0u);
    ASSERT_EQ(os.restarts.size(), 1u);
    EXPECT_GT(engine.Backup().Values(), 0u);
}

TEST(PreviewMachineTest, APreviewChangesNothingAndARealRunRemovesExactlyWhatItsReportListed) {
    const testing_support::LaidMachine laid;
    if (HasFatalFailure()) return;
    const MsiPackage& package = laid.package;
    const DamagedMachine& machine = laid.machine;

    // The preview: the program of this tree with the machine's configuration.
    TempFolder folder("preview");
    const std::string program = testing_support::PlaceProgram(folder, machine);
    ::DeleteFileA(kReport);
    const Picture before = TakePicture(machine, package);
    const std::set<std::string> backups = Backups();
    EXPECT_EQ(RunAndWait("\"" + program + "\" --preview", kPreviewTimeoutMs), 0u);
    const Picture afterPreview = TakePicture(machine, package);
    EXPECT_EQ(Differences(before, afterPreview), "") << "the preview changed the machine";
    EXPECT_EQ(Backups(), backups) << "a preview has nothing to take back";
    // Its result record counts what a run would change.
    const std::string result = testing_support::ReadWholeFile("C:\\ProgramData\\Velmoran clearway\\Clearway result.json");
    EXPECT_THAT(result, HasSubstr("\"kind\": \"preview\""));
    EXPECT_THAT(result, Not(HasSubstr("\"scheduled\": 0,")));
    EXPECT_THAT(result, Not(HasSubstr("\"removed\": 0,")));

    const std::string text = testing_support::ReadWholeFile(kReport);
    ASSERT_THAT(text, HasSubstr("Nothing on this machine was changed")) << text;
    const Report report = ParseReport(text);
    // The second user's changes gathered under their profile: the file in
    // it, and a registry the preview did not load, said as such.
    const size_t users = text.find("\r\nEach user's changes");
    ASSERT_NE(users, std::string::npos) << text;
    const std::string theirs = Upper(text.substr(text.find("S-1-5-21-3615-2749-1024-1001 (profile '", users)));
    EXPECT_THAT(theirs, HasSubstr("ITS REGISTRY IS NOT LISTED")) << text;
    EXPECT_THAT(theirs, HasSubstr("\\JOHN\\")) << text;
    EXPECT_THAT(theirs, HasSubstr("\\VELMORAN\\PARLOWE\\USER.DAT")) << text;
    // Each change is filed under the run step that asked for it.
    EXPECT_EQ(report.stepsOf.at("file scheduled for deletion at restart"),
              std::set<std::string>{"Scheduling files and folders for deletion"});
    EXPECT_EQ(report.stepsOf.at("registry key deleted").count("Deleting registry keys"), 1u);

    // The real run: the program's run sequence here, silent, its restart
    // recorded; then the prefix restarts and carries out the renames.
    RunForReal(machine, std::string());
    if (HasFatalFailure()) return;
    // A restart ends every process: the processes are compared now.
    const Picture afterRun = TakePicture(machine, package);
    EXPECT_FALSE(report.processes.empty());
    for (const std::string& name : report.processes) {
        EXPECT_FALSE(DamagedMachine::Present({ItemKind::Process, name, 0, Fate::GoesNow, ""}))
            << "listed and still running: " << name;
    }
    ASSERT_EQ(RunAndWait("C:\\windows\\system32\\wineboot.exe -r", 120000), 0u);
    const Picture after = TakePicture(machine, package);

    // Every item goes exactly when it must, and exactly when the report
    // listed it.
    const Explanation explanation(report, before, package);
    for (const MachineItem& item : machine.Items()) {
        SCOPED_TRACE(item.KindText() + " " + item.name + " (" + item.note + ")");
        EXPECT_EQ(DamagedMachine::Present(item), item.fate == Fate::Stays);
        if (item.fate != Fate::Stays) {
            EXPECT_TRUE(explanation.Lists(item)) << "gone, and not in the report\n" << text;
        } else {
            EXPECT_TRUE(!explanation.Lists(item) || HoldsSomething(item.name)) << "in the report, and a run keeps it";
        }
    }
    // Nothing went that the report did not list (the restart itself
    // consumes the pending renames)...
    std::string unlisted;
    for (const auto& entry : before) {
        const Picture& now = StartsWith(entry.first, "process ") ? afterRun : after;
        if (!now.count(entry.first) && !StartsWith(entry.first, "pending ") && !explanation.Explains(entry.first)) {
            unlisted += entry.first + " (" + entry.second + ")\n";
        }
    }
    EXPECT_EQ(unlisted, "") << text;
    // ...and everything the report listed is gone (a folder only when
    // nothing in it stays).
    std::vector<MachineItem> listed;
    for (const std::string& code : report.products) listed.push_back({ItemKind::MsiProduct, code, 0, Fate::GoesNow, ""});
    for (const std::string& name : report.deletedServices) {
        listed.push_back({ItemKind::Service, name, 0, Fate::GoesNow, ""});
    }
    for (const std::string& path : report.files) listed.push_back({ItemKind::File, path, 0, Fate::GoesAtRestart, ""});
    for (const std::string& key : report.keys) {
        REGSAM view = 0;
        const std::string name = WithoutView(key, view);
        listed.push_back({ItemKind::Key, name, view, Fate::GoesNow, ""});
    }
    for (const std::string& value : report.values) {
        const size_t split = value.find(" : ");
        REGSAM view = 0;
        const std::string key = WithoutView(value.substr(0, split), view);
        listed.push_back({ItemKind::Value, key + "\\" + value.substr(split + 3), view, Fate::GoesNow, ""});
    }
    EXPECT_FALSE(listed.empty());
    for (const MachineItem& item : listed) {
        EXPECT_FALSE(DamagedMachine::Present(item) && !HoldsSomething(item.name))
            << "listed and still there: " << item.KindText() << " " << item.name;
    }

    ::DeleteFileA((ProgramFolder() + "preview_machine_tests.cfg").c_str());
}

// A real run with its restart still to come, then an undo, then the
// restart: the registry data the run deleted is back in its view, the
// files it scheduled stay, another program's rename still goes through,
// and the uninstalled package stays uninstalled, as the trace says.
TEST(PreviewMachineTest, AnUndoBeforeTheRestartBringsTheRegistryBackAndKeepsTheFiles) {
    const testing_support::LaidMachine laid;
    if (HasFatalFailure()) return;
    const MsiPackage& package = laid.package;
    const DamagedMachine& machine = laid.machine;
    TempFolder other("undo-other-program");
    const std::string otherFile = other / "replaced.tmp";
    testing_support::WriteWholeFile(otherFile, "x");
    ASSERT_TRUE(::MoveFileExA(otherFile.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    const Picture before = TakePicture(machine, package);

    TempFolder backups("undo-backups");
    RunForReal(machine, backups.path());
    if (HasFatalFailure()) return;
    const Picture afterRun = TakePicture(machine, package);

    TempFolder logs("undo-log");
    testing_support::TestPlatform os;
    TraceSetPlatform(&os);
    InitTraceLog(nullptr, false, logs.path().c_str());
    const DWORD code = UndoNewestRun(os, backups.path());
    TraceShutdown();
    TraceSetPlatform(nullptr);
    EXPECT_EQ(code, 3010u) << "the service comes back at the next start";
    const std::string log = testing_support::ReadWholeFile(logs / "preview_machine_tests.log");
    EXPECT_THAT(log, HasSubstr("Undo: not restored: the installer package " + package.productCode)) << log;
    const Picture afterUndo = TakePicture(machine, package);

    // Every key and value the run deleted is back with its type and data,
    // but for what the installer took with its package.
    const std::string uninstall = Upper("key HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" +
                                        package.productCode);
    std::string missing;
    int restored = 0;
    for (const auto& entry : before) {
        const bool key = StartsWith(entry.first, "key "), value = StartsWith(entry.first, "value ");
        if ((!key && !value) || afterRun.count(entry.first)) continue;
        if (entry.first.find(uninstall.substr(4)) != std::string::npos) continue;
        auto now = afterUndo.find(entry.first);
        if (now == afterUndo.end() || (value && now->second != entry.second)) {
            missing += entry.first + " = " + entry.second + "\n";
        } else {
            ++restored;
        }
    }
    EXPECT_EQ(missing, "");
    EXPECT_GT(restored, 0);
    EXPECT_NE(afterUndo.at(std::string("pending renames") + k64), "none") << "another program's rename was taken";

    ASSERT_EQ(RunAndWait("C:\\windows\\system32\\wineboot.exe -r", 120000), 0u);
    const Picture after = TakePicture(machine, package);
    std::string gone;
    for (const auto& entry : afterRun) {
        if (StartsWith(entry.first, "file ") && !after.count(entry.first)) gone += entry.first + "\n";
    }
    EXPECT_EQ(gone, "") << "scheduled by the run, and deleted although it was taken back";
    EXPECT_FALSE(testing_support::PathExists(otherFile)) << "another program's rename went through";
    EXPECT_NE(after.at("product " + Upper(package.productCode)), std::to_string(INSTALLSTATE_DEFAULT));
    // Taken back once: a second undo finds nothing.
    EXPECT_EQ(UndoNewestRun(os, backups.path()), 1168u);

    ::DeleteFileA((ProgramFolder() + "preview_machine_tests.cfg").c_str());
}

}  // namespace
