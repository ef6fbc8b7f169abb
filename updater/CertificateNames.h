#pragma once
#include <windows.h>
#include <wincrypt.h>

#include "InstallerTrust.h"

// CertGetNameStringW as the caller bound it from crypt32.
using CertGetNameStringFunction = decltype(&CertGetNameStringW);

// The publisher's names in the certificate's subject: O and CN, the first of
// each when one repeats; empty where the subject has none.
PublisherName ReadPublisherName(CertGetNameStringFunction nameString, PCCERT_CONTEXT certificate);
