#include "library/archive/winzip_aes.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "library/archive/zip_handles.h"
#include "library/crypto/ossl.h"
#include "library/platform/secret.h"

namespace vellum::archive {
namespace {

using crypto::ossl::CipherCtxPtr;
using crypto::ossl::CipherPtr;
using crypto::ossl::MacCtxPtr;
using crypto::ossl::MacPtr;

// zlib's inflate state, ended with its owner.
class Inflater {
 public:
  Inflater() = default;
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;
  ~Inflater() {
    if (ready_) inflateEnd(&z_);
  }
  // Raw deflate data, as zip entries hold it.
  bool Init() {
    ready_ = inflateInit2(&z_, -MAX_WBITS) == Z_OK;
    return ready_;
  }
  z_stream& z() { return z_; }

 private:
  z_stream z_{};
  bool ready_ = false;
};

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

// Key material derived from the password: the AES key, the MAC key, the password verifier.
using DerivedKeys = platform::Secret<std::array<unsigned char, 2 * 32 + kVerifierSize>>;

const char* CipherName(std::size_t key_length) {
  switch (key_length) {
    case 16:
      return "AES-128-ECB";
    case 24:
      return "AES-192-ECB";
    default:
      return "AES-256-ECB";
  }
}

// Counter blocks made and encrypted per cipher call.
constexpr std::size_t kKeystreamBlocks = 4096;
constexpr std::size_t kBlock = 16;
constexpr std::size_t kRawPiece = std::size_t{1} << 16;

}  // namespace

bool IsWinZipAes(std::uint16_t method) {
  return KeyLength(method) != 0;
}

// ---- WinZipAesReader --------------------------------------------------------------------------

struct WinZipAesReader::State {
  ZipEntryReader raw;
  std::size_t key_length = 0;
  bool deflated = false;
  std::uint32_t crc_expected = 0;
  std::uint64_t stored_size = 0;
  std::uint64_t delivered = 0;     // raw bytes read so far
  const char* password = nullptr;  // the caller's, alive for the whole read
  DerivedKeys keys;
  MacPtr mac;
  MacCtxPtr mac_ctx;
  CipherPtr cipher;
  CipherCtxPtr cipher_ctx;
  bool keyed = false;
  bool raw_done = false;
  std::string header;  // salt and verifier
  std::string held;    // the newest raw bytes: the last kAuthCodeSize of the entry are the code
  std::vector<char> raw_piece = std::vector<char>(kRawPiece);
  // Key stream: the encrypted counter blocks, used from `keystream_at` on.
  std::vector<unsigned char> counters = std::vector<unsigned char>(kKeystreamBlocks * kBlock);
  std::vector<unsigned char> keystream = std::vector<unsigned char>(kKeystreamBlocks * kBlock);
  std::size_t keystream_at = kKeystreamBlocks * kBlock;
  std::uint64_t counter = 0;  // the last block number used; WinZip counts from 1, little-endian
  std::string plain;          // decrypted, still compressed when deflated
  std::size_t plain_at = 0;
  Inflater inflater;
  bool inflate_done = false;
  uLong crc = 0;

  std::size_t SaltLength() const { return key_length / 2; }

