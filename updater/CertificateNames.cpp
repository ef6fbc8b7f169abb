#include "CertificateNames.h"

namespace {
// One attribute of the certificate's subject (the first one when it repeats);
// empty when the subject has none.
std::wstring SubjectAttribute(CertGetNameStringFunction nameString, PCCERT_CONTEXT certificate, const char* oid)
{
    // Subject attributes are limited to a few hundred characters by the
    // certificate profiles; a longer one is cut here, which makes it match
    // nothing it was not already equal to in its first 511 characters.
    wchar_t text[512];
    const DWORD length =
        nameString(certificate, CERT_NAME_ATTR_TYPE, 0, const_cast<char*>(oid), text, ARRAYSIZE(text));
    // The length counts the terminator; 1 means no such attribute.
    if (length <= 1) return std::wstring();
    return std::wstring(text, length - 1);
}
}  // namespace

PublisherName ReadPublisherName(CertGetNameStringFunction nameString, PCCERT_CONTEXT certificate)
{
    PublisherName name;
    if (!nameString || !certificate) return name;
    name.organization = SubjectAttribute(nameString, certificate, szOID_ORGANIZATION_NAME);
    name.commonName = SubjectAttribute(nameString, certificate, szOID_COMMON_NAME);
    return name;
}
