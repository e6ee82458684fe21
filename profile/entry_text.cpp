#include "profile/entry_text.h"

#include <mbstring.h>

#include <cstring>
#include <new>
#include <string>

namespace {

using Byte = unsigned char;

// Every text is walked as the running code page's characters: a lead byte
// and the byte after it are one character, so a trail byte (0x5C is a trail
// byte in 932) is never taken for a backslash, a slash, a quote or a
// wildcard. A lead byte directly before the terminating NUL is a character
// of its own; the walk never steps over the NUL. No ANSI code page has a lead
// byte below 0x80, which keeps the ASCII part free of runtime calls.
inline size_t CharLength(const Byte* p) {
    return (*p >= 0x80 && _ismbblead(*p) && p[1] != 0) ? 2 : 1;
}

inline bool IsSeparator(Byte c) { return c == '\\' || c == '/'; }

// A single-byte character, or 0 for a double-byte one.
inline Byte SingleByte(const Byte* p, size_t length) { return length == 1 ? *p : Byte(0); }

// Folds a text of `length` bytes in place with _mbsupr (or _mbslwr when
// lower is set). A lead byte that ends the text (no trail byte before the
// NUL) is kept out of the runtime's reach, because a runtime that pairs it
// with the NUL would walk on past the end of the text.
void FoldInPlace(Byte* text, size_t length, bool lower) {
    if (length == 0) return;
    // Plain ASCII text, the common case, is folded here: bytes below 0x80 are
    // characters of their own in every ANSI code page, and only letters change.
    bool ascii = true;
    for (size_t i = 0; i < length && ascii; ++i) ascii = text[i] < 0x80;
    if (ascii) {
        const Byte from = lower ? 'A' : 'a';
        for (size_t i = 0; i < length; ++i) {
            if (text[i] >= from && text[i] <= from + 25) text[i] = static_cast<Byte>(text[i] ^ 0x20);
        }
        return;
    }
    Byte* dangling = nullptr;
    // Only a last byte with a lead byte's value can be one; whether it is
    // takes a walk from the start, as a trail byte may have the same value.
    if (text[length - 1] >= 0x80 && _ismbblead(text[length - 1])) {
        size_t i = 0;
        while (i + 1 < length) i += CharLength(text + i);
        if (i + 1 == length) dangling = text + i;
    }
    Byte lead = 0;
    if (dangling) {
        lead = *dangling;
        *dangling = 0;
    }
    if (lower) {
        _mbslwr(text);
    } else {
        _mbsupr(text);
    }
    if (dangling) *dangling = lead;
}

void UpperInPlace(Byte* text, size_t length) { FoldInPlace(text, length, false); }

// The characters at a and b are the same (bytes and length).
inline bool SameChar(const Byte* a, size_t aLength, const Byte* b, size_t bLength) {
    return aLength == bLength && a[0] == b[0] && (aLength == 1 || a[1] == b[1]);
}

// True when the characters of text from `text` start with the characters of
// [segment, segmentEnd). Stops at the text's NUL.
bool SegmentAt(const Byte* text, const Byte* segment, const Byte* segmentEnd) {
    while (segment < segmentEnd) {
        if (*text == 0) return false;
        size_t t = CharLength(text);
        size_t s = CharLength(segment);
        if (!SameChar(text, t, segment, s)) return false;
        text += t;
        segment += s;
    }
    return true;
}

// First occurrence of the segment in text that begins on a character of the
// text; null when there is none.
const Byte* FindSegment(const Byte* text, const Byte* segment, const Byte* segmentEnd) {
    for (;;) {
        if (SegmentAt(text, segment, segmentEnd)) return text;
        if (*text == 0) return nullptr;
        text += CharLength(text);
    }
}

// Upper-case copy; false when it cannot be made.
bool UpperCopy(const char* text, std::string& copy) {
    try {
        copy.assign(text ? text : "");
    } catch (const std::bad_alloc&) {
        return false;
    }
    UpperInPlace(reinterpret_cast<Byte*>(&copy[0]), copy.size());
    return true;
}

}  // namespace

void NormalizeEntry(char* text) {
    if (!text) return;
    Byte* const out = reinterpret_cast<Byte*>(text);
    const Byte* start = out;
    while (*start == '"') ++start;

    // One walk finds where the text ends once the trailing quotes and then
    // one trailing separator are gone.
    const Byte* end = start;
    const Byte* lastKept = nullptr;  // the last character that is not a quote
    for (const Byte* p = start; *p;) {
        size_t length = CharLength(p);
        if (SingleByte(p, length) != '"') {
            lastKept = p;
            end = p + length;
        }
        p += length;
    }
    if (lastKept && end - lastKept == 1 && IsSeparator(*lastKept)) end = lastKept;

    // Copy down over the text, one backslash for every run of separators.
    // The write position never passes the read position.
    Byte* write = out;
    bool inRun = false;
    for (const Byte* p = start; p < end;) {
        size_t length = CharLength(p);
        if (IsSeparator(SingleByte(p, length))) {
            if (!inRun) *write++ = '\\';
            inRun = true;
        } else {
            Byte first = p[0];
            Byte second = length == 2 ? p[1] : Byte(0);
            *write++ = first;
            if (length == 2) *write++ = second;
            inRun = false;
        }
        p += length;
    }
    *write = 0;
    UpperInPlace(out, static_cast<size_t>(write - out));
}

