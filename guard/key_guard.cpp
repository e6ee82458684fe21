#include "guard/key_guard.h"

#include <windows.h>
#include <mbctype.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "guard/own_files.h"
#include "guard/path_guard.h"
#include "guard/tree_guard.h"
#include "platform/handles.h"
#include "platform/platform.h"

namespace guard {

namespace {

using Names = std::vector<std::string>;

// The names of a key entry, split at slashes and backslashes (a trail byte
// is no separator); empty names (doubled or trailing separators) are
// dropped. asKeyed: the names as the registry has them, split at
// backslashes only (a key's name may hold a slash: "text/html") and not
// upper-cased.
Names Split(const char* entry, bool asKeyed = false) {
    return asKeyed ? SplitNames(entry, false) : SplitNames(UpperText(entry ? entry : "").c_str(), true);
}

std::string Join(const Names& names) {
    std::string out;
    for (const std::string& name : names) {
        if (!out.empty()) out += '\\';
        out += name;
    }
    return out;
}

const char kMachine[] = "HKEY_LOCAL_MACHINE";
const char kUsers[] = "HKEY_USERS";
const char kCurrentUser[] = "HKEY_CURRENT_USER";

bool IsRoot(const std::string& name) {
    for (const char* root : {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_CONFIG", kCurrentUser, "HKEY_DYN_DATA", kMachine,
                             "HKEY_PERFORMANCE_DATA", kUsers}) {
        if (name == root) return true;
    }
    return false;
}

// The system's keys below a SOFTWARE key (the machine's, the current
// user's and every user's), as names below it; "*" stands for any one name.
const char* const kSoftwareKeys[] = {
    "",
    "CLASSES",
    "CLASSES\\CLSID",
    "CLASSES\\INTERFACE",
    "CLASSES\\TYPELIB",
    "CLASSES\\APPID",
    "CLASSES\\INSTALLER",
    "CLASSES\\*\\SHELLEX",
    "MICROSOFT",
    "MICROSOFT\\WINDOWS",
    "MICROSOFT\\WINDOWS\\CURRENTVERSION",
    "MICROSOFT\\WINDOWS\\CURRENTVERSION\\RUN",
    "MICROSOFT\\WINDOWS\\CURRENTVERSION\\RUNONCE",
    "MICROSOFT\\WINDOWS\\CURRENTVERSION\\RUNONCEEX",
    "MICROSOFT\\WINDOWS\\CURRENTVERSION\\UNINSTALL",
    "MICROSOFT\\WINDOWS\\CURRENTVERSION\\POLICIES",
    "MICROSOFT\\WINDOWS\\CURRENTVERSION\\EXPLORER",
    "MICROSOFT\\WINDOWS\\CURRENTVERSION\\INSTALLER",
    "MICROSOFT\\WINDOWS NT",
    "MICROSOFT\\WINDOWS NT\\CURRENTVERSION",
    "POLICIES",
    "POLICIES\\MICROSOFT",
};

// The system's keys with their root, "*" for any one name.
const char* const kSystemKeys[] = {
    "HKEY_LOCAL_MACHINE\\*",           // every hive of the machine
    "HKEY_USERS\\*",                   // every user's hive
    "HKEY_USERS\\*\\*",                // and what lies directly in it
    "HKEY_CURRENT_USER\\*",
    "HKEY_LOCAL_MACHINE\\SYSTEM\\*",   // the control sets, Select, Setup...
    "HKEY_LOCAL_MACHINE\\SYSTEM\\*\\SERVICES",
    "HKEY_LOCAL_MACHINE\\SYSTEM\\*\\CONTROL",
    "HKEY_LOCAL_MACHINE\\SYSTEM\\*\\ENUM",
    "HKEY_LOCAL_MACHINE\\SYSTEM\\*\\HARDWARE PROFILES",
    "HKEY_LOCAL_MACHINE\\SYSTEM\\*\\HARDWARE PROFILES\\*",
};

// The keys Windows needs to start, log on and run programs: refused with
// every key and value below them, whatever an entry, pattern or data match
// says. Below each SOFTWARE key, as names below it.
const char* const kSoftwareTrees[] = {
    "MICROSOFT\\WINDOWS NT\\CURRENTVERSION\\WINLOGON",
    "MICROSOFT\\WINDOWS NT\\CURRENTVERSION\\IMAGE FILE EXECUTION OPTIONS",
    // What starts a program of each executable type.
    "CLASSES\\EXEFILE", "CLASSES\\BATFILE", "CLASSES\\CMDFILE", "CLASSES\\COMFILE",
    "CLASSES\\.EXE", "CLASSES\\.BAT", "CLASSES\\.CMD", "CLASSES\\.COM",
};
// With their root: the control set's configuration (Session Manager and its
// environment among it) and devices, in every control set.
const char* const kSystemTrees[] = {
    "HKEY_LOCAL_MACHINE\\SYSTEM\\*\\CONTROL",
    "HKEY_LOCAL_MACHINE\\SYSTEM\\*\\ENUM",
};

const char* const kSoftwareRoots[] = {"HKEY_LOCAL_MACHINE\\SOFTWARE", "HKEY_CURRENT_USER\\SOFTWARE",
                                      "HKEY_USERS\\*\\SOFTWARE"};

bool Matches(const Names& names, const Names& pattern) {
    if (names.size() != pattern.size()) return false;
    for (size_t i = 0; i < names.size(); ++i) {
        if (pattern[i] != "*" && pattern[i] != names[i]) return false;
    }
    return true;
}

const std::vector<Names>& SystemKeys() {
    static const std::vector<Names> keys = [] {
        std::vector<Names> all;
        for (const char* key : kSystemKeys) all.push_back(Split(key));
        for (const char* software : kSoftwareRoots) {
            for (const char* below : kSoftwareKeys) {
                all.push_back(Split((std::string(software) + "\\" + below).c_str()));
            }
        }
        return all;
    }();
    return keys;
}

const std::vector<Names>& SystemTrees() {
    static const std::vector<Names> trees = [] {
        std::vector<Names> all;
        for (const char* tree : kSystemTrees) all.push_back(Split(tree));
        for (const char* software : kSoftwareRoots) {
            for (const char* below : kSoftwareTrees) all.push_back(Split((std::string(software) + "\\" + below).c_str()));
        }
        return all;
    }();
    return trees;
}

// True when names begin with the names of pattern ("*" any one name).
bool StartsWith(const Names& names, const Names& pattern) {
    if (names.size() < pattern.size()) return false;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != "*" && pattern[i] != names[i]) return false;
    }
    return true;
}

}  // namespace

