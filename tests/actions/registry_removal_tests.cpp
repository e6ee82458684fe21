// Registry removal against real keys and values of the prefix, in both
// registry views. The test program is 32-bit, as Clearway is, and runs under
// WoW64: a call that names no view reaches the 32-bit view, as the product's
// does. The platform seam stands in only for access denied, a Windows without
// RegDeleteKeyExA or IsWow64Process, 32-bit Windows and a cancel request in
// the middle of a walk.
#include <gtest/gtest.h>
#include <windows.h>
#include <sddl.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "actions/run_backup.h"
#include "platform/handles.h"
#include "profile/engine.h"
#include "tests/support/matchers.h"
#include "tests/support/test_dialog.h"
#include "tests/support/test_key.h"
#include "tests/support/test_platform.h"
#include "trace/trace.h"

using testing_support::CreateKey;
using testing_support::DeleteKeyTree;
using testing_support::KeyExists;
using testing_support::TestDialog;
using testing_support::ValueExists;
using testing_support::TestPlatform;

namespace {

const REGSAM kView32 = KEY_WOW64_32KEY;
const REGSAM kView64 = KEY_WOW64_64KEY;

// The test's own key below each root it uses, and its entry text.
const char kBase[] = "SOFTWARE\\ClearwayTests\\RegRemoval";
const std::string kLm = "HKEY_LOCAL_MACHINE\\SOFTWARE\\CLEARWAYTESTS\\REGREMOVAL";
const std::string kCu = "HKEY_CURRENT_USER\\SOFTWARE\\CLEARWAYTESTS\\REGREMOVAL";
const std::string kLmSubkey = "SOFTWARE\\CLEARWAYTESTS\\REGREMOVAL";

std::string Below(const std::string& relative) { return std::string(kBase) + "\\" + relative; }

// A value with the data "data"; the key is created when needed, and an empty
// name sets the unnamed value.
void SetData(HKEY root, const std::string& path, const std::string& name, REGSAM view) {
    testing_support::SetText(root, path, name, "data", view);
}

// Records the shell's delete calls and can refuse them with access denied or
// run something (a cancel request) when a given call is made.
class RemovalPlatform : public TestPlatform {
public:
    struct Call {
        HKEY root;
        std::string subkey;
        std::string value;
    };

    DWORD SHDeleteValueA(HKEY root, LPCSTR subKey, LPCSTR value) override {
        valueCalls.push_back({root, subKey ? subKey : "<null>", value ? value : "<null>"});
        if (onValueCall) onValueCall(valueCalls.size());
        if (valueDenials > 0) {
            --valueDenials;
            return ERROR_ACCESS_DENIED;
        }
        return TestPlatform::SHDeleteValueA(root, subKey, value);
    }
    DWORD SHDeleteEmptyKeyA(HKEY root, LPCSTR subKey) override {
        keyCalls.push_back({root, subKey ? subKey : "<null>", ""});
        if (onKeyCall) onKeyCall(keyCalls.size());
        if (keyDenials > 0) {
            --keyDenials;
            return ERROR_ACCESS_DENIED;
        }
        return TestPlatform::SHDeleteEmptyKeyA(root, subKey);
    }

    // The 64-bit deletions.
    LSTATUS RegDeleteValueA(HKEY key, LPCSTR name) override {
        ++deleteValueCalls;
        if (deleteValueDenials > 0) {
            --deleteValueDenials;
            return ERROR_ACCESS_DENIED;
        }
        return TestPlatform::RegDeleteValueA(key, name);
    }
    LSTATUS RegDeleteKeyExA(HKEY key, LPCSTR subKey, REGSAM sam, DWORD reserved) override {
        ++deleteKeyExCalls;
        if (deleteKeyExDenials > 0) {
            --deleteKeyExDenials;
            return ERROR_ACCESS_DENIED;
        }
        return TestPlatform::RegDeleteKeyExA(key, subKey, sam, reserved);
    }

    std::vector<Call> valueCalls;
    std::vector<Call> keyCalls;
    int valueDenials = 0;  // calls still to be refused
    int keyDenials = 0;
    int deleteValueDenials = 0;
    int deleteKeyExDenials = 0;
    int deleteValueCalls = 0;
    int deleteKeyExCalls = 0;
    std::function<void(size_t)> onValueCall;  // with the number of the call, from 1
    std::function<void(size_t)> onKeyCall;
};

void CleanAll() {
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, HKEY_CURRENT_CONFIG}) DeleteKeyTree(root, kBase);
}

class RegistryRemovalTest : public ::testing::Test {
protected:
    // The steps' own trace lines are what these tests read: the backup of
    // what they delete only counts here (its own tests write and import it).
    RegistryRemovalTest() : engine_(os_) {
        engine_.dialog = &dialog_;
        engine_.backup.reset(new RunBackup(os_, os_, false));
    }

    void SetUp() override {
        TraceShutdown();  // no log file: trace lines go to the platform's debugger output
        TraceSetPlatform(&os_);
        CleanAll();
        CreateKey(HKEY_LOCAL_MACHINE, kBase, kView32);
        CreateKey(HKEY_LOCAL_MACHINE, kBase, kView64);
        CreateKey(HKEY_CURRENT_USER, kBase, kView32);
    }
    void TearDown() override {
        CleanAll();
        TraceSetPlatform(nullptr);
    }

    std::string Trace() const { return os_.DebugOutput(); }
    bool Traced(const std::string& line) const { return Trace().find(line) != std::string::npos; }

    RemovalPlatform os_;
    TestDialog dialog_;
    CNuke engine_;
};

// ------------------------------------------------------------ test platform

