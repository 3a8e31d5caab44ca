#include "library/crypto/ossl.h"

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/provider.h>

#include <mutex>

#include "library/platform/error.h"

namespace vellum::crypto::ossl {

namespace {

OSSL_PROVIDER* g_default = nullptr;
OSSL_PROVIDER* g_legacy = nullptr;

// Runs inside OPENSSL_cleanup at process exit, before OpenSSL tears down its library
// context, so the two references we took are given back and nothing shows as leaked.
// OPENSSL_atexit also pins the module that holds this function, so it cannot be unloaded
// before then.
void UnloadProviders() {
  if (g_legacy != nullptr) OSSL_PROVIDER_unload(g_legacy);
  if (g_default != nullptr) OSSL_PROVIDER_unload(g_default);
  g_legacy = g_default = nullptr;
}

}  // namespace

void EnsureProviders() {
  static std::once_flag once;
  std::call_once(once, [] {
    // Loading any provider explicitly switches off the implicit default one, so both are
    // loaded.
    g_default = OSSL_PROVIDER_load(nullptr, "default");
    g_legacy = OSSL_PROVIDER_load(nullptr, "legacy");
    if (g_default != nullptr || g_legacy != nullptr) (void)OPENSSL_atexit(UnloadProviders);
    ERR_clear_error();
  });
}

ErrorQueue TakeErrors() {
  ErrorQueue queue;
  while (unsigned long code = ERR_get_error()) queue.codes.push_back(code);
  return queue;
}

bool ErrorQueue::Has(int lib, int reason) const {
  for (unsigned long code : codes)
    if (ERR_GET_LIB(code) == lib && ERR_GET_REASON(code) == reason) return true;
  return false;
}

std::string ErrorQueue::Text() const {
  if (codes.empty()) return {};
  char text[256];
  ERR_error_string_n(codes.back(), text, sizeof text);
  return text;
}

void Fail(std::int32_t hresult, const std::string& what) {
  Fail(hresult, what, TakeErrors());
}

void Fail(std::int32_t hresult, const std::string& what, const ErrorQueue& errors) {
  std::string description = what;
  if (std::string detail = errors.Text(); !detail.empty()) description += " (" + detail + ")";
  throw Error::Component(hresult, description);
}

BioPtr MemoryReader(std::string_view data) {
  BioPtr bio(BIO_new_mem_buf(data.data(), static_cast<int>(data.size())));
  if (!bio) Fail(hr::kOutOfMemory, "Out of memory.");
  return bio;
}

Bytes MemoryContents(BIO* bio) {
  char* data = nullptr;
  long size = BIO_get_mem_data(bio, &data);
  if (size <= 0 || data == nullptr) return {};
  return Bytes(data, static_cast<std::size_t>(size));
}

}  // namespace vellum::crypto::ossl
