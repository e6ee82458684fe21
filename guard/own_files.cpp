#include "guard/own_files.h"

#include <windows.h>
#include <aclapi.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "guard/path_guard.h"
#include "platform/platform.h"
#include "platform/wide_text.h"

namespace guard {

namespace {

// The well-known accounts by their authority and relative identifiers.
struct WellKnown {
    BYTE authority;
    BYTE count;
    DWORD rids[6];
};
const WellKnown kSystem = {5, 1, {SECURITY_LOCAL_SYSTEM_RID}};
const WellKnown kAdministrators = {5, 2, {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS}};
const WellKnown kUsers = {5, 2, {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_USERS}};
const WellKnown kTrustedInstaller = {5, 6, {80, 956008885, 3418522649, 1831038044, 1853292631, 2271478464}};

bool MakeSid(platform::Platform& os, const WellKnown& known, platform::AllocatedSid& sid) {
    SID_IDENTIFIER_AUTHORITY authority = {{0, 0, 0, 0, 0, known.authority}};
    const DWORD* r = known.rids;
    return os.AllocateAndInitializeSid(&authority, known.count, r[0], r[1], r[2], r[3], r[4], r[5], 0, 0,
                                       sid.put()) != FALSE;
}

bool IsSid(platform::Platform& os, PSID sid, const WellKnown& known) {
    platform::AllocatedSid wanted(os);
    return sid && MakeSid(os, known, wanted) && os.EqualSid(sid, wanted.get());
}

// The running account, from the process's own token: a TOKEN_USER in
// buffer, or false.
bool ReadTokenUser(platform::Platform& os, std::vector<BYTE>& buffer) {
    HANDLE raw = nullptr;
    if (!os.OpenProcessToken(os.GetCurrentProcess(), TOKEN_QUERY, &raw)) return false;
    platform::ObjectHandle token(os, raw);
    buffer.assign(256, 0);
    DWORD needed = 0;
    if (!os.GetTokenInformation(token.get(), TokenUser, buffer.data(), static_cast<DWORD>(buffer.size()),
                                &needed)) {
        if (needed <= buffer.size()) return false;
        buffer.resize(needed);
        if (!os.GetTokenInformation(token.get(), TokenUser, buffer.data(), needed, &needed)) return false;
    }
    return true;
}

std::string ErrorText(const char* what, DWORD code) {
    char text[256];
    std::snprintf(text, sizeof text, "%s (error %lu)", what, static_cast<unsigned long>(code));
    return text;
}

// Strips the "\\?\" that the final-path call puts before a drive letter.
std::string WithoutLongPrefix(const std::string& path) {
    return path.compare(0, 4, "\\\\?\\") == 0 ? path.substr(4) : path;
}

// Why the open file or folder is not the one path names letter for letter
// (a folder on the way, or the name itself, leads elsewhere); empty when it
// is, or when this Windows cannot say.
std::string LeadsElsewhere(platform::Platform& os, HANDLE handle, const std::string& path) {
    if (!os.HasGetFinalPathNameByHandleA()) return std::string();
    std::vector<char> final(32768);
    const DWORD length = os.GetFinalPathNameByHandleA(handle, final.data(), static_cast<DWORD>(final.size()),
                                                      FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0 || length >= final.size()) return ErrorText("its final path cannot be read", os.GetLastError());
    const std::string reached = WithoutLongPrefix(std::string(final.data(), length));
    if (UpperText(reached.c_str()) != UpperText(path.c_str())) return "it leads to '" + reached + "'";
    return std::string();
}

}  // namespace

bool OwnedByTrustedInstaller(platform::Platform& os, HANDLE object) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD rc = os.GetSecurityInfo(object, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                                        nullptr, &descriptor);
    platform::LocalMemory memory(os, descriptor);  // owner points into it
    return rc == ERROR_SUCCESS && IsSid(os, owner, kTrustedInstaller);
}

bool OwnedByTrustedInstaller(platform::Platform& os, const std::string& path) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD rc = os.GetNamedSecurityInfoA(Unredirected(os, path).c_str(), SE_FILE_OBJECT,
                                              OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                                              &descriptor);
    platform::LocalMemory memory(os, descriptor);
    return rc == ERROR_SUCCESS && IsSid(os, owner, kTrustedInstaller);
}

bool MakeAdministratorsSid(platform::Platform& os, platform::AllocatedSid& sid) {
    return MakeSid(os, kAdministrators, sid);
}

std::string RunningUserSidText(platform::Platform& os) {
    std::vector<BYTE> user;
    return ReadTokenUser(os, user) ? SidText(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid) : std::string();
}

