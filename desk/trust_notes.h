// What the desk says about the signers beyond "File verified.": a warning line for each signer
// that is not trusted, each signer's timestamp, the expiry the library's verdict mentions, and,
// when Config.ini asks for trust (`trust = require`), the reason a run ends as a failure instead.
#pragma once

#include <QString>
#include <QStringList>

namespace vellum::desk {

struct TrustNotes {
  // For the "Successful" box, in signer order: "Timestamp: <DD/MM/YYYY HH:MM:SS> by <authority>
  // (trusted|untrusted)" for each signer with an RFC 3161 timestamp.
  QStringList timestamps;
  QStringList warnings;  // lines for the "Successful" box, in signer order
  QString failure;       // non-empty when trust is required and a signer is not trusted
};

// `report` is the library's trust report (JSON, {"signers":[…]}); `verdict` its VerifyErr.
// A report that is missing or unreadable counts as no signer known to be trusted.
TrustNotes ReadTrustNotes(const QString& report, const QString& verdict, bool require_trust);

}  // namespace vellum::desk
