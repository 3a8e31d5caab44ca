// Store names that claim to be PKCS#11 URIs: any bytes after the scheme end in the attributes
// or in the one "not valid" error, never in a crash; what reads formats back to a URI that
// reads to the same attributes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "library/crypto/token.h"
#include "library/platform/error.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

bool Same(const vellum::crypto::Pkcs11Uri& a, const vellum::crypto::Pkcs11Uri& b) {
  return a.token == b.token && a.manufacturer == b.manufacturer && a.serial == b.serial &&
         a.model == b.model && a.object == b.object && a.id == b.id;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vellum::crypto;
  const std::string text = "pkcs11:" + std::string(reinterpret_cast<const char*>(data), size);
  Pkcs11Uri uri;
  try {
    uri = ParsePkcs11Uri(text);
  } catch (const vellum::Error& e) {
    Check(e.number() == token_hr::kBadUri);
    return 0;
  }
  Check(Same(ParsePkcs11Uri(FormatPkcs11Uri(uri)), uri));
  return 0;
}