// The shell helpers the removal uses act on the program's own view, the
// 32-bit one, and never touch the same key in the 64-bit view.
TEST_F(RegistryRemovalTest, TheShellHelpersActOnThe32BitViewOnly) {
    for (REGSAM view : {kView32, kView64}) {
        SetData(HKEY_LOCAL_MACHINE, Below("Full"), "V", view);
        CreateKey(HKEY_LOCAL_MACHINE, Below("Full\\Sub"), view);
        SetData(HKEY_LOCAL_MACHINE, Below("ValuesOnly"), "N", view);
        CreateKey(HKEY_LOCAL_MACHINE, Below("Empty"), view);
    }
    platform::Platform& shell = platform::ProductionPlatform();
    EXPECT_EQ(shell.SHDeleteEmptyKeyA(HKEY_LOCAL_MACHINE, Below("Full").c_str()),
              static_cast<DWORD>(ERROR_KEY_HAS_CHILDREN));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, Below("Full"), kView32));
    // Windows keeps a key that holds values; Wine's shell deletes it.
    const DWORD valuesOnly = testing_support::RunningOnWine() ? 0u : static_cast<DWORD>(ERROR_KEY_HAS_CHILDREN);
    EXPECT_EQ(shell.SHDeleteEmptyKeyA(HKEY_LOCAL_MACHINE, Below("ValuesOnly").c_str()), valuesOnly);
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, Below("ValuesOnly"), kView64));

    EXPECT_EQ(shell.SHDeleteEmptyKeyA(HKEY_LOCAL_MACHINE, Below("Empty").c_str()), 0u);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, Below("Empty"), kView32));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, Below("Empty"), kView64));
    EXPECT_EQ(shell.SHDeleteEmptyKeyA(HKEY_LOCAL_MACHINE, Below("Empty").c_str()), 2u);

    EXPECT_EQ(shell.SHDeleteValueA(HKEY_LOCAL_MACHINE, Below("Full").c_str(), "V"), 0u);
    EXPECT_FALSE(ValueExists(HKEY_LOCAL_MACHINE, Below("Full"), "V", kView32));
    EXPECT_TRUE(ValueExists(HKEY_LOCAL_MACHINE, Below("Full"), "V", kView64));
    EXPECT_EQ(shell.SHDeleteValueA(HKEY_LOCAL_MACHINE, Below("Full").c_str(), "V"), 2u);
    EXPECT_EQ(shell.SHDeleteValueA(HKEY_LOCAL_MACHINE, Below("Nowhere").c_str(), "V"), 2u);
}

TEST_F(RegistryRemovalTest, Is64BitWindowsAsksIsWow64ProcessEachTime) {
    EXPECT_TRUE(engine_.Is64BitWindows());
    os_.wow64 = false;
    EXPECT_FALSE(engine_.Is64BitWindows());
    os_.wow64 = true;
    EXPECT_TRUE(engine_.Is64BitWindows());
    os_.hasIsWow64Process = false;
    EXPECT_FALSE(engine_.Is64BitWindows());

    // The production platform found both functions on this Windows.
    platform::Platform& production = platform::ProductionPlatform();
    EXPECT_TRUE(production.HasIsWow64Process());
    EXPECT_TRUE(production.HasRegDeleteKeyExA());
    BOOL flag = TRUE;
    EXPECT_TRUE(production.IsWow64Process(production.GetCurrentProcess(), &flag));
    EXPECT_TRUE(flag);  // the test program is a 32-bit process on 64-bit Windows
}

// ------------------------------------------------------------ one subtree

TEST_F(RegistryRemovalTest, ListedValuesAndKeysGoChildrenFirstAndTheRestStays) {
    const REGSAM v = kView32;
    HKEY lm = HKEY_LOCAL_MACHINE;
    SetData(lm, Below("App"), "", v);
    SetData(lm, Below("App"), "Name", v);
    SetData(lm, Below("App"), "Dir\\Sub", v);
    SetData(lm, Below("App\\Child"), "", v);
    SetData(lm, Below("App\\Child"), "X", v);
    CreateKey(lm, Below("App\\Child\\Leaf"), v);
    SetData(lm, Below("Sibling"), "Keep", v);
    SetData(lm, Below("Other"), "Stay", v);
    SetData(lm, Below("Other"), "Go", v);
    SetData(HKEY_CURRENT_USER, Below("UserApp"), "", v);

    for (const std::string& e : {kLm + "\\APP\\", kLm + "\\APP\\NAME", kLm + "\\APP\\DIR---SUB", kLm + "\\APP\\CHILD\\",
                                 kLm + "\\APP\\CHILD\\X", kLm + "\\OTHER\\GO", kCu + "\\USERAPP\\"}) {
        ASSERT_EQ(engine_.expandedRegValueList.Insert(e.c_str()), 0u);
    }
    for (const std::string& e : {kLm + "\\APP", kLm + "\\APP\\CHILD", kLm + "\\APP\\CHILD\\LEAF", kCu + "\\USERAPP"}) {
        ASSERT_EQ(engine_.expandedRegKeyList.Insert(e.c_str()), 0u);
    }

    ASSERT_EQ(engine_.CleanupRegValues(), 0u);
    EXPECT_EQ(Trace(), "Deleting registry value 'HKEY_CURRENT_USER\\SOFTWARE\\CLEARWAYTESTS\\REGREMOVAL\\USERAPP\\' "
                       "was successful\n"
                       "Deleting registry value '" + kLm + "\\APP\\' was successful\n"
                       "Deleting registry value '" + kLm + "\\APP\\CHILD\\' was successful\n"
                       "Deleting registry value '" + kLm + "\\APP\\CHILD' was successful\n"
                       "Deleting registry value '" + kLm + "\\APP' was successful\n"
                       "Deleting registry value '" + kLm + "\\APP' was successful\n"
                       "Deleting registry value '" + kLm + "\\OTHER' was successful\n"
                       "CleanupRegValues was successful with '7' deleted values\n");
    // The default value goes with the key path and its trailing backslash.
    ASSERT_GE(os_.valueCalls.size(), 2u);
    EXPECT_EQ(os_.valueCalls[0].root, HKEY_CURRENT_USER);
    EXPECT_EQ(os_.valueCalls[0].subkey, "SOFTWARE\\CLEARWAYTESTS\\REGREMOVAL\\USERAPP\\");
    EXPECT_EQ(os_.valueCalls[0].value, "");
    EXPECT_EQ(os_.valueCalls[1].root, HKEY_LOCAL_MACHINE);
    EXPECT_FALSE(ValueExists(lm, Below("App"), "", v));
    EXPECT_FALSE(ValueExists(lm, Below("App"), "Name", v));
    EXPECT_FALSE(ValueExists(lm, Below("App"), "Dir\\Sub", v));
    EXPECT_FALSE(ValueExists(lm, Below("App\\Child"), "", v));
    EXPECT_FALSE(ValueExists(lm, Below("App\\Child"), "X", v));
    EXPECT_FALSE(ValueExists(lm, Below("Other"), "Go", v));
    EXPECT_FALSE(ValueExists(HKEY_CURRENT_USER, Below("UserApp"), "", v));
    EXPECT_TRUE(ValueExists(lm, Below("Other"), "Stay", v));
    EXPECT_TRUE(ValueExists(lm, Below("Sibling"), "Keep", v));
    EXPECT_TRUE(KeyExists(lm, Below("App\\Child\\Leaf"), v));

    os_.ClearDebugOutput();
    ASSERT_EQ(engine_.CleanupRegKeys(), 0u);
    EXPECT_EQ(Trace(), "Deleting registry key '" + kLm + "\\APP\\CHILD\\LEAF' was successful\n"
                       "Deleting registry key '" + kLm + "\\APP\\CHILD' was successful\n"
                       "Deleting registry key '" + kLm + "\\APP' was successful\n"
                       "Deleting registry key '" + kCu + "\\USERAPP' was successful\n"
                       "CleanupRegKeys was successful with '4' deleted values\n");
    EXPECT_FALSE(KeyExists(lm, Below("App"), v));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, Below("UserApp"), v));
    EXPECT_TRUE(KeyExists(lm, Below("Sibling"), v));
    EXPECT_TRUE(KeyExists(lm, Below("Other"), v));
    EXPECT_TRUE(KeyExists(lm, kBase, v));
    // Neither step changes its list.
    EXPECT_EQ(engine_.expandedRegValueList.Count(), 7);
    EXPECT_EQ(engine_.expandedRegKeyList.Count(), 4);
}

