#pragma once
#include <string>

#include "InstallerTrust.h"

// The running updater's own signature, which decides whether the publisher
// and announcement rules apply. Read once per run, when an update is
// announced. An updater whose own file cannot be judged counts as signed,
// with no publisher that anything could match: the rules must not switch
// themselves off because the file could not be read.
FileSignature ReadUpdaterSignature();

// Decides whether the downloaded installer may be started: it must be a
// Windows program image, then the same-publisher rule against the updater's
// own signature applies, then the hash the version file named. A refusal is
// traced to the debugger channel with its reason.
InstallerVerdict CheckInstaller(const std::wstring& installerPath, const ExpectedInstallerHash& expected,
                                const FileSignature& updater);

// Writes "Quillon: <what> refused: <reason>[: <detail>]" to the debugger
// channel; detail may be empty.
void TraceRefusal(const wchar_t* what, const wchar_t* reason, const wchar_t* detail);
