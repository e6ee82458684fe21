// The trace log: the one diagnostic channel. Process-wide state, one log
// file, one set of options, one lock.
#pragma once
#include <windows.h>

namespace platform { class Platform; }

// Filters, prefixes and writes one printf-style line. A null component counts
// as the empty name; a null format writes only the prefixes.
void TraceWrite(const char* component, int types, int level, const char* format, ...);

// Opens the program's (or module's) log file in folder and writes the banner.
void InitTraceLog(HMODULE module, bool append, const char* folder);

// Opens path with mode ("w", "a+"), replacing the open log file unless it is
// that very path. A link at the name is never written through.
void TraceOpenLog(const char* path, const char* mode);

// Why the log file last asked for was refused (a link, a hard link, a file
// that is not the one named), empty when it opened or was never asked for.
const char* TraceLogRefusal();

void TraceSetOptions(int types, int level, bool dateTime, bool threadId);

// Closes the open settings file, opens path and reads the settings from it.
void TraceLoadSettings(const char* path);

// Flushes and closes the log file, closes the settings file, deletes the lock.
void TraceShutdown();

// Traces a failed assertion and asks Abort / Retry / Ignore.
void TraceAssert(const char* file, int line, const char* expression);

void TraceSetModule(HMODULE module);
void TraceSetScopeEnabled(bool on);
void TraceSetLineEnd(const char* text);

// The platform the trace log reaches Windows through (the production one
// unless a test replaces it). Returns the previous one.
platform::Platform* TraceSetPlatform(platform::Platform* platform);
platform::Platform& TracePlatform();

// Text added to the program's base name in the name of the log that
// InitTraceLog opens ("Clearway preview.log" with " preview").
void TraceSetLogNameSuffix(const char* suffix);

// The path of the open log file, empty when none is open.
const char* TraceLogPath();

// The program's version as the log's first line gives it ("1.0.1.0"), read
// when a log is opened; "NO_VERSION" before.
const char* TraceVersion();

// A nested scope: writes "{ name" and indents by 3 until its end, which writes
// "} name". The process-wide scope, created before the program's own code,
// writes nothing and shuts the trace log down at process end.
class TraceScope {
public:
    TraceScope(const char* component, const char* name);
    ~TraceScope();
    TraceScope(const TraceScope&) = delete;
    TraceScope& operator=(const TraceScope&) = delete;

private:
    const char* component_;
    const char* name_;
    bool first_;
    bool savedScope_;
};