void JoinPath(std::string& out, std::initializer_list<const char*> parts) {
    out.clear();
    bool endsInSeparator = false;
    for (const char* part : parts) {
        if (!part || !*part) continue;
        const Byte* bytes = reinterpret_cast<const Byte*>(part);
        if (!out.empty() && !endsInSeparator && !IsSeparator(bytes[0])) out += '\\';
        out += part;
        // The part begins on a character, so its own last character is the
        // last character of out.
        endsInSeparator = false;
        for (const Byte* p = bytes; *p;) {
            size_t length = CharLength(p);
            endsInSeparator = IsSeparator(SingleByte(p, length));
            p += length;
        }
    }
}

void SplitQuotedFields(char* text, std::initializer_list<char**> fields) {
    if (!text) return;
    Byte* p = reinterpret_cast<Byte*>(text);

    // Drop one closing quote, then skip the opening ones.
    Byte* last = nullptr;
    for (Byte* q = p; *q;) {
        last = q;
        q += CharLength(q);
    }
    if (last && *last == '"' && last[1] == 0) *last = 0;
    while (*p == '"') ++p;

    for (char** field : fields) {
        // A null output still takes its field, so the later ones stay in place.
        if (field) *field = reinterpret_cast<char*>(p);
        Byte* separator = nullptr;
        for (Byte* q = p; *q; q += CharLength(q)) {
            if (q[0] == '"' && q[1] == ',' && q[2] == '"') {
                separator = q;
                break;
            }
        }
        if (!separator) return;
        *separator = 0;
        p = separator + 3;
    }
}

bool HasWildcard(const char* text) {
    if (!text) return false;
    for (const Byte* p = reinterpret_cast<const Byte*>(text); *p;) {
        size_t length = CharLength(p);
        Byte c = SingleByte(p, length);
        if (c == '*' || c == '?') return true;
        p += length;
    }
    return false;
}

// Single pass, no backtracking: after an asterisk a pattern character equal
// to the text's current character ends the run at once, and a literal
// segment is taken at its first occurrence only.
bool WildcardMatch(const char* text, const char* pattern) {
    std::string textCopy;
    std::string patternCopy;
    if (!UpperCopy(text, textCopy) || !UpperCopy(pattern, patternCopy)) return false;
    const Byte* t = reinterpret_cast<const Byte*>(textCopy.c_str());
    const Byte* p = reinterpret_cast<const Byte*>(patternCopy.c_str());

    bool match = false;
    bool star = false;
    do {
        if (*p == '?') {
            // A question mark needs a character; at the end of the text the
            // check below the loop finds it left over.
            if (*t == 0) break;
            star = false;
            ++p;
            t += CharLength(t);
            match = true;
        } else if (*p == '*') {
            star = true;
            ++p;
            match = true;
        } else {
            size_t pLength = CharLength(p);
            size_t tLength = CharLength(t);
            if (SameChar(p, pLength, t, tLength)) {
                star = false;
                match = true;
                if (*p) p += pLength;
                if (*t) t += tLength;
            } else if (!star) {
                return false;
            } else {
                star = false;
                const Byte* segmentEnd = p;
                while (*segmentEnd && *segmentEnd != '*' && *segmentEnd != '?') segmentEnd += CharLength(segmentEnd);
                const Byte* found = FindSegment(t, p, segmentEnd);
                if (!found) return false;
                t = found + (segmentEnd - p);
                p = segmentEnd;
                match = true;
            }
        }
    } while (*t && *p);

    if (*p == 0 && *t != 0 && !star) return false;
    if (*t == 0) {
        // The text has ended: only asterisks may remain in the pattern.
        while (*p == '*') ++p;
        if (*p != 0) return false;
    }
    return match;
}

void UpperCaseText(char* text) {
    if (!text) return;
    UpperInPlace(reinterpret_cast<Byte*>(text), std::strlen(text));
}

void LowerCaseText(char* text) {
    if (!text) return;
    FoldInPlace(reinterpret_cast<Byte*>(text), std::strlen(text), true);
}

std::string UpperCased(const char* text) {
    std::string copy(text ? text : "");
    UpperCaseText(&copy[0]);
    return copy;
}

std::string LowerCased(const char* text) {
    std::string copy(text ? text : "");
    LowerCaseText(&copy[0]);
    return copy;
}

std::unique_ptr<char[]> CopyText(const char* text) {
    if (!text) text = "";
    const size_t size = std::strlen(text) + 1;
    std::unique_ptr<char[]> copy(new (std::nothrow) char[size]);
    if (copy) std::memcpy(copy.get(), text, size);
    return copy;
}