TEST_F(RegistryRemovalTest, TheSameTextAsKeyAndAsValueEntry) {
    SetData(HKEY_LOCAL_MACHINE, Below("A"), "B", kView32);
    SetData(HKEY_LOCAL_MACHINE, Below("A"), "C", kView32);
    CreateKey(HKEY_LOCAL_MACHINE, Below("A\\B"), kView32);
    const std::string entry = kLm + "\\A\\B";
    engine_.expandedRegValueList.Insert(entry.c_str());
    engine_.expandedRegKeyList.Insert(entry.c_str());

    ASSERT_EQ(engine_.CleanupRegValues(), 0u);
    EXPECT_EQ(Trace(), "Deleting registry value '" + kLm + "\\A' was successful\n"
                       "CleanupRegValues was successful with '1' deleted values\n");
    EXPECT_FALSE(ValueExists(HKEY_LOCAL_MACHINE, Below("A"), "B", kView32));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, Below("A\\B"), kView32));

    os_.ClearDebugOutput();
    ASSERT_EQ(engine_.CleanupRegKeys(), 0u);
    EXPECT_EQ(Trace(), "Deleting registry key '" + kLm + "\\A\\B' was successful\n"
                       "CleanupRegKeys was successful with '1' deleted values\n");
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, Below("A\\B"), kView32));
    EXPECT_TRUE(ValueExists(HKEY_LOCAL_MACHINE, Below("A"), "C", kView32));
}

TEST_F(RegistryRemovalTest, ADefaultValueEntryDeletesOnlyTheDefaultValue) {
    SetData(HKEY_CURRENT_USER, Below("A"), "", kView32);
    SetData(HKEY_CURRENT_USER, Below("A"), "Named", kView32);
    SetData(HKEY_CURRENT_USER, Below("A\\B"), "", kView32);
    engine_.expandedRegValueList.Insert((kCu + "\\A\\").c_str());

    ASSERT_EQ(engine_.CleanupRegValues(), 0u);
    EXPECT_EQ(Trace(), "Deleting registry value '" + kCu + "\\A\\' was successful\n"
                       "CleanupRegValues was successful with '1' deleted values\n");
    EXPECT_FALSE(ValueExists(HKEY_CURRENT_USER, Below("A"), "", kView32));
    EXPECT_TRUE(ValueExists(HKEY_CURRENT_USER, Below("A"), "Named", kView32));
    EXPECT_TRUE(ValueExists(HKEY_CURRENT_USER, Below("A\\B"), "", kView32));
}

TEST_F(RegistryRemovalTest, ThreeDashesInAValueNameStandForABackslash) {
    for (const char* name : {"X\\Y", "X", "Y", "X---Y", "P\\Q\\R"}) {
        SetData(HKEY_LOCAL_MACHINE, Below("A"), name, kView32);
    }
    engine_.expandedRegValueList.Insert((kLm + "\\A\\X---Y").c_str());
    engine_.expandedRegValueList.Insert((kLm + "\\A\\P---Q---R").c_str());

    ASSERT_EQ(engine_.CleanupRegValues(), 0u);
    EXPECT_EQ(Trace(), "Deleting registry value '" + kLm + "\\A' was successful\n"
                       "Deleting registry value '" + kLm + "\\A' was successful\n"
                       "CleanupRegValues was successful with '2' deleted values\n");
    EXPECT_FALSE(ValueExists(HKEY_LOCAL_MACHINE, Below("A"), "X\\Y", kView32));
    EXPECT_FALSE(ValueExists(HKEY_LOCAL_MACHINE, Below("A"), "P\\Q\\R", kView32));
    EXPECT_TRUE(ValueExists(HKEY_LOCAL_MACHINE, Below("A"), "X", kView32));
    EXPECT_TRUE(ValueExists(HKEY_LOCAL_MACHINE, Below("A"), "Y", kView32));
    EXPECT_TRUE(ValueExists(HKEY_LOCAL_MACHINE, Below("A"), "X---Y", kView32));
}

TEST_F(RegistryRemovalTest, AKeyThatIsNotEmptyStaysAndIsReported) {
    SetData(HKEY_LOCAL_MACHINE, Below("Busy"), "Unlisted", kView32);
    CreateKey(HKEY_LOCAL_MACHINE, Below("Parent\\Unlisted"), kView32);
    CreateKey(HKEY_LOCAL_MACHINE, Below("Empty"), kView32);
    for (const char* key : {"\\BUSY", "\\PARENT", "\\EMPTY"}) engine_.expandedRegKeyList.Insert((kLm + key).c_str());

    ASSERT_EQ(engine_.CleanupRegKeys(), 0u);
    char code[16];
    std::snprintf(code, sizeof code, "%d", static_cast<int>(ERROR_KEY_HAS_CHILDREN));
    // Windows keeps a key that holds values; Wine's shell deletes it.
    const bool wine = testing_support::RunningOnWine();
    const std::string busy = wine ? "was successful" : std::string("reported error code '") + code + "'";
    EXPECT_EQ(Trace(), "Deleting registry key '" + kLm + "\\PARENT' reported error code '" + code + "'\n"
                       "Deleting registry key '" + kLm + "\\EMPTY' was successful\n"
                       "Deleting registry key '" + kLm + "\\BUSY' " + busy + "\n"
                       "CleanupRegKeys encountered errors but deleted '3' values\n");
    EXPECT_NE(ValueExists(HKEY_LOCAL_MACHINE, Below("Busy"), "Unlisted", kView32), wine);
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, Below("Parent\\Unlisted"), kView32));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, Below("Empty"), kView32));
}

