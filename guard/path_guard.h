// The file side of the guard: what a path stands for once Windows has
// resolved it, and the folders no removal may take. Every decision to delete
// a file or folder, or to change its permissions, is made on this resolved
// form, never on how an entry happens to be spelled.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace platform { class Platform; }

namespace guard {

// Upper-cases a copy as the removal lists do (_mbsupr, multibyte aware).
std::string UpperText(const char* text);
// The names of a text split at backslashes, and at slashes too with slashes
// (a trail byte of the code page is no separator); empty names (doubled or
// trailing separators) are dropped.
std::vector<std::string> SplitNames(const char* text, bool slashes);

// True when needle occurs in text, letters compared as the lists compare
// them (both upper-cased). An empty needle never matches.
bool ContainsText(const std::string& upperText, const std::string& upperNeedle);

// True when path lies below folder (both in the same form): folder is a
// proper prefix of path that ends at a separator.
bool IsInside(const std::string& path, const std::string& folder);

// How many characters a name pattern has before its first wildcard (all of
// them when it has none). Multibyte aware.
size_t LiteralStart(const char* pattern);

// A wildcard pattern directly inside a folder or key that holds what is not
// the product's must begin with this many literal characters.
constexpr size_t kLiteralStartNeeded = 3;

// True when pattern holds a word of its own: three letters in a row,
// outside wildcards and path punctuation, that are not a file extension
// (".SYS" or any other short word after a dot, or "EXE" written alone). "*VELMORAN*" holds one; "*.SYS*",
// "*EXE*" and "*\\*" do not.
bool HoldsWord(const char* pattern);

// The resolved form of a fully qualified local path ("C:\..."), upper case:
// "." and ".." segments, doubled separators, trailing dots and blanks and
// short names resolved, and every folder above the last name taken as the
// final folder Windows reaches through links and junctions. The last name
// itself is kept: a link is removed as itself, never followed. Returns null
// with the form in resolved, or the reason the path is refused (resolved is
// then empty): anything but a drive letter, a colon and a backslash at the
// start (relative, rooted without a drive, UNC, "\\?\", "\??\", "\\.\"), a
// colon after the drive (stream names), or a link along the path that this
// Windows cannot resolve.
const char* ResolvePath(platform::Platform& os, const char* path, std::string& resolved);

// The same, with the last name resolved too when it is a link: the folder
// the path finally reaches.
const char* ResolveFinalPath(platform::Platform& os, const char* path, std::string& resolved);

// A 32-bit program on 64-bit Windows that opens System32 is sent to
// SysWOW64 by the file system redirector; the deletions at the restart are
// not. So a path in System32 is opened through Sysnative, which names the
// real folder to such a program: path in that form, or path itself where
// nothing is redirected. Only for opening: lists and the restart's table
// keep the System32 name.
std::string Unredirected(platform::Platform& os, const std::string& path);

// True for "X:" followed by a backslash, the only form a removal may name.
bool IsFullyQualified(const char* path);

// Why a file ignore entry could never match what a removal lists, which is
// full paths in drive-letter form; null when it may. written: the entry as
// the configuration spells it (a device or network path, "\\\\?\\C:\\..." or
// "\\\\server\\C$\\...", is seen only there); otherwise the entry as its
// handler listed it: relative to a drive's current folder ("C:X"), a
// %NAME% left unexpanded, or '.' and '..' names in text that is not a full
// path. Text without any of these is a fragment that keeps every path
// holding it.
const char* IgnoreNeverMatches(const char* entry, bool written);

// False when path already has the form ResolvePath gives for a path without
// links (fully qualified, no "." or ".." names, no doubled separator, no
// name ending in a dot or blank, no short name); true when it must be
// resolved before a decision is made on it.
bool NeedsResolving(const char* path);

// Every profile folder Windows records, as it records them (not resolved),
// upper case and without a trailing separator: each ProfileList entry's
// profile path, the Default profile new profiles are copied from, and the
// running account's own profile (current, when not empty). Each once.
std::vector<std::string> RecordedProfiles(platform::Platform& os, const std::string& current);

// The running account's profile folder as Windows names it (the shell's,
// else USERPROFILE), upper case; empty when neither is known.
std::string CurrentProfile(platform::Platform& os);

// The folders whose removal would wreck Windows or the users' data: drive
// roots, the Windows folder and its system folders, the Program Files
// folders, the profiles folder and every profile, and every folder that a
// folder macro of the configuration names (in each profile, for the
// per-user ones). Each is resolved once, when the guard is made.
class FolderGuard {
public:
    // macroFolders: the folders the configuration's folder macros stand for.
    FolderGuard(platform::Platform& os, const std::vector<std::string>& macroFolders);

    // Why the resolved path may not be removed ("it is the Windows
    // folder"), or empty.
    std::string Refuses(const std::string& resolved) const;

    // Why a file pattern may not be listed, or empty: its first wildcard
    // name lies directly inside a protected folder or a drive root and
    // begins with fewer than three literal characters. A pattern without a
    // wildcard, or one that is not fully qualified, passes here.
    std::string RefusesPattern(const char* pattern) const;

private:
    struct Folder {
        std::string path;   // resolved
        const char* what;   // "the Windows folder", ...
    };
    void Add(const std::string& path, const char* what);
    bool IsProfile(const std::string& resolved) const;

    platform::Platform& os_;
    std::vector<Folder> folders_;
    std::vector<std::string> profiles_;  // resolved profile folders
    std::vector<std::string> perUser_;   // a per-user folder's tail below its profile ("\APPDATA\ROAMING")
    std::string profilesFolder_;         // resolved; empty when unknown
};

}  // namespace guard
