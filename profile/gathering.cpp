// The maker's leftover Windows Installer registrations: product records
// whose publisher is the maker, the installer keys that refer to them, the
// components and folder registrations that name the maker, the shell's
// program-name caches and each product's cached package. Everything found
// becomes an entry of the removal lists; nothing is deleted here.
#include <mbstring.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "guard/key_guard.h"
#include "guard/path_guard.h"
#include "guard/tree_guard.h"
#include "platform/handles.h"
#include "platform/platform.h"
#include "platform/registry_names.h"
#include "profile/engine.h"
#include "profile/entry_text.h"
#include "trace/trace.h"

const char kInstallerProductsKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products";
const char kInstallerComponentsKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Components";
const char kInstallerUpgradeCodesKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UpgradeCodes";
const char kClassesUpgradeCodesKey[] = "SOFTWARE\\Classes\\Installer\\UpgradeCodes";
const char kInstallerFoldersKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\Folders";
const char kUserMuiCacheKey[] = "SOFTWARE\\Microsoft\\Windows\\ShellNoRoam\\MUICache";
const char kDefaultUserMuiCacheKey[] = ".DEFAULT\\Software\\Microsoft\\Windows\\ShellNoRoam\\MUICache";

namespace {

// The installer database lives in the 64-bit view on 64-bit Windows.
const REGSAM kGatherAccess = KEY_READ | KEY_WOW64_64KEY;

// The installer's records of the maker's products name it like this.
const char kPublisherWord[] = "velmoran";

// Case-insensitive containment of the lower-cased texts.
bool ContainsLower(const char* text, const char* pattern) {
    std::string haystack = LowerCased(text);
    std::string needle = LowerCased(pattern);
    return _mbsstr(reinterpret_cast<const unsigned char*>(haystack.c_str()),
                   reinterpret_cast<const unsigned char*>(needle.c_str())) != nullptr;
}

// The value entry's last part: lower case, every backslash written "---" so
// the name survives the entry's own backslash split.
std::string ValueEntryName(const char* name) {
    std::string lower = LowerCased(name);
    std::string out;
    for (size_t i = 0; i < lower.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(lower[i]);
        if (c >= 0x80 && _ismbblead(c) && i + 1 < lower.size()) {
            out += lower[i];
            out += lower[++i];  // a trail byte with the backslash's value stays
        } else if (c == '\\') {
            out += "---";
        } else {
            out += lower[i];
        }
    }
    return out;
}

// Reads a text value into a 260-byte buffer; always terminated.
LSTATUS ReadText260(platform::Platform& os, HKEY key, const char* name, char (&buffer)[MAX_PATH + 1]) {
    std::memset(buffer, 0, sizeof buffer);
    DWORD size = MAX_PATH;
    return os.RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<LPBYTE>(buffer), &size);
}

}  // namespace

void CNuke::ParseRegKeyPrefixCString(HKEY root, std::string& out) {
    const char* name = root == HKEY_CURRENT_CONFIG ? nullptr : platform::RootKeyName(root);
    if (name) {
        out = name;
    } else {
        TraceWrite("", -1, 0, "Warning: ParseRegKeyPrefixCString received invalid hrootKey parameter\n");
    }
}

