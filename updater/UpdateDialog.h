#pragma once
#include <windows.h>

#include "DownloadMessages.h"
#include "DownloadWorker.h"
#include "InstallerTrust.h"
#include "StatusTextCache.h"
#include "TextProvider.h"

// The updater's one window: fetches the version file, compares, fetches the
// installer and hands it to the shell. The worker's fileName is the only
// record of the step the update has reached.
class UpdateDialog {
public:
    // Runs the dialog modally from template IDD_UPDATE; gives back 1 when the
    // installer was handed to the shell, 2 otherwise.
    INT_PTR Run(HINSTANCE instance, HWND owner);

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    void OnInitDialog();
    void OnDownloadProgress(const DownloadProgress* report);
    void OnDownloadDone(bool succeeded);
    void OnInstall();
    void OnCancel();
    void OnDownloadFailed();
    // Starts the worker on its current file; each download looks its status
    // texts up afresh.
    void StartDownload();
    void OnVersionFileArrived();
    // Starts the downloaded installer when it passes the authenticity checks;
    // otherwise the download counts as failed.
    void StartCheckedInstaller();
    void ShowMessage(const wchar_t* textKey, UINT type, int* answer = nullptr);

    HWND window_ = nullptr;
    TextProvider texts_;
    // The status line of the running download, looked up again only when its
    // status changes: a download sends thousands of reports.
    StatusTextCache statusTexts_{texts_};
    // InstallerSha256 of the version file that announced the installer.
    ExpectedInstallerHash expectedInstallerHash_;
    // True only while a completely downloaded installer waits in LocalPath:
    // from its successful download until it is started, refused, or a new
    // download begins. The Install command can be posted by any process at
    // any time, and acts only then.
    bool installerArrived_ = false;
    // Declared last, destroyed first: destruction stops and waits for a
    // running download while the rest of the object still exists.
    DownloadWorker worker_;
};

// File names on the update server and in the download directory.
constexpr const wchar_t* kVersionFileName = L"WRZ_QVLVer.ini";
constexpr const wchar_t* kInstallerFileName = L"WRZ_QVL_Keyward_Install.exe";
