#include "library/digital_sign/attached_reading.h"

#include "library/platform/error.h"

namespace vellum::attached_reading {
namespace {

// CRYPT_E_ASN1_BADTAG: what the encrypted layer answers for text that is no message.
constexpr std::int32_t kBadEncoding = static_cast<std::int32_t>(0x8009310B);

constexpr std::size_t kPiece = std::size_t{1} << 18;

bool HighSurrogate(std::string_view units, std::size_t at) {
  const auto high = static_cast<unsigned char>(units[at + 1]);
  return high >= 0xD8 && high <= 0xDB;
}

// Takes the whole units of `held` + `bytes` for conversion, keeping back an odd byte and, when
// `pairs`, a high surrogate whose partner is still to come.
Bytes WholeUnits(Bytes& held, std::string_view bytes, bool pairs) {
  held.append(bytes);
  std::size_t n = held.size() - held.size() % 2;
  if (pairs && n >= 2 && HighSurrogate(held, n - 2)) n -= 2;
  Bytes units = held.substr(0, n);
  held.erase(0, n);
  return units;
}

// The units' low bytes when every unit is ASCII (the Base64 texts of both layers always are):
// what both conversions give for such text, without their per-character work.
bool NarrowAscii(std::string_view units, Bytes& out) {
  out.resize(units.size() / 2);
  const auto* p = reinterpret_cast<const unsigned char*>(units.data());
  unsigned char seen = 0;
  for (std::size_t i = 0; i < out.size(); ++i) {
    seen |= static_cast<unsigned char>(p[2 * i] & 0x80) | p[2 * i + 1];
    out[i] = static_cast<char>(p[2 * i]);
  }
  return seen == 0 && units.size() % 2 == 0;
}

bool IsAscii(std::string_view text) {
  unsigned char seen = 0;
  for (char c : text) seen |= static_cast<unsigned char>(c);
  return (seen & 0x80) == 0;
}

}  // namespace

Pass::Pass(const std::string& path, bool binary, const Bytes* password, crypto::ByteSink content)
    : reader_(path, true, false),
      binary_(binary),
      content_(std::move(content)),
      framing_(crypto::FramedLayout::kSignedData, hr::kNotSignedMessage,
               [this](std::string_view bytes) { Content(bytes); }),
      message_text_(hr::kNotSignedMessage, [this](std::string_view der) { framing_.Write(der); }) {
  buffer_.resize(kPiece);
  if (password == nullptr) return;
  decryptor_ = std::make_unique<crypto::PasswordDecryptor>(
      *password, [this](std::string_view plain) { Plain(plain); });
  encrypted_text_ = std::make_unique<crypto::MessageDecoder>(
      kBadEncoding, [this](std::string_view der) { decryptor_->Write(der); });
}

Pass::~Pass() = default;

bool Pass::Step() {
  if (done_) return false;
  // The binary reader's zero byte comes last; every form accepts it, and the encrypted text
  // drops it with an odd byte.
  const std::size_t n = reader_.Read(buffer_.data(), buffer_.size());
  const std::string_view piece(buffer_.data(), n);
  if (n > 0) {
    if (decryptor_)
      Encrypted(piece);
    else
      Message(piece);
    return true;
  }
  done_ = true;
  if (decryptor_) FinishEncrypted();
  FinishMessage();
  return false;
}

// The encrypted message's text: ANSI in text mode, UTF-16LE in binary mode, both read as the
// decrypting component reads the text it is given (its UTF-8).
void Pass::Encrypted(std::string_view text) {
  if (decrypt_error_) return;
  try {
    if (binary_) {
      const Bytes units = WholeUnits(text_units_, text, true);
      encrypted_text_->Write(NarrowAscii(units, narrow_) ? narrow_ : Utf16leToUtf8(units));
    } else if (IsAscii(text)) {
      encrypted_text_->Write(text);
    } else {
      encrypted_text_->Write(AnsiToUtf8(text));
    }
  } catch (...) {
    decrypt_error_ = std::current_exception();
  }
}

void Pass::FinishEncrypted() {
  if (decrypt_error_) return;
  try {
    // An odd byte left is the binary reader's zero; a high surrogate left alone is no
    // character.
    if (text_units_.size() % 2 != 0) text_units_.pop_back();
    if (!text_units_.empty()) encrypted_text_->Write(Utf16leToUtf8(text_units_));
    encrypted_text_->Finish();
    decryptor_->Finish();
  } catch (...) {
    decrypt_error_ = std::current_exception();
  }
}

// The decrypted signed message: its DER in binary mode; in text mode the UTF-16LE of its
// Base64 text, read back as ANSI (a last odd byte is no character and goes).
void Pass::Plain(std::string_view bytes) {
  if (binary_) return Message(bytes);
  const Bytes units = WholeUnits(plain_units_, bytes, false);
  Message(NarrowAscii(units, narrow_) ? narrow_ : Utf16leToAnsi(units));
}

void Pass::Message(std::string_view text) {
  if (message_error_ || text.empty()) return;
  try {
    message_text_.Write(text);
  } catch (...) {
    message_error_ = std::current_exception();
  }
}

void Pass::FinishMessage() {
  if (message_error_) return;
  try {
    message_text_.Finish();
    framing_.Finish();
  } catch (...) {
    message_error_ = std::current_exception();
  }
}

void Pass::Content(std::string_view bytes) {
  content_seen_ += bytes.size();
  const std::size_t to_head = std::min(kHeadBytes - head_.size(), bytes.size());
  head_.append(bytes.substr(0, to_head));
  const std::string_view rest = bytes.substr(to_head);
  if (!rest.empty()) {
    tail_.append(rest.substr(rest.size() - std::min(rest.size(), kTailBytes)));
    if (tail_.size() > kTailBytes) tail_.erase(0, tail_.size() - kTailBytes);
  }
  if (content_) content_(bytes);
}

Framing Pass::TakeFraming() {
  Framing framing;
  framing.streamed = framing_.streamed();
  if (!framing.streamed) {
    framing.whole = framing_.TakeWholeMessage();
    return framing;
  }
  framing.detached = framing_.DetachedMessage();
  framing.content_length = framing_.content_length();
  framing.head = std::move(head_);
  framing.tail = std::move(tail_);
  return framing;
}

}  // namespace vellum::attached_reading
