// What a run takes away, kept until it is wanted back: every registry key
// and value is written to a backup file in the format regedit and
// "reg import" read, just before it is deleted, and every path scheduled for
// deletion at the restart to a record beside it. Both lie in the trace
// log's folder, named with the run's date and time, and are never
// overwritten. A backup that cannot be written never stops a removal.
#pragma once
#include <windows.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/handles.h"

namespace platform { class Platform; }

// The keys of a user's registry that the run loaded itself (the user was
// not logged on) are written as notes: the first line of such notes, and
// how each key's header begins there. --undo loads the hive again for them.
extern const wchar_t kLoadedHiveNotes[];
extern const wchar_t kLoadedHiveKey[];

class RunBackup {
public:
    // registry: where keys are read (the engine's platform); files: where
    // the backup is written (the trace log's platform). Nothing is written
    // when writing is off (a preview): the items are only counted.
    RunBackup(platform::Platform& registry, platform::Platform& files, bool writing);
    ~RunBackup();
    RunBackup(const RunBackup&) = delete;
    RunBackup& operator=(const RunBackup&) = delete;

    // The key subkey of root with its values and its whole subtree, in view
    // (0: this program's own; KEY_WOW64_64KEY or KEY_WOW64_32KEY). A key
    // that does not exist is passed over.
    void Key(HKEY root, const std::string& subkey, REGSAM view);
    // One value of a key (name empty: the unnamed value). The first value of
    // a key backs up all of the key's values in one write.
    void Value(HKEY root, const std::string& subkey, const std::string& name, REGSAM view);
    // One path scheduled for deletion at the restart.
    void ScheduledFile(const std::string& path);
    // Paths scheduled together, in one write.
    void ScheduledFiles(const std::vector<std::string>& paths);
    // A tree moved into the run's holding folder until the restart:
    // recorded as "held|original" (no name holds a bar), for the undo to
    // move it back.
    void HeldTree(const std::string& held, const std::string& original);
    // A comment line in the backup ("; text"): what the run did that no
    // import can take back.
    void Note(const std::string& text);

    const std::string& BackupPath() const { return backupPath_; }
    const std::string& RecordPath() const { return recordPath_; }
    unsigned Keys() const { return keys_; }
    unsigned Values() const { return values_; }
    // The folder the files go to: the trace folder unless a test says.
    void SetFolder(const std::string& folder) { folder_ = folder; }

private:
    bool Open();
    void Write(bool record, const std::wstring& text);
    void Fail(const std::string& why);
    // Appends the key's header and values and, with subtree, its subkeys'.
    bool AppendKey(HKEY key, const std::wstring& fallbackName, std::wstring& text, bool subtree, bool askName,
                   unsigned& keys, unsigned& values);
    bool AsksName(REGSAM view) const;
    bool wow64_ = false;

    platform::Platform& registry_;
    platform::Platform& files_;
    bool writing_;
    bool failed_ = false;
    std::string folder_;
    std::string stamp_;
    std::string backupPath_, recordPath_;
    bool opened_ = false;
    platform::FileHandle backup_, record_;
    // The key of the last value backed up, per view, with its values read
    // once: the values of one key come one after the other, and the run
    // tries its own view before the 64-bit one.
    struct OpenKey {
        HKEY root = nullptr;
        std::string subkey;
        bool exists = false;
        bool written = false;
        std::wstring block;               // its header and every value
        std::set<std::wstring> valueNames;  // upper case
    };
    std::map<REGSAM, OpenKey> openKeys_;
    OpenKey& KeyFor(HKEY root, const std::string& subkey, REGSAM view);
    unsigned keys_ = 0, values_ = 0;
};

// The .reg text of one value line ("name"=data, CRLF ended), as regedit
// writes it: strings quoted where they round-trip, every other type and
// every string that would not (no terminator, a line break, an inner
// null) as hex(n).
std::wstring RegValueLine(const std::wstring& name, DWORD type, const BYTE* data, DWORD size);

// "HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\X" for Windows' own name of a
// key ("\REGISTRY\MACHINE\SOFTWARE\Wow6432Node\X"); empty for another.
std::wstring RegFileKeyName(const std::wstring& fullName);
