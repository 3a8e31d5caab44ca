// Password encryption: CMS EnvelopedData with a password recipient (RFC 3211), PBKDF2.
#pragma once

#include <cstdint>
#include <string_view>

#include "library/crypto/ossl.h"

namespace vellum::crypto {

// The original platform's cipher codes.
inline constexpr std::int32_t kEncryptRc2 = 0;  // RC2-128
inline constexpr std::int32_t kEncryptRc4 = 1;  // refused: CMS has no RC4 form
inline constexpr std::int32_t kEncryptDes = 2;
inline constexpr std::int32_t kEncrypt3Des = 3;
inline constexpr std::int32_t kEncryptAes256 = 4;
inline constexpr std::int32_t kSecretPassword = 0;

// Raises hr::kFail when a password recipient in the message's DER asks for more PBKDF2 rounds
// than a reader should spend (the count is the message's to choose).
void RefuseCostlyKeyDerivation(std::string_view der);

// Unwraps the content key of a parsed encrypted message under `password` (the key material,
// as SetSecret takes it). A wrong password raises hr::kBadData, any other failure hr::kFail.
void UnwrapPasswordKey(CMS_ContentInfo* cms, const Bytes& password);

class EncryptedData {
 public:
  EncryptedData() = default;
  EncryptedData(const EncryptedData&) = delete;
  EncryptedData& operator=(const EncryptedData&) = delete;
  ~EncryptedData();  // wipes the password and the content

  void SetContent(Bytes content);
  const Bytes& Content() const { return content_; }

  // The password as bytes (callers hand the UTF-8 of the text, as `openssl cms -pwri_password`
  // does). Type 0 (password) only; another raises hr::kInvalidArg.
  void SetSecret(const Bytes& password, int type = kSecretPassword);
  // Codes 0 to 4; another raises hr::kInvalidArg. Decrypt reads the cipher from the message.
  void SetAlgorithm(std::int32_t code);
  std::int32_t Algorithm() const { return algorithm_; }

  // Encoding 0: DER in Base64 with CR LF after every 64 characters; 1: the DER bytes. RC4 or a
  // cipher OpenSSL cannot serve raises hr::kUnsupportedAlgorithm.
  Bytes Encrypt(int encoding = 0);
  // Takes Base64 (any line breaks), PEM armour or DER. A wrong password raises hr::kBadData;
  // a damaged or foreign message another failure HRESULT. Content() holds the plain bytes.
  void Decrypt(const Bytes& message);

 private:
  void RequireSecret() const;

  Bytes content_;
  Bytes secret_;
  bool secret_set_ = false;
  std::int32_t algorithm_ = kEncryptRc2;
};

}  // namespace vellum::crypto
