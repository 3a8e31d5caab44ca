// The behaviour of the Encryption class: a text encrypted under a password into Base64 text,
// and back. The binary interface layer wraps these two functions in the class's methods.
//
// Texts travel as the raw UTF-16LE bytes the binary interface hands over (so any content,
// odd byte lengths included, round-trips); messages are UTF-8. Neither function throws.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "library/crypto/enveloped_writer.h"
#include "library/platform/text.h"

namespace vellum {

// Where a method writes its result text: called once with the result's length in bytes, it
// returns a buffer of that length for the method to fill (the caller's new BSTR), so a large
// result is made once, in place. The caller keeps its old result unless the method returns
// true.
using ResultBuffer = std::function<char*(std::size_t bytes)>;

// EncryptMessage without copies: the text is read where it lies, encrypted in pieces, and the
// Base64 result written as UTF-16LE straight into `sEncryptedMessage`'s buffer. Besides the
// text and the result, the call holds only small buffers.
bool EncryptMessageInto(std::string_view sTobeEncrypted, std::string_view sHidden,
                        const ResultBuffer& sEncryptedMessage, std::string& sResultMessage,
                        std::int32_t EncryptionAlgorithm = 0);

// DecryptMessage without copies: the UTF-16LE text is decoded and decrypted as it is read
// (the message is never held), and the plain bytes, gathered once, are written into
// `sDecryptedMessage`'s buffer and wiped.
bool DecryptMessageInto(std::string_view sHidden, std::string_view sEncryptedMessage,
                        const ResultBuffer& sDecryptedMessage, std::string& sResultMessage,
                        std::int32_t EncryptionAlgorithm = 0);

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
std::unique_ptr<crypto::EnvelopedWriter> StartMessageEncryption(std::string_view sHidden,
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
