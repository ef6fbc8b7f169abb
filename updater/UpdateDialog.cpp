#include "UpdateDialog.h"

#include <commctrl.h>

#include "AnnouncementCheck.h"
#include "CommonControls.h"
#include "InstallerCheck.h"
#include "InstallerLaunch.h"
#include "ProductSettings.h"
#include "UpdateDecision.h"
#include "UniqueHandle.h"
#include "Wow64.h"
#include "resources/resource.h"

namespace {
constexpr INT_PTR kResultLaunched = 1;
constexpr INT_PTR kResultOther = 2;
}

INT_PTR UpdateDialog::Run(HINSTANCE instance, HWND owner)
{
    // The window system is brought up on this thread before the download
    // thread exists. Under Wine, two threads that bring it up at the same
    // time (the download's COM apartment window there, loading comctl32
    // here) can deadlock each other.
    GetSystemMetrics(SM_CXSCREEN);

    // The version file is fetched while the common controls are loaded and
    // the dialog is created, which take about as long as the fetch. Its
    // reports are held until the window exists.
    worker_.Init(nullptr);
    worker_.baseUrl = ReadProductString(IsWow64() ? L"SoftServerUrl_X64" : L"SoftServerUrl");
    worker_.fileName = kVersionFileName;
    StartDownload();
    commonControls_ = LoadCommonControls();

    const INT_PTR result =
        DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_UPDATE), owner, DialogProc, reinterpret_cast<LPARAM>(this));
    // The window is gone: nothing more is sent to it.
    worker_.AttachOwner(nullptr);
    // Off the way to the verdict, which the user has seen by now.
    RemoveLeftoverDownloadFolders(worker_.DownloadDir(), {kVersionFileName, kInstallerFileName});
    return result;
}

INT_PTR CALLBACK UpdateDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        auto* dialog = reinterpret_cast<UpdateDialog*>(lParam);
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        dialog->window_ = window;
        dialog->OnInitDialog();
        return FALSE;  // handled; the dialog manager leaves the keyboard focus alone
    }
    auto* dialog = reinterpret_cast<UpdateDialog*>(GetWindowLongPtrW(window, DWLP_USER));
    if (!dialog) return FALSE;
    switch (message) {
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_INSTALL) dialog->OnInstall();
        else if (LOWORD(wParam) == IDCANCEL) dialog->OnCancel();
        else return FALSE;
        break;
    case WM_DOWNLOAD_PROGRESS:
        dialog->OnDownloadProgress(wParam);  // lParam is never read
        break;
    case WM_DOWNLOAD_DONE:
        dialog->OnDownloadDone(wParam);
        break;
    default:
        // WM_DPICHANGED among them: under per-monitor awareness v2 the dialog
        // manager scales the dialog, its font and its controls itself when
        // the dialog moves to a monitor of another DPI.
        return FALSE;
    }
    SetWindowLongPtrW(window, DWLP_MSGRESULT, 0);
    return TRUE;
}

void UpdateDialog::OnInitDialog()
{
    SetWindowTextW(window_, texts_.GetText(L"Quillon").c_str());
    SetDlgItemTextW(window_, IDC_INSTALL, texts_.GetText(L"Install").c_str());
    SetDlgItemTextW(window_, IDCANCEL, texts_.GetText(L"Cancel").c_str());
    SetDlgItemTextW(window_, IDC_STATUS, texts_.GetText(L"StatusCode1").c_str());
    ShowWindow(GetDlgItem(window_, IDC_INSTALL), SW_HIDE);
    SendDlgItemMessageW(window_, IDC_PROGRESS, PBM_SETRANGE, 0, MAKELPARAM(0, 100));

    // The version file's fetch began before the window existed (Run); what
    // it has reported meanwhile, and its end, reach the window now.
    worker_.AttachOwner(window_);
}

void UpdateDialog::OnDownloadProgress(WPARAM generation)
{
    DownloadProgress report;
    if (!worker_.ReadProgress(generation, report)) return;  // another download's, or made up
    const std::wstring& status = statusTexts_.TextFor(report.statusCode);
    if (!status.empty()) SetDlgItemTextW(window_, IDC_STATUS, status.c_str());

    const int percent = ProgressPercent(report.progress, report.progressMax);
    if (percent >= 0) SendDlgItemMessageW(window_, IDC_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(percent), 0);
}

