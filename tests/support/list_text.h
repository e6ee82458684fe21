// The elements of a removal list as texts, for comparing with what a test
// expects.
#pragma once
#include <string>
#include <vector>

#include "profile/tset.h"

namespace testing_support {

using Texts = std::vector<std::string>;

// Ascending order, as the set holds them.
inline Texts Elements(TSet& set) {
    Texts out;
    const char* text = nullptr;
    for (DWORD rc = set.GetFirst(text); rc == 0; rc = set.GetNext(text)) out.push_back(text);
    return out;
}

}  // namespace testing_support
