// File removal: every path of expandedFileList is handed to the pending-rename
// table, so it disappears at the next restart, deepest paths first. Also the
// two access-control operations of the engine: DropFileAcl opens a file or
// folder to everybody, GrantRegKeyAccess gives the current user full control
// of a registry key.
#include "actions/file_removal.h"

#include <mbstring.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "platform/handles.h"
#include "platform/platform.h"
#include "profile/engine.h"
#include "profile/entry_text.h"
#include "profile/folder_macros.h"
#include "trace/trace.h"

namespace {

using Byte = unsigned char;

std::vector<char> MutableCopy(const char* text) {
    if (!text) text = "";
    return std::vector<char>(text, text + std::strlen(text) + 1);
}

std::string Normalised(const char* text) {
    std::vector<char> copy = MutableCopy(text);
    NormalizeEntry(copy.data());
    return copy.data();
}

// The folder part of a normalised path (before its last backslash), empty
// when it has none. Multibyte aware: a trail byte 0x5C is no separator.
std::string ParentOf(const std::string& path) {
    const Byte* base = reinterpret_cast<const Byte*>(path.c_str());
    const Byte* last = _mbsrchr(base, '\\');
    return last ? path.substr(0, static_cast<size_t>(last - base)) : std::string();
}

// True when an element of ignoreFileList occurs in entry (the containment
// test ExcludeIgnoreList applies later).
bool IsIgnored(TSet& ignoreFileList, const char* entry) {
    const char* ignore = nullptr;
    for (DWORD rc = ignoreFileList.GetFirst(ignore); rc == ERROR_SUCCESS; rc = ignoreFileList.GetNext(ignore)) {
        if (_mbsstr(reinterpret_cast<const Byte*>(entry), reinterpret_cast<const Byte*>(ignore))) return true;
    }
    return false;
}

// True when an element of ignoreFileList lies inside the folder entry. A
// folder's new DACL is inheritable, and Windows hands it down to every
// existing child that inherits: the kept folder would be opened to everybody.
bool HoldsIgnored(TSet& ignoreFileList, const char* entry) {
    const size_t length = std::strlen(entry);
    const char* ignore = nullptr;
    for (DWORD rc = ignoreFileList.GetFirst(ignore); rc == ERROR_SUCCESS; rc = ignoreFileList.GetNext(ignore)) {
        if (std::strncmp(ignore, entry, length) == 0 && ignore[length] == '\\') return true;
    }
    return false;
}

// One entry of ExpandRemoveFileEntry, already normalised; the protected
// folders are gathered once per configured entry.
// A subfolder comes with the attributes its folder listing just reported.
DWORD ExpandEntry(CNuke& nuke, const ProtectedFolders& folders, const char* entry,
                  DWORD listedAttributes = INVALID_FILE_ATTRIBUTES) {
    platform::Platform& os = nuke.os;
    if (folders.Refuses(entry)) {
        TraceWrite("", -1, 0, "ExpandRemoveFileEntry: refusing to remove '%s'\n", entry);
        return ERROR_ACCESS_DENIED;
    }
    const DWORD attributes =
        listedAttributes != INVALID_FILE_ATTRIBUTES ? listedAttributes : os.GetFileAttributesA(entry);
    if (attributes == INVALID_FILE_ATTRIBUTES) return os.GetLastError();

    // A link (symbolic link, junction, mount point) is removed itself. Its
    // target may lie anywhere, so the link is neither followed nor given a
    // new ACL (setting one through the link would change the target's).
    const bool link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    // Entries the ignore list keeps stay as they are, permissions included,
    // and so do the folders that hold them.
    if (!link && !IsIgnored(nuke.ignoreFileList, entry) && !HoldsIgnored(nuke.ignoreFileList, entry)) {
        nuke.DropFileAcl(entry);
    }
    DWORD rc = nuke.expandedFileList.Insert(entry);
    if (rc != ERROR_SUCCESS) return rc;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || link) return ERROR_SUCCESS;