TEST_F(RegistryRemovalTest, ACurrentConfigKeyIsDeletedWithoutItsRootInTheDisplay) {
    CreateKey(HKEY_CURRENT_CONFIG, Below("Cfg"), kView32);
    engine_.expandedRegKeyList.Insert("HKEY_CURRENT_CONFIG\\SOFTWARE\\CLEARWAYTESTS\\REGREMOVAL\\CFG");

    ASSERT_EQ(engine_.CleanupRegKeys(), 0u);
    EXPECT_EQ(Trace(), "Warning: ParseRegKeyPrefix received invalid hrootKey parameter\n"
                       "Deleting registry key '\\SOFTWARE\\CLEARWAYTESTS\\REGREMOVAL\\CFG' was successful\n"
                       "CleanupRegKeys was successful with '1' deleted values\n");
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_CONFIG, Below("Cfg"), kView32));
    ASSERT_EQ(os_.keyCalls.size(), 1u);
    EXPECT_EQ(os_.keyCalls[0].root, HKEY_CURRENT_CONFIG);
}

// ------------------------------------------------------------ both views

TEST_F(RegistryRemovalTest, WhatIsMissingInThe32BitViewIsDeletedInThe64BitView) {
    HKEY lm = HKEY_LOCAL_MACHINE;
    // Wide exists only in the 64-bit view; Both in both views.
    SetData(lm, Below("Wide"), "Only64", kView64);
    SetData(lm, Below("Wide"), "", kView64);
    SetData(lm, Below("Both"), "V", kView32);
    SetData(lm, Below("Both"), "V", kView64);
    for (const char* e : {"\\WIDE\\ONLY64", "\\WIDE\\", "\\BOTH\\V"}) {
        engine_.expandedRegValueList.Insert((kLm + e).c_str());
    }
    for (const char* e : {"\\WIDE", "\\BOTH", "\\NOWHERE", "\\GONE\\CHILD"}) {
        engine_.expandedRegKeyList.Insert((kLm + e).c_str());
    }

    ASSERT_EQ(engine_.CleanupRegValues(), 0u);
    EXPECT_EQ(Trace(), "Deleting registry value '" + kLm + "\\BOTH' was successful\n"
                       "Registry value '" + kLm + "\\WIDE\\' not found, let's try 64bit side...\n"
                       "Deleting registry value '" + kLmSubkey + "\\WIDE\\\\' was successful\n"
                       "Registry value '" + kLm + "\\WIDE' not found, let's try 64bit side...\n"
                       "Deleting registry value '" + kLmSubkey + "\\WIDE\\ONLY64' was successful\n"
                       "CleanupRegValues encountered errors but deleted '3' values\n");
    EXPECT_FALSE(ValueExists(lm, Below("Wide"), "Only64", kView64));
    EXPECT_FALSE(ValueExists(lm, Below("Wide"), "", kView64));
    EXPECT_FALSE(ValueExists(lm, Below("Both"), "V", kView32));
    EXPECT_TRUE(ValueExists(lm, Below("Both"), "V", kView64));  // found in the 32-bit view: not tried here

    os_.ClearDebugOutput();
    ASSERT_EQ(engine_.CleanupRegKeys(), 0u);
    EXPECT_EQ(Trace(), "Registry key '" + kLm + "\\WIDE' not found, let's try 64bit side...\n"
                       "Deleting registry key '" + kLm + "\\WIDE' was successful\n"
                       "Registry key '" + kLm + "\\NOWHERE' not found, let's try 64bit side...\n"
                       "Registry key '" + kLm + "\\NOWHERE' is missing already, nothing to delete...\n"
                       "Registry key '" + kLm + "\\GONE\\CHILD' not found, let's try 64bit side...\n"
                       "Opening registry key '" + kLmSubkey + "\\GONE' reported \"file\" not found\n"
                       "Deleting registry key '" + kLm + "\\BOTH' was successful\n"
                       "CleanupRegKeys encountered errors but deleted '4' values\n");
    EXPECT_FALSE(KeyExists(lm, Below("Wide"), kView64));
    EXPECT_FALSE(KeyExists(lm, Below("Both"), kView32));
    EXPECT_TRUE(KeyExists(lm, Below("Both"), kView64));
    EXPECT_TRUE(KeyExists(lm, kBase, kView32));
    EXPECT_TRUE(KeyExists(lm, kBase, kView64));
}

TEST_F(RegistryRemovalTest, AKeyFoundOnlyInThe64BitViewLeavesTheStepSuccessful) {
    CreateKey(HKEY_LOCAL_MACHINE, Below("Wide\\Inner"), kView64);
    engine_.expandedRegKeyList.Insert((kLm + "\\WIDE").c_str());
    engine_.expandedRegKeyList.Insert((kLm + "\\WIDE\\INNER").c_str());

    ASSERT_EQ(engine_.CleanupRegKeys(), 0u);
    EXPECT_EQ(Trace(), "Registry key '" + kLm + "\\WIDE\\INNER' not found, let's try 64bit side...\n"
                       "Deleting registry key '" + kLm + "\\WIDE\\INNER' was successful\n"
                       "Registry key '" + kLm + "\\WIDE' not found, let's try 64bit side...\n"
                       "Deleting registry key '" + kLm + "\\WIDE' was successful\n"
                       "CleanupRegKeys was successful with '2' deleted values\n");
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, Below("Wide"), kView64));
}

