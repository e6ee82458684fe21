#include "profile/user_hives.h"

#include <cstring>

#include "guard/key_guard.h"
#include "guard/path_guard.h"
#include "platform/handles.h"
#include "platform/platform.h"
#include "platform/privileges.h"
#include "trace/trace.h"

namespace {

const char kProfileList[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

bool KeyExists(platform::Platform& os, const std::string& subkey) {
    platform::RegKey key(os);
    return os.RegOpenKeyExA(HKEY_USERS, subkey.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

std::string ProfileFolder(platform::Platform& os, HKEY profiles, const std::string& sid) {
    platform::RegKey profile(os);
    if (os.RegOpenKeyExA(profiles, sid.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, profile.put()) != ERROR_SUCCESS) {
        return std::string();
    }
    char raw[MAX_PATH + 1] = {};
    DWORD size = MAX_PATH;
    DWORD type = 0;
    if (os.RegQueryValueExA(profile.get(), "ProfileImagePath", nullptr, &type, reinterpret_cast<LPBYTE>(raw), &size) !=
            ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ)) {
        return std::string();
    }
    raw[MAX_PATH] = '\0';
    char expanded[MAX_PATH + 1] = {};
    const DWORD n = os.ExpandEnvironmentStringsA(raw, expanded, MAX_PATH);
    return n > 0 && n <= MAX_PATH ? std::string(expanded) : std::string();
}

// Why a registry file of the profile may not be loaded: the user may have
// made a folder on the way to it a link, and a hive loaded from elsewhere
// would be another's. Null when it lies in the profile as Windows resolves
// both.
std::string LeavesProfile(platform::Platform& os, const std::string& file, const std::string& folder) {
    std::string resolvedFile, resolvedFolder;
    if (const char* why = guard::ResolveFinalPath(os, file.c_str(), resolvedFile)) return why;
    if (const char* why = guard::ResolvePath(os, folder.c_str(), resolvedFolder)) return why;
    if (!guard::IsInside(resolvedFile, resolvedFolder)) return "it leads out of the profile, to '" + resolvedFile + "'";
    return std::string();
}

bool StartsWithNoCase(const char* text, const char* prefix) { return _strnicmp(text, prefix, std::strlen(prefix)) == 0; }

}  // namespace

std::vector<std::string> UserHives::Load(const std::string& runningSid, const std::set<std::string>* only) {
    std::vector<std::string> failed;
    if (loaded_) return failed;
    loaded_ = true;
    platform::RegKey profiles(os_);
    if (os_.RegOpenKeyExA(HKEY_LOCAL_MACHINE, kProfileList, 0, KEY_READ | KEY_WOW64_64KEY, profiles.put()) !=
        ERROR_SUCCESS) {
        return failed;
    }
    for (DWORD index = 0;; ++index) {
        std::string sid;
        const LSTATUS listed = guard::EnumSubkeyName(os_, profiles.get(), index, sid);
        if (listed == ERROR_NO_UNICODE_TRANSLATION) continue;
        if (listed != ERROR_SUCCESS) break;
        // A SID holds digits and dashes only: any other name is no account.
        if (sid.compare(0, 4, "S-1-") != 0 || sid.find_first_not_of("S-0123456789") != std::string::npos) continue;
        if (_stricmp(sid.c_str(), runningSid.c_str()) == 0) continue;
        if (only && !only->count(guard::UpperText(sid.c_str()))) continue;
        UserHive hive;
        hive.sid = sid;
        hive.folder = ProfileFolder(os_, profiles.get(), sid);
        if (KeyExists(os_, sid)) {
            // The user is logged on (or the account is a service's):
            // Windows has the hive loaded, and it is used where it is.
            hive.mount = sid;
            hive.classes = KeyExists(os_, sid + "_Classes");
            TraceWrite("", -1, 0, "UserHives: the registry of '%s' is loaded by Windows as 'HKEY_USERS\\%s'\n",
                       sid.c_str(), sid.c_str());
            hives_.push_back(hive);
            continue;
        }
        const std::string& folder = hive.folder;
        if (folder.empty()) continue;  // a profile without a folder has no registry to load
        const std::string file = folder + "\\NTUSER.DAT";
        hive.mount = "Clearway " + sid;
        LSTATUS rc = ERROR_SUCCESS;
        const std::string leaves = os_.GetFileAttributesA(file.c_str()) == INVALID_FILE_ATTRIBUTES
                                       ? std::string()
                                       : LeavesProfile(os_, file, folder);
        if (!leaves.empty()) {
            TraceWrite("", -1, 0, "UserHives: not loading the registry of '%s' from '%s': %s\n", sid.c_str(),
                       file.c_str(), leaves.c_str());
            failed.push_back("the registry entries of the user " + sid + " (its registry '" + file + "': " + leaves +
                             ")");
            missed_.push_back(hive);
            continue;
        }
        {
            platform::EnabledPrivileges privileges(os_, {"SeBackupPrivilege", "SeRestorePrivilege"});
            rc = privileges.Enabled() ? os_.RegLoadKeyA(HKEY_USERS, hive.mount.c_str(), file.c_str())
                                      : static_cast<LSTATUS>(privileges.Error());
        }
        if (rc != ERROR_SUCCESS) {
            TraceWrite("", -1, 0, "UserHives: the registry of '%s' could not be loaded from '%s' (error %d)\n",
                       sid.c_str(), file.c_str(), static_cast<int>(rc));
            failed.push_back("the registry entries of the user " + sid + " (its registry '" + file +
                             "' could not be loaded, error " + std::to_string(rc) + ")");
            missed_.push_back(hive);
            continue;
        }
        hive.loadedHere = true;
        TraceWrite("", -1, 0, "UserHives: loaded the registry of '%s' from '%s' as 'HKEY_USERS\\%s'\n", sid.c_str(),
                   file.c_str(), hive.mount.c_str());
        // The user's classes, where Vista and later keep them, and where XP
        // does; a profile without the file has none of its own.
        for (const char* place : {"\\AppData\\Local\\Microsoft\\Windows\\UsrClass.dat",
                                  "\\Local Settings\\Application Data\\Microsoft\\Windows\\UsrClass.dat"}) {
            const std::string classes = folder + place;
            if (os_.GetFileAttributesA(classes.c_str()) == INVALID_FILE_ATTRIBUTES) continue;
            const std::string mount = hive.mount + "_Classes";
            const std::string classesLeave = LeavesProfile(os_, classes, folder);
            if (!classesLeave.empty()) {
                TraceWrite("", -1, 0, "UserHives: not loading the classes of '%s' from '%s': %s\n", sid.c_str(),
                           classes.c_str(), classesLeave.c_str());
                failed.push_back("the classes entries of the user " + sid + " (its classes '" + classes + "': " +
                                 classesLeave + ")");
                break;
            }
            {
                platform::EnabledPrivileges privileges(os_, {"SeBackupPrivilege", "SeRestorePrivilege"});
                rc = privileges.Enabled() ? os_.RegLoadKeyA(HKEY_USERS, mount.c_str(), classes.c_str())
                                          : static_cast<LSTATUS>(privileges.Error());
            }
            if (rc == ERROR_SUCCESS) {
                hive.classes = hive.classesLoadedHere = true;
                TraceWrite("", -1, 0, "UserHives: loaded the classes of '%s' from '%s' as 'HKEY_USERS\\%s'\n",
                           sid.c_str(), classes.c_str(), mount.c_str());
            } else {
                TraceWrite("", -1, 0, "UserHives: the classes of '%s' could not be loaded from '%s' (error %d)\n",
                           sid.c_str(), classes.c_str(), static_cast<int>(rc));
                failed.push_back("the classes entries of the user " + sid + " (its classes '" + classes +
                                 "' could not be loaded, error " + std::to_string(rc) + ")");
            }
            break;
        }
        hives_.push_back(hive);
    }
    return failed;
}

unsigned UserHives::UnloadAll() {
    unsigned failed = 0;
    const auto unload = [this, &failed](const UserHive& hive, const std::string& mount, const char* what) {
        LSTATUS rc = ERROR_SUCCESS;
        {
            platform::EnabledPrivileges privileges(os_, {"SeBackupPrivilege", "SeRestorePrivilege"});
            rc = os_.RegUnLoadKeyA(HKEY_USERS, mount.c_str());
        }
        if (rc == ERROR_SUCCESS) {
            TraceWrite("", -1, 0, "UserHives: unloaded the %s of '%s' ('HKEY_USERS\\%s')\n", what, hive.sid.c_str(),
                       mount.c_str());
        } else {
            TraceWrite("", -1, 0, "UserHives: the %s of '%s' ('HKEY_USERS\\%s') could not be unloaded (error %d): "
                       "the user may not be able to log on until Windows restarts\n",
                       what, hive.sid.c_str(), mount.c_str(), static_cast<int>(rc));
            ++failed;
        }
    };
    for (UserHive& hive : hives_) {
        if (hive.classesLoadedHere) {
            hive.classesLoadedHere = false;
            unload(hive, hive.mount + "_Classes", "classes");
        }
        if (hive.loadedHere) {
            hive.loadedHere = false;
            unload(hive, hive.mount, "registry");
        }
    }
    return failed;
}

std::string UserHives::ForHive(const char* argument, const UserHive& hive) {
    if (!argument) return std::string();
    // A data match's fields are quoted: the key is the first one.
    const char* text = argument;
    while (*text == '"' || *text == ' ') ++text;
    const std::string leading(argument, text);
    size_t rootLength = 0;
    // Only the root's name as every other step reads it: an entry that names
    // no root for the running account names none for another user either.
    for (const char* root : {"HKEY_CURRENT_USER"}) {
        if (StartsWithNoCase(text, root) && (text[std::strlen(root)] == '\\' || text[std::strlen(root)] == '/' ||
                                             text[std::strlen(root)] == '"' || text[std::strlen(root)] == '\0')) {
            rootLength = std::strlen(root);
            break;
        }
    }
    if (rootLength == 0) return std::string();
    std::string rest = text + rootLength;
    // Its classes live in a hive of their own, which Windows shows at
    // "<sid>_Classes" and the user's Software\Classes leads to.
    const char kClasses[] = "\\SOFTWARE\\CLASSES";
    const size_t classesLength = sizeof kClasses - 1;
    if (rest.size() >= classesLength && _strnicmp(rest.c_str(), kClasses, classesLength) == 0 &&
        (rest.size() == classesLength || rest[classesLength] == '\\' || rest[classesLength] == '"')) {
        if (!hive.classes) return std::string();
        return leading + "HKEY_USERS\\" + hive.mount + "_Classes" + rest.substr(classesLength);
    }
    return leading + "HKEY_USERS\\" + hive.mount + rest;
}