  // The header is complete: derive the keys, check the verifier, key the MAC and the cipher.
  int Key() {
    const std::size_t salt_length = SaltLength();
    if (PKCS5_PBKDF2_HMAC_SHA1(
            password, static_cast<int>(std::strlen(password)),
            reinterpret_cast<const unsigned char*>(header.data()), static_cast<int>(salt_length),
            kRounds, static_cast<int>(2 * key_length + kVerifierSize), keys.get().data()) != 1)
      return ZIP_ER_INTERNAL;
    if (std::memcmp(keys.get().data() + 2 * key_length, header.data() + salt_length,
                    kVerifierSize) != 0)
      return ZIP_ER_WRONGPASSWD;
    mac.reset(EVP_MAC_fetch(nullptr, "HMAC", nullptr));
    mac_ctx.reset(mac ? EVP_MAC_CTX_new(mac.get()) : nullptr);
    cipher.reset(EVP_CIPHER_fetch(nullptr, CipherName(key_length), nullptr));
    cipher_ctx.reset(EVP_CIPHER_CTX_new());
    if (!mac_ctx || !cipher || !cipher_ctx) return ZIP_ER_MEMORY;
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, const_cast<char*>("SHA1"), 0),
        OSSL_PARAM_construct_end()};
    if (EVP_MAC_init(mac_ctx.get(), keys.get().data() + key_length, key_length, params) != 1 ||
        EVP_EncryptInit_ex2(cipher_ctx.get(), cipher.get(), keys.get().data(), nullptr, nullptr) !=
            1 ||
        EVP_CIPHER_CTX_set_padding(cipher_ctx.get(), 0) != 1)
      return ZIP_ER_INTERNAL;
    if (deflated && !inflater.Init()) return ZIP_ER_MEMORY;
    keyed = true;
    return ZIP_ER_OK;
  }

  int RefillKeystream() {
    for (std::size_t b = 0; b < kKeystreamBlocks; ++b) {
      std::uint64_t n = ++counter;
      unsigned char* block = counters.data() + b * kBlock;
      for (std::size_t i = 0; i < 8; ++i, n >>= 8) block[i] = static_cast<unsigned char>(n);
    }
    int length = 0;
    if (EVP_EncryptUpdate(cipher_ctx.get(), keystream.data(), &length, counters.data(),
                          static_cast<int>(counters.size())) != 1 ||
        static_cast<std::size_t>(length) != keystream.size())
      return ZIP_ER_INTERNAL;
    keystream_at = 0;
    return ZIP_ER_OK;
  }

  // Authenticates and decrypts ciphertext onto the end of `plain`.
  int Decrypt(const char* data, std::size_t size) {
    if (EVP_MAC_update(mac_ctx.get(), reinterpret_cast<const unsigned char*>(data), size) != 1)
      return ZIP_ER_INTERNAL;
    const std::size_t kept = plain.size();
    plain.resize(kept + size);
    char* out = plain.data() + kept;
    for (std::size_t done = 0; done < size;) {
      if (keystream_at == keystream.size())
        if (int err = RefillKeystream(); err != ZIP_ER_OK) return err;
      const std::size_t n = std::min(size - done, keystream.size() - keystream_at);
      const unsigned char* key = keystream.data() + keystream_at;
      // Eight bytes at a time, then the rest.
      std::size_t i = 0;
      for (; i + 8 <= n; i += 8) {
        std::uint64_t word = 0;
        std::uint64_t mask = 0;
        std::memcpy(&word, data + done + i, 8);
        std::memcpy(&mask, key + i, 8);
        word ^= mask;
        std::memcpy(out + done + i, &word, 8);
      }
      for (; i < n; ++i)
        out[done + i] = static_cast<char>(static_cast<unsigned char>(data[done + i]) ^ key[i]);
      keystream_at += n;
      done += n;
    }
    return ZIP_ER_OK;
  }

  // One piece of the raw entry: the header first, then ciphertext, always holding back the
  // bytes that may be the authentication code. False at the end of the entry or on an error
  // (`error` set).
  bool Pull(int& error) {
    if (raw_done) return false;
    // The entry ends after its stored size: libzip's raw reader of a stored entry still runs
    // its plaintext checks (CRC, size) over the ciphertext and fails them at the end, so it is
    // not asked past that point.
    if (delivered == stored_size) {
      raw_done = true;
      return false;
    }
    const std::size_t want = static_cast<std::size_t>(
        std::min<std::uint64_t>(raw_piece.size(), stored_size - delivered));
    zip_int64_t n = zip_fread(raw.get(), raw_piece.data(), want);
    if (n < 0) {
      error = zip_error_code_zip(zip_file_get_error(raw.get()));
      return false;
    }
    if (n == 0) {  // shorter than its stored size
      error = ZIP_ER_INCONS;
      return false;
    }
    delivered += static_cast<std::uint64_t>(n);
    std::string_view piece(raw_piece.data(), static_cast<std::size_t>(n));
    const std::size_t header_length = SaltLength() + kVerifierSize;
    if (header.size() < header_length) {
      const std::size_t take = std::min(header_length - header.size(), piece.size());
      header.append(piece.substr(0, take));
      piece.remove_prefix(take);
      if (header.size() == header_length) {
        if (int err = Key(); err != ZIP_ER_OK) {
          error = err;
          return false;
        }
      }
    }
    held.append(piece);
    if (held.size() > kAuthCodeSize) {
      const std::size_t feed = held.size() - kAuthCodeSize;
      if (int err = Decrypt(held.data(), feed); err != ZIP_ER_OK) {
        error = err;
        return false;
      }
      held.erase(0, feed);
    }
    return true;
  }
};

bool WinZipAesReader::Handles(std::uint16_t encryption_method, std::int32_t compression_method) {
  return IsWinZipAes(encryption_method) &&
         (compression_method == ZIP_CM_STORE || compression_method == ZIP_CM_DEFLATE);
}

