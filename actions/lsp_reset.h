// A snapshot of the Winsock 2 service-provider catalogue of this process's
// view, for the LSP reset.
#pragma once
#include <winsock2.h>
#include <windows.h>

namespace platform { class Platform; }

class ProtocolCatalog {
public:
    explicit ProtocolCatalog(platform::Platform& os);
    ~ProtocolCatalog();
    ProtocolCatalog(const ProtocolCatalog&) = delete;
    ProtocolCatalog& operator=(const ProtocolCatalog&) = delete;

    // Forgets the buffer without freeing it (for a fresh object).
    void Clear();
    // Frees the buffer; count and size become 0.
    void Release();
    // Reads the catalogue: the size first, then the entries. False, with the
    // catalogue released, when either call fails (a catalogue that grew in
    // between is not read again).
    bool Load();
    int GetEntryCount() const;
    // The entry at index; null outside 0 .. count-1.
    const WSAPROTOCOL_INFOW* GetEntry(int index) const;

private:
    platform::Platform& os_;
    int count_;
    BYTE* buffer_;  // owned, count_ records of sizeof(WSAPROTOCOL_INFOW)
    DWORD size_;    // bytes in buffer_
};
