// The entry handlers against real Wine state: registry keys in both views,
// files and folders, user profile folders, services and a running process.
// The platform seam stands in only for failures Wine cannot be made to show.
#include <gtest/gtest.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "profile/engine.h"
#include "profile/tset.h"
#include "tests/support/matchers.h"
#include "trace/trace.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_key.h"
#include "tests/support/test_platform.h"

namespace {

using testing_support::Upper;
using ::testing::Contains;

using Texts = std::vector<std::string>;
using testing_support::TempFolder;

const char kTestKey[] = "SOFTWARE\\ClearwayTests\\Handlers";
const char kTestEntry[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\CLEARWAYTESTS\\HANDLERS";

class TestDialog : public CNukeDialogLink {
public:
    RunState GetRunState() const override { return Running; }
    const char* GetProductName() const override { return productName.c_str(); }
    void SetProductName(const char* name) override { productName = name ? name : ""; }
    const char* GetInstallPath() const override { return ""; }
    std::string productName = "Velmoran Shield";
};

Texts Ascending(TSet& set) {
    Texts out;
    const char* text = nullptr;
    for (DWORD rc = set.GetFirst(text); rc == 0; rc = set.GetNext(text)) out.push_back(text);
    return out;
}

// A writable copy of an argument, as AddListEntry hands it over.
struct Arg {
    explicit Arg(const std::string& text) : buffer(text.begin(), text.end()) { buffer.push_back('\0'); }
    operator char*() { return buffer.data(); }
    std::vector<char> buffer;
};

// ---- registry ---------------------------------------------------------

// The engine is a 32-bit program: its plain opens see the 32-bit view.
constexpr REGSAM k32 = KEY_WOW64_32KEY;
constexpr REGSAM k64 = KEY_WOW64_64KEY;

class HandlersRegistry : public ::testing::Test {
protected:
    void SetUp() override { nuke.dialog = &dialog; }
    testing_support::TestPlatform os;
    TestDialog dialog;
    CNuke nuke{os};
    TSet list;
    testing_support::TestKey key{HKEY_LOCAL_MACHINE, kTestKey};  // gone in both views before and after
};

std::string Entry(const std::string& rest) { return std::string(kTestEntry) + "\\" + rest; }

TEST_F(HandlersRegistry, ValueDataInsertsTheStoredTextAsReadFromThe32BitView) {
    key.SetText("Ref", "InstallDir", "C:\\Program Files\\Velmoran\\Client", k32);
    key.SetText("Ref", "InstallDir", "D:\\Sixty Four", k64);
    EXPECT_EQ(nuke.ListRegValueData(list, Arg(Entry("REF\\INSTALLDIR"))), 0u);
    EXPECT_EQ(Ascending(list), Texts({"C:\\Program Files\\Velmoran\\Client"}));
}

TEST_F(HandlersRegistry, ValueDataOnMissingEmptyOrRootlessValuesAddsNothing) {
    key.Set("Ref", "Empty", REG_SZ, nullptr, 0, k32);
    key.SetText("Ref", "OnlyTerminator", "", k32);
    key.SetText("Ref", "Only64", "sixty-four", k64);
    EXPECT_EQ(nuke.ListRegValueData(list, Arg(Entry("REF\\MISSING"))), 0u);
    EXPECT_EQ(nuke.ListRegValueData(list, Arg(Entry("NOKEY\\MISSING"))), 0u);
    EXPECT_EQ(nuke.ListRegValueData(list, Arg(Entry("REF\\EMPTY"))), 0u);
    EXPECT_EQ(nuke.ListRegValueData(list, Arg(Entry("REF\\ONLYTERMINATOR"))), 0u);
    EXPECT_EQ(nuke.ListRegValueData(list, Arg(Entry("REF\\ONLY64"))), 0u);
    EXPECT_EQ(nuke.ListRegValueData(list, Arg("HKLM\\SOFTWARE\\CLEARWAYTESTS\\HANDLERS\\REF\\EMPTY")), 0u);
    EXPECT_EQ(nuke.ListRegValueData(list, Arg("JUSTTEXT")), 0u);
    EXPECT_TRUE(list.IsEmpty()) << Ascending(list).size();
}

TEST_F(HandlersRegistry, ValueDataRejectsNonTextValuesWildcardPathsAndEmptyArguments) {
    key.SetDword("Ref", "Flags", 7, k32);
    key.SetText("Ref", "Text", "ok", k32);
    EXPECT_EQ(nuke.ListRegValueData(list, Arg(Entry("REF\\FLAGS"))), 13u);
    EXPECT_EQ(nuke.ListRegValueData(list, Arg(Entry("RE*\\TEXT"))), 13u);
    EXPECT_EQ(nuke.ListRegValueData(list, Arg("")), 13u);
    EXPECT_EQ(nuke.ListRegValueData(list, nullptr), 13u);
    EXPECT_TRUE(list.IsEmpty());
}

TEST_F(HandlersRegistry, ValuesByNameWithoutWildcardInsertTheArgumentEvenWhenNothingExists) {
    EXPECT_EQ(nuke.ListRegValuesByName(list, Arg(Entry("NOKEY\\NOVALUE"))), 0u);
    EXPECT_EQ(nuke.ListRegValuesByName(list, Arg("NOROOT\\X")), 0u);
    EXPECT_EQ(Ascending(list), Texts({Entry("NOKEY\\NOVALUE"), "NOROOT\\X"}));
}

TEST_F(HandlersRegistry, ValuesByNameListMatchingValuesOfThe32BitViewInUpperCase) {
    key.SetText("Run", "VelTray", "a", k32);
    key.SetText("Run", "velAgent", "b", k32);
    key.SetDword("Run", "Other", 1, k32);
    key.SetText("Run", "VelSixtyFour", "c", k64);
    EXPECT_EQ(nuke.ListRegValuesByName(list, Arg(Entry("RUN\\VEL*"))), 0u);
    EXPECT_EQ(Ascending(list), Texts({Entry("RUN\\VELAGENT"), Entry("RUN\\VELTRAY")}));

    TSet none;
    EXPECT_EQ(nuke.ListRegValuesByName(none, Arg(Entry("RUN\\NOTHING*"))), 0u);
    EXPECT_TRUE(none.IsEmpty());
}

TEST_F(HandlersRegistry, ValuesByNameOnAMissingKeyInsertTheArgumentAndRejectWildcardPaths) {
    EXPECT_EQ(nuke.ListRegValuesByName(list, Arg(Entry("NOKEY\\VEL*"))), 0u);
    EXPECT_EQ(Ascending(list), Texts({Entry("NOKEY\\VEL*")}));
    EXPECT_EQ(nuke.ListRegValuesByName(list, Arg(Entry("R*N\\VEL*"))), 13u);
    EXPECT_EQ(nuke.ListRegValuesByName(list, Arg("")), 13u);
    EXPECT_EQ(nuke.ListRegValuesByName(list, nullptr), 13u);
    EXPECT_EQ(list.Count(), 1);
}

TEST_F(HandlersRegistry, ValuesByNameSkipANameTooLongForTheBufferAndListTheRest) {
    // The prefix is 56 characters; with this name the entry would pass 260.
    const std::string longName = "VEL" + std::string(220, 'X');
    key.SetText("Long", longName.c_str(), "a", k32);
    key.SetText("Long", "VelShort", "b", k32);
    key.SetText("Long", "VelZed", "c", k32);
    EXPECT_EQ(nuke.ListRegValuesByName(list, Arg(Entry("LONG\\VEL*"))), 0u);
    EXPECT_EQ(Ascending(list), Texts({Entry("LONG\\VELSHORT"), Entry("LONG\\VELZED")}));
}

TEST_F(HandlersRegistry, KeysByNameListSubkeysOfThe64BitViewAndMergeLetterCases) {
    key.Create("Keys\\VelClient", k64);
    key.Create("Keys\\velDriver", k64);
    key.Create("Keys\\Other", k64);
    key.Create("Keys\\VelThirtyTwo", k32);
    EXPECT_EQ(nuke.ListRegKeysByName(list, Arg(Entry("KEYS\\VEL*"))), 0u);
    EXPECT_EQ(Ascending(list), Texts({Entry("KEYS\\VELCLIENT"), Entry("KEYS\\VELDRIVER")}));

    // The same key written in another letter case is one element.
    EXPECT_EQ(nuke.ListRegKeysByName(list, Arg("hkey_local_machine\\software\\clearwaytests\\handlers\\keys\\velclient")),
              0u);
    EXPECT_EQ(nuke.ListRegKeysByName(list, Arg(Entry("KEYS\\?ELCLIENT"))), 0u);
    EXPECT_EQ(list.Count(), 2);
}

// A name the code page cannot hold matches nothing and is left alone: read
// through the ANSI calls, "Vel" + a fullwidth reverse solidus + "Other"
// would name the key Other below a key Vel.
TEST_F(HandlersRegistry, NamesTheCodePageCannotHoldMatchNothing) {
    key.Create("Keys\\VelClient", k64);
    key.SetText("Run", "VelTray", "a", k32);
    const std::wstring base = std::wstring(L"") + L"SOFTWARE\\ClearwayTests\\Handlers";
    HKEY odd = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, (base + L"\\Keys\\Vel\xFF3COther").c_str(), 0, nullptr, 0,
                                KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &odd, nullptr),
              ERROR_SUCCESS);
    ::RegCloseKey(odd);
    HKEY run = nullptr;
    ASSERT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, (base + L"\\Run").c_str(), 0, KEY_SET_VALUE | KEY_WOW64_32KEY, &run),
              ERROR_SUCCESS);
    ASSERT_EQ(::RegSetValueExW(run, L"Vel\x0416", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"x"), 4), ERROR_SUCCESS);
    ::RegCloseKey(run);

    TraceShutdown();
    TraceSetPlatform(&os);
    EXPECT_EQ(nuke.ListRegKeysByName(list, Arg(Entry("KEYS\\VEL*"))), 0u);
    EXPECT_EQ(nuke.ListRegValuesByName(list, Arg(Entry("RUN\\VEL*"))), 0u);
    TraceSetPlatform(nullptr);
    EXPECT_EQ(Ascending(list), Texts({Entry("KEYS\\VELCLIENT"), Entry("RUN\\VELTRAY")}));
    const std::string log = os.DebugOutput();
    EXPECT_THAT(log, HasSubstr("ListRegKeysByName: leaving 'Vel?Other' in '")) << log;
    EXPECT_THAT(log, HasSubstr("ListRegValuesByName: leaving 'Vel?' in '")) << log;
}