WinZipAesReader::WinZipAesReader(zip_t* za, zip_uint64_t index, std::uint16_t encryption_method,
                                 std::int32_t compression_method, std::uint32_t crc,
                                 std::uint64_t stored_size, const char* password)
    : state_(std::make_unique<State>()) {
  State& s = *state_;
  s.key_length = KeyLength(encryption_method);
  s.deflated = compression_method == ZIP_CM_DEFLATE;
  s.crc_expected = crc;
  s.stored_size = stored_size;
  s.password = password;
  s.raw = ZipEntryReader(zip_fopen_index(za, index, ZIP_FL_ENCRYPTED));
  if (!s.raw)
    error_ = zip_error_code_zip(zip_get_error(za));
  else if (s.key_length == 0 || password == nullptr || *password == '\0')
    error_ = ZIP_ER_NOPASSWD;
}

WinZipAesReader::~WinZipAesReader() = default;

int WinZipAesReader::Start() {
  State& s = *state_;
  while (error_ == ZIP_ER_OK && !s.keyed) {
    if (!s.Pull(error_) && error_ == ZIP_ER_OK) error_ = ZIP_ER_INCONS;  // shorter than a header
  }
  return error_;
}

std::int64_t WinZipAesReader::Read(char* buffer, std::size_t capacity) {
  State& s = *state_;
  if (error_ != ZIP_ER_OK || !s.keyed) {
    if (error_ == ZIP_ER_OK) error_ = ZIP_ER_INTERNAL;  // Start was not called
    return -1;
  }
  std::size_t produced = 0;
  if (!s.deflated) {
    while (produced < capacity) {
      if (s.plain_at == s.plain.size()) {
        s.plain.clear();
        s.plain_at = 0;
        if (!s.Pull(error_)) break;
        continue;
      }
      const std::size_t n = std::min(capacity - produced, s.plain.size() - s.plain_at);
      std::memcpy(buffer + produced, s.plain.data() + s.plain_at, n);
      s.plain_at += n;
      produced += n;
    }
  } else {
    z_stream& z = s.inflater.z();
    z.next_out = reinterpret_cast<Bytef*>(buffer);
    z.avail_out = static_cast<uInt>(std::min<std::size_t>(capacity, 1u << 30));
    while (z.avail_out > 0 && !s.inflate_done && error_ == ZIP_ER_OK) {
      if (s.plain_at == s.plain.size()) {
        s.plain.clear();
        s.plain_at = 0;
        // The entry ended inside the deflate stream.
        if (!s.Pull(error_) && error_ == ZIP_ER_OK) error_ = ZIP_ER_COMPRESSED_DATA;
        continue;
      }
      z.next_in = reinterpret_cast<Bytef*>(s.plain.data() + s.plain_at);
      z.avail_in = static_cast<uInt>(std::min<std::size_t>(s.plain.size() - s.plain_at, 1u << 30));
      const uInt offered = z.avail_in;
      const uInt room = z.avail_out;
      const int result = inflate(&z, Z_NO_FLUSH);
      s.plain_at += offered - z.avail_in;
      if (result == Z_STREAM_END)
        s.inflate_done = true;
      else if ((result != Z_OK && result != Z_BUF_ERROR) ||
               (z.avail_in == offered && z.avail_out == room))  // no progress with both sides open
        error_ = ZIP_ER_COMPRESSED_DATA;
    }
    produced = capacity - z.avail_out;
  }
  if (error_ != ZIP_ER_OK) return -1;
  s.crc = crc32_z(s.crc, reinterpret_cast<const Bytef*>(buffer), produced);
  return static_cast<std::int64_t>(produced);
}

int WinZipAesReader::Finish() {
  State& s = *state_;
  // Whatever follows the end of the deflate stream is still covered by the code.
  while (error_ == ZIP_ER_OK && s.Pull(error_)) {
    s.plain.clear();
    s.plain_at = 0;
  }
  if (error_ != ZIP_ER_OK) return error_;
  if (!s.keyed || s.held.size() != kAuthCodeSize || (s.deflated && !s.inflate_done))
    return error_ = ZIP_ER_INCONS;
  // libzip's checks at the close concern plaintext, not the ciphertext read here.
  s.raw.Close();
  unsigned char code[EVP_MAX_MD_SIZE];
  std::size_t code_length = 0;
  if (EVP_MAC_final(s.mac_ctx.get(), code, &code_length, sizeof code) != 1 ||
      code_length < kAuthCodeSize)
    return error_ = ZIP_ER_INTERNAL;
  if (CRYPTO_memcmp(code, s.held.data(), kAuthCodeSize) != 0) return error_ = ZIP_ER_CRC;
  // AE-1 entries carry the plaintext's CRC as well; AE-2 entries carry 0.
  if (s.crc_expected != 0 && s.crc != s.crc_expected) return error_ = ZIP_ER_CRC;
  return ZIP_ER_OK;
}

}  // namespace vellum::archive
