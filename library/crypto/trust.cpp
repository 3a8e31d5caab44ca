#include "library/crypto/trust.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "library/crypto/chain.h"
#include "library/crypto/store.h"
#include "library/platform/dates.h"
#include "library/platform/error.h"
#include "library/platform/files.h"

namespace vellum::crypto {
namespace fs = std::filesystem;
namespace {

constexpr const char* kRootStore = "Root";
constexpr const char* kCaStore = "CA";

// Below these a key is weak: it still verifies, and the trust answer says so.
constexpr int kStrongRsaBits = 2048;
constexpr int kStrongEcBits = 256;

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool LooksLikePem(std::string_view data) {
  return data.find("-----BEGIN ") != std::string_view::npos;
}

std::vector<ossl::X509CrlPtr> ParseCrls(std::string_view data) {
  std::vector<ossl::X509CrlPtr> out;
  if (LooksLikePem(data)) {
    ossl::BioPtr bio = ossl::MemoryReader(data);
    while (X509_CRL* crl = PEM_read_bio_X509_CRL(bio.get(), nullptr, nullptr, nullptr))
      out.emplace_back(crl);
  } else {
    const auto* p = reinterpret_cast<const unsigned char*>(data.data());
    ossl::X509CrlPtr crl(d2i_X509_CRL(nullptr, &p, static_cast<long>(data.size())));
    if (crl && p == reinterpret_cast<const unsigned char*>(data.data()) + data.size())
      out.push_back(std::move(crl));
  }
  ERR_clear_error();
  return out;
}

// A caller's CRL file: one that cannot be read or holds no CRL is the caller's mistake.
std::vector<ossl::X509CrlPtr> CallerCrls(const std::string& path) {
  Bytes data;
  try {
    data = platform::ReadFileBytes(path);
  } catch (const Error& e) {
    throw Error::Component(hr::kStoreOpen,
                           "The CRL file \"" + path + "\" cannot be read: " + e.description());
  }
  auto crls = ParseCrls(data);
  if (crls.empty())
    throw Error::Component(hr::kStoreOpen, "The file \"" + path + "\" holds no CRL.");
  return crls;
}

// The *.crl files of a store folder; what cannot be read there is passed over, as the store
// passes over files that do not parse.
std::vector<ossl::X509CrlPtr> StoreCrls(const std::string& store) {
  std::vector<ossl::X509CrlPtr> out;
  std::error_code ec;
  std::vector<fs::path> files;
  for (fs::directory_iterator it(platform::PathFromUtf8(StoreFolder(store)), ec), end;
       !ec && it != end; it.increment(ec)) {
    std::error_code type_ec;
    if (it->is_regular_file(type_ec) &&
        Lower(platform::PathToUtf8(it->path().extension())) == ".crl")
      files.push_back(it->path());
  }
  std::sort(files.begin(), files.end());
  for (const auto& file : files) {
    try {
      for (auto& crl : ParseCrls(platform::ReadFileBytes(platform::PathToUtf8(file))))
        out.push_back(std::move(crl));
    } catch (const Error&) {
    }
  }
  return out;
}

std::vector<Certificate> StoreCertificates(const std::string& store) {
  try {
    return Store::Open(kCurrentUserStore, store, kStoreReadOnly).Certificates().items();
  } catch (const Error&) {
    return {};
  }
}

ossl::X509StackPtr StackOf(const std::vector<Certificate>& a, const std::vector<Certificate>& b) {
  ossl::X509StackPtr stack(sk_X509_new_null());
  if (!stack) ossl::Fail(hr::kOutOfMemory, "Out of memory.");
  for (const auto* list : {&a, &b})
    for (const auto& cert : *list) {
      if (sk_X509_push(stack.get(), cert.x509()) <= 0)
        ossl::Fail(hr::kOutOfMemory, "Out of memory.");
      X509_up_ref(cert.x509());
    }
  return stack;
}

// An extended key usage of anyExtendedKeyUsage alone allows signing documents too, which the
// S/MIME purpose of OpenSSL 3.0 does not grant; its key usage must still allow signing.
bool SignerUsageAllowed(X509* cert) {
  const std::uint32_t usage = X509_get_key_usage(cert);
  const bool key_usage_ok = (usage & (KU_DIGITAL_SIGNATURE | KU_NON_REPUDIATION)) != 0;
  const std::uint32_t extended = X509_get_extended_key_usage(cert);
  return key_usage_ok && (extended & (XKU_SMIME | XKU_ANYEKU)) != 0;
}

// RFC 5280 section 5.3.1 reasons after which no signature of the key counts, whenever made.
bool CompromisedKey(X509_REVOKED* entry) {
  ossl::Asn1EnumeratedPtr reason(static_cast<ASN1_ENUMERATED*>(
      X509_REVOKED_get_ext_d2i(entry, NID_crl_reason, nullptr, nullptr)));
  if (!reason) return false;
  const long code = ASN1_ENUMERATED_get(reason.get());
  return code == CRL_REASON_KEY_COMPROMISE || code == CRL_REASON_CA_COMPROMISE;
}

// True when the current certificate's revocation, in the CRL being checked, came after the
// time the chain is judged at (a timestamp's): the signature was made before it.
bool RevokedAfterCheckTime(X509_STORE_CTX* ctx) {
  X509_CRL* crl = X509_STORE_CTX_get0_current_crl(ctx);
  X509* cert = X509_STORE_CTX_get_current_cert(ctx);
  X509_REVOKED* entry = nullptr;
  if (crl == nullptr || cert == nullptr || X509_CRL_get0_by_cert(crl, &entry, cert) != 1 ||
      entry == nullptr || CompromisedKey(entry))
    return false;
  std::time_t revoked = 0;
  try {
    revoked = TimeFromAsn1(X509_REVOKED_get0_revocationDate(entry));
    // An invalidity date before the revocation moves it earlier (RFC 5280 section 5.3.2).
    ossl::Asn1TimePtr invalid(static_cast<ASN1_TIME*>(
        X509_REVOKED_get_ext_d2i(entry, NID_invalidity_date, nullptr, nullptr)));
    if (invalid) revoked = std::min(revoked, TimeFromAsn1(invalid.get()));
  } catch (const Error&) {
    return false;
  }
  ERR_clear_error();
  return revoked > X509_VERIFY_PARAM_get_time(X509_STORE_CTX_get0_param(ctx));
}

// Errors that end no chain: a certificate whose issuer published no CRL here is not revoked,
// and a CRL past its next update still lists what it revoked. A chain judged at a timestamp
// (the context's app data is set) passes a revocation that came after it.
int VerifyCallback(int ok, X509_STORE_CTX* ctx) {
  if (ok == 1) return 1;
  switch (X509_STORE_CTX_get_error(ctx)) {
    case X509_V_ERR_UNABLE_TO_GET_CRL:
    case X509_V_ERR_CRL_HAS_EXPIRED:
    case X509_V_ERR_CRL_NOT_YET_VALID:
      return 1;
    case X509_V_ERR_CERT_REVOKED:
      return X509_STORE_CTX_get_app_data(ctx) != nullptr && RevokedAfterCheckTime(ctx) ? 1 : 0;
    case X509_V_ERR_INVALID_PURPOSE:
      return X509_STORE_CTX_get_error_depth(ctx) == 0 &&
                     SignerUsageAllowed(X509_STORE_CTX_get_current_cert(ctx))
                 ? 1
                 : 0;
    default:
      return 0;
  }
}

// An authority's chain: missing CRLs and late CRLs end nothing, as for signers.
int TimestampVerifyCallback(int ok, X509_STORE_CTX* ctx) {
  if (ok == 1) return 1;
  switch (X509_STORE_CTX_get_error(ctx)) {
    case X509_V_ERR_UNABLE_TO_GET_CRL:
    case X509_V_ERR_CRL_HAS_EXPIRED:
    case X509_V_ERR_CRL_NOT_YET_VALID:
      return 1;
    default:
      return 0;
  }
}

std::string SubjectOf(X509* cert) {
  return cert != nullptr ? FormatName(X509_get_subject_name(cert)) : std::string("?");
}

std::string TimeText(const ASN1_TIME* time) {
  try {
    return platform::FormatLocalTime(TimeFromAsn1(time));
  } catch (const Error&) {
    return "an unreadable date";
  }
}

// The revocation date and the CRL's issuer, from the CRL of the certificate's issuer that lists
// it (OpenSSL found it; the context no longer holds it once the check is over).
std::string RevocationReason(X509* cert, const std::vector<ossl::X509CrlPtr>& crls) {
  std::string reason = SubjectOf(cert) + " is revoked";
  for (const auto& crl : crls) {
    X509_REVOKED* entry = nullptr;
    if (cert == nullptr ||
        X509_NAME_cmp(X509_CRL_get_issuer(crl.get()), X509_get_issuer_name(cert)) != 0 ||
        X509_CRL_get0_by_cert(crl.get(), &entry, cert) != 1 || entry == nullptr)
      continue;
    return reason + " since " + TimeText(X509_REVOKED_get0_revocationDate(entry)) + " (CRL of " +
           FormatName(X509_CRL_get_issuer(crl.get())) + ")";
  }
  return reason;
}

// The status and one-line reason of a chain that did not verify.
std::pair<Trust, std::string> Failure(X509_STORE_CTX* ctx,
                                      const std::vector<ossl::X509CrlPtr>& crls) {
  const int error = X509_STORE_CTX_get_error(ctx);
  X509* cert = X509_STORE_CTX_get_current_cert(ctx);
  const int depth = X509_STORE_CTX_get_error_depth(ctx);
  switch (error) {
    case X509_V_ERR_CERT_REVOKED:
      return {Trust::kRevoked, RevocationReason(cert, crls)};
    case X509_V_ERR_CERT_HAS_EXPIRED:
      return {Trust::kExpired,
              SubjectOf(cert) + " expired on " + TimeText(X509_get0_notAfter(cert))};
    case X509_V_ERR_CERT_NOT_YET_VALID:
      return {Trust::kNotYetValid,
              SubjectOf(cert) + " is not valid before " + TimeText(X509_get0_notBefore(cert))};
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
      return {Trust::kUntrusted, "self-signed, and in no set of trust anchors"};
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
      return {Trust::kUntrusted,
              "the chain ends at " + SubjectOf(cert) + ", which is no trust anchor"};
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
      return {Trust::kUntrusted,
              "no chain to a trust anchor: the issuer of " + SubjectOf(cert) + " was not found"};
    case X509_V_ERR_CERT_SIGNATURE_FAILURE:
      return {Trust::kUntrusted,
              "the issuer's signature on " + SubjectOf(cert) + " does not verify"};
    case X509_V_ERR_INVALID_PURPOSE:
      return {Trust::kUntrusted,
              depth == 0 ? "the certificate's key usage does not allow signing documents"
                         : SubjectOf(cert) + " may not certify signers of documents"};
    case X509_V_ERR_INVALID_CA:
      return {Trust::kUntrusted, SubjectOf(cert) + " is no certification authority"};
    default:
      return {Trust::kUntrusted, SubjectOf(cert) + ": " + X509_verify_cert_error_string(error)};
  }
}

// Why a signature on a chain that holds is still weak; empty when it is not.
std::string Weakness(const MessageSigner& signer) {
  std::vector<std::string> found;
  if (signer.Facts().digest_nid == NID_sha1) found.emplace_back("SHA-1 digest");
  EVP_PKEY* key = X509_get0_pubkey(signer.certificate().x509());
  if (key != nullptr) {
    const int id = EVP_PKEY_get_base_id(key);
    const int bits = EVP_PKEY_get_bits(key);
    if ((id == EVP_PKEY_RSA || id == EVP_PKEY_RSA_PSS) && bits < kStrongRsaBits)
      found.push_back("RSA key of " + std::to_string(bits) + " bits");
    if (id == EVP_PKEY_EC && bits < kStrongEcBits)
      found.push_back("EC key of " + std::to_string(bits) + " bits");
  }
  ERR_clear_error();
  std::string out;
  for (const auto& f : found) out += (out.empty() ? "" : ", ") + f;
  return out;
}

}  // namespace

const char* TrustName(Trust trust) {
  switch (trust) {
    case Trust::kTrusted:
      return "trusted";
    case Trust::kUntrusted:
      return "untrusted";
    case Trust::kExpired:
      return "expired";
    case Trust::kNotYetValid:
      return "not-yet-valid";
    case Trust::kRevoked:
      return "revoked";
    case Trust::kWeak:
      return "weak";
  }
  return "untrusted";
}

std::string Sha256Fingerprint(const Certificate& cert) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (X509_digest(cert.x509(), EVP_sha256(), digest, &length) != 1)
    ossl::Fail(hr::kFail, "The certificate's fingerprint could not be computed.");
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned int i = 0; i < length; ++i) {
    if (i > 0) out += ':';
    out += kHex[digest[i] >> 4];
    out += kHex[digest[i] & 0x0F];
  }
  return out;
}

