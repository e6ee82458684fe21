// What Clearway answers a deployment tool: the exit code of each way a run
// can end, from real runs of the program on the damaged machine (the build
// without its fixed pauses, every call reaching Wine), with the log each
// run leaves; and the logs of earlier runs, which a run or a refusal never
// overwrites.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/handles.h"
#include "tests/app/damaged_setup.h"
#include "tests/support/damaged_machine.h"
#include "tests/support/matchers.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_platform.h"

using testing_support::DamagedMachine;
using testing_support::Fate;
using testing_support::MachineItem;
using testing_support::ReadWholeFile;
using testing_support::RunAndWait;
using testing_support::TempFolder;

namespace {

const DWORD kRunTimeoutMs = 10 * 60 * 1000;
const std::string kLogFolder = "C:\\ProgramData\\Velmoran clearway\\";

// The logs of one kind ("Clearway", "Clearway refused"): the current one
// and those kept under their date and time.
std::vector<std::string> Logs(const std::string& kind) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found = {};
    HANDLE find = ::FindFirstFileA((kLogFolder + kind + "*.log").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        const std::string name = found.cFileName;
        const std::string rest = name.substr(kind.size());
        // "Clearway.log" or "Clearway 2026-12-11 031200.log": not "Clearway refused.log".
        if (rest == ".log" || (rest.size() > 5 && rest[0] == ' ' && rest[1] >= '0' && rest[1] <= '9')) {
            names.push_back(name);
        }
    } while (::FindNextFileA(find, &found));
    ::FindClose(find);
    // Oldest first: by the date and time, then by the copy number of a
    // second log of the same second ("... (2).log"); the current log last.
    const auto order = [&kind](const std::string& name) {
        if (name == kind + ".log") return std::make_pair(std::string("~"), 0);
        const size_t open = name.find(" (", kind.size() + 1);
        return std::make_pair(name.substr(kind.size() + 1, 17),
                              open == std::string::npos ? 1 : std::atoi(name.c_str() + open + 2));
    };
    std::sort(names.begin(), names.end(),
              [&order](const std::string& a, const std::string& b) { return order(a) < order(b); });
    return names;
}

// The last line of a log, without its line end.
std::string LastLine(const std::string& text) {
    std::string trimmed = text;
    while (!trimmed.empty() && (trimmed.back() == '\n' || trimmed.back() == '\r')) trimmed.pop_back();
    const size_t end = trimmed.find_last_of('\n');
    return end == std::string::npos ? trimmed : trimmed.substr(end + 1);
}

// A strict reader of the result record: the text must be one JSON object.
// Gives each top-level member's value as written (strings unquoted and
// unescaped as far as ASCII goes); an empty map for text that is not JSON.
class Json {
public:
    static std::map<std::string, std::string> Members(const std::string& text) {
        Json json(text);
        std::map<std::string, std::string> members;
        json.Space();
        if (!json.Eat('{')) return {};
        json.Space();
        if (json.Eat('}')) return json.AtEnd() ? members : std::map<std::string, std::string>();
        do {
            json.Space();
            std::string name;
            if (!json.String(name)) return {};
            json.Space();
            if (!json.Eat(':')) return {};
            json.Space();
            const size_t from = json.at_;
            std::string value;
            if (json.Peek() == '"') {
                if (!json.String(value)) return {};
            } else {
                if (!json.Value()) return {};
                value = text.substr(from, json.at_ - from);
            }
            members[name] = value;
            json.Space();
        } while (json.Eat(','));
        if (!json.Eat('}')) return {};
        return json.AtEnd() ? members : std::map<std::string, std::string>();
    }

private:
    explicit Json(const std::string& text) : text_(text) {}
    char Peek() const { return at_ < text_.size() ? text_[at_] : '\0'; }
    bool Eat(char c) {
        if (Peek() != c) return false;
        ++at_;
        return true;
    }
    void Space() {
        while (Peek() == ' ' || Peek() == '\n' || Peek() == '\r' || Peek() == '\t') ++at_;
    }
    bool AtEnd() {
        Space();
        return at_ == text_.size();
    }
    bool String(std::string& out) {
        if (!Eat('"')) return false;
        while (at_ < text_.size() && text_[at_] != '"') {
            char c = text_[at_++];
            if (static_cast<unsigned char>(c) < 0x20) return false;
            if (c == '\\') {
                if (at_ >= text_.size()) return false;
                c = text_[at_++];
                if (c == 'u') {
                    if (at_ + 4 > text_.size()) return false;
                    c = static_cast<char>(std::strtol(text_.substr(at_, 4).c_str(), nullptr, 16));
                    at_ += 4;
                } else if (std::string("\"\\/bfnrt").find(c) == std::string::npos) {
                    return false;
                }
            }
            out += c;
        }
        return Eat('"');
    }
    bool Value() {
        Space();
        const char c = Peek();
        if (c == '"') {
            std::string ignored;
            return String(ignored);
        }
        if (c == '{' || c == '[') {
            const char close = c == '{' ? '}' : ']';
            ++at_;
            Space();
            if (Eat(close)) return true;
            do {
                Space();
                if (c == '{') {
                    std::string name;
                    if (!String(name)) return false;
                    Space();
                    if (!Eat(':')) return false;
                }
                if (!Value()) return false;
                Space();
            } while (Eat(','));
            return Eat(close);
        }
        for (const char* word : {"true", "false", "null"}) {
            if (text_.compare(at_, std::strlen(word), word) == 0) {
                at_ += std::strlen(word);
                return true;
            }
        }
        const size_t from = at_;
        Eat('-');
        while (Peek() >= '0' && Peek() <= '9') ++at_;
        return at_ > from && text_[at_ - 1] != '-';
    }

