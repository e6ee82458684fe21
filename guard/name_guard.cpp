#include "guard/name_guard.h"

#include <initializer_list>

#include "guard/path_guard.h"

namespace guard {

namespace {

bool IsOneOf(const char* name, std::initializer_list<const char*> names) {
    if (!name) return false;
    const std::string upper = UpperText(name);
    for (const char* candidate : names) {
        if (upper == UpperText(candidate)) return true;
    }
    return false;
}

}  // namespace

std::string RefusesNamePattern(const char* pattern) {
    if (!pattern) return "it is empty";
    const size_t literal = LiteralStart(pattern);
    bool wildcard = false;
    for (const char* p = pattern; *p; ++p) wildcard = wildcard || *p == '*' || *p == '?' || *p == '<' || *p == '>';
    if (!wildcard || literal >= kLiteralStartNeeded) return std::string();
    return "a wildcard needs three letters before it, or it could reach the system's own";
}

bool IsSystemProcess(const char* imageName) {
    return IsOneOf(imageName, {"System", "System Idle Process", "[System Process]", "Registry", "smss.exe",
                               "csrss.exe", "wininit.exe", "winlogon.exe", "services.exe", "lsass.exe", "lsm.exe",
                               "svchost.exe"});
}

bool IsNeededService(const char* serviceName) {
    return IsOneOf(serviceName, {"msiserver", "winmgmt", "RpcSs", "RpcEptMapper", "DcomLaunch", "MpsSvc", "BFE"});
}

}  // namespace guard
