// The MSI tool: uninstalls every installed product of one MSI upgrade code,
// newest first, or hides the Add/Remove Programs entries of all but the
// newest. Two entries end in the same core:
//
//   RunMsiTool   the in-process entry; the command line is one text such as
//                "/uninstall /u:{UPGRADE-CODE}" (at most two words).
//   MsiToolMain  the console entry; writes a banner and, for a bad command
//                line or a help switch, the usage text to standard output.
//
// Both return 160 (ERROR_BAD_ARGUMENTS) for a bad command line, 5
// (ERROR_ACCESS_DENIED) when the rights are tested and the user is no
// administrator, and 0 otherwise: the outcome of the uninstalls or of the
// hiding is not in the result. The in-process entry hands the installer's
// answer for each product to its caller in report (when given), and writes
// each product's verbose installer log into the report's folder.
// skipRightsCheck leaves the administrator test out (the caller has made
// it).
//
// Nothing is caught here: an exception out of the platform's installer calls
// leaves the entry to the caller's own guard.
#pragma once

#include "msitool/product_family.h"

namespace platform { class Platform; }

int RunMsiTool(platform::Platform& os, const wchar_t* commandLine, bool skipRightsCheck,
               MsiToolReport* report = nullptr);
int MsiToolMain(platform::Platform& os, int argumentCount, wchar_t** arguments, bool skipRightsCheck);

// The console entry's texts: the banner (its version's three numbers and a
// suffix) and the usage (the program's file name), as format strings.
extern const wchar_t kMsiToolBanner[];
extern const wchar_t kMsiToolUsage[];