TEST_F(RegistryRemovalTest, The64BitDeletionsReportWhatTheyMeet) {
    SetData(HKEY_LOCAL_MACHINE, Below("Wide"), "Other", kView64);
    EXPECT_EQ(engine_.DeleteRegValue64(HKEY_LOCAL_MACHINE, Below("Wide").c_str(), "Absent"), 2u);
    EXPECT_EQ(engine_.DeleteRegValue64(HKEY_LOCAL_MACHINE, Below("Nowhere").c_str(), "V"), 2u);
    EXPECT_EQ(engine_.DeleteRegValue64(HKEY_LOCAL_MACHINE, Below("Wide").c_str(), "Other"), 0u);
    EXPECT_EQ(engine_.DeleteRegKey64((kLm + "\\WIDE").c_str()), 0u);
    EXPECT_EQ(engine_.DeleteRegKey64((kLm + "\\WIDE").c_str()), 2u);
    EXPECT_EQ(Trace(), "Registry value '" + Below("Wide") + "\\Absent' is missing already, nothing to delete...\n"
                       "Opening registry key '" + Below("Nowhere") + "' reported \"file\" not found\n"
                       "Deleting registry value '" + Below("Wide") + "\\Other' was successful\n"
                       "Deleting registry key '" + kLm + "\\WIDE' was successful\n"
                       "Registry key '" + kLm + "\\WIDE' is missing already, nothing to delete...\n");
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, Below("Wide"), kView64));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kBase, kView64));
}

TEST_F(RegistryRemovalTest, WithoutRegDeleteKeyExABoth64BitDeletionsAreAborted) {
    os_.hasRegDeleteKeyExA = false;
    SetData(HKEY_LOCAL_MACHINE, Below("Wide"), "Only64", kView64);
    engine_.expandedRegValueList.Insert((kLm + "\\WIDE\\ONLY64").c_str());
    engine_.expandedRegKeyList.Insert((kLm + "\\WIDE").c_str());

    ASSERT_EQ(engine_.CleanupRegValues(), 0u);
    ASSERT_EQ(engine_.CleanupRegKeys(), 0u);
    EXPECT_EQ(Trace(), "Registry value '" + kLm + "\\WIDE' not found, let's try 64bit side...\n"
                       "GetProcAddress for RegDeleteKeyValue failed. 64 bit deletion aborted.\n"
                       "CleanupRegValues encountered errors but deleted '1' values\n"
                       "Registry key '" + kLm + "\\WIDE' not found, let's try 64bit side...\n"
                       "GetProcAddress for RegDeleteKeyEx failed. 64 bit deletion aborted.\n"
                       "CleanupRegKeys encountered errors but deleted '1' values\n");
    EXPECT_TRUE(ValueExists(HKEY_LOCAL_MACHINE, Below("Wide"), "Only64", kView64));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, Below("Wide"), kView64));
    EXPECT_EQ(engine_.DeleteRegValue64(HKEY_LOCAL_MACHINE, Below("Wide").c_str(), "Only64"),
              static_cast<DWORD>(ERROR_BAD_ENVIRONMENT));
    EXPECT_EQ(engine_.DeleteRegKey64((kLm + "\\WIDE").c_str()), static_cast<DWORD>(ERROR_BAD_ENVIRONMENT));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, Below("Wide"), kView64));
}

TEST_F(RegistryRemovalTest, On32BitWindowsNothingIsLookedForInA64BitView) {
    os_.wow64 = false;
    SetData(HKEY_LOCAL_MACHINE, Below("Wide"), "Only64", kView64);
    engine_.expandedRegValueList.Insert((kLm + "\\WIDE\\ONLY64").c_str());
    engine_.expandedRegKeyList.Insert((kLm + "\\WIDE").c_str());

    ASSERT_EQ(engine_.CleanupRegValues(), 0u);
    ASSERT_EQ(engine_.CleanupRegKeys(), 0u);
    // A missing key is no error there; a missing value still is.
    EXPECT_EQ(Trace(), "Registry value '" + kLm + "\\WIDE' is missing already, nothing to delete...\n"
                       "CleanupRegValues encountered errors but deleted '1' values\n"
                       "Registry key '" + kLm + "\\WIDE' is missing already, nothing to delete...\n"
                       "CleanupRegKeys was successful with '1' deleted values\n");
    EXPECT_TRUE(ValueExists(HKEY_LOCAL_MACHINE, Below("Wide"), "Only64", kView64));

    // The same without IsWow64Process (Windows before XP SP2).
    os_.wow64 = true;
    os_.hasIsWow64Process = false;
    os_.ClearDebugOutput();
    ASSERT_EQ(engine_.CleanupRegKeys(), 0u);
    EXPECT_EQ(Trace(), "Registry key '" + kLm + "\\WIDE' is missing already, nothing to delete...\n"
                       "CleanupRegKeys was successful with '1' deleted values\n");
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, Below("Wide"), kView64));
}

// ------------------------------------------------------------ access denied

// A locked key refuses to be read, so it is not known not to be a link: it
// is granted to Administrators as itself, in the program's own view (where
// the shell helpers act), looked at again, and then deleted with one call;
// without that grant it would stay locked.
TEST_F(RegistryRemovalTest, ALockedKeyIsGrantedAsItselfBeforeItsDeletion) {
    SetData(HKEY_LOCAL_MACHINE, Below("Locked"), "V", kView32);
    CreateKey(HKEY_LOCAL_MACHINE, Below("LockedKey"), kView32);
    engine_.expandedRegValueList.Insert((kLm + "\\LOCKED\\V").c_str());
    engine_.expandedRegKeyList.Insert((kLm + "\\LOCKEDKEY").c_str());
    const std::string lockedValueKey = "MACHINE\\" + kLmSubkey + "\\LOCKED";
    const std::string lockedKey = "MACHINE\\" + kLmSubkey + "\\LOCKEDKEY";
    os_.LockKey(lockedValueKey, SE_REGISTRY_KEY);
    os_.LockKey(lockedKey, SE_REGISTRY_KEY);

    ASSERT_EQ(engine_.CleanupRegValues(), 0u);
    ASSERT_EQ(os_.valueCalls.size(), 1u);
    EXPECT_EQ(os_.valueCalls[0].value, "V");
    EXPECT_FALSE(ValueExists(HKEY_LOCAL_MACHINE, Below("Locked"), "V", kView32));
    EXPECT_TRUE(Traced("Deleting registry value '" + kLm + "\\LOCKED' was successful\n")) << Trace();
    EXPECT_TRUE(Traced("CleanupRegValues was successful with '1' deleted values\n")) << Trace();

    ASSERT_EQ(engine_.CleanupRegKeys(), 0u);
    ASSERT_EQ(os_.keyCalls.size(), 1u);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, Below("LockedKey"), kView32));
    EXPECT_TRUE(Traced("Deleting registry key '" + kLm + "\\LOCKEDKEY' was successful\n")) << Trace();
    EXPECT_TRUE(Traced("CleanupRegKeys was successful with '1' deleted values\n")) << Trace();

    // One read and one write of each key's DACL, in the 32-bit view.
    ASSERT_EQ(os_.securityCalls.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(os_.securityCalls[i].name, i < 2 ? lockedValueKey : lockedKey) << i;
        EXPECT_EQ(os_.securityCalls[i].type, SE_REGISTRY_KEY) << i;
        EXPECT_EQ(os_.securityCalls[i].set, i % 2 == 1) << i;
    }
}