TEST_F(HandlersRegistry, KeysByNameInsertUnknownKeysAsWrittenAndSkipOverlongNames) {
    EXPECT_EQ(nuke.ListRegKeysByName(list, Arg(Entry("NOKEY\\VEL*"))), 0u);
    EXPECT_EQ(nuke.ListRegKeysByName(list, Arg(Entry("NOKEY\\PLAIN"))), 0u);
    EXPECT_EQ(nuke.ListRegKeysByName(list, Arg(Entry("K*\\X*"))), 13u);
    EXPECT_EQ(Ascending(list), Texts({Entry("NOKEY\\PLAIN"), Entry("NOKEY\\VEL*")}));

    const std::string longName = "VEL" + std::string(230, 'Y');
    key.Create("Long\\" + longName, k64);
    key.Create("Long\\VelA", k64);
    key.Create("Long\\VelZ", k64);
    TSet keys;
    EXPECT_EQ(nuke.ListRegKeysByName(keys, Arg(Entry("LONG\\VEL*"))), 0u);
    EXPECT_EQ(Ascending(keys), Texts({Entry("LONG\\VELA"), Entry("LONG\\VELZ")}));
}

TEST_F(HandlersRegistry, ValuesByDataInsertTheValuesWhoseTextMatches) {
    key.SetText("Data", "One", "C:\\Program Files\\Velmoran\\one.dll", k32);
    key.SetText("Data", "Two", "c:\\velmoran\\two.dll", k32);
    key.SetText("Data", "Three", "C:\\Other\\three.dll", k32);
    key.SetText("Data", "Four", "C:\\Velmoran\\four.dll", k64);
    key.SetText("Data", "", "C:\\Velmoran\\default.dll", k32);
    const std::string arg = "\"" + Entry("DATA\\*") + "\",\"*VELMORAN*\"";
    EXPECT_EQ(nuke.ListRegValuesByData(list, Arg(arg)), 0u);
    // The unnamed value appears as the key entry with a trailing backslash.
    EXPECT_EQ(Ascending(list), Texts({Entry("DATA\\"), Entry("DATA\\ONE"), Entry("DATA\\TWO")}));

    TSet named;
    EXPECT_EQ(nuke.ListRegValuesByData(named, Arg("\"" + Entry("DATA\\THREE") + "\",\"*OTHER*\"")), 0u);
    EXPECT_EQ(nuke.ListRegValuesByData(named, Arg("\"" + Entry("DATA\\MISSING") + "\",\"*\"")), 0u);
    EXPECT_EQ(Ascending(named), Texts({Entry("DATA\\THREE")}));
}

