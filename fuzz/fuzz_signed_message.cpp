// The signed-message reader on hostile bytes: whatever the input (DER, Base64 with any breaks,
// PEM armour, or none of these), Verify either raises a component failure or accepts a message
// that really names a signer. It must never crash, leak, or report success with nothing
// verified.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "library/crypto/codec.h"
#include "library/crypto/signed_data.h"
#include "library/platform/error.h"

namespace {

// The detached check needs content to hash; a fixed text keeps the input the message alone.
const vellum::Bytes kDetachedContent("H\0e\0l\0l\0o\0", 10);

void Check(bool condition) {
  if (!condition) std::abort();
}

void VerifyOnce(const vellum::Bytes& message, bool detached) {
  vellum::crypto::SignedData signed_data;
  if (detached) signed_data.SetContent(kDetachedContent);
  try {
    signed_data.Verify(message, detached);
  } catch (const vellum::Error& e) {
    // The callers choose their message by the sign of the number: a reader failure must be
    // a component failure, never one of the library's own run-time numbers.
    Check(e.number() < 0);
    Check(signed_data.Signers().empty());
    return;
  }
  Check(!signed_data.Signers().empty());
  if (detached) Check(signed_data.Content() == kDetachedContent);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const vellum::Bytes message(reinterpret_cast<const char*>(data), size);
  try {
    vellum::Bytes der = vellum::crypto::DecodeMessage(message, -1);
    // Whatever the text form held comes back as DER no longer than the text.
    Check(der.size() <= message.size());
  } catch (const vellum::Error& e) {
    Check(e.number() == -1);
  }
  VerifyOnce(message, false);
  VerifyOnce(message, true);
  return 0;
}
