// The populate step against real registry subtrees (64-bit view) and a real
// folder tree.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "actions/access_control.h"
#include "guard/path_guard.h"
#include "profile/engine.h"
#include "tests/support/matchers.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_dialog.h"
#include "tests/support/test_key.h"
#include "tests/support/test_platform.h"
#include "tests/support/list_text.h"
#include "trace/trace.h"

using testing_support::Elements;
using testing_support::Texts;
using testing_support::TempFolder;
using testing_support::TestDialog;
using testing_support::TestPlatform;
using testing_support::WriteWholeFile;

namespace {

const char kBase[] = "SOFTWARE\\ClearwayTests\\Populate";
const char kEntry[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\CLEARWAYTESTS\\POPULATE";

class PopulateTest : public ::testing::Test {
protected:
    PopulateTest() : engine_(os_) { engine_.dialog = &dialog_; }
    void SetUp() override {
        TraceShutdown();
        TraceSetPlatform(&os_);
    }
    void TearDown() override { TraceSetPlatform(nullptr); }
    // A key below the test's key in the 64-bit view, with values ("x").
    void MakeKey(const std::string& path, std::initializer_list<const char*> values = {}) {
        base_.Create(path, KEY_WOW64_64KEY);
        for (const char* name : values) base_.SetText(path, name, "x", KEY_WOW64_64KEY);
    }

    // Gone in both views before and after each test (a plain call of this
    // 32-bit program reaches only the 32-bit one).
    testing_support::TestKey base_{HKEY_LOCAL_MACHINE, kBase};

    TestPlatform os_;
    TestDialog dialog_;
    CNuke engine_;
};

TEST_F(PopulateTest, KeyExpandsToItsSubtreeWithEveryValue) {
    MakeKey("", {"Own"});
    MakeKey("SubA", {"ValueA"});
    MakeKey("SubB", {"ValueB"});
    engine_.removeRegKeyList.Insert((std::string(kEntry) + "\\").c_str());
    engine_.removeRegKeyList.Insert("HKEY_LOCAL_MACHINE\\SOFTWARE\\ClearwayTests\\Missing");
    engine_.removeRegValueList.Insert("HKEY_LOCAL_MACHINE\\SOFTWARE\\OTHER\\CONFIGURED");
    ASSERT_EQ(engine_.PopulateRemoveRegList(), 0u);
    const std::string e = kEntry;
    EXPECT_EQ(Elements(engine_.expandedRegKeyList), (Texts{e, e + "\\SUBA", e + "\\SUBB"}));
    EXPECT_EQ(Elements(engine_.expandedRegValueList), (Texts{e + "\\OWN", e + "\\SUBA\\VALUEA", e + "\\SUBB\\VALUEB",
                                                             "HKEY_LOCAL_MACHINE\\SOFTWARE\\OTHER\\CONFIGURED"}));
    EXPECT_EQ(engine_.removeRegKeyList.Count(), 2);  // the configured list stays
}

TEST_F(PopulateTest, DefaultValueAndBackslashInAValueName) {
    MakeKey("", {"", "has\\slash"});
    engine_.ExpandRegKeyEntry(kEntry);
    const std::string e = kEntry;
    // The default value ends in a backslash; a backslash in a name is kept.
    EXPECT_EQ(Elements(engine_.expandedRegValueList), (Texts{e + "\\", e + "\\HAS\\SLASH"}));
}

TEST_F(PopulateTest, The32BitViewIsNotListed) {
    ASSERT_TRUE(base_.Create("", KEY_WOW64_32KEY));
    EXPECT_EQ(engine_.ExpandRegKeyEntry(kEntry), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(engine_.expandedRegKeyList.IsEmpty());
}

TEST_F(PopulateTest, IgnoredSubkeyLeavesWithEverythingBelowIt) {
    MakeKey("Keep\\Deeper", {"V"});
    MakeKey("Drop", {"W"});
    engine_.removeRegKeyList.Insert(kEntry);
    // Only the key is named; its values stay with it.
    engine_.ignoreRegKeyList.Insert((std::string(kEntry) + "\\KEEP").c_str());
    ASSERT_EQ(engine_.PopulateRemoveRegList(), 0u);
    const std::string e = kEntry;
    EXPECT_EQ(Elements(engine_.expandedRegKeyList), (Texts{e, e + "\\DROP"}));
    EXPECT_EQ(Elements(engine_.expandedRegValueList), (Texts{e + "\\DROP\\W"}));
}

// A registry link below the product's key shows another key: it is neither
// walked, nor named through, nor given an access grant, so nothing of the
// key it shows is listed.
TEST_F(PopulateTest, ARegistryLinkIsNeitherWalkedNorNamedThrough) {
    MakeKey("Elsewhere\\Sub", {"Precious"});
    MakeKey("Product", {"Own"});
    testing_support::KeyLink link(HKEY_LOCAL_MACHINE, base_.Below("Product\\Link"), base_.Below("Elsewhere"));
    ASSERT_TRUE(base_.HasValue("Product\\Link\\Sub", "Precious", KEY_WOW64_64KEY));  // the link shows it

    const std::string e = kEntry;
    EXPECT_EQ(engine_.ExpandRegKeyEntry((e + "\\PRODUCT").c_str()), 0u);
    EXPECT_EQ(Elements(engine_.expandedRegKeyList), (Texts{e + "\\PRODUCT"}));
    EXPECT_EQ(Elements(engine_.expandedRegValueList), (Texts{e + "\\PRODUCT\\OWN"}));
    for (const char* through : {"\\PRODUCT\\LINK", "\\PRODUCT\\LINK\\SUB", "\\product\\\\link\\sub\\"}) {
        EXPECT_EQ(engine_.ExpandRegKeyEntry((e + through).c_str()), static_cast<DWORD>(ERROR_ACCESS_DENIED)) << through;
    }
    EXPECT_EQ(engine_.expandedRegKeyList.Count(), 1);
    // A configured value reached through it is refused as well.
    engine_.removeRegValueList.Insert((e + "\\PRODUCT\\LINK\\SUB\\PRECIOUS").c_str());
    engine_.removeRegValueList.Insert((e + "\\PRODUCT\\LINK\\").c_str());  // its unnamed value
    engine_.removeRegValueList.Insert((e + "\\PRODUCT\\OWN").c_str());
    EXPECT_EQ(engine_.PopulateRemoveRegList(), 0u);
    EXPECT_EQ(Elements(engine_.expandedRegValueList), (Texts{e + "\\PRODUCT\\OWN"}));
    EXPECT_EQ(engine_.GrantRegKeyAccess(HKEY_LOCAL_MACHINE, base_.Below("Product\\Link\\Sub").c_str(), KEY_WOW64_64KEY),
              static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(os_.securityCalls.empty());
    const std::string log = os_.DebugOutput();
    EXPECT_THAT(log, HasSubstr("not listing '" + e + "\\PRODUCT\\LINK' nor anything below it: it is a registry link"));
    EXPECT_THAT(log, HasSubstr("along it is a registry link"));
}

// A key or value whose name the code page cannot hold reads back, in the
// ANSI calls, with best-fit look-alikes: "Other" + a fullwidth reverse
// solidus + "Sub" would read as the path "Other\Sub" into the neighbouring
// key. Such names are left alone with what holds them; the rest is listed.
TEST_F(PopulateTest, NamesTheCodePageCannotHoldAreLeftAlone) {
    MakeKey("Other\\Sub", {"Precious"});
    MakeKey("Plain", {"Own"});
    const std::wstring odd = L"Other\xFF3CSub";
    HKEY created = nullptr;
    const std::wstring base(kBase, kBase + std::strlen(kBase));
    ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, (base + L"\\" + odd).c_str(), 0, nullptr, 0,
                                KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &created, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(::RegSetValueExW(created, L"Precious\xFF3C", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"x"), 4),
              ERROR_SUCCESS);
    ::RegCloseKey(created);
    HKEY plain = nullptr;
    ASSERT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, (base + L"\\Plain").c_str(), 0, KEY_SET_VALUE | KEY_WOW64_64KEY,
                              &plain),
              ERROR_SUCCESS);
    ASSERT_EQ(::RegSetValueExW(plain, L"Odd\x0416", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"x"), 4), ERROR_SUCCESS);
    ::RegCloseKey(plain);

