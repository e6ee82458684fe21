// Registry keys and values laid for tests and for the demo's machine, in a
// chosen view (0: the program's own). Nothing here reports a failure: the
// answer says whether Windows did it (tests/support/test_key.h reports).
#pragma once
#include <windows.h>

#include <string>

namespace testing_support {

// Creates root\path (and every key above it) in view; the names of relative,
// when given, are created one by one below it (a long path is no limit:
// Wine's ANSI calls take at most 260 characters of a path). Windows' answer.
LSTATUS MakeRegistryKey(HKEY root, const std::string& path, const std::string& relative, REGSAM view);
// Sets a value of root\path\relative in view, creating the keys; an empty
// name sets the unnamed value.
LSTATUS SetRegistryValue(HKEY root, const std::string& path, const std::string& relative, const std::string& name,
                         DWORD type, const void* data, DWORD size, REGSAM view);
bool RegistryKeyExists(HKEY root, const std::string& path, REGSAM view);
bool RegistryValueExists(HKEY root, const std::string& path, const std::string& name, REGSAM view);
// Deletes root\path with its whole tree in view; a missing key is no error.
void DeleteRegistryTree(HKEY root, const std::string& path, REGSAM view);

}  // namespace testing_support
