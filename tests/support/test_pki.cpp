#include "tests/support/test_pki.h"

#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509v3.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "library/crypto/ossl.h"

namespace vellum::testing {
namespace {

using namespace vellum::crypto;

void Check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string("test PKI: ") + what);
}

ossl::PkeyPtr NewKey(KeyKind kind) {
  ossl::PkeyPtr key;
  switch (kind) {
    case KeyKind::kEcP256:
      key.reset(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
      break;
    case KeyKind::kEcP224:
      key.reset(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-224"));
      break;
    case KeyKind::kRsa2048:
      key.reset(EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(2048)));
      break;
    case KeyKind::kRsa1024:
      key.reset(EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(1024)));
      break;
    case KeyKind::kRsa512:
      key.reset(EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(512)));
      break;
  }
  Check(key != nullptr, "key generation");
  return key;
}

void AddExt(X509* cert, X509V3_CTX* ctx, int nid, const char* value) {
  ossl::X509ExtPtr ext(X509V3_EXT_conf_nid(nullptr, ctx, nid, value));
  Check(ext && X509_add_ext(cert, ext.get(), -1) == 1, "extension");
}

std::string FromBio(BIO* bio) {
  return ossl::MemoryContents(bio);
}

}  // namespace

std::string TestCert::Subject() const {
  return FormatName(X509_get_subject_name(x509()));
}

std::string TestCert::Pem() const {
  ossl::BioPtr bio(BIO_new(BIO_s_mem()));
  Check(PEM_write_bio_X509(bio.get(), x509()) == 1, "PEM");
  return FromBio(bio.get());
}

std::string TestCert::KeyPem() const {
  ossl::BioPtr bio(BIO_new(BIO_s_mem()));
  Check(PEM_write_bio_PrivateKey(bio.get(), key(), nullptr, nullptr, 0, nullptr, nullptr) == 1,
        "key PEM");
  return FromBio(bio.get());
}

std::string TestCert::Der() const {
  unsigned char* raw = nullptr;
  int length = i2d_X509(x509(), &raw);
  Check(length > 0, "DER");
  ossl::OpensslBytes owned(raw);
  return std::string(reinterpret_cast<char*>(raw), static_cast<std::size_t>(length));
}

std::string TestCert::Pkcs12(const std::string& password,
                             const std::vector<TestCert>& chain) const {
  ossl::X509StackPtr ca(sk_X509_new_null());
  for (const auto& c : chain) {
    X509_up_ref(c.x509());
    sk_X509_push(ca.get(), c.x509());
  }
  // AES-256 and SHA-256 MAC: the defaults of OpenSSL 3, stated so the test does not depend
  // on the legacy provider.
  ossl::Pkcs12Ptr p12(PKCS12_create(password.c_str(), "test", key(), x509(), ca.get(),
                                    NID_aes_256_cbc, NID_aes_256_cbc, 2048, 1, 0));
  Check(p12 != nullptr, "PKCS#12");
  unsigned char* raw = nullptr;
  int length = i2d_PKCS12(p12.get(), &raw);
  Check(length > 0, "PKCS#12 DER");
  ossl::OpensslBytes owned(raw);
  return std::string(reinterpret_cast<char*>(raw), static_cast<std::size_t>(length));
}

crypto::Certificate TestCert::ToCertificate(bool with_key) const {
  X509_up_ref(x509());
  ossl::PkeyPtr key_ref;
  if (with_key) {
    EVP_PKEY_up_ref(key());
    key_ref.reset(key());
  }
  return crypto::Certificate(ossl::X509Ptr(x509()), std::move(key_ref));
}

TestCert MakeCert(const CertOptions& options, const TestCert* issuer) {
  ossl::EnsureProviders();
  ossl::PkeyPtr key = NewKey(options.key);
  ossl::X509Ptr cert(X509_new());
  Check(cert != nullptr, "X509_new");
  ossl::X509NamePtr subject = ParseName(options.subject);
  unsigned char serial[16];
  Check(RAND_bytes(serial, sizeof serial) == 1, "serial");
  serial[0] &= 0x7F;
  serial[0] |= 0x01;
  ossl::BignumPtr bn(BN_bin2bn(serial, sizeof serial, nullptr));
  std::time_t now = std::time(nullptr);
  Check(
      X509_set_version(cert.get(), X509_VERSION_3) == 1 &&
          BN_to_ASN1_INTEGER(bn.get(), X509_get_serialNumber(cert.get())) != nullptr &&
          X509_set_subject_name(cert.get(), subject.get()) == 1 &&
          X509_set_issuer_name(cert.get(), issuer != nullptr ? X509_get_subject_name(issuer->x509())
                                                             : subject.get()) == 1 &&
          ASN1_TIME_set(X509_getm_notBefore(cert.get()), now + options.not_before_offset) &&
          ASN1_TIME_set(X509_getm_notAfter(cert.get()), now + options.not_after_offset) &&
          X509_set_pubkey(cert.get(), key.get()) == 1,
      "certificate fields");
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, issuer != nullptr ? issuer->x509() : cert.get(), cert.get(), nullptr,
                 nullptr, 0);
  AddExt(cert.get(), &ctx, NID_basic_constraints, options.ca ? "critical,CA:TRUE" : "CA:FALSE");
  if (options.key_usage != "none")
    AddExt(cert.get(), &ctx, NID_key_usage,
           !options.key_usage.empty() ? options.key_usage.c_str()
           : options.ca               ? "critical,keyCertSign,cRLSign"
                                      : "critical,digitalSignature,nonRepudiation");
  if (!options.extended_key_usage.empty())
    AddExt(cert.get(), &ctx, NID_ext_key_usage, options.extended_key_usage.c_str());
  AddExt(cert.get(), &ctx, NID_subject_key_identifier, "hash");
  if (issuer != nullptr) AddExt(cert.get(), &ctx, NID_authority_key_identifier, "keyid:always");
  EVP_PKEY* signing_key = issuer != nullptr ? issuer->key() : key.get();
  Check(X509_sign(cert.get(), signing_key, EVP_sha256()) > 0, "signing");
  TestCert out;
  out.cert_ = std::move(cert);
  out.key_ = std::move(key);
  return out;
}

