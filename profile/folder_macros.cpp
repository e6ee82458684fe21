#include "profile/folder_macros.h"

#include <shlobj.h>

#include <cstring>

#include "detect/google_plugin.h"
#include "platform/platform.h"
#include "profile/engine.h"
#include "trace/trace.h"

// Rows 3 and 5 name common folders but stand for the user's own ones; that
// is how the product's entries were written, and they rely on it.
const FolderMacro kFolderMacros[21] = {
    {"%ALTSTARTUP%", CSIDL_ALTSTARTUP},
    {"%APPDATA%", CSIDL_APPDATA},
    {"%COMMON_ALTSTARTUP%", CSIDL_ALTSTARTUP},
    {"%COMMON_APPDATA%", CSIDL_COMMON_APPDATA},
    {"%COMMON_DESKTOPDIRECTORY%", CSIDL_DESKTOPDIRECTORY},
    {"%COMMON_FAVORITES%", CSIDL_COMMON_FAVORITES},
    {"%COMMON_PROGRAMS%", CSIDL_COMMON_PROGRAMS},
    {"%COMMON_STARTMENU%", CSIDL_COMMON_STARTMENU},
    {"%COMMON_STARTUP%", CSIDL_COMMON_STARTUP},
    {"%COOKIES%", CSIDL_COOKIES},
    {"%DESKTOPDIRECTORY%", CSIDL_DESKTOPDIRECTORY},
    {"%FAVORITES%", CSIDL_FAVORITES},
    {"%PERSONAL%", CSIDL_PERSONAL},
    {"%PROGRAM_FILES%", CSIDL_PROGRAM_FILES},
    {"%PROGRAMS%", CSIDL_PROGRAMS},
    {"%STARTMENU%", CSIDL_STARTMENU},
    {"%STARTUP%", CSIDL_STARTUP},
    {"%SYSTEM%", CSIDL_SYSTEM},
    {"%WINDOWS%", CSIDL_WINDOWS},
    {"%PROGRAM_FILES_64%", kProgramFiles64Folder},
    {"%GOOGLE_GADGETS%", kGoogleGadgetsFolder},
};

const FolderMacro* FindFolderMacro(const char* entry) {
    if (!entry) return nullptr;
    for (const FolderMacro& row : kFolderMacros) {
        if (std::strstr(entry, row.macro)) return &row;
    }
    return nullptr;
}

void ResolveMacroFolder(CNuke& nuke, int code, bool forContent, char (&folder)[MAX_PATH]) {
    std::memset(folder, 0, sizeof folder);
    const UINT size = static_cast<UINT>(sizeof folder);
    bool found = false;
    if (code == CSIDL_WINDOWS) {
        const UINT n = nuke.os.GetWindowsDirectoryA(folder, size);
        found = n > 0 && n < size;
    } else if (code == CSIDL_SYSTEM && forContent) {
        const UINT n = nuke.os.GetSystemDirectoryA(folder, size);
        found = n > 0 && n < size;
    } else if (code == kGoogleGadgetsFolder) {
        std::string plugins;
        get_google_plugin_dir(nuke.os, plugins);
        if (plugins.size() < sizeof folder) {
            std::memcpy(folder, plugins.c_str(), plugins.size() + 1);
            found = true;
        } else {
            // A cut folder would name some other folder.
            TraceWrite("", -1, 0, "ResolveMacroFolder: plug-in folder '%s' is too long\n", plugins.c_str());
        }
    } else if (code == kProgramFiles64Folder) {
        found = nuke.Get64ProgramFilesPath(folder, size) == ERROR_SUCCESS;
    } else {
        found = nuke.os.SHGetSpecialFolderPathA(nullptr, folder, code, FALSE) != FALSE;
    }
    if (!found) folder[0] = '\0';
    folder[sizeof folder - 1] = '\0';
}

std::string MacroFolder(CNuke& nuke, int code) {
    char folder[MAX_PATH];
    ResolveMacroFolder(nuke, code, false, folder);
    return folder;
}
