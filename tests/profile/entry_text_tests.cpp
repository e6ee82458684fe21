// Entry text operations: normalisation, path joining, field splitting and
// wildcard matching, under the code page the program runs with (single-byte
// by default, 932 in the double-byte run).
#include <gtest/gtest.h>
#include <mbctype.h>
#include <mbstring.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "profile/entry_text.h"
#include "tests/support/matchers.h"

namespace {

std::string Normalized(const std::string& text) {
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back('\0');
    NormalizeEntry(buffer.data());
    return buffer.data();
}

std::string Joined(std::initializer_list<const char*> parts) {
    std::string out = "left over from before";
    JoinPath(out, parts);
    return out;
}

bool DoubleByteCodePage() { return _ismbblead(0x81) != 0; }

// ---------------------------------------------------------------------------
// The program's own view of characters, for the invariants below: a lead byte
// and the next byte form one character unless the next byte is the NUL.
std::vector<unsigned> Chars(const std::string& text) {
    std::vector<unsigned> out;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text.c_str());
    while (*p) {
        if (*p >= 0x80 && _ismbblead(*p) && p[1]) {
            out.push_back(static_cast<unsigned>(p[0]) << 8 | p[1]);
            p += 2;
        } else {
            out.push_back(*p++);
        }
    }
    return out;
}

std::string FromChars(const std::vector<unsigned>& chars) {
    std::string out;
    for (unsigned c : chars) {
        if (c > 0xFF) out += static_cast<char>(c >> 8);
        out += static_cast<char>(c & 0xFF);
    }
    return out;
}

// _mbsupr of a copy, with a lead byte at the very end kept away from it.
std::string Upper(std::string text) {
    char kept = 0;
    std::vector<unsigned> chars = Chars(text);
    if (!chars.empty() && chars.back() >= 0x80 && chars.back() <= 0xFF && _ismbblead(chars.back())) {
        kept = text.back();
        text.pop_back();
    }
    std::vector<unsigned char> buffer(text.begin(), text.end());
    buffer.push_back(0);
    _mbsupr(buffer.data());
    std::string out(reinterpret_cast<const char*>(buffer.data()));
    if (kept) out += kept;
    return out;
}

// Bytes in hex, for failure messages about generated texts.
std::string Hex(const std::string& text) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        out += digits[c >> 4];
        out += digits[c & 15];
        out += ' ';
    }
    return out;
}

bool IsSeparatorChar(unsigned c) { return c == '\\' || c == '/'; }