std::string DigestName(int nid) {
  switch (nid) {
    case NID_sha1:
      return "SHA-1";
    case NID_sha224:
      return "SHA-224";
    case NID_sha256:
      return "SHA-256";
    case NID_sha384:
      return "SHA-384";
    case NID_sha512:
      return "SHA-512";
    case NID_undef:
      return "unknown";
    default:
      return OBJ_nid2sn(nid) != nullptr ? OBJ_nid2sn(nid) : "unknown";
  }
}

std::string KeyDescription(EVP_PKEY* key) {
  if (key == nullptr) return "unknown";
  const int id = EVP_PKEY_get_base_id(key);
  std::string name;
  switch (id) {
    case EVP_PKEY_RSA:
      name = "RSA";
      break;
    case EVP_PKEY_RSA_PSS:
      name = "RSA-PSS";
      break;
    case EVP_PKEY_EC:
      name = "EC";
      break;
    default:
      name = OBJ_nid2sn(id) != nullptr ? OBJ_nid2sn(id) : "unknown";
      break;
  }
  std::string out = name + " " + std::to_string(EVP_PKEY_get_bits(key)) + " bits";
  char group[80];
  std::size_t group_length = 0;
  if (id == EVP_PKEY_EC && EVP_PKEY_get_group_name(key, group, sizeof group, &group_length) == 1) {
    const char* nist = EC_curve_nid2nist(OBJ_txt2nid(group));
    out += std::string(" (") + (nist != nullptr ? nist : group) + ")";
  }
  ERR_clear_error();
  return out;
}