TEST_F(HandlersRegistry, ValuesByDataFailOnANonTextCandidateUnlessTheListHoldsItAlready) {
    key.SetText("Mixed", "Text", "velmoran", k32);
    key.SetDword("Mixed", "Number", 3, k32);
    const std::string arg = "\"" + Entry("MIXED\\*") + "\",\"*VELMORAN*\"";
    EXPECT_EQ(nuke.ListRegValuesByData(list, Arg(arg)), 13u);

    TSet holding;
    holding.Insert(Entry("MIXED\\NUMBER").c_str());
    EXPECT_EQ(nuke.ListRegValuesByData(holding, Arg(arg)), 0u);
    EXPECT_EQ(Ascending(holding), Texts({Entry("MIXED\\NUMBER"), Entry("MIXED\\TEXT")}));
}

TEST_F(HandlersRegistry, ValuesByDataRejectMissingFieldsAndBadValueEntries) {
    EXPECT_EQ(nuke.ListRegValuesByData(list, Arg("\"" + Entry("DATA\\*") + "\"")), 13u);
    EXPECT_EQ(nuke.ListRegValuesByData(list, Arg("\"" + Entry("D*A\\*") + "\",\"*\"")), 13u);
    EXPECT_EQ(nuke.ListRegValuesByData(list, Arg("\"\",\"*\"")), 13u);
    EXPECT_EQ(nuke.ListRegValuesByData(list, Arg("")), 13u);
    EXPECT_EQ(nuke.ListRegValuesByData(list, nullptr), 13u);
    EXPECT_TRUE(list.IsEmpty());
}

TEST_F(HandlersRegistry, KeysByDataInsertKeysWhoseNamedTextValueMatchesAndSkipOthers) {
    key.SetText("Uninst\\{A}", "DisplayName", "Velmoran Client Security", k64);
    key.SetText("Uninst\\{B}", "DisplayName", "Someone Else", k64);
    key.SetDword("Uninst\\{C}", "DisplayName", 1, k64);
    key.Create("Uninst\\{D}", k64);
    key.SetText("Uninst\\{E}", "", "Velmoran in the unnamed value", k64);
    key.SetText("Uninst\\{F}", "DisplayName", "Velmoran thirty-two", k32);
    key.SetText("Uninst\\{G}\\InstallProperties", "DisplayName", "Velmoran below", k64);
    const std::string arg = "\"" + Entry("UNINST\\*") + "\",\"DisplayName\",\"*VELMORAN*\"";
    EXPECT_EQ(nuke.ListRegKeysByData(list, Arg(arg)), 0u);
    EXPECT_EQ(Ascending(list), Texts({Entry("UNINST\\{A}")}));

    // The value name is joined to the key and split again: it may reach into
    // a subkey, and an empty name is the key's name as a value of its parent.
    TSet below;
    const std::string sub = "\"" + Entry("UNINST\\*") + "\",\"InstallProperties\\DisplayName\",\"*VELMORAN*\"";
    EXPECT_EQ(nuke.ListRegKeysByData(below, Arg(sub)), 0u);
    EXPECT_EQ(Ascending(below), Texts({Entry("UNINST\\{G}")}));
    key.SetText("Uninst", "{D}", "Velmoran as the parent's value", k64);
    TSet unnamed;
    EXPECT_EQ(nuke.ListRegKeysByData(unnamed, Arg("\"" + Entry("UNINST\\*") + "\",\"\",\"VELMORAN*\"")), 0u);
    EXPECT_EQ(Ascending(unnamed), Texts({Entry("UNINST\\{D}")}));
}

TEST_F(HandlersRegistry, KeysByDataRejectWildcardValueNamesAndMissingFields) {
    key.SetText("Uninst\\{A}", "DisplayName", "Velmoran", k64);
    EXPECT_EQ(nuke.ListRegKeysByData(list, Arg("\"" + Entry("UNINST\\*") + "\",\"Display*\",\"*\"")), 13u);
    EXPECT_EQ(nuke.ListRegKeysByData(list, Arg("\"" + Entry("UNINST\\*") + "\",\"DisplayName\"")), 13u);
    EXPECT_EQ(nuke.ListRegKeysByData(list, Arg("\"" + Entry("U*\\*") + "\",\"DisplayName\",\"*\"")), 13u);
    EXPECT_EQ(nuke.ListRegKeysByData(list, nullptr), 13u);
    EXPECT_TRUE(list.IsEmpty());
}

