#include "trace/trace.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "guard/own_files.h"
#include "platform/platform.h"

namespace {

constexpr size_t kLineBufferSize = 1024;  // formatted text is cut to 1023
constexpr size_t kListLimit = 248;        // include and exclude lists
constexpr size_t kPathLimit = 259;        // longest log file path
constexpr size_t kVersionSize = 32;

struct Options {
    bool tracing = true;
    int typeMask = -1;
    int level = 255;
    std::string include;
    std::string exclude;
    bool typeColumn = false;
    bool threadId = false;
    bool dateTime = false;
    bool tickCount = false;
    bool counter = false;
    bool indentation = true;
    bool fn = false;
    bool ln = false;
    long refreshSeconds = 0;
};

struct TraceState {
    platform::Platform* os = nullptr;
    Options options;
    bool scopeEnabled = true;
    std::string lineEnd;
    int depth = 0;
    int liveScopes = 0;
    // The log file, written with WriteFile: a C runtime stream of a windowed
    // program may take the number of a standard stream, and closing it
    // would close that standard handle too.
    HANDLE log = nullptr;
    std::string logPath;
    std::string logRefusal;  // why the last log file asked for was not opened
    bool headerWritten = false;
    std::FILE* settings = nullptr;
    long long lastSettingsRead = 0;
    LONGLONG previousCounter = 0;
    LONGLONG counterFrequency = 0;
    HMODULE relativeModule = nullptr;
    std::string nameSuffix;  // added to the program's base name in the log's name
    char line[kLineBufferSize] = {};
    std::string pending;  // the line being gathered, written whole
    char version[kVersionSize] = "NO_VERSION";
    CRITICAL_SECTION lock;
    bool lockReady = false;
};

TraceState& State() {
    static TraceState state;
    return state;
}

platform::Platform& Os() {
    TraceState& s = State();
    if (!s.os) s.os = &platform::ProductionPlatform();
    return *s.os;
}

void EnsureLock() {
    TraceState& s = State();
    if (!s.lockReady) {
        Os().InitializeCriticalSection(&s.lock);
        s.lockReady = true;
    }
}

class Locked {
public:
    Locked() {
        EnsureLock();
        Os().EnterCriticalSection(&State().lock);
    }
    ~Locked() { Os().LeaveCriticalSection(&State().lock); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
};

// The pieces of a line (its prefixes, its text) are gathered, and the line
// goes out in one write once it is whole: to the log file, where it is at
// once (a run killed half-way leaves its log up to its last line), or to
// the debugger output while no log file is open.
void WritePiece(const char* text) {
    TraceState& s = State();
    if (s.log) {
        // Line ends as a text-mode stream writes them.
        for (const char* p = text; *p; ++p) {
            if (*p == '\n') s.pending += '\r';
            s.pending += *p;
        }
    } else {
        s.pending += text;
    }
}

void WriteLine() {
    TraceState& s = State();
    if (s.pending.empty()) return;
    if (s.log) {
        DWORD written = 0;
        Os().WriteFile(s.log, s.pending.data(), static_cast<DWORD>(s.pending.size()), &written, nullptr);
    } else {
        Os().OutputDebugStringA(s.pending.c_str());
    }
    s.pending.clear();
}

bool ListHasName(const std::string& list, const char* name) {
    const char* separators = " ,\t\n";
    size_t pos = list.find_first_not_of(separators);
    while (pos != std::string::npos) {
        size_t end = list.find_first_of(separators, pos);
        std::string word = list.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        if (_stricmp(word.c_str(), name) == 0) return true;
        pos = end == std::string::npos ? end : list.find_first_not_of(separators, end);
    }
    return false;
}

bool PassesComponentFilter(const char* component) {
    const Options& o = State().options;
    const char* name = component ? component : "";
    if (!o.include.empty()) return ListHasName(o.include, name);
    if (!o.exclude.empty()) return !ListHasName(o.exclude, name);
    return true;
}

// Folder of a module's file, with its trailing backslash; empty on failure.
std::string ModuleFolder(HMODULE module) {
    char path[MAX_PATH + 1] = {};
    DWORD n = Os().GetModuleFileNameA(module, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return std::string();
    std::string p(path, n);
    size_t cut = p.find_last_of("\\/");
    return cut == std::string::npos ? std::string() : p.substr(0, cut + 1);
}

bool HasDriveOrFolder(const char* path) { return std::strpbrk(path, ":\\/") != nullptr; }

std::string ResolveRelative(const char* path) {
    if (HasDriveOrFolder(path)) return path;
    return ModuleFolder(State().relativeModule) + path;
}

void AppendToList(std::string& list, const char* value) {
    std::string joined = list.empty() ? std::string(value) : list + " " + value;
    if (joined.size() > kListLimit) joined.resize(kListLimit);
    list = joined;
}

std::string UnescapeLineEnd(const char* value) {
    std::string out;
    for (const char* p = value; *p; ++p) {
        if (*p == '\\' && p[1]) {
            switch (p[1]) {
                case 'r': out += '\r'; ++p; continue;
                case 'n': out += '\n'; ++p; continue;
                case 'b': out += '\b'; ++p; continue;
                case 't': out += '\t'; ++p; continue;
                default: break;  // any other escape is taken literally
            }
        }
        out += *p;
    }
    return out;
}

void OpenLogFromSetting(const char* value) {
    std::string text(value);
    std::string path = text;
    std::string mode = "w";
    size_t comma = text.find(',');
    if (comma != std::string::npos) {
        path = text.substr(0, comma);
        size_t start = text.find_first_not_of(' ', comma + 1);
        mode = start == std::string::npos ? std::string() : text.substr(start);
        if (mode.empty()) mode = "w";
    }
    TraceOpenLog(path.c_str(), mode.c_str());
}

void ApplySettingsLine(char* line) {
    Options& o = State().options;
    const char* eq = std::strchr(line, '=');
    if (!eq) return;
    const char* value = eq + 1;
    while (*value == ' ') ++value;
    if (!*value) return;

    // The first keyword of the table found anywhere in the line decides.
    static const char* const kKeywords[] = {"notrace", "tid", "tc", "hpc", "dt", "nid", "tl",
                                            "ts", "tfr", "include", "exclude", "eol", "tf"};
    int which = -1;
    for (int i = 0; i < static_cast<int>(sizeof kKeywords / sizeof kKeywords[0]); ++i) {
        if (std::strstr(line, kKeywords[i])) {
            which = i;
            break;
        }
    }
    switch (which) {
        case 0: o.tracing = false; break;
        case 1: o.threadId = true; break;
        case 2: o.tickCount = true; break;
        case 3: o.counter = true; break;
        case 4: o.dateTime = true; break;
        case 5: o.indentation = false; break;
        case 6: o.level = std::atoi(value); break;
        case 7: o.typeMask = std::atoi(value); break;
        case 8: o.refreshSeconds = std::atol(value); break;
        case 9: AppendToList(o.include, value); break;
        case 10: AppendToList(o.exclude, value); break;
        case 11:
            State().lineEnd = UnescapeLineEnd(value);
            if (std::strstr(line, "tf")) OpenLogFromSetting(value);
            break;
        case 12: OpenLogFromSetting(value); break;
        default: break;
    }
}

// Reads the open settings file from its start; the caller holds the lock.
void ReadSettings() {
    TraceState& s = State();
    if (!s.settings) return;
    s.options = Options();
    char line[kLineBufferSize];
    while (std::fgets(line, sizeof line, s.settings)) {
        size_t n = std::strlen(line);
        while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r')) line[--n] = '\0';
        if (line[0] == '#') continue;
        ApplySettingsLine(line);
    }
    if (s.log && !s.headerWritten) {
        std::string header;
        const Options& o = s.options;
        if (o.typeColumn) header += "ts ";
        if (o.threadId) header += "tid ";
        if (o.dateTime) header += "dt ";
        if (o.tickCount) header += "tc ";
        if (o.counter) header += "hpc ";
        if (o.fn) header += "fn ";
        if (o.ln) header += "ln ";
        header += "\r\n";
        WritePiece(header.c_str());
        WriteLine();
        s.headerWritten = true;
    }
    s.lastSettingsRead = static_cast<long long>(Os().Time());
    std::clearerr(s.settings);
    std::rewind(s.settings);
}

void WritePrefixes(int types) {
    TraceState& s = State();
    const Options& o = s.options;
    char piece[64];
    if (o.typeColumn) {
        WritePiece(types == 1 ? "3\t" : types == 2 ? "2\t" : types == 4 ? "1\t" : "0\t");
    }
    if (o.threadId) {
        std::snprintf(piece, sizeof piece, "%lX\t", static_cast<unsigned long>(Os().GetCurrentThreadId()));
        WritePiece(piece);
    }
    if (o.dateTime) {
        SYSTEMTIME t = {};
        Os().GetLocalTime(&t);
        std::snprintf(piece, sizeof piece, "%2d/%02d/%02d %02d:%02d:%02d\t", t.wYear % 100, t.wMonth, t.wDay,
                      t.wHour, t.wMinute, t.wSecond);
        WritePiece(piece);
    }
    if (o.tickCount) {
        std::snprintf(piece, sizeof piece, "%08lX\t", static_cast<unsigned long>(Os().GetTickCount()));
        WritePiece(piece);
    }
    if (o.counter) {
        LARGE_INTEGER now = {};
        if (Os().QueryPerformanceCounter(&now)) {
            if (s.counterFrequency == 0) {
                LARGE_INTEGER f = {};
                if (Os().QueryPerformanceFrequency(&f)) s.counterFrequency = f.QuadPart;
            }
            long delta = 0;
            if (s.previousCounter != 0 && s.counterFrequency != 0) {
                delta = static_cast<long>((now.QuadPart - s.previousCounter) * 10000 / s.counterFrequency);
            }
            s.previousCounter = now.QuadPart;
            std::snprintf(piece, sizeof piece, "%8ld\t", delta);
            WritePiece(piece);
        }
    }
    if (o.indentation && s.depth > 0) {
        std::string blanks(static_cast<size_t>(s.depth), ' ');
        WritePiece(blanks.c_str());
    }
}

void VTraceWrite(const char* component, int types, int level, const char* format, va_list args) {
    TraceState& s = State();
    if (s.options.refreshSeconds != 0 && s.settings) {
        long long now = static_cast<long long>(Os().Time());
        if (now - s.lastSettingsRead >= s.options.refreshSeconds) {
            Locked lock;
            ReadSettings();
        }
    }
    const Options& o = s.options;
    if (!o.tracing || !PassesComponentFilter(component) || !s.scopeEnabled || (types & o.typeMask) == 0 ||
        level > o.level) {
        return;
    }
    Locked lock;
    WritePrefixes(types);
    const char* used = format ? format : "";
    std::string withLineEnd;
    if (!s.lineEnd.empty()) {
        withLineEnd = std::string(used) + s.lineEnd;
        used = withLineEnd.c_str();
    }
    // vsnprintf of some runtimes leaves a cut text unterminated.
    std::vsnprintf(s.line, kLineBufferSize, used, args);
    s.line[kLineBufferSize - 1] = '\0';
    WritePiece(s.line);
    WriteLine();
}

void BuildVersionText(const char* path) {
    TraceState& s = State();
    DWORD handle = 0;
    DWORD size = Os().GetFileVersionInfoSizeA(path, &handle);
    if (size == 0) return;
    std::vector<char> data(size);
    if (!Os().GetFileVersionInfoA(path, handle, size, data.data())) return;
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (!Os().VerQueryValueA(data.data(), "\\", reinterpret_cast<LPVOID*>(&info), &length) || !info ||
        length < sizeof(VS_FIXEDFILEINFO)) {
        return;
    }
    std::snprintf(s.version, kVersionSize, (info->dwFileFlags & 1) ? "%d.%d.%d.%d DEBUG" : "%d.%d.%d.%d",
                  static_cast<int>(HIWORD(info->dwFileVersionMS)), static_cast<int>(LOWORD(info->dwFileVersionMS)),
                  static_cast<int>(HIWORD(info->dwFileVersionLS)), static_cast<int>(LOWORD(info->dwFileVersionLS)));
}

bool FolderExists(const char* folder) {
    DWORD attributes = Os().GetFileAttributesA(folder);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Defined before the program's own globals, so that they can trace while
// they are built and destroyed.
#if defined(_MSC_VER)
#pragma warning(disable : 4073)
#pragma init_seg(lib)
#define CLEARWAY_EARLY_INIT
#elif defined(__GNUC__)
#define CLEARWAY_EARLY_INIT __attribute__((init_priority(101)))
#else
#define CLEARWAY_EARLY_INIT
#endif
TraceScope g_processScope CLEARWAY_EARLY_INIT("", "process");

}  // namespace

void TraceWrite(const char* component, int types, int level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    VTraceWrite(component, types, level, format, args);
    va_end(args);
}

namespace {

const size_t kStampLength = 17;  // "2026-12-11 031200", as the backups are named
const int kLogsKept = 10;

bool IsStamp(const std::string& text) {
    if (text.size() < kStampLength) return false;
    for (size_t i = 0; i < kStampLength; ++i) {
        const char c = text[i];
        const bool digit = c >= '0' && c <= '9';
        if (i == 4 || i == 7 ? c != '-' : i == 10 ? c != ' ' : !digit) return false;
    }
    return true;
}

// Before a log is written afresh, the one there is kept under the date and
// time it was last written; of the logs kept so, the newest nine stay, so
// that with the new one ten logs of a kind are there. The folder is the
// run's own, which nobody else can write to.
void KeepOldLog(const std::string& folder, const std::string& name) {
    platform::Platform& os = Os();
    const std::string path = folder + name + ".log";
    WIN32_FIND_DATAA found = {};
    HANDLE find = os.FindFirstFileA(path.c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return;
    os.FindClose(find);
    // A folder or a link at the name is left to the open, which refuses it.
    if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) return;
    FILETIME local = {};
    SYSTEMTIME written = {};
    if (!os.FileTimeToLocalFileTime(&found.ftLastWriteTime, &local) || !os.FileTimeToSystemTime(&local, &written)) {
        return;
    }
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u%02u%02u", written.wYear, written.wMonth, written.wDay,
                  written.wHour, written.wMinute, written.wSecond);
    for (int copy = 1; copy < 100; ++copy) {
        const std::string kept = folder + name + " " + stamp + (copy > 1 ? " (" + std::to_string(copy) + ")" : "") +
                                 ".log";
        if (os.MoveFileExA(path.c_str(), kept.c_str(), 0)) break;
        if (os.GetLastError() != ERROR_ALREADY_EXISTS && os.GetLastError() != ERROR_FILE_EXISTS) break;
    }
    // The kept ones, oldest first by the stamp in their names.
    std::vector<std::string> keptNames;
    find = os.FindFirstFileA((folder + name + " *.log").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        const std::string file = found.cFileName;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && file.size() > name.size() + 1 &&
            IsStamp(file.substr(name.size() + 1))) {
            keptNames.push_back(file);
        }
    } while (os.FindNextFileA(find, &found));
    os.FindClose(find);
    // A second log of the same second is named "... (2).log": it sorts
    // after the first.
    const auto order = [&name](const std::string& file) {
        const std::string stamp = file.substr(name.size() + 1, kStampLength);
        const size_t open = file.find(" (", name.size() + 1 + kStampLength);
        return std::make_pair(stamp, open == std::string::npos ? 1 : std::atoi(file.c_str() + open + 2));
    };
    std::sort(keptNames.begin(), keptNames.end(),
              [&order](const std::string& a, const std::string& b) { return order(a) < order(b); });
    for (size_t i = 0; i + (kLogsKept - 1) < keptNames.size(); ++i) os.DeleteFileA((folder + keptNames[i]).c_str());
}

}  // namespace

void InitTraceLog(HMODULE module, bool append, const char* folder) {
    TraceState& s = State();
    char path[MAX_PATH + 1] = {};
    DWORD n = Os().GetModuleFileNameA(module, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return;
    BuildVersionText(path);

    std::string full(path, n);
    size_t slash = full.find_last_of("\\/");
    std::string file = slash == std::string::npos ? full : full.substr(slash + 1);
    size_t dot = file.find_last_of('.');
    std::string base = dot == std::string::npos ? file : file.substr(0, dot);

    std::string logFolder;
    bool ownFolder = false;  // the folder asked for, which the caller made the run's own
    if (folder && *folder && FolderExists(folder)) {
        logFolder = std::string(folder) + "\\";
        ownFolder = true;
    } else if (s.log) {
        TraceWrite("", -1, 0, "%s v.%s\n", base.c_str(), s.version);
        return;
    } else {
        logFolder = slash == std::string::npos ? std::string() : full.substr(0, slash + 1);
    }

    std::string name = base + s.nameSuffix + ".log";
    if (name.size() > kPathLimit || logFolder.size() + name.size() > kPathLimit) return;
    std::string logPath = logFolder + name;
    // A log written afresh keeps the earlier ones, unless it is open already.
    // Only in the folder asked for: beside the program nothing is renamed
    // or deleted.
    if (ownFolder && !append && !(s.log && _stricmp(s.logPath.c_str(), logPath.c_str()) == 0)) {
        KeepOldLog(logFolder, base + s.nameSuffix);
    }
    TraceSetOptions(-1, 0, true, false);
    TraceOpenLog(logPath.c_str(), append ? "a+" : "w");
    TraceWrite("", -1, 0, "%s v.%s\n", base.c_str(), s.version);
}

void TraceOpenLog(const char* path, const char* mode) {
    TraceState& s = State();
    Locked lock;
    const char* wanted = path ? path : "";
    if (s.log && _stricmp(s.logPath.c_str(), wanted) == 0) return;
    if (s.log) {
        Os().CloseHandle(s.log);
        s.log = nullptr;
    }
    s.logPath.clear();
    s.logRefusal.clear();
    std::string resolved = ResolveRelative(wanted);
    if (*wanted == '\0' || resolved.size() > kPathLimit) return;
    // Never through a link at its name: the run may be SYSTEM, and the
    // folder may be one that another user could reach into.
    const bool append = mode && mode[0] == 'a';
    const HANDLE f = guard::OpenOwnHandle(Os(), resolved, !append, s.logRefusal);
    if (f == INVALID_HANDLE_VALUE) return;
    if (append) Os().SetFilePointer(f, 0, nullptr, FILE_END);
    s.log = f;
    s.logPath = wanted;
    s.headerWritten = false;
}

platform::Platform& TracePlatform() { return Os(); }

const char* TraceLogRefusal() { return State().logRefusal.c_str(); }

void TraceSetOptions(int types, int level, bool dateTime, bool threadId) {
    Options& o = State().options;
    o.typeMask = types;
    o.level = level < 0 ? 0 : level;
    o.dateTime = dateTime;
    o.threadId = threadId;
}

void TraceLoadSettings(const char* path) {
    TraceState& s = State();
    Locked lock;
    if (s.settings) {
        std::fclose(s.settings);
        s.settings = nullptr;
    }
    if (!path || !*path) return;
    std::string resolved = ResolveRelative(path);
    if (resolved.size() > kPathLimit) return;
    s.settings = Os().OpenSharedStream(resolved.c_str(), "r");
    if (s.settings) ReadSettings();
}

void TraceShutdown() {
    TraceState& s = State();
    if (s.lockReady) Os().EnterCriticalSection(&s.lock);
    if (s.log) {
        Os().CloseHandle(s.log);
        s.log = nullptr;
    }
    s.logPath.clear();
    if (s.settings) {
        std::fclose(s.settings);
        s.settings = nullptr;
    }
    if (s.lockReady) {
        Os().LeaveCriticalSection(&s.lock);
        Os().DeleteCriticalSection(&s.lock);
        s.lockReady = false;
    }
}

void TraceAssert(const char* file, int line, const char* expression) {
    char text[256];
    if (expression) {
        std::snprintf(text, sizeof text, "%s (%d). Assertion Failed: %s\n", file ? file : "", line, expression);
    } else {
        std::snprintf(text, sizeof text, "%s (%d). Assertion Failed.\n", file ? file : "", line);
    }
    text[sizeof text - 1] = '\0';
    TraceWrite(nullptr, 1, 0, "%s", text);
    int answer = Os().MessageBoxA(nullptr, text, "Assertion", MB_SYSTEMMODAL | MB_ICONERROR | MB_ABORTRETRYIGNORE);
    if (answer == IDABORT) {
        Os().ExitProcess(3);
    } else if (answer == IDRETRY) {
        Os().DebugBreak();
    }
}

void TraceSetModule(HMODULE module) { State().relativeModule = module; }
void TraceSetScopeEnabled(bool on) { State().scopeEnabled = on; }
void TraceSetLineEnd(const char* text) { State().lineEnd = text ? text : ""; }

void TraceSetLogNameSuffix(const char* suffix) { State().nameSuffix = suffix ? suffix : ""; }

platform::Platform* TraceSetPlatform(platform::Platform* os) {
    platform::Platform* previous = &Os();
    State().os = os ? os : &platform::ProductionPlatform();
    return previous;
}

const char* TraceLogPath() { return State().logPath.c_str(); }

const char* TraceVersion() { return State().version; }

TraceScope::TraceScope(const char* component, const char* name)
    : component_(component), name_(name ? name : ""), first_(false), savedScope_(true) {
    TraceState& s = State();
    if (s.liveScopes == 0) {
        EnsureLock();
        first_ = true;
        s.liveScopes = 1;
        return;
    }
    ++s.liveScopes;
    TraceWrite(component_, 4, 0, "{ %s", name_);
    s.depth += 3;
    savedScope_ = s.scopeEnabled;
}

TraceScope::~TraceScope() {
    TraceState& s = State();
    if (first_) {
        s.scopeEnabled = false;
        s.liveScopes = 0;
        TraceShutdown();
        return;
    }
    s.scopeEnabled = savedScope_;
    s.depth -= 3;
    --s.liveScopes;
    TraceWrite(component_, 4, 0, "} %s", name_);
}
