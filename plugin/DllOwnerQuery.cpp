// GetDllOwnerProcName: holds the installation back, with a Retry/Cancel
// prompt, while any process has a given DLL loaded. It answers nothing.
#include "DllOwnerQuery.h"

#include "CallFrame.h"
#include "DllOwners.h"
#include "OwnerPrompt.h"
#include "Privileges.h"

int ShowOwnerPrompt(const wchar_t* message, const wchar_t* caption)
{
    // No owner window: the prompt stands on its own, and topmost keeps it in
    // sight above the installer's window, which it does not disable.
    return MessageBoxW(nullptr, message, caption, MB_RETRYCANCEL | MB_TOPMOST);
}

void HoldWhileDllLoaded(const wchar_t* dllName, ShowPromptFunction showPrompt)
{
    const PromptTexts texts = LoadPromptTexts();
    BoundPsapi psapi;
    const bool bound = BindPsapi(psapi);
    for (;;) {
        const ProcessSnapshot snapshot = bound ? TakeProcessSnapshot(psapi.functions) : ProcessSnapshot();
        DebugLog(L"GetDllOwnerProcName::param");
        DebugLog(dllName);
        const std::vector<std::wstring> owners = GetDllOwnerNameList(psapi.functions, snapshot, dllName);
        const std::wstring message = BuildOwnerMessage(texts.leadIn, owners);
        DebugLog(message.c_str());
        if (owners.empty()) return;
        // Only Retry scans again. A prompt that could not be shown returns 0;
        // taking that for Retry would scan for ever with nobody to answer.
        if (showPrompt(message.c_str(), texts.caption.c_str()) != IDRETRY) return;
        // The box may have stood for minutes: whoever listens now hears the
        // next scan, and whoever has gone no longer costs it a trace.
        DecideTracesAgain();
    }
}

NSIS_PLUGIN_EXPORT(GetDllOwnerProcName)
{
    EnableDebugPrivilege();
    wchar_t dllName[kArgumentCapacity] = L"";
    // A name longer than the buffer is no module's base name; cut short it
    // could match one, so it is searched as nothing.
    if (PopString(dllName, kArgumentCapacity) == PopResult::TooLong) dllName[0] = L'\0';
    HoldWhileDllLoaded(dllName, ShowOwnerPrompt);
}
