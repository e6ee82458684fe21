// File removal: every path of expandedFileList is handed to the pending-rename
// table, so it disappears at the next restart, deepest paths first. Each
// configured entry is expanded under the name Windows resolves it to.
#include <mbstring.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "actions/run_backup.h"
#include "guard/own_files.h"
#include "guard/path_guard.h"
#include "guard/tree_guard.h"
#include "platform/handles.h"
#include "platform/pending_deletions.h"
#include "platform/platform.h"
#include "platform/wide_text.h"
#include "profile/engine.h"
#include "profile/entry_text.h"
#include "trace/trace.h"

namespace {

// The expansion of one configured entry: the guard and the ignore list's
// forms taken once, the tree listed under its resolved name.
class TreeWalk {
public:
    explicit TreeWalk(CNuke& nuke) : nuke_(nuke), folders_(nuke.FolderGuard()), trusted_(nuke.os) {
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
            ++nuke_.refused;
            TraceWrite("", -1, 0, "ExpandRemoveFileEntry: refusing to remove '%s': %s\n", entry.c_str(), why.c_str());
            return true;
        }
        platform::Platform& os = nuke_.os;
        const bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
        // A folder is looked at, listed and judged through one open of the
        // object itself. One below the entry is walked only while it still
        // resolves where it was listed: one swapped for a link since is left
        // alone.
        std::optional<guard::WalkedFolder> look;
        if (folder) {
            look.emplace(os, entry);
            if (entry != root_) {
                if (const char* leaves = look->Leaves(root_)) {
                    TraceWrite("", -1, 0, "ExpandRemoveFileEntry: leaving '%s' alone: %s\n", entry.c_str(), leaves);
                    return true;
                }
            }
        }
        // What Windows installed stays, with its permissions: the entry
        // itself and every folder walked are asked (files inside a folder
        // go with it).
        const bool windowsOwn = folder ? look->OwnedByTrustedInstaller()
                                       : entry == root_ && guard::OwnedByTrustedInstaller(os, entry);
        if (windowsOwn) {
            ++nuke_.refused;
            TraceWrite("", -1, 0, "ExpandRemoveFileEntry: refusing to remove '%s': it is Windows' own (its owner is "
                       "TrustedInstaller)\n", entry.c_str());
            return true;
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
        std::vector<guard::ListedName> names;
        bool listed = look->List(names);
        bool opened = false;
        if (!listed && os.GetLastError() == ERROR_ACCESS_DENIED && !ignored && !MayHoldIgnored(entry)) {
            // A folder that cannot be listed is opened first, when nothing
            // that stays can lie in it.
            DropFileAcl(entry);
            opened = true;
            listed = look->List(names);
        }
        // A file with other names shares its permissions with all of them.
        // Only someone who could put a name in this folder can have made
        // one lead elsewhere, so the files are counted only where anyone but
        // the trusted accounts could have.
        int othersMayAdd = -1;  // not asked yet
        const auto mayHaveOtherNames = [&](const std::string& file) {
            if (othersMayAdd < 0) othersMayAdd = look->OthersMayAdd(trusted_).empty() ? 0 : 1;
            return othersMayAdd == 1 && guard::HasOtherNames(os, file);
        };
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
            } else if (!kept && !link && mayHaveOtherNames(child)) {
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
    // New permissions go only to a folder that is no link, looked at right
    // before they are set; where it resolves was decided when it was walked
    // into (a full look costs a final-path query per folder).
    void DropFileAcl(const std::string& folder) {
        const DWORD attributes = nuke_.os.GetFileAttributesA(guard::Unredirected(nuke_.os, folder).c_str());
        const char* leaves = attributes == INVALID_FILE_ATTRIBUTES ? "it is gone"
                             : (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? "it is a link now"
                                                                           : nullptr;
        if (leaves) {
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
    const guard::TrustedAccounts trusted_;
    std::vector<std::string> ignores_;
    std::string root_;  // the entry, resolved: nothing outside it is walked
};

}  // namespace

namespace {

std::string ParentFolder(const std::string& path) {
    const unsigned char* base = reinterpret_cast<const unsigned char*>(path.c_str());
    const unsigned char* last = _mbsrchr(base, '\\');
    if (!last) return std::string();
    const size_t at = static_cast<size_t>(last - base);
    return at <= 2 ? path.substr(0, 3) : path.substr(0, at);
}

// The deletions at the restart are made by name, through every folder on
// the way. A tree below a folder that other users can rename or replace
// (a profile, a loosely permitted data folder) is moved whole into a folder
// of the run's own before it is scheduled, so nobody else can put a link in
// its way until the restart; trees below folders only administrators can
// change are scheduled where they are.
class Holding {
public:
    explicit Holding(CNuke& nuke) : nuke_(nuke), os_(nuke.os) {}

    // Why another user could swap a folder along path (above its last name)
    // before the restart, or empty.
    std::string ChainRisk(const std::string& path) {
        std::vector<std::string> folders;
        for (std::string folder = ParentFolder(path); folder.size() > 3; folder = ParentFolder(folder)) {
            folders.push_back(folder);
        }
        // From the drive down: the first one decides.
        for (auto it = folders.rbegin(); it != folders.rend(); ++it) {
            const std::string why = Replaceable(*it);
            if (!why.empty()) return why;
        }
        return std::string();
    }
    std::string Replaceable(const std::string& folder) {
        auto found = replaceable_.find(folder);
        if (found != replaceable_.end()) return found->second;
        return replaceable_[folder] = guard::OthersCanReplace(os_, folder);
    }

    // Moves path (resolved) into a holding folder on its volume through a
    // handle on the object itself, never following a link at its name.
    // Returns the new path, or empty with why.
    std::string Move(const std::string& path, std::string& why) {
        const std::string hold = Folder(path, why);
        if (hold.empty()) return std::string();
        const std::string target = hold + "\\" + std::to_string(++moved_);
        const std::string real = guard::Unredirected(os_, path);
        platform::FileHandle object(os_, os_.CreateFileA(real.c_str(), DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                        OPEN_EXISTING,
                                                        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                                        nullptr));
        if (!object) {
            why = "it cannot be opened to be moved (error " + std::to_string(os_.GetLastError()) + ")";
            return std::string();
        }
        // The object opened is the one that was walked, not one put under
        // its name since.
        char final[1024] = {};
        const DWORD n = os_.GetFinalPathNameByHandleA(object.get(), final, sizeof final, 0);
        std::string opened = n > 0 && n < sizeof final ? guard::UpperText(final) : std::string();
        if (opened.compare(0, 4, "\\\\?\\") == 0) opened.erase(0, 4);
        if (opened != guard::UpperText(path.c_str()) && opened != guard::UpperText(real.c_str())) {
            why = "what its name opens now is not what was listed";
            return std::string();
        }
        const std::wstring name = L"\\??\\" + platform::WideText(os_, target);
        std::vector<BYTE> buffer(sizeof(FILE_RENAME_INFO) + name.size() * sizeof(wchar_t), 0);
        auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
        rename->ReplaceIfExists = FALSE;
        rename->RootDirectory = nullptr;
        rename->FileNameLength = static_cast<DWORD>(name.size() * sizeof(wchar_t));
        std::memcpy(rename->FileName, name.c_str(), name.size() * sizeof(wchar_t));
        if (!os_.SetFileInformationByHandle(object.get(), FileRenameInfo, rename, static_cast<DWORD>(buffer.size()))) {
            why = "it could not be moved (error " + std::to_string(os_.GetLastError()) +
                  "; a file in use, or another volume)";
            return std::string();
        }
        return target;
    }

    // Moves a held tree back to where it was, when that place still
    // resolves to itself; false with why otherwise.
    bool PutBack(const std::string& held, const std::string& original, std::string& why) {
        std::string resolved;
        const std::string parent = ParentFolder(original);
        if (const char* reason = guard::ResolveFinalPath(os_, parent.c_str(), resolved)) {
            why = reason;
            return false;
        }
        if (resolved != guard::UpperText(parent.c_str())) {
            why = "the folder it came from is a link now";
            return false;
        }
        if (!os_.MoveFileExA(held.c_str(), original.c_str(), 0)) {
            why = "the move failed with error " + std::to_string(os_.GetLastError());
            return false;
        }
        return true;
    }

    // The holding folders made, each to go at the restart after what it holds.
    const std::vector<std::string>& Folders() const { return made_; }

private:
    // The holding folder of path's volume: made fresh for SYSTEM and
    // Administrators alone, in the run's own folder on its volume, else at
    // the volume's root; used only when nobody else can swap a folder
    // along it.
    std::string Folder(const std::string& path, std::string& why) {
        const char drive = path[0];
        auto found = folders_.find(drive);
        if (found != folders_.end()) {
            if (found->second.empty()) why = failed_[drive];
            return found->second;
        }
        char common[MAX_PATH] = {};
        os_.SHGetSpecialFolderPathA(nullptr, common, CSIDL_COMMON_APPDATA, FALSE);
        std::string parent = guard::UpperText(common);
        parent = !parent.empty() && parent[0] == drive ? parent + "\\" + guard::UpperText(kTraceFolderName) + "\\"
                                                       : std::string(1, drive) + ":\\";
        std::wstring made;
        const DWORD rc = guard::CreatePrivateFolder(os_, platform::WideText(os_, parent), made);
        std::string folder;
        if (rc != ERROR_SUCCESS) {
            why = "no holding folder could be made in '" + parent + "' (error " + std::to_string(rc) + ")";
        } else {
            folder = guard::UpperText(platform::NarrowText(os_, made).c_str());
            while (!folder.empty() && folder.back() == '\\') folder.pop_back();
            const std::string risk = ChainRisk(folder + "\\X");
            if (!risk.empty()) {
                os_.RemoveDirectoryW(made.c_str());
                why = "the holding folder '" + folder + "' could be swapped: " + risk;
                folder.clear();
            } else {
                made_.push_back(folder);
                TraceWrite("", -1, 0, "CleanupFiles: '%s' holds what other users could steer until the restart\n",
                           folder.c_str());
            }
        }
        folders_[drive] = folder;
        if (folder.empty()) failed_[drive] = why;
        return folder;
    }

    CNuke& nuke_;
    platform::Platform& os_;
    std::map<std::string, std::string> replaceable_;
    std::map<char, std::string> folders_;
    std::map<char, std::string> failed_;
    std::vector<std::string> made_;
    unsigned moved_ = 0;
};

}  // namespace

DWORD CNuke::CleanupFiles() {
    const guard::FolderGuard& folders = FolderGuard();
    // The elements in the order they are scheduled: deepest first.
    struct Item {
        std::string listed;    // as listed
        std::string refusal;   // why it is not scheduled at all
        std::string schedule;  // the name it is scheduled under; empty: left in place
        size_t top = 0;        // its held tree (index into tops), 0 for none
    };
    std::vector<Item> items;
    const char* element = nullptr;
    for (DWORD rc = expandedFileList.GetLast(element); rc == ERROR_SUCCESS; rc = expandedFileList.GetPrevious(element)) {
        Item item;
        item.listed = element;
        // The last look before the restart acts on the path. The expansion
        // lists resolved paths; one spelled otherwise is resolved here.
        std::string resolved = guard::UpperText(element);
        if (guard::NeedsResolving(element)) {
            const char* reason = guard::ResolvePath(os, element, resolved);
            if (reason) item.refusal = reason;
        }
        if (item.refusal.empty()) item.refusal = folders.Refuses(resolved);
        items.push_back(item);
    }
    // The cancel test before element 0 comes before anything is held, so a
    // run cancelled there moves nothing.
    if (!items.empty() && IsCancelled()) {
        TraceWrite("", -1, 0, "CleanupFiles deleted '0' values until uninstallation was cancelled by user\n");
        return ERROR_CANCELLED;
    }

    // What other users could steer is held first: each tree is moved from
    // its highest folder that the run lists whole (nothing in it stays)
    // and below which nobody else can swap a folder.
    Holding holding(*this);
    struct Top {
        std::string listed, held, why;
    };
    std::vector<Top> tops(1);
    std::map<std::string, size_t> topIndex;
    for (Item& item : items) {
        if (!item.refusal.empty()) continue;
        const std::string risk = holding.ChainRisk(item.listed);
        if (risk.empty()) {
            item.schedule = item.listed;
            continue;
        }
        std::string top = item.listed;
        for (std::string parent = ParentFolder(top);
             parent.size() > 3 && expandedFileList.Contains(parent.c_str()) && !keptPermissions.count(parent) &&
             holding.Replaceable(top).empty();
             parent = ParentFolder(top)) {
            top = parent;
        }
        auto found = topIndex.find(top);
        if (found == topIndex.end()) {
            found = topIndex.emplace(top, tops.size()).first;
            tops.push_back({top, std::string(), risk});
        }
        item.top = found->second;
    }
    // Highest trees first; a tree inside one moved already is moved from
    // where it is now.
    std::vector<std::pair<std::string, std::string>> moves;  // from, to
    const auto current = [&moves](std::string path) {
        for (const auto& move : moves) {
            if (path == move.first || guard::IsInside(path, move.first)) path = move.second + path.substr(move.first.size());
        }
        return path;
    };
    for (const auto& entry : topIndex) {
        Top& top = tops[entry.second];
        const std::string from = current(top.listed);
        std::string why;
        top.held = holding.Move(from, why);
        if (top.held.empty()) {
            TraceWrite("", -1, 0, "CleanupFiles: leaving '%s' in place, it is not removed: other users could steer "
                       "its deletion at the restart (%s), and %s\n",
                       top.listed.c_str(), top.why.c_str(), why.c_str());
            continue;
        }
        moves.emplace_back(from, top.held);
        TraceWrite("", -1, 0, "CleanupFiles: moved '%s' to '%s' until the restart: other users could steer its deletion "
                   "where it was (%s)\n",
                   top.listed.c_str(), top.held.c_str(), top.why.c_str());
        Backup().HeldTree(top.held, top.listed);
    }
    for (Item& item : items) {
        if (item.top == 0) continue;
        const std::string now = current(item.listed);
        if (now != item.listed) item.schedule = now;
    }
    for (const std::string& folder : holding.Folders()) {
        Item item;
        item.listed = item.schedule = folder;
        items.push_back(item);
    }

    // The paths go to the pending renames together, in the order they come;
    // one that only MoveFileExA itself can judge goes on its own, after
    // those before it. A cancel keeps scheduled what came before it.
    std::vector<std::pair<std::string, bool>> batch;
    const DWORD rc = CleanupLoop(
        "CleanupFiles", items.size(), true,
        [&](size_t index) {
            const Item& item = items[index];
            if (!item.refusal.empty()) {
                ++refused;
                TraceWrite("", -1, 0, "CleanupFiles: refusing to remove '%s': %s\n", item.listed.c_str(),
                           item.refusal.c_str());
                return true;
            }
            if (item.schedule.empty()) {
                TraceWrite("", -1, 0, "CleanupFiles: '%s' is not scheduled: it stays where it was\n",
                           item.listed.c_str());
                return true;
            }
            std::wstring ntName;
            if (platform::PendingDeletionName(item.schedule, ntName)) {
                batch.emplace_back(item.schedule, PrepareFileRemoval(item.schedule.c_str()));
                return true;
            }
            ScheduleFileRemovals(batch);
            ScheduleFileRemoval(item.schedule.c_str());
            return true;
        },
        [&] { ScheduleFileRemovals(batch); });
    if (rc == ERROR_CANCELLED) {
        // A held tree goes back where it was: a cancelled run leaves no
        // one's files in its holding folder.
        for (size_t i = tops.size(); i-- > 1;) {
            if (tops[i].held.empty()) continue;
            std::string why;
            if (holding.PutBack(tops[i].held, tops[i].listed, why)) {
                TraceWrite("", -1, 0, "CleanupFiles: moved '%s' back to '%s'\n", tops[i].held.c_str(),
                           tops[i].listed.c_str());
            } else {
                TraceWrite("", -1, 0, "CleanupFiles: '%s' stays in '%s': it could not go back (%s)\n",
                           tops[i].listed.c_str(), tops[i].held.c_str(), why.c_str());
            }
        }
    }
    return rc;
}

namespace {

bool IsEmptyFolder(platform::Platform& os, const std::string& folder) {
    WIN32_FIND_DATAA found = {};
    platform::FindHandle find(os, os.FindFirstFileA((folder + "\\*").c_str(), &found));
    if (!find) return false;
    do {
        const std::string name = found.cFileName;
        if (name != "." && name != "..") return false;
    } while (os.FindNextFileA(find.get(), &found));
    return true;
}

}  // namespace

bool CNuke::PrepareFileRemoval(const char* path) {
    // A read-only file could not be deleted at the restart; every other
    // attribute is kept. A path that is gone is still scheduled.
    const std::string real = guard::Unredirected(os, path);
    const DWORD attributes = os.GetFileAttributesA(real.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        os.SetFileAttributesA(real.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    }
    // Scheduling a path that is gone changes nothing, and neither does a
    // folder that holds something: what is in it is scheduled by itself or
    // stays, and so then does the folder. A run after the restart then
    // finds nothing to do.
    return attributes != INVALID_FILE_ATTRIBUTES &&
           ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 || IsEmptyFolder(os, real));
}

void CNuke::ScheduleFileRemovals(std::vector<std::pair<std::string, bool>>& batch) {
    if (batch.empty()) return;
    std::vector<std::string> paths;
    paths.reserve(batch.size());
    for (const auto& item : batch) paths.push_back(item.first);
    const DWORD start = os.GetTickCount();
    const DWORD rc = os.ScheduleDeletionsAtRestart(paths);
    const DWORD took = os.GetTickCount() - start;
    if (rc == ERROR_SUCCESS) {
        TraceWrite("", -1, 0, "CleanupFiles: %u paths written to the deletions at the restart in one write (%lu ms)\n",
                   static_cast<unsigned>(batch.size()), static_cast<unsigned long>(took));
        for (const auto& item : batch) {
            if (item.second) ++scheduled;
            TraceWrite("", -1, 0, "MoveFileEx for '%s' was successful\n", item.first.c_str());
        }
        Backup().ScheduledFiles(paths);
    } else if (rc == ERROR_INVALID_DATA) {
        // MoveFileExA would append to such a list all the same, and pair a
        // path with another program's, turning a deletion into a rename:
        // nothing is added to it, by either way.
        PendingRenamesUnreadable(batch);
    } else {
        TraceWrite("", -1, 0, "CleanupFiles: the %u paths could not be written to the deletions at the restart "
                   "(error %lu after %lu ms): each is tried on its own\n",
                   static_cast<unsigned>(batch.size()), static_cast<unsigned long>(rc),
                   static_cast<unsigned long>(took));
        for (const auto& item : batch) RetryFileRemoval(item.first.c_str(), item.second);
    }
    batch.clear();
}

void CNuke::PendingRenamesUnreadable(const std::vector<std::pair<std::string, bool>>& paths) {
    TraceWrite("", -1, 0, "CleanupFiles: the deletions at the restart (PendingFileRenameOperations) are not a list of "
               "pairs, or not of the type Windows reads; anything added would pair with another program's entry, so "
               "%u paths are not scheduled\n",
               static_cast<unsigned>(paths.size()));
    for (const auto& path : paths) {
        if (path.second) ++failures;  // as a failed call counts it: what stands there to be deleted
        TraceWrite("", -1, 0, "CleanupFiles: '%s' is not scheduled for deletion\n", path.first.c_str());
    }
    Left(std::to_string(paths.size()) + " files and folders: the deletions at the restart (the registry value "
         "PendingFileRenameOperations) cannot be added to as they stand");
}

void CNuke::ScheduleFileRemoval(const char* path) {
    const bool exists = PrepareFileRemoval(path);
    // Asked of the list first: MoveFileExA appends to one that is not a
    // list of pairs too.
    if (os.ScheduleDeletionsAtRestart({}) == ERROR_INVALID_DATA) {
        PendingRenamesUnreadable({{path, exists}});
        return;
    }
    if (os.MoveFileExA(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
        if (exists) ++scheduled;
        TraceWrite("", -1, 0, "MoveFileEx for '%s' was successful\n", path);
        Backup().ScheduledFile(path);
        return;
    }
    RetryFileRemoval(path, exists);
}

void CNuke::RetryFileRemoval(const char* path, bool exists) {
    TraceWrite("", -1, 0, "MoveFileEx for '%s' FAILED. Trying again with DropFileAcl...\n", path);
    if (DropFileAcl(path) == 0) {
        if (exists) ++failures;
        TraceWrite("", -1, 0, "DropFileAcl for '%s' FAILED\n", path);
        return;
    }
    TraceWrite("", -1, 0, "DropFileAcl for '%s' was successful, trying again MoveFileEx...\n", path);
    if (os.MoveFileExA(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
        if (exists) ++scheduled;
        TraceWrite("", -1, 0, "MoveFileEx (2nd try) for '%s' was successful\n", path);
        Backup().ScheduledFile(path);
    } else {
        if (exists) ++failures;
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
        ++refused;
        TraceWrite("", -1, 0, "ExpandRemoveFileEntry: refusing to remove '%s': %s\n", entry ? entry : "", reason);
        return ERROR_INVALID_NAME;
    }
    const std::string why = FolderGuard().Refuses(resolved);
    if (!why.empty()) {
        ++refused;
        TraceWrite("", -1, 0, "ExpandRemoveFileEntry: refusing to remove '%s': %s\n", entry, why.c_str());
        return ERROR_ACCESS_DENIED;
    }
    const DWORD attributes = os.GetFileAttributesA(guard::Unredirected(os, resolved).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return os.GetLastError();
    TreeWalk(*this).Expand(resolved, attributes);
    return ERROR_SUCCESS;
}