TrustEvaluator::TrustEvaluator(const TrustSources& sources) {
  ossl::EnsureProviders();
  store_.reset(X509_STORE_new());
  timestamp_store_.reset(X509_STORE_new());
  if (!store_ || !timestamp_store_) ossl::Fail(hr::kOutOfMemory, "Out of memory.");
  std::vector<Certificate> anchors = StoreCertificates(kRootStore);
  for (const auto& path : sources.anchors) {
    auto named = CertificatesAt(path);
    anchors.insert(anchors.end(), named.begin(), named.end());
  }
  for (X509_STORE* store : {store_.get(), timestamp_store_.get()}) {
    for (const auto& anchor : anchors) (void)X509_STORE_add_cert(store, anchor.x509());
    // The system's folder is looked up by hashed name as chains need it; a system without one
    // simply has no anchors there.
    (void)X509_STORE_load_path(store, kSystemCertificates);
  }
  ERR_clear_error();

  crls_ = StoreCrls(kCaStore);
  for (auto& crl : StoreCrls(kRootStore)) crls_.push_back(std::move(crl));
  for (const auto& path : sources.crls)
    for (auto& crl : CallerCrls(path)) crls_.push_back(std::move(crl));
  for (const auto& crl : crls_) {
    (void)X509_STORE_add_crl(store_.get(), crl.get());
    (void)X509_STORE_add_crl(timestamp_store_.get(), crl.get());
  }
  ERR_clear_error();
  unsigned long flags = X509_V_FLAG_PARTIAL_CHAIN;
  if (!crls_.empty()) flags |= X509_V_FLAG_CRL_CHECK | X509_V_FLAG_CRL_CHECK_ALL;
  X509_STORE_set_flags(store_.get(), flags);
  X509_STORE_set_flags(timestamp_store_.get(), flags);
  X509_STORE_set_verify_cb(store_.get(), VerifyCallback);
  X509_STORE_set_verify_cb(timestamp_store_.get(), TimestampVerifyCallback);

  intermediates_ = StoreCertificates(kCaStore);
}

