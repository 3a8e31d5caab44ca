// The signed-message reader on hostile bytes: whatever the input (DER, Base64 with any breaks,
// PEM armour, or none of these), a check either raises a component failure or accepts a
// message that really names a signer. It must never crash, leak, or report success with
// nothing verified. The streaming readers are held to the whole-buffer one: the attached message
// decoded and framed in pieces, its content checked against its detached form, is accepted only
// when the whole-buffer check accepts it, with the same content; the detached reader over
// pieces agrees with the detached check over the whole content.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "library/crypto/codec.h"
#include "library/crypto/der_stream.h"
#include "library/crypto/signed_data.h"
#include "library/platform/error.h"

namespace {

using vellum::Bytes;
using vellum::crypto::SignedData;

// The detached check needs content to hash; a fixed text keeps the input the message alone.
const Bytes kDetachedContent("H\0e\0l\0l\0o\0", 10);

void Check(bool condition) {
  if (!condition) std::abort();
}

// Runs one check; the content it accepted, or nothing when it refused.
template <class F>
std::optional<Bytes> Outcome(SignedData& signed_data, F check) {
  try {
    Bytes content = check();
    Check(!signed_data.Signers().empty());
    return content;
  } catch (const vellum::Error& e) {
    // The callers choose their message by the sign of the number: a reader failure must be
    // a component failure, never one of the library's own run-time numbers.
    Check(e.number() < 0);
    Check(signed_data.Signers().empty());
    return std::nullopt;
  }
}

// The attached message as a signature file is read: decoded and framed in small pieces, the
// content checked as it would be restored; another layout is checked whole.
Bytes Streamed(SignedData& signed_data, const Bytes& message) {
  using vellum::crypto::DerFramingReader;
  Bytes content;
  DerFramingReader framing(vellum::crypto::FramedLayout::kSignedData, -1,
                           [&content](std::string_view b) { content.append(b); });
  vellum::crypto::MessageDecoder decoder(-1, [&framing](std::string_view b) { framing.Write(b); });
  for (std::size_t at = 0; at < message.size(); at += 5)
    decoder.Write(std::string_view(message).substr(at, 5));
  decoder.Finish();
  framing.Finish();
  if (!framing.streamed()) {
    signed_data.Verify(framing.TakeWholeMessage(), false);
    return signed_data.Content();
  }
  std::size_t at = 0;
  signed_data.VerifyDetached(framing.DetachedMessage(), [&](char* buffer, std::size_t capacity) {
    const std::size_t n = std::min(capacity, content.size() - at);
    std::memcpy(buffer, content.data() + at, n);
    at += n;
    return n;
  });
  return content;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Bytes message(reinterpret_cast<const char*>(data), size);
  try {
    Bytes der = vellum::crypto::DecodeMessage(message, -1);
    // Whatever the text form held comes back as DER no longer than the text.
    Check(der.size() <= message.size());
  } catch (const vellum::Error& e) {
    Check(e.number() == -1);
  }

  SignedData attached;
  const auto whole = Outcome(attached, [&] {
    attached.Verify(message, false);
    return attached.Content();
  });
  SignedData streamed;
  const auto framed = Outcome(streamed, [&] { return Streamed(streamed, message); });
  if (framed) Check(whole && *whole == *framed);

  SignedData detached;
  detached.SetContent(kDetachedContent);
  const auto checked = Outcome(detached, [&] {
    detached.Verify(message, true);
    return detached.Content();
  });
  if (checked) Check(*checked == kDetachedContent);
  SignedData pieces;
  std::size_t at = 0;
  const auto read = Outcome(pieces, [&] {
    // Small pieces, so a message's digest is fed across many reads.
    pieces.VerifyDetached(message, [&](char* buffer, std::size_t capacity) {
      const std::size_t n = std::min({capacity, std::size_t{3}, kDetachedContent.size() - at});
      std::memcpy(buffer, kDetachedContent.data() + at, n);
      at += n;
      return n;
    });
    return kDetachedContent;
  });
  Check(read.has_value() == checked.has_value());
  return 0;
}
