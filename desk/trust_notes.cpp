#include "desk/trust_notes.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace vellum::desk {
namespace {

// The library's verdict for a signer whose certificate has run out, and the line after it.
const QString kExpiredVerdict = QStringLiteral("is Verified using expired Signature. ");
const QString kExpiredOn = QStringLiteral("Certificate Expired on '");

// A subject or reason shown in a box: control characters would break its lines or hide text.
QString Printable(QString text) {
  for (QChar& c : text)
    if (c.category() == QChar::Other_Control) c = QChar(u'?');
  return text;
}

QString ExpiryLine(const QString& verdict) {
  if (!verdict.contains(kExpiredVerdict)) return {};
  const qsizetype at = verdict.indexOf(kExpiredOn);
  if (at < 0) return QStringLiteral("Warning: the signer's certificate has expired.");
  const qsizetype end = verdict.indexOf(QStringLiteral("\r\n"), at);
  return QStringLiteral("Warning: the signer's certificate has expired (") +
         verdict.mid(at, end < 0 ? -1 : end - at) + QStringLiteral(").");
}

// The same line the command prints under a signer.
QString TimestampLine(const QJsonObject& timestamp) {
  const QJsonValue time = timestamp.value(QStringLiteral("time"));
  return QStringLiteral("Timestamp: %1 by %2 (%3)")
      .arg(time.isString() ? Printable(time.toString()) : QStringLiteral("unreadable"),
           Printable(timestamp.value(QStringLiteral("authority")).toString()),
           timestamp.value(QStringLiteral("trust")).toString() == u"trusted"
               ? QStringLiteral("trusted")
               : QStringLiteral("untrusted"));
}

}  // namespace

TrustNotes ReadTrustNotes(const QString& report, const QString& verdict, bool require_trust) {
  TrustNotes notes;
  if (const QString expiry = ExpiryLine(verdict); !expiry.isEmpty()) notes.warnings << expiry;
  const QJsonArray signers =
      QJsonDocument::fromJson(report.toUtf8()).object().value(QStringLiteral("signers")).toArray();
  for (qsizetype i = 0; i < signers.size(); ++i) {
    const QJsonObject s = signers[i].toObject();
    if (const QJsonValue stamp = s.value(QStringLiteral("timestamp")); stamp.isObject())
      notes.timestamps << TimestampLine(stamp.toObject());
    const QString trust = s.value(QStringLiteral("trust")).toString();
    if (trust == u"trusted") continue;
    const QString line = QStringLiteral("signer %1 (%2) is %3: %4")
                             .arg(i + 1)
                             .arg(Printable(s.value(QStringLiteral("subject")).toString()),
                                  trust.isEmpty() ? QStringLiteral("untrusted") : trust,
                                  Printable(s.value(QStringLiteral("reason")).toString()));
    notes.warnings << QStringLiteral("Warning: ") + line;
    if (require_trust && notes.failure.isEmpty())
      notes.failure = QStringLiteral("The signature is valid, but ") + line;
  }
  if (require_trust && signers.isEmpty())
    notes.failure = QStringLiteral(
        "The signature is valid, but its signers could not be checked "
        "for trust.");
  return notes;
}

}  // namespace vellum::desk
