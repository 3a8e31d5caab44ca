// A test PKI: keys and certificates made with the OpenSSL API at run time, and the store
// folders the library reads them from.
//
// Typical use:
//   vellum::testing::TempFolder tmp;
//   vellum::testing::ScopedStoreRoot stores(tmp.path());        // VELLUM_STORE_DIR
//   auto pki = vellum::testing::TestPki::Make("CN=Ann Lee, O=Example Ltd, C=GB");
//   vellum::testing::PutInStore("My", pki.signer);              // cert + .key
//   vellum::testing::PutInStore("CA", pki.intermediate, StoreFormat::kPemNoKey);
#pragma once

#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "library/crypto/certificate.h"
#include "tests/support/temp_folder.h"

namespace vellum::testing {

inline constexpr std::time_t kDay = 24 * 60 * 60;

enum class KeyKind {
  kEcP256,   // fast; the default
  kRsa2048,  // for tests that care about RSA
  kRsa1024,  // weak: verifies, and the trust answer says weak
  kRsa512,   // broken: refused by every verify method
  kEcP224,   // weak
};

struct CertOptions {
  // Text form, most specific first; keys CN, OU, O, L, S, C, E.
  std::string subject = "CN=Test Signer, O=Vellum Test, C=GB";
  // Validity relative to now, in seconds (negative is the past).
  std::time_t not_before_offset = -kDay;
  std::time_t not_after_offset = 365 * kDay;
  bool ca = false;
  KeyKind key = KeyKind::kEcP256;
  // The keyUsage value ("critical,digitalSignature"); empty for the default of the kind
  // (keyCertSign and cRLSign for a CA, digitalSignature and nonRepudiation otherwise), "none"
  // for no extension at all.
  std::string key_usage{};
  // The extendedKeyUsage value ("emailProtection"); empty for no extension.
  std::string extended_key_usage{};
};

// A certificate with its key; copies share both.
class TestCert {
 public:
  X509* x509() const { return cert_.get(); }
  EVP_PKEY* key() const { return key_.get(); }
  std::string Subject() const;  // the library's text form
  std::string Pem() const;
  std::string KeyPem() const;  // unencrypted PKCS#8 PEM
  std::string Der() const;
  // PKCS#12 with the certificate, its key and `chain` (may be empty), under `password`.
  std::string Pkcs12(const std::string& password, const std::vector<TestCert>& chain = {}) const;
  // As the component sees it; without the key when `with_key` is false.
  crypto::Certificate ToCertificate(bool with_key = true) const;

 private:
  friend TestCert MakeCert(const CertOptions&, const TestCert*);
  std::shared_ptr<X509> cert_;
  std::shared_ptr<EVP_PKEY> key_;
};

// Self-signed when `issuer` is null, else signed by the issuer's key. Throws on failure.
TestCert MakeCert(const CertOptions& options, const TestCert* issuer = nullptr);

// Root CA -> intermediate CA -> end certificate with `signer_subject`.
struct TestPki {
  TestCert root;
  TestCert intermediate;
  TestCert signer;
  static TestPki Make(const std::string& signer_subject = "CN=Ann Lee, O=Example Ltd, C=GB",
                      KeyKind key = KeyKind::kEcP256);
};

// A CRL issued by `issuer` (signed with its key, SHA-256) listing `revoked` as revoked
// `revoked_offset` seconds from now (an hour ago by default), with the CRL reason code `reason`
// (RFC 5280 section 5.3.1; none when negative), valid from a day ago for `next_update_offset`
// seconds. PEM text, or DER bytes.
std::string MakeCrl(const TestCert& issuer, const std::vector<TestCert>& revoked, bool pem = true,
                    std::time_t next_update_offset = 30 * kDay,
                    std::time_t revoked_offset = -60 * 60, int reason = -1);

// Sets VELLUM_STORE_DIR to `root` until destruction.
class ScopedStoreRoot {
 public:
  explicit ScopedStoreRoot(const std::string& root) : env_("VELLUM_STORE_DIR", root) {}

 private:
  ScopedEnv env_;
};

enum class StoreFormat {
  kPemWithKeyFile,  // <base>.pem and <base>.key
  kPemNoKey,        // <base>.pem only
  kDerWithKeyFile,  // <base>.cer (DER) and <base>.key
  kPkcs12,          // <base>.p12 with an empty password
};

// Writes `cert` into the store folder `store` under $VELLUM_STORE_DIR (created when missing),
// as files named `base` (default: a name made from the subject's first value). Returns the
// path of the certificate file.
std::string PutInStore(const std::string& store, const TestCert& cert,
                       StoreFormat format = StoreFormat::kPemWithKeyFile, std::string base = "");

}  // namespace vellum::testing
