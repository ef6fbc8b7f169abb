// hostile_sender.exe MILLISECONDS SEED
//
// Plays another program on the desktop that throws the updater's private
// message numbers at it, for the end-to-end tests. For MILLISECONDS it posts
// and sends WM_USER + 1001 and WM_USER + 1002, and the Install command (1003)
// as WM_COMMAND, to the update dialog, and broadcasts them to every top-level
// window, with wParam and lParam taken from boundary values and from a random
// stream seeded with SEED. Every boundary value goes to the dialog first,
// posted and sent (2 x 3 x 23 = 138 hits), however long that takes. Then it probes the dialog with SendMessageTimeout
// (5 s) and answers one line:
//
//   probe=<ok|timeout|nowindow>\tposted=N\tsent=N\tbroadcast=N\tseed=SEED
//
// A send that the dialog does not answer within a second is given up, so a
// hung dialog cannot hang the helper; the probe tells.
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cwchar>

namespace {
constexpr UINT kProgress = WM_USER + 1001;
constexpr UINT kDone = WM_USER + 1002;
constexpr WORD kInstall = 1003;
constexpr int kProgressBarId = 1001;

// The update dialog: a visible dialog-class window with the progress bar.
BOOL CALLBACK FindUpdateDialog(HWND window, LPARAM found)
{
    wchar_t className[16] = L"";
    GetClassNameW(window, className, 16);
    if (lstrcmpW(className, L"#32770") != 0 || !GetDlgItem(window, kProgressBarId)) return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

HWND UpdateDialog()
{
    HWND found = nullptr;
    EnumWindows(FindUpdateDialog, reinterpret_cast<LPARAM>(&found));
    return found;
}

// xorshift32: the same stream for the same seed, so a failure can be replayed.
class Random {
public:
    explicit Random(std::uint32_t seed) : state_(seed ? seed : 1) {}
    std::uint32_t Next()
    {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return state_;
    }

private:
    std::uint32_t state_;
};

// Boundary values, the small numbers a download's generation most likely
// has, and addresses that are null, odd, unmapped, or kernel space.
const std::uint32_t kBoundaries[] = {0,          1,          2,          3,          4,          5,
                                     6,          7,          8,          16,         0x7FFF,     0x8000,
                                     0xFFFF,     0x10000,    0x7FFFFFFF, 0x80000000, 0xFFFFFFFE, 0xFFFFFFFF,
                                     0x00001000, 0x00400000, 0x0BADF00D, 0xDEADBEEF, 0xC0000000};

std::uint32_t Value(Random& random)
{
    const std::uint32_t pick = random.Next();
    if (pick % 3 == 0) return pick;  // anything at all
    return kBoundaries[(pick >> 8) % (sizeof(kBoundaries) / sizeof(kBoundaries[0]))];
}
}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3) {
        std::fputs("usage: hostile_sender MILLISECONDS SEED\n", stderr);
        return 2;
    }
    const DWORD duration = static_cast<DWORD>(std::wcstoul(argv[1], nullptr, 10));
    const std::uint32_t seed = static_cast<std::uint32_t>(std::wcstoul(argv[2], nullptr, 10));
    Random random(seed);
    unsigned posted = 0, sent = 0, broadcast = 0;

    const DWORD start = GetTickCount();
    // First every boundary value once as wParam and once as lParam of each
    // message, posted and sent straight to the dialog: the cases most likely
    // to matter are thrown whatever the machine's load makes of the time.
    const UINT messages[] = {kProgress, kDone, WM_COMMAND};
    constexpr std::size_t kBoundaryCount = sizeof(kBoundaries) / sizeof(kBoundaries[0]);
    for (const UINT message : messages) {
        for (std::size_t i = 0; i < kBoundaryCount; ++i) {
            WPARAM wParam = kBoundaries[i];
            if (message == WM_COMMAND) wParam = MAKEWPARAM(kInstall, static_cast<WORD>(kBoundaries[i]));
            const LPARAM lParam = static_cast<LPARAM>(kBoundaries[kBoundaryCount - 1 - i]);
            HWND dialog = UpdateDialog();
            if (!dialog) break;
            DWORD_PTR answer = 0;
            if (PostMessageW(dialog, message, wParam, lParam)) ++posted;
            if (SendMessageTimeoutW(dialog, message, wParam, lParam, SMTO_NORMAL, 1000, &answer)) ++sent;
        }
    }
    // Then random values, by every road, for the rest of the time.
    while (GetTickCount() - start < duration) {
        const UINT message = messages[random.Next() % 3];
        WPARAM wParam = Value(random);
        // The Install command, with any notification code in the high word.
        if (message == WM_COMMAND) wParam = MAKEWPARAM(kInstall, static_cast<WORD>(Value(random)));
        const LPARAM lParam = static_cast<LPARAM>(Value(random));
        DWORD_PTR answer = 0;
        HWND dialog = UpdateDialog();
        switch (random.Next() % 4) {
        case 0:
            if (dialog && PostMessageW(dialog, message, wParam, lParam)) ++posted;
            break;
        case 1:
            if (dialog && SendMessageTimeoutW(dialog, message, wParam, lParam, SMTO_NORMAL, 1000, &answer)) ++sent;
            break;
        case 2:
            if (PostMessageW(HWND_BROADCAST, message, wParam, lParam)) ++broadcast;
            break;
        default:
            if (SendMessageTimeoutW(HWND_BROADCAST, message, wParam, lParam, SMTO_ABORTIFHUNG, 200, &answer))
                ++broadcast;
            break;
        }
        Sleep(random.Next() % 4);
    }

    const char* probe = "nowindow";
    if (HWND dialog = UpdateDialog()) {
        DWORD_PTR answer = 0;
        probe = SendMessageTimeoutW(dialog, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &answer) ? "ok" : "timeout";
    }
    std::printf("probe=%s\tposted=%u\tsent=%u\tbroadcast=%u\tseed=%u\n", probe, posted, sent, broadcast,
                static_cast<unsigned>(seed));
    std::fflush(stdout);
    return 0;
}
