#pragma once
#include <string>

#include "InstallerTrust.h"

// The SHA-256 of the file's contents, computed with the platform's CNG
// provider. False when the file cannot be opened or read to its end, or the
// provider fails.
bool HashFileSha256(const std::wstring& path, Sha256Digest& digest);
