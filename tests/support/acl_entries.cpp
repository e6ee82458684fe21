#include "tests/support/acl_entries.h"

namespace testing_support {

Bytes SidBytes(PSID sid) {
    const BYTE* p = static_cast<const BYTE*>(sid);
    return Bytes(p, p + ::GetLengthSid(sid));
}

Bytes WellKnownSid(WELL_KNOWN_SID_TYPE type) {
    BYTE buffer[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof buffer;
    if (!::CreateWellKnownSid(type, nullptr, buffer, &size)) return {};
    return Bytes(buffer, buffer + size);
}

std::ostream& operator<<(std::ostream& out, const Ace& a) {
    return out << "{type " << int(a.type) << " flags 0x" << std::hex << int(a.flags) << " mask 0x" << a.mask
               << std::dec << " sid " << a.sid.size() << " bytes}";
}

std::vector<Ace> Entries(PACL acl) {
    std::vector<Ace> out;
    if (!acl) return out;
    ACL_SIZE_INFORMATION info = {};
    if (!::GetAclInformation(acl, &info, sizeof info, AclSizeInformation)) return out;
    for (DWORD i = 0; i < info.AceCount; ++i) {
        LPVOID raw = nullptr;
        if (!::GetAce(acl, i, &raw)) break;
        auto* ace = static_cast<ACCESS_ALLOWED_ACE*>(raw);
        out.push_back({ace->Header.AceType, ace->Header.AceFlags, ace->Mask, SidBytes(&ace->SidStart)});
    }
    return out;
}

std::vector<Ace> OwnAcl(bool usersRead) {
    const BYTE both = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
    std::vector<Ace> entries = {{ACCESS_ALLOWED_ACE_TYPE, both, GENERIC_ALL, WellKnownSid(WinLocalSystemSid)},
                                {ACCESS_ALLOWED_ACE_TYPE, both, GENERIC_ALL, WellKnownSid(WinBuiltinAdministratorsSid)}};
    if (usersRead) {
        entries.push_back(
            {ACCESS_ALLOWED_ACE_TYPE, both, GENERIC_READ | GENERIC_EXECUTE, WellKnownSid(WinBuiltinUsersSid)});
    }
    return entries;
}

}  // namespace testing_support
