#include "library/digital_sign/certificate_report.h"

#include <tuple>

#include "library/platform/dates.h"
#include "library/platform/error.h"
#include "library/platform/text.h"

namespace vellum::certificate_report {
namespace {

const SignerChain& CheckedChain(const SignerChain& chain) {
  if (chain.empty())
    throw Error::Component(hr::kSignerNotFound, "The signer's certificate was not found.");
  return chain;
}

}  // namespace

bool IsExpired(std::time_t valid_to, std::time_t now) {
  // Compare calendar days rather than against a computed midnight: in zones whose clocks
  // jump at midnight that instant may not exist.
  const platform::CivilTime end = platform::LocalCivilTime(valid_to);
  const platform::CivilTime today = platform::LocalCivilTime(now);
  return std::tie(end.year, end.month, end.day) < std::tie(today.year, today.month, today.day);
}

std::string LongDate(std::time_t when) {
  return platform::FormatLocalTime(when, platform::DateForm::kDate);
}

std::string GeneralDate(std::time_t when) {
  return platform::FormatLocalTime(when, platform::DateForm::kGeneral);
}

std::string Verdict(std::string_view file_name, const std::vector<SignerChain>& signers,
                    VerdictWording wording, std::time_t now) {
  if (signers.empty())
    throw Error::Component(hr::kSignerNotFound, "The signer's certificate was not found.");
  std::time_t valid_to = CheckedChain(signers.front()).front().valid_to;
  std::string text = "File: " + std::string(file_name) + kCrLf;
  if (IsExpired(valid_to, now)) {
    return text + "is Verified using expired Signature. " + kCrLf + "Certificate Expired on '" +
           LongDate(valid_to) + "'";
  }
  text += "is Verified. ";
  switch (wording) {
    case VerdictWording::kVerifyFile:
      return text + kCrLf + "Certificate Valit till '" + LongDate(valid_to) + "'";
    case VerdictWording::kVerifyZipFile:
      return text + kCrLf + "Certificate Valid till '" + LongDate(valid_to) + "'";
    case VerdictWording::kVerifyNSEFile:
      break;
  }
  return text;
}

std::vector<std::string> CertificateDetails(const std::vector<SignerChain>& signers,
                                            std::time_t now) {
  std::vector<std::string> details;
  details.reserve(signers.size());
  for (const SignerChain& chain : signers) {
    std::string element = CheckedChain(chain).front().subject;
    // The root has no line of its own: it appears as the issuer of the certificate below it.
    for (std::size_t k = 0; k + 1 < chain.size(); ++k) {
      const CertificateInfo& cert = chain[k];
      element.append(kCrLf).append(cert.issuer).append(", Expiry Date : ");
      element.append(GeneralDate(cert.valid_to));
      if (IsExpired(cert.valid_to, now)) element.append(" (Expired) ");
    }
    details.push_back(std::move(element));
  }
  return details;
}

}  // namespace vellum::certificate_report