    const std::string e = kEntry;
    EXPECT_EQ(engine_.ExpandRegKeyEntry((e + "\\PLAIN").c_str()), 0u);
    EXPECT_EQ(engine_.ExpandRegKeyEntry(kEntry), 0u);
    // Neither the odd key nor anything it seemed to name; Other and Plain
    // themselves are listed with their own values.
    EXPECT_EQ(Elements(engine_.expandedRegKeyList), (Texts{e, e + "\\OTHER", e + "\\OTHER\\SUB", e + "\\PLAIN"}));
    EXPECT_EQ(Elements(engine_.expandedRegValueList),
              (Texts{e + "\\OTHER\\SUB\\PRECIOUS", e + "\\PLAIN\\OWN"}));
    const std::string log = os_.DebugOutput();
    EXPECT_THAT(log, HasSubstr("ExpandRegKeyEntry: leaving the key 'Other?Sub' of '" + e +
                               "' alone: its name does not fit the code page; '" + e + "' stays"));
    EXPECT_THAT(log, HasSubstr("ExpandRegKeyEntry: leaving the value 'Odd?' of '" + e + "\\PLAIN' alone"));
}

// The current user's hive has two names; an ignore entry in either keeps
// the key from a removal named in the other.
TEST_F(PopulateTest, AnIgnoredKeyOfTheUsersHiveIsKeptUnderEitherName) {
    const std::string sid = testing_support::UserSid();
    ASSERT_FALSE(sid.empty());
    testing_support::TestKey user(HKEY_CURRENT_USER, "Software\\ClearwayTests\\PopulateUser");
    ASSERT_TRUE(user.SetText("Keep", "V", "x", KEY_WOW64_64KEY));
    ASSERT_TRUE(user.SetText("Drop", "W", "x", KEY_WOW64_64KEY));
    const std::string current = "HKEY_CURRENT_USER\\" + user.Path();
    const std::string users = "HKEY_USERS\\" + sid + "\\" + user.Path();
    for (const auto& names : {std::make_pair(current, users), std::make_pair(users, current)}) {
        SCOPED_TRACE(names.first);
        CNuke engine(os_);
        engine.dialog = &dialog_;
        engine.removeRegKeyList.Insert(names.first.c_str());
        engine.ignoreRegKeyList.Insert((names.second + "\\Keep").c_str());
        ASSERT_EQ(engine.PopulateRemoveRegList(), 0u);
        const std::string e = guard::UpperText(names.first.c_str());
        EXPECT_EQ(Elements(engine.expandedRegKeyList), (Texts{e, e + "\\DROP"}));
        EXPECT_EQ(Elements(engine.expandedRegValueList), (Texts{e + "\\DROP\\W"}));
    }
}

