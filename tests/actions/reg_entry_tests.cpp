// Registry entry splitting and root names.
#include <gtest/gtest.h>

#include <string>

#include "actions/reg_entry.h"
#include "tests/support/test_platform.h"
#include "trace/trace.h"

namespace {

struct Split {
    DWORD rc;
    RegEntryParts parts;
};

Split Of(const char* text) {
    Split s;
    s.rc = SplitRegEntry(text, s.parts);
    return s;
}

TEST(SplitRegEntryTest, RootPathAndLastComponent) {
    Split s = Of("HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmoran\\Client");
    ASSERT_EQ(s.rc, 0u);
    EXPECT_EQ(s.parts.root, HKEY_LOCAL_MACHINE);
    EXPECT_EQ(s.parts.rootText, std::string("HKEY_LOCAL_MACHINE"));
    EXPECT_EQ(s.parts.path, std::string("SOFTWARE\\VELMORAN"));
    EXPECT_EQ(s.parts.last, std::string("CLIENT"));
}

TEST(SplitRegEntryTest, EveryRootPrefixAndNoShortForms) {
    const struct {
        const char* text;
        HKEY root;
    } roots[] = {{"HKEY_CLASSES_ROOT\\A", HKEY_CLASSES_ROOT},       {"HKEY_CURRENT_CONFIG\\A", HKEY_CURRENT_CONFIG},
                 {"hkey_current_user\\A", HKEY_CURRENT_USER},        {"HKEY_DYN_DATA\\A", HKEY_DYN_DATA},
                 {"HKEY_PERFORMANCE_DATA\\A", HKEY_PERFORMANCE_DATA}, {"HKEY_USERS\\A", HKEY_USERS}};
    for (const auto& r : roots) {
        Split s = Of(r.text);
        EXPECT_EQ(s.parts.root, r.root) << r.text;
        EXPECT_EQ(s.parts.path, std::string("A")) << r.text;  // no backslash left: all of it is the path
        EXPECT_FALSE(s.parts.last) << r.text;
    }
    Split shortForm = Of("HKLM\\SOFTWARE\\X");
    EXPECT_EQ(shortForm.parts.root, nullptr);
    EXPECT_FALSE(shortForm.parts.rootText);
    EXPECT_EQ(shortForm.parts.path, std::string("HKLM\\SOFTWARE"));
    EXPECT_EQ(shortForm.parts.last, std::string("X"));
}

TEST(SplitRegEntryTest, NormalisesFirstAndMarksMissingParts) {
    Split s = Of("\"hkey_local_machine//software\\\\x\\\"");
    EXPECT_EQ(s.parts.root, HKEY_LOCAL_MACHINE);
    EXPECT_EQ(s.parts.path, std::string("SOFTWARE"));
    EXPECT_EQ(s.parts.last, std::string("X"));

    Split rootOnly = Of("HKEY_USERS\\");  // the trailing backslash goes with normalisation
    EXPECT_EQ(rootOnly.parts.root, nullptr);
    EXPECT_EQ(rootOnly.parts.path, std::string("HKEY_USERS"));

    RegEntryParts untouched;
    untouched.path = std::string("sentinel");
    EXPECT_EQ(SplitRegEntry("", untouched), 13u);
    EXPECT_EQ(SplitRegEntry(nullptr, untouched), 13u);
    EXPECT_EQ(untouched.path, std::string("sentinel"));
}

// An element as the deletions read it: as a key, its parent and name; as a
// value, the key holding it and its name; a text ending in a backslash is
// the unnamed value of the whole key, which keeps its backslash.
TEST(RegEntryTest, AsAKeyAndAsAValue) {
    const struct {
        const char* text;
        const char *key, *parent, *name, *valueKey, *valueName;
    } rows[] = {
        {"HKEY_LOCAL_MACHINE\\SOFTWARE\\VELMORAN\\CLIENT", "SOFTWARE\\VELMORAN\\CLIENT", "SOFTWARE\\VELMORAN", "CLIENT",
         "SOFTWARE\\VELMORAN", "CLIENT"},
        {"HKEY_CURRENT_USER\\VELMORAN", "VELMORAN", "", "VELMORAN", "VELMORAN", ""},
        {"HKEY_LOCAL_MACHINE\\SOFTWARE\\VELMORAN\\A---B", "SOFTWARE\\VELMORAN\\A---B", "SOFTWARE\\VELMORAN", "A---B",
         "SOFTWARE\\VELMORAN", "A\\B"},
        {"HKEY_LOCAL_MACHINE\\SOFTWARE\\VELMORAN\\", "SOFTWARE\\VELMORAN", "SOFTWARE", "VELMORAN",
         "SOFTWARE\\VELMORAN\\", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        const RegEntry entry(row.text);
        EXPECT_NE(entry.root, nullptr);
        EXPECT_EQ(entry.key, row.key);
        EXPECT_EQ(entry.parent, row.parent);
        EXPECT_EQ(entry.name, row.name);
        EXPECT_EQ(entry.valueKey, row.valueKey);
        EXPECT_EQ(entry.valueName, row.valueName);
    }
    const RegEntry noRoot("HKLM\\SOFTWARE\\X");
    EXPECT_EQ(noRoot.root, nullptr);
    EXPECT_TRUE(noRoot.key.empty());
}

TEST(ParseRegKeyPrefixTest, FourLongNamesAndAWarningForOthers) {
    testing_support::TestPlatform os;
    TraceSetPlatform(&os);
    char buffer[64] = {};
    ParseRegKeyPrefix(HKEY_USERS, buffer);
    EXPECT_STREQ(buffer, "HKEY_USERS");
    char empty[64] = {};
    ParseRegKeyPrefix(HKEY_CURRENT_CONFIG, empty);
    ParseRegKeyPrefix(nullptr, empty);
    EXPECT_STREQ(empty, "");
    EXPECT_EQ(os.DebugOutput(), std::string("Warning: ParseRegKeyPrefix received invalid hrootKey parameter\n") +
                                    "Warning: ParseRegKeyPrefix received invalid hrootKey parameter\n");
    TraceSetPlatform(nullptr);
}

}  // namespace
