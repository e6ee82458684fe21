// The LSP reset's passes over the Winsock catalogue. Wine's catalogue holds
// base providers only and its deinstall does nothing, so layered providers,
// chains, refusals and a catalogue growing mid-read come from a scripted
// catalogue here; one test reads Wine's own.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "actions/lsp_reset.h"
#include "profile/engine.h"
#include "tests/support/test_dialog.h"
#include "tests/support/test_platform.h"
#include "trace/trace.h"

namespace {

using testing_support::TestDialog;
using testing_support::TestPlatform;

GUID Provider(unsigned char n) { return GUID{0x0c1ea400u + n, 0, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, n}}; }

WSAPROTOCOL_INFOW Entry(DWORD id, unsigned char provider, int chainLength) {
    WSAPROTOCOL_INFOW entry = {};
    entry.dwCatalogEntryId = id;
    entry.ProviderId = Provider(provider);
    entry.ProtocolChain.ChainLen = chainLength;
    return entry;
}

// A catalogue as Windows keeps it: deinstalling a provider removes all of
// its entries at once; a provider that is gone, or that refuses, fails.
class CataloguePlatform : public TestPlatform {
public:
    std::vector<WSAPROTOCOL_INFOW> entries;
    std::vector<unsigned char> refusing;  // providers whose deinstall fails
    bool unreadable = false;              // the size query fails with WSASYSNOTREADY
    bool growsOnce = false;               // an entry arrives right after the first size query
    int sizeQueries = 0;                  // the passes made
    std::vector<unsigned char> deinstalls;
    std::vector<std::wstring> started;    // command lines CreateProcessW was given; none starts

