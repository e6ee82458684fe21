#include "guard/path_guard.h"

#include <mbctype.h>
#include <mbstring.h>
#include <shlobj.h>

#include <cctype>
#include <cstring>
#include <vector>

#include "guard/key_guard.h"
#include "platform/handles.h"
#include "platform/platform.h"
#include "platform/windows_version.h"

namespace guard {

std::vector<std::string> SplitNames(const char* text, bool slashes) {
    std::vector<std::string> names;
    std::string name;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text ? text : ""); *p;) {
        if (_ismbblead(*p) && p[1]) {
            name += static_cast<char>(p[0]);
            name += static_cast<char>(p[1]);
            p += 2;
        } else if (*p == '\\' || (*p == '/' && slashes)) {
            if (!name.empty()) names.push_back(name);
            name.clear();
            ++p;
        } else {
            name += static_cast<char>(*p++);
        }
    }
    if (!name.empty()) names.push_back(name);
    return names;
}

namespace {

using Byte = unsigned char;

const char kEmpty[] = "it is empty";
const char kNotQualified[] = "it is not a full path with a drive letter";
const char kDevicePath[] = "it is a UNC, device or NT path";
const char kStream[] = "it holds a colon after the drive (a stream name)";
const char kTooLong[] = "it is longer than a path may be";
const char kUnresolvedLink[] = "a folder along it is a link that could not be resolved";
const char kLinkElsewhere[] = "a folder along it is a link to a network or device path";

constexpr DWORD kPathRoom = 1024;

// The path with every slash made a backslash; a trail byte is left alone.
std::string Backslashed(const char* text) {
    std::string out;
    for (const Byte* p = reinterpret_cast<const Byte*>(text); *p;) {
        if (_ismbblead(*p) && p[1]) {
            out += static_cast<char>(p[0]);
            out += static_cast<char>(p[1]);
            p += 2;
        } else {
            out += *p == '/' ? '\\' : static_cast<char>(*p);
            ++p;
        }
    }
    return out;
}

// The names of a path after its "X:\" root.
std::vector<std::string> Names(const std::string& path) { return SplitNames(path.c_str() + 3, false); }

std::string Joined(const std::string& root, const std::vector<std::string>& names, size_t count) {
    std::string out = root;
    for (size_t i = 0; i < count; ++i) {
        if (out.back() != '\\') out += '\\';
        out += names[i];
    }
    return out;
}

bool Exists(platform::Platform& os, const std::string& path) {
    return os.GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The final folder of an existing folder (or file), upper case; null, or
// why it cannot be had.
const char* FinalFolder(platform::Platform& os, const std::string& folder, std::string& out) {
    out.clear();
    if (os.HasGetFinalPathNameByHandleA()) {
        platform::FileHandle file(os, os.CreateFileA(folder.c_str(), FILE_READ_ATTRIBUTES,
                                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (!file) return kUnresolvedLink;
        char buffer[kPathRoom] = {};
        const DWORD n = os.GetFinalPathNameByHandleA(file.get(), buffer, kPathRoom, 0);
        if (n == 0 || n >= kPathRoom) return kUnresolvedLink;
        std::string final = buffer;
        if (final.compare(0, 8, "\\\\?\\UNC\\") == 0) return kLinkElsewhere;
        if (final.compare(0, 4, "\\\\?\\") == 0) final.erase(0, 4);
        if (!IsFullyQualified(final.c_str()) && !(final.size() == 2 && final[1] == ':')) return kLinkElsewhere;
        if (final.size() == 2) final += '\\';
        out = UpperText(final.c_str());
    } else {
        // Without the final path, short names are still expanded; a link
        // along the way is refused below.
        char buffer[kPathRoom] = {};
        const DWORD n = os.GetLongPathNameA(folder.c_str(), buffer, kPathRoom);
        out = UpperText(n > 0 && n < kPathRoom ? buffer : folder.c_str());
    }
    // Whatever resolved it, no folder along the result may still be a link:
    // a Windows without the final path call, or one that leaves a link as
    // it is, would otherwise have the decision made on the link's name.
    const std::vector<std::string> names = Names(out);
    for (size_t count = 1; count <= names.size(); ++count) {
        const DWORD attributes = os.GetFileAttributesA(Joined(out.substr(0, 3), names, count).c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            out.clear();
            return kUnresolvedLink;
        }
    }
    return nullptr;
}

}  // namespace

std::string Unredirected(platform::Platform& os, const std::string& path) {
    if (!platform::IsWow64(os)) return path;
    char buffer[MAX_PATH] = {};
    UINT n = os.GetSystemDirectoryA(buffer, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return path;
    const std::string system = UpperText(buffer);
    n = os.GetWindowsDirectoryA(buffer, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return path;
    const std::string upper = UpperText(path.c_str());
    if (upper != system && !IsInside(upper, system)) return path;
    return UpperText(buffer) + "\\SYSNATIVE" + upper.substr(system.size());
}

namespace {

const char* Resolve(platform::Platform& os, const char* path, std::string& resolved, bool lastToo) {
    resolved.clear();
    if (!path || !*path) return kEmpty;
    std::string text = Backslashed(path);
    // The normal form drops a root's backslash: "C:" alone is the root.
    if (text.size() == 2 && text[1] == ':') text += '\\';
    if (text.compare(0, 2, "\\\\") == 0 || text.compare(0, 4, "\\??\\") == 0) return kDevicePath;
    if (!IsFullyQualified(text.c_str())) return kNotQualified;
    if (_mbschr(reinterpret_cast<const Byte*>(text.c_str()) + 2, ':')) return kStream;

    char full[kPathRoom] = {};
    const DWORD n = os.GetFullPathNameA(text.c_str(), kPathRoom, full, nullptr);
    if (n == 0 || n >= kPathRoom) return kTooLong;
    if (!IsFullyQualified(full)) return kNotQualified;
    const std::string root(full, 3);
    const std::vector<std::string> names = Names(full);

    // The deepest folder that exists: below it nothing can be a link.
    size_t existing = names.empty() ? 0 : names.size() - (lastToo ? 0 : 1);
    while (existing > 0 && !Exists(os, Joined(root, names, existing))) --existing;
    std::string final = UpperText(root.c_str());
    // A drive that does not exist has no link on it.
    if (existing > 0 || Exists(os, root)) {
        if (const char* reason = FinalFolder(os, Unredirected(os, Joined(root, names, existing)), final)) {
            return reason;
        }
    }

    std::string out = final;
    for (size_t i = existing; i < names.size(); ++i) {
        if (out.back() != '\\') out += '\\';
        out += UpperText(names[i].c_str());
    }
    // A short last name becomes its long one where the path exists.
    if (!lastToo && !names.empty() && names.back().find('~') != std::string::npos) {
        char longPath[kPathRoom] = {};
        const DWORD length = os.GetLongPathNameA(out.c_str(), longPath, kPathRoom);
        if (length > 0 && length < kPathRoom) {
            // Multibyte aware: a trail byte may have the separator's value.
            const unsigned char* last =
                _mbsrchr(reinterpret_cast<const unsigned char*>(longPath), static_cast<unsigned int>('\\'));
            const unsigned char* ownLast =
                _mbsrchr(reinterpret_cast<const unsigned char*>(out.c_str()), static_cast<unsigned int>('\\'));
            const size_t keep = ownLast ? static_cast<size_t>(ownLast - reinterpret_cast<const unsigned char*>(out.c_str())) + 1 : 0;
            out = out.substr(0, keep) +
                  UpperText(last ? reinterpret_cast<const char*>(last) + 1 : longPath);
        }
    }
    if (out.size() >= MAX_PATH) return kTooLong;
    resolved = out;
    return nullptr;
}

bool IsDriveRoot(const std::string& path) { return path.size() == 3 && IsFullyQualified(path.c_str()); }

}  // namespace

std::string UpperText(const char* text) {
    if (!text) return std::string();
    const size_t length = std::strlen(text);
    bool ascii = true;
    for (size_t i = 0; i < length && ascii; ++i) ascii = static_cast<Byte>(text[i]) < 0x80;
    std::string out(text, length);
    if (ascii) {
        for (char& c : out) {
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        }
        return out;
    }
    // Two NULs behind the text: a lead byte that ends it never makes the
    // runtime read past the copy.
    std::vector<char> copy(text, text + length);
    copy.push_back('\0');
    copy.push_back('\0');
    _mbsupr(reinterpret_cast<Byte*>(copy.data()));
    return std::string(copy.data(), length);
}

bool ContainsText(const std::string& upperText, const std::string& upperNeedle) {
    if (upperNeedle.empty()) return false;
    return _mbsstr(reinterpret_cast<const Byte*>(upperText.c_str()),
                   reinterpret_cast<const Byte*>(upperNeedle.c_str())) != nullptr;
}

bool IsInside(const std::string& path, const std::string& folder) {
    if (folder.empty() || path.size() <= folder.size() || path.compare(0, folder.size(), folder) != 0) return false;
    return folder.back() == '\\' || path[folder.size()] == '\\';
}

size_t LiteralStart(const char* pattern) {
    size_t count = 0;
    for (const Byte* p = reinterpret_cast<const Byte*>(pattern); p && *p; ++count) {
        // "<", ">" and '"' are wildcards to Windows' own name matching too.
        if (*p == '*' || *p == '?' || *p == '<' || *p == '>' || *p == '"') break;
        p += (_ismbblead(*p) && p[1]) ? 2 : 1;
    }
    return count;
}

bool HoldsWord(const char* pattern) {
    // Extensions that name a kind of file, not a product.
    static const char* const kExtensions[] = {"EXE", "DLL", "SYS", "COM", "BAT", "CMD", "MSI", "INF", "OCX",
                                              "CPL", "SCR", "DRV", "LNK", "CAT", "MUI", "TMP", "LOG", "INI"};
    const Byte* p = reinterpret_cast<const Byte*>(pattern ? pattern : "");
    bool afterDot = false;
    while (*p) {
        // A word: letters and digits (a character beyond ASCII counts as a
        // letter), up to anything else.
        std::string word;
        size_t letters = 0;
        while (*p && (*p >= 0x80 || std::isalnum(*p))) {
            const bool lead = *p >= 0x80 && _ismbblead(*p) && p[1];
            letters += (*p >= 0x80 || std::isalpha(*p)) ? 1 : 0;
            word += static_cast<char>(std::toupper(*p));
            if (lead) word += static_cast<char>(*++p);
            ++p;
        }
        // After a dot, a short word is the extension of a file name.
        if (letters >= 3 && !(afterDot && word.size() <= 4)) {
            bool extension = false;
            for (const char* known : kExtensions) extension = extension || word == known;
            if (!extension) return true;
        }
        if (!*p) break;
        afterDot = *p == '.';
        ++p;
    }
    return false;
}

bool IsFullyQualified(const char* path) {
    return path && static_cast<Byte>(path[0]) < 0x80 && std::isalpha(static_cast<Byte>(path[0])) && path[1] == ':' &&
           (path[2] == '\\' || path[2] == '/');
}

const char* IgnoreNeverMatches(const char* entry, bool written) {
    const char* text = entry ? entry : "";
    if (written) {
        while (*text == '"' || *text == ' ') ++text;
        const bool separator0 = text[0] == '\\' || text[0] == '/';
        const bool separator1 = separator0 && (text[1] == '\\' || text[1] == '/');
        return separator1 ? "it is a device or network path; the removal names folders by their drive letter"
                          : nullptr;
    }
    if (static_cast<Byte>(text[0]) < 0x80 && std::isalpha(static_cast<Byte>(text[0])) && text[1] == ':' &&
        text[2] != '\\' && text[2] != '/') {
        return "it is relative to the current folder of a drive";
    }
    // %NAME%: a variable the configuration cannot expand.
    for (const char* open = std::strchr(text, '%'); open; open = std::strchr(open + 1, '%')) {
        const char* close = open + 1;
        while (std::isalnum(static_cast<Byte>(*close)) || *close == '_' || *close == '(' || *close == ')') ++close;
        if (*close == '%' && close > open + 1) return "it holds a %NAME% that is not expanded";
    }
    if (!IsFullyQualified(text)) {
        for (const char* name = text; *name;) {
            const char* end = name + std::strcspn(name, "\\/");
            const std::string part(name, end);
            if (part == "." || part == "..") return "it holds '.' or '..' and is not a full path";
            name = *end ? end + 1 : end;
        }
    }
    return nullptr;
}

bool NeedsResolving(const char* path) {
    if (!IsFullyQualified(path) || path[2] != '\\') return true;
    const std::string text = path;
    if (text.find('~') != std::string::npos || text.find('/') != std::string::npos ||
        text.find("\\\\") != std::string::npos) {
        return true;
    }
    for (const std::string& name : Names(text)) {
        if (name == "." || name == ".." || name.back() == '.' || name.back() == ' ') return true;
    }
    return text.size() > 3 && text.back() == '\\';
}

const char* ResolvePath(platform::Platform& os, const char* path, std::string& resolved) {
    return Resolve(os, path, resolved, false);
}

const char* ResolveFinalPath(platform::Platform& os, const char* path, std::string& resolved) {
    return Resolve(os, path, resolved, true);
}

namespace {

const char kProfileList[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

// A text value of an open key with its environment variables expanded; empty
// when it is missing, not text or too long.
std::string ExpandedValue(platform::Platform& os, HKEY key, const char* name) {
    char data[kPathRoom] = {};
    DWORD type = 0;
    DWORD size = sizeof data - 1;
    if (os.RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(data), &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ)) {
        return std::string();
    }
    data[size < sizeof data ? size : sizeof data - 1] = '\0';
    char expanded[kPathRoom] = {};
    const DWORD n = os.ExpandEnvironmentStringsA(data, expanded, sizeof expanded);
    return n > 0 && n <= sizeof expanded ? std::string(expanded) : std::string();
}

std::string ParentOf(const std::string& path) {
    const Byte* base = reinterpret_cast<const Byte*>(path.c_str());
    const Byte* last = _mbsrchr(base, '\\');
    if (!last) return std::string();
    const size_t at = static_cast<size_t>(last - base);
    return at == 2 ? path.substr(0, 3) : path.substr(0, at);
}

// path without separators at its end, upper case.
std::string Trimmed(const std::string& path) {
    std::string out = UpperText(path.c_str());
    while (out.size() > 3 && out.back() == '\\') out.pop_back();
    return out;
}

void AddOnce(std::vector<std::string>& list, const std::string& path) {
    if (path.empty()) return;
    const std::string upper = Trimmed(path);
    for (const std::string& known : list) {
        if (known == upper) return;
    }
    list.push_back(upper);
}

}  // namespace

std::string CurrentProfile(platform::Platform& os) {
    char buffer[MAX_PATH + 1] = {};
    if (!os.SHGetSpecialFolderPathA(nullptr, buffer, CSIDL_PROFILE, FALSE) || buffer[0] == '\0') {
        const DWORD n = os.GetEnvironmentVariableA("USERPROFILE", buffer, MAX_PATH);
        if (n == 0 || n >= MAX_PATH) buffer[0] = '\0';
    }
    buffer[MAX_PATH] = '\0';
    return buffer[0] ? Trimmed(Backslashed(buffer)) : std::string();
}

std::vector<std::string> RecordedProfiles(platform::Platform& os, const std::string& current) {
    std::vector<std::string> profiles;
    platform::RegKey profileList(os);
    if (os.RegOpenKeyExA(HKEY_LOCAL_MACHINE, kProfileList, 0, KEY_READ | KEY_WOW64_64KEY, profileList.put()) ==
        ERROR_SUCCESS) {
        // A name the code page cannot hold is no account's: its ANSI form
        // would name another key.
        std::string sid;
        for (DWORD index = 0;; ++index) {
            const LSTATUS listed = EnumSubkeyName(os, profileList.get(), index, sid);
            if (listed == ERROR_NO_UNICODE_TRANSLATION) continue;
            if (listed != ERROR_SUCCESS) break;
            platform::RegKey profile(os);
            if (os.RegOpenKeyExA(profileList.get(), sid.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, profile.put()) ==
                ERROR_SUCCESS) {
                AddOnce(profiles, Backslashed(ExpandedValue(os, profile.get(), "ProfileImagePath").c_str()));
            }
        }
        std::string defaultProfile = ExpandedValue(os, profileList.get(), "Default");
        if (defaultProfile.empty()) {
            const std::string directory = ExpandedValue(os, profileList.get(), "ProfilesDirectory");
            if (!directory.empty()) defaultProfile = Trimmed(directory) + "\\DEFAULT";
        }
        AddOnce(profiles, Backslashed(defaultProfile.c_str()));
    }
    AddOnce(profiles, current);
    // Only full local paths are profiles a removal may reach.
    std::vector<std::string> out;
    for (const std::string& profile : profiles) {
        if (IsFullyQualified(profile.c_str())) out.push_back(profile);
    }
    return out;
}

FolderGuard::FolderGuard(platform::Platform& os, const std::vector<std::string>& macroFolders) : os_(os) {
    char buffer[MAX_PATH + 1] = {};
    UINT length = os.GetWindowsDirectoryA(buffer, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
        const std::string windows = buffer;
        Add(windows, "the Windows folder");
        // Both system folders of 64-bit Windows, whatever view this process has.
        for (const char* name : {"\\SYSTEM32", "\\SYSWOW64", "\\SYSNATIVE"}) Add(windows + name, "a system folder");
        // The compatibility name of the profiles folder on the Windows drive.
        if (IsFullyQualified(windows.c_str())) {
            Add(windows.substr(0, 3) + "Documents and Settings", "the profiles folder");
        }
    }
    length = os.GetSystemDirectoryA(buffer, MAX_PATH);
    if (length > 0 && length < MAX_PATH) Add(buffer, "a system folder");
    struct Special {
        int folder;
        const char* what;
    };
    for (const Special& special : {Special{CSIDL_WINDOWS, "the Windows folder"}, Special{CSIDL_SYSTEM, "a system folder"},
                                   Special{CSIDL_SYSTEMX86, "a system folder"},
                                   Special{CSIDL_PROGRAM_FILES, "a Program Files folder"},
                                   Special{CSIDL_PROGRAM_FILESX86, "a Program Files folder"},
                                   Special{CSIDL_PROGRAM_FILES_COMMON, "a Common Files folder"},
                                   Special{CSIDL_PROGRAM_FILES_COMMONX86, "a Common Files folder"},
                                   Special{CSIDL_COMMON_APPDATA, "the common application data folder"},
                                   Special{CSIDL_COMMON_DOCUMENTS, "the public documents folder"}}) {
        buffer[0] = '\0';
        if (os.SHGetSpecialFolderPathA(nullptr, buffer, special.folder, FALSE)) Add(buffer, special.what);
    }
    // The 64-bit Program Files folder, which a 32-bit process finds only here.
    for (const char* variable : {"ProgramW6432", "ProgramFiles", "ProgramFiles(x86)"}) {
        const DWORD n = os.GetEnvironmentVariableA(variable, buffer, MAX_PATH);
        if (n > 0 && n < MAX_PATH) Add(buffer, "a Program Files folder");
    }
    for (const char* variable : {"CommonProgramW6432", "CommonProgramFiles", "CommonProgramFiles(x86)"}) {
        const DWORD n = os.GetEnvironmentVariableA(variable, buffer, MAX_PATH);
        if (n > 0 && n < MAX_PATH) Add(buffer, "a Common Files folder");
    }
    {
        const DWORD n = os.GetEnvironmentVariableA("PUBLIC", buffer, MAX_PATH);
        if (n > 0 && n < MAX_PATH) Add(buffer, "the public profile");
    }

    // The profiles folder and every profile folder, as Windows records them
    // (one registry key for both views). The current profile's parent is
    // only the fallback: under the system account it is a system folder.
    platform::RegKey profileList(os);
    if (os.RegOpenKeyExA(HKEY_LOCAL_MACHINE, kProfileList, 0, KEY_READ | KEY_WOW64_64KEY, profileList.put()) ==
        ERROR_SUCCESS) {
        const std::string directory = ExpandedValue(os, profileList.get(), "ProfilesDirectory");
        std::string resolved;
        if (!directory.empty() && !ResolveFinalPath(os, directory.c_str(), resolved)) profilesFolder_ = resolved;
    }
    const std::string currentText = CurrentProfile(os);
    for (const std::string& profile : RecordedProfiles(os, currentText)) {
        std::string resolved;
        if (!ResolveFinalPath(os, profile.c_str(), resolved)) profiles_.push_back(resolved);
    }
    std::string current;
    if (!currentText.empty() && !ResolveFinalPath(os, currentText.c_str(), current) && profilesFolder_.empty()) {
        profilesFolder_ = ParentOf(current);
    }
    if (!profilesFolder_.empty()) folders_.push_back({profilesFolder_, "the profiles folder"});

    // A per-user folder's place below its profile, as the handler takes it
    // in every profile: by the names Windows gives (a Documents that is a
    // link, or redirected, still names Documents in every other profile),
    // and by where it resolves in the current one.
    const auto addPerUser = [&](const std::string& folder, const std::string& resolved) {
        const std::string text = Trimmed(Backslashed(folder.c_str()));
        if (!currentText.empty() && IsInside(text, currentText)) perUser_.push_back(text.substr(currentText.size()));
        if (!current.empty() && IsInside(resolved, current)) perUser_.push_back(resolved.substr(current.size()));
    };
    // Every folder a folder macro names, itself: an entry of the macro alone
    // would take every program's data. A per-user folder is taken in every
    // profile by the handler, so it is refused in every profile.
    for (const std::string& folder : macroFolders) {
        std::string resolved;
        if (folder.empty() || ResolveFinalPath(os, folder.c_str(), resolved)) continue;
        Add(folder, "a folder a folder macro names");
        addPerUser(folder, resolved);
    }
    // The user folders every profile has, whether or not a macro names them.
    for (const int csidl : {CSIDL_APPDATA, CSIDL_LOCAL_APPDATA, CSIDL_PERSONAL, CSIDL_DESKTOPDIRECTORY}) {
        buffer[0] = '\0';
        std::string resolved;
        if (!os.SHGetSpecialFolderPathA(nullptr, buffer, csidl, FALSE) || buffer[0] == '\0' ||
            ResolveFinalPath(os, buffer, resolved)) {
            continue;
        }
        Add(buffer, "a folder every profile has");
        addPerUser(buffer, resolved);
    }
}

void FolderGuard::Add(const std::string& path, const char* what) {
    // Both the folder's own name and what it finally reaches: removing the
    // name of a compatibility link is refused as firmly as its target.
    std::string resolved;
    if (!ResolvePath(os_, path.c_str(), resolved)) folders_.push_back({resolved, what});
    std::string final;
    if (!ResolveFinalPath(os_, path.c_str(), final) && final != resolved) folders_.push_back({final, what});
}

bool FolderGuard::IsProfile(const std::string& resolved) const {
    for (const std::string& profile : profiles_) {
        if (resolved == profile) return true;
    }
    // Any direct child of the profiles folder.
    return !profilesFolder_.empty() && ParentOf(resolved) == profilesFolder_;
}

std::string FolderGuard::Refuses(const std::string& resolved) const {
    if (resolved.empty()) return kEmpty;
    if (IsDriveRoot(resolved)) return "it is a drive root";
    for (const Folder& folder : folders_) {
        if (resolved == folder.path) return std::string("it is ") + folder.what;
    }
    if (IsProfile(resolved)) return "it is a user profile";
    for (const std::string& tail : perUser_) {
        if (resolved.size() > tail.size() &&
            resolved.compare(resolved.size() - tail.size(), tail.size(), tail) == 0 &&
            IsProfile(resolved.substr(0, resolved.size() - tail.size()))) {
            return "it is a folder a folder macro names, in a user profile";
        }
    }
    return std::string();
}

std::string FolderGuard::RefusesPattern(const char* pattern) const {
    if (!pattern || !IsFullyQualified(pattern)) return std::string();
    const std::string text = Backslashed(pattern);
    const std::vector<std::string> names = Names(text);
    const std::string root = text.substr(0, 3);
    // "." and ".." are resolved as text before anything is listed: behind a
    // wildcard they would climb out of the folder the rule looked at.
    bool wildcard = false;
    for (const std::string& name : names) {
        if (wildcard && (name == "." || name == "..")) return "a wildcard pattern may not hold . or .. names after it";
        wildcard = wildcard || LiteralStart(name.c_str()) != _mbslen(reinterpret_cast<const Byte*>(name.c_str()));
    }
    for (size_t i = 0; i < names.size(); ++i) {
        const size_t literal = LiteralStart(names[i].c_str());
        if (literal == _mbslen(reinterpret_cast<const Byte*>(names[i].c_str()))) continue;  // no wildcard
        if (literal >= kLiteralStartNeeded) return std::string();
        // The folder the wildcard is listed in, links and all: a link named
        // as that folder lists its target's contents.
        const std::string parent = Joined(root, names, i);
        std::string resolved;
        if (const char* reason = ResolveFinalPath(os_, parent.c_str(), resolved)) return reason;
        const std::string why = Refuses(resolved);
        if (why.empty()) return std::string();
        return "a wildcard directly inside a folder that holds more than the product needs three letters before "
               "it (" + why.substr(3) + ")";
    }
    return std::string();
}

}  // namespace guard
