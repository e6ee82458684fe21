#include "app/run_result.h"

#include <shlobj.h>

#include <cstdio>

#include "guard/run_folder.h"
#include "platform/handles.h"
#include "platform/platform.h"
#include "platform/wide_text.h"
#include "trace/trace.h"

namespace {

// A JSON string: the text in UTF-8, quoted, with its quotes, backslashes
// and control characters escaped.
std::string Quoted(platform::Platform& os, const std::string& text) {
    const std::wstring wide = platform::WideText(os, text);
    std::string out = "\"";
    for (const wchar_t c : wide) {
        if (c == L'"' || c == L'\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
            out += escape;
        } else if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            // A surrogate half stays one: JSON spells it as an escape.
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
            out += escape;
        } else {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out + "\"";
}

std::string Utc(std::time_t time) {
    std::tm parts = {};
#ifdef _MSC_VER
    gmtime_s(&parts, &time);
#else
    parts = *std::gmtime(&time);
#endif
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

const char* Bool(bool value) { return value ? "true" : "false"; }

}  // namespace

std::string RunResultJson(platform::Platform& os, const RunResult& r) {
    std::string json = "{\n";
    json += "  \"version\": " + Quoted(os, r.version) + ",\n";
    json += "  \"kind\": " + Quoted(os, r.kind) + ",\n";
    json += "  \"switches\": [";
    for (size_t i = 0; i < r.switches.size(); ++i) json += (i ? ", " : "") + Quoted(os, r.switches[i]);
    json += "],\n";
    json += "  \"account\": " + Quoted(os, r.account) + ",\n";
    json += "  \"start\": \"" + Utc(r.start) + "\",\n";
    json += "  \"end\": \"" + Utc(r.end) + "\",\n";
    json += "  \"exitCode\": " + std::to_string(r.exitCode) + ",\n";
    json += "  \"meaning\": " + Quoted(os, r.meaning) + ",\n";
    json += "  \"summary\": " + Quoted(os, r.summary) + ",\n";
    json += "  \"steps\": [";
    for (size_t i = 0; i < r.steps.size(); ++i) {
        json += std::string(i ? "," : "") + "\n    {\"name\": " + Quoted(os, r.steps[i].first) +
                ", \"code\": " + std::to_string(r.steps[i].second) + "}";
    }
    json += r.steps.empty() ? "],\n" : "\n  ],\n";
    json += "  \"removed\": " + std::to_string(r.removed) + ",\n";
    json += "  \"scheduled\": " + std::to_string(r.scheduled) + ",\n";
    json += "  \"refused\": " + std::to_string(r.refused) + ",\n";
    json += "  \"failed\": " + std::to_string(r.failed) + ",\n";
    json += "  \"left\": [";
    for (size_t i = 0; i < r.left.size(); ++i) json += std::string(i ? "," : "") + "\n    " + Quoted(os, r.left[i]);
    json += r.left.empty() ? "],\n" : "\n  ],\n";
    json += "  \"installer\": [";
    for (size_t i = 0; i < r.installer.size(); ++i) {
        const CNuke::InstallerAnswer& a = r.installer[i];
        json += std::string(i ? "," : "") + "\n    {\"upgradeCode\": " + Quoted(os, a.upgradeCode) +
                ", \"productCode\": " + Quoted(os, a.productCode) + ", \"code\": " + std::to_string(a.code) +
                ", \"cachedPackageCode\": " + (a.cachedTried ? std::to_string(a.cachedCode) : std::string("null")) +
                ", \"uninstalled\": " + Bool(a.removed) + "}";
    }
    json += r.installer.empty() ? "],\n" : "\n  ],\n";
    json += "  \"restartPending\": " + std::string(Bool(r.restartPending)) + ",\n";
    json += "  \"log\": " + Quoted(os, r.log) + ",\n";
    json += "  \"backup\": " + Quoted(os, r.backup) + "\n";
    return json + "}\n";
}

std::string WriteRunResult(const RunResult& result) {
    platform::Platform& files = TracePlatform();
    std::string why;
    const std::string path = guard::WriteRunFile(files, guard::kResultRecordName, RunResultJson(files, result), why);
    if (!why.empty()) {
        TraceWrite("", -1, 0, "The result record '%s\\%s' is not written: %s\n", guard::RunFolder(files).c_str(),
                   guard::kResultRecordName, why.c_str());
    }
    return path;
}

void ReportRunEvent(platform::Platform& os, const RunResult& result) {
    WORD type = EVENTLOG_ERROR_TYPE;
    switch (result.exitCode) {
        case ERROR_SUCCESS:
        case ERROR_SUCCESS_REBOOT_INITIATED:
        case ERROR_SUCCESS_REBOOT_REQUIRED:
            type = EVENTLOG_INFORMATION_TYPE;
            break;
        case ERROR_INSTALL_FAILURE:
        case ERROR_INSTALL_ALREADY_RUNNING:
        case ERROR_CANCELLED:
            type = EVENTLOG_WARNING_TYPE;
            break;
    }
    HANDLE log = os.RegisterEventSourceA(nullptr, "Clearway");
    if (!log) {
        TraceWrite("", -1, 0, "The Application event is not written: the event log answered %lu\n",
                   static_cast<unsigned long>(os.GetLastError()));
        return;
    }
    const char* text = result.summary.c_str();
    if (!os.ReportEventA(log, type, 0, result.exitCode, nullptr, 1, 0, &text, nullptr)) {
        TraceWrite("", -1, 0, "The Application event is not written: the event log answered %lu\n",
                   static_cast<unsigned long>(os.GetLastError()));
    }
    os.DeregisterEventSource(log);
}
