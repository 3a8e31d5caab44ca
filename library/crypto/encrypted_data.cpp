#include "library/crypto/encrypted_data.h"

#include <openssl/err.h>

#include <string_view>

#include "library/crypto/codec.h"
#include "library/crypto/enveloped_writer.h"
#include "library/platform/error.h"
#include "library/platform/secret.h"

namespace vellum::crypto {
namespace {

// CRYPT_E_ASN1_BADTAG for text that is no message at all.
constexpr std::int32_t kBadEncoding = static_cast<std::int32_t>(0x8009310B);

// The round count is the message's to choose, and OpenSSL derives whatever count it names: a
// hostile message of 2^31 rounds would hold the reader for most of an hour. We write 10,000,
// other tools a few thousand (OWASP asks for 600,000 at most); a message asking for more than
// this is refused before any key is derived (noticed while writing fuzz_encrypted_message).
constexpr std::int64_t kMaxPbkdf2Rounds = 1'000'000;

// PBKDF2 (PKCS #5, RFC 8018 appendix A.2); its parameters follow the identifier.
constexpr std::string_view kPbkdf2Oid{"\x06\x09\x2A\x86\x48\x86\xF7\x0D\x01\x05\x0C", 11};

}  // namespace

// OpenSSL offers no getter for a password recipient's key derivation, so its parameters are
// found by their identifier in the message. Any place the identifier appears is checked: a
// chance match inside the encrypted content can only refuse a message, never let one through.
void RefuseCostlyKeyDerivation(std::string_view der) {
  for (std::size_t at = der.find(kPbkdf2Oid); at != std::string_view::npos;
       at = der.find(kPbkdf2Oid, at + 1)) {
    const auto* p = reinterpret_cast<const unsigned char*>(der.data() + at + kPbkdf2Oid.size());
    const long left = static_cast<long>(der.size() - at - kPbkdf2Oid.size());
    ossl::Pbkdf2ParamPtr params(d2i_PBKDF2PARAM(nullptr, &p, left));
    std::int64_t rounds = 0;
    if (params && params->iter != nullptr && ASN1_INTEGER_get_int64(&rounds, params->iter) == 1 &&
        rounds <= kMaxPbkdf2Rounds)
      continue;
    ERR_clear_error();
    if (params)
      throw Error::Component(hr::kFail, "The encrypted message asks for too many key rounds.");
  }
}

void UnwrapPasswordKey(CMS_ContentInfo* cms, const Bytes& password) {
  // CMS_decrypt_set1_password lends the buffer to the recipient and takes it back, so a
  // plain copy that we wipe ourselves is enough.
  platform::SecretText pass(password);
  if (CMS_decrypt_set1_password(cms, reinterpret_cast<unsigned char*>(pass.get().data()),
                                static_cast<ossl_ssize_t>(pass.get().size())) != 1) {
    ossl::ErrorQueue errors = ossl::TakeErrors();
    // The key unwrap's check bytes fail under a wrong password (RFC 3211 section 2.3.2).
    if (errors.Has(ERR_LIB_CMS, CMS_R_UNWRAP_FAILURE))
      ossl::Fail(hr::kBadData, "The password is not correct.", errors);
    ossl::Fail(hr::kFail, "The encrypted message cannot be opened.", errors);
  }
}

EncryptedData::~EncryptedData() {
  platform::Wipe(secret_);
  platform::Wipe(content_);
}

void EncryptedData::SetContent(Bytes content) {
  platform::Wipe(content_);
  content_ = std::move(content);
}

void EncryptedData::SetSecret(const Bytes& password, int type) {
  if (type != kSecretPassword)
    throw Error::Component(hr::kInvalidArg, "Only a password can be used as the secret.");
  platform::Wipe(secret_);
  secret_ = password;
  secret_set_ = true;
}

void EncryptedData::SetAlgorithm(std::int32_t code) {
  if (code < kEncryptRc2 || code > kEncryptAes256)
    throw Error::Component(hr::kInvalidArg,
                           "The encryption algorithm " + std::to_string(code) + " is not known.");
  algorithm_ = code;
}

void EncryptedData::RequireSecret() const {
  if (!secret_set_) throw Error::Component(hr::kInvalidArg, "No password was set.");
}

Bytes EncryptedData::Encrypt(int encoding) {
  if (encoding != 0 && encoding != 1)
    throw Error::Component(hr::kInvalidArg, "The encoding is not valid.");
  RequireSecret();
  // The writer in pieces given the whole content at once, so there is one way of making the
  // message.
  Bytes message;
  EnvelopedWriter writer(secret_, algorithm_, content_.size(), encoding,
                         [&message](std::string_view bytes) { message.append(bytes); });
  message.reserve(static_cast<std::size_t>(encoding == 0 ? Base64LinesLength(writer.DerLength())
                                                         : writer.DerLength()));
  writer.Write(content_);
  writer.Finish();
  return message;
}

void EncryptedData::Decrypt(const Bytes& message) {
  RequireSecret();
  ossl::EnsureProviders();
  Bytes der = DecodeMessage(message, kBadEncoding);
  const auto* p = reinterpret_cast<const unsigned char*>(der.data());
  ossl::CmsPtr cms(d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(der.size())));
  if (!cms) ossl::Fail(kBadEncoding, "The text is not an encrypted message.");
  if (OBJ_obj2nid(CMS_get0_type(cms.get())) != NID_pkcs7_enveloped)
    throw Error::Component(hr::kBadMessageType, "The message is not an encrypted message.");
  RefuseCostlyKeyDerivation(der);
  UnwrapPasswordKey(cms.get(), secret_);
  ossl::BioPtr out(BIO_new(BIO_s_mem()));
  if (!out) ossl::Fail(hr::kOutOfMemory, "Out of memory.");
  if (CMS_decrypt(cms.get(), nullptr, nullptr, nullptr, out.get(), CMS_BINARY) != 1)
    ossl::Fail(hr::kFail, "The encrypted message is damaged.");
  Bytes plain = ossl::MemoryContents(out.get());
  // The memory BIO's buffer held the plain text too.
  char* buffer = nullptr;
  long size = BIO_get_mem_data(out.get(), &buffer);
  if (size > 0) platform::Wipe(buffer, static_cast<std::size_t>(size));
  SetContent(std::move(plain));
}

}  // namespace vellum::crypto