DWORD CNuke::EnumerateRegKeyAndMatchValue(HKEY root, const char* keyPath, const char* pattern, TSet& list,
                                          bool exactName, bool matchData) {
    platform::RegKey key(os);
    LSTATUS rc = os.RegOpenKeyExA(root, keyPath, 0, kGatherAccess, key.put());
    if (rc != ERROR_SUCCESS) {
        TraceWrite("", -1, 0, "EnumerateRegKeyAndMatchValue: Failed to open '%s' with error '%d'\n", keyPath,
                   static_cast<int>(rc));
        return static_cast<DWORD>(rc);
    }
    DWORD longestData = 0;
    rc = os.RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                             &longestData, nullptr, nullptr);
    if (rc != ERROR_SUCCESS) {
        TraceWrite("", -1, 0, "EnumerateRegKeyAndMatchValue: Failed to query info for '%s' with error '%d'\n", keyPath,
                   static_cast<int>(rc));
        return static_cast<DWORD>(rc);
    }
    std::string rootName;
    ParseRegKeyPrefixCString(root, rootName);
    std::string keyEntry;
    JoinPath(keyEntry, {rootName.c_str(), keyPath});

    // Names and text data are read in wide text: a name the code page cannot
    // hold would come back with best-fit look-alikes and name another value
    // (or, compared with a product id, pass for it), and text data converted
    // with best fit could spell the maker's word without holding it.
    std::vector<wchar_t> wideName(16384);  // a value name holds at most 16383 characters
    // Two spare zero bytes, never handed to the call, so even data of the
    // longest size without a zero ends inside the buffer.
    std::vector<BYTE> data(longestData + 2);
    DWORD result = ERROR_SUCCESS;
    size_t listed = 0;                  // the key's values
    std::vector<std::string> products;  // those that name the product
    for (DWORD index = 0;; ++index) {
        DWORD nameSize = static_cast<DWORD>(wideName.size());
        DWORD dataSize = static_cast<DWORD>(data.size() - 2);
        DWORD type = REG_NONE;
        std::fill(data.begin(), data.end(), BYTE(0));
        rc = os.RegEnumValueW(key.get(), index, wideName.data(), &nameSize, nullptr, &type, data.data(), &dataSize);
        if (rc == ERROR_MORE_DATA && dataSize > data.size() - 2) {
            data.resize(dataSize + 2);  // grown since the key was asked: once more with room
            --index;
            continue;
        }
        if (rc == ERROR_NO_MORE_ITEMS) break;
        ++listed;  // one that cannot be read is someone else's too
        if (rc != ERROR_SUCCESS) continue;
        if (dataSize > data.size() - 2) dataSize = static_cast<DWORD>(data.size() - 2);
        // Data of any type, as text up to its first zero, and never past the
        // bytes the enumeration returned.
        std::string text;
        if (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ) {
            std::wstring wide(reinterpret_cast<const wchar_t*>(data.data()), dataSize / sizeof(wchar_t));
            guard::ExactCodePageText(os, wide.c_str(), text);  // what the code page lacks reads as '?'
        } else {
            const char* bytes = reinterpret_cast<const char*>(data.data());
            text.assign(bytes, strnlen(bytes, dataSize));
        }
        std::string nameText;
        if (!guard::ExactCodePageText(os, wideName.data(), nameText)) {
            TraceWrite("", -1, 0, "EnumerateRegKeyAndMatchValue: leaving the value '%s' of '%s' alone: its name does "
                       "not fit the code page\n", nameText.c_str(), keyEntry.c_str());
            continue;
        }
        const char* name = nameText.c_str();

        if (exactName || matchData) {
            const bool ours = exactName ? _mbsicmp(reinterpret_cast<const unsigned char*>(name),
                                                   reinterpret_cast<const unsigned char*>(pattern)) == 0
                                        : ContainsLower(text.c_str(), pattern);
            if (ours) products.push_back(nameText);
            continue;
        }
        if (!ContainsLower(name, pattern)) continue;
        result = list.Insert((keyEntry + "\\" + ValueEntryName(name)).c_str());
        if (result != ERROR_SUCCESS) break;
    }
    if (products.empty()) return result;
    // A key that names the product's values besides others (an installer
    // component or upgrade code that other products share) loses only the
    // product's values; it goes whole only when nothing else is in it.
    if (products.size() == listed) return list.Insert(keyEntry.c_str());
    for (const std::string& name : products) {
        TraceWrite("", -1, 0, "EnumerateRegKeyAndMatchValue: '%s' is shared: only its value '%s' goes\n",
                   keyEntry.c_str(), name.c_str());
        result = removeRegValueList.Insert((keyEntry + "\\" + ValueEntryName(name.c_str())).c_str());
        if (result != ERROR_SUCCESS) break;
    }
    return result;
}

