// The configuration file beside the program: sections of entry lines, each
// line dispatched through the handler table.
#include <shlwapi.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "guard/path_guard.h"
#include "platform/platform.h"
#include "profile/engine.h"
#include "profile/entry_text.h"
#include "trace/trace.h"

namespace {

constexpr size_t kLineLimit = 359;  // the longest line the format allows

// One whole line, however long, without its line end; false at the end of
// the stream. A line over the limit is reported, never split or cut.
bool ReadLine(std::FILE* stream, std::string& line, bool& tooLong) {
    line.clear();
    int c = std::fgetc(stream);
    if (c == EOF) return false;
    while (c != EOF && c != '\n') {
        line += static_cast<char>(c);
        c = std::fgetc(stream);
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    tooLong = line.size() > kLineLimit;
    return true;
}

bool StartsWithNoCase(const std::string& line, const std::string& prefix) {
    return line.size() >= prefix.size() && _strnicmp(line.c_str(), prefix.c_str(), prefix.size()) == 0;
}

class Stream {
public:
    explicit Stream(std::FILE* f) : f_(f) {}
    ~Stream() {
        if (f_) std::fclose(f_);
    }
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;
    std::FILE* get() const { return f_; }

private:
    std::FILE* f_;
};

const char* const kTypes[] = {"REG_VALUE",         "REG_KEY",     "REG_VALUE_EXPAND", "REG_KEY_EXPAND", "FILE_NAME",
                              "FILE_NAME_EXPAND", "SERVICE_NAME", "PROCESS_NAME",    "GUID"};
const char* const kMethods[] = {"BY_REFERENCE", "BY_VALUE", "BY_DATA_MATCH"};

// The keyword of the table that text begins with, followed directly by a
// comma; null when none.
const char* MatchKeyword(const char* text, const char* const* table, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        size_t n = std::strlen(table[i]);
        if (_strnicmp(text, table[i], n) == 0 && text[n] == ',') return table[i];
    }
    return nullptr;
}

using Handler = DWORD (CNuke::*)(TSet&, char*);

struct HandlerCell {
    const char* type;
    const char* method;
    Handler handler;  // null: the argument itself is inserted
};

// Every pair not listed here is rejected with 1610.
const HandlerCell kHandlers[] = {
    {"REG_VALUE", "BY_REFERENCE", &CNuke::ListRegValueData},
    {"REG_VALUE", "BY_VALUE", &CNuke::ListRegValuesByName},
    {"REG_VALUE", "BY_DATA_MATCH", &CNuke::ListRegValuesByData},
    {"REG_KEY", "BY_VALUE", &CNuke::ListRegKeysByName},
    {"REG_KEY", "BY_DATA_MATCH", &CNuke::ListRegKeysByData},
    {"FILE_NAME", "BY_VALUE", &CNuke::ListFilesByName},
    {"FILE_NAME", "BY_DATA_MATCH", &CNuke::ListFoldersByContent},
    {"FILE_NAME_EXPAND", "BY_VALUE", &CNuke::ListFilesByNameExpand},
    {"FILE_NAME_EXPAND", "BY_DATA_MATCH", &CNuke::ListFoldersByContentExpand},
    {"SERVICE_NAME", "BY_VALUE", &CNuke::ListServicesByName},
    {"PROCESS_NAME", "BY_VALUE", &CNuke::ListProcessesByName},
    {"GUID", "BY_VALUE", nullptr},
};

}  // namespace

DWORD CNuke::InitConfigFile() {
    char path[MAX_PATH] = {};
    DWORD n = os.GetModuleFileNameA(nullptr, path, MAX_PATH - 1);
    if (n == 0) return os.GetLastError();
    char* extension = ::PathFindExtensionA(path);
    if (!extension) return ERROR_INVALID_PARAMETER;
    // Room for ".cfg" is checked: a path at the limit is not cut into
    // another file's name.
    if (static_cast<size_t>(extension - path) + 4 >= MAX_PATH) return ERROR_FILENAME_EXCED_RANGE;
    std::strcpy(extension, ".cfg");

    char* copy = new (std::nothrow) char[std::strlen(path) + 1];
    if (!copy) return ERROR_NOT_ENOUGH_MEMORY;
    std::strcpy(copy, path);
    delete[] configFilePath;
    configFilePath = copy;

    if (os.Access(configFilePath, 4) != 0) return ERROR_FILE_NOT_FOUND;
    if (IsCancelled()) return ERROR_CANCELLED;
    return ERROR_SUCCESS;
}

