// Password decryption of a message read in pieces: EncryptedData::Decrypt's reading for a
// message of any size, the plain bytes handed on as they come.
#pragma once

#include <cstdint>

#include "library/crypto/codec.h"
#include "library/crypto/der_stream.h"
#include "library/crypto/ossl.h"
#include "library/platform/text.h"

namespace vellum::crypto {

// Takes the encrypted message's DER (MessageDecoder's output) in pieces. The framing before the
// ciphertext goes to OpenSSL as a message without its content, which unwraps the key under the
// password; the ciphertext is then decrypted as it passes, and the padding is checked at the
// end. A message of another layout (at most kWholeMessageLimit) is decrypted whole by
// EncryptedData. Failures are EncryptedData::Decrypt's: hr::kBadData for a wrong password,
// 0x8009310B for what is no message, hr::kBadMessageType for another kind of message, others
// for a damaged one; errors raised by `plain` pass on.
class PasswordDecryptor {
 public:
  // `password`: the key material, as EncryptedData::SetSecret takes it.
  PasswordDecryptor(const Bytes& password, ByteSink plain);
  PasswordDecryptor(const PasswordDecryptor&) = delete;
  PasswordDecryptor& operator=(const PasswordDecryptor&) = delete;
  ~PasswordDecryptor();

  void Write(std::string_view der) { framing_.Write(der); }
  void Finish();

 private:
  void Begin();
  void Decrypt(std::string_view ciphertext);

  Bytes password_;
  ByteSink plain_;
  DerFramingReader framing_;
  ossl::CmsPtr cms_;
  ossl::BioPtr chain_;                // CMS_dataInit's cipher BIO, over nothing
  EVP_CIPHER_CTX* cipher_ = nullptr;  // the chain's, keyed by OpenSSL
  Bytes out_;
};

}  // namespace vellum::crypto
