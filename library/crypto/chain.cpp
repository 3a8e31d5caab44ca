#include "library/crypto/chain.h"

#include <openssl/err.h>

#include <optional>

#include "library/crypto/store.h"
#include "library/platform/error.h"

namespace vellum::crypto {
namespace {

constexpr int kMaxDepth = 16;

bool Issued(const Certificate& issuer, const Certificate& subject) {
  if (X509_check_issued(issuer.x509(), subject.x509()) != X509_V_OK) return false;
  EVP_PKEY* key = X509_get0_pubkey(issuer.x509());
  bool ok = key != nullptr && X509_verify(subject.x509(), key) == 1;
  ERR_clear_error();
  return ok;
}

// Looks issuers up by name in the system's hashed folder, only when a chain gets that far.
class SystemCertificates {
 public:
  std::vector<Certificate> ByName(const X509_NAME* name) {
    std::vector<Certificate> out;
    if (!Ready()) return out;
    ossl::X509StackPtr found(X509_STORE_CTX_get1_certs(ctx_.get(), const_cast<X509_NAME*>(name)));
    for (int i = 0; found && i < sk_X509_num(found.get()); ++i)
      out.push_back(Certificate::FromShared(sk_X509_value(found.get(), i)));
    ERR_clear_error();
    return out;
  }

 private:
  bool Ready() {
    if (tried_) return ctx_ != nullptr;
    tried_ = true;
    ossl::X509StorePtr store(X509_STORE_new());
    ossl::X509StoreCtxPtr ctx(X509_STORE_CTX_new());
    X509_LOOKUP* lookup =
        store ? X509_STORE_add_lookup(store.get(), X509_LOOKUP_hash_dir()) : nullptr;
    if (!ctx || lookup == nullptr ||
        X509_LOOKUP_add_dir(lookup, kSystemCertificates, X509_FILETYPE_PEM) != 1 ||
        X509_STORE_CTX_init(ctx.get(), store.get(), nullptr, nullptr) != 1) {
      ERR_clear_error();
      return false;
    }
    store_ = std::move(store);
    ctx_ = std::move(ctx);
    return true;
  }

  bool tried_ = false;
  ossl::X509StorePtr store_;
  ossl::X509StoreCtxPtr ctx_;  // declared after store_: freed first
};

}  // namespace

bool IsSelfIssued(const Certificate& cert) {
  return X509_NAME_cmp(X509_get_subject_name(cert.x509()), X509_get_issuer_name(cert.x509())) == 0;
}

std::vector<Certificate> BuildChain(const Certificate& leaf,
                                    const std::vector<Certificate>& extra) {
  std::vector<Certificate> chain{leaf};
  std::vector<Certificate> pool = extra;
  std::vector<Certificate> stores = AllStoreCertificates();
  pool.insert(pool.end(), stores.begin(), stores.end());
  SystemCertificates system;
  while (static_cast<int>(chain.size()) < kMaxDepth) {
    const Certificate current = chain.back();
    if (IsSelfIssued(current)) break;  // a root
    std::optional<Certificate> next;
    for (const auto& candidate : pool)
      if (Issued(candidate, current)) {
        next = candidate;
        break;
      }
    if (!next)
      for (const auto& candidate : system.ByName(X509_get_issuer_name(current.x509())))
        if (Issued(candidate, current)) {
          next = candidate;
          break;
        }
    if (!next) break;
    for (const auto& seen : chain)
      if (seen.SameAs(*next)) return chain;  // a loop of cross-certificates
    chain.push_back(*next);
  }
  ERR_clear_error();
  return chain;
}

}  // namespace vellum::crypto
