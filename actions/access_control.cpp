// Access control of the removal: DropFileAcl gives SYSTEM and Administrators
// alone full control of a file or folder before it is scheduled, and
// GrantRegKeyAccess gives Administrators full control of one registry key
// that refused its deletion. Neither touches what is kept, a link, or what
// holds a kept item.
#include "actions/access_control.h"

#include <mbstring.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "guard/key_guard.h"
#include "guard/own_files.h"
#include "guard/path_guard.h"
#include "guard/tree_guard.h"
#include "platform/handles.h"
#include "platform/platform.h"
#include "platform/privileges.h"
#include "platform/registry_names.h"
#include "profile/engine.h"
#include "profile/entry_text.h"
#include "trace/trace.h"

namespace {

using Byte = unsigned char;

std::vector<char> MutableCopy(const char* text) {
    if (!text) text = "";
    return std::vector<char>(text, text + std::strlen(text) + 1);
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
    const DWORD size = used + AllowedAceSize(sidLength);
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
            // This key only, never inherited: a subkey the run does not
            // delete keeps its permissions, and one it deletes gets a grant
            // of its own when it refuses.
            if (!AddAllowedAce(os, acl, 0, mask, userSid, sidLength)) return os.GetLastError();
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

namespace {

// Why the permissions of path must stay as they are, or empty: it is a link
// (SetNamedSecurityInfoA would open its target), it is kept by the ignore
// list, or it holds something that is.
std::string KeepsPermissions(CNuke& nuke, const char* path) {
    const std::string upper = guard::UpperText(path);
    if (nuke.keptPermissions.count(upper)) return "it is a link, is ignored or holds an ignored item";
    const std::string real = guard::Unredirected(nuke.os, path);
    const DWORD attributes = nuke.os.GetFileAttributesA(real.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return "it is a link";
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY) &&
        guard::HasOtherNames(nuke.os, real)) {
        return "it has other names (hard links) that share its permissions";
    }
    if (nuke.IsIgnored(nuke.ignoreFileList, path)) return "it is ignored";
    const char* ignore = nullptr;
    for (DWORD rc = nuke.ignoreFileList.GetFirst(ignore); rc == ERROR_SUCCESS; rc = nuke.ignoreFileList.GetNext(ignore)) {
        if (guard::IsInside(guard::UpperText(ignore), upper)) return "it holds an ignored item";
    }
    return std::string();
}

}  // namespace

int CNuke::DropFileAcl(const char* path) {
    const std::string keep = KeepsPermissions(*this, path ? path : "");
    if (!keep.empty()) {
        TraceWrite("", -1, 0, "DropFileAcl: leaving the permissions of '%s' as they are: %s\n", path, keep.c_str());
        return 0;
    }
    // Built from nothing: SYSTEM and Administrators get full control, and
    // nobody else anything. That is all this run and the deletions at the
    // restart need; a wider list would let any user plant files or links
    // in a folder until the restart.
    platform::LocalMemory aclMemory(os);
    bool sidsFailed = false;
    const DWORD rc = guard::BuildOwnAcl(os, guard::OwnAccess::AdminsOnly, aclMemory, &sidsFailed);
    if (rc != ERROR_SUCCESS) {
        if (!sidsFailed) TraceWrite("", -1, 0, "DropFileAcl: SetEntriesInAclW failed as %d\n", static_cast<int>(rc));
        return 0;
    }
    PACL acl = static_cast<PACL>(aclMemory.get());
    // Owned by Administrators too: an owner may always change the list
    // again, and whoever owned the folder could reopen it until the restart.
    platform::AllocatedSid administrators(os);
    if (!guard::MakeAdministratorsSid(os, administrators)) return 0;
    std::vector<char> name = MutableCopy(guard::Unredirected(os, path).c_str());
    // Protected: inherited entries are dropped and no longer flow in.
    return os.SetNamedSecurityInfoA(name.data(), SE_FILE_OBJECT,
                                    OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                        PROTECTED_DACL_SECURITY_INFORMATION,
                                    administrators.get(), nullptr, acl, nullptr) == ERROR_SUCCESS
               ? 1
               : 0;
}

namespace {


// Why a key's permissions must stay as they are, or empty: it is a key of
// the system, it is ignored, or it holds an ignored key (a fragment ignore
// could lie below any key). Links are looked at while the key is opened.
std::string KeepsKeyPermissions(CNuke& nuke, const char* rootName, const char* subkeyPath) {
    const std::string entry = std::string(rootName) + "\\" + (subkeyPath ? subkeyPath : "");
    std::string why = nuke.KeyGuard().Refuses(entry.c_str());
    if (!why.empty()) return why;
    if (nuke.IsIgnored(nuke.ignoreRegKeyList, entry.c_str())) return "it is ignored";
    const std::vector<std::string> forms = nuke.KeyGuard().Forms(entry.c_str());
    const char* ignore = nullptr;
    for (DWORD rc = nuke.ignoreRegKeyList.GetFirst(ignore); rc == ERROR_SUCCESS;
         rc = nuke.ignoreRegKeyList.GetNext(ignore)) {
        for (const std::string& kept : nuke.KeyGuard().Forms(ignore)) {
            if (kept.compare(0, 5, "HKEY_") != 0) return "it holds an ignored key";
            for (const std::string& form : forms) {
                if (guard::IsInside(kept, form)) return "it holds an ignored key";
            }
        }
    }
    return std::string();
}

// Reads the DACL of the key `last` below parent, opened as itself, and
// writes it back with Administrators given full control of that key.
DWORD SetKeyDacl(platform::Platform& os, HKEY parent, const std::string& last, REGSAM view, PSID administrators,
                 CNuke::KeyDacl* before) {
    platform::RegKey key(os);
    const LONG opened =
        os.RegOpenKeyExA(parent, last.c_str(), REG_OPTION_OPEN_LINK, READ_CONTROL | WRITE_DAC | view, key.put());
    if (opened != ERROR_SUCCESS) return static_cast<DWORD>(opened);
    HANDLE object = reinterpret_cast<HANDLE>(key.get());
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    DWORD rc = os.GetSecurityInfo(object, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                                  nullptr, &descriptor);
    platform::LocalMemory descriptorMemory(os, descriptor);  // dacl points into it
    if (rc != ERROR_SUCCESS) return rc;
    if (before && before->descriptor.empty() && descriptor && ::IsValidSecurityDescriptor(descriptor)) {
        const BYTE* bytes = static_cast<const BYTE*>(descriptor);
        before->descriptor.assign(bytes, bytes + ::GetSecurityDescriptorLength(descriptor));
    }
    std::unique_ptr<BYTE[]> newAcl;
    rc = BuildAclWithUserAccess(os, dacl, administrators, GENERIC_ALL, newAcl);
    if (rc != ERROR_SUCCESS) return rc;
    return os.SetSecurityInfo(object, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, reinterpret_cast<PACL>(newAcl.get()), nullptr);
}

}  // namespace

DWORD CNuke::GrantRegKeyAccess(HKEY root, const char* subkeyPath, REGSAM view, KeyDacl* before) {
    // The four roots a key's permissions are given for.
    std::string objectName;
    DWORD rc = BuildRegObjectName(root, subkeyPath, objectName);
    if (rc != ERROR_SUCCESS) return rc;
    const char* rootName = platform::RootKeyName(root);
    const std::string subkey = subkeyPath ? subkeyPath : "";
    auto refuse = [&](const std::string& why) {
        TraceWrite("", -1, 0, "GrantRegKeyAccess: leaving the permissions of '%s\\%s' as they are: %s\n", rootName,
                   subkey.c_str(), why.c_str());
        return static_cast<DWORD>(ERROR_ACCESS_DENIED);
    };
    std::string keep = KeepsKeyPermissions(*this, rootName, subkey.c_str());
    if (!keep.empty()) return refuse(keep);

    // Every key along it is opened as itself and held, and the key itself
    // is reached only through its holder, as itself: a link, planted
    // anywhere along the path or swapped in for the key, never has its
    // target's permissions changed.
    guard::KeyGuard::KeyHolder holder(os);
    keep = KeyGuard().OpenHolder(root, rootName, subkey, view, holder);
    if (!keep.empty()) return refuse(keep);
    if (holder.missing || holder.last.empty()) return ERROR_FILE_NOT_FOUND;
    // One that refuses to be read is given access as itself, and is looked
    // at for a link again before anything is deleted from it.
    bool unreadable = false;
    keep = KeyGuard().LastIsLink(holder, view, &unreadable);
    if (!keep.empty()) return refuse(keep);

    // The grant goes to Administrators, the group the run has its rights
    // through (elevated, or as SYSTEM). Not to the account: an
    // administrator's account also runs unelevated programs, and a name
    // looked up could be another account of the same name.
    platform::AllocatedSid administrators(os);
    if (!guard::MakeAdministratorsSid(os, administrators)) {
        const DWORD failed = os.GetLastError();
        return failed != ERROR_SUCCESS ? failed : static_cast<DWORD>(ERROR_INVALID_SID);
    }
    rc = SetKeyDacl(os, holder.parent, holder.last, view, administrators.get(), before);
    if (rc == ERROR_ACCESS_DENIED) {
        // Not allowed to change the DACL: take ownership, then try again.
        // Administrators may take it through their ownership privilege,
        // which Windows holds disabled until asked for.
        platform::EnabledPrivileges ownership(os, {"SeTakeOwnershipPrivilege"});
        platform::RegKey key(os);
        rc = static_cast<DWORD>(
            os.RegOpenKeyExA(holder.parent, holder.last.c_str(), REG_OPTION_OPEN_LINK, WRITE_OWNER | view, key.put()));
        if (rc == ERROR_SUCCESS) {
            rc = os.SetSecurityInfo(reinterpret_cast<HANDLE>(key.get()), SE_REGISTRY_KEY, OWNER_SECURITY_INFORMATION,
                                    administrators.get(), nullptr, nullptr, nullptr);
        }
        if (rc == ERROR_SUCCESS) rc = SetKeyDacl(os, holder.parent, holder.last, view, administrators.get(), before);
    }
    return rc;
}

DWORD CNuke::RestoreRegKeyAccess(HKEY root, const char* subkeyPath, REGSAM view, const KeyDacl& before) {
    if (before.descriptor.empty()) return ERROR_SUCCESS;
    const char* rootName = platform::RootKeyName(root);
    const std::string subkey = subkeyPath ? subkeyPath : "";
    const auto failed = [&](const std::string& why) {
        ++failures;
        TraceWrite("", -1, 0, "RestoreRegKeyAccess: the permissions of '%s\\%s' could not be given back: %s\n",
                   rootName ? rootName : "", subkey.c_str(), why.c_str());
        return static_cast<DWORD>(ERROR_ACCESS_DENIED);
    };
    // Reached as the grant reached it: through its holders, as itself.
    guard::KeyGuard::KeyHolder holder(os);
    std::string why = KeyGuard().OpenHolder(root, rootName, subkey, view, holder);
    if (why.empty() && !holder.missing) why = KeyGuard().LastIsLink(holder, view);
    if (!why.empty()) return failed(why);
    if (holder.missing || holder.last.empty()) return ERROR_FILE_NOT_FOUND;
    platform::RegKey key(os);
    const LONG opened = os.RegOpenKeyExA(holder.parent, holder.last.c_str(), REG_OPTION_OPEN_LINK, WRITE_DAC | view,
                                         key.put());
    if (opened == ERROR_FILE_NOT_FOUND) return ERROR_FILE_NOT_FOUND;  // deleted after all
    if (opened != ERROR_SUCCESS) return failed("it cannot be opened (error " + std::to_string(opened) + ")");
    auto* descriptor = reinterpret_cast<PSECURITY_DESCRIPTOR>(const_cast<BYTE*>(before.descriptor.data()));
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (!::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) ||
        !::GetSecurityDescriptorControl(descriptor, &control, &revision)) {
        return failed("the saved permissions cannot be read");
    }
    if (!present || !dacl) {
        // It had none, which lets everyone change it: it keeps the grant's.
        TraceWrite("", -1, 0, "RestoreRegKeyAccess: '%s\\%s' had no access list, which would let anyone change it; "
                   "it keeps Administrators' alone\n", rootName ? rootName : "", subkey.c_str());
        return ERROR_SUCCESS;
    }
    // Inheritance from the parent as it was.
    const SECURITY_INFORMATION info = DACL_SECURITY_INFORMATION | ((control & SE_DACL_PROTECTED)
                                                                       ? PROTECTED_DACL_SECURITY_INFORMATION
                                                                       : UNPROTECTED_DACL_SECURITY_INFORMATION);
    const DWORD rc = os.SetSecurityInfo(reinterpret_cast<HANDLE>(key.get()), SE_REGISTRY_KEY, info, nullptr, nullptr,
                                        dacl, nullptr);
    if (rc != ERROR_SUCCESS) return failed("error " + std::to_string(rc));
    TraceWrite("", -1, 0, "RestoreRegKeyAccess: the permissions of '%s\\%s' are back as they were\n",
               rootName ? rootName : "", subkey.c_str());
    return ERROR_SUCCESS;
}