TEST_F(PopulateTest, KeyPathsBeyondTheBufferStopTheListing) {
    // Nest keys of 30 characters until the entry text passes 261 characters,
    // each created below its parent (the ANSI calls refuse long full paths).
    std::string nested;
    for (size_t length = std::strlen(kEntry); length < 300; length += 31) {
        nested += (nested.empty() ? "" : "\\") + std::string(30, 'K');
    }
    ASSERT_TRUE(base_.Create(nested, KEY_WOW64_64KEY));
    engine_.ExpandRegKeyEntry(kEntry);
    Texts keys = Elements(engine_.expandedRegKeyList);
    ASSERT_FALSE(keys.empty());
    for (const std::string& key : keys) EXPECT_LE(key.size(), 260u);
    // The base and six levels fit (up to 237 characters); the seventh
    // level's name does not fit the rest of the buffer.
    EXPECT_EQ(keys.size(), 7u);
}

// A key entry of 259 characters leaves room for a backslash and the empty
// name of the unnamed value: that value is listed, so the key can go; a named
// value that does not fit is passed over.
TEST_F(PopulateTest, AKeyEntryOf259CharactersKeepsItsUnnamedValue) {
    const std::string name(259 - std::strlen(kEntry) - 1, 'L');
    MakeKey(name, {"N", ""});
    engine_.ExpandRegKeyEntry(kEntry);
    const std::string deep = std::string(kEntry) + "\\" + name;
    ASSERT_EQ(deep.size(), 259u);
    EXPECT_EQ(Elements(engine_.expandedRegKeyList), (Texts{kEntry, deep}));
    EXPECT_EQ(Elements(engine_.expandedRegValueList), Texts{deep + "\\"});
}