    std::string pattern;
    JoinPath(pattern, {entry, "*"});
    WIN32_FIND_DATAA data;
    platform::FindHandle find(os.FindFirstFileA(pattern.c_str(), &data));
    if (!find) return ERROR_SUCCESS;
    do {
        if (std::strcmp(data.cFileName, ".") == 0 || std::strcmp(data.cFileName, "..") == 0) continue;
        UpperCaseText(data.cFileName);
        std::string child;
        JoinPath(child, {entry, data.cFileName});
        const bool directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        const bool childLink = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        if (directory && !childLink) {
            // A subfolder that vanished or is refused does not end the walk.
            ExpandEntry(nuke, folders, child.c_str(), data.dwFileAttributes);
        } else {
            rc = nuke.expandedFileList.Insert(child.c_str());
            if (rc != ERROR_SUCCESS) return rc;
        }
    } while (os.FindNextFileA(find.get(), &data));
    return ERROR_SUCCESS;
}

// Room for one ACCESS_ALLOWED_ACE with a SID of sidLength bytes: the header
// and mask (8 bytes) and the SID in place of SidStart.
DWORD AllowedAceSize(DWORD sidLength) {
    return static_cast<DWORD>(sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD)) + sidLength;
}

// Appends one allow entry for sid.
BOOL AddAllowedAce(platform::Platform& os, PACL acl, BYTE flags, DWORD mask, PSID sid, DWORD sidLength) {
    const DWORD size = AllowedAceSize(sidLength);
    std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[size]());
    if (!buffer) {
        os.SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(buffer.get());
    ace->Header.AceType = ACCESS_ALLOWED_ACE_TYPE;
    ace->Header.AceFlags = flags;
    ace->Header.AceSize = static_cast<WORD>(size);
    ace->Mask = mask;
    std::memcpy(&ace->SidStart, sid, sidLength);
    return os.AddAce(acl, ACL_REVISION, MAXDWORD, ace, size);
}

}  // namespace

// ---- helpers ----

DWORD GetAccountSid(platform::Platform& os, const char* accountName, std::unique_ptr<BYTE[]>& sid) {
    sid.reset();
    DWORD sidSize = 0;
    DWORD domainSize = 0;
    SID_NAME_USE use = SidTypeUnknown;
    if (os.LookupAccountNameA(nullptr, accountName, nullptr, &sidSize, nullptr, &domainSize, &use)) {
        // A size query that succeeds gives no SID to work with.
        DWORD code = os.GetLastError();
        return code != ERROR_SUCCESS ? code : ERROR_INVALID_SID;
    }
    DWORD code = os.GetLastError();
    if (code != ERROR_INSUFFICIENT_BUFFER) return code;

    std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[sidSize ? sidSize : 1]());
    std::unique_ptr<char[]> domain(new (std::nothrow) char[domainSize ? domainSize : 1]());
    if (!buffer || !domain) return ERROR_NOT_ENOUGH_MEMORY;
    if (!os.LookupAccountNameA(nullptr, accountName, buffer.get(), &sidSize, domain.get(), &domainSize, &use)) {
        code = os.GetLastError();
        return code != ERROR_SUCCESS ? code : ERROR_INVALID_SID;
    }
    sid = std::move(buffer);
    return ERROR_SUCCESS;
}

DWORD BuildRegObjectName(HKEY root, const char* subkeyPath, std::string& name) {
    const char* rootName = nullptr;
    if (root == HKEY_CLASSES_ROOT) {
        rootName = "CLASSES_ROOT";
    } else if (root == HKEY_CURRENT_USER) {
        rootName = "CURRENT_USER";
    } else if (root == HKEY_LOCAL_MACHINE) {
        rootName = "MACHINE";
    } else if (root == HKEY_USERS) {
        rootName = "USERS";
    } else {
        return ERROR_FILE_NOT_FOUND;
    }
    std::vector<char> buffer(8192);
    std::snprintf(buffer.data(), buffer.size(), "%s\\%s", rootName, subkeyPath ? subkeyPath : "");
    name = buffer.data();
    return ERROR_SUCCESS;
}

