// Services and processes the guard keeps whatever a pattern says.
#pragma once
#include <string>

namespace guard {

// Why a service or process name pattern may not be used, or empty: it has a
// wildcard with fewer than three literal characters before it, so it could
// reach the system's own services or processes.
std::string RefusesNamePattern(const char* pattern);

// The processes Windows cannot run without (System, smss.exe, csrss.exe,
// wininit.exe, winlogon.exe, services.exe, lsass.exe, svchost.exe, ...);
// ending one stops the machine. Letters compared without case.
bool IsSystemProcess(const char* imageName);

// The services the run itself needs (Windows Installer, WMI, RPC and the
// firewall it restores). Letters compared without case.
bool IsNeededService(const char* serviceName);

}  // namespace guard
