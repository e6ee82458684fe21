// Text operations shared by the configuration reader, the entry handlers and
// the removal actions. ANSI text in the running code page; multibyte aware:
// a lead byte and the byte after it are one character (a lead byte right
// before the NUL is a character of its own), so a trail byte is never taken
// for a separator, a quote or a wildcard. None of them reads or writes past
// the terminating NUL; a null text counts as empty.
#pragma once
#include <initializer_list>
#include <memory>
#include <string>

// Rewrites text in place: leading and trailing double quotes removed, one
// trailing backslash or slash removed, every run of backslashes and slashes
// made one backslash, upper-cased (_mbsupr). Never longer than before. A null
// text is left alone.
void NormalizeEntry(char* text);

// Upper-cases text in place as _mbsupr does, without ever reading past a
// lead byte that ends the text. A null text is left alone.
void UpperCaseText(char* text);
// The same with _mbslwr.
void LowerCaseText(char* text);
// Upper- and lower-cased copies of text (null counts as empty).
std::string UpperCased(const char* text);
std::string LowerCased(const char* text);
// A copy of text on the heap that a handler may rewrite in place; null when
// there is no memory for it.
std::unique_ptr<char[]> CopyText(const char* text);

// Joins the non-empty parts with one backslash between them (none is added
// when out already ends in a separator or the part begins with one). Null
// parts are skipped; out is replaced, not appended to.
void JoinPath(std::string& out, std::initializer_list<const char*> parts);

// Splits "a","b","c" in place (after NormalizeEntry removed the outer
// quotes): each requested field points into text and ends at the next
// quote-comma-quote; fields after the last one found are left as they were.
// A null output still takes its field. A null text is left alone.
void SplitQuotedFields(char* text, std::initializer_list<char**> fields);

// True when text holds an asterisk or a question mark.
bool HasWildcard(const char* text);

// ? matches one character, * a run; case-insensitive; no backtracking. A text
// that ends while the pattern still holds characters other than asterisks
// (a question mark included) does not match.
bool WildcardMatch(const char* text, const char* pattern);
