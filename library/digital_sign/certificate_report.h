// The verify methods' own judgement of the signer certificate, and the certificate details
// they hand back. The cryptographic component checks only the signature; whether the signer's
// certificate has run out is decided here, against the local calendar, and never fails a
// verification: an expired certificate only changes the wording.
//
// Pure functions over what the component reads from each signer's chain, with "now" passed in
// so callers pass std::time(nullptr) and tests pin the clock. Texts are UTF-8.
#pragma once

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace vellum::certificate_report {

// What one certificate of a chain gives: SubjectName, IssuerName and ValidToDate.
struct CertificateInfo {
  std::string subject;
  std::string issuer;
  std::time_t valid_to = 0;
};

// One signer's chain: position 0 is the signer's own certificate, the last one the root.
using SignerChain = std::vector<CertificateInfo>;

// The three verify methods word a valid certificate differently; the texts are fixed, the
// misspelling of VerifyFile's included.
enum class VerdictWording {
  kVerifyFile,     // "Certificate Valit till '<date>'"
  kVerifyZipFile,  // "Certificate Valid till '<date>'"
  kVerifyNSEFile,  // no certificate line
};

// True when `valid_to` falls on a local calendar day before today's: a certificate that runs
// out later today still counts as valid.
bool IsExpired(std::time_t valid_to, std::time_t now);

// DD/MM/YYYY, local time.
std::string LongDate(std::time_t when);
// DD/MM/YYYY HH:MM:SS (24-hour), local time; the date alone when the time of day is midnight.
std::string GeneralDate(std::time_t when);

// The verdict on the first signer's own certificate:
//   "File: " name CRLF "is Verified. " [CRLF "Certificate Valit/Valid till '" date "'"]
//   "File: " name CRLF "is Verified using expired Signature. " CRLF
//       "Certificate Expired on '" date "'"
// Raises the component's signer-not-found failure (negative) when there is no signer or its
// chain is empty: a message that names no certificate has not been verified by anyone.
std::string Verdict(std::string_view file_name, const std::vector<SignerChain>& signers,
                    VerdictWording wording, std::time_t now);

// One element per signer: the signer's subject, then for every certificate but the root a line
// CRLF issuer ", Expiry Date : " general date, with " (Expired) " after an expired one.
// Raises as Verdict does for a signer with an empty chain.
std::vector<std::string> CertificateDetails(const std::vector<SignerChain>& signers,
                                            std::time_t now);

}  // namespace vellum::certificate_report