DWORD BuildAclWithUserAccess(platform::Platform& os, PACL dacl, PSID userSid, DWORD mask,
                             std::unique_ptr<BYTE[]>& newAcl) {
    newAcl.reset();
    ACL_SIZE_INFORMATION info = {};
    if (dacl) {
        if (!os.GetAclInformation(dacl, &info, sizeof info, AclSizeInformation)) return os.GetLastError();
        // The user's own allow and deny entries go; the index stays on the
        // entry that moved up after a deletion.
        for (DWORD i = 0; i < info.AceCount;) {
            LPVOID ace = nullptr;
            if (!os.GetAce(dacl, i, &ace)) return os.GetLastError();
            const auto* header = static_cast<const ACE_HEADER*>(ace);
            if ((header->AceType == ACCESS_ALLOWED_ACE_TYPE || header->AceType == ACCESS_DENIED_ACE_TYPE) &&
                os.EqualSid(&static_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart, userSid)) {
                if (!os.DeleteAce(dacl, i)) return os.GetLastError();
                --info.AceCount;
                continue;
            }
            ++i;
        }
        if (!os.GetAclInformation(dacl, &info, sizeof info, AclSizeInformation)) return os.GetLastError();
    }

    const DWORD sidLength = os.GetLengthSid(userSid);
    const DWORD used = dacl ? info.AclBytesInUse : static_cast<DWORD>(sizeof(ACL));
    const DWORD size = used + 2 * AllowedAceSize(sidLength);
    std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[size]());
    if (!buffer) return ERROR_NOT_ENOUGH_MEMORY;
    PACL acl = reinterpret_cast<PACL>(buffer.get());
    if (!os.InitializeAcl(acl, size, ACL_REVISION)) return os.GetLastError();

    // The new entries go after the explicit deny entries: before the first
    // entry that is inherited or an allow entry (MAXDWORD: at the end).
    DWORD insertAt = MAXDWORD;
    for (DWORD i = 0; i < info.AceCount && insertAt == MAXDWORD; ++i) {
        LPVOID ace = nullptr;
        if (!os.GetAce(dacl, i, &ace)) return os.GetLastError();
        const auto* header = static_cast<const ACE_HEADER*>(ace);
        if ((header->AceFlags & INHERITED_ACE) != 0 || header->AceType == ACCESS_ALLOWED_ACE_TYPE) insertAt = i;
    }
    // Every entry is appended in its final order, so the result does not
    // depend on how AddAce treats a starting index.
    for (DWORD i = 0; i <= info.AceCount; ++i) {
        if (i == insertAt || (i == info.AceCount && insertAt == MAXDWORD)) {
            if (!AddAllowedAce(os, acl, 0, mask, userSid, sidLength)) return os.GetLastError();
            if (!AddAllowedAce(os, acl, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE | INHERIT_ONLY_ACE, mask, userSid,
                               sidLength)) {
                return os.GetLastError();
            }
        }
        if (i == info.AceCount) break;
        LPVOID ace = nullptr;
        if (!os.GetAce(dacl, i, &ace)) return os.GetLastError();
        const auto* header = static_cast<const ACE_HEADER*>(ace);
        if (!os.AddAce(acl, ACL_REVISION, MAXDWORD, ace, header->AceSize)) return os.GetLastError();
    }
    newAcl = std::move(buffer);
    return ERROR_SUCCESS;
}

std::string CanonicalPath(platform::Platform& os, const char* path) {
    const std::string text = Normalised(path);
    std::string prefix;
    size_t start = 0;
    const bool drive = text.size() >= 2 && text[1] == ':' && static_cast<Byte>(text[0]) < 0x80;
    if (drive) {
        prefix = text.substr(0, 2);
        start = 2;
    }
    const bool rooted = drive || (!text.empty() && text[0] == '\\');
    const bool unc = !drive && text.compare(0, 2, "\\\\") == 0;

    std::vector<std::string> names;
    std::string name;
    auto take = [&names](std::string& n) {
        if (n == "..") {
            if (!names.empty()) names.pop_back();
        } else if (n != ".") {
            // Windows drops trailing dots and blanks of a name. Neither byte
            // can be the trail byte of a double-byte character.
            while (!n.empty() && (n.back() == '.' || n.back() == ' ')) n.pop_back();
            if (!n.empty()) names.push_back(n);
        }
        n.clear();
    };
    const Byte* p = reinterpret_cast<const Byte*>(text.c_str()) + start;
    while (*p) {
        if (_ismbblead(*p) && p[1]) {
            name += static_cast<char>(p[0]);
            name += static_cast<char>(p[1]);
            p += 2;
        } else if (*p == '\\') {
            take(name);
            ++p;
        } else {
            name += static_cast<char>(*p++);
        }
    }
    take(name);

    std::string canonical = prefix + (unc ? "\\" : "");
    for (size_t i = 0; i < names.size(); ++i) {
        if (i > 0 || rooted) canonical += '\\';
        canonical += names[i];
    }
    if (canonical.empty() && rooted) canonical = "\\";

    // Short names name the same folder as their long ones.
    if (canonical.find('~') != std::string::npos) {
        char longPath[1024] = {};
        const DWORD n = os.GetLongPathNameA(canonical.c_str(), longPath, sizeof longPath);
        if (n > 0 && n < sizeof longPath) canonical = CanonicalPath(os, longPath);
    }
    return canonical;
}

