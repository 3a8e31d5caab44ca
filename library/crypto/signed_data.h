// Signing and verifying CMS SignedData messages (RFC 5652) over byte strings.
#pragma once

#include <ctime>
#include <optional>
#include <vector>

#include "library/crypto/certificate.h"

namespace vellum::crypto {

inline constexpr int kAttributeSigningTime = 0;
inline constexpr int kEncodeBase64 = 0;
inline constexpr int kEncodeBinary = 1;

// An authenticated attribute; only the signing time (name 0) exists.
struct Attribute {
  int name = kAttributeSigningTime;
  std::time_t value = 0;
};

class Signer {
 public:
  void SetCertificate(const Certificate& cert) { certificate_ = cert; }
  const std::optional<Certificate>& certificate() const { return certificate_; }
  // Raises hr::kInvalidArg for an attribute name other than the signing time.
  void AddAuthenticatedAttribute(const Attribute& attribute);
  const std::vector<Attribute>& AuthenticatedAttributes() const { return attributes_; }

 private:
  std::optional<Certificate> certificate_;
  std::vector<Attribute> attributes_;
};

// One signer of a verified message.
class MessageSigner {
 public:
  MessageSigner(Certificate certificate, std::vector<Certificate> chain)
      : certificate_(std::move(certificate)), chain_(std::move(chain)) {}
  const Certificate& certificate() const { return certificate_; }
  // The signer's certificate first, the root (or the last issuer found) last.
  const std::vector<Certificate>& Chain() const { return chain_; }

 private:
  Certificate certificate_;
  std::vector<Certificate> chain_;
};

class SignedData {
 public:
  void SetContent(Bytes content) { content_ = std::move(content); }
  const Bytes& Content() const { return content_; }

  // Signs the content with SHA-256, a signing-time attribute (the signer's, else now) and the
  // signer's certificate with its chain except the root. Encoding 0 gives Base64 text with CR
  // LF after every 64 characters, 1 the DER bytes. A signer without a certificate raises
  // hr::kSignerNotFound; a certificate without a usable key 0x80090016 (keyset missing).
  Bytes Sign(const Signer& signer, bool detached, int encoding);

  // Checks the signatures only (no chain or validity policy). Detached messages are checked
  // over the content set before; after an attached check Content() is the signed content.
  // Failures: hr::kNotSignedMessage (unreadable), hr::kBadMessageType (not SignedData, or no
  // content to check), hr::kSignerNotFound, hr::kBadSignature, hr::kHashMismatch.
  void Verify(const Bytes& message, bool detached);

  // The signers of the last successful Verify, in message order; empty before one.
  const std::vector<MessageSigner>& Signers() const { return signers_; }

 private:
  Bytes content_;
  std::vector<MessageSigner> signers_;
};

}  // namespace vellum::crypto
