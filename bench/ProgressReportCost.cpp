// The cost of one progress report in the updater's dialog. The real
// UpdateDialog runs on a thread of its own (its download pointed at a
// listener that never answers, so the real download sends next to nothing),
// and this thread reports a stream shaped like a download's into that
// download, as its thread does: the report is kept in the download's job and
// WM_DOWNLOAD_PROGRESS sent, and the dialog reads it back. Two dialogs from
// the same template on a second thread take the same stream sent by address:
// one does only the bare control updates (status text and PBM_SETPOS, with
// the texts fetched beforehand), the baseline; the other looks its status
// text up through StatusTextCache, as the dialog does.
#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "BenchTiming.h"
#include "DownloadMessages.h"
#include "ProductKey.h"
#include "RegistryKey.h"
#include "StatusTextCache.h"
#include "TextProvider.h"
#include "UniqueHandle.h"
#include "UpdateDecision.h"
#include "UpdateDialog.h"
#include "resources/resource.h"

namespace {
constexpr int kRuns = 7;
constexpr std::uint32_t kDataReports = 300;
constexpr std::uint32_t kBytesPerReport = 16384;

// Finding the resource, connecting, sending the request, the MIME type, the
// start of the data, then data reports up to the end of the data.
std::vector<DownloadProgress> DownloadLikeStream()
{
    std::vector<DownloadProgress> stream;
    const std::uint32_t total = kDataReports * kBytesPerReport;
    for (std::uint32_t code : {1u, 2u, 11u, 13u, 4u}) stream.push_back({0, 0, code});
    for (std::uint32_t i = 1; i <= kDataReports; ++i) stream.push_back({i * kBytesPerReport, total, 5});
    stream.push_back({total, total, 6});
    return stream;
}

std::wstring g_fixedTexts[kOtherStatusCode + 1];
StatusTextCache* g_cache = nullptr;

void ShowProgress(HWND dialog, const DownloadProgress& report)
{
    const int percent = ProgressPercent(report.progress, report.progressMax);
    if (percent >= 0) SendDlgItemMessageW(dialog, IDC_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(percent), 0);
}

INT_PTR CALLBACK BareProc(HWND dialog, UINT message, WPARAM, LPARAM lParam)
{
    if (message == WM_INITDIALOG) return TRUE;
    if (message != WM_DOWNLOAD_PROGRESS) return FALSE;
    const auto& report = *reinterpret_cast<const DownloadProgress*>(lParam);
    SetDlgItemTextW(dialog, IDC_STATUS, g_fixedTexts[report.statusCode].c_str());
    ShowProgress(dialog, report);
    return TRUE;
}

INT_PTR CALLBACK CachedProc(HWND dialog, UINT message, WPARAM, LPARAM lParam)
{
    if (message == WM_INITDIALOG) return TRUE;
    if (message != WM_DOWNLOAD_PROGRESS) return FALSE;
    const auto& report = *reinterpret_cast<const DownloadProgress*>(lParam);
    const std::wstring& status = g_cache->TextFor(report.statusCode);
    if (!status.empty()) SetDlgItemTextW(dialog, IDC_STATUS, status.c_str());
    ShowProgress(dialog, report);
    return TRUE;
}

struct CompareDialogs {
    HWND bare = nullptr;
    HWND cached = nullptr;
    UniqueHandle ready{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
};

DWORD WINAPI RunCompareDialogs(void* parameter)
{
    auto* dialogs = static_cast<CompareDialogs*>(parameter);
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    dialogs->bare = CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_UPDATE), nullptr, BareProc, 0);
    if (!dialogs->bare) std::printf("bare dialog: error %lu\n", GetLastError());
    dialogs->cached = CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_UPDATE), nullptr, CachedProc, 0);
    // Shown like the real one, so that every text change is painted in all three.
    ShowWindow(dialogs->bare, SW_SHOWNOACTIVATE);
    ShowWindow(dialogs->cached, SW_SHOWNOACTIVATE);
    SetEvent(dialogs->ready.get());
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
    return 0;
}

DWORD WINAPI RunRealDialog(void* dialog)
{
    static_cast<UpdateDialog*>(dialog)->Run(GetModuleHandleW(nullptr), nullptr);
    return 0;
}

