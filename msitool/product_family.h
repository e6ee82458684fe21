// Every installed product of one MSI upgrade code, in the order the Windows
// Installer enumerates them. The family owns its products.
#pragma once
#include <windows.h>

#include <list>
#include <memory>
#include <string>
#include <vector>

#include "msitool/product.h"

namespace platform { class Platform; }

// What the installer answered for one product of an uninstall.
struct MsiProductAnswer {
    std::wstring productCode;
    UINT configureCode = ERROR_SUCCESS;  // the silent uninstall
    bool cachedTried = false;            // the retry from the cached package ran
    UINT cachedCode = ERROR_SUCCESS;
    bool removed = false;
    std::wstring logPath;  // its verbose installer log; empty: none
};

// What a caller of the tool hands in and gets back: the folder for each
// product's installer log, and the installer's answers.
struct MsiToolReport {
    // The run's own folder, ending in a backslash: each product's installer
    // log goes there, and the copy of a cached package into a private
    // folder made in it. Empty: no logs, the copy below the temporary folder.
    std::wstring logFolder;
    std::wstring logStamp;   // the date and time in each log's name
    std::vector<MsiProductAnswer> products;
};

class ProductFamily {
public:
    // Enumerates the products of upgradeCode; the first installer result
    // other than 0 (the end, or an upgrade code the installer refuses) ends
    // the enumeration and keeps what was found until then.
    ProductFamily(platform::Platform& os, const std::wstring& upgradeCode);
    virtual ~ProductFamily() = default;
    ProductFamily(const ProductFamily&) = delete;
    ProductFamily& operator=(const ProductFamily&) = delete;

    virtual DWORD GetCount() const;
    // Hides every product's Add/Remove entry but the newest one's (of equal
    // versions the first enumerated stays visible); the number hidden.
    virtual DWORD HideOldAddRemoves();
    // Uninstalls newest first with the installer's user interface off; the
    // number uninstalled. Products that failed stay in the family. A 1618
    // (another installation is in progress) ends the walk: every later
    // product would meet it too. With a report, each product's answers go
    // into it and its installer log into the report's folder.
    virtual DWORD UninstallAll(MsiToolReport* report = nullptr);

    const std::list<std::unique_ptr<Product>>& Products() const { return products; }

protected:
    // The newest product (the earliest of equals); null for an empty family.
    Product* FindNewest() const;

    platform::Platform& os_;
    std::wstring upgradeCode;
    std::list<std::unique_ptr<Product>> products;
};