// A key refused to the program is granted in the view it was opened in, the
// 64-bit one, and listed; a grant that went to the 32-bit view would leave it
// locked and unlisted.
TEST_F(PopulateTest, AccessDeniedKeyIsGrantedInThe64BitViewAndListed) {
    MakeKey("", {"V"});  // in the 64-bit view only
    const std::string object = "MACHINE\\SOFTWARE\\CLEARWAYTESTS\\POPULATE";
    const SE_OBJECT_TYPE view64 = platform::kRegistryWow64_64Key;
    os_.LockKey(object, view64);
    EXPECT_EQ(engine_.ExpandRegKeyEntry(kEntry), 0u);
    EXPECT_FALSE(os_.KeyLocked(HKEY_LOCAL_MACHINE, "SOFTWARE\\CLEARWAYTESTS\\POPULATE", view64));
    ASSERT_EQ(os_.securityCalls.size(), 2u);
    EXPECT_EQ(os_.securityCalls[0].name, object);
    EXPECT_EQ(os_.securityCalls[0].type, view64);
    EXPECT_FALSE(os_.securityCalls[0].set);
    EXPECT_EQ(os_.securityCalls[1].name, object);
    EXPECT_EQ(os_.securityCalls[1].type, view64);
    EXPECT_EQ(os_.securityCalls[1].info, static_cast<SECURITY_INFORMATION>(0x80000004));
    EXPECT_EQ(Elements(engine_.expandedRegKeyList), Texts{kEntry});
    EXPECT_EQ(Elements(engine_.expandedRegValueList), Texts{std::string(kEntry) + "\\V"});

    // On 32-bit Windows there is one view, named as the program's own.
    TestPlatform os32;
    os32.wow64 = false;
    os32.LockKey(object, SE_REGISTRY_KEY);
    CNuke engine(os32);
    engine.dialog = &dialog_;
    EXPECT_EQ(engine.ExpandRegKeyEntry(kEntry), 0u);
    ASSERT_EQ(os32.securityCalls.size(), 2u);
    EXPECT_EQ(os32.securityCalls[1].type, SE_REGISTRY_KEY);
    EXPECT_EQ(Elements(engine.expandedRegKeyList), Texts{kEntry});
}

// A locked key that is ignored, or holds an ignored key, keeps its
// permissions: no grant, so it stays locked and unlisted. The ignore entry
// names it in another spelling and in the other view.
TEST_F(PopulateTest, AnIgnoredKeyAndItsHolderGetNoAccessGrant) {
    MakeKey("Holder\\Kept", {"V"});
    const SE_OBJECT_TYPE view64 = platform::kRegistryWow64_64Key;
    for (const char* spelling : {"hkey_local_machine\\software\\wow6432node\\clearwaytests\\populate\\holder\\kept\\",
                                 "HKEY_LOCAL_MACHINE\\SOFTWARE\\\\CLEARWAYTESTS\\POPULATE\\HOLDER\\KEPT"}) {
        for (const char* locked : {"HOLDER", "HOLDER\\KEPT"}) {
            SCOPED_TRACE(std::string(spelling) + " locking " + locked);
            TestPlatform os;
            const std::string object = std::string("MACHINE\\SOFTWARE\\CLEARWAYTESTS\\POPULATE\\") + locked;
            os.LockKey(object, view64);
            CNuke engine(os);
            engine.dialog = &dialog_;
            engine.ignoreRegKeyList.Insert(spelling);
            engine.ExpandRegKeyEntry((std::string(kEntry) + "\\HOLDER").c_str());
            for (const auto& call : os.securityCalls) EXPECT_NE(call.name, object) << "permissions touched";
            EXPECT_TRUE(os.KeyLocked(HKEY_LOCAL_MACHINE, object.substr(8).c_str(), view64));
        }
    }
}

