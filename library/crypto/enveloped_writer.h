// Password encryption of a content handed over in pieces: the CMS EnvelopedData OpenSSL makes
// with the whole content in hand, byte for byte for the same content and random values, with
// neither the content nor the message ever held whole. EncryptedData::Encrypt is this writer
// given the whole content at once.
#pragma once

#include <cstdint>
#include <exception>
#include <optional>
#include <string_view>

#include "library/crypto/codec.h"
#include "library/crypto/ossl.h"

namespace vellum::crypto {

// The message is a CMS EnvelopedData whose encrypted content comes last, so once the content's
// length is known every length in front of it is known too: the writer hands out that front
// part, then the ciphertext as the cipher makes it.
//
// The constructor draws the keys (the password recipient's salt and wrapping, the content key
// and IV) in the order Encrypt draws them and lays out the front part; nothing reaches `sink`
// before the first Write or Finish. Write must be given exactly `content_length` bytes in all,
// and Finish completes the message; a writer dropped before Finish has written an incomplete
// message, which the caller discards.
class EnvelopedWriter {
 public:
  // `password` as EncryptedData::SetSecret takes it, `code` a cipher code (kEncryptRc2 to
  // kEncryptAes256), `encoding` as Encrypt takes it (0 Base64 lines, 1 DER); with `units` the
  // Base64 lines go out as UTF-16LE units. Raises what Encrypt raises for the same code and
  // encoding (hr::kInvalidArg, hr::kUnsupportedAlgorithm).
  EnvelopedWriter(std::string_view password, std::int32_t code, std::uint64_t content_length,
                  int encoding, ByteSink sink, bool units = false);
  EnvelopedWriter(const EnvelopedWriter&) = delete;
  EnvelopedWriter& operator=(const EnvelopedWriter&) = delete;
  ~EnvelopedWriter();

  // An error raised by the sink passes on as it was raised. More content than announced raises
  // hr::kFail.
  void Write(std::string_view content);
  // Raises hr::kFail when less content came than announced.
  void Finish();

  // True once the encryption itself failed (not the sink): the caller's "could not encrypt".
  bool failed() const { return failed_; }

  // The length of the whole message in DER, before any Base64 encoding.
  std::uint64_t DerLength() const { return head_.size() + cipher_length_; }

 private:
  static int SinkWrite(BIO* bio, const char* data, int size);
  [[noreturn]] void Fail(const char* what);
  void Emit(std::string_view bytes);
  void Start();
  void RethrowSinkError();

  ByteSink sink_;
  std::optional<Base64LineWriter> base64_;
  ossl::CmsPtr cms_;
  ossl::BioPtr chain_;  // cipher BIO, then the sink BIO; freed together
  Bytes head_;          // the message up to its ciphertext
  std::uint64_t content_length_;
  std::uint64_t cipher_length_ = 0;
  std::uint64_t content_written_ = 0;
  std::uint64_t cipher_written_ = 0;
  bool started_ = false;
  bool failed_ = false;
  std::exception_ptr sink_error_;
};

}  // namespace vellum::crypto
