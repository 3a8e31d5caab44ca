// Who signed, and whether that signer is trusted: the second answer about a verified message,
// beside the verdict on the signature itself.
//
// For each signer the evaluation builds a chain with OpenSSL's X509_verify_cert from the
// signer's certificate to an anchor:
// - anchors: the current user's "Root" store folder, the system's trusted certificates
//   (/etc/ssl/certs, looked up by hashed name) and the files or folders a caller names. Any
//   anchor may end a chain, a root or not: an anchor is what its owner chose to trust.
// - intermediates: the certificates the message carries and the "CA" store folder; never
//   anchors, so a root shipped inside a message proves nothing.
// - revocation: CRLs (PEM or DER files named *.crl) in the "CA" and "Root" store folders and
//   the CRL files a caller names. A certificate with no CRL of its issuer is not revoked.
// - key usage as `openssl cms -verify` checks it (the S/MIME signing purpose): a signer
//   certificate with a key usage extension must allow digitalSignature or nonRepudiation, one
//   with an extended key usage must allow emailProtection or anyExtendedKeyUsage.
// - weak: a signature that is otherwise trusted but made over SHA-1, or with an RSA key under
//   2048 bits or an EC key under 256 bits.
// - timestamps: a signer's RFC 3161 token is checked (its signature, the imprint over the
//   signer's signature, the authority's chain to the same anchors at the token's time). When it
//   holds, the signer's chain is judged at the token's time instead of now: a certificate that
//   expired, or was revoked, after the token is still good for this signature (unless revoked
//   for a compromised key). The reason then says "valid at the timestamp".
// The first failure found decides: untrusted (no chain, a forged or unusable certificate),
// revoked, expired, not-yet-valid, in the order OpenSSL checks them; weak only when the chain
// holds.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "library/crypto/ossl.h"
#include "library/crypto/signed_data.h"
#include "library/crypto/timestamp.h"

namespace vellum::crypto {

enum class Trust { kTrusted, kUntrusted, kExpired, kNotYetValid, kRevoked, kWeak };

// "trusted", "untrusted", "expired", "not-yet-valid", "revoked", "weak".
const char* TrustName(Trust trust);

// What a caller adds to the anchors and CRLs the stores give.
struct TrustSources {
  std::vector<std::string> anchors;  // certificate files (PEM or DER) or folders of them
  std::vector<std::string> crls;     // CRL files, PEM (any number) or DER (one)
};

struct ChainEntry {
  std::string subject;
  std::time_t valid_to = 0;
};

// The second answer for one signer, with the facts a person checks it by.
struct SignerTrust {
  std::string subject;
  std::string fingerprint;  // SHA-256 of the certificate's DER: "AB:CD:…", 32 pairs
  std::optional<std::time_t> signing_time;  // as claimed by the signer
  std::string digest;                       // "SHA-256"
  std::string key;                          // "RSA 2048 bits", "EC 256 bits (P-256)"
  Trust trust = Trust::kUntrusted;
  std::string reason;  // one line; for trusted (and weak) chains the anchor's subject leads
  std::string anchor;  // the anchor's subject when the chain reached one
  std::vector<ChainEntry> chain;            // the signer's certificate first
  std::optional<TimestampCheck> timestamp;  // when the signer carries a token
};

class TrustEvaluator {
 public:
  // Reads the store folders and `sources`. A store folder that cannot be read adds nothing; a
  // file or folder the caller names that cannot be read (or holds no certificate or CRL)
  // raises hr::kStoreOpen naming it.
  explicit TrustEvaluator(const TrustSources& sources);

  // The evaluation of one signer of a verified message, at time `now`.
  SignerTrust Evaluate(const MessageSigner& signer, std::time_t now) const;

 private:
  struct Judgement;
  // The signer's chain judged at `when`; with `timestamped`, a revocation after `when` does not
  // count unless it names a compromised key.
  Judgement Judge(const MessageSigner& signer, std::time_t when, bool timestamped) const;

  ossl::X509StorePtr store_;
  ossl::X509StorePtr timestamp_store_;      // the same anchors and CRLs, for authorities' chains
  std::vector<Certificate> intermediates_;  // the CA folder
  std::vector<ossl::X509CrlPtr> crls_;      // also in store_; kept for the revocation reason
};

// Helpers the report uses, exposed for tests.
std::string Sha256Fingerprint(const Certificate& cert);
std::string DigestName(int nid);
std::string KeyDescription(EVP_PKEY* key);

}  // namespace vellum::crypto
