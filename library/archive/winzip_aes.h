// WinZip AES entries (AE-1 and AE-2): salt, a 2-byte password verifier, the ciphertext in
// counter mode, and a 10-byte HMAC-SHA1 of the ciphertext, under keys derived from the
// password with PBKDF2-HMAC-SHA1, 1000 rounds. AE-2 entries (what 7-Zip writes) store no CRC:
// the field is 0 and the authentication code is the entry's only check, which libzip before
// 1.9 cannot judge (it fails every such entry on its CRC). This reader judges both kinds.
#pragma once

#include <zip.h>

#include <cstdint>
#include <memory>
#include <string>

namespace vellum::archive {

// True when `method` is one of the WinZip AES methods.
bool IsWinZipAes(std::uint16_t method);

// Reads a WinZip AES entry (stored or deflated) from its raw stored bytes: checks the password
// verifier, decrypts the counter-mode ciphertext many blocks per cipher call, inflates, and
// checks the authentication code at the end. libzip 1.7 runs the cipher one 16-byte block per
// call, which made extraction of a large entry several times slower than the data allows;
// every other entry still goes through libzip.
//
// Errors are libzip codes, so the caller maps them as it maps libzip's: ZIP_ER_WRONGPASSWD
// (verifier), ZIP_ER_CRC (authentication code or the plaintext's CRC), ZIP_ER_COMPRESSED_DATA
// (inflate), ZIP_ER_INCONS (an entry shorter than its header and code), ZIP_ER_READ and the
// errors of libzip's raw reader, ZIP_ER_MEMORY.
class WinZipAesReader {
 public:
  // True for the entries this reader takes: a WinZip AES method with stored or deflated data.
  static bool Handles(std::uint16_t encryption_method, std::int32_t compression_method);

  // Opens entry `index` for raw reading; `stored_size` is its size in the archive (header,
  // ciphertext and code) and `password` must not be empty. Start reads the header and checks
  // the verifier, so a wrong password is known before anything is written.
  WinZipAesReader(zip_t* za, zip_uint64_t index, std::uint16_t encryption_method,
                  std::int32_t compression_method, std::uint32_t crc, std::uint64_t stored_size,
                  const char* password);
  ~WinZipAesReader();
  WinZipAesReader(const WinZipAesReader&) = delete;
  WinZipAesReader& operator=(const WinZipAesReader&) = delete;

  // 0 or the error.
  int Start();
  // Plaintext into `buffer`: its length, 0 at the end of the entry, -1 after an error.
  std::int64_t Read(char* buffer, std::size_t capacity);
  // After Read returned 0: 0 when the authentication code (and a non-zero CRC field) match.
  int Finish();
  int error() const { return error_; }

 private:
  struct State;
  std::unique_ptr<State> state_;
  int error_ = 0;
};

}  // namespace vellum::archive
