// RFC 3161 timestamps: proof from a time-stamping authority that a signature existed at a
// time, so a signature made while its certificate was valid stays valid after it expires.
//
// A token is asked for over one signer's signature value (RFC 3161 appendix A: the imprint is
// the SHA-256 of the octets of SignerInfo.signature) with a fresh 64-bit nonce and the
// authority's certificate requested. The answer must be granted, carry our nonce and our
// imprint; its token (a CMS ContentInfo) then becomes the signer's unsigned attribute
// id-aa-signatureTimeStampToken (1.2.840.113549.1.9.16.2.14). Readers that do not know the
// attribute ignore it, so a timestamped message reads everywhere an unstamped one does.
//
// The authority is reached over HTTP or HTTPS only (RFC 3161 section 3.4: a POST of
// application/timestamp-query), redirects followed only to HTTP or HTTPS, within a time limit,
// and the answer is bounded in size (kLargestAnswer).
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "library/crypto/ossl.h"
#include "library/platform/text.h"

namespace vellum::crypto {

// Failure codes of time-stamping. The description always says what went wrong.
// The authority could not be reached, or answered with an HTTP error.
inline constexpr std::int32_t kTimestampUnreachable = static_cast<std::int32_t>(0x80072EFD);
// The authority did not answer in time.
inline constexpr std::int32_t kTimestampTimeout = static_cast<std::int32_t>(0x80072EE2);
// The configured address is no HTTP or HTTPS URL.
inline constexpr std::int32_t kTimestampBadUrl = static_cast<std::int32_t>(0x80072EE5);
// The answer is no timestamp for our request: refused, malformed, too large, another nonce or
// another imprint (TRUST_E_TIME_STAMP).
inline constexpr std::int32_t kTimestampBadAnswer = static_cast<std::int32_t>(0x80096005);
bool IsTimestampFailure(std::int32_t code);

// The largest answer accepted; a token with its authority's chain takes a few kilobytes.
inline constexpr std::size_t kLargestAnswer = std::size_t{256} * 1024;
inline constexpr long kDefaultTimeoutSeconds = 30;
inline constexpr long kLongestTimeoutSeconds = 600;

struct TimestampAuthority {
  std::string url;                                // http:// or https://
  long timeout_seconds = kDefaultTimeoutSeconds;  // the whole exchange, connection included
};

// The user's settings live under this key of the per-user registry file, as the values Url
// and Timeout. `setting` reads one value of it by name (none when not set); the component
// does not read the registry itself.
inline constexpr const char* kTimestampSettingsKey = "Software\\Vellum\\Timestamp";
using SettingReader = std::function<std::optional<std::string>(std::string_view name)>;

// The authority signing is configured with: $VELLUM_TSA_URL when set (an empty value means
// none), else the setting Url. The time limit: $VELLUM_TSA_TIMEOUT, else the setting Timeout,
// in seconds (1 to kLongestTimeoutSeconds; anything else counts as not given), else
// kDefaultTimeoutSeconds.
std::optional<TimestampAuthority> ConfiguredAuthority(const SettingReader& setting);

// True for an http:// or https:// URL (the scheme in any case).
bool IsWebAddress(std::string_view url);

// Posts a query to the authority and hands back its answer's body. Raises kTimestampBadUrl,
// kTimestampTimeout, kTimestampUnreachable (no connection, an HTTP status other than 200, a
// redirect to another scheme) or kTimestampBadAnswer (an answer over kLargestAnswer).
Bytes PostTimestampQuery(const TimestampAuthority& authority, std::string_view query);

// Asks the authority for a token over `signature_value` and checks the answer (granted, our
// nonce, our imprint). The token's DER (a ContentInfo). Raises as PostTimestampQuery, and
// kTimestampBadAnswer for an answer that is refused or is no timestamp for this request.
Bytes RequestTimestamp(const TimestampAuthority& authority, std::string_view signature_value);

// The signature value of a signer info, the octets a timestamp covers.
Bytes SignatureValue(CMS_SignerInfo* si);

// The token the signer info carries, or nullopt; the first when it carries several.
std::optional<Bytes> TimestampTokenOf(CMS_SignerInfo* si);

// Adds a token from `authority` to every signer info of `cms` (a signed message, complete),
// or with `only_missing` to those without one. Returns how many tokens were added.
int AddTimestamps(CMS_ContentInfo* cms, const TimestampAuthority& authority,
                  bool only_missing = false);

// What a token says and whether it holds, as the trust evaluation found it.
struct TimestampCheck {
  std::optional<std::time_t> time;  // the token's genTime; none when the token cannot be read
  std::string authority;            // the subject of the certificate that signed the token
  bool trusted = false;             // signature, imprint and authority chain all hold
  std::string reason;               // one line: the anchor's subject when trusted, else what failed
};

// Checks `token` (DER) as a timestamp over `signature_value`: the token's signature, the
// authority's chain to an anchor of `anchors` (built at the token's own time, with the
// time-stamping purpose: an extended key usage of timeStamping only, critical) and the imprint.
// `intermediates` may help build the chain. Never raises for a bad token: the answer says why.
TimestampCheck CheckTimestamp(std::string_view token, std::string_view signature_value,
                              X509_STORE* anchors, STACK_OF(X509) * intermediates);

}  // namespace vellum::crypto
