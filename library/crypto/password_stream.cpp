#include "library/crypto/password_stream.h"

#include <openssl/err.h>

#include "library/crypto/encrypted_data.h"
#include "library/platform/error.h"
#include "library/platform/secret.h"

namespace vellum::crypto {
namespace {

// CRYPT_E_ASN1_BADTAG, as EncryptedData answers for text that is no message.
constexpr std::int32_t kBadEncoding = static_cast<std::int32_t>(0x8009310B);

ossl::CmsPtr ParseEnvelope(const Bytes& der) {
  const auto* p = reinterpret_cast<const unsigned char*>(der.data());
  ossl::CmsPtr cms(d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(der.size())));
  if (!cms) ossl::Fail(kBadEncoding, "The text is not an encrypted message.");
  if (OBJ_obj2nid(CMS_get0_type(cms.get())) != NID_pkcs7_enveloped)
    throw Error::Component(hr::kBadMessageType, "The message is not an encrypted message.");
  return cms;
}

[[noreturn]] void Damaged() {
  ossl::Fail(hr::kFail, "The encrypted message is damaged.");
}

}  // namespace

PasswordDecryptor::PasswordDecryptor(const Bytes& password, ByteSink plain)
    : password_(password),
      plain_(std::move(plain)),
      framing_(
          FramedLayout::kEnvelopedData, kBadEncoding,
          [this](std::string_view ciphertext) { Decrypt(ciphertext); },
          [this](std::uint64_t) { Begin(); }) {}

PasswordDecryptor::~PasswordDecryptor() {
  platform::Wipe(password_);
  platform::Wipe(out_);
}

// Everything before the ciphertext is known: the recipient infos unwrap the key, and
// CMS_dataInit keys the cipher that the ciphertext then goes through.
void PasswordDecryptor::Begin() {
  ossl::EnsureProviders();
  const Bytes detached = framing_.DetachedMessage();
  cms_ = ParseEnvelope(detached);
  RefuseCostlyKeyDerivation(detached);
  UnwrapPasswordKey(cms_.get(), password_);
  ossl::BioPtr nothing(BIO_new(BIO_s_null()));
  if (!nothing) ossl::Fail(hr::kOutOfMemory, "Out of memory.");
  chain_.reset(CMS_dataInit(cms_.get(), nothing.get()));
  if (!chain_) ossl::Fail(hr::kFail, "The encrypted message cannot be opened.");
  nothing.release();  // freed with the chain
  BIO* cipher = BIO_find_type(chain_.get(), BIO_TYPE_CIPHER);
  if (cipher == nullptr || BIO_get_cipher_ctx(cipher, &cipher_) != 1 || cipher_ == nullptr)
    ossl::Fail(hr::kFail, "The encrypted message cannot be opened.");
}

void PasswordDecryptor::Decrypt(std::string_view ciphertext) {
  constexpr std::size_t kStep = std::size_t{1} << 16;
  out_.resize(kStep + EVP_MAX_BLOCK_LENGTH);
  for (std::size_t at = 0; at < ciphertext.size(); at += kStep) {
    const std::string_view part = ciphertext.substr(at, kStep);
    int n = 0;
    if (EVP_DecryptUpdate(cipher_, reinterpret_cast<unsigned char*>(out_.data()), &n,
                          reinterpret_cast<const unsigned char*>(part.data()),
                          static_cast<int>(part.size())) != 1)
      Damaged();
    if (n > 0) plain_(std::string_view(out_.data(), static_cast<std::size_t>(n)));
  }
}

void PasswordDecryptor::Finish() {
  framing_.Finish();
  if (!framing_.streamed()) {
    EncryptedData whole;
    whole.SetSecret(password_);
    whole.Decrypt(framing_.TakeWholeMessage());
    plain_(whole.Content());
    return;
  }
  // What follows the ciphertext (unprotected attributes) must parse as it would have whole.
  ParseEnvelope(framing_.DetachedMessage());
  out_.resize(EVP_MAX_BLOCK_LENGTH);
  int n = 0;
  if (EVP_DecryptFinal_ex(cipher_, reinterpret_cast<unsigned char*>(out_.data()), &n) != 1)
    Damaged();
  ERR_clear_error();
  if (n > 0) plain_(std::string_view(out_.data(), static_cast<std::size_t>(n)));
}

}  // namespace vellum::crypto
