#include "library/crypto/hashed_data.h"

#include <array>

#include "library/crypto/codec.h"
#include "library/platform/error.h"

namespace vellum::crypto {
namespace {

constexpr std::array<const char*, 7> kDigestNames{"SHA1",     "MD2",      "MD4",     "MD5",
                                                  "SHA2-256", "SHA2-384", "SHA2-512"};

}  // namespace

void HashedData::SetAlgorithm(std::int32_t code) {
  if (code != algorithm_) ctx_.reset();
  algorithm_ = code;
}

void HashedData::Start() {
  if (algorithm_ < 0 || algorithm_ >= static_cast<std::int32_t>(kDigestNames.size()))
    throw Error::Component(hr::kUnsupportedAlgorithm,
                           "The hash algorithm " + std::to_string(algorithm_) + " is not known.");
  ossl::EnsureProviders();
  ossl::MdPtr md(
      EVP_MD_fetch(nullptr, kDigestNames[static_cast<std::size_t>(algorithm_)], nullptr));
  if (!md)
    ossl::Fail(hr::kUnsupportedAlgorithm, std::string("The hash algorithm ") +
                                              kDigestNames[static_cast<std::size_t>(algorithm_)] +
                                              " is not available.");
  ossl::MdCtxPtr ctx(EVP_MD_CTX_new());
  if (!ctx || EVP_DigestInit_ex(ctx.get(), md.get(), nullptr) != 1)
    ossl::Fail(hr::kUnsupportedAlgorithm, "The hash could not be started.");
  ctx_ = std::move(ctx);
}

void HashedData::Hash(const Bytes& data) {
  if (!ctx_) Start();
  if (EVP_DigestUpdate(ctx_.get(), data.data(), data.size()) != 1)
    ossl::Fail(hr::kFail, "The data could not be hashed.");
}

std::string HashedData::Value() {
  if (!ctx_) Start();
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  ossl::MdCtxPtr ctx = std::move(ctx_);
  if (EVP_DigestFinal_ex(ctx.get(), digest, &length) != 1)
    ossl::Fail(hr::kFail, "The hash could not be completed.");
  return HexUpper(std::string_view(reinterpret_cast<char*>(digest), length));
}

}  // namespace vellum::crypto
