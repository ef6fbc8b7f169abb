#pragma once
#include <cstddef>
#include <string>

#include "InstallerTrust.h"

// SHA-256 with the platform's CNG provider (bcrypt, bound for each call, so
// that a run that hashes nothing never loads it).

// The digest of the file's contents. False when the file cannot be opened or
// read to its end, or the provider fails.
bool HashFileSha256(const std::wstring& path, Sha256Digest& digest);

// The digest of size bytes at data. False when the provider fails.
bool HashBytesSha256(const void* data, std::size_t size, Sha256Digest& digest);
