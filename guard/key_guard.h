// The registry side of the guard: one form for every spelling of a key, and
// the keys no removal may take (roots, hives, the system's own keys), in
// either registry view.
#pragma once
#include <string>

namespace platform { class Platform; }

namespace guard {

class KeyGuard {
public:
    // Reads which numbered control set CurrentControlSet stands for.
    explicit KeyGuard(platform::Platform& os);

    // The form a registry entry is compared in: upper case, single
    // backslashes, none at the end; HKEY_CLASSES_ROOT and
    // HKEY_CURRENT_CONFIG as the machine keys they show; a Wow6432Node name
    // below SOFTWARE or Classes dropped (an entry is deleted in both views,
    // so it is kept or refused in both); CurrentControlSet as the numbered
    // set it stands for. Text without a root is treated the same way.
    std::string Canonical(const char* entry) const;

    // Why the key may not be removed, nor its permissions changed
    // ("it is a root of the registry"), or empty.
    std::string Refuses(const char* keyEntry) const;

    // Why the names matching namePattern directly inside keyEntry (its
    // subkeys or values) may not be listed, or empty: the key is one the
    // guard refuses and the pattern begins with fewer than three literal
    // characters.
    std::string RefusesPattern(const char* keyEntry, const char* namePattern) const;

private:
    unsigned currentControlSet_ = 0;  // 0: unknown
};

}  // namespace guard
