#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "UpdateAnnouncement.h"

// Asks the platform's crypto (crypt32) about a detached CMS signature over
// text: exactly one signer, SHA-256, its certificate carried in the
// signature, the signature over the text, and a chain from that certificate
// to a root this Windows trusts, valid now and for code signing. No user
// interface and no revocation lookups. crypt32 (and bcrypt for the text's
// digest) are bound for the call only.
SignedTextCheck VerifySignedText(const std::vector<std::uint8_t>& signature, const std::string& text);