TEST_F(PopulateTest, CancelDuringKeyExpansionLeavesTheLaterStepsUndone) {
    MakeKey("A", {"V"});
    engine_.removeRegKeyList.Insert((std::string(kEntry) + "\\A").c_str());
    engine_.removeRegKeyList.Insert((std::string(kEntry) + "\\B").c_str());
    engine_.removeRegValueList.Insert("HKEY_LOCAL_MACHINE\\SOFTWARE\\X\\Y");
    dialog_.cancelAtRead = 2;  // the test before the second configured key
    EXPECT_EQ(engine_.PopulateRemoveRegList(), 1223u);
    EXPECT_EQ(engine_.expandedRegKeyList.Count(), 1);
    EXPECT_TRUE(engine_.expandedRegValueList.Contains((std::string(kEntry) + "\\A\\V").c_str()));
    EXPECT_FALSE(engine_.expandedRegValueList.Contains("HKEY_LOCAL_MACHINE\\SOFTWARE\\X\\Y"));
}

TEST_F(PopulateTest, ServicesAndUpgradeCodesAreCopiedLessTheIgnored) {
    for (const char* s : {"VELSVC", "VELDRV", "OTHERSVC"}) engine_.removeServiceList.Insert(s);
    engine_.ignoreServiceList.Insert("OTHER");
    engine_.removeMsiUpgradeCodeList.Insert("{A}");
    engine_.removeMsiUpgradeCodeList.Insert("{B}");
    engine_.ignoreMsiUpgradeCodeList.Insert("{B}");
    EXPECT_EQ(engine_.PopulateRemoveServiceList(), 0u);
    EXPECT_EQ(engine_.PopulateRemoveMsiUpgradeCodeList(), 0u);
    EXPECT_EQ(Elements(engine_.expandedServiceList), (Texts{"VELDRV", "VELSVC"}));
    EXPECT_EQ(Elements(engine_.expandedMsiUpgradeCodeList), Texts{"{A}"});
    EXPECT_THAT(os_.DebugOutput(), HasSubstr("ExcludeIgnoreList: object 'OTHERSVC' excluded\n"));
}

TEST_F(PopulateTest, FileEntriesExpandToTheirTreeLessTheIgnoredFolder) {
    TempFolder folder("populate");
    const std::string root = folder / "Dir";
    for (const char* d : {"", "\\Sub", "\\Keep"}) ::CreateDirectoryA((root + d).c_str(), nullptr);
    for (const char* f : {"\\a.txt", "\\Sub\\b.txt", "\\Keep\\c.txt"}) WriteWholeFile(root + f, "x");
    engine_.removeFileList.Insert(root.c_str());
    engine_.removeFileList.Insert((folder / "missing").c_str());
    engine_.ignoreFileList.Insert("C:\\CLEARWAY-WORK\\POPULATE\\DIR\\KEEP");
    EXPECT_EQ(engine_.PopulateRemoveFileList(), 0u);
    const std::string r = "C:\\CLEARWAY-WORK\\POPULATE\\DIR";
    EXPECT_EQ(Elements(engine_.expandedFileList), (Texts{r, r + "\\A.TXT", r + "\\SUB", r + "\\SUB\\B.TXT"}));
}

TEST_F(PopulateTest, PopulateListsTracesEveryStep) {
    MakeKey("", {"One"});
    engine_.removeRegKeyList.Insert(kEntry);
    engine_.removeServiceList.Insert("VELSVC");
    ASSERT_EQ(engine_.PopulateLists(), 0u);
    const std::string log = os_.DebugOutput();
    EXPECT_THAT(log, HasSubstr("PopulateRemoveServiceList was successful with '1' items in the list\n"));
    EXPECT_THAT(log, HasSubstr("PopulateRemoveRegList was successful with '1' keys and '1' values in the lists\n"));
    EXPECT_THAT(log, HasSubstr("PopulateRemoveMsiUpgradeCodeList was successful with '0' items in the list\n"));
    EXPECT_THAT(log, HasSubstr("PopulateRemoveFileList was successful with '0' items in the list\n"));

    os_.ClearDebugOutput();
    CNuke cancelled(os_);
    TestDialog dialog;
    dialog.state = Cancelled;
    cancelled.dialog = &dialog;
    cancelled.removeServiceList.Insert("VELSVC");
    EXPECT_EQ(cancelled.PopulateLists(), 1223u);
    EXPECT_EQ(os_.DebugOutput(), "PopulateRemoveServiceList reported error message '<error not initialized>' and "
                                 "returned error code '1223'\n");
}

}  // namespace
