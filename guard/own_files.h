// The run's own files and folders: the trace folder and what is written in
// it, the installer's private copy, the folders opened up for deletion at
// the restart, and the utility the run starts. The run has full rights
// (an elevated administrator, or SYSTEM in a deployment), so none of these
// may be within reach of the machine's other users, during the run or until
// the restart.
#pragma once
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/handles.h"

namespace platform { class Platform; }

namespace guard {

// Who besides SYSTEM and Administrators (full control) may use what the run
// makes its own.
enum class OwnAccess {
    AdminsOnly,  // nobody
    UsersRead,   // Users may read (the trace log, for a help desk)
};

// The access list of what the run makes its own, built from nothing and
// inheritable to everything below. Returns ERROR_SUCCESS with acl holding
// it (LocalFree'd memory), or the error; sidsFailed, when given, is set when
// the accounts' SIDs could not be made (else it was the list itself).
DWORD BuildOwnAcl(platform::Platform& os, OwnAccess access, platform::LocalMemory& acl,
                  bool* sidsFailed = nullptr);

// Security attributes with that access list, protected from the parent's
// inheritable entries, for creating a folder that is private from its first
// moment. get() is null when the list could not be built.
class OwnSecurity {
public:
    OwnSecurity(platform::Platform& os, OwnAccess access);
    OwnSecurity(const OwnSecurity&) = delete;
    OwnSecurity& operator=(const OwnSecurity&) = delete;
    LPSECURITY_ATTRIBUTES get() { return ready_ ? &attributes_ : nullptr; }

private:
    platform::LocalMemory acl_;
    SECURITY_DESCRIPTOR descriptor_;
    SECURITY_ATTRIBUTES attributes_;
    bool ready_ = false;
};

// Makes folder (fully qualified) fit to hold the run's files: created with
// the own access list (Users may read) when it is missing; when it exists,
// refused if it is a link or not a folder, otherwise given that access
// list, and taken over (owner Administrators) when anyone but SYSTEM or
// Administrators owns it: whoever made it first could otherwise change it.
// The existing folder is examined and changed through one handle. Returns
// empty when the folder may be used, with done saying what was done
// ("created", "taken over from its owner S-1-5-21-...", or empty), or the
// reason it is refused.
std::string PrepareOwnFolder(platform::Platform& os, const std::string& folder, std::string& done);

// Opens path (fully qualified) for writing without following a link at its
// name: refused when the name is a link, a folder or a file with another
// name (a hard link), or when the opened file is not the one the path names
// letter for letter (a folder on the way swapped for a link). A file that
// stood there already is given the run's owner and permissions before
// anything is emptied (with empty) or written; with fresh, only a file that
// does not exist yet is made. The handle is for WriteFile, not a C runtime
// stream: in a windowed program such a stream may take the number of a
// standard stream, and closing it closes that standard handle too. Returns
// INVALID_HANDLE_VALUE with why set when refused.
HANDLE OpenOwnHandle(platform::Platform& os, const std::string& path, bool empty, std::string& why,
                     bool fresh = false);

// Creates a folder with a fresh random name in parent (ending in a
// backslash), for SYSTEM and Administrators only. Returns ERROR_SUCCESS with
// folder (ending in a backslash), or the error. The caller removes it.
DWORD CreatePrivateFolder(platform::Platform& os, const std::wstring& parent, std::wstring& folder);

// Why anyone but SYSTEM, Administrators, TrustedInstaller or the running
// user could change path (write to it, create or delete files in it, change
// its permissions or owner), read from its access list and owner; empty
// when nobody else can. A path that does not exist gives empty with missing
// set.
std::string OthersCanChange(platform::Platform& os, const std::wstring& path, bool& missing);

// The full path of the running program in wide text (a folder the code
// page cannot hold would come back with '?' in it and name no file), never
// cut; empty when it cannot be had.
std::wstring ProgramPath(platform::Platform& os);

// Why anyone but SYSTEM, Administrators, TrustedInstaller or the running
// user could change what a run of program does, empty when nobody can:
// write, append to, delete or re-permission the program or its
// configuration (program with ".cfg"); the same for the program's folder,
// or add files to it (a DLL planted beside the program); or rename or
// replace a folder on the way to it (delete it, delete a child of it,
// re-permission it), up to the drive's root or the share. Making something
// new beside the way does not count: Authenticated Users may make folders
// in C:\ on every Windows. A file or folder that is not there is passed
// over; one whose permissions cannot be read counts as changeable.
std::string OthersCanSteerProgram(platform::Platform& os, const std::wstring& program);
// The same for a program the run starts: the file, its folder and the way
// to it.
std::string OthersCanSteerFile(platform::Platform& os, const std::wstring& file);

// The same for any of rights: why anyone but those accounts is allowed one
// of them on path, or owns it (an owner may grant itself any); empty when
// nobody else is.
std::string OthersMay(platform::Platform& os, const std::wstring& path, ACCESS_MASK rights, bool& missing);

// The accounts nobody else can act as: SYSTEM, Administrators,
// TrustedInstaller and the running account, read from the process's token
// once, when made.
class TrustedAccounts {
public:
    explicit TrustedAccounts(platform::Platform& os);
    bool Has(PSID sid) const;

private:
    platform::Platform& os_;
    std::vector<std::vector<BYTE>> sids_;
    std::vector<BYTE> user_;  // a TOKEN_USER
    bool haveUser_ = false;
};

// The same for an open file or folder (opened with READ_CONTROL): the
// object itself, whatever its name leads to by now.
std::string OthersMayOn(platform::Platform& os, HANDLE object, ACCESS_MASK rights, const TrustedAccounts& accounts);

// True when the object's owner is TrustedInstaller: Windows installed it
// and protects it. Read through an open handle (opened with READ_CONTROL),
// or by the name of a file or folder (resolved).
bool OwnedByTrustedInstaller(platform::Platform& os, HANDLE object);
bool OwnedByTrustedInstaller(platform::Platform& os, const std::string& path);

// The Administrators group's SID; false when it cannot be made.
bool MakeAdministratorsSid(platform::Platform& os, platform::AllocatedSid& sid);

// "S-1-5-32-544" for a SID.
std::string SidText(PSID sid);

// The running user's SID as text, from the process's token; empty when it
// cannot be read.
std::string RunningUserSidText(platform::Platform& os);

}  // namespace guard
