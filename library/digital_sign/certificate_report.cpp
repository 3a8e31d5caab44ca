#include "library/digital_sign/certificate_report.h"

#include <cstdio>

#include "library/platform/error.h"

namespace vellum::certificate_report {
namespace {

constexpr std::string_view kCrLf = "\r\n";

std::tm LocalTime(std::time_t when) {
  std::tm tm{};
  if (localtime_r(&when, &tm) == nullptr) throw Error::Runtime(rt::kOverflow);
  return tm;
}

std::string FormatDate(const std::tm& tm) {
  char text[32];
  std::snprintf(text, sizeof text, "%02d/%02d/%04d", tm.tm_mday, tm.tm_mon + 1, tm.tm_year + 1900);
  return text;
}

const SignerChain& CheckedChain(const SignerChain& chain) {
  if (chain.empty())
    throw Error::Component(hr::kSignerNotFound, "The signer's certificate was not found.");
  return chain;
}

}  // namespace

bool IsExpired(std::time_t valid_to, std::time_t now) {
  // Compare calendar days rather than against a computed midnight: in zones whose clocks
  // jump at midnight that instant may not exist.
  std::tm end = LocalTime(valid_to);
  std::tm today = LocalTime(now);
  if (end.tm_year != today.tm_year) return end.tm_year < today.tm_year;
  return end.tm_yday < today.tm_yday;
}

std::string LongDate(std::time_t when) {
  return FormatDate(LocalTime(when));
}

std::string GeneralDate(std::time_t when) {
  std::tm tm = LocalTime(when);
  std::string text = FormatDate(tm);
  if (tm.tm_hour == 0 && tm.tm_min == 0 && tm.tm_sec == 0) return text;
  char time[16];
  std::snprintf(time, sizeof time, " %02d:%02d:%02d", tm.tm_hour, tm.tm_min, tm.tm_sec);
  return text + time;
}

std::string Verdict(std::string_view file_name, const std::vector<SignerChain>& signers,
                    VerdictWording wording, std::time_t now) {
  if (signers.empty())
    throw Error::Component(hr::kSignerNotFound, "The signer's certificate was not found.");
  std::time_t valid_to = CheckedChain(signers.front()).front().valid_to;
  std::string text = "File: " + std::string(file_name) + std::string(kCrLf);
  if (IsExpired(valid_to, now)) {
    return text + "is Verified using expired Signature. " + std::string(kCrLf) +
           "Certificate Expired on '" + LongDate(valid_to) + "'";
  }
  text += "is Verified. ";
  switch (wording) {
    case VerdictWording::kVerifyFile:
      return text + std::string(kCrLf) + "Certificate Valit till '" + LongDate(valid_to) + "'";
    case VerdictWording::kVerifyZipFile:
      return text + std::string(kCrLf) + "Certificate Valid till '" + LongDate(valid_to) + "'";
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
