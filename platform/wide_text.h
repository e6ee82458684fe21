// Text between the ANSI code page and UTF-16, through the platform's
// conversions: the program's lists and log are ANSI, the installer, the
// registry backup and paths outside the code page are wide.
#pragma once
#include <string>

namespace platform {

class Platform;

// The text in UTF-16; empty for empty text or a failed conversion.
std::wstring WideText(Platform& os, const std::string& text);
// The text in the ANSI code page (characters it cannot hold become '?').
std::string NarrowText(Platform& os, const std::wstring& text);
// Upper case, letter by letter, for comparing names as Windows does.
std::wstring UpperWide(std::wstring text);

}  // namespace platform
