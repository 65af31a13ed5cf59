// The attribute certificate table of a PE image: a run of WIN_CERTIFICATE entries, each
//   struct { DWORD dwLength; WORD wRevision; WORD wCertificateType; BYTE bCertificate[]; }
// where dwLength counts the 8-byte header and the certificate, and the next entry starts at the
// next multiple of 8.
#pragma once

#include "platform/trust/der_reader.h"
#include "platform/trust/pe_image_hash.h"

namespace velmora::trust {

enum class TableStatus {
    Found,       // signedData holds the first entry's PKCS#7 SignedData
    NoTable,     // the image carries no certificate table
    Malformed,   // entries that do not fit the table, or a first entry that is not Authenticode
    HiddenData,  // bytes outside the signed hash hidden in the table (beyond zero padding to 8)
};

struct FirstSignature {
    TableStatus status = TableStatus::NoTable;
    der::Bytes signedData;  // the DER ContentInfo, without the entry's padding
};

// Walks every entry of the table: several entries are fine and the first one counts, but no entry
// may carry data after its signature other than zero padding to the next 8-byte boundary.
FirstSignature FindFirstSignature(std::span<const std::uint8_t> file, const PeLayout& layout);

}  // namespace velmora::trust