TestPki TestPki::Make(const std::string& signer_subject, KeyKind key) {
  TestPki pki;
  pki.root =
      MakeCert({"CN=Vellum Test Root, O=Vellum Test, C=GB", -30 * kDay, 3650 * kDay, true, key});
  pki.intermediate = MakeCert(
      {"CN=Vellum Test Issuing CA, O=Vellum Test, C=GB", -20 * kDay, 1825 * kDay, true, key},
      &pki.root);
  pki.signer = MakeCert({signer_subject, -kDay, 365 * kDay, false, key}, &pki.intermediate);
  return pki;
}

std::string MakeCrl(const TestCert& issuer, const std::vector<TestCert>& revoked, bool pem,
                    std::time_t next_update_offset, std::time_t revoked_offset, int reason) {
  using CrlPtr = std::unique_ptr<X509_CRL, ossl::Deleter<X509_CRL_free>>;
  using RevokedPtr = std::unique_ptr<X509_REVOKED, ossl::Deleter<X509_REVOKED_free>>;
  CrlPtr crl(X509_CRL_new());
  Check(crl != nullptr, "X509_CRL_new");
  const std::time_t now = std::time(nullptr);
  ossl::Asn1TimePtr last(ASN1_TIME_set(nullptr, now - kDay));
  ossl::Asn1TimePtr next(ASN1_TIME_set(nullptr, now + next_update_offset));
  ossl::Asn1TimePtr when(ASN1_TIME_set(nullptr, now + revoked_offset));
  Check(X509_CRL_set_version(crl.get(), 1) == 1 &&
            X509_CRL_set_issuer_name(crl.get(), X509_get_subject_name(issuer.x509())) == 1 &&
            last && next && when && X509_CRL_set1_lastUpdate(crl.get(), last.get()) == 1 &&
            X509_CRL_set1_nextUpdate(crl.get(), next.get()) == 1,
        "CRL fields");
  for (const auto& cert : revoked) {
    RevokedPtr entry(X509_REVOKED_new());
    Check(entry &&
              X509_REVOKED_set_serialNumber(entry.get(), X509_get_serialNumber(cert.x509())) == 1 &&
              X509_REVOKED_set_revocationDate(entry.get(), when.get()) == 1,
          "CRL entry");
    if (reason >= 0) {
      ossl::Asn1EnumeratedPtr code(ASN1_ENUMERATED_new());
      Check(code && ASN1_ENUMERATED_set(code.get(), reason) == 1 &&
                X509_REVOKED_add1_ext_i2d(entry.get(), NID_crl_reason, code.get(), 0, 0) == 1,
            "CRL reason");
    }
    Check(X509_CRL_add0_revoked(crl.get(), entry.get()) == 1, "CRL entry");
    entry.release();  // the CRL owns it now
  }
  Check(X509_CRL_sort(crl.get()) == 1 && X509_CRL_sign(crl.get(), issuer.key(), EVP_sha256()) > 0,
        "CRL signing");
  if (pem) {
    ossl::BioPtr bio(BIO_new(BIO_s_mem()));
    Check(PEM_write_bio_X509_CRL(bio.get(), crl.get()) == 1, "CRL PEM");
    return FromBio(bio.get());
  }
  unsigned char* raw = nullptr;
  int length = i2d_X509_CRL(crl.get(), &raw);
  Check(length > 0, "CRL DER");
  ossl::OpensslBytes owned(raw);
  return std::string(reinterpret_cast<char*>(raw), static_cast<std::size_t>(length));
}

std::string PutInStore(const std::string& store, const TestCert& cert, StoreFormat format,
                       std::string base) {
  const char* root = std::getenv("VELLUM_STORE_DIR");
  Check(root != nullptr && *root != '\0', "VELLUM_STORE_DIR is not set");
  std::string folder = std::string(root) + "/" + store;
  std::filesystem::create_directories(folder);
  if (base.empty()) {
    std::string subject = cert.Subject();
    std::size_t eq = subject.find('=');
    std::size_t comma = subject.find(',');
    for (char c :
         subject.substr(eq + 1, comma == std::string::npos ? std::string::npos : comma - eq - 1))
      base += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  }
  std::string path = folder + "/" + base;
  switch (format) {
    case StoreFormat::kPemWithKeyFile:
      WriteFile(path + ".key", cert.KeyPem());
      [[fallthrough]];
    case StoreFormat::kPemNoKey:
      WriteFile(path + ".pem", cert.Pem());
      return path + ".pem";
    case StoreFormat::kDerWithKeyFile:
      WriteFile(path + ".key", cert.KeyPem());
      WriteFile(path + ".cer", cert.Der());
      return path + ".cer";
    case StoreFormat::kPkcs12:
      WriteFile(path + ".p12", cert.Pkcs12(""));
      return path + ".p12";
  }
  return path;
}

}  // namespace vellum::testing