    int WSCEnumProtocols(LPINT protocols, LPWSAPROTOCOL_INFOW buffer, LPDWORD length, LPINT error) override {
        EXPECT_EQ(protocols, nullptr);
        const DWORD needed = static_cast<DWORD>(entries.size() * sizeof(WSAPROTOCOL_INFOW));
        if (!buffer) {
            ++sizeQueries;
            if (unreadable) return *error = WSASYSNOTREADY, SOCKET_ERROR;
            *length = needed;
            if (growsOnce) {
                growsOnce = false;
                entries.push_back(Entry(9000, 90, LAYERED_PROTOCOL));
            }
            return *error = WSAENOBUFS, SOCKET_ERROR;
        }
        if (*length < needed) return *length = needed, *error = WSAENOBUFS, SOCKET_ERROR;
        std::copy(entries.begin(), entries.end(), buffer);
        return static_cast<int>(entries.size());
    }
    int WSCDeinstallProvider(LPGUID providerId, LPINT error) override {
        deinstalls.push_back(providerId->Data4[7]);
        const unsigned char provider = providerId->Data4[7];
        const auto same = [&](const WSAPROTOCOL_INFOW& e) { return e.ProviderId.Data4[7] == provider; };
        const bool present = std::any_of(entries.begin(), entries.end(), same);
        if (!present || std::count(refusing.begin(), refusing.end(), provider) != 0) {
            return *error = WSAEFAULT, SOCKET_ERROR;
        }
        entries.erase(std::remove_if(entries.begin(), entries.end(), same), entries.end());
        return 0;
    }
    BOOL CreateProcessW(LPCWSTR, LPWSTR commandLine, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL, DWORD,
                        LPVOID, LPCWSTR, LPSTARTUPINFOW, LPPROCESS_INFORMATION) override {
        started.push_back(commandLine);
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
};

const WSAPROTOCOL_INFOW kTcp = Entry(1001, 1, BASE_PROTOCOL);
const WSAPROTOCOL_INFOW kUdp = Entry(1002, 2, BASE_PROTOCOL);
// A layered provider (3) and its two chains, which share provider 4.
const WSAPROTOCOL_INFOW kLayered = Entry(1003, 3, LAYERED_PROTOCOL);
const WSAPROTOCOL_INFOW kChainTcp = Entry(1004, 4, 2);
const WSAPROTOCOL_INFOW kChainUdp = Entry(1005, 4, 2);

struct PassCase {
    const char* name;
    std::vector<WSAPROTOCOL_INFOW> catalogue;
    std::vector<unsigned char> refusing;
    bool unreadable, growsOnce, wow64, cancelled;
    int passes;
    std::vector<unsigned char> deinstalls;
    size_t entriesLeft;
};

TEST(LspReset, PassesOverTheCatalogue) {
    const PassCase cases[] = {
        // Each entry that is not a base provider is deinstalled, the second
        // chain's call failing since its provider went with the first.
        {"layered provider with two chains", {kTcp, kLayered, kChainTcp, kUdp, kChainUdp}, {}, false, false, true, false,
         2, {3, 4, 4}, 2},
        {"base providers only", {kTcp, kUdp}, {}, false, false, true, false, 1, {}, 2},
        {"catalogue unreadable", {kTcp, kLayered}, {}, true, false, true, false, 1, {}, 2},
        // The second call of Load fails; the pass counts nothing and ends
        // the loop without a deinstall.
        {"catalogue grows during Load", {kTcp, kLayered}, {}, false, true, true, false, 1, {}, 3},
        {"provider refuses", {kTcp, kLayered}, {3}, false, false, true, false, 5, {3, 3, 3, 3, 3}, 2},
        {"cancel set before the step", {kTcp, kLayered, kChainTcp}, {}, false, false, true, true, 2, {3, 4}, 1},
        {"32-bit Windows", {kTcp, kLayered}, {}, false, false, false, false, 2, {3}, 1},
    };
    for (const PassCase& c : cases) {
        SCOPED_TRACE(c.name);
        CataloguePlatform os;
        os.entries = c.catalogue;
        os.refusing = c.refusing;
        os.unreadable = c.unreadable;
        os.growsOnce = c.growsOnce;
        os.wow64 = c.wow64;
        TestDialog dialog;
        dialog.state = c.cancelled ? Cancelled : Running;
        CNuke engine(os);
        engine.dialog = &dialog;
        TraceShutdown();
        TraceSetOptions(-1, 0, false, false);
        TraceSetPlatform(&os);
        const DWORD rc = engine.ResetLspStack();
        TraceSetPlatform(nullptr);

        EXPECT_EQ(rc, c.cancelled ? static_cast<DWORD>(ERROR_CANCELLED) : 0u);
        EXPECT_EQ(os.sizeQueries, c.passes);
        EXPECT_EQ(os.deinstalls, c.deinstalls);
        EXPECT_EQ(os.entries.size(), c.entriesLeft);
        // Each deinstall the catalogue took is one change of the run; a
        // utility that did not start leaves the 64-bit catalogue as it was.
        EXPECT_EQ(engine.removed > 0, c.entriesLeft < c.catalogue.size());
        EXPECT_EQ(engine.left.size(), c.wow64 ? 1u : 0u);
        std::string expected;
        if (c.wow64) {
            expected = "Running in 64bit environment, removing LSP from 64bit stack.\n"
                       "Calling UnInstall function from the installation utility.\n"
                       "Calling instvelps_x64 failed!\n"
                       "Not removed: the 64-bit Winsock catalogue is not reset: instvelps_x64.exe could not be "
                       "started from Clearway's folder (error 2)\n";
            ASSERT_EQ(os.started.size(), 1u);
            const std::wstring& line = os.started[0];
            EXPECT_EQ(line.front(), L'"');
            const std::wstring tail = L"\\instvelps_x64.exe\" uninstall";
            ASSERT_GT(line.size(), tail.size());
            EXPECT_EQ(line.substr(line.size() - tail.size()), tail);
        } else {
            EXPECT_TRUE(os.started.empty());
        }
        if (!c.cancelled) expected += "ResetLspStack was successful\n";
        EXPECT_EQ(os.DebugOutput(), expected);
    }
}

TEST(LspReset, CatalogueSnapshotHoldsTheEntriesInOrder) {
    CataloguePlatform os;
    os.entries = {kTcp, kLayered, kChainTcp};
    ProtocolCatalog catalog(os);
    ASSERT_TRUE(catalog.Load());
    ASSERT_EQ(catalog.GetEntryCount(), 3);
    EXPECT_EQ(catalog.GetEntry(2)->dwCatalogEntryId, 1004u);
    EXPECT_EQ(reinterpret_cast<const BYTE*>(catalog.GetEntry(2)) - reinterpret_cast<const BYTE*>(catalog.GetEntry(0)),
              2 * 628);
    EXPECT_EQ(catalog.GetEntry(3), nullptr);
    os.growsOnce = true;
    EXPECT_FALSE(catalog.Load());
    EXPECT_EQ(catalog.GetEntryCount(), 0);
    EXPECT_EQ(catalog.GetEntry(0), nullptr);
}

// Wine's own 32-bit catalogue (measured: seven base providers, TCP/IP to SPX II).
TEST(LspReset, WineCatalogueHoldsBaseProvidersOnly) {
    TestPlatform os;
    ProtocolCatalog catalog(os);
    ASSERT_TRUE(catalog.Load());
    EXPECT_GT(catalog.GetEntryCount(), 0);
    for (int i = 0; i < catalog.GetEntryCount(); ++i) {
        EXPECT_EQ(catalog.GetEntry(i)->ProtocolChain.ChainLen, BASE_PROTOCOL) << i;
    }
}

}  // namespace
