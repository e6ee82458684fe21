// Text output of the MSI tool to a standard handle.
#pragma once
#include <windows.h>

#include <string>

namespace platform { class Platform; }

// Writes text to the standard handle `which` (STD_OUTPUT_HANDLE or
// STD_ERROR_HANDLE). On a console it goes through WriteConsoleW. A handle
// redirected to a file or a pipe is no console, and WriteConsoleW writes
// nothing there; the same text then goes through WriteFile as UTF-8: it keeps
// every character of a program path, where the console's code page would
// lose some, and is byte for byte the same as that code page for the plain
// ASCII of the tool's own texts.
void WriteStandardText(platform::Platform& os, DWORD which, const std::wstring& text);

// The text formatted into a buffer of 2000 characters; empty when it does not fit.
std::wstring FormatConsoleText(const wchar_t* format, ...);
