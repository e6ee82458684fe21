#include "actions/reg_entry.h"

#include <mbstring.h>

#include <cstring>
#include <vector>

#include "platform/registry_names.h"
#include "profile/entry_text.h"
#include "trace/trace.h"

namespace {

struct RootPrefix {
    const char* prefix;
    HKEY root;
};

// No short forms (HKLM) are recognised.
const RootPrefix kRootPrefixes[] = {
    {"HKEY_CLASSES_ROOT\\", HKEY_CLASSES_ROOT},         {"HKEY_CURRENT_CONFIG\\", HKEY_CURRENT_CONFIG},
    {"HKEY_CURRENT_USER\\", HKEY_CURRENT_USER},         {"HKEY_DYN_DATA\\", HKEY_DYN_DATA},
    {"HKEY_LOCAL_MACHINE\\", HKEY_LOCAL_MACHINE},       {"HKEY_PERFORMANCE_DATA\\", HKEY_PERFORMANCE_DATA},
    {"HKEY_USERS\\", HKEY_USERS},
};

}  // namespace

DWORD SplitRegEntry(const char* text, RegEntryParts& parts) {
    if (!text || !*text) return ERROR_INVALID_DATA;
    std::vector<char> copy(text, text + std::strlen(text) + 1);
    NormalizeEntry(copy.data());
    const char* rest = copy.data();

    RegEntryParts result;
    for (const RootPrefix& p : kRootPrefixes) {
        size_t n = std::strlen(p.prefix);
        if (std::strncmp(rest, p.prefix, n) == 0) {
            result.root = p.root;
            result.rootText = std::string(p.prefix, n - 1);
            rest += n;
            break;
        }
    }
    if (*rest) {
        // The last backslash that is a character of its own, not the trail
        // byte of a double-byte character.
        const char* lastSlash = reinterpret_cast<const char*>(
            _mbsrchr(reinterpret_cast<const unsigned char*>(rest), '\\'));
        if (!lastSlash) {
            result.path = std::string(rest);
        } else {
            result.path = std::string(rest, lastSlash);
            if (lastSlash[1]) result.last = std::string(lastSlash + 1);
        }
    }
    parts = result;
    return ERROR_SUCCESS;
}

void ParseRegKeyPrefix(HKEY root, char* buffer) {
    // The four roots an entry names a key below.
    const char* name = root == HKEY_CURRENT_CONFIG ? nullptr : platform::RootKeyName(root);
    if (!name) {
        TraceWrite("", -1, 0, "%s", "Warning: ParseRegKeyPrefix received invalid hrootKey parameter\n");
        return;
    }
    if (buffer) std::strcpy(buffer, name);
}

RegEntry::RegEntry(const char* entry) : text(entry ? entry : "") {
    RegEntryParts parts;
    SplitRegEntry(text.c_str(), parts);
    root = parts.root;
    if (!root) return;
    const std::string path = parts.path ? *parts.path : std::string();
    parent = parts.last ? path : std::string();
    name = parts.last ? *parts.last : path;
    key = parent.empty() ? name : parent + "\\" + name;
    if (!text.empty() && text.back() == '\\') {
        const size_t skip = parts.rootText->size() + 1;
        valueKey = text.size() > skip ? text.substr(skip) : std::string();
    } else {
        valueKey = path;
        valueName = parts.last ? *parts.last : std::string();
        for (size_t at = valueName.find("---"); at != std::string::npos; at = valueName.find("---", at + 1)) {
            valueName.replace(at, 3, "\\");
        }
    }
}

std::string RegEntry::RootName() const {
    char buffer[64] = {};
    ParseRegKeyPrefix(root, buffer);
    return buffer;
}
