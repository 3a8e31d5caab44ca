// The password-encrypted message reader on hostile bytes, under the password the seeds were
// made with (so mutations of real messages get past the key unwrap) and under a wrong one.
// A failure must be a component failure; a success hands back content and nothing else.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "library/crypto/encrypted_data.h"
#include "library/encryption/encryption_logic.h"
#include "library/platform/error.h"
#include "library/platform/text.h"

namespace {

// fuzz/make-corpus encrypts its seeds under this password.
const vellum::Bytes kSeedPassword = "fuzz-password";

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const vellum::Bytes message(reinterpret_cast<const char*>(data), size);
  {
    vellum::crypto::EncryptedData encrypted;
    encrypted.SetSecret(kSeedPassword);
    try {
      encrypted.Decrypt(message);
    } catch (const vellum::Error& e) {
      Check(e.number() < 0);
      Check(encrypted.Content().empty());
    }
  }
  // The Encryption class's logic over the same bytes as a text (its texts are UTF-16LE, one
  // unit per input byte here): it never throws, and a failure leaves the output as it was.
  vellum::Bytes text;
  text.reserve(2 * message.size());
  for (char c : message) {
    text += c;
    text += '\0';
  }
  const vellum::Bytes hidden = vellum::Utf8ToUtf16le(kSeedPassword);
  vellum::Bytes out = "untouched";
  std::string result_message;
  if (!vellum::DecryptMessage(hidden, text, out, result_message, 4)) {
    Check(out == "untouched");
    Check(!result_message.empty());
  }
  return 0;
}
