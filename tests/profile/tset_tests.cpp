// TSet: order, uniqueness, cursors and ownership, under the code page the
// test program runs with (1252 by default, 932 in the double-byte run).
#include <gtest/gtest.h>
#include <mbctype.h>
#include <mbstring.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "profile/tset.h"
#include "tests/support/test_platform.h"

namespace {

std::vector<std::string> Ascending(TSet& set) {
    std::vector<std::string> out;
    const char* text = nullptr;
    for (DWORD rc = set.GetFirst(text); rc == 0; rc = set.GetNext(text)) out.push_back(text);
    return out;
}

std::vector<std::string> Descending(TSet& set) {
    std::vector<std::string> out;
    const char* text = nullptr;
    for (DWORD rc = set.GetLast(text); rc == 0; rc = set.GetPrevious(text)) out.push_back(text);
    return out;
}

using Texts = std::vector<std::string>;

TEST(TSetTest, EqualTextsInAnyCaseAreOneElementKeepingTheFirstSpelling) {
    TSet set;
    EXPECT_EQ(set.Insert("C:\\A"), 0u);
    EXPECT_EQ(set.Insert("c:\\a"), 0u);
    EXPECT_EQ(set.Count(), 1);
    EXPECT_TRUE(set.Contains("C:\\a"));
    EXPECT_FALSE(set.Contains("C:\\A\\"));
    EXPECT_FALSE(set.Contains(nullptr));
    EXPECT_EQ(Ascending(set), Texts{"C:\\A"});
}

TEST(TSetTest, InsertKeepsItsOwnCopy) {
    TSet set;
    char buffer[] = "HKEY_LOCAL_MACHINE\\SOFTWARE";
    set.Insert(buffer);
    std::memset(buffer, 'x', sizeof buffer - 1);
    EXPECT_TRUE(set.Contains("HKEY_LOCAL_MACHINE\\SOFTWARE"));
    EXPECT_EQ(set.Insert(nullptr), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(set.Count(), 1);
}

TEST(TSetTest, EmptySetTraversalsReturn259AndLeaveTheOutputAlone) {
    TSet set;
    const char* sentinel = "untouched";
    const char* text = sentinel;
    EXPECT_TRUE(set.IsEmpty());
    EXPECT_EQ(set.GetFirst(text), 259u);
    EXPECT_EQ(set.GetLast(text), 259u);
    EXPECT_EQ(set.GetNext(text), 259u);
    EXPECT_EQ(set.GetPrevious(text), 259u);
    EXPECT_EQ(set.RemoveCurrentAndGetNext(text), 259u);
    EXPECT_EQ(text, sentinel);
}

TEST(TSetTest, DescendingWalkYieldsChildrenBeforeTheirFolder) {
    TSet set;
    for (const char* p : {"C:\\AB", "C:\\A\\B", "C:\\A", "C:\\A\\B\\C"}) set.Insert(p);
    EXPECT_EQ(Descending(set), (Texts{"C:\\AB", "C:\\A\\B\\C", "C:\\A\\B", "C:\\A"}));
    EXPECT_EQ(Ascending(set), (Texts{"C:\\A", "C:\\A\\B", "C:\\A\\B\\C", "C:\\AB"}));
}

TEST(TSetTest, OrderFoldsCaseAndComparesBytesUnsigned) {
    TSet set;
    // '_' (0x5F) sorts after letters once they are folded to lower case
    // (0x61...), and a byte above 0x7F sorts after every ASCII byte.
    for (const char* p : {"b", "_", "A", "\xC4", "c"}) set.Insert(p);
    const Texts windows{"_", "A", "b", "c", "\xC4"};
    if (testing_support::RunningOnWine() && !_ismbblead(0xC4)) {
        // Wine difference: its runtime compares single-byte text in the "C"
        // locale as signed chars, so bytes above 0x7F sort first.
        EXPECT_EQ(Ascending(set), (Texts{"\xC4", "_", "A", "b", "c"}));
        EXPECT_NE(Ascending(set), windows);
    } else {
        EXPECT_EQ(Ascending(set), windows);
    }
}

TEST(TSetTest, BothCursorsWalkIndependently) {
    TSet set;
    for (const char* p : {"1", "2", "3"}) set.Insert(p);
    const char* up = nullptr;
    const char* down = nullptr;
    ASSERT_EQ(set.GetFirst(up), 0u);
    ASSERT_EQ(set.GetLast(down), 0u);
    ASSERT_EQ(set.GetNext(up), 0u);
    ASSERT_EQ(set.GetPrevious(down), 0u);
    EXPECT_STREQ(up, "2");
    EXPECT_STREQ(down, "2");
    set.Insert("25");  // insertion moves neither cursor
    ASSERT_EQ(set.GetNext(up), 0u);
    EXPECT_STREQ(up, "25");
    ASSERT_EQ(set.GetPrevious(down), 0u);
    EXPECT_STREQ(down, "1");
    EXPECT_EQ(set.GetPrevious(down), 259u);
    EXPECT_EQ(set.GetPrevious(down), 259u);
}

TEST(TSetTest, RemoveCurrentAndGetNext) {
    TSet set;
    for (const char* p : {"a", "b", "c"}) set.Insert(p);
    const char* text = nullptr;
    ASSERT_EQ(set.GetFirst(text), 0u);
    ASSERT_EQ(set.RemoveCurrentAndGetNext(text), 0u);
    EXPECT_STREQ(text, "b");
    ASSERT_EQ(set.GetNext(text), 0u);
    EXPECT_STREQ(text, "c");
    const char* before = text;
    // Removing the largest element reports the end.
    EXPECT_EQ(set.RemoveCurrentAndGetNext(text), 259u);
    EXPECT_EQ(text, before);
    EXPECT_EQ(Ascending(set), Texts{"b"});
}

TEST(TSetTest, RemovingUnderTheDescendingCursorEndsThatWalk) {
    TSet set;
    for (const char* p : {"a", "b"}) set.Insert(p);
    const char* up = nullptr;
    const char* down = nullptr;
    set.GetLast(down);
    set.GetFirst(up);
    set.GetNext(up);  // both on "b"
    EXPECT_EQ(set.RemoveCurrentAndGetNext(up), 259u);
    EXPECT_EQ(set.GetPrevious(down), 259u);
    EXPECT_EQ(Descending(set), Texts{"a"});
}

TEST(TSetTest, AddAllCopiesAndRestartsBothCursors) {
    TSet a;
    TSet b;
    a.Insert("X");
    b.Insert("x");
    b.Insert("Y");
    const char* text = nullptr;
    a.GetFirst(text);
    a.GetNext(text);  // ascending walk has ended
    EXPECT_EQ(&a.AddAll(b), &a);
    EXPECT_EQ(a.Count(), 2);
    EXPECT_EQ(Ascending(a), (Texts{"X", "Y"}));
    EXPECT_EQ(b.Count(), 2);  // the source is unchanged

    // Both cursors were put back on the first and last element: a cursor
    // step continues from there.
    a.AddAll(b);
    ASSERT_EQ(a.GetNext(text), 0u);
    EXPECT_STREQ(text, "Y");
    ASSERT_EQ(a.GetPrevious(text), 0u);
    EXPECT_STREQ(text, "X");

    EXPECT_EQ(&a.AddAll(a), &a);
    EXPECT_EQ(Ascending(a), (Texts{"X", "Y"}));

    // The copies belong to the receiving set.
    {
        TSet temporary;
        temporary.Insert("Z");
        a.AddAll(temporary);
    }
    EXPECT_TRUE(a.Contains("z"));
}

TEST(TSetTest, LargeSetStaysOrderedAndUnique) {
    TSet set;
    for (int i = 0; i < 5000; ++i) {
        char text[32];
        std::snprintf(text, sizeof text, "C:\\DIR%d\\FILE%d", i % 97, i);
        ASSERT_EQ(set.Insert(text), 0u);
        for (char* p = text; *p; ++p) *p = static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
        ASSERT_EQ(set.Insert(text), 0u);
    }
    EXPECT_EQ(set.Count(), 5000);
    Texts up = Ascending(set);
    Texts down = Descending(set);
    ASSERT_EQ(up.size(), 5000u);
    for (size_t i = 1; i < up.size(); ++i) {
        ASSERT_LT(_stricmp(up[i - 1].c_str(), up[i].c_str()), 0) << up[i - 1] << " / " << up[i];
    }
    EXPECT_EQ(Texts(up.rbegin(), up.rend()), down);
}

// Runs in both code page runs: in a double-byte code page a lead byte and its
// trail byte are one character, so the trail byte is never folded.
TEST(TSetCodePage, LeadAndTrailBytesCompareAsOneCharacter) {
    const char* expected = std::getenv("CLEARWAY_EXPECT_MBCP");
    const int codePage = _getmbcp();
    if (expected) {
        ASSERT_EQ(codePage, std::atoi(expected)) << "the run did not get its code page";
    }

    TSet set;
    set.Insert("\x83\x41");  // 932: katakana A; 1252: florin sign, then 'A'
    set.Insert("\x83\x61");  // 932: katakana TI; 1252: florin sign, then 'a'
    set.Insert("\x83\x41\\file");
    set.Insert("\x83\x61\\FILE");
    if (_ismbblead(0x83)) {
        EXPECT_EQ(set.Count(), 4);
        EXPECT_EQ(Descending(set),
                  (Texts{"\x83\x61\\FILE", "\x83\x61", "\x83\x41\\file", "\x83\x41"}));
    } else {
        EXPECT_EQ(codePage, 1252);
        EXPECT_EQ(set.Count(), 2);
        EXPECT_EQ(Descending(set), (Texts{"\x83\x41\\file", "\x83\x41"}));
    }
}

// The set's order is the runtime's _mbsicmp, whatever mix of ASCII and
// double-byte characters the texts hold (in 932 "\x81\x5C" is one character
// whose trail byte is a backslash; "\xC4" is a single-byte katakana).
TEST(TSetCodePage, OrderAgreesWithTheRuntimeComparison) {
    const char* const alphabet[] = {"a", "A", "z", "\\", "_", "~", "\xC4", "\x81\x5C", "\x83\x41", "\x83\x61", "\xE4\x41"};
    unsigned seed = 12345;
    TSet set;
    std::vector<std::string> inserted;
    for (int i = 0; i < 3000; ++i) {
        std::string text;
        seed = seed * 1103515245u + 12345u;
        int length = 1 + static_cast<int>((seed >> 16) % 8);
        for (int k = 0; k < length; ++k) {
            seed = seed * 1103515245u + 12345u;
            text += alphabet[(seed >> 16) % (sizeof alphabet / sizeof alphabet[0])];
        }
        ASSERT_EQ(set.Insert(text.c_str()), 0u);
        inserted.push_back(text);
    }
    for (const std::string& text : inserted) ASSERT_TRUE(set.Contains(text.c_str()));
    Texts up = Ascending(set);
    for (size_t i = 1; i < up.size(); ++i) {
        const unsigned char* a = reinterpret_cast<const unsigned char*>(up[i - 1].c_str());
        const unsigned char* b = reinterpret_cast<const unsigned char*>(up[i].c_str());
        ASSERT_LT(_mbsicmp(a, b), 0) << i;
    }
}

}  // namespace
