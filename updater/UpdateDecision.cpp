#include "UpdateDecision.h"

NextStep DecideAfterVersionFile(std::uint32_t installed, std::uint32_t latest, bool onWow64,
                                const std::wstring& currentBaseUrl, const std::wstring& fallbackBaseUrl)
{
    if (latest != 0) return latest > installed ? NextStep::FetchInstaller : NextStep::ShowUpToDate;
    if (onWow64 && currentBaseUrl != fallbackBaseUrl) return NextStep::FetchVersionFromFallback;
    return NextStep::ShowUpToDate;
}

int ProgressPercent(std::uint32_t progress, std::uint32_t progressMax)
{
    if (progressMax == 0) return -1;
    const std::uint64_t percent = static_cast<std::uint64_t>(progress) * 100 / progressMax;
    return percent > 100 ? 100 : static_cast<int>(percent);
}

const wchar_t* FailureTextKey(UpdateFailure failure)
{
    switch (failure) {
    case UpdateFailure::InstallerRefused:
        return L"VerifyFail";
    case UpdateFailure::DownloadFailed:
        break;
    }
    return L"DownloadFail";
}
