// The text form of a registry entry: a root prefix, the path below it and
// its last component.
#pragma once
#include <windows.h>

#include <optional>
#include <string>

struct RegEntryParts {
    HKEY root = nullptr;                  // none when no root prefix matched
    std::optional<std::string> rootText;  // "HKEY_LOCAL_MACHINE", without the backslash
    std::optional<std::string> path;      // up to (not including) the last backslash
    std::optional<std::string> last;      // after the last backslash
};

// Splits a normalised copy of text. 13 (ERROR_INVALID_DATA) for a null or
// empty text, leaving parts untouched; otherwise 0.
DWORD SplitRegEntry(const char* text, RegEntryParts& parts);

// Writes the long name of the four common roots into buffer (64 bytes,
// cleared by the caller); for any other root writes nothing and traces a
// warning.
void ParseRegKeyPrefix(HKEY root, char* buffer);

// An element of the registry lists as the deletions read it, split once.
struct RegEntry {
    explicit RegEntry(const char* text);

    std::string text;      // as the list holds it
    HKEY root = nullptr;   // none when no root prefix matched
    // The root as the trace names it (ParseRegKeyPrefix, which warns of a
    // root it has no name for).
    std::string RootName() const;
    // As a key: everything below the root, and that split into the parent
    // (empty: the root itself) and the key's name in it.
    std::string key, parent, name;
    // As a value: the key holding it and its name ("---" stands for a
    // backslash). A text that ends with a backslash names the unnamed value
    // of the key the whole text names, and that key keeps the backslash.
    std::string valueKey, valueName;
};
