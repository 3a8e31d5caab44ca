// Reading an attached signature file without holding it: the file's bytes go through its layers
// (the password encryption's text and decryption when it is encrypted, the signed message's text
// form) to the signed message's DER framing, whose content is handed on as it passes. A verifier
// reads the file twice: once for the framing (the signers, the certificates, the content's
// length and its trailer), once to check the content's digest while it is restored.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <string>

#include "library/crypto/codec.h"
#include "library/crypto/der_stream.h"
#include "library/crypto/password_stream.h"
#include "library/digital_sign/whole_file.h"
#include "library/platform/text.h"

namespace vellum::attached_reading {

// The content's first bytes kept by a reading (more than any credentials hash), and its last
// ones (more than a carried name and its two digits, with the binary reader's zero byte).
inline constexpr std::size_t kHeadBytes = std::size_t{1} << 16;
inline constexpr std::size_t kTailBytes = 256;

// What a reading found of the signed message.
struct Framing {
  bool streamed = false;  // false: another layout, held whole in `whole`
  Bytes whole;
  Bytes detached;  // the message without its content
  std::uint64_t content_length = 0;
  // The content with everything between these two left out: its first kHeadBytes, and its
  // last kTailBytes after those. For a content of at most their sum, the whole content.
  Bytes head;
  Bytes tail;
  bool operator==(const Framing&) const = default;
};

// One reading of the signature file at `path`. `password` (the key material) is given when the
// file is password-encrypted: its text is then the encrypted message's Base64, as ANSI in text
// mode and as UTF-16LE in binary mode, and the decrypted bytes are the signed message as a
// signature file holds it (text mode: the UTF-16LE of its Base64). `content` gets the signed
// content's bytes in order.
class Pass {
 public:
  // Opens the file; raises as WholeFileReader does.
  Pass(const std::string& path, bool binary, const Bytes* password, crypto::ByteSink content);
  Pass(const Pass&) = delete;
  Pass& operator=(const Pass&) = delete;
  ~Pass();

  // Reads one piece of the file and passes it through the layers; false once the file is read
  // and every layer finished. A read failure raises (and read_failed() tells so); a layer's
  // failure is kept instead, so that the whole file is read and the first failure of the
  // outermost layer can be reported in its own words.
  bool Step();
  // Step until the end.
  void Run() {
    while (Step()) {
    }
  }

  bool read_failed() const { return reader_.failed(); }
  // The encrypted layer failed (text, framing, password, decryption or its padding).
  const std::exception_ptr& decrypt_error() const { return decrypt_error_; }
  // The signed message failed (its text form or its framing).
  const std::exception_ptr& message_error() const { return message_error_; }
  // After the last Step without a failure.
  Framing TakeFraming();

 private:
  void Encrypted(std::string_view text);
  void FinishEncrypted();
  void Plain(std::string_view bytes);
  void Message(std::string_view text);
  void FinishMessage();
  void Content(std::string_view bytes);

  WholeFileReader reader_;
  bool binary_;
  bool done_ = false;
  crypto::ByteSink content_;
  // The encrypted layer, when there is one.
  Bytes text_units_;   // binary mode: UTF-16LE of the text not yet converted
  Bytes plain_units_;  // text mode: UTF-16LE of the signed message not yet converted
  std::unique_ptr<crypto::MessageDecoder> encrypted_text_;
  std::unique_ptr<crypto::PasswordDecryptor> decryptor_;
  std::exception_ptr decrypt_error_;
  // The signed message.
  crypto::DerFramingReader framing_;
  crypto::MessageDecoder message_text_;
  std::exception_ptr message_error_;
  std::uint64_t content_seen_ = 0;
  Bytes head_;
  Bytes tail_;
  Bytes buffer_;
  Bytes narrow_;  // ASCII text taken out of UTF-16LE units
};

}  // namespace vellum::attached_reading