KeyGuard::KeyGuard(platform::Platform& os) : os_(os), currentUser_(UpperText(RunningUserSidText(os).c_str())) {
    platform::RegKey select(os);
    if (os.RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\Select", 0, KEY_READ | KEY_WOW64_64KEY, select.put()) !=
        ERROR_SUCCESS) {
        return;
    }
    DWORD current = 0;
    DWORD size = sizeof current;
    DWORD type = 0;
    if (os.RegQueryValueExA(select.get(), "Current", nullptr, &type, reinterpret_cast<LPBYTE>(&current), &size) ==
            ERROR_SUCCESS &&
        type == REG_DWORD && current > 0 && current < 1000) {
        currentControlSet_ = current;
    }
}

std::string KeyGuard::Canonical(const char* entry) const {
    Names names = Split(entry);
    if (names.empty()) return std::string();
    // The roots that show another key's contents.
    if (names[0] == "HKEY_CLASSES_ROOT") {
        names.erase(names.begin());
        names.insert(names.begin(), {kMachine, "SOFTWARE", "CLASSES"});
    } else if (names[0] == "HKEY_CURRENT_CONFIG") {
        names.erase(names.begin());
        names.insert(names.begin(), {kMachine, "SYSTEM", "CURRENTCONTROLSET", "HARDWARE PROFILES", "CURRENT"});
    } else if (names[0] == kCurrentUser && !currentUser_.empty()) {
        names[0] = kUsers;
        names.insert(names.begin() + 1, currentUser_);
    }
    // A user's classes hive is what that user's SOFTWARE\Classes shows.
    static const std::string kClassesHive = "_CLASSES";
    // One the run loaded for a user who is not logged on is named
    // "Clearway <sid>_Classes".
    const bool userHive = names.size() >= 2 && (names[1].compare(0, 4, "S-1-") == 0 ||
                                                names[1].compare(0, 13, "CLEARWAY S-1-") == 0);
    if (names[0] == kUsers && names.size() >= 2 && names[1].size() > kClassesHive.size() && userHive &&
        names[1].compare(names[1].size() - kClassesHive.size(), kClassesHive.size(), kClassesHive) == 0) {
        names[1].erase(names[1].size() - kClassesHive.size());
        names.insert(names.begin() + 2, {"SOFTWARE", "CLASSES"});
    }
    // A key of the 32-bit view written out is the same key as far as a
    // removal goes: each entry is deleted in both views.
    for (size_t i = 1; i < names.size();) {
        if (names[i] == "WOW6432NODE" && (names[i - 1] == "SOFTWARE" || names[i - 1] == "CLASSES")) {
            names.erase(names.begin() + static_cast<std::ptrdiff_t>(i));
        } else {
            ++i;
        }
    }
    if (currentControlSet_ && names.size() >= 3 && names[0] == kMachine && names[1] == "SYSTEM" &&
        names[2] == "CURRENTCONTROLSET") {
        char set[32];
        std::snprintf(set, sizeof set, "CONTROLSET%03u", currentControlSet_);
        names[2] = set;
    }
    return Join(names);
}

