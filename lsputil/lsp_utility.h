// instvelps_x64: the console front end of the maker's LSP library. It loads
// the library, calls the one function the command line names and prints a
// line when that function reports failure. The exit code is 0 when the
// function succeeded, 1 when it reported failure, 126 (ERROR_MOD_NOT_FOUND)
// when the library cannot be loaded and 87 for a command it does not know.
#pragma once

// The library's file name; it is loaded from the program's own folder only.
extern const char kLspLibraryName[];

// The full path of the library in the folder of the running program, or
// false when that path cannot be made within size characters. Wide text:
// the folder's name may hold characters the ANSI code page cannot.
bool LspLibraryBesideProgram(wchar_t* path, unsigned long size);

// Runs the command line (argv[0] the program) against the library at
// libraryPath; prints through printf and returns the exit code.
int RunLspUtility(int argc, char** argv, const wchar_t* libraryPath);