DWORD CNuke::ReadConfigList(TSet& list, const char* sectionKind, const char* key) {
    char header[64];
    std::snprintf(header, sizeof header, "[%s %d]", sectionKind ? sectionKind : "", 1);
    std::string keyPrefix = std::string(key ? key : "") + "=";

    if (!configFilePath) return ERROR_FILE_NOT_FOUND;
    Stream stream(os.OpenSharedStream(configFilePath, "r"));
    if (!stream.get()) {
        DWORD error = os.GetLastError();
        return error != ERROR_SUCCESS ? error : ERROR_FILE_NOT_FOUND;
    }

    std::string line;
    bool tooLong = false;
    for (;;) {
        if (!ReadLine(stream.get(), line, tooLong)) return ERROR_BAD_CONFIGURATION;
        // Only the header's length counts: a long note after it is no matter.
        if (StartsWithNoCase(line, header)) break;
    }
    if (IsCancelled()) return ERROR_CANCELLED;

    DWORD result = ERROR_SUCCESS;
    line.clear();
    while (result == ERROR_SUCCESS) {
        if (IsCancelled()) return ERROR_CANCELLED;
        if (!line.empty() && line[0] == '[') break;
        if (!ReadLine(stream.get(), line, tooLong)) break;
        if (tooLong) {
            // An over-long entry line fails its section; one that begins with
            // "[" still ends it (its first character decides); any other
            // over-long line is passed over whole.
            if (StartsWithNoCase(line, keyPrefix)) {
                result = ERROR_BAD_CONFIGURATION;
                line.resize(kLineLimit);
            } else if (line[0] != '[') {
                line.clear();
            }
            continue;
        }
        if (StartsWithNoCase(line, keyPrefix)) result = ParseListEntry(list, line.c_str() + keyPrefix.size());
    }
    if (result != ERROR_SUCCESS) SetErrorText(line.c_str());
    return result;
}

DWORD CNuke::ParseListEntry(TSet& list, const char* text) {
    if (!text) return ERROR_BAD_CONFIGURATION;
    const char* type = MatchKeyword(text, kTypes, sizeof kTypes / sizeof kTypes[0]);
    if (!type) return ERROR_BAD_CONFIGURATION;
    text += std::strlen(type) + 1;
    const char* method = MatchKeyword(text, kMethods, sizeof kMethods / sizeof kMethods[0]);
    if (!method) return ERROR_BAD_CONFIGURATION;
    text += std::strlen(method) + 1;
    return AddListEntry(list, type, method, text);
}

DWORD CNuke::AddListEntry(TSet& list, const char* type, const char* method, const char* argument) {
    if (!type || !method || !argument) return ERROR_BAD_CONFIGURATION;
    const HandlerCell* cell = nullptr;
    for (const HandlerCell& c : kHandlers) {
        if (_stricmp(c.type, type) == 0 && _stricmp(c.method, method) == 0) {
            cell = &c;
            break;
        }
    }
    if (!cell) return ERROR_BAD_CONFIGURATION;

    std::vector<char> copy;
    try {
        copy.assign(argument, argument + std::strlen(argument) + 1);
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    // A device or network spelling is lost once the entry is normalised: it
    // is judged as written.
    if (&list == &ignoreFileList) {
        if (const char* why = guard::IgnoreNeverMatches(argument, true)) {
            TraceWrite("", -1, 0, "AddListEntry: the ignore entry '%s' would keep nothing: %s\n", argument, why);
            return ERROR_BAD_CONFIGURATION;
        }
    }
    NormalizeEntry(copy.data());
    // The current user's registry entries hold for every user: the same
    // entry once more for each other user's hive. Not one that reads a
    // value's data as the entry (BY_REFERENCE): what another user wrote in
    // their own registry never names what the run removes.
    std::vector<std::string> variants;
    if (_strnicmp(type, "REG_", 4) == 0 && _stricmp(method, "BY_REFERENCE") != 0) {
        for (const UserHive& hive : userHives.Hives()) {
            std::string variant = UserHives::ForHive(copy.data(), hive);
            if (!variant.empty()) variants.push_back(std::move(variant));
        }
    }
    const bool outer = handlingIgnoreEntry;
    handlingIgnoreEntry = IsIgnoreList(list);
    DWORD rc = cell->handler ? (this->*(cell->handler))(list, copy.data()) : list.Insert(copy.data());
    for (std::string& variant : variants) {
        if (rc != ERROR_SUCCESS) break;
        rc = cell->handler ? (this->*(cell->handler))(list, &variant[0]) : list.Insert(variant.c_str());
    }
    handlingIgnoreEntry = outer;
    return rc;
}
