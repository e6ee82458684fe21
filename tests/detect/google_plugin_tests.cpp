// The gadget plug-in folder lookup, against the current user's registry.
#include <gtest/gtest.h>

#include <string>

#include "detect/google_plugin.h"
#include "tests/support/test_key.h"
#include "tests/support/test_platform.h"

namespace {

const char kKey[] = "SOFTWARE\\Google\\Google Desktop";

TEST(GooglePluginDirTest, ReadsTheFolderFromThe64BitViewAndLeavesTextAloneWithoutIt) {
    testing_support::TestPlatform os;
    const testing_support::TestKey key(HKEY_CURRENT_USER, kKey);
    std::string folder = "unchanged";
    EXPECT_FALSE(get_google_plugin_dir(os, folder));
    EXPECT_EQ(folder, "unchanged");

    ASSERT_TRUE(key.Create("", KEY_WOW64_64KEY));
    EXPECT_FALSE(get_google_plugin_dir(os, folder));  // no value: traced, text kept
    EXPECT_EQ(folder, "unchanged");
    const char value[] = "C:\\Gadgets\\Plugins";
    key.SetText("", "plugin_dir", value, KEY_WOW64_64KEY);
    EXPECT_FALSE(get_google_plugin_dir(os, folder));
    EXPECT_EQ(folder, value);

    // A value as long as the buffer, stored without a terminator, still
    // ends inside it.
    std::string longValue(300, 'p');
    key.Set("", "plugin_dir", REG_BINARY, longValue.data(), 260, KEY_WOW64_64KEY);
    folder.clear();
    get_google_plugin_dir(os, folder);
    EXPECT_EQ(folder, std::string(260, 'p'));
}

}  // namespace
