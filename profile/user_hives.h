// Every user's registry, not only the running account's: the hives of the
// profiles Windows records, reached where Windows has loaded them (the user
// is logged on) or loaded by the run from the profile's NTUSER.DAT under a
// name of its own below HKEY_USERS (its classes from UsrClass.dat beside it,
// as "<name>_Classes"), and unloaded when the registry steps are done, the
// run fails or is cancelled.
#pragma once
#include <windows.h>

#include <set>
#include <string>
#include <vector>

namespace platform { class Platform; }

struct UserHive {
    std::string sid;
    std::string mount;    // the key below HKEY_USERS that shows the hive
    std::string folder;   // the profile's folder, as ProfileList has it
    bool loadedHere = false;
    bool classes = false;  // the user's classes hive is reachable as "<mount>_Classes"
    bool classesLoadedHere = false;
};

class UserHives {
public:
    explicit UserHives(platform::Platform& os) : os_(os) {}
    ~UserHives() { UnloadAll(); }
    UserHives(const UserHives&) = delete;
    UserHives& operator=(const UserHives&) = delete;

    // Finds every recorded profile but the running account's (its hive is
    // HKEY_CURRENT_USER) and loads the hives Windows has not. Returns the
    // profiles whose hive could not be loaded, by their SID and why. With
    // only, just the profiles of those SIDs (upper case).
    std::vector<std::string> Load(const std::string& runningSid, const std::set<std::string>* only = nullptr);
    // Unloads what Load loaded; safe to call more than once. Returns how
    // many hives could not be unloaded.
    unsigned UnloadAll();
    const std::vector<UserHive>& Hives() const { return hives_; }
    // The profiles whose hive could not be reached, with their folder.
    const std::vector<UserHive>& Missed() const { return missed_; }

    // The argument of a registry entry for one hive: an entry (or a data
    // match's first field) of HKEY_CURRENT_USER in any spelling, written as
    // the same key of that hive; its Software\Classes part as the user's
    // classes hive. Empty when the entry is not the current user's, or
    // names classes the hive does not show.
    static std::string ForHive(const char* argument, const UserHive& hive);

private:
    platform::Platform& os_;
    std::vector<UserHive> hives_;
    std::vector<UserHive> missed_;
    bool loaded_ = false;
};
