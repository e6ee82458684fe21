// A picture of a machine for a before-and-after comparison: one entry per
// key, value, file and folder, by a name that says where it is ("key
// HKEY_LOCAL_MACHINE\SOFTWARE\X (64-bit view)", "value ... : NAME",
// "file C:\..."), with what it holds.
#pragma once
#include <windows.h>

#include <map>
#include <string>
#include <vector>

namespace testing_support {

using Picture = std::map<std::string, std::string>;

// What a picture leaves out, and what it leaves out of each entry.
struct PictureRules {
    // Upper-case full names (a key or value as "HKEY_...\KEY\NAME", a file
    // or folder as its path) left out with everything below them.
    std::vector<std::string> skipped;
    // A key's last-write time and a folder's times: they change when
    // something below them goes, so a picture of what must stay as it was
    // around what goes leaves them out.
    bool parentTimes = true;
};

// The bytes as lower-case hex digits.
std::string Hex(const BYTE* data, DWORD size);

// A key's name as pictures and the preview report write it: upper case, with
// its view (none below HKEY_CURRENT_USER, which both views share).
std::string KeyName(const std::string& key, REGSAM view);

// root\path (named rootName) in view with its values and whole subtree.
void ExportKey(HKEY root, const std::string& rootName, const std::string& path, REGSAM view, Picture& picture,
               const PictureRules& rules = PictureRules());
// The file or folder at path with its whole tree; a link is pictured, not
// followed.
void ListFiles(const std::string& path, Picture& picture, const PictureRules& rules = PictureRules());

// "- name = what" for what only before has (or had otherwise), "+ ..." for
// what only after has; empty when the pictures are equal.
std::string Differences(const Picture& before, const Picture& after);

}  // namespace testing_support
