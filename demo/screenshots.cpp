// make screenshots: the real main dialog in its states and the warning
// dialog, drawn by Windows on a real display (scripts/screenshots.sh runs
// this under Xvfb), each saved as a PNG:
//   screenshots OUT_FOLDER
// writes ready.png, running.png, restart-needed.png, no-rights.png and
// warning.png. The run behind the dialog is scripted: every step succeeds at
// once, and the run holds in "Restoring system defaults..." until Running has
// been taken. The confirmation is answered Yes, nothing restarts, the firewall
// and Security Center objects are not reached, and the run's pauses are cut
// to 0.2 s: this program only shows, it removes nothing.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

#include "app/dialogs.h"
#include "app/resource.h"
#include "platform/platform.h"
#include "profile/engine.h"

namespace {

class ShotPlatform : public platform::Platform {
public:
    std::atomic<bool> admin{true};

    BOOL EqualSid(PSID a, PSID b) override { return admin ? platform::Platform::EqualSid(a, b) : FALSE; }
    int MessageBoxA(HWND, LPCSTR, LPCSTR, UINT type) override { return (type & MB_YESNO) ? IDYES : IDOK; }
    void Sleep(DWORD milliseconds) override { platform::Platform::Sleep(milliseconds > 200 ? 200 : milliseconds); }
    BOOL ExitWindowsEx(UINT, DWORD) override { return TRUE; }
    BOOL InitiateSystemShutdownExA(LPSTR, LPSTR, DWORD, BOOL, BOOL, DWORD) override { return TRUE; }
    BOOL MessageBeep(UINT) override { return TRUE; }
    HRESULT CoCreateInstance(REFCLSID, LPUNKNOWN, DWORD, REFIID, LPVOID* object) override {
        *object = nullptr;
        return REGDB_E_CLASSNOTREG;
    }
};

class ScriptedEngine : public CNuke {
public:
    explicit ScriptedEngine(platform::Platform& os) : CNuke(os) {}
    HANDLE holding = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);  // the run holds
    HANDLE goOn = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);     // and may go on

    DWORD InitializeLists(int, int) override { return 0; }
    DWORD PopulateLists() override { return 0; }
    DWORD MsiUninstall() override { return 0; }
    DWORD StopNTProcesses() override { return 0; }
    DWORD StopNTServices() override { return 0; }
    DWORD ResetLspStack() override {
        ::SetEvent(holding);
        ::WaitForSingleObject(goOn, INFINITE);
        return 0;
    }
    DWORD CleanupFiles() override { return 0; }
    DWORD CleanupRegValues() override { return 0; }
    DWORD CleanupRegKeys() override { return 0; }
    DWORD StartProcesses() override { return 0; }
};

unsigned long Crc(const std::string& bytes) {
    static unsigned long table[256];
    if (table[1] == 0) {
        for (unsigned long n = 0; n < 256; ++n) {
            unsigned long c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320UL ^ (c >> 1) : c >> 1;
            table[n] = c;
        }
    }
    unsigned long crc = 0xFFFFFFFFUL;
    for (unsigned char byte : bytes) crc = table[(crc ^ byte) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFUL;
}

void PutBig(std::string& out, unsigned long value) {
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((value >> shift) & 0xFF);
}

void Chunk(std::string& png, const char* type, const std::string& data) {
    PutBig(png, static_cast<unsigned long>(data.size()));
    const std::string body = type + data;
    png += body;
    PutBig(png, Crc(body));
}

// An 8-bit RGB PNG; the image data in stored (uncompressed) deflate blocks.
std::string Png(int width, int height, const std::string& rgbRows) {
    std::string png("\x89PNG\r\n\x1a\n", 8), header;
    PutBig(header, static_cast<unsigned long>(width));
    PutBig(header, static_cast<unsigned long>(height));
    header += std::string("\x08\x02\x00\x00\x00", 5);
    Chunk(png, "IHDR", header);
    std::string zlib("\x78\x01", 2);
    for (size_t at = 0; at < rgbRows.size() || at == 0; at += 65535) {
        const size_t length = rgbRows.size() - at < 65535 ? rgbRows.size() - at : 65535;
        zlib += static_cast<char>(at + length >= rgbRows.size() ? 1 : 0);
        zlib += static_cast<char>(length & 0xFF);
        zlib += static_cast<char>(length >> 8);
        zlib += static_cast<char>(~length & 0xFF);
        zlib += static_cast<char>((~length >> 8) & 0xFF);
        zlib.append(rgbRows, at, length);
        if (length == 0) break;
    }
    unsigned long a = 1, b = 0;
    for (unsigned char byte : rgbRows) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    PutBig(zlib, (b << 16) | a);
    Chunk(png, "IDAT", zlib);
    Chunk(png, "IEND", "");
    return png;
}

// The window as the screen shows it.
bool Shoot(HWND window, const std::string& path) {
    ::SetForegroundWindow(window);
    ::RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
    ::Sleep(700);  // the display catches up
    RECT rect;
    ::GetWindowRect(window, &rect);
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    HDC screen = ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = ::CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = ::SelectObject(memory, bitmap);
    const bool copied = ::BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY) != 0;
    ::GdiFlush();
    std::string rows;
    rows.reserve(static_cast<size_t>(height) * (width * 3 + 1));
    const unsigned char* pixel = static_cast<const unsigned char*>(bits);
    for (int y = 0; y < height; ++y) {
        rows += '\0';  // filter: none
        for (int x = 0; x < width; ++x, pixel += 4) {
            rows += static_cast<char>(pixel[2]);
            rows += static_cast<char>(pixel[1]);
            rows += static_cast<char>(pixel[0]);
        }
    }
    ::SelectObject(memory, old);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
    FILE* file = std::fopen(path.c_str(), "wb");
    const std::string png = Png(width, height, rows);
    const bool written = file && std::fwrite(png.data(), 1, png.size(), file) == png.size();
    if (file) std::fclose(file);
    std::printf("%s %s (%dx%d)%s%s\n", copied && written ? "saved" : "FAILED", path.c_str(), width, height,
                copied ? "" : ", no copy of the screen", written ? "" : ", not written");
    return copied && written;
}

