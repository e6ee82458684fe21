// Every installed product of one MSI upgrade code, in the order the Windows
// Installer enumerates them. The family owns its products.
#pragma once
#include <windows.h>

#include <list>
#include <memory>
#include <string>

#include "msitool/product.h"

namespace platform { class Platform; }

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
    // number uninstalled. Products that failed stay in the family.
    virtual DWORD UninstallAll();

    const std::list<std::unique_ptr<Product>>& Products() const { return products; }

protected:
    // The newest product (the earliest of equals); null for an empty family.
    Product* FindNewest() const;

    platform::Platform& os_;
    std::wstring upgradeCode;
    std::list<std::unique_ptr<Product>> products;
};
