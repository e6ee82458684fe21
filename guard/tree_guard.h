// The items a run finds below an entry, in folders other users may write
// to: which of them may be walked, listed, given new permissions and
// scheduled. Names read back from Windows are another user's choice, so a
// decision is made on what the name is stored as and on where it resolves,
// never on the text the ANSI calls show for it.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "platform/handles.h"

namespace platform { class Platform; }

namespace guard {

class TrustedAccounts;

// One name a folder listing gave.
// The text of wide in the code page (text); false when it cannot be had
// exactly: a character the code page lacks, one Windows would replace by a
// best-fit look-alike, or a text that does not convert back to itself. text
// then only shows the name, '?' standing for what is lost.
bool ExactCodePageText(platform::Platform& os, const wchar_t* wide, std::string& text);

struct ListedName {
    // The name in the code page. When faithful, exactly the stored name;
    // otherwise only for the trace, '?' standing for what the code page
    // cannot hold.
    std::string name;
    DWORD attributes = 0;
    // False when the code page cannot hold the name: the ANSI calls would
    // show it with best-fit or default characters (a separator, a dot,
    // another letter), which name another object or none.
    bool faithful = false;
};

// Lists pattern (a fully qualified path in the code page whose last name
// may hold wildcards) through the wide calls, "." and ".." left out, each
// name converted without best fit and checked by converting it back.
// Returns false when the listing could not start, with the last error as
// the listing left it.
bool ListNames(platform::Platform& os, const std::string& pattern, std::vector<ListedName>& names);

// Why path, reached below root (both resolved) while root's tree is
// walked, may not be walked into or given new permissions: it is itself a
// link, or it no longer resolves inside root (a folder on the way was
// swapped for a link). Null when it may.
const char* LeavesTree(platform::Platform& os, const std::string& path, const std::string& root);

// A folder of a walked tree, opened once as the object itself (a link at
// its name is opened as the link, never followed): whether it may be
// walked, who else could have put names in it, and what it holds are all
// read from that one object. Where Windows lacks the by-handle reads (XP),
// each question goes by name instead.
class WalkedFolder {
public:
    WalkedFolder(platform::Platform& os, const std::string& path);
    WalkedFolder(const WalkedFolder&) = delete;
    WalkedFolder& operator=(const WalkedFolder&) = delete;

    // Why the folder, reached below root while root's tree is walked, may
    // not be walked into or given new permissions, as LeavesTree says; null
    // when it may.
    const char* Leaves(const std::string& root);
    // Its names as stored, as ListNames gives them. False when it cannot be
    // listed, with the last error set (ERROR_ACCESS_DENIED when its
    // permissions forbid it). Asked again after its permissions were opened,
    // it lists only the same object.
    bool List(std::vector<ListedName>& names);
    // Why anyone but SYSTEM, Administrators, TrustedInstaller and the
    // running account could have made or moved a name into it, or let
    // others do so; empty when nobody else could.
    std::string OthersMayAdd(const TrustedAccounts& accounts);
    // True when its owner is TrustedInstaller: Windows installed it.
    bool OwnedByTrustedInstaller();

private:
    void Open();

    platform::Platform& os_;
    std::string path_;  // as listed
    std::string real_;  // as this process must name it
    platform::FileHandle handle_;
    DWORD access_ = 0;
    DWORD openError_ = ERROR_SUCCESS;
    bool byHandle_ = false;
};

// True when the file at path has more names than this one (hard links):
// its permissions are those of every name, some of which may lie outside
// the product.
bool HasOtherNames(platform::Platform& os, const std::string& path);

// Why anyone but SYSTEM, Administrators, TrustedInstaller and the running
// account could take folder (resolved, below a drive root) away and put
// something else, a link, under its name before the restart: they may
// remove or rename it (they own it, may delete it or change its
// permissions), or its parent lets them remove what it holds. Empty when
// nobody else can. A deletion at the restart is made by name, through
// every folder above it.
std::string OthersCanReplace(platform::Platform& os, const std::string& folder);

}  // namespace guard