DWORD CNuke::EnumerateRegKeyEnumerateSubKeysAndMatchValue(HKEY root, const char* keyPath, const char* pattern,
                                                          TSet& list, bool matchData) {
    platform::RegKey key(os);
    LSTATUS rc = os.RegOpenKeyExA(root, keyPath, 0, kGatherAccess, key.put());
    if (rc != ERROR_SUCCESS) {
        TraceWrite("", -1, 0,
                   "EnumerateRegKeyEnumerateSubKeysAndMatchValue: Failed to open '%s', reported error '%d'\n", keyPath,
                   static_cast<int>(rc));
        return static_cast<DWORD>(rc);
    }
    rc = os.RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr);
    if (rc != ERROR_SUCCESS) {
        TraceWrite("", -1, 0,
                   "EnumerateRegKeyEnumerateSubKeysAndMatchValue: Failed to query info for '%s' with error '%d'\n",
                   keyPath, static_cast<int>(rc));
        return static_cast<DWORD>(rc);
    }
    DWORD result = ERROR_SUCCESS;
    for (DWORD index = 0;; ++index) {
        std::string subkey;
        rc = guard::EnumSubkeyName(os, key.get(), index, subkey);
        if (rc == ERROR_NO_UNICODE_TRANSLATION) {
            TraceWrite("", -1, 0, "EnumerateRegKeyEnumerateSubKeysAndMatchValue: leaving the key '%s' of '%s' alone: "
                       "its name does not fit the code page\n", subkey.c_str(), keyPath);
            continue;
        }
        if (rc != ERROR_SUCCESS) break;
        std::string path;
        JoinPath(path, {keyPath, subkey.c_str()});
        result = EnumerateRegKeyAndMatchValue(root, path.c_str(), pattern, list, !matchData, matchData);
    }
    return result;
}

namespace {

DWORD TraceScanError(const char* operation, const char* scan, DWORD rc) {
    if (rc != ERROR_SUCCESS) {
        TraceWrite("", -1, 0, "%s: %s returned error '%d'\n", operation, scan, static_cast<int>(rc));
    }
    return rc;
}

const char kSubKeyScan[] = "EnumerateRegKeyEnumerateSubKeysAndMatchValue";
const char kValueScan[] = "EnumerateRegKeyAndMatchValue";

}  // namespace

DWORD CNuke::GatherS1518ComponentQtAssemblies() {
    TraceWrite("", -1, 0, "GatherS1518ComponentQtAssemblies()\n");
    return TraceScanError("GatherS1518ComponentQtAssemblies", kSubKeyScan,
                          EnumerateRegKeyEnumerateSubKeysAndMatchValue(HKEY_LOCAL_MACHINE, kInstallerComponentsKey,
                                                                       kProductWordInNames, removeRegKeyList, true));
}

DWORD CNuke::GatherCurrentVersionInstallerUpgradeCodeKeys(const char* productId) {
    return TraceScanError("GatherCurrentVersionInstallerUpgradeCodeKeys", kSubKeyScan,
                          EnumerateRegKeyEnumerateSubKeysAndMatchValue(HKEY_LOCAL_MACHINE, kInstallerUpgradeCodesKey,
                                                                       productId, removeRegKeyList, false));
}

DWORD CNuke::GatherClassesInstallerUpgradeCodeKeys(const char* productId) {
    return TraceScanError("GatherClassesInstallerUpgradeCodeKeys", kSubKeyScan,
                          EnumerateRegKeyEnumerateSubKeysAndMatchValue(HKEY_LOCAL_MACHINE, kClassesUpgradeCodesKey,
                                                                       productId, removeRegKeyList, false));
}

DWORD CNuke::GatherS1518ComponentKeys(const char* productId) {
    return TraceScanError("GatherS1518ComponentKeys", kSubKeyScan,
                          EnumerateRegKeyEnumerateSubKeysAndMatchValue(HKEY_LOCAL_MACHINE, kInstallerComponentsKey,
                                                                       productId, removeRegKeyList, false));
}

DWORD CNuke::AddClassesInstallerFeaturesKey(const char* productId) {
    const std::string entry = std::string("HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Installer\\Features\\") + productId;
    return removeRegKeyList.Insert(entry.c_str());
}

DWORD CNuke::AddClassesInstallerProductsKey(const char* productId) {
    const std::string entry = std::string("HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Installer\\Products\\") + productId;
    return removeRegKeyList.Insert(entry.c_str());
}

DWORD CNuke::GatherInstallerFolderValues() {
    return TraceScanError("GatherInstallerFolderValues", kValueScan,
                          EnumerateRegKeyAndMatchValue(HKEY_LOCAL_MACHINE, kInstallerFoldersKey, kProductWordInNames,
                                                       removeRegValueList, false, false));
}

