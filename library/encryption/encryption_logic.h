// The behaviour of the Encryption class: a text encrypted under a password into Base64 text,
// and back. The binary interface layer wraps these two functions in the class's methods.
//
// Texts travel as the raw UTF-16LE bytes the binary interface hands over (so any content,
// odd byte lengths included, round-trips); messages are UTF-8. Neither function throws.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "library/crypto/enveloped_writer.h"
#include "library/platform/text.h"

namespace vellum {

// Encrypts the bytes of `sTobeEncrypted` under the password `sHidden` (its UTF-8 form is the
// key material) with cipher `EncryptionAlgorithm` (negative means 2, DES). On success
// `sEncryptedMessage` holds the Base64 text and `sResultMessage` is left as it was (unless
// nothing came out). On failure `sEncryptedMessage` keeps what it held.
bool EncryptMessage(const Bytes& sTobeEncrypted, const Bytes& sHidden, Bytes& sEncryptedMessage,
                    std::string& sResultMessage, std::int32_t EncryptionAlgorithm = 0);

// EncryptMessage for a text handed over in pieces, `length` bytes in all, known beforehand: the
// same key material and cipher codes, and the same message, whose Base64 lines reach `sink` as
// bytes, or with `units` as the UTF-16LE units EncryptMessage hands out. Raises what the encryption
// raises for the code (see crypto::EnvelopedWriter); the writer raises the rest.
std::unique_ptr<crypto::EnvelopedWriter> StartMessageEncryption(const Bytes& sHidden,
                                                                std::int32_t EncryptionAlgorithm,
                                                                std::uint64_t length,
                                                                crypto::ByteSink sink, bool units);

// Decrypts `sEncryptedMessage` with the password `sHidden` into `sDecryptedMessage`. Both
// inputs are read before the output is written, so `sEncryptedMessage` and
// `sDecryptedMessage` may be the same variable. The algorithm code is checked as in
// EncryptMessage; the cipher itself is the one the message names.
bool DecryptMessage(const Bytes& sHidden, const Bytes& sEncryptedMessage, Bytes& sDecryptedMessage,
                    std::string& sResultMessage, std::int32_t EncryptionAlgorithm = 0);

}  // namespace vellum
