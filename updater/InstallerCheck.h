#pragma once
#include <string>

#include "InstallerTrust.h"

// InstallerSha256 from section "ServerSoftVersion" of the version file at path.
ExpectedInstallerHash ReadExpectedInstallerHash(const std::wstring& versionFilePath);

// Decides whether the downloaded installer may be started: it must be a
// Windows program image, then the same-publisher rule against the updater's
// own signature applies, then the hash the version file named. A refusal is
// traced to the debugger channel with its reason.
InstallerVerdict CheckInstaller(const std::wstring& installerPath, const ExpectedInstallerHash& expected);