// ---- files and folders -------------------------------------------------

void MakeFile(const std::string& path) { testing_support::WriteWholeFile(path, "x"); }
void MakeFolder(const std::string& path) { ASSERT_TRUE(::CreateDirectoryA(path.c_str(), nullptr)) << path; }

std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// Creates a folder whose path may pass the 260-character limit of the ANSI
// file functions.
void MakeLongFolder(const std::string& path) {
    ASSERT_TRUE(::CreateDirectoryW((L"\\\\?\\" + Widen(path)).c_str(), nullptr)) << path;
}

void RemoveLongTree(const std::wstring& path) {
    WIN32_FIND_DATAW data;
    HANDLE find = ::FindFirstFileW((path + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") continue;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveLongTree(path + L"\\" + name);
            } else {
                ::DeleteFileW((path + L"\\" + name).c_str());
            }
        } while (::FindNextFileW(find, &data));
        ::FindClose(find);
    }
    ::RemoveDirectoryW(path.c_str());
}

class HandlersFiles : public ::testing::Test {
protected:
    void SetUp() override {
        nuke.dialog = &dialog;
        root = Upper(folder.path());
    }
    testing_support::TestPlatform os;
    TestDialog dialog;
    CNuke nuke{os};
    TSet list;
    TempFolder folder{"handlers"};
    std::string root;  // the folder as the handlers spell it
};

TEST_F(HandlersFiles, ByNameListsEveryMatchInUpperCaseAndAMissingPathAsWritten) {
    MakeFile(folder / "vel1.dll");
    MakeFile(folder / "Vel2.exe");
    MakeFolder(folder / "velSub");
    MakeFolder(folder / "velSub\\velDeep");
    MakeFile(folder / "other.txt");
    EXPECT_EQ(nuke.ListFilesByName(list, Arg(root + "\\VEL*")), 0u);
    EXPECT_EQ(Ascending(list), Texts({root + "\\VEL1.DLL", root + "\\VEL2.EXE", root + "\\VELSUB"}));

    TSet missing;
    EXPECT_EQ(nuke.ListFilesByName(missing, Arg("\"" + folder.path() + "//Nothing/Here/\"")), 0u);
    EXPECT_EQ(nuke.ListFilesByName(missing, Arg(root + "\\NONE*")), 0u);
    EXPECT_EQ(Ascending(missing), Texts({root + "\\NONE*", root + "\\NOTHING\\HERE"}));
}

TEST_F(HandlersFiles, ByNameAddsTheStartMenuVariantOnlyWhileTheMaskIsActive) {
    MakeFolder(folder / "Velmoran");
    MakeFolder(folder / "Acme Shield");
    nuke.startMenuMask = "Acme Shield";
    EXPECT_EQ(nuke.ListFilesByName(list, Arg(root + "\\VELMORAN")), 0u);
    EXPECT_EQ(Ascending(list), Texts({root + "\\ACME SHIELD", root + "\\VELMORAN"}));

    TSet removeAll;
    nuke.removeAll = 1;
    EXPECT_EQ(nuke.ListFilesByName(removeAll, Arg(root + "\\VELMORAN")), 0u);
    EXPECT_EQ(Ascending(removeAll), Texts({root + "\\VELMORAN"}));
}

TEST_F(HandlersFiles, ByNameInsertsNothingForAnEmptyPathAndSurvivesNull) {
    EXPECT_EQ(nuke.ListFilesByName(list, Arg("")), 0u);
    EXPECT_EQ(nuke.ListFilesByName(list, Arg("\"\\\"")), 0u);
    EXPECT_EQ(nuke.InsertFileMatches(list, nullptr), 0u);
    EXPECT_EQ(nuke.ListFilesByName(list, nullptr), 13u);
    EXPECT_TRUE(list.IsEmpty());
}

TEST_F(HandlersFiles, ByNameSkipsAMatchWhosePathWouldPassTheLimitAndKeepsTheOthers) {
    // The folder's path leaves room for short names only.
    const std::string deep = folder.path() + "\\" + std::string(259 - folder.path().size() - 12, 'd');
    MakeLongFolder(deep);
    MakeLongFolder(deep + "\\VELA");
    MakeLongFolder(deep + "\\VEL" + std::string(30, 'n'));
    const std::string deepUpper = Upper(deep);
    EXPECT_EQ(nuke.ListFilesByName(list, Arg(deepUpper + "\\VEL*")), 0u);
    EXPECT_EQ(Ascending(list), Texts({deepUpper + "\\VELA"}));
    RemoveLongTree(L"\\\\?\\" + Widen(deep));
}

TEST_F(HandlersFiles, ContentAddsAFolderThatHoldsEveryPatternAndNotOneThatHoldsSome) {
    MakeFolder(folder / "VelBoth");
    MakeFile(folder / "VelBoth\\a.dll");
    MakeFile(folder / "VelBoth\\b.exe");
    MakeFolder(folder / "VelOne");
    MakeFile(folder / "VelOne\\a.dll");
    MakeFolder(folder / "VelSubfolder");
    MakeFile(folder / "VelSubfolder\\a.dll");
    MakeFolder(folder / "VelSubfolder\\b.exe");
    MakeFolder(folder / "VelNested");
    MakeFolder(folder / "VelNested\\inner");
    MakeFile(folder / "VelNested\\inner\\a.dll");
    MakeFile(folder / "VelNested\\b.exe");
    const std::string arg = "\"" + folder.path() + "\\Vel*\",\"A.DLL\",\"B.EXE\"";
    EXPECT_EQ(nuke.ListFoldersByContent(list, Arg(arg)), 0u);
    EXPECT_EQ(Ascending(list), Texts({root + "\\VELBOTH", root + "\\VELSUBFOLDER"}));

    TSet wild;
    EXPECT_EQ(nuke.ListFoldersByContent(wild, Arg("\"" + folder.path() + "\\VelOne\",\"*.DLL\"")), 0u);
    EXPECT_EQ(Ascending(wild), Texts({root + "\\VELONE"}));
}

