#pragma once
#include <string>

#include "InstallerTrust.h"

// Asks the platform (WinVerifyTrust, Authenticode policy) whether the file at
// path carries a valid signature, and reads its signer's names. No user
// interface, no revocation lookups over the network.
FileSignature ReadFileSignature(const std::wstring& path);