// A full matcher with backtracking over characters: the set of matches the
// single-pass matcher may report.
bool FullMatch(const std::vector<unsigned>& text, const std::vector<unsigned>& pattern) {
    size_t t = 0, p = 0, starP = SIZE_MAX, starT = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starT = t;
        } else if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == text[t])) {
            ++t;
            ++p;
        } else if (starP != SIZE_MAX) {
            p = starP + 1;
            t = ++starT;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

// ---------------------------------------------------------------------------
TEST(EntryTextNormalize, DocumentedExampleLosesQuotesSeparatorRunsAndCase) {
    EXPECT_EQ(Normalized("\"c:/Program Files//Velmoran/\""), "C:\\PROGRAM FILES\\VELMORAN");
    EXPECT_EQ(Normalized("\"{0a1b2c3d-0000-0000-0000-00000000abcd}\""), "{0A1B2C3D-0000-0000-0000-00000000ABCD}");
    EXPECT_EQ(Normalized("hkey_local_machine\\software\\velmoran\\client"),
              "HKEY_LOCAL_MACHINE\\SOFTWARE\\VELMORAN\\CLIENT");
}

TEST(EntryTextNormalize, QuotesGoOnlyAtTheEnds) {
    EXPECT_EQ(Normalized("\"\"\"a\"\""), "A");
    EXPECT_EQ(Normalized("a\"b"), "A\"B");
    EXPECT_EQ(Normalized("\"a\",\"b\""), "A\",\"B");
    EXPECT_EQ(Normalized("\"\"\"\""), "");
    EXPECT_EQ(Normalized("\""), "");
    // The closing quotes go before the trailing separator is looked at, and
    // quotes inside the text end no separator run.
    EXPECT_EQ(Normalized("c:\\a\\\""), "C:\\A");
    EXPECT_EQ(Normalized("a\\\"\\"), "A\\\"");
}

TEST(EntryTextNormalize, OneTrailingSeparatorGoesAndEveryRunBecomesOneBackslash) {
    EXPECT_EQ(Normalized("C:\\"), "C:");
    EXPECT_EQ(Normalized("c:/a/"), "C:\\A");
    // Only one trailing character is removed; the rest of that run stays as
    // one backslash.
    EXPECT_EQ(Normalized("c:\\a\\\\"), "C:\\A\\");
    EXPECT_EQ(Normalized("c:\\a/\\/"), "C:\\A\\");
    EXPECT_EQ(Normalized("\\\\server\\share"), "\\SERVER\\SHARE");
    EXPECT_EQ(Normalized("a\\/\\/b//c"), "A\\B\\C");
    EXPECT_EQ(Normalized("/"), "");
    EXPECT_EQ(Normalized("//"), "\\");
}

TEST(EntryTextNormalize, EmptyAndNullTextsAndNoWriteBeyondTheResult) {
    EXPECT_EQ(Normalized(""), "");
    NormalizeEntry(nullptr);  // no crash, nothing to do

    // The bytes after the terminating NUL are not the text's: a lower-case
    // tail there must survive.
    char buffer[] = "\"x//y\"\0tail";
    NormalizeEntry(buffer);
    EXPECT_STREQ(buffer, "X\\Y");
    EXPECT_EQ(std::memcmp(buffer + 7, "tail", 5), 0);
}

// ---------------------------------------------------------------------------
TEST(EntryTextJoin, OneBackslashBetweenNonEmptyParts) {
    EXPECT_EQ(Joined({"C:\\Program Files", "Velmoran", "Client"}), "C:\\Program Files\\Velmoran\\Client");
    EXPECT_EQ(Joined({nullptr, "", "a", nullptr, "", "b", ""}), "a\\b");
    EXPECT_EQ(Joined({"a"}), "a");
    EXPECT_EQ(Joined({}), "");
    EXPECT_EQ(Joined({nullptr, ""}), "");
}

TEST(EntryTextJoin, ExistingSeparatorsAreNotDoubledButKept) {
    EXPECT_EQ(Joined({"C:\\", "Windows"}), "C:\\Windows");
    EXPECT_EQ(Joined({"C:/", "Windows"}), "C:/Windows");
    EXPECT_EQ(Joined({"C:", "\\Windows"}), "C:\\Windows");
    EXPECT_EQ(Joined({"C:", "/Windows"}), "C:/Windows");
    // Both sides already have one: nothing is added, nothing is removed.
    EXPECT_EQ(Joined({"C:\\", "\\Windows"}), "C:\\\\Windows");
    EXPECT_EQ(Joined({"\\", "a", "\\"}), "\\a\\");
}

// ---------------------------------------------------------------------------
TEST(EntryTextSplit, FieldsEndAtQuoteCommaQuote) {
    char text[] = "a b\",\"c,d\",\"e\"";
    char* first = nullptr;
    char* second = nullptr;
    char* third = nullptr;
    SplitQuotedFields(text, {&first, &second, &third});
    EXPECT_STREQ(first, "a b");
    EXPECT_STREQ(second, "c,d");
    EXPECT_STREQ(third, "e");
    EXPECT_EQ(first, text);
    EXPECT_EQ(second, text + 6);
}

TEST(EntryTextSplit, QuotesAroundTheWholeTextAreSkipped) {
    char text[] = "\"\"one\",\"two\"";
    char* first = nullptr;
    char* second = nullptr;
    SplitQuotedFields(text, {&first, &second});
    EXPECT_STREQ(first, "one");
    EXPECT_STREQ(second, "two");
    EXPECT_EQ(first, text + 2);
}

TEST(EntryTextSplit, MissingFieldsStayAsTheyWereAndExtraTextIsNotAField) {
    char untouched[] = "untouched";
    char text[] = "only";
    char* first = untouched;
    char* second = untouched;
    SplitQuotedFields(text, {&first, &second});
    EXPECT_STREQ(first, "only");
    EXPECT_EQ(second, untouched);

    char more[] = "a\",\"b\",\"c";
    first = second = untouched;
    SplitQuotedFields(more, {&first, &second});
    EXPECT_STREQ(first, "a");
    EXPECT_STREQ(second, "b");
    EXPECT_STREQ(more + 8, "c");

    char empty[] = "a\",\"\",\"b";
    char* third = untouched;
    first = second = untouched;
    SplitQuotedFields(empty, {&first, &second, &third});
    EXPECT_STREQ(first, "a");
    EXPECT_STREQ(second, "");
    EXPECT_STREQ(third, "b");
}

TEST(EntryTextSplit, NullTextAndNullOutputs) {
    char untouched[] = "untouched";
    char* first = untouched;
    SplitQuotedFields(nullptr, {&first});
    EXPECT_EQ(first, untouched);

    // A null output still takes its field.
    char text[] = "a\",\"b";
    char* second = nullptr;
    SplitQuotedFields(text, {nullptr, &second});
    EXPECT_STREQ(second, "b");
}

// ---------------------------------------------------------------------------
TEST(EntryTextWildcard, HasWildcardFindsAsteriskOrQuestionMark) {
    EXPECT_TRUE(HasWildcard("VELSERVICE*"));
    EXPECT_TRUE(HasWildcard("?"));
    EXPECT_TRUE(HasWildcard("C:\\A?B\\C"));
    EXPECT_FALSE(HasWildcard("C:\\Program Files\\Velmoran"));
    EXPECT_FALSE(HasWildcard(""));
    EXPECT_FALSE(HasWildcard(nullptr));
}

TEST(EntryTextWildcard, DocumentedExamples) {
    EXPECT_TRUE(WildcardMatch("VELTRAY.EXE", "veltray.*"));
    EXPECT_FALSE(WildcardMatch("AAB", "*AB"));
    EXPECT_FALSE(WildcardMatch("ABC", "AB"));
    EXPECT_TRUE(WildcardMatch("", "*"));
}

TEST(EntryTextWildcard, TextEndingBeforeThePatternMatchesOnlyWhenAsterisksRemain) {
    EXPECT_FALSE(WildcardMatch("AB", "ABC"));
    EXPECT_FALSE(WildcardMatch("V", "VELSERVICE*"));
    EXPECT_FALSE(WildcardMatch("AB", "AB?"));
    EXPECT_FALSE(WildcardMatch("", "?"));
    EXPECT_FALSE(WildcardMatch("", "A"));
    EXPECT_FALSE(WildcardMatch("AB", "AB*C"));
    EXPECT_TRUE(WildcardMatch("VELSERVICE", "VELSERVICE*"));
    EXPECT_TRUE(WildcardMatch("AB", "AB***"));
    EXPECT_TRUE(WildcardMatch("", "**"));
    EXPECT_TRUE(WildcardMatch("", ""));
    EXPECT_FALSE(WildcardMatch("A", ""));
}

TEST(EntryTextWildcard, QuestionMarksAsterisksAndLiteralSegments) {
    EXPECT_TRUE(WildcardMatch("VELSERVICEHOST", "VELSERVICE*"));
    EXPECT_TRUE(WildcardMatch("VELTRAY.EXE", "VEL?RAY.E?E"));
    EXPECT_FALSE(WildcardMatch("VELTRAY.EXE", "VEL?RAY.E?"));
    EXPECT_TRUE(WildcardMatch("XXABYY", "*AB*"));
    EXPECT_TRUE(WildcardMatch("C:\\PROGRAM FILES\\VELMORAN\\CLIENT", "C:\\*\\VELMORAN\\*"));
    EXPECT_TRUE(WildcardMatch("XABXABC", "*ABC"));
    EXPECT_FALSE(WildcardMatch("ABC", "*B"));
    EXPECT_FALSE(WildcardMatch("ABD", "A*C"));
    EXPECT_TRUE(WildcardMatch("A*B", "A*B"));
}

TEST(EntryTextWildcard, NoBacktracking) {
    // A segment is taken at its first occurrence: "A" at 1, then "?2"
    // fails against "A22" although "A22" at 3 would have matched.
    EXPECT_FALSE(WildcardMatch("XA1A22", "*A?2"));
    // After an asterisk an equal character ends the run at once.
    EXPECT_FALSE(WildcardMatch("AAB", "*AB"));
    EXPECT_FALSE(WildcardMatch("ABAC", "*AC"));
    // A question mark right after an asterisk ends the run.
    EXPECT_FALSE(WildcardMatch("ABC", "*?"));
}

TEST(EntryTextWildcard, CaseInsensitiveAndNullTextsAreEmpty) {
    EXPECT_TRUE(WildcardMatch("velservice", "VELSERVICE"));
    EXPECT_TRUE(WildcardMatch("VelTray.Exe", "vELtRAY.eXE"));
    EXPECT_TRUE(WildcardMatch("mixed", "M?X*"));
    EXPECT_TRUE(WildcardMatch(nullptr, "*"));
    EXPECT_TRUE(WildcardMatch(nullptr, nullptr));
    EXPECT_TRUE(WildcardMatch("", nullptr));
    EXPECT_FALSE(WildcardMatch("A", nullptr));
    EXPECT_FALSE(WildcardMatch(nullptr, "A"));
}

// ---------------------------------------------------------------------------
// In 932, 0x81 and 0x83 are lead bytes: "\x81\x5C" is one character whose
// trail byte is a backslash, "\x83\x61" (katakana) one whose trail byte is a
// lower-case a. In a single-byte code page they are two characters each.
TEST(EntryTextCodePage, TheRunHasTheCodePageItAskedFor) {
    const char* locale = std::getenv("LC_ALL");
    if (locale && std::strncmp(locale, "ja_JP", 5) == 0) {
        EXPECT_EQ(_getmbcp(), 932);
        EXPECT_TRUE(DoubleByteCodePage());
    } else if (!DoubleByteCodePage()) {
        EXPECT_FALSE(_ismbblead(0x83));
    }
}

TEST(EntryTextCodePage, NormalizeKeepsTrailBytesThatLookLikeSeparators) {
    if (DoubleByteCodePage()) {
        EXPECT_EQ(Normalized("C:\\\x81\x5C"), "C:\\\x81\x5C");
        EXPECT_EQ(Normalized("\"c:\\\x81\x5C\""), "C:\\\x81\x5C");
        EXPECT_EQ(Normalized("\x81\x5C\\\\x"), "\x81\x5C\\X");
        EXPECT_EQ(Normalized("\x81\x5C\\"), "\x81\x5C");
        EXPECT_EQ(Normalized("a\x81\x5C/b"), "A\x81\x5C\\B");
    } else {
        EXPECT_EQ(Normalized("C:\\\x81\x5C"), "C:\\\x81");
        EXPECT_EQ(Normalized("\"c:\\\x81\x5C\""), "C:\\\x81");
        EXPECT_EQ(Normalized("\x81\x5C\\\\x"), "\x81\\X");
        EXPECT_EQ(Normalized("\x81\x5C\\"), "\x81\\");
        EXPECT_EQ(Normalized("a\x81\x5C/b"), "A\x81\\B");
    }
}

TEST(EntryTextCodePage, UpperCaseLeavesTrailBytesAlone) {
    std::string result = Normalized("\x83\x61z");
    if (DoubleByteCodePage()) {
        EXPECT_EQ(result, "\x83\x61Z");
    } else {
        ASSERT_EQ(result.size(), 3u);
        EXPECT_EQ(result.substr(1), "AZ");
    }
}

// The shared upper-casing: ASCII folds a-z only, a double-byte character's
// trail byte is left alone, and a lead byte at the end never reaches past it.
TEST(EntryTextCodePage, UpperCaseTextAsTheRuntimeDoes) {
    char ascii[] = "c:\\program files\\vel_moran-1.dll";
    UpperCaseText(ascii);
    EXPECT_STREQ(ascii, "C:\\PROGRAM FILES\\VEL_MORAN-1.DLL");
    char mixed[] = "a\x83\x61" "b";
    UpperCaseText(mixed);
    EXPECT_STREQ(mixed, DoubleByteCodePage() ? "A\x83\x61" "B" : "A\x83" "AB");
    char dangling[] = "b\x81\0yy";
    UpperCaseText(dangling);
    EXPECT_STREQ(dangling, "B\x81");
    EXPECT_EQ(std::memcmp(dangling + 3, "yy", 3), 0);
    UpperCaseText(nullptr);
}

TEST(EntryTextCodePage, LeadByteBeforeTheEndStaysInsideTheText) {
    // "a\x81" ends in a lead byte without trail byte; the bytes after the
    // NUL must be neither read as its trail byte nor upper-cased.
    char buffer[] = "a\x81\0zz";
    NormalizeEntry(buffer);
    EXPECT_STREQ(buffer, "A\x81");
    EXPECT_EQ(std::memcmp(buffer + 3, "zz", 3), 0);

    char trailing[] = "a\x81\\\0zz";
    NormalizeEntry(trailing);
    EXPECT_EQ(std::memcmp(trailing + 4, "zz", 3), 0);
    if (DoubleByteCodePage()) {
        EXPECT_STREQ(trailing, "A\x81\\");
    } else {
        EXPECT_STREQ(trailing, "A\x81");
    }

    EXPECT_TRUE(WildcardMatch("a\x81", "A?"));
    EXPECT_TRUE(WildcardMatch("a\x81", "A\x81"));
    EXPECT_FALSE(WildcardMatch("a\x81", "A??"));
    EXPECT_FALSE(HasWildcard("a\x81"));
}

TEST(EntryTextCodePage, JoinSeesTrailBytesAsPartOfTheirCharacter) {
    if (DoubleByteCodePage()) {
        EXPECT_EQ(Joined({"C:\\\x81\x5C", "x"}), "C:\\\x81\x5C\\x");
    } else {
        EXPECT_EQ(Joined({"C:\\\x81\x5C", "x"}), "C:\\\x81\x5Cx");
    }
    EXPECT_EQ(Joined({"\x81\x5C", "\\x"}), "\x81\x5C\\x");
}

TEST(EntryTextCodePage, WildcardsStepOverWholeCharacters) {
    if (DoubleByteCodePage()) {
        EXPECT_TRUE(WildcardMatch("\x83\x61", "?"));
        EXPECT_FALSE(WildcardMatch("\x83\x61", "??"));
        EXPECT_TRUE(WildcardMatch("\x83\x61\x83\x41", "?\x83\x41"));
        // Different characters that differ only in a trail byte's case.
        EXPECT_FALSE(WildcardMatch("\x83\x61", "\x83\x41"));
        // A segment is never found at a trail byte.
        EXPECT_FALSE(WildcardMatch("\x81\x5C" "ABC", "*\\ABC"));
        EXPECT_TRUE(WildcardMatch("X\\\x81\x5C" "ABC", "*\\\x81\x5C" "ABC"));
        // "\x81*" is one character, not a wildcard.
        EXPECT_FALSE(HasWildcard("X\x81*"));
        EXPECT_FALSE(WildcardMatch("XYZ", "X\x81*"));
        EXPECT_TRUE(WildcardMatch("X\x81*", "X\x81*"));
    } else {
        EXPECT_FALSE(WildcardMatch("\x83\x61", "?"));
        EXPECT_TRUE(WildcardMatch("\x83\x61", "??"));
        EXPECT_TRUE(WildcardMatch("\x83\x61\x83\x41", "??\x83\x41"));
        EXPECT_TRUE(WildcardMatch("\x83\x61", "\x83\x41"));
        EXPECT_TRUE(WildcardMatch("\x81\x5C" "ABC", "*\\ABC"));
        EXPECT_TRUE(WildcardMatch("X\\\x81\x5C" "ABC", "*\\\x81\x5C" "ABC"));
        EXPECT_TRUE(HasWildcard("X\x81*"));
        EXPECT_TRUE(WildcardMatch("X\x81YZ", "X\x81*"));
        EXPECT_FALSE(WildcardMatch("XYZ", "X\x81*"));
    }
}

TEST(EntryTextCodePage, SplitFindsSeparatorsAfterDoubleByteCharacters) {
    char text[] = "\x81\x5C\",\"\x83\x61\"";
    char* first = nullptr;
    char* second = nullptr;
    SplitQuotedFields(text, {&first, &second});
    EXPECT_STREQ(first, "\x81\x5C");
    EXPECT_STREQ(second, "\x83\x61");

    // A lead byte takes the byte after it, even a quote.
    char paired[] = "a\x81\",\"b";
    first = second = nullptr;
    SplitQuotedFields(paired, {&first, &second});
    if (DoubleByteCodePage()) {
        EXPECT_STREQ(first, "a\x81\",\"b");
        EXPECT_EQ(second, nullptr);
    } else {
        EXPECT_STREQ(first, "a\x81");
        EXPECT_STREQ(second, "b");
    }
}

// ---------------------------------------------------------------------------
// Generated inputs through every operation. Texts are built from random
// bytes and the characters the operations care about; most are short, one in
// thirty-two runs up to 2000 bytes.
class Generator {
public:
    explicit Generator(std::uint64_t seed) : state_(seed) {}
    std::uint32_t Next() {
        state_ += 0x9E3779B97F4A7C15ull;
        std::uint64_t z = state_;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return static_cast<std::uint32_t>((z ^ (z >> 31)) >> 16);
    }
    std::uint32_t Below(std::uint32_t n) { return Next() % n; }

    std::string Text(size_t length) {
        static const char* const pieces[] = {"\"", ",", "\",\"", "\\", "/", "\\\\", "*", "?", "a", "Z", "\x81\x5C",
                                             "\x83\x61", "\x81"};
        std::string out;
        while (out.size() < length) {
            if (Below(2) == 0) {
                out += static_cast<char>(1 + Below(255));
            } else {
                out += pieces[Below(sizeof pieces / sizeof pieces[0])];
            }
        }
        out.resize(length);
        return out;
    }

    size_t Length() { return Below(32) == 0 ? Below(2001) : Below(65); }

    // A pattern made from the text's characters, so that a good share of
    // them match: characters kept, case-flipped, replaced by '?', runs
    // replaced by '*', asterisks inserted, stray characters added.
    std::string PatternFor(const std::string& text) {
        std::vector<unsigned> chars = Chars(text);
        std::vector<unsigned> out;
        for (size_t i = 0; i < chars.size(); ++i) {
            unsigned c = chars[i];
            switch (Below(24)) {
                case 0: out.push_back('?'); break;
                case 1: out.push_back('*'); i += Below(4); break;
                case 2: out.push_back('*'); out.push_back(c); break;
                case 3: out.push_back(c >= 'a' && c <= 'z' ? c - 32 : c >= 'A' && c <= 'Z' ? c + 32 : c); break;
                case 4: out.push_back("A*?\\"[Below(4)]); break;
                default: out.push_back(c); break;
            }
        }
        if (Below(8) == 0) out.push_back('*');
        if (Below(16) == 0 && !out.empty()) out.pop_back();
        return FromChars(out);
    }

private:
    std::uint64_t state_;
};

const char kCanary[] = "canary";

// The text in a buffer with the canary after its NUL.
std::vector<char> Guarded(const std::string& text) {
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back('\0');
    buffer.insert(buffer.end(), kCanary, kCanary + sizeof kCanary);
    return buffer;
}

bool CanaryIntact(const std::vector<char>& buffer, size_t length) {
    return std::memcmp(buffer.data() + length + 1, kCanary, sizeof kCanary) == 0;
}

// Input characters without leading quotes and trailing quote characters.
std::vector<unsigned> Unquoted(const std::string& text) {
    std::vector<unsigned> chars = Chars(text.substr(text.find_first_not_of('"') == std::string::npos
                                                        ? text.size()
                                                        : text.find_first_not_of('"')));
    while (!chars.empty() && chars.back() == '"') chars.pop_back();
    return chars;
}

std::vector<unsigned> WithoutQuotesAndSeparators(const std::vector<unsigned>& chars) {
    std::vector<unsigned> out;
    for (unsigned c : chars) {
        if (c != '"' && !IsSeparatorChar(c)) out.push_back(c);
    }
    return out;
}

void CheckNormalize(const std::string& input) {
    std::vector<char> buffer = Guarded(input);
    NormalizeEntry(buffer.data());
    ASSERT_TRUE(CanaryIntact(buffer, input.size()));
    const std::string result = buffer.data();
    ASSERT_LE(result.size(), input.size());

    const std::vector<unsigned> chars = Chars(result);
    for (size_t i = 0; i < chars.size(); ++i) {
        ASSERT_NE(chars[i], unsigned('/'));
        if (i > 0) {
            ASSERT_FALSE(chars[i] == '\\' && chars[i - 1] == '\\');
        }
    }
    if (!DoubleByteCodePage()) {
        ASSERT_THAT(result, Not(HasSubstr("\\\\")));
    }
    if (!chars.empty()) {
        ASSERT_NE(chars.front(), unsigned('"'));
    }

    // Nothing but quotes and separators is lost, and all of it is upper case.
    const std::vector<unsigned> core = Unquoted(input);
    ASSERT_EQ(WithoutQuotesAndSeparators(chars), Chars(Upper(FromChars(WithoutQuotesAndSeparators(core)))));

    // The result ends in a separator only when more than one closed the text.
    const bool twoTrailing =
        core.size() >= 2 && IsSeparatorChar(core[core.size() - 1]) && IsSeparatorChar(core[core.size() - 2]);
    ASSERT_EQ(!chars.empty() && chars.back() == '\\', twoTrailing) << Hex(input);
}

void CheckJoin(Generator& random, const std::string& input) {
    // Cut the input into up to four parts, with null and empty parts among them.
    const char* parts[4] = {};
    std::string pieces[4];
    size_t at = 0;
    for (int i = 0; i < 4; ++i) {
        size_t length = i == 3 ? input.size() - at : random.Below(static_cast<std::uint32_t>(input.size() - at + 1));
        pieces[i] = input.substr(at, length);
        at += length;
        parts[i] = (pieces[i].empty() && random.Below(2)) ? nullptr : pieces[i].c_str();
    }
    std::string out = "stale";
    JoinPath(out, {parts[0], parts[1], parts[2], parts[3]});

    size_t position = 0;
    const std::string* previous = nullptr;
    for (const std::string& piece : pieces) {
        if (piece.empty()) continue;
        bool wantsBackslash = false;
        if (previous) {
            std::vector<unsigned> before = Chars(*previous);
            wantsBackslash = !IsSeparatorChar(before.back()) && !IsSeparatorChar(static_cast<unsigned char>(piece[0]));
        }
        if (wantsBackslash) {
            ASSERT_EQ(out.compare(position, 1, "\\"), 0);
            ++position;
        }
        ASSERT_EQ(out.compare(position, piece.size(), piece), 0);
        position += piece.size();
        previous = &piece;
    }
    ASSERT_EQ(position, out.size());
}

void CheckSplit(const std::string& input) {
    std::vector<char> buffer = Guarded(input);
    char unset[] = "unset";
    char* fields[3] = {unset, unset, unset};
    SplitQuotedFields(buffer.data(), {&fields[0], &fields[1], &fields[2]});
    ASSERT_TRUE(CanaryIntact(buffer, input.size()));

    const char* const begin = buffer.data();
    const char* const end = begin + input.size();  // the NUL
    size_t found = 0;
    for (size_t i = 0; i < 3; ++i) {
        if (fields[i] == unset) break;
        ASSERT_GE(fields[i], begin);
        ASSERT_LE(fields[i], end);
        ASSERT_NE(std::memchr(fields[i], '\0', static_cast<size_t>(end - fields[i]) + 1), nullptr);
        if (i > 0) {
            ASSERT_GT(fields[i], fields[i - 1]);
        }
        ++found;
    }
    ASSERT_GE(found, 1u);  // the first field is always set
    for (size_t i = found; i < 3; ++i) ASSERT_EQ(fields[i], unset);

    // When the text ran out first, the fields joined by the separator give
    // back the text without its enclosing quotes.
    if (found < 3) {
        std::vector<unsigned> chars = Chars(input);
        if (!chars.empty() && chars.back() == '"') chars.pop_back();
        std::string expected = FromChars(chars);
        expected.erase(0, expected.find_first_not_of('"') == std::string::npos ? expected.size()
                                                                                : expected.find_first_not_of('"'));
        std::string rebuilt = fields[0];
        for (size_t i = 1; i < found; ++i) rebuilt += std::string("\",\"") + fields[i];
        ASSERT_EQ(rebuilt, expected);
    }
}

void CheckWildcard(Generator& random, const std::string& text, size_t& matches) {
    const std::vector<unsigned> chars = Chars(text);
    bool wildcard = false;
    for (unsigned c : chars) wildcard = wildcard || c == '*' || c == '?';
    ASSERT_EQ(HasWildcard(text.c_str()), wildcard);
    if (!DoubleByteCodePage()) {
        ASSERT_EQ(wildcard, text.find_first_of("*?") != std::string::npos);
    }

    ASSERT_TRUE(WildcardMatch(text.c_str(), "*"));
    const std::string upper = Upper(text);
    if (!wildcard) {
        ASSERT_TRUE(WildcardMatch(text.c_str(), text.c_str()));
        ASSERT_TRUE(WildcardMatch(text.c_str(), upper.c_str()));
        ASSERT_TRUE(WildcardMatch(upper.c_str(), text.c_str()));
        // A lead byte at the end of the text would pair with the asterisk.
        const bool endsInLead = !chars.empty() && chars.back() >= 0x80 && chars.back() <= 0xFF && _ismbblead(chars.back());
        if (!endsInLead) {
            ASSERT_TRUE(WildcardMatch(text.c_str(), (text + "*").c_str()));
        }
        ASSERT_FALSE(WildcardMatch(text.c_str(), (text + "?").c_str()));
        ASSERT_FALSE(WildcardMatch(text.c_str(), (text + "x").c_str()));
    }

    const std::string pattern = random.PatternFor(text);
    const bool result = WildcardMatch(text.c_str(), pattern.c_str());
    ASSERT_EQ(WildcardMatch(upper.c_str(), pattern.c_str()), result);
    ASSERT_EQ(WildcardMatch(text.c_str(), Upper(pattern).c_str()), result);
    const bool full = FullMatch(Chars(upper), Chars(Upper(pattern)));
    if (result) {
        ASSERT_TRUE(full) << "text " << Hex(text) << "/ pattern " << Hex(pattern);
    }
    // Without asterisks there is nothing to backtrack over.
    if (pattern.find('*') == std::string::npos) {
        ASSERT_EQ(result, full) << "text " << Hex(text) << "/ pattern " << Hex(pattern);
    }
    if (result) ++matches;
}

TEST(EntryTextFuzz, GeneratedInputsKeepTheInvariants) {
    const auto started = std::chrono::steady_clock::now();
    Generator random(0x5EEDC1EA12A4ull);
    const int count = 100000;
    size_t matches = 0;
    size_t longest = 0;
    for (int i = 0; i < count; ++i) {
        size_t length = i == 0 ? 0 : i == 1 ? 2000 : random.Length();
        const std::string input = random.Text(length);
        longest = std::max(longest, input.size());
        ASSERT_NO_FATAL_FAILURE(CheckNormalize(input)) << "case " << i;
        ASSERT_NO_FATAL_FAILURE(CheckJoin(random, input)) << "case " << i;
        ASSERT_NO_FATAL_FAILURE(CheckSplit(input)) << "case " << i;
        ASSERT_NO_FATAL_FAILURE(CheckWildcard(random, input, matches)) << "case " << i;
    }
    EXPECT_EQ(longest, 2000u);
    // The patterns are built to match often enough for the match path to be
    // exercised, and not so often that a matcher answering true would pass.
    EXPECT_GT(matches, static_cast<size_t>(count / 20));
    EXPECT_LT(matches, static_cast<size_t>(count) * 19 / 20);
    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    RecordProperty("seconds", std::to_string(seconds));
}

}  // namespace
