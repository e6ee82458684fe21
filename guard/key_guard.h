// The registry side of the guard: one form for every spelling of a key, and
// the keys no removal may take (roots, hives, the system's own keys), in
// either registry view.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "platform/handles.h"

namespace platform { class Platform; }

namespace guard {

class KeyGuard {
public:
    // Reads which numbered control set CurrentControlSet stands for, and
    // whose hive HKEY_CURRENT_USER shows.
    explicit KeyGuard(platform::Platform& os);

    // The form a registry entry is compared in: upper case, single
    // backslashes, none at the end; HKEY_CLASSES_ROOT and
    // HKEY_CURRENT_CONFIG as the machine keys they show; HKEY_CURRENT_USER
    // as the running user's hive below HKEY_USERS, and a user's classes hive
    // ("HKEY_USERS\<sid>_Classes") as the Classes key of that user's
    // SOFTWARE; a Wow6432Node name below SOFTWARE or Classes dropped (an
    // entry is deleted in both views, so it is kept or refused in both);
    // CurrentControlSet as the numbered set it stands for. Text without a
    // root is treated the same way.
    std::string Canonical(const char* entry) const;

    // Every key the entry may reach, each in canonical form: one, or for
    // HKEY_CLASSES_ROOT, which shows the running user's classes over the
    // machine's, both of them.
    std::vector<std::string> Forms(const char* entry) const;

    // Why the key may not be removed, nor its permissions changed
    // ("it is a root of the registry"), or empty.
    std::string Refuses(const char* keyEntry) const;

    // Why nothing in the key, nor below it, may be removed: it lies in a key
    // Windows needs to start, log on or run programs (the control set's
    // Control and Enum, Winlogon, the executable file types, Image File
    // Execution Options). Empty when values in it may go.
    std::string RefusesWhole(const char* keyEntry) const;

    // The service whose key below a control set's Services the entry lies
    // at or below, in any spelling; empty for any other entry.
    std::string ServiceOfKey(const char* entry) const;

    // True when the entry, in any spelling, begins with a root of the
    // registry.
    bool BeginsWithRoot(const char* entry) const;

    // Why the names matching namePattern directly inside keyEntry (its
    // subkeys or values) may not be listed, or empty: the key lies in one
    // refused whole, or it is one the guard refuses and the pattern begins
    // with fewer than three literal characters.
    std::string RefusesPattern(const char* keyEntry, const char* namePattern) const;

    // Why the key subkey below root (named rootName in the text) cannot be
    // decided on by its name in view, or empty: a key along it, or the key
    // itself, is a registry link (a key that shows another key's contents)
    // and not one of the system's own, or cannot be opened as itself (it is
    // then not known to be free of links). A key that is missing ends the
    // walk: nothing past it is reached through it.
    // unreadable: when given, a last key that refuses to be opened as
    // itself for reading is no refusal; it is set instead, and the caller
    // may reach that key only as itself (to give Administrators access to
    // it) before asking again.
    std::string LinkAlong(HKEY root, const char* rootName, const std::string& subkey, REGSAM view,
                          bool* unreadable = nullptr) const;

    // The key holding the last name of a key path, opened as LinkAlong
    // walks it: `parent` is root itself for a key directly below it.
    struct KeyHolder {
        explicit KeyHolder(platform::Platform& os) : key(os) {}
        platform::RegKey key;
        HKEY parent = nullptr;
        std::string last;  // the last name, as the path spells it
        std::string path;  // the whole key, named from its root
        bool missing = false;
    };
    // Why the keys along subkey (all but its last name) cannot be decided
    // on by their names, or empty, with the holder opened; a missing key
    // along it sets `missing`.
    std::string OpenHolder(HKEY root, const char* rootName, const std::string& subkey, REGSAM view,
                           KeyHolder& holder) const;
    // Why the last key of an opened holder cannot be decided on by its
    // name (it is a link not of the system's own, or cannot be opened as
    // itself), or empty; unreadable as for LinkAlong.
    std::string LastIsLink(const KeyHolder& holder, REGSAM view, bool* unreadable = nullptr) const;

private:
    platform::Platform& os_;
    unsigned currentControlSet_ = 0;  // 0: unknown
    std::string currentUser_;         // the running user's SID; empty when unknown
};

// True when key, opened as itself (REG_OPTION_OPEN_LINK), is a registry
// link: it holds its target in a value of type REG_LINK.
bool IsKeyLink(platform::Platform& os, HKEY key);

// The name of key's index-th subkey, listed in wide text. ERROR_SUCCESS with
// the stored name exactly in the code page; ERROR_NO_UNICODE_TRANSLATION when
// the code page cannot hold it (the ANSI listing would give best-fit
// look-alikes, a fullwidth reverse solidus as a backslash, and so name
// another key): name then only shows it, for the trace. The listing's own
// error otherwise, ERROR_NO_MORE_ITEMS at its end.
LSTATUS EnumSubkeyName(platform::Platform& os, HKEY key, DWORD index, std::string& name);

}  // namespace guard
