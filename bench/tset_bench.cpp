// Removal list and trace log throughput. Prints figures; asserts nothing.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "profile/tset.h"
#include "trace/trace.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Paths shaped like an installed program tree: a few top folders, nested
// subfolders, mixed-case file names with extensions.
std::vector<std::string> ProgramTreePaths(int count) {
    static const char* const roots[] = {"C:\\Program Files\\Velmoran\\Client", "C:\\ProgramData\\Velmoran\\Updates",
                                        "C:\\Users\\Admin\\AppData\\Local\\Velmoran", "C:\\Windows\\System32\\drivers"};
    static const char* const folders[] = {"bin", "Plugins", "res\\icons", "Lang", "Engine\\Defs", "Logs", "tmp"};
    static const char* const extensions[] = {".dll", ".exe", ".dat", ".Log", ".ini", ".sys", ".cat"};
    std::vector<std::string> paths;
    paths.reserve(count);
    char name[64];
    for (int i = 0; i < count; ++i) {
        std::snprintf(name, sizeof name, "\\Sub%03d\\Module_%06d", (i / 7) % 400, i);
        paths.push_back(std::string(roots[i % 4]) + "\\" + folders[(i / 4) % 7] + name + extensions[i % 7]);
    }
    return paths;
}

}  // namespace

int main() {
    const int kPaths = 200000;
    std::vector<std::string> paths = ProgramTreePaths(kPaths);

    Clock::time_point start = Clock::now();
    size_t walked = 0;
    {
        TSet set;
        for (const std::string& p : paths) set.Insert(p.c_str());
        const char* text = nullptr;
        for (DWORD rc = set.GetLast(text); rc == 0; rc = set.GetPrevious(text)) ++walked;
    }
    double tset = Seconds(start);

    start = Clock::now();
    size_t walkedPlain = 0;
    {
        std::set<std::string> set;
        for (const std::string& p : paths) set.insert(p);
        for (auto it = set.rbegin(); it != set.rend(); ++it) ++walkedPlain;
    }
    double plain = Seconds(start);

    std::printf("TSet: %d paths inserted and walked descending in %.3f s (%zu walked)\n", kPaths, tset, walked);
    std::printf("std::set<std::string> with strcmp: the same in %.3f s (%zu walked)\n", plain, walkedPlain);
    std::printf("ratio TSet / std::set: %.2f (goal: at most 2)\n", tset / plain);

    // The log in a folder of its own, as a run's: without one the lines
    // would go to the debugger output, and that is not what is measured.
    char folder[MAX_PATH] = {};
    const DWORD length = ::GetTempPathA(MAX_PATH, folder);
    if (length > 1 && folder[length - 1] == '\\') folder[length - 1] = '\0';
    InitTraceLog(nullptr, false, folder);
    if (!TraceLogPath() || !*TraceLogPath()) {
        std::printf("trace log: not measured (no log could be opened in '%s')\n", folder);
        return 1;
    }
    const int kLines = 50000;
    start = Clock::now();
    for (int i = 0; i < kLines; ++i) {
        TraceWrite("", -1, 0, "CleanupFiles: scheduled '%s' for removal\n", paths[static_cast<size_t>(i)].c_str());
    }
    double traced = Seconds(start);
    std::string log = TraceLogPath();
    TraceShutdown();
    ::DeleteFileA(log.c_str());
    std::printf("trace log: %d lines in %.3f s, %.0f lines per second\n", kLines, traced, kLines / traced);
    return 0;
}