namespace {

const char kProfileList[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

// A text value of an open key with its environment variables expanded; empty
// when it is missing, not text or too long.
std::string ExpandedValue(platform::Platform& os, HKEY key, const char* name) {
    char data[1024] = {};
    DWORD type = 0;
    DWORD size = sizeof data - 1;
    if (os.RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(data), &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ)) {
        return std::string();
    }
    data[size < sizeof data ? size : sizeof data - 1] = '\0';
    char expanded[1024] = {};
    const DWORD n = os.ExpandEnvironmentStringsA(data, expanded, sizeof expanded);
    return n > 0 && n <= sizeof expanded ? std::string(expanded) : std::string();
}

}  // namespace

ProtectedFolders::ProtectedFolders(CNuke& nuke) : os_(nuke.os) {
    platform::Platform& os = nuke.os;
    char buffer[MAX_PATH + 1] = {};

    UINT length = os.GetWindowsDirectoryA(buffer, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
        std::string windows = buffer;
        Add(windows);
        // Both system folders of 64-bit Windows, whatever view this process has.
        std::string system;
        for (const char* name : {"SYSTEM32", "SYSWOW64", "SYSNATIVE"}) {
            JoinPath(system, {windows.c_str(), name});
            Add(system);
        }
        // The compatibility name of the profiles folder on the Windows drive.
        if (windows.size() >= 2 && windows[1] == ':') Add(windows.substr(0, 2) + "\\Documents and Settings");
    }
    length = os.GetSystemDirectoryA(buffer, MAX_PATH);
    if (length > 0 && length < MAX_PATH) Add(buffer);

    for (int folder : {CSIDL_WINDOWS, CSIDL_SYSTEM, CSIDL_SYSTEMX86, CSIDL_PROGRAM_FILES, CSIDL_PROGRAM_FILESX86}) {
        buffer[0] = '\0';
        if (os.SHGetSpecialFolderPathA(nullptr, buffer, folder, FALSE)) Add(buffer);
    }
    // The 64-bit Program Files folder, which a 32-bit process finds only here.
    for (const char* variable : {"ProgramW6432", "ProgramFiles", "ProgramFiles(x86)"}) {
        DWORD n = os.GetEnvironmentVariableA(variable, buffer, MAX_PATH);
        if (n > 0 && n < MAX_PATH) Add(buffer);
    }

    // The profiles folder and every profile folder, as Windows records them
    // (one registry key for both views). The current profile's parent is
    // only the fallback: under the system account it is a system folder.
    platform::RegKey profileList;
    if (os.RegOpenKeyExA(HKEY_LOCAL_MACHINE, kProfileList, 0, KEY_READ | KEY_WOW64_64KEY, profileList.put()) ==
        ERROR_SUCCESS) {
        const std::string directory = ExpandedValue(os, profileList.get(), "ProfilesDirectory");
        if (!directory.empty()) profilesFolder_ = CanonicalPath(os, directory.c_str());
        char sid[256];
        for (DWORD index = 0; os.RegEnumKeyA(profileList.get(), index, sid, sizeof sid) == ERROR_SUCCESS; ++index) {
            platform::RegKey profile;
            if (os.RegOpenKeyExA(profileList.get(), sid, 0, KEY_READ | KEY_WOW64_64KEY, profile.put()) !=
                ERROR_SUCCESS) {
                continue;
            }
            const std::string image = ExpandedValue(os, profile.get(), "ProfileImagePath");
            if (!image.empty()) profiles_.push_back(CanonicalPath(os, image.c_str()));
        }
    }
    std::string current;
    buffer[0] = '\0';
    if (!os.SHGetSpecialFolderPathA(nullptr, buffer, CSIDL_PROFILE, FALSE) || buffer[0] == '\0') {
        DWORD n = os.GetEnvironmentVariableA("USERPROFILE", buffer, MAX_PATH);
        if (n == 0 || n >= MAX_PATH) buffer[0] = '\0';
    }
    if (buffer[0] != '\0') {
        current = CanonicalPath(os, buffer);
        profiles_.push_back(current);
        if (profilesFolder_.empty()) profilesFolder_ = ParentOf(current);
    }
    if (!profilesFolder_.empty()) folders_.push_back(profilesFolder_);

    // Every folder a folder macro names, itself: an entry of the macro alone
    // would take every program's data. A per-user folder is taken in every
    // profile by the handler, so it is refused in every profile.
    for (const FolderMacro& macro : kFolderMacros) {
        const std::string folder = MacroFolder(nuke, macro.folder);
        if (folder.empty()) continue;
        const std::string canonical = CanonicalPath(os, folder.c_str());
        if (canonical.empty()) continue;
        folders_.push_back(canonical);
        if (!current.empty() && canonical.size() > current.size() &&
            canonical.compare(0, current.size(), current) == 0 && canonical[current.size()] == '\\') {
            perUser_.push_back(canonical.substr(current.size()));
        }
    }
}