BOOL CALLBACK FindUpdateDialog(HWND window, LPARAM found)
{
    if (!GetDlgItem(window, IDC_PROGRESS)) return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

// Microseconds per report for the whole stream, sent by address to a bare
// or cached dialog.
double MicrosecondsPerReport(HWND dialog, const std::vector<DownloadProgress>& stream)
{
    const double start = NowMs();
    for (const DownloadProgress& report : stream)
        SendMessageW(dialog, WM_DOWNLOAD_PROGRESS, 0, reinterpret_cast<LPARAM>(&report));
    return (NowMs() - start) * 1000.0 / static_cast<double>(stream.size());
}

void SetProductString(const wchar_t* name, const std::wstring& value)
{
    RegistryKey key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kProductKeyPath, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(),
                        nullptr) == ERROR_SUCCESS)
        RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}
}  // namespace

// Reports into the real dialog's running download as its download thread
// does: the job keeps the report and sends WM_DOWNLOAD_PROGRESS naming it.
class UpdateDialogProbe {
public:
    static double MicrosecondsPerReport(UpdateDialog& dialog, const std::vector<DownloadProgress>& stream)
    {
        DownloadJob* job = dialog.worker_.job.get();
        if (!job) return 0;
        const double start = NowMs();
        for (const DownloadProgress& report : stream) job->Report(report);
        return (NowMs() - start) * 1000.0 / static_cast<double>(stream.size());
    }
};

int main()
{
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);

    // A listener that takes connections into its backlog and never answers:
    // the real dialog's download waits there instead of reporting.
    WSADATA winsock;
    WSAStartup(MAKEWORD(2, 2), &winsock);
    const SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof(address);
    if (listener == INVALID_SOCKET || bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        listen(listener, 8) != 0 || getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        std::printf("no loopback listener\n");
        return 1;
    }
    const std::wstring silentServer = L"http://127.0.0.1:" + std::to_wstring(ntohs(address.sin_port)) + L"/files";
    SetProductString(L"SoftServerUrl", silentServer);
    SetProductString(L"SoftServerUrl_X64", silentServer);

    const TextProvider texts;
    for (std::uint32_t code = 1; code <= kOtherStatusCode; ++code)
        g_fixedTexts[code] = texts.GetText((L"StatusCode" + std::to_wstring(code)).c_str());
    if (g_fixedTexts[5].empty()) {
        std::printf("R7Glossa_WRZ.dll gives no texts beside the benchmark\n");
        return 1;
    }
    StatusTextCache cache(texts);
    g_cache = &cache;

    CompareDialogs compare;
    DWORD realThreadId = 0;
    UniqueHandle compareThread(CreateThread(nullptr, 0, RunCompareDialogs, &compare, 0, nullptr));
    const bool compareReady = WaitForSingleObject(compare.ready.get(), 30000) == WAIT_OBJECT_0;
    static UpdateDialog realDialog;  // lives until ExitProcess, beside its thread
    UniqueHandle realThread(CreateThread(nullptr, 0, RunRealDialog, &realDialog, 0, &realThreadId));
    HWND real = nullptr;
    for (int i = 0; i < 600 && !real; ++i) {
        Sleep(50);
        EnumThreadWindows(realThreadId, FindUpdateDialog, reinterpret_cast<LPARAM>(&real));
    }
    if (!compareReady || !real || !compare.bare || !compare.cached) {
        std::printf("the dialogs did not come up (real %d, bare %d, cached %d)\n", real != nullptr,
                    compare.bare != nullptr, compare.cached != nullptr);
        return 1;
    }

    const std::vector<DownloadProgress> stream = DownloadLikeStream();
    std::vector<double> realTimes, bareTimes, cachedTimes;
    for (int run = 0; run < kRuns; ++run) {
        // Each download starts with a cache that knows nothing.
        cache.Forget();
        realTimes.push_back(UpdateDialogProbe::MicrosecondsPerReport(realDialog, stream));
        bareTimes.push_back(MicrosecondsPerReport(compare.bare, stream));
        cachedTimes.push_back(MicrosecondsPerReport(compare.cached, stream));
    }
    PrintFigure("progress report in the real dialog (us/report)", Median(realTimes), Median(bareTimes), "us");
    PrintFigure("progress report with StatusTextCache (us/report)", Median(cachedTimes), Median(bareTimes), "us");
    PrintNote("one GetText lookup (us)", MedianOf(kRuns, [&] {
                  const double start = NowMs();
                  for (int i = 0; i < 100; ++i) texts.GetText(L"StatusCode5");
                  return (NowMs() - start) * 1000.0 / 100;
              }), "us");
    std::fflush(stdout);
    RegistryKey product;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProductKeyPath, 0, KEY_SET_VALUE, product.put()) == ERROR_SUCCESS) {
        RegDeleteValueW(product.get(), L"SoftServerUrl");
        RegDeleteValueW(product.get(), L"SoftServerUrl_X64");
    }
    // The real dialog's download still waits on the silent listener; ending
    // the process here spares waiting for its time-out.
    ExitProcess(0);
}