struct DialogSearch {
    const char* caption;
    HWND found;
};

BOOL CALLBACK MatchDialog(HWND window, LPARAM parameter) {
    DialogSearch& search = *reinterpret_cast<DialogSearch*>(parameter);
    DWORD process = 0;
    ::GetWindowThreadProcessId(window, &process);
    char className[64] = {}, text[128] = {};
    ::GetClassNameA(window, className, sizeof className);
    ::GetWindowTextA(window, text, sizeof text);
    if (process == ::GetCurrentProcessId() && ::IsWindowVisible(window) && std::string(className) == "#32770" &&
        std::string(text) == search.caption) {
        search.found = window;
        return FALSE;
    }
    return TRUE;
}

// A visible dialog window of this process with that caption ("" for none).
HWND WaitForDialog(const char* caption) {
    DialogSearch search = {caption, nullptr};
    for (int i = 0; i < 600 && !search.found; ++i) {
        ::EnumWindows(MatchDialog, reinterpret_cast<LPARAM>(&search));
        if (!search.found) ::Sleep(100);
    }
    return search.found;
}

void Press(HWND dialog, int id) {
    ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(::GetDlgItem(dialog, id)));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: screenshots OUT_FOLDER\n");
        return 2;
    }
    const std::string out = std::string(argv[1]) + "\\";
    ::CreateDirectoryA(argv[1], nullptr);
    ShotPlatform os;
    ScriptedEngine engine(os);
    bool ok = true;

    // Ready, then Start: Running while the run holds, then RestartNeeded.
    {
        CZerlinDlg dialog(os, engine);
        dialog.silent = 0;
        std::thread shooter([&] {
            HWND window = WaitForDialog("Clearway");
            if (!window) {
                ok = false;
                return;
            }
            ok &= Shoot(window, out + "ready.png");
            Press(window, IDC_START);
            ::WaitForSingleObject(engine.holding, 30000);
            ok &= Shoot(window, out + "running.png");
            ::SetEvent(engine.goOn);
            for (int i = 0; i < 300 && dialog.runState.load() != RestartNeeded; ++i) ::Sleep(100);
            ok &= Shoot(window, out + "restart-needed.png");
            ::PostMessageA(window, WM_CLOSE, 0, 0);
        });
        dialog.DoModal();
        shooter.join();
    }

    // Without administrator rights the dialog opens Failed and offers Quit.
    {
        os.admin = false;
        CZerlinDlg dialog(os, engine);
        dialog.silent = 0;
        std::thread shooter([&] {
            HWND window = WaitForDialog("Clearway");
            if (!window) {
                ok = false;
                return;
            }
            ok &= Shoot(window, out + "no-rights.png");
            Press(window, IDC_START);
        });
        dialog.DoModal();
        shooter.join();
        os.admin = true;
    }

    // A product of the maker that must go first: the warning, before the
    // main dialog shows.
    {
        const char corvey[] = "SOFTWARE\\Velmoran Corporation\\Velmoran Corvey";
        HKEY key = nullptr;
        ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, corvey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
        if (key) ::RegCloseKey(key);
        CZerlinDlg dialog(os, engine);
        dialog.silent = 0;
        std::thread shooter([&] {
            HWND window = WaitForDialog("");
            if (!window) {
                ok = false;
                return;
            }
            ok &= Shoot(window, out + "warning.png");
            Press(window, IDC_EXIT);
        });
        dialog.DoModal();
        shooter.join();
        ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, corvey);
    }
    return ok ? 0 : 1;
}
