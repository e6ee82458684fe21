// File removal and the access-control operations: real folders and files of
// the prefix, a real restart (wineboot -r) that carries out the pending
// renames, and a platform double for what Wine cannot do (it enforces no
// ACLs): the exact DACLs built and the results of the security calls.
#include <gtest/gtest.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "actions/access_control.h"
#include "guard/path_guard.h"
#include "platform/handles.h"
#include "platform/pending_deletions.h"
#include "profile/engine.h"
#include "tests/support/acl_entries.h"
#include "tests/support/matchers.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_dialog.h"
#include "tests/support/test_key.h"
#include "tests/support/test_platform.h"
#include "tests/support/list_text.h"
#include "trace/trace.h"

using ::testing::Contains;
using testing_support::Elements;
using testing_support::Texts;
using testing_support::PathExists;
using testing_support::ReadWholeFile;
using testing_support::RunAndWait;
using testing_support::RunUnix;
using testing_support::UnixLink;
using testing_support::UnixPath;
using testing_support::RunningOnWine;
using testing_support::TempFolder;
using testing_support::TestDialog;
using testing_support::TestPlatform;
using testing_support::WriteWholeFile;

namespace {

using testing_support::Lower;
using testing_support::SpecialFolder;
using testing_support::Upper;

using testing_support::Ace;
using testing_support::Bytes;
using testing_support::Entries;
using testing_support::SidBytes;
using testing_support::WellKnownSid;

std::string LogPath() { return SpecialFolder(CSIDL_COMMON_APPDATA) + "\\Velmoran clearway\\file_removal_tests.log"; }

// Expands a copy of path (the expansion normalises its argument in place).
DWORD ExpandCopy(CNuke& engine, const std::string& path) {
    std::string entry = path;
    return engine.ExpandRemoveFileEntry(&entry[0]);
}

// The production platform with a record of the calls the tests look at and
// scripted results where Wine cannot produce the fault.
class RecordingPlatform : public TestPlatform {
public:
    struct Move {
        std::string path;
        bool nullTarget;
        DWORD flags;
        DWORD attributesAtCall;
    };
    std::vector<Move> moves;
    std::deque<BOOL> moveResults;  // scripted results, used first; none: the real call
    bool realMoves = true;         // false: unscripted calls succeed without the real call
    std::function<void(size_t)> onMove;

    BOOL MoveFileExA(LPCSTR existing, LPCSTR newName, DWORD flags) override {
        moves.push_back({existing, newName == nullptr, flags, ::GetFileAttributesA(existing)});
        if (onMove) onMove(moves.size() - 1);
        if (!moveResults.empty()) {
            BOOL result = moveResults.front();
            moveResults.pop_front();
            if (!result) ::SetLastError(ERROR_ACCESS_DENIED);
            return result;
        }
        return realMoves ? TestPlatform::MoveFileExA(existing, newName, flags) : TRUE;
    }
    // The paths scheduled in one write, each recorded as the call of its own
    // it stands for; scripted results come first, as for a call.
    std::vector<size_t> batches;  // how many paths each write had
    std::deque<DWORD> batchResults;
    DWORD ScheduleDeletionsAtRestart(const std::vector<std::string>& paths) override {
        if (paths.empty()) return TestPlatform::ScheduleDeletionsAtRestart(paths);  // the list only judged
        batches.push_back(paths.size());
        for (const std::string& path : paths) {
            moves.push_back({path, true, MOVEFILE_DELAY_UNTIL_REBOOT, ::GetFileAttributesA(path.c_str())});
        }
        if (!batchResults.empty()) {
            const DWORD result = batchResults.front();
            batchResults.pop_front();
            return result;
        }
        return realMoves ? TestPlatform::ScheduleDeletionsAtRestart(paths) : ERROR_SUCCESS;
    }

    struct SetCall {
        std::string name;
        SE_OBJECT_TYPE type;
        SECURITY_INFORMATION info;
        Bytes owner;
        bool group;
        bool hasDacl;
        std::vector<Ace> dacl;
        bool sacl;
    };
    std::vector<SetCall> sets;
    std::deque<DWORD> setResults;  // scripted results instead of the real call

    DWORD SetNamedSecurityInfoA(LPSTR name, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID owner, PSID group,
                                PACL dacl, PACL sacl) override {
        DWORD scripted = 0;
        if (RecordSet(name, type, info, owner, group, dacl, sacl, scripted)) return scripted;
        return TestPlatform::SetNamedSecurityInfoA(name, type, info, owner, group, dacl, sacl);
    }

    // Records one set call; true, with its result, when one is scripted.
    bool RecordSet(const std::string& name, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID owner, PSID group,
                   PACL dacl, PACL sacl, DWORD& scripted) {
        sets.push_back({name, type, info, owner ? SidBytes(owner) : Bytes(), group != nullptr, dacl != nullptr,
                        Entries(dacl), sacl != nullptr});
        if (setResults.empty()) return false;
        scripted = setResults.front();
        setResults.pop_front();
        return true;
    }

    // A key's permissions are read and written through a handle to it,
    // recorded under the key's name.
    DWORD SetSecurityInfo(HANDLE object, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID owner, PSID group,
                          PACL dacl, PACL sacl) override {
        SE_OBJECT_TYPE view = type;
        const std::string key = type == SE_REGISTRY_KEY ? KeyName(static_cast<HKEY>(object), &view) : std::string();
        if (key.empty()) return TestPlatform::SetSecurityInfo(object, type, info, owner, group, dacl, sacl);
        DWORD scripted = 0;
        if (RecordSet(key, view, info, owner, group, dacl, sacl, scripted)) return scripted;
        return TestPlatform::SetSecurityInfo(object, type, info, owner, group, dacl, sacl);
    }

    std::vector<std::string> gets;
    DWORD getResult = 0;  // nonzero: returned instead of the real call
    DWORD GetSecurityInfo(HANDLE object, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID* owner, PSID* group,
                          PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* descriptor) override {
        const std::string key = type == SE_REGISTRY_KEY ? KeyName(static_cast<HKEY>(object)) : std::string();
        if (key.empty()) return TestPlatform::GetSecurityInfo(object, type, info, owner, group, dacl, sacl, descriptor);
        gets.push_back(key);
        if (getResult != 0) return getResult;
        return TestPlatform::GetSecurityInfo(object, type, info, owner, group, dacl, sacl, descriptor);
    }

    DWORD GetNamedSecurityInfoA(LPCSTR name, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID* owner,
                                PSID* group, PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* descriptor) override {
        gets.push_back(name);
        if (getResult != 0) return getResult;
        return TestPlatform::GetNamedSecurityInfoA(name, type, info, owner, group, dacl, sacl, descriptor);
    }

    int setEntriesCalls = 0;
    DWORD setEntriesResult = 0;  // nonzero: returned instead of the real call
    DWORD SetEntriesInAclW(ULONG count, PEXPLICIT_ACCESS_W entries, PACL oldAcl, PACL* newAcl) override {
        ++setEntriesCalls;
        if (setEntriesResult != 0) return setEntriesResult;
        return TestPlatform::SetEntriesInAclW(count, entries, oldAcl, newAcl);
    }

    bool failSidAllocation = false;
    BOOL AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY authority, BYTE count, DWORD s0, DWORD s1, DWORD s2,
                                  DWORD s3, DWORD s4, DWORD s5, DWORD s6, DWORD s7, PSID* sid) override {
        if (failSidAllocation) {
            ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return FALSE;
        }
        return TestPlatform::AllocateAndInitializeSid(authority, count, s0, s1, s2, s3, s4, s5, s6, s7, sid);
    }

    // The paths DropFileAcl was called for (its SetNamedSecurityInfoA calls).
    Texts AclDrops() const {
        Texts out;
        for (const SetCall& c : sets) {
            if (c.type == SE_FILE_OBJECT) out.push_back(c.name);
        }
        return out;
    }
};

class FileRemovalTest : public ::testing::Test {
protected:
    FileRemovalTest() : engine_(os_) { engine_.dialog = &dialog_; }

    void SetUp() override {
        TraceShutdown();
        ::CreateDirectoryA((SpecialFolder(CSIDL_COMMON_APPDATA) + "\\Velmoran clearway").c_str(), nullptr);
        TraceSetOptions(-1, 0, false, false);
        TraceOpenLog(LogPath().c_str(), "w");
    }
    void TearDown() override { TraceShutdown(); }

    std::string Log() {
        TraceShutdown();
        std::string log = ReadWholeFile(LogPath());
        log.erase(std::remove(log.begin(), log.end(), '\r'), log.end());  // the file has CR LF line ends
        TraceOpenLog(LogPath().c_str(), "a+");
        return log;
    }
    size_t Count(const std::string& log, const std::string& text) {
        size_t n = 0;
        for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++n;
        return n;
    }

    RecordingPlatform os_;
    TestDialog dialog_;
    CNuke engine_;
};

// ---- CleanupFiles and ScheduleFileRemoval through the seam ----