std::vector<std::string> KeyGuard::Forms(const char* entry) const {
    std::vector<std::string> forms{Canonical(entry)};
    Names names = Split(entry);
    if (!names.empty() && names[0] == "HKEY_CLASSES_ROOT") {
        names[0] = std::string(kCurrentUser) + "\\SOFTWARE\\CLASSES";
        const std::string user = Canonical(Join(names).c_str());
        if (user != forms[0]) forms.push_back(user);
    }
    return forms;
}

std::string KeyGuard::Refuses(const char* keyEntry) const {
    const Names names = Split(Canonical(keyEntry).c_str());
    if (names.empty()) return "it is empty";
    if (!IsRoot(names[0])) return "it does not begin with a root of the registry";
    if (names.size() == 1) return "it is a root of the registry";
    for (const Names& key : SystemKeys()) {
        if (Matches(names, key)) return "it is a key of the system";
    }
    return RefusesWhole(keyEntry);
}

std::string KeyGuard::RefusesWhole(const char* keyEntry) const {
    const Names names = Split(Canonical(keyEntry).c_str());
    for (const Names& tree : SystemTrees()) {
        if (StartsWith(names, tree)) return "it lies in a key Windows needs to start, log on or run programs";
    }
    return std::string();
}

std::string KeyGuard::ServiceOfKey(const char* entry) const {
    const Names names = Split(Canonical(entry).c_str());
    if (names.size() >= 5 && names[0] == kMachine && names[1] == "SYSTEM" && names[3] == "SERVICES") return names[4];
    return std::string();
}

bool KeyGuard::BeginsWithRoot(const char* entry) const {
    const Names names = Split(Canonical(entry).c_str());
    return !names.empty() && IsRoot(names[0]);
}

std::string KeyGuard::RefusesPattern(const char* keyEntry, const char* namePattern) const {
    if (!namePattern) return std::string();
    const std::string whole = RefusesWhole(keyEntry);
    if (!whole.empty()) return whole;
    const size_t literal = LiteralStart(namePattern);
    if (namePattern[std::strcspn(namePattern, "*?<>\"")] == '\0' || literal >= kLiteralStartNeeded) return std::string();
    const std::string why = Refuses(keyEntry);
    if (why.empty()) return std::string();
    return "a wildcard directly inside a key that holds more than the product needs three letters before it (" +
           why.substr(3) + ")";
}

}  // namespace guard