// A link planted with permissions that refuse Administrators: the grant
// goes to the link key itself, never through it, and once it can be read
// it is seen for what it is. The key it shows keeps its value and its
// permissions.
TEST_F(RegistryRemovalTest, ALockedLinkIsGrantedAsItselfAndNotDeletedThrough) {
    SetData(HKEY_CURRENT_USER, Below("Target"), "V", kView64);
    testing_support::KeyLink link(HKEY_CURRENT_USER, Below("Linked"), Below("Target"));
    const std::string target = "CURRENT_USER\\" + std::string(kBase) + "\\Target";
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR before = nullptr;
    ASSERT_EQ(::GetNamedSecurityInfoA(target.c_str(), SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                      &dacl, nullptr, &before),
              0u);
    const std::vector<testing_support::Ace> targetDacl = testing_support::Entries(dacl);
    ::LocalFree(before);
    const std::string linkObject = "CURRENT_USER\\" + kLmSubkey + "\\LINKED";
    os_.LockKey(linkObject, SE_REGISTRY_KEY);
    engine_.expandedRegValueList.Insert((kCu + "\\LINKED\\V").c_str());

    ASSERT_EQ(engine_.CleanupRegValues(), 0u);
    EXPECT_TRUE(os_.valueCalls.empty());
    EXPECT_TRUE(ValueExists(HKEY_CURRENT_USER, Below("Target"), "V", kView64));
    EXPECT_TRUE(Traced("CleanupRegValues: refusing to delete '")) << Trace();
    EXPECT_TRUE(Traced("\\LINKED' along it is a registry link")) << Trace();
    ASSERT_FALSE(os_.securityCalls.empty());
    for (const auto& call : os_.securityCalls) EXPECT_EQ(call.name, linkObject);
    PSECURITY_DESCRIPTOR after = nullptr;
    ASSERT_EQ(::GetNamedSecurityInfoA(target.c_str(), SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                      &dacl, nullptr, &after),
              0u);
    EXPECT_EQ(testing_support::Entries(dacl), targetDacl);
    ::LocalFree(after);
}

// A value whose deletion needed a grant leaves its key with the
// permissions it had: the key stays, and a Run or Uninstall key keeps what
// Windows gave it. Read back from Wine, which keeps key DACLs.
TEST_F(RegistryRemovalTest, AKeyThatStaysGetsBackItsPermissionsAfterAGrant) {
    SetData(HKEY_LOCAL_MACHINE, Below("Kept"), "V", kView32);
    SetData(HKEY_LOCAL_MACHINE, Below("Kept"), "Other", kView32);
    // Readable by Users, as a Run key is; inherited from nowhere.
    std::string object = "MACHINE\\" + kLmSubkey + "\\KEPT";  // named in the program's own view
    PSECURITY_DESCRIPTOR sd = nullptr;
    ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorA("D:(A;;KA;;;SY)(A;;KA;;;BA)(A;;KR;;;BU)",
                                                                      SDDL_REVISION_1, &sd, nullptr));
    BOOL present = FALSE, defaulted = FALSE;
    PACL given = nullptr;
    ASSERT_TRUE(::GetSecurityDescriptorDacl(sd, &present, &given, &defaulted));
    ASSERT_EQ(::SetNamedSecurityInfoA(&object[0], SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                      given, nullptr),
              0u);
    ::LocalFree(sd);
    const auto entries = [&object]() {
        PACL dacl = nullptr;
        PSECURITY_DESCRIPTOR read = nullptr;
        EXPECT_EQ(::GetNamedSecurityInfoA(object.c_str(), SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr,
                                          nullptr, &dacl, nullptr, &read),
                  0u);
        const std::vector<testing_support::Ace> aces = testing_support::Entries(dacl);
        ::LocalFree(read);
        return aces;
    };
    const std::vector<testing_support::Ace> original = entries();
    ASSERT_EQ(original.size(), 3u);
    engine_.expandedRegValueList.Insert((kLm + "\\KEPT\\V").c_str());
    os_.valueDenials = 1;

    ASSERT_EQ(engine_.CleanupRegValues(), 0u);
    EXPECT_FALSE(ValueExists(HKEY_LOCAL_MACHINE, Below("Kept"), "V", kView32));
    EXPECT_TRUE(ValueExists(HKEY_LOCAL_MACHINE, Below("Kept"), "Other", kView32));
    EXPECT_EQ(entries(), original);
    EXPECT_TRUE(Traced("RestoreRegKeyAccess: the permissions of 'HKEY_LOCAL_MACHINE\\" + kLmSubkey +
                       "\\KEPT' are back as they were\n"))
        << Trace();
    // One grant and one give-back, both through a handle to the key.
    size_t sets = 0;
    for (const auto& call : os_.securityCalls) sets += call.set ? 1 : 0;
    EXPECT_EQ(sets, 2u);
}

TEST_F(RegistryRemovalTest, AccessDeniedTwiceIsReportedWithoutAThirdTry) {
    SetData(HKEY_LOCAL_MACHINE, Below("Locked"), "V", kView32);
    engine_.expandedRegValueList.Insert((kLm + "\\LOCKED\\V").c_str());
    engine_.expandedRegKeyList.Insert((kLm + "\\LOCKED").c_str());
    os_.valueDenials = 2;
    os_.keyDenials = 2;

    ASSERT_EQ(engine_.CleanupRegValues(), 0u);
    ASSERT_EQ(engine_.CleanupRegKeys(), 0u);
    EXPECT_EQ(os_.valueCalls.size(), 2u);
    EXPECT_EQ(os_.keyCalls.size(), 2u);
    EXPECT_TRUE(ValueExists(HKEY_LOCAL_MACHINE, Below("Locked"), "V", kView32));
    EXPECT_TRUE(Traced("Deleting registry value '" + kLm + "\\LOCKED' reported error code '5'\n"
                       "CleanupRegValues encountered errors but deleted '1' values\n"))
        << Trace();
    EXPECT_TRUE(Traced("Deleting registry key '" + kLm + "\\LOCKED' reported error code '5'\n"
                       "CleanupRegKeys encountered errors but deleted '1' values\n"))
        << Trace();
}

