// The services Windows needs: which a removal may stop and delete. Decided
// on what the service control manager holds for each (its program, how it
// starts, who depends on it), never on its name alone.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace platform { class Platform; }

namespace guard {

// The program a service runs, as a full path, from its configured image
// path ("\SystemRoot\...", "System32\drivers\x.sys", "\??\C:\...",
// "%SystemRoot%\...", a quoted path with arguments); a driver without one
// runs System32\drivers\<name>.sys. Empty when there is none to name.
std::string ServiceImageFile(platform::Platform& os, const char* name, const QUERY_SERVICE_CONFIGA& config);

// True when the file's version resource names the maker as its company.
bool MadeByMaker(platform::Platform& os, const std::string& file);

// Why the service may not be stopped or deleted, whatever an entry says, or
// empty: its program is Windows' own (owned by TrustedInstaller), or it
// starts with Windows (boot or system start) from the Windows folder and
// is not the product's. A service that cannot be looked at is left to the
// removal, which reports it.
std::string RefusesService(platform::Platform& os, SC_HANDLE manager, const char* name);

// Which services depend on which, read once from every service's
// configuration (a service's own list of what it needs: the list of
// dependents Windows keeps is not given by every system).
class ServiceDependents {
public:
    ServiceDependents(platform::Platform& os, SC_HANDLE manager);
    // The services that need the named one, by name.
    std::vector<std::string> Of(const char* name) const;

private:
    struct Need {
        std::string dependent, needed;
    };
    std::vector<Need> needs_;
};

}  // namespace guard
