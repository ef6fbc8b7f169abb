#pragma once
#include <cstdint>
#include <string>

// What the dialog does once the version file has arrived.
enum class NextStep {
    FetchInstaller,            // the server has a newer version
    FetchVersionFromFallback,  // 64-bit Windows, no usable version: ask the 32-bit address once
    ShowUpToDate,
};

// latest is LatestVersion from the version file (0 when absent or unusable),
// installed is DisplayVersion. Versions compare as unsigned numbers and only a
// strictly greater one is an update. The fallback is tried only while the
// version file came from another address than it: once the fallback's own
// version file is unusable too, or both addresses are the same, asking again
// would only repeat the same answer, so the dialog ends as up to date.
NextStep DecideAfterVersionFile(std::uint32_t installed, std::uint32_t latest, bool onWow64,
                                const std::wstring& currentBaseUrl, const std::wstring& fallbackBaseUrl);

// Bar position for a progress report: the true percentage, computed in 64-bit
// arithmetic and clamped to 100. -1 when progressMax is 0: the bar stays.
int ProgressPercent(std::uint32_t progress, std::uint32_t progressMax);

// Why a step of the update failed. Each failure offers Retry.
enum class UpdateFailure {
    DownloadFailed,    // the file did not arrive (network, server, cancel)
    // The update arrived but its checks refused it: the installer, or the
    // signed announcement of a signed updater. Nothing was started.
    InstallerRefused,
};

// The key of the text that the failure box shows: "DownloadFail" for a file
// that did not arrive, "VerifyFail" for an update that its checks refused.
// Every refusal of what arrived (the installer, a signed updater's
// announcement) goes through InstallerRefused, and so gets its text here.
const wchar_t* FailureTextKey(UpdateFailure failure);

// The key whose text the failure box shows when the language library answers
// FailureTextKey with an empty text, as a library made before "VerifyFail"
// existed does: the box then says what it always said, in the library's own
// language, rather than nothing or a text in another language.
constexpr const wchar_t* kFailureFallbackTextKey = L"DownloadFail";
