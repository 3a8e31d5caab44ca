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

// A signer's timestamp is one line of the box, as the command prints it; a signer without one
// adds none.
TEST(TrustNotesTest, TimestampLines) {
  const QString stamped = QStringLiteral(
      "{\"subject\":\"CN=Ann\",\"trust\":\"trusted\",\"reason\":\"valid at the timestamp, "
      "under CN=Root\",\"timestamp\":{\"time\":\"07/12/2026 14:03:11\",\"time_unix\":1,"
      "\"authority\":\"CN=Time\\u001b Stamps\",\"trust\":\"trusted\",\"reason\":\"CN=TSA "
      "Root\"}}");
  const QString untrusted = QStringLiteral(
      "{\"subject\":\"CN=Bo\",\"trust\":\"trusted\",\"reason\":\"CN=Root\",\"timestamp\":"
      "{\"time\":null,\"time_unix\":null,\"authority\":\"an unknown authority\",\"trust\":"
      "\"untrusted\",\"reason\":\"the token cannot be read\"}}");
  struct Case {
    const char* why;
    QString report;
    QStringList timestamps;
  };
  const Case cases[] = {
      {"a trusted timestamp",
       Report(stamped),
       {"Timestamp: 07/12/2026 14:03:11 by CN=Time? Stamps (trusted)"}},
      {"an unreadable one, after a signer without any",
       Report(Signer("CN=Ann", "trusted", "CN=Root") + "," + untrusted),
       {"Timestamp: unreadable by an unknown authority (untrusted)"}},
      {"none", Report(Signer("CN=Ann", "trusted", "CN=Root")), {}},
  };
  for (const auto& c : cases) {
    const TrustNotes notes = ReadTrustNotes(c.report, kValid, true);
    EXPECT_EQ(notes.timestamps, c.timestamps) << c.why;
    EXPECT_TRUE(notes.warnings.isEmpty()) << c.why;
    EXPECT_TRUE(notes.failure.isEmpty()) << c.why;
  }
}

}  // namespace
}  // namespace vellum::desk
