#pragma once
#include <windows.h>

#include "DownloadMessages.h"
#include "DownloadWorker.h"
#include "LoadedLibrary.h"
#include "InstallerTrust.h"
#include "StatusTextCache.h"
#include "TextProvider.h"
#include "UpdateDecision.h"

// The updater's one window: fetches the version file, compares, fetches the
// installer and hands it to the shell. The worker's fileName is the only
// record of the step the update has reached.
//
// Any program on the desktop can send or post messages to the dialog. Only
// the current download's own reports, read back from the worker, move it on;
// every other report message is ignored, and no pointer from a message is
// ever followed.
class UpdateDialog {
public:
    // Starts fetching the version file, then runs the dialog modally from
    // template IDD_UPDATE; gives back 1 when the installer was handed to the
    // shell, 2 otherwise. Download folders that earlier runs left are removed
    // once the dialog has ended.
    INT_PTR Run(HINSTANCE instance, HWND owner);

private:
    // The progress benchmark reports into the running download as its thread does.
    friend class UpdateDialogProbe;

    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    void OnInitDialog();
    // generation: the wParam of the message, naming the download it reports on.
    void OnDownloadProgress(WPARAM generation);
    void OnDownloadDone(WPARAM generation);
    void OnInstall();
    void OnCancel();
    // The failure box, with Retry and Cancel: the failure's own text, or
    // DownloadFail's where the language library has none for it.
    void OnUpdateFailed(UpdateFailure failure);
    // Starts the worker on its current file; each download looks its status
    // texts up afresh.
    void StartDownload();
    void OnVersionFileArrived();
    // Starts the downloaded installer when it passes the authenticity checks;
    // otherwise deletes it and shows the failure box of a refused installer.
    void StartCheckedInstaller();
    // A message box with the caption "Quillon" and the given text.
    void ShowMessage(const std::wstring& text, UINT type, int* answer = nullptr);
    // The updater's own signature, read at its first use and kept for the
    // run: the file it was started from is the same throughout.
    const FileSignature& UpdaterSignature();

    HWND window_ = nullptr;
    TextProvider texts_;
    // The status line of the running download, looked up again only when its
    // status changes: a download sends thousands of reports.
    StatusTextCache statusTexts_{texts_};
    // InstallerSha256 of the version file that announced the installer.
    ExpectedInstallerHash expectedInstallerHash_;
    FileSignature updaterSignature_;
    bool updaterSignatureRead_ = false;
    // True only while a completely downloaded installer waits in LocalPath:
    // from its successful download until it is started, refused, or a new
    // download begins. The Install command can be posted by any process at
    // any time, and acts only then.
    bool installerArrived_ = false;
    // comctl32, loaded by Run for the dialog's controls and kept until the
    // object goes.
    LoadedLibrary commonControls_;
    // Declared last, destroyed first: destruction stops and waits for a
    // running download while the rest of the object still exists.
    DownloadWorker worker_;
};

// File names on the update server and in the download directory.
constexpr const wchar_t* kVersionFileName = L"WRZ_QVLVer.ini";
constexpr const wchar_t* kInstallerFileName = L"WRZ_QVL_Keyward_Install.exe";