DWORD CNuke::GatherMUICaches() {
    TraceScanError("GatherMUICaches", kValueScan,
                   EnumerateRegKeyAndMatchValue(HKEY_CURRENT_USER, kUserMuiCacheKey, kProductWordInNames,
                                                removeRegValueList, false, false));
    return TraceScanError("GatherMUICaches", kValueScan,
                          EnumerateRegKeyAndMatchValue(HKEY_USERS, kDefaultUserMuiCacheKey, kProductWordInNames,
                                                       removeRegValueList, false, false));
}

void CNuke::ProductBasedMSIRemoval() {
    {  // the products key closes before the folder and cache scans
        platform::RegKey products(os);
        LSTATUS rc = os.RegOpenKeyExA(HKEY_LOCAL_MACHINE, kInstallerProductsKey, 0, kGatherAccess, products.put());
        if (rc != ERROR_SUCCESS) {
            TraceWrite("", -1, 0, "ProductBasedMSIRemoval: Failed to open '%s', reported error '%d'\n",
                       kInstallerProductsKey, static_cast<int>(rc));
            return;
        }
        rc = os.RegQueryInfoKeyA(products.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                 nullptr, nullptr, nullptr, nullptr);
        if (rc != ERROR_SUCCESS) {
            TraceWrite("", -1, 0, "ProductBasedMSIRemoval: Failed to query info for '%s' with error '%d'\n",
                       kInstallerProductsKey, static_cast<int>(rc));
            return;
        }
        // Names are read in wide text, each at most 255 characters.
        for (DWORD index = 0;; ++index) {
            std::string productId;
            rc = guard::EnumSubkeyName(os, products.get(), index, productId);
            if (rc == ERROR_NO_UNICODE_TRANSLATION) {
                TraceWrite("", -1, 0, "ProductBasedMSIRemoval: leaving the product key '%s' alone: its name does not "
                           "fit the code page\n", productId.c_str());
                continue;
            }
            if (rc != ERROR_SUCCESS) break;
            const std::string productKey = std::string(kInstallerProductsKey) + "\\" + productId;
            platform::RegKey properties(os);
            if (os.RegOpenKeyExA(HKEY_LOCAL_MACHINE, (productKey + "\\InstallProperties").c_str(), 0, kGatherAccess,
                                 properties.put()) != ERROR_SUCCESS) {
                continue;
            }
            char publisher[MAX_PATH + 1];
            if (ReadText260(os, properties.get(), "Publisher", publisher) != ERROR_SUCCESS) continue;
            if (!ContainsLower(publisher, kPublisherWord)) continue;

            removeRegKeyList.Insert(("HKEY_LOCAL_MACHINE\\" + productKey).c_str());
            TraceWrite("", -1, 0, "ProductBasedMSIRemoval: cleaning MSI registry database with product id '%s'...\n",
                       productId.c_str());
            GatherCurrentVersionInstallerUpgradeCodeKeys(productId.c_str());
            AddClassesInstallerFeaturesKey(productId.c_str());
            GatherClassesInstallerUpgradeCodeKeys(productId.c_str());
            AddClassesInstallerProductsKey(productId.c_str());
            GatherS1518ComponentKeys(productId.c_str());

            char package[MAX_PATH + 1];
            rc = ReadText260(os, properties.get(), "LocalPackage", package);
            if (rc != ERROR_SUCCESS) {
                TraceWrite("", -1, 0,
                           "ProductBasedMSIRemoval: local cache MSI package '%s' retrieve failed with error '%d'...\n",
                           package, static_cast<int>(rc));
                continue;
            }
            TraceWrite("", -1, 0, "ProductBasedMSIRemoval: adding local cache MSI package '%s' for deletion...\n",
                       package);
            // In the form every other file element has, so an ignore entry can
            // keep it, and held to the same guard.
            NormalizeEntry(package);
            std::string resolved;
            const char* reason = guard::ResolvePath(os, package, resolved);
            const std::string why = reason ? reason : FolderGuard().Refuses(resolved);
            if (!why.empty()) {
                ++refused;
                TraceWrite("", -1, 0, "ProductBasedMSIRemoval: refusing to remove '%s': %s\n", package, why.c_str());
                continue;
            }
            expandedFileList.Insert(resolved.c_str());
        }
    }
    GatherInstallerFolderValues();
    GatherMUICaches();
}
