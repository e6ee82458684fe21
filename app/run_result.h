// The run's result for deployment tools: "Clearway result.json" beside the
// trace log, written at the end of every run, preview, undo and refusal,
// and one event in the Application log with the run's closing line.
#pragma once
#include <windows.h>

#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "profile/engine.h"

namespace platform { class Platform; }

struct RunResult {
    std::string version;
    std::string kind;  // "run", "preview", "undo" or "refused"
    std::vector<std::string> switches;
    std::string account;
    std::time_t start = 0, end = 0;
    DWORD exitCode = 0;
    std::string meaning;
    std::string summary;  // the log's closing line
    std::vector<std::pair<std::string, DWORD>> steps;
    unsigned removed = 0, scheduled = 0, refused = 0, failed = 0;
    std::vector<std::string> left;
    std::vector<CNuke::InstallerAnswer> installer;
    bool restartPending = false;
    std::string log, backup;
};

// The record as JSON text (UTF-8 from the ANSI code page).
std::string RunResultJson(platform::Platform& os, const RunResult& result);

// Writes the record into the trace folder, made the run's own and never
// through a link, through the trace log's platform; its path, or empty
// with the reason traced.
std::string WriteRunResult(const RunResult& result);

// One Application event, source "Clearway": information for 0, 1641 and
// 3010, a warning for 1603, 1618 and 1223, an error for every other code;
// its text is the closing line.
void ReportRunEvent(platform::Platform& os, const RunResult& result);
