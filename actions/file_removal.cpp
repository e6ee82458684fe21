// File removal: every path of expandedFileList is handed to the pending-rename
// table, so it disappears at the next restart, deepest paths first. Each
// configured entry is expanded under the name Windows resolves it to.
#include <mbstring.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "actions/run_backup.h"
#include "guard/own_files.h"
#include "guard/path_guard.h"
#include "guard/tree_guard.h"
#include "platform/handles.h"
#include "platform/platform.h"
#include "profile/engine.h"
#include "profile/entry_text.h"
#include "trace/trace.h"

namespace {

// The expansion of one configured entry: the guard and the ignore list's
// forms taken once, the tree listed under its resolved name.
class TreeWalk {
public:
    explicit TreeWalk(CNuke& nuke) : nuke_(nuke), folders_(nuke.FolderGuard()) {
        const char* ignore = nullptr;
        for (DWORD rc = nuke.ignoreFileList.GetFirst(ignore); rc == ERROR_SUCCESS;
             rc = nuke.ignoreFileList.GetNext(ignore)) {
            if (*ignore) ignores_.push_back(guard::UpperText(ignore));
        }
    }

    // Lists entry (resolved) into expandedFileList with, for a folder, its
    // whole tree, and opens each folder's permissions unless it is kept.
    // True when entry is, or holds, something that stays.
    bool Expand(const std::string& entry, DWORD attributes) {
        if (root_.empty()) root_ = entry;
        const std::string why = folders_.Refuses(entry);
        if (!why.empty()) {
            TraceWrite("", -1, 0, "ExpandRemoveFileEntry: refusing to remove '%s': %s\n", entry.c_str(), why.c_str());
            return true;
        }
        platform::Platform& os = nuke_.os;
        const bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
        // A folder below the entry is walked only while it still resolves
        // where it was listed: one swapped for a link since is left alone.
        if (folder && entry != root_) {
            if (const char* leaves = guard::LeavesTree(os, entry, root_)) {
                TraceWrite("", -1, 0, "ExpandRemoveFileEntry: leaving '%s' alone: %s\n", entry.c_str(), leaves);
                return true;
            }
        }
        if (nuke_.expandedFileList.Insert(entry.c_str()) != ERROR_SUCCESS) return true;
        const bool ignored = Ignored(entry);
        // A link (symbolic link, junction, mount point) is removed itself.
        // Its target may lie anywhere, so it is neither followed nor given a
        // new ACL (setting one through the link would change the target's).
        if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            nuke_.keptPermissions.insert(entry);
            return ignored;
        }
        if (!folder) return ignored;

        // Listed where the restart deletes: the real System32, not the
        // folder a 32-bit program is shown. Listed by the names as stored:
        // the ANSI calls would show a name the code page cannot hold with
        // look-alike characters, separators and dots among them.
        const std::string pattern = guard::Unredirected(os, entry) + "\\*";
        std::vector<guard::ListedName> names;
        bool listed = guard::ListNames(os, pattern, names);
        bool opened = false;
        if (!listed && os.GetLastError() == ERROR_ACCESS_DENIED && !ignored && !MayHoldIgnored(entry)) {
            // A folder that cannot be listed is opened first, when nothing
            // that stays can lie in it.
            DropFileAcl(entry);
            opened = true;
            listed = guard::ListNames(os, pattern, names);
        }
        bool kept = ignored || (!listed && !opened);
        for (const guard::ListedName& name : names) {
            if (!name.faithful) {
                TraceWrite("", -1, 0,
                           "ExpandRemoveFileEntry: leaving '%s\\%s' alone: its name does not fit the code page; "
                           "'%s' stays after the restart\n",
                           entry.c_str(), name.name.c_str(), entry.c_str());
                kept = true;
                continue;
            }
            const std::string child = entry + "\\" + guard::UpperText(name.name.c_str());
            if (child.size() >= MAX_PATH) {
                TraceWrite("", -1, 0, "ExpandRemoveFileEntry: leaving '%s' alone: it is longer than a path may be\n",
                           child.c_str());
                kept = true;
                continue;
            }
            const bool link = (name.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
            if ((name.attributes & FILE_ATTRIBUTE_DIRECTORY) && !link) {
                if (Expand(child, name.attributes)) kept = true;
                continue;
            }
            if (nuke_.expandedFileList.Insert(child.c_str()) != ERROR_SUCCESS) return true;
            if (link) nuke_.keptPermissions.insert(child);
            if (Ignored(child)) {
                kept = true;
            } else if (!kept && !link && guard::HasOtherNames(os, child)) {
                // The folder's new list would be handed down to this file,
                // and so to its other names, which may lie anywhere.
                TraceWrite("", -1, 0,
                           "ExpandRemoveFileEntry: '%s' has other names (hard links), so the permissions of '%s' "
                           "stay as they are\n",
                           child.c_str(), entry.c_str());
                kept = true;
            }
        }
        // A folder's new DACL is inheritable, and Windows hands it down to
        // every child that inherits: a folder that holds something that
        // stays keeps its permissions, and so does everything above it.
        if (kept) {
            nuke_.keptPermissions.insert(entry);
        } else if (!opened) {
            DropFileAcl(entry);
        }
        return kept;
    }

private:
    // New permissions go only to a folder that still resolves where it was
    // listed, decided right before they are set.
    void DropFileAcl(const std::string& folder) {
        if (const char* leaves = guard::LeavesTree(nuke_.os, folder, root_)) {
            TraceWrite("", -1, 0, "DropFileAcl: leaving the permissions of '%s' as they are: %s\n", folder.c_str(),
                       leaves);
            nuke_.keptPermissions.insert(folder);
            return;
        }
        nuke_.DropFileAcl(folder.c_str());
    }
    bool Ignored(const std::string& path) const {
        for (const std::string& ignore : ignores_) {
            if (guard::ContainsText(path, ignore)) return true;
        }
        return false;
    }
    // A folder that cannot be listed may hold an ignored item when a full
    // path ignore lies below it, or when any ignore is a fragment that a
    // name inside could hold.
    bool MayHoldIgnored(const std::string& folder) const {
        for (const std::string& ignore : ignores_) {
            if (!guard::IsFullyQualified(ignore.c_str()) || guard::IsInside(ignore, folder)) return true;
        }
        return false;
    }

