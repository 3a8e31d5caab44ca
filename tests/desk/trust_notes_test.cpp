// What the desk adds to its report from the library's trust answer and verdict, and when a
// required trust turns a verified file into a failure.
#include <gtest/gtest.h>

#include "desk/trust_notes.h"

namespace vellum::desk {
namespace {

QString Report(const QString& signers) {
  return QStringLiteral("{\"signers\":[") + signers + QStringLiteral("]}");
}
QString Signer(const char* subject, const char* trust, const char* reason) {
  return QStringLiteral("{\"subject\":\"%1\",\"trust\":\"%2\",\"reason\":\"%3\"}")
      .arg(QLatin1String(subject), QLatin1String(trust), QLatin1String(reason));
}

const QString kValid =
    QStringLiteral("File: /in/pay.txt\r\nis Verified. \r\nCertificate Valit till '01/02/2030'");
const QString kExpired = QStringLiteral(
    "File: /in/pay.txt\r\nis Verified using expired Signature. \r\nCertificate Expired on "
    "'01/02/2020'");

TEST(TrustNotesTest, WarningsAndFailures) {
  struct Case {
    const char* why;
    QString report;
    QString verdict;
    bool require;
    QStringList warnings;
    QString failure;
  };
  const QString untrusted = Signer("CN=Big Bank", "untrusted", "self-signed, and in no set");
  const Case cases[] = {
      {"a trusted signer adds nothing",
       Report(Signer("CN=Ann", "trusted", "CN=Root")),
       kValid,
       true,
       {},
       {}},
      {"an untrusted signer gets a warning",
       Report(Signer("CN=Ann", "trusted", "CN=Root") + "," + untrusted),
       kValid,
       false,
       {"Warning: signer 2 (CN=Big Bank) is untrusted: self-signed, and in no set"},
       {}},
      {"required trust makes it the failure",
       Report(untrusted),
       kValid,
       true,
       {"Warning: signer 1 (CN=Big Bank) is untrusted: self-signed, and in no set"},
       "The signature is valid, but signer 1 (CN=Big Bank) is untrusted: self-signed, and in no "
       "set"},
      {"weak is not trusted either",
       Report(Signer("CN=Old", "weak", "SHA-1 digest, under CN=Root")),
       kValid,
       true,
       {"Warning: signer 1 (CN=Old) is weak: SHA-1 digest, under CN=Root"},
       "The signature is valid, but signer 1 (CN=Old) is weak: SHA-1 digest, under CN=Root"},
      {"the verdict's expiry is said, with its date",
       Report(Signer("CN=Ann", "expired", "CN=Ann expired on 01/02/2020 10:00:00")),
       kExpired,
       false,
       {"Warning: the signer's certificate has expired (Certificate Expired on '01/02/2020').",
        "Warning: signer 1 (CN=Ann) is expired: CN=Ann expired on 01/02/2020 10:00:00"},
       {}},
      {"no report (an older library) warns of nothing", QString(), kValid, false, {}, {}},
      {"no report cannot satisfy required trust",
       QString(),
       kValid,
       true,
       {},
       "The signature is valid, but its signers could not be checked for trust."},
      {"a damaged report counts as none",
       QStringLiteral("{\"signers\":"),
       kValid,
       true,
       {},
       "The signature is valid, but its signers could not be checked for trust."},
      {"control characters do not reach the box",
       Report(QStringLiteral(
           "{\"subject\":\"CN=A\\r\\nB\\u001b\",\"trust\":\"untrusted\",\"reason\":\"x\\ty\"}")),
       kValid,
       false,
       {"Warning: signer 1 (CN=A??B?) is untrusted: x?y"},
       {}},
  };
  for (const auto& c : cases) {
    const TrustNotes notes = ReadTrustNotes(c.report, c.verdict, c.require);
    EXPECT_EQ(notes.warnings, c.warnings) << c.why;
    EXPECT_EQ(notes.failure, c.failure) << c.why;
  }
}

}  // namespace
}  // namespace vellum::desk
