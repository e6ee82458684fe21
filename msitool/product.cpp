#include "msitool/product.h"

#include <algorithm>
#include <cwchar>
#include <initializer_list>
#include <string>

#include "guard/own_files.h"
#include "msitool/registry_value.h"
#include "platform/handles.h"
#include "platform/platform.h"
#include "platform/wide_text.h"
#include "trace/trace.h"

namespace {

const wchar_t kRemoveCommand[] = L"REMOVE=ALL REBOOT=ReallySuppress";
const wchar_t kUninstallKey[] = L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

// A product property into a buffer of `capacity` characters; empty on failure.
UINT ReadProductInfo(platform::Platform& os, const std::wstring& productCode, const wchar_t* property,
                     DWORD capacity, std::wstring& value) {
    std::wstring buffer(capacity, L'\0');
    DWORD size = capacity;
    const UINT result = os.MsiGetProductInfoW(productCode.c_str(), property, &buffer[0], &size);
    buffer.resize(std::wcslen(buffer.c_str()));
    value = buffer;
    return result;
}


}  // namespace

Product::Product(platform::Platform& os, const std::wstring& code) : os_(os), productCode(code) {
    // Whatever the buffer holds becomes the version: empty when the read failed.
    ReadProductInfo(os_, productCode, L"VersionString", 100, versionString);
}

std::wstring Product::GetProductCode() const { return productCode; }

std::wstring Product::GetVersionString() const { return versionString; }

bool Product::ParseVersion(int& major, int& minor, int& build, int& revision) const {
    const std::wstring text = Trim(versionString, L" ");
    int parts[4] = {-1, -1, -1, -1};
    // The longest form whose every number is present wins; text after the
    // last number is not looked at.
    if (std::swscanf(text.c_str(), L"%d.%d.%d.%d", &parts[0], &parts[1], &parts[2], &parts[3]) != 4) {
        parts[3] = -1;
        if (std::swscanf(text.c_str(), L"%d.%d.%d", &parts[0], &parts[1], &parts[2]) != 3) {
            parts[2] = -1;
            if (std::swscanf(text.c_str(), L"%d.%d", &parts[0], &parts[1]) != 2) {
                parts[1] = -1;
                if (std::swscanf(text.c_str(), L"%d", &parts[0]) != 1) return false;
            }
        }
    }
    major = parts[0];
    minor = parts[1];
    build = parts[2];
    revision = parts[3];
    return true;
}

bool Product::IsNewerThan(const Product& other) const {
    int mine[4] = {0, 0, 0, 0};
    int theirs[4] = {0, 0, 0, 0};
    ParseVersion(mine[0], mine[1], mine[2], mine[3]);
    other.ParseVersion(theirs[0], theirs[1], theirs[2], theirs[3]);
    for (int part = 0; part < 4; ++part) {
        if (mine[part] != theirs[part]) return mine[part] > theirs[part];
    }
    return false;
}

bool Product::Uninstall() {
    if (!logPath.empty()) {
        os_.MsiEnableLogW(INSTALLLOGMODE_VERBOSE, logPath.c_str(), INSTALLLOGATTRIBUTES_APPEND |
                                                                       INSTALLLOGATTRIBUTES_FLUSHEACHLINE);
    }
    configureCode =
        os_.MsiConfigureProductExW(productCode.c_str(), INSTALLLEVEL_MAXIMUM, INSTALLSTATE_ABSENT, kRemoveCommand);
    if (Removed(configureCode)) return true;
    if (configureCode == ERROR_INSTALL_ALREADY_RUNNING) return false;
    return UninstallFromCachedPackage();
}

bool Product::UninstallFromCachedPackage() {
    std::wstring cachedPackage, packageName;
    if (ReadProductInfo(os_, productCode, L"LocalPackage", MAX_PATH, cachedPackage) != ERROR_SUCCESS) return false;
    if (ReadProductInfo(os_, productCode, L"PackageName", MAX_PATH, packageName) != ERROR_SUCCESS) return false;

    // The run's own folder when the caller names one (nobody else can
    // write to it or rename what is in it). Else the temporary folder, which
    // others may create files in (C:\Windows\Temp for SYSTEM) and, for an
    // administrator, their unelevated programs own; the copy then goes into
    // a folder of its own with a name nobody can guess, which only SYSTEM
    // and Administrators can reach.
    wchar_t temporary[MAX_PATH] = {};
    if (!copyParent.empty() && copyParent.size() < MAX_PATH) {
        std::copy(copyParent.begin(), copyParent.end(), temporary);
    } else {
        const DWORD length = os_.GetTempPathW(MAX_PATH, temporary);
        if (length == 0 || length >= MAX_PATH) return false;
    }
    std::wstring folder;
    const DWORD created = guard::CreatePrivateFolder(os_, temporary, folder);
    if (created != ERROR_SUCCESS) {
        TraceWrite("", -1, 0, "UninstallFromCachedPackage: no private folder for the copy in '%s' (error %lu); "
                   "no retry from the cached package\n", platform::NarrowText(os_, temporary).c_str(),
                   static_cast<unsigned long>(created));
        return false;
    }
    const std::wstring copy = folder + packageName;
    bool removed = false;
    if (packageName.empty() || packageName.find_first_of(L"\\/:") != std::wstring::npos || packageName == L"." ||
        packageName == L"..") {
        TraceWrite("", -1, 0, "UninstallFromCachedPackage: the package name '%s' is not a plain file name; "
                   "no retry from the cached package\n", platform::NarrowText(os_, packageName).c_str());
    } else if (copy.size() > MAX_PATH - 1) {
        // Cut short, the path would name another file, which the copy would
        // replace and the clean-up delete.
        TraceWrite("", -1, 0, "UninstallFromCachedPackage: the copy's path '%s' is longer than %d characters; "
                   "no retry from the cached package\n", platform::NarrowText(os_, copy).c_str(), MAX_PATH - 1);
    } else if (os_.CopyFileW(cachedPackage.c_str(), copy.c_str(), TRUE)) {
        // Held open while the installer reads it: nobody can change,
        // replace or rename the file that was copied in the meantime.
        platform::FileHandle held(os_, os_.CreateFileW(copy.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                      OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (held) {
            cachedTried = true;
            cachedCode = os_.MsiInstallProductW(copy.c_str(), kRemoveCommand);
            removed = Removed(cachedCode);
        }
        held.reset();
        os_.DeleteFileW(copy.c_str());
    }
    // Gone whatever the outcome.
    if (!os_.RemoveDirectoryW(folder.c_str())) {
        TraceWrite("", -1, 0, "UninstallFromCachedPackage: the private folder '%s' could not be removed (error %lu)\n",
                   platform::NarrowText(os_, folder).c_str(), static_cast<unsigned long>(os_.GetLastError()));
    }
    return removed;
}

bool Product::HideFromAddRemove() {
    const std::wstring key = kUninstallKey + productCode;
    const std::wstring nameSpec = key + L"\\\\DisplayName";
    const std::wstring hideSpec = key + L"\\\\SystemComponent|1";
    bool hidden = false;
    for (const DWORD view : {DWORD(RegistryView32), DWORD(RegistryView64)}) {
        BYTE name[2000];
        if (ReadRegistryValue(os_, name, sizeof name, nameSpec, view) != RegistryValueOk) continue;
        if (WriteRegistryValue(os_, hideSpec, true, REG_DWORD, view) == RegistryValueOk) hidden = true;
    }
    return hidden;
}
