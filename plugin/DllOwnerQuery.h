#pragma once

// Shows the owners' message; gives IDRETRY, IDCANCEL, or 0 when no prompt
// could be shown.
using ShowPromptFunction = int (*)(const wchar_t* message, const wchar_t* caption);

// The Retry/Cancel prompt of the installer.
int ShowOwnerPrompt(const wchar_t* message, const wchar_t* caption);

// Scans for processes that have dllName loaded and prompts while there are
// any, until the user chooses anything but Retry.
void HoldWhileDllLoaded(const wchar_t* dllName, ShowPromptFunction showPrompt);
