// Digests of byte strings, named by the original platform's algorithm codes.
#pragma once

#include <cstdint>
#include <string>

#include "library/crypto/ossl.h"

namespace vellum::crypto {

// 0 SHA-1, 1 MD2, 2 MD4, 3 MD5, 4 SHA-256, 5 SHA-384, 6 SHA-512.
inline constexpr int kHashSha1 = 0;
inline constexpr int kHashSha256 = 4;

class HashedData {
 public:
  // Any code is taken here; one that is unknown or that OpenSSL cannot serve (MD2, and MD4
  // without the legacy provider) fails at Hash with hr::kUnsupportedAlgorithm.
  void SetAlgorithm(std::int32_t code);
  std::int32_t Algorithm() const { return algorithm_; }

  // Adds `data` to the digest under way; several calls hash their data in sequence.
  void Hash(const Bytes& data);
  // Uppercase hex of the digest of everything hashed since the last Value (of nothing when
  // Hash was never called). Starts afresh afterwards.
  std::string Value();

 private:
  void Start();

  std::int32_t algorithm_ = kHashSha1;
  ossl::MdCtxPtr ctx_;
};

}  // namespace vellum::crypto