TEST_F(HandlersFiles, ContentRejectsAnEntryWithoutPatterns) {
    MakeFolder(folder / "VelOne");
    EXPECT_EQ(nuke.ListFoldersByContent(list, Arg("\"" + folder.path() + "\\VelOne\"")), 13u);
    EXPECT_EQ(nuke.ListFoldersByContent(list, Arg("\"" + folder.path() + "\\VelOne\",")), 13u);
    EXPECT_EQ(nuke.ListFoldersByContent(list, Arg("")), 13u);
    EXPECT_EQ(nuke.ListFolderMatches(list, nullptr), 13u);
    EXPECT_TRUE(list.IsEmpty());
}

TEST_F(HandlersFiles, ContentPatternListEndsWhereTheNormalisedTextEnds) {
    MakeFolder(folder / "VelOne");
    MakeFile(folder / "VelOne\\a.dll");
    // Normalisation removes far more than the outer quotes here; what is
    // left behind the shortened text must never be read as patterns.
    std::string messy = "\"\"\"\"" + folder.path();
    for (char& c : messy) {
        if (c == '\\') c = '/';
    }
    std::string doubled;
    for (char c : messy) {
        doubled += c;
        if (c == '/') doubled += "//////";
    }
    const std::string arg = doubled + "////VelOne\",\"A.DLL\"\"\"\"\"";
    EXPECT_EQ(nuke.ListFoldersByContent(list, Arg(arg)), 0u);
    EXPECT_EQ(Ascending(list), Texts({root + "\\VELONE"}));

    // A pattern that is not there still keeps the folder out.
    TSet two;
    EXPECT_EQ(nuke.ListFoldersByContent(two, Arg(doubled + "////VelOne\",\"A.DLL\",\"C.DLL\"\"\"\"")), 0u);
    EXPECT_TRUE(two.IsEmpty());
}

TEST_F(HandlersFiles, ContentMatchesAFolderAndItsStartMenuVariantEachOnItsOwnEntries) {
    MakeFolder(folder / "Split");
    MakeFolder(folder / "Split\\Velmoran");
    MakeFile(folder / "Split\\Velmoran\\a.dll");
    MakeFolder(folder / "Split\\Acme Shield");
    MakeFile(folder / "Split\\Acme Shield\\b.exe");
    MakeFolder(folder / "Both");
    MakeFolder(folder / "Both\\Velmoran");
    MakeFile(folder / "Both\\Velmoran\\a.dll");
    MakeFile(folder / "Both\\Velmoran\\b.exe");
    MakeFolder(folder / "Both\\Acme Shield");
    MakeFile(folder / "Both\\Acme Shield\\a.dll");
    MakeFile(folder / "Both\\Acme Shield\\b.exe");
    nuke.startMenuMask = "Acme Shield";
    EXPECT_EQ(nuke.ListFoldersByContent(list, Arg("\"" + folder.path() + "\\Split\\Velmoran\",\"A.DLL\",\"B.EXE\"")),
              0u);
    EXPECT_TRUE(list.IsEmpty()) << Ascending(list).front();
    EXPECT_EQ(nuke.ListFoldersByContent(list, Arg("\"" + folder.path() + "\\Both\\Velmoran\",\"A.DLL\",\"B.EXE\"")),
              0u);
    EXPECT_EQ(Ascending(list), Texts({root + "\\BOTH\\ACME SHIELD", root + "\\BOTH\\VELMORAN"}));
}

// ---- folder macros and user profiles ----------------------------------

std::string ShellFolder(int code) {
    char path[MAX_PATH] = {};
    testing_support::TestPlatform os;
    EXPECT_TRUE(os.SHGetSpecialFolderPathA(nullptr, path, code, FALSE)) << code;
    return Upper(path);
}

