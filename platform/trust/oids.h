// Object identifiers the trust library reads, in dotted form.
#pragma once

#include <string_view>

namespace velmora::trust::oid {

inline constexpr std::string_view kSignedData = "1.2.840.113549.1.7.2";
inline constexpr std::string_view kContentType = "1.2.840.113549.1.9.3";
inline constexpr std::string_view kMessageDigest = "1.2.840.113549.1.9.4";
inline constexpr std::string_view kSigningTime = "1.2.840.113549.1.9.5";
inline constexpr std::string_view kCounterSignature = "1.2.840.113549.1.9.6";
inline constexpr std::string_view kTstInfo = "1.2.840.113549.1.9.16.1.4";
inline constexpr std::string_view kSpcIndirectData = "1.3.6.1.4.1.311.2.1.4";
inline constexpr std::string_view kRfc3161TimeStamp = "1.3.6.1.4.1.311.3.3.1";
inline constexpr std::string_view kCertificateTrustList = "1.3.6.1.4.1.311.10.1";
inline constexpr std::string_view kSystemComponentVerification = "1.3.6.1.4.1.311.10.3.6";
inline constexpr std::string_view kLifetimeSigning = "1.3.6.1.4.1.311.10.3.13";
inline constexpr std::string_view kCatalogMemberListV1 = "1.3.6.1.4.1.311.12.1.2";
inline constexpr std::string_view kCatalogMemberListV2 = "1.3.6.1.4.1.311.12.1.3";

inline constexpr std::string_view kMd5 = "1.2.840.113549.2.5";
inline constexpr std::string_view kSha1 = "1.3.14.3.2.26";
inline constexpr std::string_view kSha256 = "2.16.840.1.101.3.4.2.1";
inline constexpr std::string_view kSha384 = "2.16.840.1.101.3.4.2.2";
inline constexpr std::string_view kSha512 = "2.16.840.1.101.3.4.2.3";

}  // namespace velmora::trust::oid
