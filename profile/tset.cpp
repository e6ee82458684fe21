#include "profile/tset.h"

#include "trace/trace.h"

#include <mbstring.h>

#include <cstring>
#include <new>

namespace {

// _mbsicmp of the running code page, with a fast path for the ASCII part.
// A byte below 0x80 is a character of its own in every ANSI code page (lead
// bytes start at 0x81) and folds only A-Z, so the ASCII run is compared here
// and _mbsicmp takes over at the first character boundary where either text
// holds a higher byte. Paths in one list share long ASCII prefixes.
int Compare(const char* a, const char* b) {
    const unsigned char* x = reinterpret_cast<const unsigned char*>(a);
    const unsigned char* y = reinterpret_cast<const unsigned char*>(b);
    for (;;) {
        unsigned cx = *x;
        unsigned cy = *y;
        if (cx == cy) {
            if (cx == 0) return 0;
            if (cx >= 0x80) break;
        } else {
            if ((cx | cy) >= 0x80) break;
            if (cx - 'A' < 26u) cx += 'a' - 'A';
            if (cy - 'A' < 26u) cy += 'a' - 'A';
            if (cx != cy) return cx < cy ? -1 : 1;
        }
        ++x;
        ++y;
    }
    return _mbsicmp(x, y);
}

}  // namespace

bool TSet::Less::operator()(const std::unique_ptr<char[]>& a, const std::unique_ptr<char[]>& b) const {
    return Compare(a.get(), b.get()) < 0;
}
bool TSet::Less::operator()(const std::unique_ptr<char[]>& a, const char* b) const {
    return Compare(a.get(), b) < 0;
}
bool TSet::Less::operator()(const char* a, const std::unique_ptr<char[]>& b) const {
    return Compare(a, b.get()) < 0;
}

TSet::TSet() : ascending_(elements_.end()), descending_(elements_.end()) {}

TSet::~TSet() = default;

DWORD TSet::Insert(const char* text) {
    if (!text) return ERROR_INVALID_PARAMETER;
    // An empty element would occur in every text: as an ignore entry it would
    // take everything out of the removal and out of its check. No list holds
    // one; the caller goes on as after a duplicate.
    if (*text == '\0') {
        TraceWrite("", -1, 0, "%s", "TSet::Insert: an empty entry is never listed, skipped\n");
        return ERROR_SUCCESS;
    }
    // One search: the position found is the hint for the insertion.
    Elements::iterator at = elements_.lower_bound(text);
    if (at != elements_.end() && Compare(text, at->get()) == 0) return ERROR_SUCCESS;
    size_t size = std::strlen(text) + 1;
    std::unique_ptr<char[]> copy(new (std::nothrow) char[size]);
    if (!copy) return ERROR_NOT_ENOUGH_MEMORY;
    std::memcpy(copy.get(), text, size);
    try {
        elements_.emplace_hint(at, std::move(copy));
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    return ERROR_SUCCESS;
}

int TSet::Count() const { return static_cast<int>(elements_.size()); }

bool TSet::IsEmpty() const { return elements_.empty(); }

bool TSet::Contains(const char* text) const { return text && elements_.find(text) != elements_.end(); }

DWORD TSet::GetFirst(const char*& text) {
    ascending_ = elements_.begin();
    ascendingOn_ = ascending_ != elements_.end();
    if (!ascendingOn_) return ERROR_NO_MORE_ITEMS;
    text = ascending_->get();
    return ERROR_SUCCESS;
}

DWORD TSet::GetNext(const char*& text) {
    if (!ascendingOn_) return ERROR_NO_MORE_ITEMS;
    ++ascending_;
    ascendingOn_ = ascending_ != elements_.end();
    if (!ascendingOn_) return ERROR_NO_MORE_ITEMS;
    text = ascending_->get();
    return ERROR_SUCCESS;
}

DWORD TSet::GetLast(const char*& text) {
    descendingOn_ = !elements_.empty();
    if (!descendingOn_) return ERROR_NO_MORE_ITEMS;
    descending_ = std::prev(elements_.end());
    text = descending_->get();
    return ERROR_SUCCESS;
}

DWORD TSet::GetPrevious(const char*& text) {
    if (!descendingOn_ || descending_ == elements_.begin()) {
        descendingOn_ = false;
        return ERROR_NO_MORE_ITEMS;
    }
    --descending_;
    text = descending_->get();
    return ERROR_SUCCESS;
}

DWORD TSet::RemoveCurrentAndGetNext(const char*& text) {
    if (!ascendingOn_) return ERROR_NO_MORE_ITEMS;
    // A descending cursor on the same element would dangle: end that walk.
    if (descendingOn_ && descending_ == ascending_) descendingOn_ = false;
    ascending_ = elements_.erase(ascending_);
    ascendingOn_ = ascending_ != elements_.end();
    if (!ascendingOn_) return ERROR_NO_MORE_ITEMS;
    text = ascending_->get();
    return ERROR_SUCCESS;
}

TSet& TSet::AddAll(const TSet& other) {
    if (&other != this) {
        for (const auto& element : other.elements_) {
            if (Insert(element.get()) != ERROR_SUCCESS) break;
        }
    }
    ascending_ = elements_.begin();
    ascendingOn_ = ascending_ != elements_.end();
    descendingOn_ = !elements_.empty();
    descending_ = descendingOn_ ? std::prev(elements_.end()) : elements_.end();
    return *this;
}