TEST_F(FileRemovalTest, EmptyListSucceedsWithCountZeroWithoutACancelTest) {
    dialog_.state = Cancelled;
    EXPECT_EQ(engine_.CleanupFiles(), 0u);
    EXPECT_EQ(dialog_.stateReads, 0);
    EXPECT_TRUE(os_.moves.empty());
    EXPECT_THAT(Log(), HasSubstr("CleanupFiles was successful with '0' deleted values\n"));
}

// A write of the pending renames that fails sends each path of the batch
// the way of a failed call: the failure line, DropFileAcl and one more try
// of its own.
TEST_F(FileRemovalTest, AFailedWriteSendsEachPathTheWayOfAFailedCall) {
    TempFolder folder("file-removal-failed-write");
    const std::string first = Upper(folder / "a.txt"), second = Upper(folder / "b.txt");
    WriteWholeFile(first, "a");
    WriteWholeFile(second, "b");
    engine_.expandedFileList.Insert(first.c_str());
    engine_.expandedFileList.Insert(second.c_str());
    os_.realMoves = false;
    os_.batchResults = {ERROR_ACCESS_DENIED};
    os_.setResults = {ERROR_SUCCESS, ERROR_SUCCESS};
    EXPECT_EQ(engine_.CleanupFiles(), 0u);
    EXPECT_EQ(os_.batches, std::vector<size_t>{2});
    EXPECT_EQ(os_.AclDrops(), (Texts{second, first}));
    const std::string log = Log();
    EXPECT_THAT(log, HasSubstr("the 2 paths could not be written to the deletions at the restart (error 5")) << log;
    for (const std::string& path : {second, first}) {
        EXPECT_THAT(log, HasSubstr("MoveFileEx for '" + path + "' FAILED. Trying again with DropFileAcl...\n"));
        EXPECT_THAT(log, HasSubstr("MoveFileEx (2nd try) for '" + path + "' was successful\n"));
    }
    EXPECT_EQ(engine_.scheduled, 2);
}

// What the pending renames get: the NT form of a path MoveFileExA takes as
// it stands, and the list with every earlier pair kept. A path it would
// refuse or spell otherwise goes to MoveFileExA itself.
TEST(PendingDeletions, NamesAndListsAsMoveFileExWritesThem) {
    const struct {
        std::string path;
        const wchar_t* nt;  // null: left to MoveFileExA
    } names[] = {
        {"C:\\Program Files\\Velmoran\\a.dll", L"\\??\\C:\\Program Files\\Velmoran\\a.dll"},
        {"\\\\server\\share\\Velmoran", nullptr},
        {"C:\\A\\..\\B", nullptr},
        {"C:\\A\\.\\B", nullptr},
        {"C:\\A\\\\B", nullptr},
        {"C:/A/B", nullptr},
        {"C:\\A.", nullptr},
        {"C:\\A \\B", nullptr},
        {"A\\B", nullptr},
        {"C:\\", nullptr},
        {"\\\\?\\C:\\A", nullptr},
        {"C:\\" + std::string(MAX_PATH - 4, 'x'), L""},  // 259 characters
        {"C:\\" + std::string(MAX_PATH - 3, 'x'), nullptr},
    };
    for (const auto& name : names) {
        SCOPED_TRACE(name.path);
        std::wstring nt;
        EXPECT_EQ(platform::PendingDeletionName(name.path, nt), name.nt != nullptr);
        if (name.nt && *name.nt) {
            EXPECT_EQ(nt, name.nt);
        }
    }

    // Strings, each ended by its null, as the value holds them.
    const auto list = [](std::initializer_list<const wchar_t*> strings) {
        std::vector<wchar_t> out;
        for (const wchar_t* text : strings) {
            out.insert(out.end(), text, text + std::wcslen(text));
            out.push_back(L'\0');
        }
        return out;
    };
    const wchar_t* const ours = L"\\??\\C:\\x";
    const struct {
        std::vector<wchar_t> before;
        bool taken;
        std::vector<wchar_t> after;
    } lists[] = {
        {{}, true, list({ours, L"", L""})},
        {list({L""}), true, list({ours, L"", L""})},
        // A rename and a deletion of another program's stay first.
        {list({L"\\??\\C:\\n", L"!\\??\\C:\\d", L"\\??\\C:\\o", L"", L""}), true,
         list({L"\\??\\C:\\n", L"!\\??\\C:\\d", L"\\??\\C:\\o", L"", ours, L"", L""})},
        // A pair without its target, or a list not ended: nothing is added
        // that would complete or change another's pair.
        {list({L"\\??\\C:\\o", L""}), false, list({L"\\??\\C:\\o", L""})},
        {std::vector<wchar_t>{L'o'}, false, std::vector<wchar_t>{L'o'}},
    };
    for (const auto& c : lists) {
        std::vector<wchar_t> value = c.before;
        EXPECT_EQ(platform::AppendPendingDeletions(value, {ours}), c.taken);
        EXPECT_EQ(value, c.after);
    }
}

TEST_F(FileRemovalTest, FailedScheduleRetriesOnceAfterDropFileAcl) {
    TempFolder folder("file-removal-retry");
    const std::string file = Upper(folder / "locked.txt");
    WriteWholeFile(file, "x");
    ASSERT_TRUE(::SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));

    os_.moveResults = {FALSE, TRUE};
    os_.setResults = {ERROR_SUCCESS};
    engine_.ScheduleFileRemoval(file.c_str());
    ASSERT_EQ(os_.moves.size(), 2u);
    for (const auto& m : os_.moves) {
        EXPECT_EQ(m.path, file);
        EXPECT_TRUE(m.nullTarget);
        EXPECT_EQ(m.flags, static_cast<DWORD>(MOVEFILE_DELAY_UNTIL_REBOOT));
        // The read-only bit went before the first try; hidden stays.
        EXPECT_EQ(m.attributesAtCall & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN), DWORD(FILE_ATTRIBUTE_HIDDEN));
    }
    EXPECT_EQ(os_.AclDrops(), Texts{file});
    std::string log = Log();
    const std::string lines = "MoveFileEx for '" + file + "' FAILED. Trying again with DropFileAcl...\n" +
                              "DropFileAcl for '" + file + "' was successful, trying again MoveFileEx...\n" +
                              "MoveFileEx (2nd try) for '" + file + "' was successful\n";
    EXPECT_THAT(log, HasSubstr(lines)) << log;

    // The second try failing too.
    os_.moves.clear();
    os_.moveResults = {FALSE, FALSE};
    os_.setResults = {ERROR_SUCCESS};
    engine_.ScheduleFileRemoval(file.c_str());
    EXPECT_EQ(os_.moves.size(), 2u);
    EXPECT_THAT(Log(), HasSubstr("MoveFileEx (2nd try) for '" + file + "' FAILED\n"));

    // DropFileAcl failing: no second try.
    os_.moves.clear();
    os_.moveResults = {FALSE};
    os_.setResults = {ERROR_ACCESS_DENIED};
    engine_.ScheduleFileRemoval(file.c_str());
    EXPECT_EQ(os_.moves.size(), 1u);
    log = Log();
    EXPECT_THAT(log, HasSubstr("DropFileAcl for '" + file + "' FAILED\n")) << log;
    EXPECT_EQ(Count(log, "trying again MoveFileEx"), 2u);
}