TEST_F(RegistryRemovalTest, The64BitDeletionsTryOnceMoreAfterAccessDenied) {
    SetData(HKEY_LOCAL_MACHINE, Below("Wide"), "Only64", kView64);
    engine_.expandedRegValueList.Insert((kLm + "\\WIDE\\ONLY64").c_str());
    engine_.expandedRegKeyList.Insert((kLm + "\\WIDE").c_str());
    os_.deleteValueDenials = 1;
    os_.deleteKeyExDenials = 1;

    ASSERT_EQ(engine_.CleanupRegValues(), 0u);
    ASSERT_EQ(engine_.CleanupRegKeys(), 0u);
    EXPECT_EQ(os_.deleteValueCalls, 2);
    EXPECT_EQ(os_.deleteKeyExCalls, 2);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, Below("Wide"), kView64));
    EXPECT_TRUE(Traced("Deleting registry value '" + kLmSubkey + "\\WIDE\\ONLY64' was successful\n")) << Trace();
    EXPECT_TRUE(Traced("Deleting registry key '" + kLm + "\\WIDE' was successful\n"
                       "CleanupRegKeys was successful with '1' deleted values\n"))
        << Trace();

    // Refused twice: reported, and no third try.
    SetData(HKEY_LOCAL_MACHINE, Below("Wide"), "Only64", kView64);
    os_.ClearDebugOutput();
    os_.deleteValueCalls = os_.deleteKeyExCalls = 0;
    os_.deleteValueDenials = os_.deleteKeyExDenials = 2;
    EXPECT_EQ(engine_.DeleteRegValue64(HKEY_LOCAL_MACHINE, Below("Wide").c_str(), "Only64"), 5u);
    EXPECT_EQ(engine_.DeleteRegKey64((kLm + "\\WIDE").c_str()), 5u);
    EXPECT_EQ(os_.deleteValueCalls, 2);
    EXPECT_EQ(os_.deleteKeyExCalls, 2);
    EXPECT_EQ(Trace(), "Deleting registry value '" + Below("Wide") + "\\Only64' reported error code '5'\n"
                       "Deleting registry key '" + kLm + "\\WIDE' reported error code '5'\n");
    EXPECT_TRUE(ValueExists(HKEY_LOCAL_MACHINE, Below("Wide"), "Only64", kView64));
}

// ------------------------------------------------------------ cancel

// The cancel request is looked at before elements 0, 20 and 40 only: one
// that arrives during element 25 stops the run before element 40, and one
// during the last of twenty elements comes too late. Keys go deepest (last)
// first.
TEST_F(RegistryRemovalTest, CancelIsSeenOnlyBeforeElements0And20And40) {
    const struct {
        const char* name;
        bool keys;
        int elements;
        size_t cancelAtCall;  // counted from 1
        DWORD rc;
        size_t calls;
        int reads;  // of the cancel request
        const char* traceEnd;
    } cases[] = {
        {"values, during element 25", false, 45, 26, 1223, 40, 3,
         "CleanupRegValues deleted '40' values until uninstallation was cancelled by user\n"},
        {"keys, during element 5", true, 45, 6, 1223, 20, 2,
         "CleanupRegKeys deleted '20' values until uninstallation was cancelled by user\n"},
        {"values, during the last of twenty", false, 20, 20, 0, 20, 1,
         "CleanupRegValues was successful with '20' deleted values\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testing_support::DeleteKeyTree(HKEY_LOCAL_MACHINE, Below("Many"));
        CNuke engine(os_);
        engine.dialog = &dialog_;
        engine.writesBackup = false;
        os_.valueCalls.clear();
        os_.keyCalls.clear();
        os_.ClearDebugOutput();
        dialog_.state = Running;
        dialog_.stateReads = 0;
        char name[8];
        for (int i = 0; i < c.elements; ++i) {
            std::snprintf(name, sizeof name, "E%02d", i);
            if (c.keys) {
                CreateKey(HKEY_LOCAL_MACHINE, Below("Many\\") + name, kView32);
                engine.expandedRegKeyList.Insert((kLm + "\\MANY\\" + name).c_str());
            } else {
                SetData(HKEY_LOCAL_MACHINE, Below("Many"), name, kView32);
                engine.expandedRegValueList.Insert((kLm + "\\MANY\\" + name).c_str());
            }
        }
        auto cancel = [this, &c](size_t call) {
            if (call == c.cancelAtCall) dialog_.state = Cancelled;
        };
        os_.onValueCall = os_.onKeyCall = nullptr;
        (c.keys ? os_.onKeyCall : os_.onValueCall) = cancel;
        EXPECT_EQ(c.keys ? engine.CleanupRegKeys() : engine.CleanupRegValues(), c.rc);
        EXPECT_EQ((c.keys ? os_.keyCalls : os_.valueCalls).size(), c.calls);
        EXPECT_EQ(dialog_.stateReads, c.reads);
        const std::string trace = Trace();
        const std::string end = c.traceEnd;
        ASSERT_GE(trace.size(), end.size());
        EXPECT_EQ(trace.substr(trace.size() - end.size()), end);
        if (c.rc == 1223) {
            EXPECT_THAT(trace, Not(HasSubstr("was successful with")));
        }
        // Values go in ascending order, keys in descending order.
        for (int i = 0; i < c.elements; ++i) {
            std::snprintf(name, sizeof name, "E%02d", i);
            const bool stays = c.keys ? i < c.elements - static_cast<int>(c.calls) : i >= static_cast<int>(c.calls);
            EXPECT_EQ(c.keys ? KeyExists(HKEY_LOCAL_MACHINE, Below("Many\\") + name, kView32)
                             : ValueExists(HKEY_LOCAL_MACHINE, Below("Many"), name, kView32),
                      stays)
                << name;
        }
    }
}

TEST_F(RegistryRemovalTest, CancelBeforeTheFirstElementDeletesNothing) {
    SetData(HKEY_LOCAL_MACHINE, Below("A"), "V", kView32);
    engine_.expandedRegValueList.Insert((kLm + "\\A\\V").c_str());
    engine_.expandedRegKeyList.Insert((kLm + "\\A").c_str());
    dialog_.state = Cancelled;

    EXPECT_EQ(engine_.CleanupRegValues(), 1223u);
    EXPECT_EQ(engine_.CleanupRegKeys(), 1223u);
    EXPECT_EQ(Trace(), "CleanupRegValues deleted '0' values until uninstallation was cancelled by user\n"
                       "CleanupRegKeys deleted '0' values until uninstallation was cancelled by user\n");
    EXPECT_TRUE(os_.valueCalls.empty());
    EXPECT_TRUE(os_.keyCalls.empty());
    EXPECT_TRUE(ValueExists(HKEY_LOCAL_MACHINE, Below("A"), "V", kView32));
}

TEST_F(RegistryRemovalTest, EmptyListsAreASuccessWithTheCount0) {
    dialog_.state = Cancelled;  // never looked at without an element
    EXPECT_EQ(engine_.CleanupRegValues(), 0u);
    EXPECT_EQ(engine_.CleanupRegKeys(), 0u);
    EXPECT_EQ(Trace(), "CleanupRegValues was successful with '0' deleted values\n"
                       "CleanupRegKeys was successful with '0' deleted values\n");
    EXPECT_EQ(dialog_.stateReads, 0);
}

// ------------------------------------------------------------ entries without a root

// The profile checked the keys when it was built. A key swapped for a
// registry link in the minutes before the deletion, in either view: nothing
// is deleted through the link, and the other vendor's key it shows stays
// whole.
TEST_F(RegistryRemovalTest, AKeySwappedForALinkAfterTheProfileIsNotDeletedThroughIt) {
    const std::string product = Below("Product");
    for (REGSAM view : {kView32, kView64}) {
        SCOPED_TRACE(view == kView32 ? "32-bit view" : "64-bit view");
        os_.ClearDebugOutput();
        const std::string other = Below("Other");
        SetData(HKEY_LOCAL_MACHINE, other, "Setting", view);
        CreateKey(HKEY_LOCAL_MACHINE, other + "\\Sub", view);
        engine_.expandedRegValueList.Insert(("HKEY_LOCAL_MACHINE\\" + product + "\\Setting").c_str());
        engine_.expandedRegKeyList.Insert(("HKEY_LOCAL_MACHINE\\" + product + "\\Sub").c_str());
        engine_.expandedRegKeyList.Insert(("HKEY_LOCAL_MACHINE\\" + product).c_str());
        const std::string in32 = "SOFTWARE\\Wow6432Node\\" + std::string(kBase).substr(9);
        const testing_support::KeyLink link(HKEY_LOCAL_MACHINE, (view == kView32 ? in32 : std::string(kBase)) + "\\Product",
                                            (view == kView32 ? in32 : std::string(kBase)) + "\\Other");
        ASSERT_TRUE(ValueExists(HKEY_LOCAL_MACHINE, product, "Setting", view));  // the link shows the other key

        EXPECT_EQ(engine_.CleanupRegValues(), 0u);
        EXPECT_EQ(engine_.CleanupRegKeys(), 0u);
        EXPECT_TRUE(ValueExists(HKEY_LOCAL_MACHINE, other, "Setting", view));
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, other + "\\Sub", view));
        EXPECT_TRUE(Traced("CleanupRegValues: refusing to delete '")) << Trace();
        EXPECT_TRUE(Traced("CleanupRegKeys: refusing to delete '")) << Trace();
        EXPECT_TRUE(Traced("\\PRODUCT' along it is a registry link")) << Trace();
    }
}

