#include "platform/registry_names.h"

namespace platform {

namespace {

struct Root {
    HKEY key;
    const char* name;
    const wchar_t* wide;
};

const Root kRoots[] = {
    {HKEY_CLASSES_ROOT, "HKEY_CLASSES_ROOT", L"HKEY_CLASSES_ROOT"},
    {HKEY_CURRENT_USER, "HKEY_CURRENT_USER", L"HKEY_CURRENT_USER"},
    {HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE", L"HKEY_LOCAL_MACHINE"},
    {HKEY_USERS, "HKEY_USERS", L"HKEY_USERS"},
    {HKEY_CURRENT_CONFIG, "HKEY_CURRENT_CONFIG", L"HKEY_CURRENT_CONFIG"},
};

const Root* Find(HKEY key) {
    for (const Root& root : kRoots) {
        if (root.key == key) return &root;
    }
    return nullptr;
}

}  // namespace

const char* RootKeyName(HKEY root) {
    const Root* found = Find(root);
    return found ? found->name : nullptr;
}

const wchar_t* RootKeyNameW(HKEY root) {
    const Root* found = Find(root);
    return found ? found->wide : nullptr;
}

}  // namespace platform