void ProtectedFolders::Add(const std::string& path) {
    std::string folder = CanonicalPath(os_, path.c_str());
    if (!folder.empty()) folders_.push_back(folder);
}

bool ProtectedFolders::IsProfileFolder(const std::string& text) const {
    for (const std::string& profile : profiles_) {
        if (text == profile) return true;
    }
    // Any direct child of the profiles folder.
    return !profilesFolder_.empty() && ParentOf(text) == profilesFolder_;
}

bool ProtectedFolders::Refuses(const char* path) const {
    const std::string text = CanonicalPath(os_, path);
    // A drive root ("C:", "C:\") or the root of the current drive ("\").
    if (text.empty() || text == "\\" || (text.size() == 2 && text[1] == ':')) return true;
    for (const std::string& folder : folders_) {
        if (text == folder) return true;
    }
    if (IsProfileFolder(text)) return true;
    // A per-user macro folder in any profile.
    for (const std::string& tail : perUser_) {
        if (text.size() > tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0 &&
            IsProfileFolder(text.substr(0, text.size() - tail.size()))) {
            return true;
        }
    }
    return false;
}

// ---- engine steps ----

DWORD CNuke::CleanupFiles() {
    const ProtectedFolders folders(*this);
    DWORD counter = 0;
    const char* element = nullptr;
    for (DWORD rc = expandedFileList.GetLast(element); rc == ERROR_SUCCESS;
         rc = expandedFileList.GetPrevious(element), ++counter) {
        if (counter % 20 == 0 && IsCancelled()) {
            TraceWrite("", -1, 0, "CleanupFiles deleted '%d' values until uninstallation was cancelled by user\n",
                       static_cast<int>(counter));
            return ERROR_CANCELLED;
        }
        if (folders.Refuses(element)) {
            TraceWrite("", -1, 0, "CleanupFiles: refusing to remove '%s'\n", element);
            continue;
        }
        ScheduleFileRemoval(element);
    }
    TraceWrite("", -1, 0, "CleanupFiles was successful with '%d' deleted values\n", static_cast<int>(counter));
    return ERROR_SUCCESS;
}

