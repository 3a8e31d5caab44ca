// The timestamp check on hostile bytes: a signature file carries its signer's RFC 3161 token,
// so the token is outside input. Whatever the bytes, the check answers (never raises, crashes
// or leaks), and with no anchor at all a token is never trusted.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "library/crypto/ossl.h"
#include "library/crypto/timestamp.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vellum::crypto::ossl::EnsureProviders();
  vellum::crypto::ossl::X509StorePtr anchors(X509_STORE_new());
  vellum::crypto::ossl::X509StackPtr intermediates(sk_X509_new_null());
  if (!anchors || !intermediates) return 0;
  const std::string_view token(reinterpret_cast<const char*>(data), size);
  const auto check = vellum::crypto::CheckTimestamp(token, "a signature value", anchors.get(),
                                                    intermediates.get());
  Check(!check.trusted);
  Check(!check.reason.empty());
  return 0;
}
