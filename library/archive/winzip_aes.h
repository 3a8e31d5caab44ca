// A second opinion on WinZip AES entries that libzip 1.7 cannot judge.
//
// An AE-2 entry (what 7-Zip writes) stores no CRC: the field is 0 and the entry's HMAC-SHA1
// authentication code is its only check. libzip before 1.9 still compares the plaintext's CRC
// with that 0 and fails every such entry with ZIP_ER_CRC, the same error its own
// authentication check gives. When that happens the caller asks here, and this code checks
// the authentication code itself over the entry's raw stored bytes.
#pragma once

#include <zip.h>

#include <cstdint>

namespace vellum::archive {

// True when `method` is one of the WinZip AES methods.
bool IsWinZipAes(std::uint16_t method);

// True when entry `index` of `za`, encrypted with the WinZip AES `method`, carries an
// authentication code that matches its stored data under `password` (WinZip's AE-x format:
// salt, 2-byte verifier, ciphertext, 10-byte HMAC-SHA1 of the ciphertext under the key
// derived with PBKDF2-HMAC-SHA1, 1000 rounds). False for any failure to tell.
bool WinZipAesEntryAuthenticates(zip_t* za, zip_uint64_t index, std::uint16_t method,
                                 const char* password);

}  // namespace vellum::archive
