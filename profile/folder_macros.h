// Folder macros a FILE_NAME_EXPAND entry begins with, and the folders they
// stand for.
#pragma once
#include <windows.h>

#include <string>

struct FolderMacro {
    const char* macro;  // "%PROGRAM_FILES%"
    int folder;         // a CSIDL code, or one of the special codes below
};

constexpr int kGoogleGadgetsFolder = 0xFFFC;   // get_google_plugin_dir
constexpr int kProgramFiles64Folder = 0xFFFD;  // CNuke::Get64ProgramFilesPath

extern const FolderMacro kFolderMacros[21];

class CNuke;

// Resolves a macro's folder (a code of the table) into a 260-byte buffer;
// the buffer is left empty when the folder cannot be found or does not fit.
// The content handler (forContent) reads the system folder with
// GetSystemDirectoryA.
void ResolveMacroFolder(CNuke& nuke, int code, bool forContent, char (&folder)[MAX_PATH]);

// The folder a macro of the table stands for, as the FILE_NAME_EXPAND entry
// handler resolves it; empty when it cannot be found.
std::string MacroFolder(CNuke& nuke, int code);

// The first macro of the table that occurs anywhere in entry (a case-sensitive
// search), or null.
const FolderMacro* FindFolderMacro(const char* entry);