    const std::string& text_;
    size_t at_ = 0;
};

// Whether each item of the machine is where it was laid.
std::string Untouched(const DamagedMachine& machine) {
    std::string gone;
    for (const MachineItem& item : machine.Items()) {
        if (!DamagedMachine::Present(item)) gone += item.KindText() + " " + item.name + "\n";
    }
    return gone;
}

// A named mutex the test holds while Clearway runs.
struct HeldMutex {
    explicit HeldMutex(const char* name) : handle(::CreateMutexA(nullptr, TRUE, name)) {}
    platform::ObjectHandle handle;
};

struct RunCase {
    const char* name;
    std::function<void()> before;  // may be empty
    std::string switches;
    DWORD code;
    const char* log;       // "Clearway" or "Clearway refused": the log the run writes
    const char* says;      // a line the log holds
    bool machineUntouched;
};

TEST(ExitCodes, EachWayARunEndsHasItsCode) {
    const testing_support::LaidMachine laid;
    if (HasFatalFailure()) return;
    const DamagedMachine& machine = laid.machine;
    TempFolder folder("exit-codes");
    const std::string program = testing_support::PlaceProgram(folder, machine, "quick_clearway.exe");
    const std::string utility = folder / "instvelps_x64.exe";
    const std::string setAside = folder / "instvelps_x64.set-aside";

    std::unique_ptr<HeldMutex> held;
    const auto chmod = [](const char* mode, const std::string& path) {
        ASSERT_EQ(testing_support::RunUnix(std::string("/bin/chmod ") + mode + " " + testing_support::UnixPath(path)),
                  0u);
    };
    const RunCase cases[] = {
        // Wine shows a file or folder whose Unix mode lets others write as
        // one Everyone may change.
        {"a configuration others can change", [&] { chmod("666", folder / "Clearway.cfg"); }, "--noreboot", 448,
         "Clearway refused", "Others can change what this run would do: 'C:\\clearway-work\\exit-codes\\Clearway.cfg': "
         "S-1-1-0 may change it. Nothing was done (exit code 448)", true},
        {"a program folder others can change",
         [&] {
             chmod("644", folder / "Clearway.cfg");
             chmod("777", folder.path());
         },
         "--noreboot", 448, "Clearway refused",
         "Others can change what this run would do: 'C:\\clearway-work\\exit-codes': S-1-1-0 may change it.", true},
        {"an empty --reboot-delay=", [&] { chmod("755", folder.path()); }, "--noreboot --reboot-delay=", 87,
         "Clearway refused",
         "--reboot-delay=: no number of seconds follows the equals sign; nothing was done (exit code 87)", true},
        {"a second Clearway", [&] { held.reset(new HeldMutex("Global\\Velmoran Clearway run")); }, "--noreboot",
         1618, "Clearway refused", "Another Clearway is running on this machine", true},
        {"an installation in progress", [&] { held.reset(new HeldMutex("Global\\_MSIExecute")); }, "--noreboot",
         1618, "Clearway refused", "Windows Installer is busy with another installation", true},
        {"no 64-bit utility",
         [&] {
             held.reset();
             ASSERT_TRUE(::MoveFileA(utility.c_str(), setAside.c_str()));
         },
         "--noreboot", 1603, "Clearway",
         "Not removed: the 64-bit Winsock catalogue is not reset: instvelps_x64.exe could not be started", false},
        // Before the restart the files are still there: scheduled again.
        {"complete", [&] { ASSERT_TRUE(::MoveFileA(setAside.c_str(), utility.c_str())); }, "--noreboot", 3010,
         "Clearway", "The removal ended: ", false},
        {"nothing to do after the restart",
         [&] { ASSERT_EQ(RunAndWait("C:\\windows\\system32\\wineboot.exe -r", 120000), 0u); }, "--noreboot", 0,
         "Clearway", "The removal ended: 0 changes made", false},
    };
    std::string previousRunLog;
    for (const RunCase& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.before) c.before();
        if (HasFatalFailure()) return;
        const DWORD code = RunAndWait("\"" + program + "\" " + c.switches, kRunTimeoutMs);
        EXPECT_EQ(code, c.code);
        const std::string log = ReadWholeFile(kLogFolder + c.log + ".log");
        EXPECT_THAT(log, HasSubstr(c.says)) << log;
        EXPECT_THAT(LastLine(log), HasSubstr("Clearway ends with exit code " + std::to_string(c.code) + ": "));
        if (c.machineUntouched) {
            EXPECT_EQ(Untouched(machine), "");
        }
        // The result record parses, and says what the log says.
        const std::map<std::string, std::string> result = Json::Members(ReadWholeFile(kLogFolder + "Clearway result.json"));
        ASSERT_FALSE(result.empty()) << ReadWholeFile(kLogFolder + "Clearway result.json");
        EXPECT_EQ(result.at("exitCode"), std::to_string(c.code));
        EXPECT_THAT(LastLine(log), HasSubstr(result.at("summary")));
        EXPECT_EQ(result.at("kind"), std::string(c.log) == "Clearway" ? "run" : "refused");
        EXPECT_EQ(result.at("log"), kLogFolder + c.log + ".log");
        if (std::string(c.log) == "Clearway") {
            const std::string counts = "The removal ended: " +
                                       std::to_string(std::stoul(result.at("removed")) + std::stoul(result.at("scheduled"))) +
                                       " changes made (" + result.at("removed") + " keys, values, services, processes, "
                                       "installer packages and catalogue entries removed, " + result.at("scheduled") +
                                       " files and folders scheduled for deletion), " + result.at("refused") +
                                       " entries refused, " + result.at("failed") + " items could not";
            EXPECT_THAT(log, HasSubstr(counts));
            EXPECT_EQ(result.at("restartPending"), result.at("scheduled") == "0" ? "false" : "true");
        }
        if (std::string(c.log) == "Clearway") {
            // Who ran what where, first; and the earlier run's log is kept.
            for (const char* line : {"Command line: \"", "Account: ", "-bit\r\n"}) EXPECT_THAT(log, HasSubstr(line));
            if (!previousRunLog.empty()) {
                const std::vector<std::string> logs = Logs("Clearway");
                ASSERT_GE(logs.size(), 2u);
                EXPECT_EQ(ReadWholeFile(kLogFolder + logs[logs.size() - 2]), previousRunLog);
            }
            previousRunLog = log;
        }
    }
    // The refusals above wrote no line into the run's log.
    EXPECT_THAT(previousRunLog, Not(HasSubstr("Another Clearway")));
    // The folder that keeps an ignored file is scheduled by every run and
    // stays: the restart takes that rename, and the prefix holds none for
    // the tests after this one.
    EXPECT_EQ(RunAndWait("C:\\windows\\system32\\wineboot.exe -r", 120000), 0u);
}

// Every refusal keeps the logs before it: ten of a kind stay, the newest.
TEST(ExitCodes, TenLogsOfAKindAreKept) {
    TempFolder folder("ten-logs");
    const std::string program = folder / "Clearway.exe";
    ASSERT_TRUE(::CopyFileA(testing_support::BuiltProgram("quick_clearway.exe").c_str(), program.c_str(), FALSE));
    for (int run = 0; run < 12; ++run) {
        ASSERT_EQ(RunAndWait("\"" + program + "\" --reboot-delay=run" + std::to_string(run), 120000), 87u);
    }
    const std::vector<std::string> logs = Logs("Clearway refused");
    ASSERT_EQ(logs.size(), 10u);
    // The newest run is the current log, the one before it the newest kept.
    EXPECT_THAT(ReadWholeFile(kLogFolder + "Clearway refused.log"), HasSubstr("--reboot-delay=run11:"));
    EXPECT_THAT(ReadWholeFile(kLogFolder + logs[logs.size() - 2]), HasSubstr("--reboot-delay=run10:"));
    EXPECT_THAT(ReadWholeFile(kLogFolder + logs.front()), HasSubstr("--reboot-delay=run2:"));
}

}  // namespace