std::string SidText(PSID sid) {
    if (!sid || !::IsValidSid(sid)) return "an unknown account";
    const SID_IDENTIFIER_AUTHORITY* authority = ::GetSidIdentifierAuthority(sid);
    unsigned long long value = 0;
    for (int i = 0; i < 6; ++i) value = (value << 8) | authority->Value[i];
    std::string text = "S-1-" + std::to_string(value);
    const BYTE count = *::GetSidSubAuthorityCount(sid);
    for (BYTE i = 0; i < count; ++i) text += "-" + std::to_string(*::GetSidSubAuthority(sid, i));
    return text;
}

DWORD BuildOwnAcl(platform::Platform& os, OwnAccess access, platform::LocalMemory& acl, bool* sidsFailed) {
    platform::AllocatedSid system(os), administrators(os), users(os);
    const bool readers = access == OwnAccess::UsersRead;
    if (!MakeSid(os, kSystem, system) || !MakeSid(os, kAdministrators, administrators) ||
        (readers && !MakeSid(os, kUsers, users))) {
        if (sidsFailed) *sidsFailed = true;
        const DWORD code = os.GetLastError();
        return code != ERROR_SUCCESS ? code : ERROR_INVALID_SID;
    }

    EXPLICIT_ACCESS_W entries[3] = {};
    const PSID sids[3] = {system.get(), administrators.get(), users.get()};
    const ULONG count = readers ? 3 : 2;
    for (ULONG i = 0; i < count; ++i) {
        os.BuildTrusteeWithSidW(&entries[i].Trustee, sids[i]);
        entries[i].Trustee.TrusteeForm = TRUSTEE_IS_SID;
        entries[i].Trustee.TrusteeType = i == 0 ? TRUSTEE_IS_USER : TRUSTEE_IS_ALIAS;
        entries[i].grfAccessPermissions = i < 2 ? GENERIC_ALL : GENERIC_READ | GENERIC_EXECUTE;
        entries[i].grfAccessMode = SET_ACCESS;
        entries[i].grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
    }
    PACL built = nullptr;
    const DWORD rc = os.SetEntriesInAclW(count, entries, nullptr, &built);
    acl.reset(built);
    return rc;
}

OwnSecurity::OwnSecurity(platform::Platform& os, OwnAccess access) : acl_(os), descriptor_(), attributes_() {
    if (BuildOwnAcl(os, access, acl_) != ERROR_SUCCESS || !acl_) return;
    // Memory only: the descriptor is made here, Windows sees it at creation.
    if (!::InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
        !::SetSecurityDescriptorDacl(&descriptor_, TRUE, static_cast<PACL>(acl_.get()), FALSE) ||
        !::SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
        return;
    }
    attributes_.nLength = sizeof attributes_;
    attributes_.lpSecurityDescriptor = &descriptor_;
    attributes_.bInheritHandle = FALSE;
    ready_ = true;
}

