// Access lists as a test looks at them: each entry's type, flags, mask and
// SID bytes, read with the real calls.
#pragma once
#include <windows.h>

#include <ostream>
#include <vector>

namespace testing_support {

using Bytes = std::vector<BYTE>;

Bytes SidBytes(PSID sid);
Bytes WellKnownSid(WELL_KNOWN_SID_TYPE type);

struct Ace {
    BYTE type;
    BYTE flags;
    DWORD mask;
    Bytes sid;
    bool operator==(const Ace& o) const {
        return type == o.type && flags == o.flags && mask == o.mask && sid == o.sid;
    }
};
std::ostream& operator<<(std::ostream& out, const Ace& a);

// The entries of acl; empty for a null ACL.
std::vector<Ace> Entries(PACL acl);

// What the run makes its own: SYSTEM and Administrators with full control,
// and Users with read when usersRead, all inherited by what lies below.
std::vector<Ace> OwnAcl(bool usersRead);

}  // namespace testing_support