struct TrustEvaluator::Judgement {
  Trust trust = Trust::kUntrusted;
  std::string reason;
  std::string anchor;
  std::vector<ChainEntry> chain;
  bool holds() const { return trust == Trust::kTrusted || trust == Trust::kWeak; }
};

TrustEvaluator::Judgement TrustEvaluator::Judge(const MessageSigner& signer, std::time_t when,
                                                bool timestamped) const {
  const Certificate& cert = signer.certificate();
  Judgement out;
  ossl::X509StackPtr untrusted = StackOf(signer.Facts().carried, intermediates_);
  ossl::X509StoreCtxPtr ctx(X509_STORE_CTX_new());
  if (!ctx || X509_STORE_CTX_init(ctx.get(), store_.get(), cert.x509(), untrusted.get()) != 1)
    ossl::Fail(hr::kOutOfMemory, "Out of memory.");
  // S/MIME signing, the purpose `openssl cms -verify` checks a signer for.
  X509_STORE_CTX_set_purpose(ctx.get(), X509_PURPOSE_SMIME_SIGN);
  X509_STORE_CTX_set_time(ctx.get(), 0, when);
  static int timestamp_mark = 0;
  if (timestamped) X509_STORE_CTX_set_app_data(ctx.get(), &timestamp_mark);
  const bool verified = X509_verify_cert(ctx.get()) == 1;

  STACK_OF(X509)* chain = X509_STORE_CTX_get0_chain(ctx.get());
  for (int i = 0; chain != nullptr && i < sk_X509_num(chain); ++i) {
    Certificate link = Certificate::FromShared(sk_X509_value(chain, i));
    out.chain.push_back({link.SubjectName(), link.ValidTo()});
  }
  if (out.chain.empty())
    for (const auto& link : signer.Chain())
      out.chain.push_back({link.SubjectName(), link.ValidTo()});

  if (verified) {
    out.anchor = out.chain.back().subject;
    const std::string weakness = Weakness(signer);
    out.trust = weakness.empty() ? Trust::kTrusted : Trust::kWeak;
    out.reason = weakness.empty() ? out.anchor : weakness + ", under " + out.anchor;
  } else {
    std::tie(out.trust, out.reason) = Failure(ctx.get(), crls_);
  }
  ERR_clear_error();
  return out;
}

