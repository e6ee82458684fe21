// CDetector: what is installed, and whether a removal may run. It reads the
// installed product's name and folder, lists services and processes, and
// finds the two conditions that stop the program before anything is
// removed: other products of the maker that must go first, and a product
// folder whose removal would destroy personal or system data.
#pragma once
#include <windows.h>

#include <string>

#include "platform/handles.h"

namespace platform { class Platform; }

class CDetector {
public:
    explicit CDetector(platform::Platform& os);
    virtual ~CDetector();
    CDetector(const CDetector&) = delete;
    CDetector& operator=(const CDetector&) = delete;

    // The product name, then the service and process scan of the platform.
    // GetLastError() after the scan; -1 (last error 1151) on a platform that
    // is neither NT nor 9x.
    DWORD DetectProducts();
    // 1 when message lists products that must be uninstalled first.
    int CheckIncompatibleProducts();
    // 1 when message says the product folder must not be removed.
    int CheckInstallLocation();

    bool RetrieveProductName();
    bool RetrieveParloweProductName();
    void RetrieveQuillProductName();
    DWORD EnumerateServicesAndProcesses();
    DWORD EnumerateProcesses9x();
    bool ReadParloweInstallPath();
    void ReadRootInstallPath();

    std::string productsFound9x;
    std::string message;
    std::string installPath;
    std::string productName;
    int isNT = 0;
    int warn = 0;
    DWORD serviceCount = 0;
    ENUM_SERVICE_STATUSA* services = nullptr;  // LocalAlloc'd, serviceCount records
    std::string clientProcessPath;
    int lastInstalledProduct = 0;

private:
    // Reads a text value that may exceed 514 bytes into installPath and sets
    // message to the text for its size; false when the key or value is
    // missing.
    bool ReadInstallPath(const char* keyPath, const char* valueName, const char* fittedTabs, const char* largerTabs);
    // The module path of a process, or empty when it cannot be read.
    std::string ProcessImagePath(DWORD processId);
    bool KeyExists(const char* keyPath);

    platform::Platform& os_;
    platform::ServiceHandle scManager_;  // open while the service records are read
    platform::LocalMemory servicesMemory_;
};
