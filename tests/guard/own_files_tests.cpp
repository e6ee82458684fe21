// The run's own folders and files on real folders of the prefix. Wine keeps
// no owner but the Unix user's and no access list beyond what its file
// modes hold, so the owner another user would have and the access lists
// the run sets are seen through the platform seam.
#include <gtest/gtest.h>
#include <windows.h>
#include <sddl.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "guard/own_files.h"
#include "platform/handles.h"
#include "tests/support/acl_entries.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_platform.h"

namespace {

using testing_support::Ace;
using testing_support::Entries;
using testing_support::OwnAcl;
using testing_support::PathExists;
using testing_support::ReadWholeFile;
using testing_support::RunUnix;
using testing_support::SidBytes;
using testing_support::TempFolder;
using testing_support::UnixLink;
using testing_support::UnixPath;
using testing_support::WriteWholeFile;

const char kForeignOwner[] = "S-1-5-21-1-2-3-1001";

// Owners Wine cannot keep (it shows the Unix user, the running account,
// as every owner), and the owner and access list each set call gave.
class OwnerPlatform : public testing_support::TestPlatform {
public:
    PSID reportedOwner = nullptr;  // the owner reported when set
    DWORD ownerResult = ERROR_SUCCESS;
    struct Set {
        SECURITY_INFORMATION info;
        testing_support::Bytes owner;
        std::vector<Ace> dacl;
    };
    std::vector<Set> sets;