SignerTrust TrustEvaluator::Evaluate(const MessageSigner& signer, std::time_t now) const {
  const Certificate& cert = signer.certificate();
  SignerTrust out;
  out.subject = cert.SubjectName();
  out.fingerprint = Sha256Fingerprint(cert);
  out.signing_time = signer.Facts().signing_time;
  out.digest = DigestName(signer.Facts().digest_nid);
  out.key = KeyDescription(X509_get0_pubkey(cert.x509()));

  Judgement judged = Judge(signer, now, false);
  if (const auto& token = signer.Facts().timestamp_token) {
    ossl::X509StackPtr helpers = StackOf(signer.Facts().carried, intermediates_);
    out.timestamp = CheckTimestamp(*token, signer.Facts().signature_value, timestamp_store_.get(),
                                   helpers.get());
    // A token from the future is no evidence of the past.
    if (out.timestamp->trusted && *out.timestamp->time > now) {
      out.timestamp->trusted = false;
      out.timestamp->reason = "the token's time is later than now";
    }
    if (out.timestamp->trusted && !judged.holds()) {
      Judgement then = Judge(signer, *out.timestamp->time, true);
      if (then.holds()) {
        const std::string weakness = Weakness(signer);
        then.reason = (weakness.empty() ? std::string() : weakness + ", ") +
                      "valid at the timestamp, under " + then.anchor;
        judged = std::move(then);
      }
    }
  }
  out.trust = judged.trust;
  out.reason = std::move(judged.reason);
  out.anchor = std::move(judged.anchor);
  out.chain = std::move(judged.chain);
  return out;
}

}  // namespace vellum::crypto