const char kProfileList[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

// The profiles of the machine are the ones Windows records: the test adds
// one beside the user's own, one outside the profiles folder, and a folder
// in the profiles folder that no profile list names (anyone may make one).
class HandlersExpand : public HandlersFiles {
protected:
    void SetUp() override {
        HandlersFiles::SetUp();
        appData = ShellFolder(CSIDL_APPDATA);
        ownProfile = ShellFolder(CSIDL_PROFILE);
        ASSERT_EQ(appData.compare(0, ownProfile.size() + 1, ownProfile + "\\"), 0) << appData;
        afterUser = appData.substr(ownProfile.size());          // \APPDATA\ROAMING
        profiles = ownProfile.substr(0, ownProfile.rfind('\\') + 1);  // C:\USERS\ ...
        extraProfile = profiles + "CWTESTPROFILE1";
        unrecorded = profiles + "CWTESTUNRECORDED";
        elsewhere = Upper(folder / "Profiles\\Mary");
        for (const std::string& path : {extraProfile, unrecorded}) testing_support::RemoveTree(path);
        MakeFolder(extraProfile);
        MakeFolder(unrecorded);
        ASSERT_TRUE(extraKey.SetText("", "ProfileImagePath", extraProfile, KEY_WOW64_64KEY));
        ASSERT_TRUE(elsewhereKey.SetText("", "ProfileImagePath", elsewhere, KEY_WOW64_64KEY));
    }
    void TearDown() override {
        for (const std::string& path : {extraProfile, unrecorded}) testing_support::RemoveTree(path);
    }
    std::string appData, ownProfile, afterUser, profiles, extraProfile, unrecorded, elsewhere;
    testing_support::TestKey extraKey{HKEY_LOCAL_MACHINE, std::string(kProfileList) + "\\S-1-5-21-7-7-7-4001"};
    testing_support::TestKey elsewhereKey{HKEY_LOCAL_MACHINE, std::string(kProfileList) + "\\S-1-5-21-7-7-7-4002"};
};

// Under the system account, the account every deployment tool uses, the
// running account's name first occurs in the Windows folder.
class SystemAccount : public testing_support::TestPlatform {
public:
    BOOL GetUserNameA(LPSTR buffer, LPDWORD size) override {
        if (*size < 7) return FALSE;
        std::strcpy(buffer, "SYSTEM");
        *size = 7;
        return TRUE;
    }
    BOOL SHGetSpecialFolderPathA(HWND owner, LPSTR path, int folder, BOOL create) override {
        if (folder != CSIDL_PROFILE && folder != CSIDL_APPDATA) {
            return TestPlatform::SHGetSpecialFolderPathA(owner, path, folder, create);
        }
        std::strcpy(path, Profile().c_str());
        if (folder == CSIDL_APPDATA) std::strcat(path, "\\AppData\\Roaming");
        return TRUE;
    }
    static std::string Profile() {
        char windows[MAX_PATH] = {};
        ::GetWindowsDirectoryA(windows, MAX_PATH);
        return std::string(windows) + "\\system32\\config\\systemprofile";
    }
};

TEST_F(HandlersExpand, ByNameExpandTakesAPerUserFolderInEveryRecordedProfileUnderAnyAccount) {
    const std::string extraAppData = extraProfile + afterUser;
    ASSERT_EQ(::SHCreateDirectoryExA(nullptr, (extraAppData + "\\CwTestApp\\Data").c_str(), nullptr), ERROR_SUCCESS);
    MakeFile(extraAppData + "\\CwTestApp\\Data\\one.dat");
    MakeFile(extraAppData + "\\CwTestApp\\Data\\two.dat");
    ASSERT_EQ(::SHCreateDirectoryExA(nullptr, (unrecorded + afterUser + "\\CwTestApp\\Data").c_str(), nullptr),
              ERROR_SUCCESS);
    MakeFile(unrecorded + afterUser + "\\CwTestApp\\Data\\planted.dat");

    SystemAccount system;
    CNuke underSystem(system);
    underSystem.dialog = &dialog;
    const std::string systemProfile = Upper(SystemAccount::Profile());
    const struct {
        const char* account;
        CNuke& engine;
        std::string own;  // the running account's profile
    } accounts[] = {{"the user", nuke, ownProfile}, {"SYSTEM", underSystem, systemProfile}};
    for (const auto& account : accounts) {
        SCOPED_TRACE(account.account);
        TSet found;
        EXPECT_EQ(account.engine.ListFilesByNameExpand(found, Arg("%APPDATA%\\CwTestApp\\Data\\*.dat")), 0u);
        const Texts got = Ascending(found);
        const std::string tail = "\\APPDATA\\ROAMING\\CWTESTAPP\\DATA\\";
        for (const std::string& expected :
             {Upper(extraAppData) + "\\CWTESTAPP\\DATA\\ONE.DAT", Upper(extraAppData) + "\\CWTESTAPP\\DATA\\TWO.DAT",
              account.own + tail + "*.DAT", elsewhere + tail + "*.DAT", ownProfile + tail + "*.DAT"}) {
            EXPECT_THAT(got, Contains(expected));
        }
        // Nothing from a folder no profile list names, and nothing of the
        // Windows folder but the system account's own profile.
        char windows[MAX_PATH] = {};
        ASSERT_GT(::GetWindowsDirectoryA(windows, MAX_PATH), 0u);
        for (const std::string& path : got) {
            EXPECT_THAT(path, Not(HasSubstr("CWTESTUNRECORDED")));
            if (path.compare(0, std::strlen(windows), Upper(windows)) == 0) {
                EXPECT_EQ(path.compare(0, systemProfile.size(), systemProfile), 0) << path;
            }
        }
    }
}

TEST_F(HandlersExpand, ByNameExpandSkipsAProfileWhosePathWouldPassTheLimit) {
    const std::string longProfile = profiles + "CWTEST" + std::string(240, 'L');
    MakeLongFolder(longProfile);
    testing_support::TestKey longKey(HKEY_LOCAL_MACHINE, std::string(kProfileList) + "\\S-1-5-21-7-7-7-4003");
    ASSERT_TRUE(longKey.SetText("", "ProfileImagePath", longProfile, KEY_WOW64_64KEY));
    EXPECT_EQ(nuke.ListFilesByNameExpand(list, Arg("%APPDATA%\\CwTestApp")), 0u);
    RemoveLongTree(L"\\\\?\\" + Widen(longProfile));
    EXPECT_TRUE(list.Contains((Upper(extraProfile) + afterUser + "\\CWTESTAPP").c_str()));
    const char* text = nullptr;
    for (DWORD rc = list.GetFirst(text); rc == 0; rc = list.GetNext(text)) {
        EXPECT_THAT(std::string(text), Not(HasSubstr("CWTESTLLL"))) << text;
        EXPECT_LT(std::string(text).size(), 260u);
    }
}

TEST_F(HandlersExpand, ByNameExpandUsesTheFolderAloneOutsideProfiles) {
    char windows[MAX_PATH] = {};
    ASSERT_GT(::GetWindowsDirectoryA(windows, MAX_PATH), 0u);
    TSet win2;
    EXPECT_EQ(nuke.ListFilesByNameExpand(win2, Arg("\"%WINDOWS%/CwTestNothing/\"")), 0u);
    EXPECT_EQ(Ascending(win2), Texts({Upper(windows) + "\\CWTESTNOTHING"}));
    // The entry is normalised before the macro is looked for.
    TSet lower;
    EXPECT_EQ(nuke.ListFilesByNameExpand(lower, Arg("%windows%\\CwTestNothing")), 0u);
    EXPECT_EQ(Ascending(lower), Texts({Upper(windows) + "\\CWTESTNOTHING"}));
}

TEST_F(HandlersExpand, ByNameExpandRejectsAnEntryWithoutAFolderMacro) {
    EXPECT_EQ(nuke.ListFilesByNameExpand(list, Arg("C:\\Program Files\\Velmoran")), 1610u);
    EXPECT_EQ(nuke.ListFoldersByContentExpand(list, Arg("\"C:\\X\",\"A.DLL\"")), 1610u);
    EXPECT_EQ(nuke.ListFilesByNameExpand(list, nullptr), 13u);
    EXPECT_EQ(nuke.ListFoldersByContentExpand(list, nullptr), 13u);
    EXPECT_TRUE(list.IsEmpty());
}

class GoogleDesktopKey {
public:
    GoogleDesktopKey() {
        HKEY key = nullptr;
        existed = ::RegOpenKeyExA(HKEY_CURRENT_USER, kPath, 0, KEY_READ | KEY_WOW64_64KEY, &key) == ERROR_SUCCESS;
        if (key) ::RegCloseKey(key);
    }
    ~GoogleDesktopKey() {
        if (existed) return;
        ::RegDeleteTreeA(HKEY_CURRENT_USER, kPath);
        ::RegDeleteKeyA(HKEY_CURRENT_USER, kPath);
        ::RegDeleteKeyA(HKEY_CURRENT_USER, "SOFTWARE\\Google");  // only when nothing else is in it
    }
    void Set(const std::string& folder) {
        HKEY key = nullptr;
        ASSERT_EQ(::RegCreateKeyExA(HKEY_CURRENT_USER, kPath, 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY,
                                    nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        ::RegSetValueExA(key, "plugin_dir", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                         static_cast<DWORD>(folder.size() + 1));
        ::RegCloseKey(key);
    }
    bool existed = false;
    static constexpr const char* kPath = "SOFTWARE\\Google\\Google Desktop";
};

TEST_F(HandlersExpand, GadgetsMacroResolvesThroughThePluginFolderAndStaysAsWrittenWithoutIt) {
    GoogleDesktopKey google;
    if (google.existed) GTEST_SKIP() << "the prefix has a Google Desktop key of its own";
    EXPECT_EQ(nuke.ListFilesByNameExpand(list, Arg("%GOOGLE_GADGETS%\\Velmoran")), 0u);
    EXPECT_EQ(Ascending(list), Texts({"%GOOGLE_GADGETS%\\VELMORAN"}));

    MakeFolder(folder / "Plugins");
    MakeFolder(folder / "Plugins\\VelGadget");
    MakeFile(folder / "Plugins\\VelGadget\\gadget.gg");
    google.Set(folder / "Plugins");
    TSet resolved;
    EXPECT_EQ(nuke.ListFilesByNameExpand(resolved, Arg("%GOOGLE_GADGETS%\\Vel*")), 0u);
    EXPECT_EQ(Ascending(resolved), Texts({root + "\\PLUGINS\\VELGADGET"}));
    // The content handler resolves the macro the same way.
    TSet content;
    EXPECT_EQ(nuke.ListFoldersByContentExpand(content, Arg("\"%GOOGLE_GADGETS%\\Vel*\",\"*.GG\"")), 0u);
    EXPECT_EQ(Ascending(content), Texts({root + "\\PLUGINS\\VELGADGET"}));

    // A folder too long for the path buffer is not cut: the macro stays.
    google.Set("C:\\" + std::string(300, 'g'));
    TSet tooLong;
    EXPECT_EQ(nuke.ListFilesByNameExpand(tooLong, Arg("%GOOGLE_GADGETS%\\Vel")), 0u);
    EXPECT_EQ(Ascending(tooLong), Texts({"%GOOGLE_GADGETS%\\VEL"}));
}

TEST_F(HandlersExpand, ContentExpandChecksThePerUserFolderOfEveryProfile) {
    const std::string extraAppData = extraProfile + afterUser;
    ASSERT_EQ(::SHCreateDirectoryExA(nullptr, (extraAppData + "\\CwTestApp").c_str(), nullptr), ERROR_SUCCESS);
    MakeFile(extraAppData + "\\CwTestApp\\a.dll");
    MakeFile(extraAppData + "\\CwTestApp\\b.exe");
    const std::string own = appData + "\\CwTestApp";
    ASSERT_EQ(::SHCreateDirectoryExA(nullptr, own.c_str(), nullptr), ERROR_SUCCESS);
    MakeFile(own + "\\a.dll");
    EXPECT_EQ(nuke.ListFoldersByContentExpand(list, Arg("\"%APPDATA%\\CwTestApp\",\"A.DLL\",\"B.EXE\"")), 0u);
    testing_support::RemoveTree(own);
    EXPECT_EQ(Ascending(list), Texts({Upper(extraAppData) + "\\CWTESTAPP"}));
}

// %SYSTEM% is the system directory's name. A 32-bit run on 64-bit Windows
// looks into the real folder of that name, where the restart deletes, not
// into the one the redirector shows it.
TEST_F(HandlersExpand, ContentExpandReadsTheSystemFolderWhereTheRestartDeletes) {
    char system[MAX_PATH] = {}, windows[MAX_PATH] = {};
    ASSERT_GT(os.GetSystemDirectoryA(system, MAX_PATH), 0u);
    ASSERT_GT(::GetWindowsDirectoryA(windows, MAX_PATH), 0u);
    const std::string real = std::string(windows) + "\\Sysnative\\cwtest-handlers.dll";
    const std::string shown = std::string(system) + "\\cwtest-shown.dll";  // in SysWOW64 for this test
    MakeFile(real);
    MakeFile(shown);
    EXPECT_EQ(nuke.ListFoldersByContentExpand(list, Arg("\"%SYSTEM%\",\"CWTEST-HANDLERS.DLL\"")), 0u);
    TSet shownOnly, missing;
    EXPECT_EQ(nuke.ListFoldersByContentExpand(shownOnly, Arg("\"%SYSTEM%\",\"CWTEST-SHOWN.DLL\"")), 0u);
    EXPECT_EQ(nuke.ListFoldersByContentExpand(missing, Arg("\"%SYSTEM%\",\"CWTEST-NOT-THERE.DLL\"")), 0u);
    ::DeleteFileA(real.c_str());
    ::DeleteFileA(shown.c_str());
    EXPECT_EQ(Ascending(list), Texts({Upper(system)}));
    EXPECT_TRUE(shownOnly.IsEmpty());
    EXPECT_TRUE(missing.IsEmpty());
}

// ---- services ----------------------------------------------------------

class TestServices {
public:
    explicit TestServices(std::initializer_list<const char*> names) {
        scm = ::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        EXPECT_NE(scm, nullptr);
        for (const char* name : names) {
            Delete(name);
            SC_HANDLE service = ::CreateServiceA(scm, name, name, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                                 SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE,
                                                 "C:\\windows\\system32\\cmd.exe", nullptr, nullptr, nullptr,
                                                 nullptr, nullptr);
            EXPECT_NE(service, nullptr) << name << " " << ::GetLastError();
            if (service) ::CloseServiceHandle(service);
            created.push_back(name);
        }
    }
    ~TestServices() {
        for (const std::string& name : created) Delete(name.c_str());
        if (scm) ::CloseServiceHandle(scm);
    }

private:
    void Delete(const char* name) {
        SC_HANDLE service = ::OpenServiceA(scm, name, DELETE);
        if (service) {
            ::DeleteService(service);
            ::CloseServiceHandle(service);
        }
    }
    SC_HANDLE scm = nullptr;
    std::vector<std::string> created;
};

TEST(HandlersServices, ByNameListsInstalledServicesThatMatchAndInsertsPlainNamesAsWritten) {
    TestServices services({"CwTestSvc1", "CWTESTSVC2", "CwTestOther"});
    testing_support::TestPlatform os;
    CNuke nuke(os);
    TSet list;
    EXPECT_EQ(nuke.ListServicesByName(list, Arg("CWTESTSVC*")), 0u);
    EXPECT_EQ(Ascending(list), Texts({"CwTestSvc1", "CWTESTSVC2"}));

    TSet plain;
    EXPECT_EQ(nuke.ListServicesByName(plain, Arg("CWTESTNOSUCHSERVICE")), 0u);
    EXPECT_EQ(nuke.ListServicesByName(plain, Arg("CWTESTNOSUCH*")), 0u);
    EXPECT_EQ(Ascending(plain), Texts({"CWTESTNOSUCHSERVICE"}));
    EXPECT_EQ(nuke.ListServicesByName(plain, nullptr), 13u);
}

TEST(HandlersServices, ByNameReturnsTheErrorOfAServiceManagerThatCannotBeOpened) {
    testing_support::TestPlatform os;
    os.serviceManagerError = ERROR_ACCESS_DENIED;
    CNuke nuke(os);
    TSet list;
    EXPECT_EQ(nuke.ListServicesByName(list, Arg("CWTEST*")), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(nuke.ListServicesByName(list, Arg("CWTESTPLAIN")), 0u);
    EXPECT_EQ(Ascending(list), Texts({"CWTESTPLAIN"}));
}

// ---- processes ---------------------------------------------------------

// A copy of the command interpreter under a name of its own, started
// suspended so that it stays until the test ends it.
class RunningCopy {
public:
    RunningCopy(const TempFolder& folder, const std::string& name) {
        char system[MAX_PATH] = {};
        ::GetSystemDirectoryA(system, MAX_PATH);
        path = folder / name;
        EXPECT_TRUE(::CopyFileA((std::string(system) + "\\cmd.exe").c_str(), path.c_str(), FALSE));
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        std::string command = "\"" + path + "\" /c exit";
        std::vector<char> line(command.begin(), command.end());
        line.push_back('\0');
        EXPECT_TRUE(::CreateProcessA(path.c_str(), line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                                     nullptr, &startup, &info))
            << ::GetLastError();
    }
    ~RunningCopy() {
        if (info.hProcess) {
            ::TerminateProcess(info.hProcess, 0);
            ::WaitForSingleObject(info.hProcess, 5000);
            ::CloseHandle(info.hThread);
            ::CloseHandle(info.hProcess);
        }
    }
    std::string path;
    PROCESS_INFORMATION info = {};
};

TEST(HandlersProcesses, ByNameAddsRunningExecutablesAsTheSystemSpellsThem) {
    TempFolder folder("handlers");
    RunningCopy one(folder, "CwTestProc.exe");
    RunningCopy two(folder, "cwTestProcTwo.exe");
    testing_support::TestPlatform os;
    CNuke nuke(os);
    TSet list;
    EXPECT_EQ(nuke.ListProcessesByName(list, Arg("cwtestproc.exe")), 0u);
    EXPECT_EQ(Ascending(list), Texts({"CwTestProc.exe"}));

    TSet wild;
    EXPECT_EQ(nuke.ListProcessesByName(wild, Arg("CWTESTPROC*.EXE")), 0u);
    EXPECT_EQ(Ascending(wild), Texts({"CwTestProc.exe", "cwTestProcTwo.exe"}));

    TSet none;
    EXPECT_EQ(nuke.ListProcessesByName(none, Arg("CWTESTNOTRUNNING.EXE")), 0u);
    EXPECT_TRUE(none.IsEmpty());
    EXPECT_EQ(nuke.ListProcessesByName(none, nullptr), 13u);
}

TEST(HandlersProcesses, ByNameReturnsTheErrorOfAFailedSnapshot) {
    testing_support::TestPlatform os;
    os.snapshotError = ERROR_NOT_ENOUGH_MEMORY;
    CNuke nuke(os);
    TSet list;
    EXPECT_EQ(nuke.ListProcessesByName(list, Arg("CLEARWAY*")), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_TRUE(list.IsEmpty());
}

}  // namespace
