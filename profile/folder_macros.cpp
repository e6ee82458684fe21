#include "profile/folder_macros.h"

#include <shlobj.h>

#include <cstring>

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