    CNuke& nuke_;
    const guard::FolderGuard& folders_;
    std::vector<std::string> ignores_;
    std::string root_;  // the entry, resolved: nothing outside it is walked
};

}  // namespace

DWORD CNuke::CleanupFiles() {
    const guard::FolderGuard& folders = FolderGuard();
    DWORD counter = 0;
    const char* element = nullptr;
    for (DWORD rc = expandedFileList.GetLast(element); rc == ERROR_SUCCESS;
         rc = expandedFileList.GetPrevious(element), ++counter) {
        if (counter % 20 == 0 && IsCancelled()) {
            TraceWrite("", -1, 0, "CleanupFiles deleted '%d' values until uninstallation was cancelled by user\n",
                       static_cast<int>(counter));
            return ERROR_CANCELLED;
        }
        // The last look before the restart acts on the path. The expansion
        // lists resolved paths; one spelled otherwise is resolved here.
        std::string why;
        std::string resolved = guard::UpperText(element);
        if (guard::NeedsResolving(element)) {
            const char* reason = guard::ResolvePath(os, element, resolved);
            if (reason) why = reason;
        }
        if (why.empty()) why = folders.Refuses(resolved);
        if (!why.empty()) {
            TraceWrite("", -1, 0, "CleanupFiles: refusing to remove '%s': %s\n", element, why.c_str());
            continue;
        }
        ScheduleFileRemoval(element);
    }
    TraceWrite("", -1, 0, "CleanupFiles was successful with '%d' deleted values\n", static_cast<int>(counter));
    return ERROR_SUCCESS;
}

void CNuke::ScheduleFileRemoval(const char* path) {
    // A read-only file could not be deleted at the restart; every other
    // attribute is kept. A path that is gone is still scheduled.
    const std::string real = guard::Unredirected(os, path);
    const DWORD attributes = os.GetFileAttributesA(real.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        os.SetFileAttributesA(real.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    }

    if (os.MoveFileExA(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
        TraceWrite("", -1, 0, "MoveFileEx for '%s' was successful\n", path);
        Backup().ScheduledFile(path);
        return;
    }
    TraceWrite("", -1, 0, "MoveFileEx for '%s' FAILED. Trying again with DropFileAcl...\n", path);
    if (DropFileAcl(path) == 0) {
        TraceWrite("", -1, 0, "DropFileAcl for '%s' FAILED\n", path);
        return;
    }
    TraceWrite("", -1, 0, "DropFileAcl for '%s' was successful, trying again MoveFileEx...\n", path);
    if (os.MoveFileExA(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
        TraceWrite("", -1, 0, "MoveFileEx (2nd try) for '%s' was successful\n", path);
        Backup().ScheduledFile(path);
    } else {
        TraceWrite("", -1, 0, "MoveFileEx (2nd try) for '%s' FAILED\n", path);
    }
}

DWORD CNuke::ExpandRemoveFileEntry(char* entry) {
    NormalizeEntry(entry);
    // The tree is listed under the entry's resolved name, so "." and ".."
    // segments, short names or a link along the way cannot hide a path
    // from the guard or the ignore list.
    std::string resolved;
    if (const char* reason = guard::ResolvePath(os, entry ? entry : "", resolved)) {
        TraceWrite("", -1, 0, "ExpandRemoveFileEntry: refusing to remove '%s': %s\n", entry ? entry : "", reason);
        return ERROR_INVALID_NAME;
    }
    const std::string why = FolderGuard().Refuses(resolved);
    if (!why.empty()) {
        TraceWrite("", -1, 0, "ExpandRemoveFileEntry: refusing to remove '%s': %s\n", entry, why.c_str());
        return ERROR_ACCESS_DENIED;
    }
    const DWORD attributes = os.GetFileAttributesA(guard::Unredirected(os, resolved).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return os.GetLastError();
    TreeWalk(*this).Expand(resolved, attributes);
    return ERROR_SUCCESS;
}