// After a failed scheduling, permissions change only where nothing that
// stays is reached: never on a link (the new DACL would land on its
// target), a file with other names, an ignored item, or a folder that holds
// one, however the ignore entry spelled it.
TEST_F(FileRemovalTest, TheRetryLeavesLinksIgnoredItemsAndTheirHoldersAsTheyAre) {
    TempFolder folder("file-removal-keep");
    TempFolder outside("file-removal-keep-target");
    const std::string root = Upper(folder.path());
    ::CreateDirectoryA((folder / "Holder").c_str(), nullptr);
    ::CreateDirectoryA((folder / "Holder\\Kept").c_str(), nullptr);
    ::CreateDirectoryA((folder / "Plain").c_str(), nullptr);
    UnixLink link(UnixPath(outside.path()), UnixPath(folder / "Link"));
    ASSERT_EQ(link.made, 0u);
    // A second name of a file outside: the two names share one set of
    // permissions.
    WriteWholeFile(outside / "shared.txt", "x");
    ASSERT_TRUE(::CreateHardLinkA((folder / "Named Twice.txt").c_str(), (outside / "shared.txt").c_str(), nullptr));
    WriteWholeFile(folder / "Once.txt", "x");
    // The ignore entry as the list initialisation leaves it: its normal form
    // and the form Windows resolves it to.
    const std::string spelled = Lower(folder.path()) + "\\holder\\.\\kept\\";
    engine_.ignoreFileList.Insert(spelled.c_str());
    std::string resolved;
    ASSERT_EQ(guard::ResolvePath(os_, spelled.c_str(), resolved), nullptr);
    engine_.ignoreFileList.Insert(resolved.c_str());

    const struct {
        std::string path;
        const char* kept;  // the reason in the trace, or null when the ACL changes
    } cases[] = {
        {root + "\\LINK", "it is a link"},
        {root + "\\HOLDER\\KEPT", "it is ignored"},
        {root + "\\HOLDER", "it holds an ignored item"},
        {root + "\\PLAIN", nullptr},
        {root + "\\NAMED TWICE.TXT", "it has other names (hard links) that share its permissions"},
        {root + "\\ONCE.TXT", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        os_.sets.clear();
        os_.moveResults = {FALSE, TRUE};
        os_.setResults = {ERROR_SUCCESS};
        engine_.ScheduleFileRemoval(c.path.c_str());
        const std::string log = Log();
        if (c.kept) {
            EXPECT_TRUE(os_.sets.empty());
            EXPECT_THAT(log, HasSubstr("DropFileAcl: leaving the permissions of '" + c.path + "' as they are: " + c.kept +
                               "\n"))
                << log;
            EXPECT_THAT(log, HasSubstr("DropFileAcl for '" + c.path + "' FAILED\n"));
        } else {
            EXPECT_EQ(os_.AclDrops(), Texts{c.path});
        }
        os_.moveResults.clear();
    }
}

// This 32-bit run is shown SysWOW64 where it names System32; the restart
// deletes in the real System32. A folder there is listed, and its
// permissions changed, where the restart will delete it.
TEST_F(FileRemovalTest, AFolderOfSystem32IsListedWhereTheRestartDeletesIt) {
    BOOL wow64 = FALSE;
    ASSERT_TRUE(::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64) << "the tests run as the product ships";
    const std::string windows = SpecialFolder(CSIDL_WINDOWS);
    const struct {
        std::string folder, file;
    } places[] = {{windows + "\\Sysnative\\ClearwayTestsRedirect", "real.txt"},
                  {windows + "\\SysWOW64\\ClearwayTestsRedirect", "shown.txt"}};
    struct Cleanup {
        const decltype(places)& made;
        ~Cleanup() {
            for (const auto& place : made) {
                ::DeleteFileA((place.folder + "\\" + place.file).c_str());
                ::RemoveDirectoryA(place.folder.c_str());
            }
        }
    } cleanup{places};
    for (const auto& place : places) {
        ASSERT_TRUE(::CreateDirectoryA(place.folder.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS);
        WriteWholeFile(place.folder + "\\" + place.file, "x");
    }
    os_.setResults = {ERROR_SUCCESS};
    ASSERT_EQ(ExpandCopy(engine_, windows + "\\System32\\ClearwayTestsRedirect"), 0u);
    const std::string listed = Upper(windows) + "\\SYSTEM32\\CLEARWAYTESTSREDIRECT";
    EXPECT_EQ(Elements(engine_.expandedFileList), (Texts{listed, listed + "\\REAL.TXT"}));
    EXPECT_EQ(os_.AclDrops(), Texts{Upper(places[0].folder)});
    // A wildcard entry matches there too.
    TSet matches;
    std::string pattern = windows + "\\System32\\ClearwayTestsRedirect\\*.txt";
    EXPECT_EQ(engine_.InsertFileMatches(matches, &pattern[0]), 0u);
    EXPECT_EQ(Elements(matches), Texts{Upper(windows + "\\System32\\ClearwayTestsRedirect\\real.txt")});
}

TEST_F(FileRemovalTest, AMissingPathIsStillScheduled) {
    os_.realMoves = false;
    engine_.ScheduleFileRemoval("C:\\CLEARWAY-WORK\\NO-SUCH-FILE");
    ASSERT_EQ(os_.moves.size(), 1u);
    EXPECT_EQ(os_.moves[0].attributesAtCall, INVALID_FILE_ATTRIBUTES);
    EXPECT_THAT(Log(), HasSubstr("MoveFileEx for 'C:\\CLEARWAY-WORK\\NO-SUCH-FILE' was successful\n"));
}

// ---- DropFileAcl ----

TEST_F(FileRemovalTest, DropFileAclSetsAProtectedDaclOfSystemAndAdministratorsOnly) {
    TempFolder folder("file-removal-acl");
    EXPECT_EQ(engine_.DropFileAcl(folder.path().c_str()), 1);
    ASSERT_EQ(os_.sets.size(), 1u);
    const auto& call = os_.sets[0];
    EXPECT_EQ(call.name, folder.path());
    EXPECT_EQ(call.type, SE_FILE_OBJECT);
    EXPECT_EQ(call.info, static_cast<SECURITY_INFORMATION>(OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                                            PROTECTED_DACL_SECURITY_INFORMATION));
    EXPECT_EQ(call.owner, WellKnownSid(WinBuiltinAdministratorsSid));  // an owner could reopen it
    EXPECT_FALSE(call.group);
    EXPECT_FALSE(call.sacl);
    ASSERT_TRUE(call.hasDacl);
    // Nobody else: until the restart no user may plant a file or a link in it.
    EXPECT_EQ(call.dacl, testing_support::OwnAcl(false));
    EXPECT_THAT(Log(), Not(HasSubstr("DropFileAcl")));
}

TEST_F(FileRemovalTest, DropFileAclOnAMissingPathReturns0AndLogsNothing) {
    EXPECT_EQ(engine_.DropFileAcl("C:\\clearway-work\\no such folder\\x"), 0);
    EXPECT_EQ(os_.sets.size(), 1u);
    EXPECT_THAT(Log(), Not(HasSubstr("DropFileAcl")));
}

TEST_F(FileRemovalTest, DropFileAclFailuresBeforeTheDaclIsSet) {
    TempFolder folder("file-removal-acl-fail");
    os_.failSidAllocation = true;
    EXPECT_EQ(engine_.DropFileAcl(folder.path().c_str()), 0);
    EXPECT_EQ(os_.setEntriesCalls, 0);
    EXPECT_THAT(Log(), Not(HasSubstr("DropFileAcl")));

    os_.failSidAllocation = false;
    os_.setEntriesResult = ERROR_INVALID_PARAMETER;
    EXPECT_EQ(engine_.DropFileAcl(folder.path().c_str()), 0);
    EXPECT_TRUE(os_.sets.empty());
    EXPECT_THAT(Log(), HasSubstr("DropFileAcl: SetEntriesInAclW failed as 87\n"));
}

// ---- BuildAclWithUserAccess ----

// An ACL built with the real calls from (type, flags, sid) triples.
std::unique_ptr<BYTE[]> MakeAcl(const std::vector<Ace>& entries) {
    const DWORD size = 1024;
    std::unique_ptr<BYTE[]> buffer(new BYTE[size]());
    PACL acl = reinterpret_cast<PACL>(buffer.get());
    EXPECT_TRUE(::InitializeAcl(acl, size, ACL_REVISION));
    for (const Ace& e : entries) {
        PSID sid = const_cast<BYTE*>(e.sid.data());
        BOOL ok = e.type == ACCESS_DENIED_ACE_TYPE ? ::AddAccessDeniedAceEx(acl, ACL_REVISION, e.flags, e.mask, sid)
                                                   : ::AddAccessAllowedAceEx(acl, ACL_REVISION, e.flags, e.mask, sid);
        EXPECT_TRUE(ok) << ::GetLastError();
    }
    return buffer;
}

TEST(BuildAclWithUserAccessTest, UserEntriesGoAndTheNewOnesFollowTheExplicitDenies) {
    testing_support::TestPlatform os;
    const Bytes user = WellKnownSid(WinBuiltinUsersSid);  // stands in for the user's SID
    const Bytes guests = WellKnownSid(WinBuiltinGuestsSid);
    const Bytes admins = WellKnownSid(WinBuiltinAdministratorsSid);
    const Bytes world = WellKnownSid(WinWorldSid);
    ASSERT_FALSE(user.empty());
    const BYTE inherited = INHERITED_ACE;
    auto source = MakeAcl({{ACCESS_DENIED_ACE_TYPE, 0, KEY_WRITE, guests},
                           {ACCESS_DENIED_ACE_TYPE, 0, KEY_READ, user},
                           {ACCESS_ALLOWED_ACE_TYPE, 0, KEY_READ, admins},
                           {ACCESS_ALLOWED_ACE_TYPE, 0, KEY_READ, user},
                           {ACCESS_ALLOWED_ACE_TYPE, inherited, KEY_READ, world},
                           {ACCESS_DENIED_ACE_TYPE, inherited, DELETE, guests},
                           {ACCESS_ALLOWED_ACE_TYPE, inherited | CONTAINER_INHERIT_ACE, KEY_ALL_ACCESS, user}});
    PACL dacl = reinterpret_cast<PACL>(source.get());
    std::unique_ptr<BYTE[]> built;
    ASSERT_EQ(BuildAclWithUserAccess(os, dacl, const_cast<BYTE*>(user.data()), GENERIC_ALL, built), 0u);

    // The user's three entries are gone from the fetched DACL itself.
    const std::vector<Ace> remaining = {{ACCESS_DENIED_ACE_TYPE, 0, KEY_WRITE, guests},
                                        {ACCESS_ALLOWED_ACE_TYPE, 0, KEY_READ, admins},
                                        {ACCESS_ALLOWED_ACE_TYPE, inherited, KEY_READ, world},
                                        {ACCESS_DENIED_ACE_TYPE, inherited, DELETE, guests}};
    EXPECT_EQ(Entries(dacl), remaining);

    // The new entry is for the key itself, never inherited by its subkeys.
    PACL acl = reinterpret_cast<PACL>(built.get());
    const std::vector<Ace> expected = {{ACCESS_DENIED_ACE_TYPE, 0, KEY_WRITE, guests},
                                       {ACCESS_ALLOWED_ACE_TYPE, 0, GENERIC_ALL, user},
                                       {ACCESS_ALLOWED_ACE_TYPE, 0, KEY_READ, admins},
                                       {ACCESS_ALLOWED_ACE_TYPE, inherited, KEY_READ, world},
                                       {ACCESS_DENIED_ACE_TYPE, inherited, DELETE, guests}};
    EXPECT_EQ(Entries(acl), expected);
    EXPECT_EQ(acl->AclRevision, ACL_REVISION);
    EXPECT_TRUE(::IsValidAcl(acl));
    ACL_SIZE_INFORMATION in = {}, out = {};
    ::GetAclInformation(dacl, &in, sizeof in, AclSizeInformation);
    ::GetAclInformation(acl, &out, sizeof out, AclSizeInformation);
    EXPECT_EQ(out.AclBytesInUse + out.AclBytesFree, in.AclBytesInUse + 8 + DWORD(user.size()));
    EXPECT_EQ(out.AclBytesFree, 0u);
}

TEST(BuildAclWithUserAccessTest, WithoutAllowOrInheritedEntriesTheNewOnesAreAppended) {
    testing_support::TestPlatform os;
    const Bytes user = WellKnownSid(WinBuiltinUsersSid);
    const Bytes guests = WellKnownSid(WinBuiltinGuestsSid);
    auto source = MakeAcl({{ACCESS_DENIED_ACE_TYPE, 0, KEY_WRITE, guests}});
    std::unique_ptr<BYTE[]> built;
    ASSERT_EQ(BuildAclWithUserAccess(os, reinterpret_cast<PACL>(source.get()), const_cast<BYTE*>(user.data()),
                                     GENERIC_ALL, built),
              0u);
    const std::vector<Ace> expected = {
        {ACCESS_DENIED_ACE_TYPE, 0, KEY_WRITE, guests},
        {ACCESS_ALLOWED_ACE_TYPE, 0, GENERIC_ALL, user}};
    EXPECT_EQ(Entries(reinterpret_cast<PACL>(built.get())), expected);

    // No DACL at all: the entry alone.
    std::unique_ptr<BYTE[]> fresh;
    ASSERT_EQ(BuildAclWithUserAccess(os, nullptr, const_cast<BYTE*>(user.data()), KEY_READ, fresh), 0u);
    const std::vector<Ace> one = {{ACCESS_ALLOWED_ACE_TYPE, 0, KEY_READ, user}};
    EXPECT_EQ(Entries(reinterpret_cast<PACL>(fresh.get())), one);
}

// ---- GrantRegKeyAccess ----

const char kGrantKey[] = "Software\\clearway-work\\grant";

// Who a grant goes to: Administrators, the group the run has its rights
// through; never the account, whose unelevated programs would share it.
Bytes UserSid() { return WellKnownSid(WinBuiltinAdministratorsSid); }

TEST(BuildRegObjectNameTest, TheFourRootsAndNoOther) {
    const struct {
        HKEY root;
        const char* subkey;
        DWORD rc;
        const char* name;  // a failure leaves the name as it was
    } cases[] = {
        {HKEY_CLASSES_ROOT, "A\\B", 0, "CLASSES_ROOT\\A\\B"},      {HKEY_CURRENT_USER, "A", 0, "CURRENT_USER\\A"},
        {HKEY_LOCAL_MACHINE, "SOFTWARE\\X", 0, "MACHINE\\SOFTWARE\\X"}, {HKEY_USERS, ".DEFAULT", 0, "USERS\\.DEFAULT"},
        {HKEY_CURRENT_CONFIG, "A", 2, "USERS\\.DEFAULT"},
    };
    std::string name = "untouched";
    for (const auto& c : cases) {
        EXPECT_EQ(BuildRegObjectName(c.root, c.subkey, name), c.rc) << c.subkey;
        EXPECT_EQ(name, c.name);
    }
}

TEST_F(FileRemovalTest, GrantRegKeyAccessWithAnotherRootReturns2AndChangesNothing) {
    EXPECT_EQ(engine_.GrantRegKeyAccess(HKEY_CURRENT_CONFIG, "Software"), 2u);
    EXPECT_EQ(engine_.GrantRegKeyAccess(HKEY_PERFORMANCE_DATA, "Software"), 2u);
    EXPECT_TRUE(os_.gets.empty());
    EXPECT_TRUE(os_.sets.empty());
}

TEST_F(FileRemovalTest, GrantRegKeyAccessGivesTheUserFullControlOfARealKey) {
    testing_support::TestKey work(HKEY_CURRENT_USER, "Software\\clearway-work");
    ASSERT_TRUE(work.Create("grant", 0));
    const Bytes user = UserSid();
    ASSERT_FALSE(user.empty());
    EXPECT_EQ(engine_.GrantRegKeyAccess(HKEY_CURRENT_USER, kGrantKey), 0u);
    EXPECT_EQ(os_.gets, Texts{std::string("CURRENT_USER\\") + kGrantKey});
    ASSERT_EQ(os_.sets.size(), 1u);
    const auto& call = os_.sets[0];
    EXPECT_EQ(call.name, std::string("CURRENT_USER\\") + kGrantKey);
    EXPECT_EQ(call.type, SE_REGISTRY_KEY);
    EXPECT_EQ(call.info, static_cast<SECURITY_INFORMATION>(DACL_SECURITY_INFORMATION |
                                                            PROTECTED_DACL_SECURITY_INFORMATION));
    EXPECT_TRUE(call.owner.empty());
    // The running account's one entry is in, whatever the key held before,
    // for this key alone: nothing of the user's is inherited by subkeys.
    const Ace full = {ACCESS_ALLOWED_ACE_TYPE, 0, GENERIC_ALL, user};
    EXPECT_EQ(std::count(call.dacl.begin(), call.dacl.end(), full), 1);
    for (const Ace& ace : call.dacl) {
        if (ace.sid == user) {
            EXPECT_EQ(ace.flags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE), 0) << ace;
        }
    }

    // And the key itself holds it: read back by its name.
    PACL stored = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(::GetNamedSecurityInfoA((std::string("CURRENT_USER\\") + kGrantKey).c_str(), SE_REGISTRY_KEY,
                                      DACL_SECURITY_INFORMATION, nullptr, nullptr, &stored, nullptr, &descriptor),
              0u);
    EXPECT_EQ(Entries(stored), call.dacl);
    ::LocalFree(descriptor);

    // Granting again replaces the user's entries instead of adding more.
    os_.sets.clear();
    EXPECT_EQ(engine_.GrantRegKeyAccess(HKEY_CURRENT_USER, kGrantKey), 0u);
    ASSERT_EQ(os_.sets.size(), 1u);
    EXPECT_EQ(std::count(os_.sets[0].dacl.begin(), os_.sets[0].dacl.end(), full), 1);
}

TEST_F(FileRemovalTest, GrantRegKeyAccessReturnsTheReadErrorAndAMissingKeys) {
    testing_support::TestKey work(HKEY_CURRENT_USER, "Software\\clearway-work");
    ASSERT_TRUE(work.Create("grant", 0));
    os_.getResult = ERROR_INVALID_HANDLE;
    EXPECT_EQ(engine_.GrantRegKeyAccess(HKEY_CURRENT_USER, kGrantKey), 6u);
    EXPECT_EQ(os_.gets, Texts{std::string("CURRENT_USER\\") + kGrantKey});
    EXPECT_TRUE(os_.sets.empty());
    os_.getResult = 0;
    for (const char* missing : {"SOFTWARE\\clearway-no-such-key", "SOFTWARE\\clearway-no-such-key\\below"}) {
        EXPECT_EQ(engine_.GrantRegKeyAccess(HKEY_LOCAL_MACHINE, missing), 2u) << missing;
    }
    EXPECT_TRUE(os_.sets.empty());
}

// A DACL the key refuses: ownership is taken, then the DACL set again.
TEST_F(FileRemovalTest, AccessDeniedTakesOwnershipAndSetsTheDaclAgain) {
    testing_support::TestKey work(HKEY_CURRENT_USER, "Software\\clearway-work");
    ASSERT_TRUE(work.Create("grant", 0));
    const SECURITY_INFORMATION daclInfo = DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION;
    const struct {
        const char* name;
        std::deque<DWORD> results;  // of the SetNamedSecurityInfoA calls in turn
        DWORD rc;
        size_t calls;
    } cases[] = {
        {"taken over", {ERROR_ACCESS_DENIED, ERROR_SUCCESS, ERROR_SUCCESS}, 0, 3},
        {"ownership refused: its result, and no third call", {ERROR_ACCESS_DENIED, ERROR_INVALID_OWNER},
         ERROR_INVALID_OWNER, 2},
        {"the second DACL call's result is the result", {ERROR_ACCESS_DENIED, ERROR_SUCCESS, ERROR_ACCESS_DENIED}, 5,
         3},
        {"another error than access denied: no ownership attempt", {ERROR_INVALID_PARAMETER}, 87, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        os_.sets.clear();
        os_.setResults = c.results;
        EXPECT_EQ(engine_.GrantRegKeyAccess(HKEY_CURRENT_USER, kGrantKey), c.rc);
        ASSERT_EQ(os_.sets.size(), c.calls);
        EXPECT_EQ(os_.sets[0].info, daclInfo);
        if (c.calls < 2) continue;
        EXPECT_EQ(os_.sets[1].name, std::string("CURRENT_USER\\") + kGrantKey);
        EXPECT_EQ(os_.sets[1].type, SE_REGISTRY_KEY);
        EXPECT_EQ(os_.sets[1].info, static_cast<SECURITY_INFORMATION>(OWNER_SECURITY_INFORMATION));
        EXPECT_EQ(os_.sets[1].owner, UserSid());
        EXPECT_FALSE(os_.sets[1].hasDacl);
        EXPECT_FALSE(os_.sets[1].group);
        if (c.calls < 3) continue;
        EXPECT_EQ(os_.sets[2].info, daclInfo);
        EXPECT_EQ(os_.sets[2].dacl, os_.sets[0].dacl);
        EXPECT_FALSE(os_.sets[2].dacl.empty());
    }
}

// ---- ExpandRemoveFileEntry ----

TEST_F(FileRemovalTest, AMissingEntryIsNormalisedAndReturnsItsError) {
    char entry[] = "\"c:/clearway-work//no-such-entry/\"";
    const DWORD rc = engine_.ExpandRemoveFileEntry(entry);
    EXPECT_TRUE(rc == ERROR_FILE_NOT_FOUND || rc == ERROR_PATH_NOT_FOUND) << rc;
    EXPECT_STREQ(entry, "C:\\CLEARWAY-WORK\\NO-SUCH-ENTRY");
    EXPECT_TRUE(engine_.expandedFileList.IsEmpty());
    EXPECT_TRUE(os_.sets.empty());
}

// The folders whose removal would wreck Windows or the profiles.
Texts CatastrophicPaths() {
    const std::string windows = SpecialFolder(CSIDL_WINDOWS);
    const std::string profile = SpecialFolder(CSIDL_PROFILE);
    const std::string users = profile.substr(0, profile.find_last_of('\\'));
    char programW6432[MAX_PATH] = {};
    ::GetEnvironmentVariableA("ProgramW6432", programW6432, MAX_PATH);
    Texts paths = {"C:", "c:\\", "D:/", windows, windows + "\\", windows + "\\system32", windows + "\\SysWOW64",
                   SpecialFolder(CSIDL_SYSTEM), SpecialFolder(CSIDL_PROGRAM_FILES), SpecialFolder(CSIDL_PROGRAM_FILESX86), users,
                   users + "\\", profile, users + "\\Public", Upper(users) + "\\SOMEBODY-ELSE"};
    if (programW6432[0]) paths.push_back(programW6432);
    // The same folders in other spellings: "." and ".." segments (also below
    // a folder that does not exist), doubled separators, trailing dots,
    // short names.
    const std::string drive = windows.substr(0, 2);
    for (const std::string& other : {windows + "\\system32\\..", drive + "\\.", windows + "\\.", windows + ".",
                                     SpecialFolder(CSIDL_PROGRAM_FILES) + "\\clearway-no-such\\..",
                                     drive + "\\\\" + windows.substr(3), profile + "\\..\\.\\"}) {
        paths.push_back(other);
    }
    char shortName[MAX_PATH] = {};
    ::GetShortPathNameA(SpecialFolder(CSIDL_PROGRAM_FILES).c_str(), shortName, MAX_PATH);
    if (std::strchr(shortName, '~')) paths.push_back(shortName);
    // Every folder a folder macro names, itself, and a per-user one in
    // another profile as well.
    const std::string appData = SpecialFolder(CSIDL_APPDATA);
    for (int macro : {CSIDL_APPDATA, CSIDL_COMMON_APPDATA, CSIDL_PERSONAL, CSIDL_COMMON_PROGRAMS}) {
        paths.push_back(SpecialFolder(macro));
    }
    paths.push_back(Upper(users) + "\\SOMEBODY-ELSE" + appData.substr(profile.size()));
    return paths;
}

TEST_F(FileRemovalTest, CatastrophicEntriesAreNeitherExpandedNorScheduled) {
    const Texts paths = CatastrophicPaths();
    // The 64-bit Program Files folder, whichever view the process has.
    EXPECT_NE(std::find(paths.begin(), paths.end(), std::string("C:\\Program Files")), paths.end());
    for (const std::string& path : paths) {
        EXPECT_EQ(ExpandCopy(engine_, path), static_cast<DWORD>(ERROR_ACCESS_DENIED)) << path;
    }
    EXPECT_TRUE(engine_.expandedFileList.IsEmpty());
    EXPECT_TRUE(os_.sets.empty());  // not one ACL touched
    std::string log = Log();
    EXPECT_THAT(log, HasSubstr("ExpandRemoveFileEntry: refusing to remove 'C:': it is a drive root\n"))
        << log;
    EXPECT_THAT(log, HasSubstr("ExpandRemoveFileEntry: refusing to remove '" + Upper(SpecialFolder(CSIDL_WINDOWS)) +
                       "': it is the Windows folder\n"));
    EXPECT_EQ(Count(log, "ExpandRemoveFileEntry: refusing to remove '"), paths.size());

    // Below them nothing is refused: the entry is merely missing.
    for (int folder : {CSIDL_PROFILE, CSIDL_APPDATA}) {
        const std::string below = SpecialFolder(folder) + "\\clearway-no-such-folder";
        EXPECT_NE(ExpandCopy(engine_, below), static_cast<DWORD>(ERROR_ACCESS_DENIED)) << below;
    }

    // CleanupFiles refuses the same texts, however they reached the list.
    for (const std::string& path : paths) engine_.expandedFileList.Insert(path.c_str());
    engine_.expandedFileList.Insert("C:\\CLEARWAY-WORK\\NO-SUCH-FILE");
    const int count = engine_.expandedFileList.Count();
    os_.realMoves = false;
    EXPECT_EQ(engine_.CleanupFiles(), 0u);
    ASSERT_EQ(os_.moves.size(), 1u);
    EXPECT_EQ(os_.moves[0].path, "C:\\CLEARWAY-WORK\\NO-SUCH-FILE");
    log = Log();
    EXPECT_EQ(Count(log, "CleanupFiles: refusing to remove '"), static_cast<size_t>(count - 1)) << log;
    EXPECT_THAT(log, HasSubstr("CleanupFiles: refusing to remove '" + SpecialFolder(CSIDL_WINDOWS) + "': it is the Windows folder\n"));
    EXPECT_THAT(log, HasSubstr("CleanupFiles was successful with '" + std::to_string(count) + "' deleted values\n"));
}

// Under the system account (silent deployments) the current profile is a
// system folder; the profiles folder and the profile folders still come from
// the registry's profile list.
class SystemAccountPlatform : public RecordingPlatform {
public:
    BOOL SHGetSpecialFolderPathA(HWND owner, LPSTR path, int folder, BOOL create) override {
        if (folder != CSIDL_PROFILE) return RecordingPlatform::SHGetSpecialFolderPathA(owner, path, folder, create);
        const UINT n = ::GetWindowsDirectoryA(path, MAX_PATH);
        std::strcpy(path + n, "\\system32\\config\\systemprofile");
        return TRUE;
    }
};

TEST_F(FileRemovalTest, UnderTheSystemAccountTheProfilesStayRefused) {
    const std::string profile = SpecialFolder(CSIDL_PROFILE);
    const std::string users = profile.substr(0, profile.find_last_of('\\'));
    SystemAccountPlatform os;
    CNuke engine(os);
    for (const std::string& path : {users, profile, users + "\\Public"}) {
        EXPECT_EQ(ExpandCopy(engine, path), static_cast<DWORD>(ERROR_ACCESS_DENIED)) << path;
    }
    EXPECT_TRUE(os.sets.empty());
    EXPECT_TRUE(engine.expandedFileList.IsEmpty());
}

// The running account's Documents is a link (redirected, or synchronised to
// another folder): it still names Documents in every other profile, which
// stays as firmly as before.
class LinkedDocumentsPlatform : public RecordingPlatform {
public:
    std::string profile;  // the running account's profile, as the shell gives it
    BOOL SHGetSpecialFolderPathA(HWND owner, LPSTR path, int folder, BOOL create) override {
        if (folder == CSIDL_PROFILE) {
            std::strcpy(path, profile.c_str());
            return TRUE;
        }
        if (folder == CSIDL_PERSONAL) {
            std::strcpy(path, (profile + "\\Documents").c_str());
            return TRUE;
        }
        return RecordingPlatform::SHGetSpecialFolderPathA(owner, path, folder, create);
    }
};

TEST_F(FileRemovalTest, AnotherProfilesDocumentsStaysWhenTheRunningAccountsIsALink) {
    TempFolder me("file-removal-me");
    TempFolder redirected("file-removal-redirected");
    UnixLink documents(UnixPath(redirected.path()), UnixPath(me / "Documents"));
    ASSERT_EQ(documents.made, 0u);
    // Another profile that Windows records, with its Documents.
    TempFolder other("file-removal-other-profile");
    ASSERT_TRUE(::CreateDirectoryA((other / "Documents").c_str(), nullptr));
    testing_support::TestKey recorded(HKEY_LOCAL_MACHINE,
                                      "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\S-1-5-21-7-7-7-4101");
    ASSERT_TRUE(recorded.SetText("", "ProfileImagePath", other.path(), KEY_WOW64_64KEY));
    LinkedDocumentsPlatform os;
    os.profile = me.path();
    CNuke engine(os);
    EXPECT_EQ(ExpandCopy(engine, other / "Documents"), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(engine.expandedFileList.IsEmpty());
    EXPECT_TRUE(os.sets.empty());
}

// ---- what other users can name, swap and link below an entry ----

std::wstring Widen(const std::string& text) {
    std::wstring out(text.size() + 1, L'\0');
    out.resize(static_cast<size_t>(::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &out[0],
                                                         static_cast<int>(out.size())) - 1));
    return out;
}

bool WriteWide(const std::wstring& path) {
    platform::FileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    return static_cast<bool>(file);
}

// Where Windows finally reaches path, upper case; empty when it cannot be opened.
std::string FinalPath(const std::string& path) {
    platform::FileHandle file(::CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    char buffer[1024] = {};
    if (!file || ::GetFinalPathNameByHandleA(file.get(), buffer, sizeof buffer, 0) == 0) return std::string();
    std::string out = Upper(buffer);
    return out.compare(0, 4, "\\\\?\\") == 0 ? out.substr(4) : out;
}

// Names another user chose that the code page cannot hold. The ANSI calls
// show them with look-alikes: fullwidth dots and reverse solidi come back as
// "..\..\WINDOWS", which joined to the entry climbs out of it.
TEST_F(FileRemovalTest, ANameTheCodePageCannotHoldIsLeftAloneAndItsFolderStays) {
    TempFolder tree("file-removal-names");
    const std::string root = Upper(tree.path());
    const std::wstring wideRoot = Widen(tree.path());
    const std::wstring climbing = wideRoot + L"\\\xFF0E\xFF0E\xFF3C\xFF0E\xFF0E\xFF3CWINDOWS";
    ASSERT_TRUE(::CreateDirectoryW(climbing.c_str(), nullptr));
    ASSERT_TRUE(WriteWide(climbing + L"\\inside.txt"));
    ASSERT_TRUE(::CreateDirectoryA((tree / "sub").c_str(), nullptr));
    ASSERT_TRUE(WriteWide(wideRoot + L"\\sub\\caf\x0101.txt"));  // a-macron: best fit gives a plain a
    WriteWholeFile(tree / "sub\\plain.txt", "p");
    WriteWholeFile(tree / "plain.txt", "p");
    // What the ANSI listing shows for them: other names than the stored ones.
    Texts shown;
    WIN32_FIND_DATAA data;
    HANDLE find = ::FindFirstFileA((tree / "*").c_str(), &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    do {
        shown.push_back(data.cFileName);
    } while (::FindNextFileA(find, &data));
    ::FindClose(find);
    EXPECT_THAT(shown, Contains(HasSubstr("WINDOWS")));

    ASSERT_EQ(ExpandCopy(engine_, tree.path()), 0u);
    const Texts listed = Elements(engine_.expandedFileList);
    EXPECT_EQ(listed, (Texts{root, root + "\\PLAIN.TXT", root + "\\SUB", root + "\\SUB\\PLAIN.TXT"}));
    // By identity: every listed path is an object inside the tree.
    for (const std::string& path : listed) {
        const std::string final = FinalPath(path);
        EXPECT_EQ(final.compare(0, root.size(), root), 0) << path << " reaches " << final;
    }
    // The folders that hold such a name stay after the restart, so they
    // keep their permissions.
    EXPECT_TRUE(os_.AclDrops().empty());
    const std::string log = Log();
    EXPECT_EQ(Count(log, "its name does not fit the code page; '" + root + "' stays after the restart\n"), 1u) << log;
    EXPECT_EQ(Count(log, "its name does not fit the code page; '" + root + "\\SUB' stays after the restart\n"), 1u);

    // A wildcard entry leaves them out too.
    TSet matches;
    std::string pattern = root + "\\*";
    EXPECT_EQ(engine_.ListFilesByName(matches, &pattern[0]), 0u);
    EXPECT_EQ(Elements(matches), (Texts{root + "\\PLAIN.TXT", root + "\\SUB"}));
    EXPECT_THAT(Log(), HasSubstr("InsertFileMatches: leaving '"));
}

// The platform that swaps a folder for a link once its parent is listed: a
// user who renames their folder while the run walks the tree.
class SwappingPlatform : public RecordingPlatform {
public:
    std::string listed;               // the folder after whose listing the swap happens
    std::function<void()> swap;
    BOOL GetFileInformationByHandleEx(HANDLE file, FILE_INFO_BY_HANDLE_CLASS infoClass, LPVOID information,
                                      DWORD size) override {
        const BOOL read = RecordingPlatform::GetFileInformationByHandleEx(file, infoClass, information, size);
        char name[MAX_PATH] = {};
        const DWORD n = ::GetFinalPathNameByHandleA(file, name, MAX_PATH, 0);
        if (swap && infoClass == FileIdBothDirectoryRestartInfo && n > 4 && n < MAX_PATH &&
            Upper(name + 4) == Upper(listed)) {
            swap();
            swap = nullptr;
        }
        return read;
    }
};

TEST_F(FileRemovalTest, AFolderSwappedForALinkWhileTheTreeIsWalkedIsLeftAlone) {
    TempFolder tree("file-removal-swap");
    TempFolder outside("file-removal-swap-target");
    const std::string root = Upper(tree.path());
    ASSERT_TRUE(::CreateDirectoryA((tree / "user").c_str(), nullptr));
    WriteWholeFile(tree / "user\\settings.dat", "s");
    WriteWholeFile(outside / "settings.dat", "must stay");
    SwappingPlatform os;
    CNuke engine(os);
    engine.dialog = &dialog_;
    std::unique_ptr<UnixLink> link;
    os.listed = tree.path();
    os.swap = [&] {
        ASSERT_TRUE(::MoveFileA((tree / "user").c_str(), (tree / "user-moved").c_str()));
        link.reset(new UnixLink(UnixPath(outside.path()), UnixPath(tree / "user")));
        ASSERT_EQ(link->made, 0u);
    };
    ASSERT_EQ(ExpandCopy(engine, tree.path()), 0u);
    ASSERT_TRUE(link);
    // Nothing behind the link is listed, and no permissions reach its target.
    EXPECT_EQ(Elements(engine.expandedFileList), Texts{root});
    for (const std::string& name : os.AclDrops()) EXPECT_NE(name, Upper(outside.path()));
    // Windows opens the link itself and sees a reparse point; Wine opens a
    // Unix link's target, whose final path is elsewhere. Either way: alone.
    EXPECT_THAT(Log(), HasSubstr("ExpandRemoveFileEntry: leaving '" + root + "\\USER' alone: it "));
}

// A folder's new permissions are handed down to the files that inherit
// them, and a file's permissions are those of all its names. Such a name is
// counted where someone else could have put it: in a folder only the
// trusted accounts may add to, a second name is theirs.
TEST_F(FileRemovalTest, AFolderOthersMayAddToHoldingAFileWithOtherNamesKeepsItsPermissions) {
    TempFolder tree("file-removal-hardlink");
    TempFolder outside("file-removal-hardlink-target");
    const std::string root = Upper(tree.path());
    for (const char* folder : {"shared", "plain", "own"}) ASSERT_TRUE(::CreateDirectoryA((tree / folder).c_str(), nullptr));
    WriteWholeFile(outside / "system.ini", "x");
    WriteWholeFile(outside / "own.ini", "x");
    ASSERT_TRUE(::CreateHardLinkA((tree / "shared\\twice.ini").c_str(), (outside / "system.ini").c_str(), nullptr));
    ASSERT_TRUE(::CreateHardLinkA((tree / "own\\twice.ini").c_str(), (outside / "own.ini").c_str(), nullptr));
    WriteWholeFile(tree / "plain\\once.ini", "x");
    // Everyone may add files to "shared": Wine reports the Unix mode as the
    // folder's access list.
    ASSERT_EQ(RunUnix("/bin/chmod 777 \"" + UnixPath(tree / "shared") + "\""), 0u);
    ASSERT_EQ(ExpandCopy(engine_, tree.path()), 0u);
    EXPECT_EQ(Elements(engine_.expandedFileList),
              (Texts{root, root + "\\OWN", root + "\\OWN\\TWICE.INI", root + "\\PLAIN", root + "\\PLAIN\\ONCE.INI",
                     root + "\\SHARED", root + "\\SHARED\\TWICE.INI"}));
    EXPECT_EQ(os_.AclDrops(), (Texts{root + "\\OWN", root + "\\PLAIN"}));
    EXPECT_THAT(Log(), HasSubstr("'" + root + "\\SHARED\\TWICE.INI' has other names (hard links), so the permissions of '" +
                                 root + "\\SHARED' stay as they are\n"));
    EXPECT_THAT(Log(), Not(HasSubstr("OWN\\TWICE.INI' has other names")));
}

// ---- a whole tree, scheduled, then a real restart ----

// The pending deletions of the prefix, in order, as "\??\C:\..." texts.
Texts PendingDeletions() {
    Texts out;
    platform::RegKey key;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0, KEY_READ,
                        key.put()) != ERROR_SUCCESS) {
        return out;
    }
    DWORD size = 0;
    if (::RegQueryValueExA(key.get(), "PendingFileRenameOperations", nullptr, nullptr, nullptr, &size) !=
        ERROR_SUCCESS) {
        return out;
    }
    std::vector<char> data(size + 2, '\0');
    ::RegQueryValueExA(key.get(), "PendingFileRenameOperations", nullptr, nullptr,
                       reinterpret_cast<BYTE*>(data.data()), &size);
    // Pairs of source and target; an empty target is a deletion.
    for (size_t at = 0; at < size && data[at];) {
        std::string source = &data[at];
        at += source.size() + 1;
        std::string target = at < data.size() ? &data[at] : "";
        at += target.size() + 1;
        if (target.empty()) out.push_back(source);
    }
    return out;
}

TEST_F(FileRemovalTest, ATreeIsExpandedScheduledAndRemovedAtTheRestart) {
    ASSERT_TRUE(PendingDeletions().empty()) << "the prefix holds pending deletions of others";
    TempFolder outside("file-removal-outside");
    TempFolder tree("file-removal-tree");
    const std::string root = Upper(tree.path());
    WriteWholeFile(outside / "kept.txt", "target of the link");
    ::CreateDirectoryA((tree / "sub").c_str(), nullptr);
    ::CreateDirectoryA((tree / "sub\\deep").c_str(), nullptr);
    ::CreateDirectoryA((tree / "keep").c_str(), nullptr);
    WriteWholeFile(tree / "readonly.txt", "r");
    WriteWholeFile(tree / "hidden.txt", "h");
    WriteWholeFile(tree / "system.dll", "s");
    WriteWholeFile(tree / "sub\\s.txt", "s");
    WriteWholeFile(tree / "sub\\deep\\d.txt", "d");
    WriteWholeFile(tree / "keep\\k.txt", "k");
    ASSERT_TRUE(::SetFileAttributesA((tree / "readonly.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(::SetFileAttributesA((tree / "hidden.txt").c_str(), FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(::SetFileAttributesA((tree / "system.dll").c_str(), FILE_ATTRIBUTE_SYSTEM));
    // Wine makes no links through Win32: a Unix symbolic link, made by a Unix
    // program that Wine starts, shows as a folder that is a reparse point.
    // Wine cannot remove it through Win32 either, so it goes the same way.
    UnixLink link(UnixPath(outside.path()), UnixPath(tree / "link"));
    ASSERT_EQ(link.made, 0u);
    DWORD linkAttributes = INVALID_FILE_ATTRIBUTES;
    for (int i = 0; i < 50 && linkAttributes == INVALID_FILE_ATTRIBUTES; ++i) {
        linkAttributes = ::GetFileAttributesA((tree / "link").c_str());
        if (linkAttributes == INVALID_FILE_ATTRIBUTES) ::Sleep(100);
    }
    ASSERT_NE(linkAttributes, INVALID_FILE_ATTRIBUTES);
    ASSERT_TRUE(linkAttributes & FILE_ATTRIBUTE_DIRECTORY);

    engine_.ignoreFileList.Insert((root + "\\KEEP").c_str());
    std::vector<char> entry(tree.path().begin(), tree.path().end());
    entry.push_back('\0');
    ASSERT_EQ(engine_.ExpandRemoveFileEntry(entry.data()), 0u);
    EXPECT_EQ(std::string(entry.data()), root);

    Texts expanded = {root,
                      root + "\\HIDDEN.TXT",
                      root + "\\KEEP",
                      root + "\\KEEP\\K.TXT",
                      root + "\\LINK",
                      root + "\\READONLY.TXT",
                      root + "\\SUB",
                      root + "\\SUB\\DEEP",
                      root + "\\SUB\\DEEP\\D.TXT",
                      root + "\\SUB\\S.TXT",
                      root + "\\SYSTEM.DLL"};
    EXPECT_EQ(Elements(engine_.expandedFileList), expanded);  // nothing behind the link
    // ACLs reset for the folders only; not for the ignored one, nor for the
    // folder that holds it (its inheritable entry would reach the ignored
    // one on Windows), not through the link. A folder's turn comes once its
    // tree is listed, so the deeper one goes first.
    EXPECT_EQ(os_.AclDrops(), (Texts{root + "\\SUB\\DEEP", root + "\\SUB"}));

    // A link given as the entry itself: inserted, not followed, its ACL (that
    // is, its target's) left alone.
    os_.sets.clear();
    std::string linkText = root + "\\LINK";
    std::vector<char> linkEntry(linkText.begin(), linkText.end());
    linkEntry.push_back('\0');
    EXPECT_TRUE(::GetFileAttributesA(linkEntry.data()) & FILE_ATTRIBUTE_REPARSE_POINT);
    EXPECT_EQ(engine_.ExpandRemoveFileEntry(linkEntry.data()), 0u);
    EXPECT_TRUE(os_.AclDrops().empty());
    EXPECT_EQ(Elements(engine_.expandedFileList), expanded);

    engine_.ExcludeIgnoreList(engine_.expandedFileList, engine_.ignoreFileList);
    expanded.erase(expanded.begin() + 2, expanded.begin() + 4);
    ASSERT_EQ(Elements(engine_.expandedFileList), expanded);

    ASSERT_EQ(engine_.CleanupFiles(), 0u);
    std::string log = Log();
    EXPECT_THAT(log, HasSubstr("CleanupFiles was successful with '9' deleted values\n")) << log;
    EXPECT_EQ(Count(log, "FAILED"), 0u) << log;

    // Every path before the folder that holds it, the configured one last.
    Texts order;
    for (const auto& m : os_.moves) {
        EXPECT_TRUE(m.nullTarget);
        EXPECT_EQ(m.flags, static_cast<DWORD>(MOVEFILE_DELAY_UNTIL_REBOOT));
        order.push_back(m.path);
    }
    ASSERT_EQ(order.size(), expanded.size());
    for (size_t i = 0; i < order.size(); ++i) {
        for (size_t j = i + 1; j < order.size(); ++j) {
            EXPECT_NE(order[j].rfind(order[i] + "\\", 0), 0u) << order[i] << " came before " << order[j];
        }
    }
    EXPECT_EQ(order.back(), root);
    // The table holds them in the same order.
    Texts pending = PendingDeletions();
    Texts expectedPending;
    for (const auto& p : order) expectedPending.push_back("\\??\\" + p);
    Texts pendingUpper;
    for (const auto& p : pending) pendingUpper.push_back(Upper(p));
    EXPECT_EQ(pendingUpper, expectedPending);

    // Until the restart everything stays; read-only went, hidden and system stay.
    EXPECT_EQ(::GetFileAttributesA((tree / "readonly.txt").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_TRUE(::GetFileAttributesA((tree / "hidden.txt").c_str()) & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_TRUE(::GetFileAttributesA((tree / "system.dll").c_str()) & FILE_ATTRIBUTE_SYSTEM);
    EXPECT_TRUE(PathExists(tree / "sub\\deep\\d.txt"));

    // The restart.
    ASSERT_EQ(RunAndWait("C:\\windows\\system32\\wineboot.exe -r", 120000), 0u);
    EXPECT_TRUE(PendingDeletions().empty());
    for (const char* gone : {"readonly.txt", "hidden.txt", "system.dll", "sub\\s.txt", "sub\\deep\\d.txt",
                             "sub\\deep", "sub"}) {
        EXPECT_FALSE(PathExists(tree / gone)) << gone;
    }
    // Windows removes a folder link like an empty folder; Wine's restart
    // leaves a Unix symbolic link to a folder in place.
    EXPECT_EQ(PathExists(tree / "link"), RunningOnWine());
    // The ignored folder stays, and with it the folder that holds it.
    EXPECT_EQ(ReadWholeFile(tree / "keep\\k.txt"), "k");
    EXPECT_TRUE(PathExists(tree.path()));
    // The link's target is untouched.
    EXPECT_EQ(ReadWholeFile(outside / "kept.txt"), "target of the link");
}

// Pending renames that are no list of pairs (a deletion without its empty
// target): MoveFileExA would append to them and pair the first path with
// the other program's, renaming its file there. Nothing is added, by the
// one write or by a call of its own, and the value stays as it was.
TEST_F(FileRemovalTest, PendingRenamesThatAreNoListOfPairsGetNothingAdded) {
    ASSERT_TRUE(PendingDeletions().empty()) << "the prefix holds pending deletions of others";
    TempFolder folder("file-removal-odd-list");
    const std::string file = Upper(folder / "a.txt");
    WriteWholeFile(file, "a");
    const std::wstring odd = L"\\??\\C:\\other.old";
    std::vector<wchar_t> before(odd.begin(), odd.end());
    before.push_back(L'\0');
    before.push_back(L'\0');
    ASSERT_EQ(::RegSetKeyValueW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                                L"PendingFileRenameOperations", REG_MULTI_SZ, before.data(),
                                static_cast<DWORD>(before.size() * sizeof(wchar_t))),
              ERROR_SUCCESS);
    struct Restore {
        ~Restore() {
            ::RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                                 "PendingFileRenameOperations");
        }
    } restore;
    const std::string tooLong = Upper(folder / std::string(MAX_PATH, 'X'));
    engine_.expandedFileList.Insert(file.c_str());
    engine_.expandedFileList.Insert(tooLong.c_str());

    EXPECT_EQ(engine_.CleanupFiles(), 0u);
    std::vector<wchar_t> after(before.size() + 64, L'x');
    DWORD size = static_cast<DWORD>(after.size() * sizeof(wchar_t));
    ASSERT_EQ(::RegGetValueW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                             L"PendingFileRenameOperations", RRF_RT_ANY | RRF_NOEXPAND, nullptr, after.data(), &size),
              ERROR_SUCCESS);
    after.resize(size / sizeof(wchar_t));
    EXPECT_EQ(after, before);
    EXPECT_EQ(engine_.scheduled, 0);
    EXPECT_EQ(engine_.failures, 1);  // the file that is there; the other is gone already
    EXPECT_TRUE(os_.AclDrops().empty());
    EXPECT_FALSE(engine_.left.empty());
    const std::string log = Log();
    for (const std::string& path : {file, tooLong}) {
        EXPECT_THAT(log, HasSubstr("CleanupFiles: '" + path + "' is not scheduled for deletion\n")) << log;
    }
    EXPECT_THAT(log, Not(HasSubstr("was successful\n")));
}

// The run's paths go to the pending renames in one write, after another
// program's pairs, which stay, and in the order the run registers them. A
// cancel pressed during element 25 of 45 is seen before element 40: the
// paths before it are written, and the restart deletes them. A path too
// long for MoveFileExA goes on its own and fails, and the paths around it
// keep their order.
TEST_F(FileRemovalTest, ACancelledBatchKeepsOtherProgramsPairsAndTheRestartCarriesItOut) {
    ASSERT_TRUE(PendingDeletions().empty()) << "the prefix holds pending deletions of others";
    TempFolder folder("file-removal-batch");
    const std::string root = Upper(folder.path());
    WriteWholeFile(folder / "other.new", "new");
    WriteWholeFile(folder / "other.old", "old");
    ASSERT_TRUE(::MoveFileExA((folder / "other.new").c_str(), (folder / "other.dat").c_str(),
                              MOVEFILE_DELAY_UNTIL_REBOOT));
    ASSERT_TRUE(::MoveFileExA((folder / "other.old").c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    char name[16];
    for (int i = 0; i < 44; ++i) {
        std::snprintf(name, sizeof name, "F%02d", i);
        WriteWholeFile(folder / name, name);
        engine_.expandedFileList.Insert((root + "\\" + name).c_str());
    }
    // Listed from the deepest and last: between F30 and F29.
    const std::string tooLong = root + "\\F29\\" + std::string(MAX_PATH, 'X');
    engine_.expandedFileList.Insert(tooLong.c_str());
    dialog_.cancelAtRead = 3;  // pressed after the state read before element 20

    EXPECT_EQ(engine_.CleanupFiles(), static_cast<DWORD>(ERROR_CANCELLED));
    EXPECT_EQ(dialog_.stateReads, 3);  // before elements 0, 20 and 40
    EXPECT_EQ(os_.batches, (std::vector<size_t>{14, 25}));
    Texts expected = {"\\??\\" + Upper(folder / "other.old")};
    for (int i = 43; i >= 5; --i) {
        std::snprintf(name, sizeof name, "F%02d", i);
        expected.push_back("\\??\\" + root + "\\" + name);
    }
    Texts pending;
    for (const std::string& path : PendingDeletions()) pending.push_back(Upper(path));
    EXPECT_EQ(pending, expected);
    const std::string log = Log();
    EXPECT_THAT(log, HasSubstr("MoveFileEx for '" + tooLong + "' FAILED. Trying again with DropFileAcl...\n")) << log;
    EXPECT_THAT(log, HasSubstr("CleanupFiles deleted '40' values until uninstallation was cancelled by user\n"));
    EXPECT_THAT(log, Not(HasSubstr("CleanupFiles was successful")));
    EXPECT_EQ(Count(log, "was successful\n"), 39u);

    ASSERT_EQ(RunAndWait("C:\\windows\\system32\\wineboot.exe -r", 120000), 0u);
    EXPECT_TRUE(PendingDeletions().empty());
    for (int i = 0; i < 44; ++i) {
        std::snprintf(name, sizeof name, "F%02d", i);
        EXPECT_EQ(PathExists(folder / name), i < 5) << name;
    }
    // The other program's pairs were carried out as it asked.
    EXPECT_EQ(ReadWholeFile(folder / "other.dat"), "new");
    EXPECT_FALSE(PathExists(folder / "other.old"));
}

// A user's own folder: the user may delete, rename and replace what it
// holds until the restart. The tree below it is moved whole into a holding
// folder of the run's own and deleted there; a link the user then puts in
// its old place reaches nothing the restart deletes.
TEST_F(FileRemovalTest, ATreeBelowAFolderOthersCanChangeIsHeldUntilTheRestart) {
    ASSERT_TRUE(PendingDeletions().empty()) << "the prefix holds pending deletions of others";
    TempFolder profile("file-removal-user-profile");
    TempFolder outside("file-removal-held-target");
    const std::string tree = profile / "Velmoran";
    const std::string root = Upper(tree);
    ASSERT_TRUE(::CreateDirectoryA(tree.c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryA((tree + "\\sub").c_str(), nullptr));
    WriteWholeFile(tree + "\\top.txt", "t");
    WriteWholeFile(tree + "\\sub\\data.dat", "d");
    ASSERT_TRUE(::CreateDirectoryA((outside / "sub").c_str(), nullptr));
    WriteWholeFile(outside / "top.txt", "must stay");
    WriteWholeFile(outside / "sub\\data.dat", "must stay");
    // Everyone may change the profile folder: Wine keeps no access list of
    // its own here and reports the Unix mode, so the mode says it.
    ASSERT_EQ(RunUnix("/bin/chmod 777 \"" + UnixPath(profile.path()) + "\""), 0u);
    // The new permissions of the tree's folders make them the run's on
    // Windows; Wine would report them as a mode others may write.
    os_.keepFilePermissions = true;
    ASSERT_EQ(ExpandCopy(engine_, tree), 0u);
    ASSERT_EQ(Elements(engine_.expandedFileList),
              (Texts{root, root + "\\SUB", root + "\\SUB\\DATA.DAT", root + "\\TOP.TXT"}));
    ASSERT_EQ(engine_.CleanupFiles(), 0u);
    const std::string log = Log();
    EXPECT_THAT(log, HasSubstr("CleanupFiles: moved '" + root + "' to '")) << log;
    EXPECT_EQ(Count(log, "FAILED"), 0u) << log;
    EXPECT_FALSE(PathExists(tree)) << "held until the restart";

    // Every deletion lies in one holding folder of the run's own, the
    // folder itself last; none passes through the profile.
    const Texts pending = PendingDeletions();
    ASSERT_EQ(pending.size(), 5u);
    const std::string hold = Upper(pending.back()).substr(4);  // "\??\" off
    EXPECT_EQ(hold.compare(0, Upper(SpecialFolder(CSIDL_COMMON_APPDATA)).size(),
                           Upper(SpecialFolder(CSIDL_COMMON_APPDATA))),
              0)
        << hold;
    const Texts expected = {"\\??\\" + hold + "\\1\\TOP.TXT", "\\??\\" + hold + "\\1\\SUB\\DATA.DAT",
                            "\\??\\" + hold + "\\1\\SUB", "\\??\\" + hold + "\\1", "\\??\\" + hold};
    Texts pendingUpper;
    for (const auto& p : pending) pendingUpper.push_back(Upper(p));
    EXPECT_EQ(pendingUpper, expected);
    EXPECT_EQ(ReadWholeFile(hold + "\\1\\SUB\\DATA.DAT"), "d");
    // The holding folder is made SYSTEM's and Administrators' alone, from
    // its first moment.
    const auto made = std::find_if(os_.createdFolders.begin(), os_.createdFolders.end(),
                                   [&hold](const TestPlatform::CreatedFolder& f) { return Upper(f.path) == hold; });
    ASSERT_NE(made, os_.createdFolders.end());
    EXPECT_TRUE(made->protectedDacl);
    EXPECT_EQ(made->dacl, testing_support::OwnAcl(false));

    // After the run the user puts a link to another folder in the tree's place.
    UnixLink link(UnixPath(outside.path()), UnixPath(tree));
    ASSERT_EQ(link.made, 0u);
    ASSERT_EQ(RunAndWait("C:\\windows\\system32\\wineboot.exe -r", 120000), 0u);
    EXPECT_TRUE(PendingDeletions().empty());
    EXPECT_FALSE(PathExists(hold));
    EXPECT_EQ(ReadWholeFile(outside / "top.txt"), "must stay");
    EXPECT_EQ(ReadWholeFile(outside / "sub\\data.dat"), "must stay");
}

}  // namespace