namespace guard {

bool IsKeyLink(platform::Platform& os, HKEY key) {
    DWORD type = REG_NONE;
    return os.RegQueryValueExA(key, "SymbolicLinkValue", nullptr, &type, nullptr, nullptr) == ERROR_SUCCESS &&
           type == REG_LINK;
}

LSTATUS EnumSubkeyName(platform::Platform& os, HKEY key, DWORD index, std::string& name) {
    name.clear();
    wchar_t wide[256] = {};  // a key name holds at most 255 characters
    DWORD size = 256;
    const LSTATUS rc = os.RegEnumKeyExW(key, index, wide, &size, nullptr, nullptr, nullptr, nullptr);
    if (rc != ERROR_SUCCESS) return rc;
    return ExactCodePageText(os, wide, name) ? ERROR_SUCCESS : ERROR_NO_UNICODE_TRANSLATION;
}

std::string KeyGuard::OpenHolder(HKEY root, const char* rootName, const std::string& subkey, REGSAM view,
                                 KeyHolder& holder) const {
    holder.path = rootName ? rootName : "";
    holder.key.reset();
    holder.parent = root;
    holder.last.clear();
    holder.missing = false;
    Names names = Split(subkey.c_str(), true);
    if (names.empty()) return std::string();
    holder.last = names.back();
    names.pop_back();
    // Opened name by name, each as itself: a link is seen before anything
    // is reached through it.
    for (const std::string& name : names) {
        holder.path += "\\" + name;
        platform::RegKey self(os_);
        const LONG opened =
            os_.RegOpenKeyExA(holder.parent, name.c_str(), REG_OPTION_OPEN_LINK, KEY_READ | view, self.put());
        if (opened == ERROR_FILE_NOT_FOUND) {  // nothing past it is reached through it
            holder.missing = true;
            return std::string();
        }
        // A key that cannot be opened as itself (its permissions refuse
        // Administrators) is not known to be free of links.
        if (opened != ERROR_SUCCESS) {
            return "the key '" + holder.path + "' along it cannot be opened as itself (error " +
                   std::to_string(opened) + "), so it is not known not to be a registry link";
        }
        if (IsKeyLink(os_, self.get())) {
            if (Refuses(holder.path.c_str()).empty()) return "the key '" + holder.path + "' along it is a registry link";
            // One of the system's own (CurrentControlSet): followed, as
            // the canonical form follows it.
            self.reset();
            if (os_.RegOpenKeyExA(holder.parent, name.c_str(), 0, KEY_READ | view, self.put()) != ERROR_SUCCESS) {
                holder.missing = true;
                return std::string();
            }
        }
        holder.key = std::move(self);
        holder.parent = holder.key.get();
    }
    holder.path += "\\" + holder.last;
    return std::string();
}

std::string KeyGuard::LinkAlong(HKEY root, const char* rootName, const std::string& subkey, REGSAM view,
                                bool* unreadable) const {
    if (unreadable) *unreadable = false;
    KeyHolder holder(os_);
    const std::string why = OpenHolder(root, rootName, subkey, view, holder);
    if (!why.empty() || holder.missing || holder.last.empty()) return why;
    return LastIsLink(holder, view, unreadable);
}

std::string KeyGuard::LastIsLink(const KeyHolder& holder, REGSAM view, bool* unreadable) const {
    if (unreadable) *unreadable = false;
    platform::RegKey self(os_);
    const LONG opened =
        os_.RegOpenKeyExA(holder.parent, holder.last.c_str(), REG_OPTION_OPEN_LINK, KEY_QUERY_VALUE | view, self.put());
    if (opened == ERROR_FILE_NOT_FOUND) return std::string();
    if (opened == ERROR_ACCESS_DENIED && unreadable) {
        *unreadable = true;
        return std::string();
    }
    if (opened != ERROR_SUCCESS) {
        return "the key '" + holder.path + "' cannot be opened as itself (error " + std::to_string(opened) +
               "), so it is not known not to be a registry link";
    }
    if (IsKeyLink(os_, self.get()) && Refuses(holder.path.c_str()).empty()) {
        return "the key '" + holder.path + "' along it is a registry link";
    }
    return std::string();
}

}  // namespace guard
