#include "library/digital_sign/trust_report.h"

#include "library/com/json.h"
#include "library/crypto/certificate.h"
#include "library/platform/dates.h"

namespace vellum::trust_report {
namespace {

namespace json = com::json;

std::string ChainJson(const std::vector<crypto::ChainEntry>& chain) {
  std::vector<std::string> links;
  for (const auto& link : chain)
    links.push_back(json::ObjectWriter()
                        .Text("subject", link.subject)
                        .Text("expires", platform::FormatLocalTime(link.valid_to))
                        .Number("expires_unix", link.valid_to)
                        .Close());
  return json::Array(links);
}

// null, or what the signer's timestamp says and whether it holds.
std::string TimestampJson(const std::optional<crypto::TimestampCheck>& t) {
  if (!t) return "null";
  json::ObjectWriter o;
  if (t->time)
    o.Text("time", platform::FormatLocalTime(*t->time)).Number("time_unix", *t->time);
  else
    o.Null("time").Null("time_unix");
  return o.Text("authority", t->authority)
      .Text("trust", t->trusted ? "trusted" : "untrusted")
      .Text("reason", t->reason)
      .Close();
}

std::string SignerJson(const crypto::SignerTrust& s) {
  json::ObjectWriter o;
  o.Text("subject", s.subject).Text("fingerprint_sha256", s.fingerprint);
  if (s.signing_time)
    o.Text("signing_time", platform::FormatLocalTime(*s.signing_time))
        .Number("signing_time_unix", *s.signing_time);
  else
    o.Null("signing_time").Null("signing_time_unix");
  o.Text("digest", s.digest).Text("key", s.key).Text("trust", crypto::TrustName(s.trust));
  o.Text("reason", s.reason);
  if (s.anchor.empty())
    o.Null("anchor");
  else
    o.Text("anchor", s.anchor);
  return o.Raw("chain", ChainJson(s.chain)).Raw("timestamp", TimestampJson(s.timestamp)).Close();
}

}  // namespace

std::string Json(const std::vector<crypto::SignerTrust>& signers) {
  std::vector<std::string> items;
  for (const auto& s : signers) items.push_back(SignerJson(s));
  return json::ObjectWriter().Raw("signers", json::Array(items)).Close();
}

std::string Empty(const std::string& error) {
  json::ObjectWriter o;
  o.Raw("signers", "[]");
  if (!error.empty()) o.Text("error", error);
  return o.Close();
}

}  // namespace vellum::trust_report
