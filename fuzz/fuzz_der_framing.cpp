// The DER framing reader and the streaming password decryption on hostile bytes. Whatever the
// input, a reading either refuses with the caller's code or gives a content and a detached
// message no larger than the input, and the answer does not depend on how the input was cut:
// a byte at a time and in larger pieces give the same content, framing and code. A message of
// another layout comes back exactly as it was given.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include "library/crypto/der_stream.h"
#include "library/crypto/password_stream.h"
#include "library/platform/error.h"

namespace {

using vellum::Bytes;
using vellum::crypto::DerFramingReader;
using vellum::crypto::FramedLayout;

constexpr std::int32_t kCode = -7;

void Check(bool condition) {
  if (!condition) std::abort();
}

struct Outcome {
  std::int32_t code = 0;
  bool streamed = false;
  Bytes content;
  Bytes framing;  // the detached message, or the whole one
  bool operator==(const Outcome&) const = default;
};

Outcome Read(FramedLayout layout, std::string_view input, std::size_t piece) {
  Outcome out;
  std::uint64_t begun = 0;
  try {
    DerFramingReader reader(
        layout, kCode, [&out](std::string_view b) { out.content.append(b); },
        [&begun](std::uint64_t length) { begun = length + 1; });
    for (std::size_t at = 0; at < input.size(); at += piece) reader.Write(input.substr(at, piece));
    reader.Finish();
    out.streamed = reader.streamed();
    if (out.streamed) {
      out.framing = reader.DetachedMessage();
      Check(begun == reader.content_length() + 1);
      Check(out.content.size() == reader.content_length());
      Check(out.framing.size() + out.content.size() <= input.size());
    } else {
      out.framing = reader.TakeWholeMessage();
      Check(out.framing == input);
      Check(out.content.empty());
    }
  } catch (const vellum::Error& e) {
    Check(e.number() == kCode);
    out = Outcome{kCode, false, {}, {}};
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t piece = 1 + (size == 0 ? 0 : data[size / 2] % 61);
  for (FramedLayout layout : {FramedLayout::kSignedData, FramedLayout::kEnvelopedData})
    Check(Read(layout, input, 1) == Read(layout, input, piece));

  // Decryption under the corpus's password: plain bytes or a component failure, never a crash.
  try {
    Bytes plain;
    vellum::crypto::PasswordDecryptor decryptor("fuzz-password",
                                                [&plain](std::string_view b) { plain.append(b); });
    for (std::size_t at = 0; at < input.size(); at += piece)
      decryptor.Write(input.substr(at, piece));
    decryptor.Finish();
    Check(plain.size() <= input.size());
  } catch (const vellum::Error& e) {
    Check(e.number() < 0);
  }
  return 0;
}