    DWORD GetSecurityInfo(HANDLE object, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID* owner, PSID* group,
                          PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* descriptor) override {
        const DWORD rc = TestPlatform::GetSecurityInfo(object, type, info, owner, group, dacl, sacl, descriptor);
        if (rc == ERROR_SUCCESS && owner && reportedOwner) *owner = reportedOwner;
        return rc;
    }
    DWORD SetSecurityInfo(HANDLE object, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID owner, PSID group,
                          PACL dacl, PACL sacl) override {
        sets.push_back({info, owner ? SidBytes(owner) : testing_support::Bytes(), Entries(dacl)});
        if ((info & OWNER_SECURITY_INFORMATION) && ownerResult != ERROR_SUCCESS) return ownerResult;
        return TestPlatform::SetSecurityInfo(object, type, info, owner, group, dacl, sacl);
    }
};

struct FolderCase {
    const char* name;
    const char* what;   // "missing", "folder", "link", "file"
    const char* owner;  // the owner reported: a SID, or null for Wine's (the running account)
    DWORD ownerResult;
    const char* refusal;  // the reason, empty when the folder may be used
    const char* done;     // the start of what was done
};

TEST(OwnFiles, TheTraceFolderIsCreatedPrivateTakenOverOrRefused) {
    const std::string taken = std::string("taken over from its owner ") + kForeignOwner;
    const std::string refused = std::string("it belongs to ") + kForeignOwner + " and cannot be taken over (error 5)";
    const FolderCase cases[] = {
        {"missing: created with the access list from its first moment", "missing", nullptr, 0, "", "created"},
        {"Administrators': its access list is set again", "folder", "S-1-5-32-544", 0, "", ""},
        {"SYSTEM's: its access list is set again", "folder", "S-1-5-18", 0, "", ""},
        // The administrator's own account also runs unelevated programs.
        {"the running account's: taken over", "folder", nullptr, 0, "", "taken over from its owner S-1-5-21-"},
        {"made first by another user: taken over", "folder", kForeignOwner, 0, "", taken.c_str()},
        {"made by another user and not to be taken over", "folder", kForeignOwner, ERROR_ACCESS_DENIED,
         refused.c_str(), ""},
        {"a link in its place", "link", nullptr, 0, "it is a link", ""},
        {"a file in its place", "file", nullptr, 0, "it is not a folder", ""},
    };
    for (const FolderCase& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder parent("own-folder");
        TempFolder elsewhere("own-folder-target");
        const std::string folder = parent / "Velmoran clearway";
        const std::string what = c.what;
        std::unique_ptr<UnixLink> link;
        if (what == "folder") {
            ASSERT_TRUE(::CreateDirectoryA(folder.c_str(), nullptr));
        }
        if (what == "file") WriteWholeFile(folder, "x");
        if (what == "link") {
            link.reset(new UnixLink(UnixPath(elsewhere.path()), UnixPath(folder)));
            ASSERT_EQ(link->made, 0u);
        }
        OwnerPlatform os;
        PSID owner = nullptr;
        if (c.owner) {
            ASSERT_TRUE(::ConvertStringSidToSidA(c.owner, &owner));
        }
        platform::LocalMemory ownerMemory(owner);
        os.reportedOwner = owner;
        os.ownerResult = c.ownerResult;

        std::string done = "untouched";
        const std::string why = guard::PrepareOwnFolder(os, folder, done);
        EXPECT_EQ(why, c.refusal);
        if (!*c.refusal) {
            EXPECT_EQ(done.compare(0, std::strlen(c.done), c.done), 0) << done;
        }
        if (what == "missing") {
            ASSERT_EQ(os.createdFolders.size(), 1u);
            EXPECT_TRUE(os.createdFolders[0].protectedDacl);
            EXPECT_EQ(os.createdFolders[0].dacl, OwnAcl(true));
            EXPECT_TRUE(os.sets.empty());
            continue;
        }
        // The owner goes to Administrators before the list is set; a refused
        // folder, a link or a file keep theirs.
        const bool foreign = what == "folder" && (!c.owner || std::string(c.owner) == kForeignOwner);
        std::vector<SECURITY_INFORMATION> infos;
        for (const auto& set : os.sets) infos.push_back(set.info);
        std::vector<SECURITY_INFORMATION> expected;
        if (foreign) expected.push_back(OWNER_SECURITY_INFORMATION);
        if (!*c.refusal) expected.push_back(DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION);
        EXPECT_EQ(infos, expected);
        if (foreign) {
            EXPECT_EQ(os.sets[0].owner, testing_support::WellKnownSid(WinBuiltinAdministratorsSid));
        }
        if (!*c.refusal) {
            EXPECT_EQ(os.sets.back().dacl, OwnAcl(true));
        }
    }
}

// A file of the run is opened as it stands: a link or a second name at it
// is refused before anything is emptied or written, and another file is
// never written through it.
struct FileCase {
    const char* name;
    const char* what;  // "new", "old", "link", "hardlink", "folder"
    const char* mode;
    const char* refusal;  // the start of the reason, empty when opened
    const char* content;  // the file's content after writing "new" and a line end
};

TEST(OwnFiles, TheRunsFilesAreNeverWrittenThroughALink) {
    const FileCase cases[] = {
        {"a new file", "new", "w", "", "new\r\n"},
        {"an old file is emptied", "old", "w", "", "new\r\n"},
        {"an old file is appended to", "old", "a+", "", "old\r\nnew\r\n"},
        // Wine shows a link to a file as the file it leads to: the final
        // path gives it away (Windows: "it is a link").
        {"a link", "link", "w", "it leads to '", nullptr},
        {"a link is not appended to", "link", "a+", "it leads to '", nullptr},
        {"a second name of another file", "hardlink", "w", "it has another name (a hard link)", nullptr},
        {"a folder", "folder", "w", "it cannot be opened", nullptr},
    };
    int index = 0;
    for (const FileCase& c : cases) {
        SCOPED_TRACE(c.name);
        // A folder of each case's own: what one case leaves cannot be met by
        // the next as a name already taken.
        ++index;
        TempFolder folder("own-file-" + std::to_string(index));
        TempFolder elsewhere("own-file-target-" + std::to_string(index));
        const std::string path = folder / "Clearway.log";
        const std::string target = elsewhere / "other-program.txt";
        WriteWholeFile(target, "old\r\n");
        const std::string what = c.what;
        std::unique_ptr<UnixLink> link;
        if (what == "old") WriteWholeFile(path, "old\r\n");
        if (what == "folder") {
            ASSERT_TRUE(::CreateDirectoryA(path.c_str(), nullptr));
        }
        if (what == "link") {
            link.reset(new UnixLink(UnixPath(target), UnixPath(path)));
            ASSERT_EQ(link->made, 0u);
        }
        if (what == "hardlink") {
            RunUnix("/bin/ln " + UnixPath(target) + " " + UnixPath(path));  // no blanks in either
            ASSERT_EQ(ReadWholeFile(path), "old\r\n");
        }

        testing_support::TestPlatform os;
        std::string why;
        const bool append = c.mode[0] == 'a';
        platform::FileHandle file(guard::OpenOwnHandle(os, path, !append, why));
        EXPECT_EQ(why.compare(0, std::strlen(c.refusal), c.refusal), 0) << why;
        EXPECT_EQ(!file, *c.refusal != '\0');
        if (file) {
            if (append) ::SetFilePointer(file.get(), 0, nullptr, FILE_END);
            DWORD written = 0;
            ::WriteFile(file.get(), "new\r\n", 5, &written, nullptr);
            file.reset();
        }
        if (c.content) {
            EXPECT_EQ(ReadWholeFile(path), c.content);
        }
        EXPECT_EQ(ReadWholeFile(target), "old\r\n");
        // Nothing of the run holds the file open once its handle is closed,
        // refused or not: a file it opened is deleted as soon as asked.
        if (what != "folder") {
            link.reset();
            EXPECT_TRUE(::DeleteFileA(path.c_str()) || (what == "link" && !PathExists(path)))
                << "error " << ::GetLastError();
        }
    }
}

TEST(OwnFiles, APrivateFolderHasAFreshNameAndAdministratorsAlone) {
    TempFolder parent("own-private");
    testing_support::TestPlatform os;
    std::wstring first, second;
    const std::wstring base(parent.path().begin(), parent.path().end());
    ASSERT_EQ(guard::CreatePrivateFolder(os, base + L"\\", first), 0u);
    ASSERT_EQ(guard::CreatePrivateFolder(os, base + L"\\", second), 0u);
    EXPECT_NE(first, second);
    ASSERT_EQ(os.createdFolders.size(), 2u);
    for (const auto& created : os.createdFolders) {
        EXPECT_TRUE(PathExists(created.path));
        EXPECT_TRUE(created.protectedDacl);
        EXPECT_EQ(created.dacl, OwnAcl(false));
    }
    // A name too long for a path is refused, never cut.
    std::wstring none;
    EXPECT_EQ(guard::CreatePrivateFolder(os, base + L"\\" + std::wstring(220, L'x') + L"\\", none),
              static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
    EXPECT_TRUE(none.empty());
}

// What Wine shows for a folder anyone may write to: Everyone with write
// access (its file mode for others has the write bit).
TEST(OwnFiles, AFolderOthersCanWriteToIsSeen) {
    TempFolder folder("own-writable");
    testing_support::TestPlatform os;
    const std::wstring path(folder.path().begin(), folder.path().end());
    bool missing = true;
    EXPECT_EQ(guard::OthersCanChange(os, path, missing), "");
    EXPECT_FALSE(missing);
    RunUnix("/bin/chmod o+w " + UnixPath(folder.path()));
    EXPECT_EQ(guard::OthersCanChange(os, path, missing), "S-1-1-0 may change it");
    EXPECT_EQ(guard::OthersCanChange(os, path + L"\\missing", missing), "");
    EXPECT_TRUE(missing);
}

// Who could change what a run from a folder does: the program, its
// configuration, the folder, and the folders above that someone could
// rename or replace; each opened to others in turn by its Unix mode.
TEST(OwnFiles, AProgramFolderOthersCouldSteerIsSeen) {
    TempFolder above("own-steer");
    const std::string folder = above / "Clearway";
    ASSERT_TRUE(::CreateDirectoryA(folder.c_str(), nullptr));
    testing_support::WriteWholeFile(folder + "\\Clearway.exe", "program");
    testing_support::WriteWholeFile(folder + "\\Clearway.cfg", "[file 1]\n");
    const std::string programPath = folder + "\\Clearway.exe";
    const std::wstring program(programPath.begin(), programPath.end());  // ASCII
    struct Case {
        const char* name;
        std::string opened;  // given mode 777 (a file 666) for the case; empty for none
        std::string why;
    };
    const Case cases[] = {
        {"nobody else", "", ""},
        {"the program", folder + "\\Clearway.exe", "'" + folder + "\\Clearway.exe': S-1-1-0 may change it"},
        {"its configuration", folder + "\\Clearway.cfg", "'" + folder + "\\Clearway.cfg': S-1-1-0 may change it"},
        {"its folder", folder, "'" + folder + "': S-1-1-0 may change it"},
        // Others could rename the program's folder away and put their own
        // in its place.
        {"the folder above", above.path(), "'" + above.path() + "': S-1-1-0 may change it"},
    };
    testing_support::TestPlatform os;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const bool file = c.opened != folder && c.opened != above.path();
        if (!c.opened.empty()) RunUnix(std::string("/bin/chmod ") + (file ? "666 " : "777 ") + UnixPath(c.opened));
        EXPECT_EQ(guard::OthersCanSteerProgram(os, program), c.why);
        if (!c.opened.empty()) RunUnix(std::string("/bin/chmod ") + (file ? "644 " : "755 ") + UnixPath(c.opened));
    }
    // Its long form is the same path; a name without a drive is no place.
    EXPECT_EQ(guard::OthersCanSteerProgram(os, L"\\\\?\\" + program), "");
    EXPECT_EQ(guard::OthersCanSteerProgram(os, L"Clearway.exe"), "its path is not a full local or share path");
}

}  // namespace