TEST_F(RegistryRemovalTest, EntriesWithoutARootAreRefusedAndCountAsErrors) {
    SetData(HKEY_LOCAL_MACHINE, Below("NoRoot"), "V", kView32);
    SetData(HKEY_LOCAL_MACHINE, Below("NoRoot"), "", kView32);
    SetData(HKEY_CURRENT_USER, Below("NoRoot"), "V", kView32);
    SetData(HKEY_LOCAL_MACHINE, Below("Fine"), "V", kView32);
    const char* noRootValue = "SOFTWARE\\CLEARWAYTESTS\\REGREMOVAL\\NOROOT\\V";
    const char* shortFormDefault = "HKLM\\SOFTWARE\\CLEARWAYTESTS\\REGREMOVAL\\NOROOT\\";
    const char* noRootKey = "SOFTWARE\\CLEARWAYTESTS\\REGREMOVAL\\NOROOT";
    engine_.expandedRegValueList.Insert(noRootValue);
    engine_.expandedRegValueList.Insert(shortFormDefault);
    engine_.expandedRegValueList.Insert((kLm + "\\FINE\\V").c_str());
    engine_.expandedRegKeyList.Insert(noRootKey);

    ASSERT_EQ(engine_.CleanupRegValues(), 0u);
    ASSERT_EQ(engine_.CleanupRegKeys(), 0u);
    EXPECT_EQ(Trace(), "Deleting registry value '" + kLm + "\\FINE' was successful\n"
                       "CleanupRegValues: '" + shortFormDefault + "' names no registry root, not deleted\n"
                       "CleanupRegValues: '" + noRootValue + "' names no registry root, not deleted\n"
                       "CleanupRegValues encountered errors but deleted '3' values\n"
                       "CleanupRegKeys: '" + noRootKey + "' names no registry root, not deleted\n"
                       "CleanupRegKeys encountered errors but deleted '1' values\n");
    // Only the entry with a root reached the registry.
    ASSERT_EQ(os_.valueCalls.size(), 1u);
    EXPECT_EQ(os_.valueCalls[0].root, HKEY_LOCAL_MACHINE);
    EXPECT_TRUE(os_.keyCalls.empty());
    EXPECT_TRUE(ValueExists(HKEY_LOCAL_MACHINE, Below("NoRoot"), "V", kView32));
    EXPECT_TRUE(ValueExists(HKEY_LOCAL_MACHINE, Below("NoRoot"), "", kView32));
    EXPECT_TRUE(ValueExists(HKEY_CURRENT_USER, Below("NoRoot"), "V", kView32));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, Below("NoRoot"), kView32));
    EXPECT_FALSE(ValueExists(HKEY_LOCAL_MACHINE, Below("Fine"), "V", kView32));

    os_.ClearDebugOutput();
    EXPECT_EQ(engine_.DeleteRegKey64(noRootKey), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(Trace(), std::string("DeleteRegKey64: '") + noRootKey + "' names no registry root, not deleted\n");
}

}  // namespace
