// Registry set-up of the tests: keys and values made in a chosen view, and a
// test's own key that is gone in both views before the test and after it.
// A set-up call that Windows refuses adds a test failure and returns false.
#pragma once
#include <windows.h>

#include <string>

namespace testing_support {

// Creates root\path (and every key above it) in view.
bool CreateKey(HKEY root, const std::string& path, REGSAM view);
// Sets a value of root\path in view, creating the key; an empty name sets
// the unnamed value.
bool SetValue(HKEY root, const std::string& path, const std::string& name, DWORD type, const void* data, DWORD size,
              REGSAM view);
// A REG_SZ value with its terminator.
bool SetText(HKEY root, const std::string& path, const std::string& name, const std::string& text, REGSAM view);
bool KeyExists(HKEY root, const std::string& path, REGSAM view);
bool ValueExists(HKEY root, const std::string& path, const std::string& name, REGSAM view);
// Deletes root\path with its whole tree in both views; a missing key is no
// failure.
void DeleteKeyTree(HKEY root, const std::string& path);

// A test's own key. Keys and values below it are made through the opened key
// by their relative path, so a long relative path is no limit (Wine's ANSI
// calls take at most 260 characters of a full key path).
class TestKey {
public:
    TestKey(HKEY root, std::string path);
    ~TestKey();
    TestKey(const TestKey&) = delete;
    TestKey& operator=(const TestKey&) = delete;

    HKEY Root() const { return root_; }
    const std::string& Path() const { return path_; }
    // path\relative; path itself for an empty relative path.
    std::string Below(const std::string& relative) const;

    bool Create(const std::string& relative, REGSAM view) const;
    bool Set(const std::string& relative, const std::string& name, DWORD type, const void* data, DWORD size,
             REGSAM view) const;
    bool SetText(const std::string& relative, const std::string& name, const std::string& text, REGSAM view) const;
    bool SetDword(const std::string& relative, const std::string& name, DWORD data, REGSAM view) const;
    // Asked by the full path: path\relative within 260 characters.
    bool Exists(const std::string& relative, REGSAM view) const;
    bool HasValue(const std::string& relative, const std::string& name, REGSAM view) const;
    // Deletes the key with its tree in both views now.
    void Delete() const { DeleteKeyTree(root_, path_); }

private:
    HKEY root_;
    std::string path_;
};

// A registry link root\path (64-bit view) that shows root\target, for as long
// as the object lives; root is HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE. Make
// it after the test key it lies in: the link itself goes first, as only it
// can be deleted without the deletion reaching through it.
class KeyLink {
public:
    KeyLink(HKEY root, const std::string& path, const std::string& target);
    ~KeyLink();
    KeyLink(const KeyLink&) = delete;
    KeyLink& operator=(const KeyLink&) = delete;

private:
    HKEY root_;
    std::string path_;
};

// The running user's SID as text ("S-1-5-21-..."), or empty.
std::string UserSid();

}  // namespace testing_support
