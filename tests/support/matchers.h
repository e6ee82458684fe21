// The matchers the tests read texts with, for every test program: a failed
// check then shows the whole text and the part it looked for.
#pragma once
#include <gmock/gmock.h>

using ::testing::HasSubstr;
using ::testing::Not;
