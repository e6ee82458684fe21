// The gadget plug-in folder lookup, against the current user's registry.
#include <gtest/gtest.h>

#include <string>

#include "detect/google_plugin.h"
#include "tests/support/test_platform.h"

namespace {

const char kKey[] = "SOFTWARE\\Google\\Google Desktop";

TEST(GooglePluginDirTest, ReadsTheFolderFromThe64BitViewAndLeavesTextAloneWithoutIt) {
    testing_support::TestPlatform os;
    ::RegDeleteKeyExA(HKEY_CURRENT_USER, kKey, KEY_WOW64_64KEY, 0);
    std::string folder = "unchanged";
    EXPECT_FALSE(get_google_plugin_dir(os, folder));
    EXPECT_EQ(folder, "unchanged");

    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr,
                                &key, nullptr),
              ERROR_SUCCESS);
    EXPECT_FALSE(get_google_plugin_dir(os, folder));  // no value: traced, text kept
    EXPECT_EQ(folder, "unchanged");
    const char value[] = "C:\\Gadgets\\Plugins";
    ::RegSetValueExA(key, "plugin_dir", 0, REG_SZ, reinterpret_cast<const BYTE*>(value), sizeof value);
    EXPECT_FALSE(get_google_plugin_dir(os, folder));
    EXPECT_EQ(folder, value);

    // A value as long as the buffer, stored without a terminator, still
    // ends inside it.
    std::string longValue(300, 'p');
    ::RegSetValueExA(key, "plugin_dir", 0, REG_BINARY, reinterpret_cast<const BYTE*>(longValue.data()), 260);
    folder.clear();
    get_google_plugin_dir(os, folder);
    EXPECT_EQ(folder, std::string(260, 'p'));
    ::RegCloseKey(key);
    ::RegDeleteKeyExA(HKEY_CURRENT_USER, kKey, KEY_WOW64_64KEY, 0);
}

}  // namespace
