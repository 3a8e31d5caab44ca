// Signing and verifying CMS SignedData messages (RFC 5652) over byte strings.
#pragma once

#include <cstdint>
#include <ctime>
#include <exception>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "library/crypto/certificate.h"
#include "library/crypto/codec.h"
#include "library/crypto/ossl.h"
#include "library/crypto/timestamp.h"

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
  // When set, every signature made for this signer gets a timestamp from the authority before
  // the message is handed out; a failure of the authority fails the signing.
  void SetTimestampAuthority(std::optional<TimestampAuthority> authority) {
    timestamp_authority_ = std::move(authority);
  }
  const std::optional<TimestampAuthority>& timestamp_authority() const {
    return timestamp_authority_;
  }

 private:
  std::optional<Certificate> certificate_;
  std::vector<Attribute> attributes_;
  std::optional<TimestampAuthority> timestamp_authority_;
};

// What a signer info says about its signature besides the certificate: the digest it names
// and the signing time the signer claims (a signed attribute, so only as true as the signer).
struct SignerFacts {
  int digest_nid = 0;  // NID_undef when the message names no digest OpenSSL knows
  std::optional<std::time_t> signing_time;
  // The certificates the message carries, shared by all its signers: the intermediates a
  // trust evaluation may use (never anchors).
  std::vector<Certificate> carried;
  // The signer's signature value and the RFC 3161 token over it the signer info carries, if
  // any (unchecked: the trust evaluation checks it).
  Bytes signature_value;
  std::optional<Bytes> timestamp_token;
};

// One signer of a verified message.
class MessageSigner {
 public:
  MessageSigner(Certificate certificate, std::vector<Certificate> chain, SignerFacts facts = {})
      : certificate_(std::move(certificate)), chain_(std::move(chain)), facts_(std::move(facts)) {}
  const Certificate& certificate() const { return certificate_; }
  // The signer's certificate first, the root (or the last issuer found) last.
  const std::vector<Certificate>& Chain() const { return chain_; }
  const SignerFacts& Facts() const { return facts_; }

 private:
  Certificate certificate_;
  std::vector<Certificate> chain_;
  SignerFacts facts_;
};

// A content handed over in pieces: each call fills up to `capacity` bytes of `buffer` and
// returns how many it filled, 0 at the end. It may raise vellum::Error, which passes on to the
// caller of the operation unchanged.
using ContentReader = std::function<std::size_t(char* buffer, std::size_t capacity)>;

// A signature made over a content read once in pieces (SignedData::SignStream). It holds only
// the signature, never the content, so files of any size can be signed in bounded memory.
class StreamSignature {
 public:
  explicit StreamSignature(ossl::CmsPtr cms, std::uint64_t content_length)
      : cms_(std::move(cms)), content_length_(content_length) {}

  // The detached message, as Sign gives it with bDetached true.
  Bytes DetachedMessage(int encoding) const;

  // Hands `sink` the attached message, byte for byte what Sign gives with bDetached false for
  // the same content and signing time, reading the content a second time from `content`. The
  // second reading must give exactly the bytes that were signed; otherwise this raises
  // hr::kHashMismatch ("The content changed while it was being signed.") after part of the
  // message went out, so a caller writes it where it can be discarded. With `units` the Base64
  // text goes out as UTF-16LE units (the text type's form of it).
  void WriteAttachedMessage(int encoding, const ContentReader& content, const ByteSink& sink,
                            bool units = false) const;

  // The length of the attached message in DER (before any Base64 encoding), known before it is
  // written.
  std::uint64_t AttachedLength() const;

 private:
  ossl::CmsPtr cms_;  // detached form
  std::uint64_t content_length_;
};

// Adds a timestamp from `authority` to each signer of a signed message (detached or attached,
// in any form DecodeMessage reads) that has none, and gives the message back in `encoding`.
// `added` gets how many were added; with none added the message is given back re-encoded all
// the same. Raises hr::kNotSignedMessage or hr::kBadMessageType for what is no signed message,
// and as RequestTimestamp does.
Bytes TimestampMessage(std::string_view message, int encoding, const TimestampAuthority& authority,
                       int& added);

class SignedData {
 public:
  void SetContent(Bytes content) { content_ = std::move(content); }
  const Bytes& Content() const { return content_; }

  // Signs the content with SHA-256, a signing-time attribute (the signer's, else now) and the
  // signer's certificate with its chain except the root. Encoding 0 gives Base64 text with CR
  // LF after every 64 characters, 1 the DER bytes. A signer without a certificate raises
  // hr::kSignerNotFound; a certificate without a usable key 0x80090016 (keyset missing).
  Bytes Sign(const Signer& signer, bool detached, int encoding);

  // Sign for a content read in pieces from `content` instead of the one set before; the
  // returned signature gives the detached or attached message.
  StreamSignature SignStream(const Signer& signer, const ContentReader& content);

  // SignStream and the attached message in one reading of `content`: the message goes to
  // `append` as the content is read and signed, its head laid out for `expected_length` bytes
  // of content and a signature of the usual size, and `replace_start` is then given the
  // message's first bytes (as many as were handed out) with the head as it turned out, to
  // replace them. The head comes out another size only where the message's length crosses a
  // power of 256 between the two: then `written` is false, nothing more is handed out, and the
  // message is to be written again with WriteAttachedMessage from a second reading. The bytes
  // are those Sign gives with bDetached false for the content read.
  StreamSignature SignAttached(const Signer& signer, const ContentReader& content,
                               std::uint64_t expected_length, int encoding, const ByteSink& append,
                               const ByteSink& replace_start, bool& written);

  // Checks the signatures only (no chain or validity policy). Detached messages are checked
  // over the content set before; after an attached check Content() is the signed content.
  // Failures: hr::kNotSignedMessage (unreadable), hr::kBadMessageType (not SignedData, or no
  // content to check), hr::kSignerNotFound, hr::kBadSignature, hr::kHashMismatch.
  // A signature over a broken digest (MD2, MD4, MD5) or by an RSA key under 1024 bits proves
  // nothing, whatever the arithmetic says: it fails as a damaged one (hr::kBadSignature).
  void Verify(const Bytes& message, bool detached);

  // Verify of a detached message over a content read in pieces from `content` rather than the
  // one set before, with the same failures; an error raised by `content` passes on as it is.
  void VerifyDetached(const Bytes& message, const ContentReader& content);

  // The signers of the last successful Verify, in message order; empty before one.
  const std::vector<MessageSigner>& Signers() const { return signers_; }

 private:
  // Verify's checks with the content (detached) coming from `content`; `content_error` is where
  // a reading BIO keeps an error raised while OpenSSL was reading.
  void CheckMessage(const Bytes& message, bool detached, BIO* content,
                    const std::exception_ptr* content_error);

  Bytes content_;
  std::vector<MessageSigner> signers_;
};

}  // namespace vellum::crypto