std::string PrepareOwnFolder(platform::Platform& os, const std::string& folder, std::string& done) {
    done.clear();
    if (!IsFullyQualified(folder.c_str())) return "it is not a fully qualified local path";
    if (os.GetFileAttributesA(folder.c_str()) == INVALID_FILE_ATTRIBUTES) {
        OwnSecurity security(os, OwnAccess::UsersRead);
        if (!security.get()) return "its access list could not be built";
        if (os.CreateDirectoryA(folder.c_str(), security.get())) {
            done = "created";
            return std::string();
        }
        const DWORD code = os.GetLastError();
        if (code != ERROR_ALREADY_EXISTS) return ErrorText("it could not be created", code);
        // Made by someone else meanwhile: examined like any other.
    }
    const DWORD attributes = os.GetFileAttributesA(folder.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return "it is a link";
    // Everything through one handle on the folder itself, not on what a
    // link at its name leads to, and with no deleting share: it cannot be
    // swapped for a link between the check and the change.
    platform::FileHandle handle(os, os.CreateFileA(folder.c_str(), READ_CONTROL | WRITE_DAC | WRITE_OWNER,
                                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                               FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!handle) return ErrorText("it cannot be opened", os.GetLastError());
    BY_HANDLE_FILE_INFORMATION information = {};
    if (!os.GetFileInformationByHandle(handle.get(), &information)) {
        return ErrorText("it cannot be examined", os.GetLastError());
    }
    if (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return "it is a link";
    if (!(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return "it is not a folder";
    const std::string leads = LeadsElsewhere(os, handle.get(), folder);
    if (!leads.empty()) return leads;

    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    DWORD rc = os.GetSecurityInfo(handle.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                                  nullptr, nullptr, &descriptor);
    platform::LocalMemory descriptorMemory(os, descriptor);  // owner points into it
    if (rc != ERROR_SUCCESS) return ErrorText("its owner cannot be read", rc);
    // Only SYSTEM and Administrators: an administrator's own account also
    // runs unelevated programs, which an owner's rights would reach.
    const bool foreign = !IsSid(os, owner, kSystem) && !IsSid(os, owner, kAdministrators);
    if (foreign) {
        platform::AllocatedSid administrators(os);
        if (!MakeSid(os, kAdministrators, administrators)) return "its owner cannot be changed";
        rc = os.SetSecurityInfo(handle.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, administrators.get(),
                                nullptr, nullptr, nullptr);
        if (rc != ERROR_SUCCESS) {
            return ErrorText(("it belongs to " + SidText(owner) + " and cannot be taken over").c_str(), rc);
        }
    }
    // The access list is set every time: a folder an earlier version made
    // inherited the parent's, which lets every user create files in it.
    platform::LocalMemory acl(os);
    rc = BuildOwnAcl(os, OwnAccess::UsersRead, acl);
    if (rc != ERROR_SUCCESS) return ErrorText("its access list could not be built", rc);
    rc = os.SetSecurityInfo(handle.get(), SE_FILE_OBJECT,
                            DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr, nullptr,
                            static_cast<PACL>(acl.get()), nullptr);
    if (rc != ERROR_SUCCESS) return ErrorText("its permissions cannot be set", rc);
    if (foreign) done = "taken over from its owner " + SidText(owner);
    return std::string();
}

HANDLE OpenOwnHandle(platform::Platform& os, const std::string& path, bool empty, std::string& why, bool fresh) {
    why.clear();
    if (!IsFullyQualified(path.c_str())) {
        why = "it is not a fully qualified local path";
        return INVALID_HANDLE_VALUE;
    }
    // A link at the name is opened as the link, never followed; nothing is
    // emptied before the checks. Deleting the name first is no way out: on
    // some systems that deletes what a link leads to.
    const HANDLE raw = os.CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE | READ_CONTROL | WRITE_DAC | WRITE_OWNER,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, fresh ? CREATE_NEW : OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (raw == INVALID_HANDLE_VALUE) {
        why = ErrorText("it cannot be opened", os.GetLastError());
        return INVALID_HANDLE_VALUE;
    }
    platform::FileHandle file(os, raw);
    BY_HANDLE_FILE_INFORMATION information = {};
    if (!os.GetFileInformationByHandle(file.get(), &information)) {
        why = ErrorText("it cannot be examined", os.GetLastError());
        return INVALID_HANDLE_VALUE;
    }
    if (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        why = "it is a link";
        return INVALID_HANDLE_VALUE;
    }
    if (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        why = "it is a folder";
        return INVALID_HANDLE_VALUE;
    }
    if (information.nNumberOfLinks > 1) {
        why = "it has another name (a hard link)";
        return INVALID_HANDLE_VALUE;
    }
    why = LeadsElsewhere(os, file.get(), path);
    if (!why.empty()) return INVALID_HANDLE_VALUE;
    if (!fresh) {
        // A file that stood there already may have been placed by someone
        // else, with an owner and permissions of their own: made the run's.
        platform::AllocatedSid administrators(os);
        platform::LocalMemory acl(os);
        DWORD rc = MakeSid(os, kAdministrators, administrators) ? BuildOwnAcl(os, OwnAccess::UsersRead, acl)
                                                                : static_cast<DWORD>(ERROR_INVALID_SID);
        if (rc == ERROR_SUCCESS) {
            rc = os.SetSecurityInfo(file.get(), SE_FILE_OBJECT,
                                    OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                        PROTECTED_DACL_SECURITY_INFORMATION,
                                    administrators.get(), nullptr, static_cast<PACL>(acl.get()), nullptr);
        }
        if (rc != ERROR_SUCCESS) {
            why = ErrorText("its permissions cannot be made the run's", rc);
            return INVALID_HANDLE_VALUE;
        }
    }
    if (empty && !os.SetEndOfFile(file.get())) {
        why = ErrorText("it cannot be emptied", os.GetLastError());
        return INVALID_HANDLE_VALUE;
    }
    return file.release();
}

DWORD CreatePrivateFolder(platform::Platform& os, const std::wstring& parent, std::wstring& folder) {
    folder.clear();
    OwnSecurity security(os, OwnAccess::AdminsOnly);
    if (!security.get()) return ERROR_INVALID_ACL;
    static const wchar_t kDigits[] = L"0123456789abcdef";
    DWORD code = ERROR_ALREADY_EXISTS;
    // A name that already exists was made by someone else: never used.
    for (int attempt = 0; attempt < 8 && code == ERROR_ALREADY_EXISTS; ++attempt) {
        BYTE random[16] = {};
        if (!os.GenerateRandom(random, sizeof random)) {
            const DWORD failed = os.GetLastError();
            return failed != ERROR_SUCCESS ? failed : ERROR_GEN_FAILURE;  // never a success without a folder
        }
        std::wstring name = parent + L"Clearway-";
        for (BYTE b : random) {
            name += kDigits[b >> 4];
            name += kDigits[b & 15];
        }
        if (name.size() + 1 >= MAX_PATH) return ERROR_FILENAME_EXCED_RANGE;
        if (os.CreateDirectoryW(name.c_str(), security.get())) {
            folder = name + L"\\";
            return ERROR_SUCCESS;
        }
        code = os.GetLastError();
    }
    return code;
}

TrustedAccounts::TrustedAccounts(platform::Platform& os) : os_(os) {
    haveUser_ = ReadTokenUser(os, user_);
    for (const WellKnown* known : {&kSystem, &kAdministrators, &kTrustedInstaller}) {
        platform::AllocatedSid sid(os);
        if (MakeSid(os, *known, sid)) {
            const BYTE* bytes = static_cast<const BYTE*>(sid.get());
            sids_.emplace_back(bytes, bytes + os.GetLengthSid(sid.get()));
        }
    }
}

bool TrustedAccounts::Has(PSID sid) const {
    if (!sid) return false;
    for (const std::vector<BYTE>& known : sids_) {
        if (os_.EqualSid(sid, const_cast<BYTE*>(known.data()))) return true;
    }
    return haveUser_ && os_.EqualSid(sid, reinterpret_cast<const TOKEN_USER*>(user_.data())->User.Sid);
}

namespace {

// Why anyone but the trusted accounts owns the object or is allowed one of
// rights by dacl; empty when nobody else is.
std::string OthersIn(platform::Platform& os, PSID owner, PACL dacl, ACCESS_MASK rights, const TrustedAccounts& accounts) {
    const auto trusted = [&accounts](PSID sid) { return accounts.Has(sid); };
    // The owner may always change the permissions.
    if (!trusted(owner)) return "its owner " + SidText(owner) + " may change it";
    if (!dacl) return "it has no access list: everyone may change it";
    ACL_SIZE_INFORMATION size = {};
    if (!os.GetAclInformation(dacl, &size, sizeof size, AclSizeInformation)) {
        return ErrorText("its access list cannot be read", os.GetLastError());
    }
    for (DWORD i = 0; i < size.AceCount; ++i) {
        LPVOID ace = nullptr;
        if (!os.GetAce(dacl, i, &ace)) return ErrorText("its access list cannot be read", os.GetLastError());
        const auto* header = static_cast<const ACE_HEADER*>(ace);
        // Deny entries are not weighed: only who is allowed counts. An allow
        // entry of another kind (callback, object, compound) is not read: it
        // counts as one that may allow a change.
        if (header->AceFlags & INHERIT_ONLY_ACE) continue;
        if (header->AceType == ACCESS_DENIED_ACE_TYPE || header->AceType == ACCESS_DENIED_OBJECT_ACE_TYPE ||
            header->AceType == ACCESS_DENIED_CALLBACK_ACE_TYPE ||
            header->AceType == ACCESS_DENIED_CALLBACK_OBJECT_ACE_TYPE) {
            continue;
        }
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) return "an access entry of a kind not read here may allow a change";
        const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
        PSID sid = const_cast<DWORD*>(&allowed->SidStart);
        if ((allowed->Mask & rights) != 0 && !trusted(sid)) return SidText(sid) + " may change it";
    }
    return std::string();
}

}  // namespace

std::string OthersMay(platform::Platform& os, const std::wstring& path, ACCESS_MASK rights, bool& missing) {
    missing = false;
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD rc = os.GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT,
                                              OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                                              &dacl, nullptr, &descriptor);
    platform::LocalMemory descriptorMemory(os, descriptor);  // owner and dacl point into it
    if (rc == ERROR_FILE_NOT_FOUND || rc == ERROR_PATH_NOT_FOUND) {
        missing = true;
        return std::string();
    }
    if (rc != ERROR_SUCCESS) return ErrorText("its permissions cannot be read", rc);
    return OthersIn(os, owner, dacl, rights, TrustedAccounts(os));
}

std::string OthersMayOn(platform::Platform& os, HANDLE object, ACCESS_MASK rights, const TrustedAccounts& accounts) {
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD rc = os.GetSecurityInfo(object, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                        &owner, nullptr, &dacl, nullptr, &descriptor);
    platform::LocalMemory descriptorMemory(os, descriptor);
    if (rc != ERROR_SUCCESS) return ErrorText("its permissions cannot be read", rc);
    return OthersIn(os, owner, dacl, rights, accounts);
}

std::string OthersCanChange(platform::Platform& os, const std::wstring& path, bool& missing) {
    return OthersMay(os, path,
                     FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER |
                         GENERIC_WRITE | GENERIC_ALL | MAXIMUM_ALLOWED,
                     missing);
}

namespace {

// Where the way to a file begins: "C:\" for "C:\...", "\\server\share" for a
// share; 0 when the path has neither form.
size_t RootLength(const std::wstring& path) {
    if (path.size() >= 3 && path[1] == L':' && path[2] == L'\\') return 3;
    if (path.compare(0, 2, L"\\\\") != 0) return 0;
    const size_t server = path.find(L'\\', 2);
    if (server == std::wstring::npos) return 0;
    const size_t share = path.find(L'\\', server + 1);
    return share == std::wstring::npos ? path.size() : share;
}

}  // namespace

namespace {

// The way to a file, checked as OthersCanSteerProgram says; files: the file
// and the others beside it that decide what it does.
std::string OthersCanSteer(platform::Platform& os, const std::wstring& given, bool withConfiguration) {
    // The long forms of the same paths: "\\?\C:\..." and "\\?\UNC\server\...".
    std::wstring program = given;
    if (program.compare(0, 8, L"\\\\?\\UNC\\") == 0) {
        program = L"\\\\" + program.substr(8);
    } else if (program.compare(0, 4, L"\\\\?\\") == 0) {
        program = program.substr(4);
    }
    const size_t root = RootLength(program);
    const size_t slash = program.find_last_of(L'\\');
    if (root == 0 || slash == std::wstring::npos || slash + 1 < root) return "its path is not a full local or share path";
    const auto say = [&os](const std::wstring& path, const std::string& why) {
        return "'" + platform::NarrowText(os, path) + "': " + why;
    };
    // The file (and the program's configuration) and its folder: anything
    // that changes what they hold.
    std::vector<std::wstring> files = {program};
    if (withConfiguration) {
        const size_t dot = program.find_last_of(L'.');
        files.push_back((dot != std::wstring::npos && dot > slash ? program.substr(0, dot) : program) + L".cfg");
    }
    std::wstring folder = program.substr(0, slash);
    if (folder.size() < root) folder = program.substr(0, root);  // the root itself: "C:\"
    files.push_back(folder);
    for (const std::wstring& path : files) {
        bool missing = false;
        const std::string why = OthersCanChange(os, path, missing);
        if (!why.empty()) return say(path, why);
    }
    // The folders above: anything that renames or replaces the way.
    std::wstring child = folder;
    while (child.size() > root) {
        const size_t up = child.find_last_of(L'\\');
        if (up == std::wstring::npos || up + 1 < root) break;
        std::wstring parent = child.substr(0, up);
        const bool isRoot = parent.size() <= root;
        if (isRoot) parent = program.substr(0, root);
        const ACCESS_MASK rights = FILE_DELETE_CHILD | WRITE_DAC | WRITE_OWNER | GENERIC_ALL | MAXIMUM_ALLOWED |
                                   (isRoot ? 0 : DELETE);
        bool missing = false;
        const std::string why = OthersMay(os, parent, rights, missing);
        if (!why.empty()) return say(parent, why);
        if (isRoot) break;
        child = parent;
    }
    return std::string();
}

}  // namespace

std::wstring ProgramPath(platform::Platform& os) {
    std::vector<wchar_t> module(MAX_PATH);
    for (;;) {
        const DWORD size = static_cast<DWORD>(module.size());
        const DWORD length = os.GetModuleFileNameW(nullptr, module.data(), size);
        if (length == 0) return std::wstring();
        if (length < size) return std::wstring(module.data(), length);
        if (module.size() >= 32768) return std::wstring();  // never cut: a cut path names another file
        module.assign(module.size() * 2, L'\0');
    }
}

std::string OthersCanSteerProgram(platform::Platform& os, const std::wstring& program) {
    return OthersCanSteer(os, program, true);
}

std::string OthersCanSteerFile(platform::Platform& os, const std::wstring& file) {
    return OthersCanSteer(os, file, false);
}

}  // namespace guard
