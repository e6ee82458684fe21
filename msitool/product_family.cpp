#include "msitool/product_family.h"

#include "platform/platform.h"

ProductFamily::ProductFamily(platform::Platform& os, const std::wstring& code) : os_(os), upgradeCode(code) {
    for (DWORD index = 0;; ++index) {
        wchar_t productCode[100] = {};
        if (os_.MsiEnumRelatedProductsW(upgradeCode.c_str(), 0, index, productCode) != ERROR_SUCCESS) break;
        products.push_back(std::make_unique<Product>(os_, productCode));
    }
}

DWORD ProductFamily::GetCount() const { return static_cast<DWORD>(products.size()); }

Product* ProductFamily::FindNewest() const {
    Product* newest = nullptr;
    for (const auto& product : products) {
        if (!newest || product->IsNewerThan(*newest)) newest = product.get();
    }
    return newest;
}

DWORD ProductFamily::HideOldAddRemoves() {
    if (GetCount() < 2) return 0;
    const Product* newest = FindNewest();
    DWORD hidden = 0;
    for (const auto& product : products) {
        if (product.get() != newest && product->HideFromAddRemove()) ++hidden;
    }
    return hidden;
}

namespace {

// Switches the installer's user interface off for its lifetime, so the level
// comes back also when an installer call ends in an exception.
class SilentInstallerUi {
public:
    explicit SilentInstallerUi(platform::Platform& os)
        : os_(os), previous_(os.MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr)) {}
    ~SilentInstallerUi() { os_.MsiSetInternalUI(previous_, nullptr); }
    SilentInstallerUi(const SilentInstallerUi&) = delete;
    SilentInstallerUi& operator=(const SilentInstallerUi&) = delete;

private:
    platform::Platform& os_;
    INSTALLUILEVEL previous_;
};

}  // namespace

DWORD ProductFamily::UninstallAll(MsiToolReport* report) {
    if (GetCount() == 0) return 0;
    DWORD removed = 0;
    {
        const SilentInstallerUi silent(os_);
        // Stable: equal versions keep their enumeration order.
        products.sort([](const std::unique_ptr<Product>& a, const std::unique_ptr<Product>& b) {
            return a->IsNewerThan(*b);
        });
        for (auto& product : products) {
            if (report && !report->logFolder.empty()) {
                product->logPath = report->logFolder + L"MSI " + product->GetProductCode() + L" " + report->logStamp +
                                   L".log";
                product->copyParent = report->logFolder;
            }
            const bool gone = product->Uninstall();
            if (report) {
                MsiProductAnswer answer;
                answer.productCode = product->GetProductCode();
                answer.configureCode = product->configureCode;
                answer.cachedTried = product->cachedTried;
                answer.cachedCode = product->cachedCode;
                answer.removed = gone;
                answer.logPath = product->logPath;
                report->products.push_back(answer);
            }
            if (!gone) {
                if (product->configureCode == ERROR_INSTALL_ALREADY_RUNNING) break;
                continue;
            }
            product.reset();
            ++removed;
        }
    }
    products.remove(nullptr);
    return removed;
}
