// Helpers of the access control (access_control.cpp): the security object
// name of a registry key and the DACL that gives one account full control.
// The engine's DropFileAcl and GrantRegKeyAccess are declared in
// profile/engine.h.
#pragma once
#include <windows.h>
#include <aclapi.h>

#include <memory>
#include <string>

namespace platform { class Platform; }


// "CLASSES_ROOT\path", "CURRENT_USER\path", "MACHINE\path" or "USERS\path"
// for the four predefined roots; 2 (and name untouched) for any other root.
DWORD BuildRegObjectName(HKEY root, const char* subkeyPath, std::string& name);

// Removes the user's own allow and deny entries from dacl (in place), then
// builds in newAcl a copy of the remaining entries with one allow entry for
// the user (mask, for the object itself: never inherited) placed after the
// explicit deny entries. dacl may be null. 0, or the failing call's
// last-error code.
DWORD BuildAclWithUserAccess(platform::Platform& os, PACL dacl, PSID userSid, DWORD mask,
                             std::unique_ptr<BYTE[]>& newAcl);