void UpdateDialog::OnDownloadDone(WPARAM generation)
{
    // Only the current download's end, once, and only once it has ended: a
    // made-up or repeated completion changes nothing.
    bool arrived = false;
    if (!worker_.TakeOutcome(generation, arrived)) return;
    if (!arrived) {
        OnUpdateFailed(UpdateFailure::DownloadFailed);
    } else if (worker_.fileName == kVersionFileName) {
        OnVersionFileArrived();
    } else {
        installerArrived_ = true;
        StartCheckedInstaller();
    }
}

void UpdateDialog::StartDownload()
{
    installerArrived_ = false;
    statusTexts_.Forget();
    worker_.Start();
}

void UpdateDialog::OnUpdateFailed(UpdateFailure failure)
{
    std::wstring text = texts_.GetText(FailureTextKey(failure));
    if (text.empty()) text = texts_.GetText(kFailureFallbackTextKey);
    int answer = 0;
    ShowMessage(text, MB_RETRYCANCEL | MB_ICONERROR, &answer);
    if (answer == IDRETRY)
        StartDownload();  // the same file from the same address
    else
        EndDialog(window_, kResultOther);
}

void UpdateDialog::StartCheckedInstaller()
{
    // Once checked, the file is either started or gone: a second Install
    // command finds nothing to act on.
    installerArrived_ = false;
    const std::wstring path = worker_.LocalPath();
    // Held open against writers and deleters from the check until the shell
    // has the file, so that what runs is what was checked. Without the hold
    // that promise cannot be kept, so the file is refused unchecked.
    UniqueHandle heldForLaunch(
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (heldForLaunch &&
        CheckInstaller(path, expectedInstallerHash_, UpdaterSignature()) == InstallerVerdict::Genuine) {
        // The started installer reads its own file as it runs; it stays.
        if (LaunchInstaller(window_, path)) worker_.KeepLocalFile();
        return;
    }
    // A refused file is not left behind for anyone to start by hand.
    heldForLaunch.reset();
    DeleteFileW(path.c_str());
    OnUpdateFailed(UpdateFailure::InstallerRefused);
}

void UpdateDialog::OnVersionFileArrived()
{
    const std::uint32_t installed = ReadProductDword(L"DisplayVersion");
    const std::uint32_t latest =
        GetPrivateProfileIntW(L"ServerSoftVersion", L"LatestVersion", 0, worker_.LocalPath().c_str());
    const std::wstring fallbackUrl = ReadProductString(L"SoftServerUrl");
    switch (DecideAfterVersionFile(installed, latest, IsWow64(), worker_.baseUrl, fallbackUrl)) {
    case NextStep::FetchInstaller: {
        // Checked before anything is fetched: a refused announcement starts
        // no download, and Retry fetches the version file again.
        const Announcement announcement = ReadAnnouncement(worker_.LocalPath());
        if (CheckAnnouncement(latest, announcement, UpdaterSignature()) != AnnouncementVerdict::Genuine) {
            OnUpdateFailed(UpdateFailure::InstallerRefused);
            break;
        }
        // For a signed updater this is the signed hash, always present.
        expectedInstallerHash_ = announcement.installerHash;
        worker_.fileName = kInstallerFileName;
        StartDownload();
        break;
    }
    case NextStep::FetchVersionFromFallback:
        worker_.baseUrl = fallbackUrl;
        worker_.fileName = kVersionFileName;
        StartDownload();
        break;
    case NextStep::ShowUpToDate:
        ShowMessage(texts_.GetText(L"SoftLatest"), MB_OK | MB_ICONWARNING);
        EndDialog(window_, kResultOther);
        break;
    }
}

const FileSignature& UpdateDialog::UpdaterSignature()
{
    if (!updaterSignatureRead_) {
        updaterSignature_ = ReadUpdaterSignature();
        updaterSignatureRead_ = true;
    }
    return updaterSignature_;
}

void UpdateDialog::OnInstall()
{
    // Anything else could check and start a file that is still being
    // written, or show the failure box mid-download, whose Retry would wait
    // for the running download while that download waits for this thread.
    if (installerArrived_) StartCheckedInstaller();
}

void UpdateDialog::OnCancel()
{
    // A running download is left alone here; it is stopped when the dialog
    // object goes, after the modal loop has ended.
    EndDialog(window_, kResultOther);
}

void UpdateDialog::ShowMessage(const std::wstring& text, UINT type, int* answer)
{
    const std::wstring caption = texts_.GetText(L"Quillon");
    const int result = MessageBoxW(window_, text.c_str(), caption.c_str(), type);
    if (answer) *answer = result;
}
