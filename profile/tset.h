// TSet: an ordered, case-insensitive set of owned ANSI strings, ordered by
// the C runtime's multibyte case-insensitive comparison of the running code
// page. Descending order yields every path below a folder before the folder.
#pragma once
#include <windows.h>

#include <memory>
#include <set>

class TSet {
public:
    TSet();
    virtual ~TSet();
    TSet(const TSet&) = delete;
    TSet& operator=(const TSet&) = delete;

    // 0, or the error code when the copy cannot be made (87 for a null text).
    // An equal element keeps its first spelling; cursors do not move.
    DWORD Insert(const char* text);
    int Count() const;
    bool IsEmpty() const;
    bool Contains(const char* text) const;

    // Traversals return 0 with a borrowed element, or 259 at the end, leaving
    // text untouched. One ascending and one descending traversal at a time.
    DWORD GetFirst(const char*& text);
    DWORD GetNext(const char*& text);
    DWORD GetLast(const char*& text);
    DWORD GetPrevious(const char*& text);
    // Removes the element under the ascending cursor and returns the next.
    DWORD RemoveCurrentAndGetNext(const char*& text);

    // Inserts every element of other; both cursors restart afterwards.
    TSet& AddAll(const TSet& other);

private:
    struct Less {
        using is_transparent = void;
        bool operator()(const std::unique_ptr<char[]>& a, const std::unique_ptr<char[]>& b) const;
        bool operator()(const std::unique_ptr<char[]>& a, const char* b) const;
        bool operator()(const char* a, const std::unique_ptr<char[]>& b) const;
    };
    using Elements = std::set<std::unique_ptr<char[]>, Less>;

    Elements elements_;
    Elements::iterator ascending_;
    Elements::iterator descending_;
    bool ascendingOn_ = false;
    bool descendingOn_ = false;
};
