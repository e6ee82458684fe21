// Service and process steps of the removal engine, and the service listing
// they share with the entry handlers.
#pragma once
#include <windows.h>

class TSet;
namespace platform { class Platform; }

// Inserts the key name of every driver and Win32 service, in any state, into
// set. scm is a service control manager handle the caller opened.
DWORD EnumServiceNames(platform::Platform& os, SC_HANDLE scm, TSet& set);