void CNuke::ScheduleFileRemoval(const char* path) {
    // A read-only file could not be deleted at the restart; every other
    // attribute is kept. A path that is gone is still scheduled.
    const DWORD attributes = os.GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES) os.SetFileAttributesA(path, attributes & ~FILE_ATTRIBUTE_READONLY);

    if (os.MoveFileExA(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
        TraceWrite("", -1, 0, "MoveFileEx for '%s' was successful\n", path);
        return;
    }
    TraceWrite("", -1, 0, "MoveFileEx for '%s' FAILED. Trying again with DropFileAcl...\n", path);
    if (DropFileAcl(path) == 0) {
        TraceWrite("", -1, 0, "DropFileAcl for '%s' FAILED\n", path);
        return;
    }
    TraceWrite("", -1, 0, "DropFileAcl for '%s' was successful, trying again MoveFileEx...\n", path);
    if (os.MoveFileExA(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
        TraceWrite("", -1, 0, "MoveFileEx (2nd try) for '%s' was successful\n", path);
    } else {
        TraceWrite("", -1, 0, "MoveFileEx (2nd try) for '%s' FAILED\n", path);
    }
}

int CNuke::DropFileAcl(const char* path) {
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    platform::AllocatedSid everyone;
    if (!os.AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, everyone.put())) return 0;

    EXPLICIT_ACCESS_W entry = {};
    os.BuildTrusteeWithSidW(&entry.Trustee, everyone.get());
    entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    entry.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
    entry.grfAccessPermissions = GENERIC_ALL;
    entry.grfAccessMode = SET_ACCESS;
    entry.grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;

    // Built from nothing: Everyone is the only entry of the new DACL.
    PACL acl = nullptr;
    const DWORD rc = os.SetEntriesInAclW(1, &entry, nullptr, &acl);
    platform::LocalMemory aclMemory(acl);
    if (rc != ERROR_SUCCESS) {
        TraceWrite("", -1, 0, "DropFileAcl: SetEntriesInAclW failed as %d\n", static_cast<int>(rc));
        return 0;
    }
    std::vector<char> name = MutableCopy(path);
    // Protected: inherited entries are dropped and no longer flow in.
    return os.SetNamedSecurityInfoA(name.data(), SE_FILE_OBJECT,
                                    DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                                    nullptr, acl, nullptr) == ERROR_SUCCESS
               ? 1
               : 0;
}

DWORD CNuke::ExpandRemoveFileEntry(char* entry) {
    NormalizeEntry(entry);
    const ProtectedFolders folders(*this);
    // The tree is listed under the entry's canonical name, so "." and ".."
    // segments or short names cannot hide a path from the ignore list.
    const std::string canonical = CanonicalPath(os, entry ? entry : "");
    return ExpandEntry(*this, folders, canonical.c_str());
}

DWORD CNuke::GrantRegKeyAccess(HKEY root, const char* subkeyPath, REGSAM view) {
    std::vector<char> user(4096);
    DWORD size = static_cast<DWORD>(user.size());
    if (os.GetUserNameA(user.data(), &size) != 1) return 1;

    std::unique_ptr<BYTE[]> userSid;
    DWORD rc = GetAccountSid(os, user.data(), userSid);
    if (rc != ERROR_SUCCESS) return rc;

    std::string objectName;
    rc = BuildRegObjectName(root, subkeyPath, objectName);
    if (rc != ERROR_SUCCESS) return rc;

    // A named registry object of a 32-bit program is in the 32-bit view on
    // 64-bit Windows; the 64-bit view has an object type of its own.
    const SE_OBJECT_TYPE type =
        (view & KEY_WOW64_64KEY) && Is64BitWindows() ? kRegistryWow64_64Key : SE_REGISTRY_KEY;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    rc = os.GetNamedSecurityInfoA(objectName.c_str(), type, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                  &dacl, nullptr, &descriptor);
    platform::LocalMemory descriptorMemory(descriptor);  // dacl points into it
    if (rc != ERROR_SUCCESS) return rc;

    std::unique_ptr<BYTE[]> newAcl;
    rc = BuildAclWithUserAccess(os, dacl, userSid.get(), GENERIC_ALL, newAcl);
    if (rc != ERROR_SUCCESS) return rc;

    std::vector<char> name = MutableCopy(objectName.c_str());
    PACL acl = reinterpret_cast<PACL>(newAcl.get());
    const SECURITY_INFORMATION daclInfo = DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION;
    rc = os.SetNamedSecurityInfoA(name.data(), type, daclInfo, nullptr, nullptr, acl, nullptr);
    if (rc == ERROR_ACCESS_DENIED) {
        // Not allowed to change the DACL: take ownership, then try again.
        rc = os.SetNamedSecurityInfoA(name.data(), type, OWNER_SECURITY_INFORMATION, userSid.get(),
                                      nullptr, nullptr, nullptr);
        if (rc == ERROR_SUCCESS) {
            rc = os.SetNamedSecurityInfoA(name.data(), type, daclInfo, nullptr, nullptr, acl, nullptr);
        }
    }
    return rc;
}
