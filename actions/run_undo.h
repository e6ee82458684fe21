// Taking a run back before the restart, as far as Windows still allows: the
// registry from the run's backup (imported by the system's own reg.exe, in
// both views), and the run's deletions at the restart taken out of the
// pending renames. Uninstalled installer packages, ended processes and
// files a restart already deleted cannot come back; the trace says so.
#pragma once
#include <windows.h>

#include <string>

namespace platform { class Platform; }

// What an undo ends with (the program's exit code).
enum UndoResult : DWORD {
    kUndoRestored = 0,                      // everything that could come back did
    kUndoFilesGone = ERROR_NO_MORE_FILES,   // 18: a restart already deleted the files; the registry is back
    kUndoNothing = ERROR_NOT_FOUND,         // 1168: no run that has not been undone
    kUndoRestartNeeded = ERROR_SUCCESS_REBOOT_REQUIRED,  // 3010: services come back at the next start
    kUndoIncomplete = ERROR_INSTALL_FAILURE,             // 1603: a user's registry data could not come back
};

// Takes back the newest run whose backup lies in folder (empty: the trace
// folder) and has not been taken back: its backup and record are renamed
// with ".undone" appended afterwards. Traces every step.
DWORD UndoNewestRun(platform::Platform& os, const std::string& folder = std::string());
