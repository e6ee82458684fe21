// Helpers of the file removal and of the registry access grant: the account
// SID lookup, the security object name of a registry key, the DACL that gives
// one user full control, and the folders no removal may ever touch.
#pragma once
#include <windows.h>
#include <aclapi.h>

#include <memory>
#include <string>
#include <vector>

class CNuke;
namespace platform { class Platform; }

// The SID of an account name (LookupAccountNameA twice). 0 with the SID in
// sid; 8 when a buffer cannot be allocated; else the lookup's error code.
DWORD GetAccountSid(platform::Platform& os, const char* accountName, std::unique_ptr<BYTE[]>& sid);

// The security object type of a key in the 64-bit registry view
// (SE_REGISTRY_WOW64_64KEY of the newer SDK headers, which MinGW lacks).
constexpr SE_OBJECT_TYPE kRegistryWow64_64Key = static_cast<SE_OBJECT_TYPE>(12);

// "CLASSES_ROOT\path", "CURRENT_USER\path", "MACHINE\path" or "USERS\path"
// for the four predefined roots; 2 (and name untouched) for any other root.
DWORD BuildRegObjectName(HKEY root, const char* subkeyPath, std::string& name);

// Removes the user's own allow and deny entries from dacl (in place), then
// builds in newAcl a copy of the remaining entries with two allow entries for
// the user (mask; the second one inherit-only for subkeys and values) placed
// after the explicit deny entries. dacl may be null. 0, or the failing call's
// last-error code.
DWORD BuildAclWithUserAccess(platform::Platform& os, PACL dacl, PSID userSid, DWORD mask,
                             std::unique_ptr<BYTE[]>& newAcl);

// The folders whose removal would wreck Windows or the users' data: drive
// roots, the Windows folder and its system folders, the Program Files
// folders, the folder that holds the user profiles and every profile folder
// itself, and every folder a folder macro of the configuration names (in
// each profile, for the per-user ones). Gathered once; a path below one of
// them is not refused. Paths are compared in their canonical form.
class ProtectedFolders {
public:
    explicit ProtectedFolders(CNuke& nuke);
    // True when path (any case, with or without a trailing separator, with
    // "." or ".." segments, doubled separators or short names) is one of the
    // protected folders.
    bool Refuses(const char* path) const;

private:
    void Add(const std::string& path);
    bool IsProfileFolder(const std::string& canonical) const;
    platform::Platform& os_;
    std::vector<std::string> folders_;   // canonical
    std::vector<std::string> profiles_;  // canonical profile folders
    std::vector<std::string> perUser_;   // a per-user folder below a profile: its tail (\APPDATA\ROAMING)
    std::string profilesFolder_;         // canonical; empty when unknown
};

// The canonical form of a path: normalised (upper case, backslashes), "."
// and ".." segments and doubled separators resolved as Windows resolves
// them, trailing dots and blanks of a name dropped, and short (8.3) names
// expanded where the path exists.
std::string CanonicalPath(platform::Platform& os, const char* path);
