// One installed Windows Installer product of a product line, known by its
// product code: its version, its order against another product of the line,
// its silent uninstall and the hiding of its Add/Remove Programs entry.
#pragma once
#include <windows.h>

#include <string>

namespace platform { class Platform; }

class Product {
public:
    // Reads the product's "VersionString" (empty when it cannot be read).
    Product(platform::Platform& os, const std::wstring& productCode);
    virtual ~Product() = default;
    Product(const Product&) = delete;
    Product& operator=(const Product&) = delete;

    virtual std::wstring GetProductCode() const;
    virtual std::wstring GetVersionString() const;
    // Compares major, minor, build and revision in turn; a missing part is
    // -1 (so 5 is older than 5.0) and an unreadable version counts as
    // 0.0.0.0. Equal versions are not newer.
    virtual bool IsNewerThan(const Product& other) const;
    // Sets "SystemComponent" = 1 on the product's Uninstall entry in each
    // registry view where the entry has a display name; true if any was set.
    virtual bool HideFromAddRemove();
    // Removes the product silently; true when it is gone. 3010 and 1641
    // (removed, a restart is needed) count as removed. When the installer
    // refuses for any other reason but 1618 (another installation is in
    // progress, which a retry would only meet again) it retries from a copy
    // of its cached package. The installer's answers stay in the fields
    // below; with logPath set, each call writes a verbose installer log
    // there.
    virtual bool Uninstall();
    // Whether the installer's answer says the product was removed.
    static bool Removed(UINT code) {
        return code == ERROR_SUCCESS || code == ERROR_SUCCESS_REBOOT_REQUIRED || code == ERROR_SUCCESS_REBOOT_INITIATED;
    }
    UINT configureCode = ERROR_SUCCESS;  // the silent uninstall's answer
    bool cachedTried = false;            // the cached package was handed to the installer
    UINT cachedCode = ERROR_SUCCESS;     // its answer
    std::wstring logPath;
    // Where the copy of the cached package is made (a folder of the run's
    // own, ending in a backslash); empty: the temporary folder.
    std::wstring copyParent;
    // Reads "a.b.c.d", "a.b.c", "a.b" or "a" (blanks around it ignored);
    // missing parts are -1. False, with the out-values untouched, when the
    // version does not start with a number.
    virtual bool ParseVersion(int& major, int& minor, int& build, int& revision) const;
    // Copies the cached package under its package name into the temporary
    // folder, removes the product from that copy and deletes the copy
    // whatever the outcome. True when the installer returned 0.
    virtual bool UninstallFromCachedPackage();

protected:
    platform::Platform& os_;
    std::wstring productCode;
    std::wstring versionString;
};
