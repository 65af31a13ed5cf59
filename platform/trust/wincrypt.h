// Certificate structures and name formatting, declared for our own crypt32 stand-in.
#pragma once

#include "platform/kernel/win_types.h"

struct CRYPT_INTEGER_BLOB {
    DWORD cbData;
    BYTE* pbData;
};
using CRYPT_DATA_BLOB = CRYPT_INTEGER_BLOB;
using CERT_NAME_BLOB = CRYPT_INTEGER_BLOB;
using CRYPT_OBJID_BLOB = CRYPT_INTEGER_BLOB;
using PCERT_NAME_BLOB = CERT_NAME_BLOB*;

struct CRYPT_ALGORITHM_IDENTIFIER {
    LPSTR pszObjId;
    CRYPT_OBJID_BLOB Parameters;
};

// The parts of a certificate that callers read. The blobs point into the certificate's own
// DER encoding and live as long as the certificate context does.
struct CERT_INFO {
    DWORD dwVersion;
    CRYPT_INTEGER_BLOB SerialNumber;
    CRYPT_ALGORITHM_IDENTIFIER SignatureAlgorithm;
    CERT_NAME_BLOB Issuer;
    FILETIME NotBefore;
    FILETIME NotAfter;
    CERT_NAME_BLOB Subject;
};
using PCERT_INFO = CERT_INFO*;

struct CERT_CONTEXT {
    DWORD dwCertEncodingType;
    BYTE* pbCertEncoded;
    DWORD cbCertEncoded;
    PCERT_INFO pCertInfo;
    void* hCertStore;
};
using PCCERT_CONTEXT = const CERT_CONTEXT*;

constexpr DWORD X509_ASN_ENCODING = 0x00000001;
constexpr DWORD PKCS_7_ASN_ENCODING = 0x00010000;

constexpr DWORD CERT_SIMPLE_NAME_STR = 1;
constexpr DWORD CERT_OID_NAME_STR = 2;
constexpr DWORD CERT_X500_NAME_STR = 3;

// Formats a DER-encoded X.500 name. Returns the number of characters written including the
// terminator (or needed, when psz is null or csz is 0); never writes past csz characters.
extern "C" DWORD CertNameToStrW(DWORD dwCertEncodingType, PCERT_NAME_BLOB pName, DWORD dwStrType, LPWSTR psz,
                                DWORD csz);
