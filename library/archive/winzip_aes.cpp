#include "library/archive/winzip_aes.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <cstring>
#include <memory>
#include <string>

#include "library/archive/zip_handles.h"

namespace vellum::archive {
namespace {

// The two OpenSSL handle kinds this component uses, owned here; the cryptographic component
// keeps its own and the archive component does not depend on it.
struct MacDeleter {
  void operator()(EVP_MAC* mac) const { EVP_MAC_free(mac); }
};
struct MacCtxDeleter {
  void operator()(EVP_MAC_CTX* ctx) const { EVP_MAC_CTX_free(ctx); }
};
using MacPtr = std::unique_ptr<EVP_MAC, MacDeleter>;
using MacCtxPtr = std::unique_ptr<EVP_MAC_CTX, MacCtxDeleter>;

constexpr std::size_t kVerifierSize = 2;
constexpr std::size_t kAuthCodeSize = 10;
constexpr int kRounds = 1000;

std::size_t KeyLength(std::uint16_t method) {
  switch (method) {
    case ZIP_EM_AES_128:
      return 16;
    case ZIP_EM_AES_192:
      return 24;
    case ZIP_EM_AES_256:
      return 32;
    default:
      return 0;
  }
}

// Key material derived from the password; wiped when it goes.
struct DerivedKeys {
  unsigned char bytes[2 * 32 + kVerifierSize] = {};
  ~DerivedKeys() { OPENSSL_cleanse(bytes, sizeof bytes); }
};

}  // namespace

bool IsWinZipAes(std::uint16_t method) {
  return KeyLength(method) != 0;
}

bool WinZipAesEntryAuthenticates(zip_t* za, zip_uint64_t index, std::uint16_t method,
                                 const char* password) {
  std::size_t key_length = KeyLength(method);
  if (key_length == 0 || password == nullptr) return false;
  std::size_t salt_length = key_length / 2;
  std::size_t header_length = salt_length + kVerifierSize;

  ZipEntryReader raw(zip_fopen_index(za, index, ZIP_FL_ENCRYPTED));
  if (!raw) return false;

  MacPtr mac(EVP_MAC_fetch(nullptr, "HMAC", nullptr));
  MacCtxPtr ctx(mac ? EVP_MAC_CTX_new(mac.get()) : nullptr);
  if (!ctx) return false;

  // Stream the ciphertext into the MAC, holding back the last bytes read so far: the final
  // kAuthCodeSize bytes of the entry are the code itself.
  std::string header;
  std::string held;
  bool keyed = false;
  DerivedKeys keys;
  char buffer[1 << 16];
  for (;;) {
    zip_int64_t n = zip_fread(raw.get(), buffer, sizeof buffer);
    if (n < 0) {
      // Raw reads of a stored entry still pass libzip's CRC layer, which fails at the end on
      // ciphertext; by then every byte has been delivered.
      if (zip_error_code_zip(zip_file_get_error(raw.get())) != ZIP_ER_CRC) return false;
      break;
    }
    if (n == 0) break;
    std::string_view chunk(buffer, static_cast<std::size_t>(n));
    if (header.size() < header_length) {
      std::size_t take = std::min(header_length - header.size(), chunk.size());
      header.append(chunk.substr(0, take));
      chunk.remove_prefix(take);
    }
    if (!keyed && header.size() == header_length) {
      if (PKCS5_PBKDF2_HMAC_SHA1(password, static_cast<int>(std::strlen(password)),
                                 reinterpret_cast<const unsigned char*>(header.data()),
                                 static_cast<int>(salt_length), kRounds,
                                 static_cast<int>(2 * key_length + kVerifierSize), keys.bytes) != 1)
        return false;
      if (std::memcmp(keys.bytes + 2 * key_length, header.data() + salt_length, kVerifierSize) != 0)
        return false;
      OSSL_PARAM params[] = {
          OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, const_cast<char*>("SHA1"), 0),
          OSSL_PARAM_construct_end()};
      if (EVP_MAC_init(ctx.get(), keys.bytes + key_length, key_length, params) != 1) return false;
      keyed = true;
    }
    held.append(chunk);
    if (held.size() > kAuthCodeSize) {
      std::size_t feed = held.size() - kAuthCodeSize;
      if (EVP_MAC_update(ctx.get(), reinterpret_cast<const unsigned char*>(held.data()), feed) != 1)
        return false;
      held.erase(0, feed);
    }
  }
  raw.Close();
  if (!keyed || held.size() != kAuthCodeSize) return false;
  unsigned char code[EVP_MAX_MD_SIZE];
  std::size_t code_length = 0;
  if (EVP_MAC_final(ctx.get(), code, &code_length, sizeof code) != 1 || code_length < kAuthCodeSize)
    return false;
  return CRYPTO_memcmp(code, held.data(), kAuthCodeSize) == 0;
}

}  // namespace vellum::archive
