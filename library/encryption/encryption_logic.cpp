#include "library/encryption/encryption_logic.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "library/crypto/codec.h"
#include "library/crypto/encrypted_data.h"
#include "library/crypto/password_stream.h"
#include "library/platform/error.h"
#include "library/platform/secret.h"
#include "library/platform/text.h"

namespace vellum {
namespace {

// Stage codes: which input check refused the call.
constexpr int kStageNoText = 1;
constexpr int kStageNothingToDecrypt = 2;
constexpr int kStageNoPassword = 3;

// The messages, in the order they are chosen.
constexpr char kDataNotFound[] = "Data to encrypt not found.";
constexpr char kPasswordNotGiven[] = "Password not given to decrypt the message.";
constexpr char kNothingToDecrypt[] = "Nothing to Decrypt found.";
constexpr char kNoMessageEncrypted[] = "no message encrypted. ";
constexpr char kEncryptFailed[] = "Error while encryption.";
constexpr char kEncryptDescription[] = "Description is:";
constexpr char kMessageDecrypted[] = "Message Decrypted.";
constexpr char kWrongPassword[] = "Error. The password may not be correct.";
constexpr char kMessageChanged[] = "Error. Encrypted File might have changed.";
constexpr char kDecryptFailed[] = "Problem while decryption.";
constexpr char kDecryptDescription[] = "Decsiption: ";

// A negative code asks for DES; any other is passed on as given.
std::int32_t CipherCode(std::int32_t requested) {
  return requested < 0 ? crypto::kEncryptDes : requested;
}

// True when the UTF-16LE text is empty or only U+0020 blanks (the trim of the original
// removes spaces only, not tabs or line breaks).
bool BlankText(std::string_view utf16le) {
  if (utf16le.size() % 2 != 0) return false;
  for (std::size_t i = 0; i < utf16le.size(); i += 2)
    if (utf16le[i] != ' ' || utf16le[i + 1] != '\0') return false;
  return true;
}

// The failures a step can raise, reduced to the one error type.
Error Caught() {
  try {
    throw;
  } catch (const Error& e) {
    return e;
  } catch (const std::bad_alloc&) {
    return Error::Runtime(7, "Out of memory");
  } catch (const std::exception& e) {
    return Error::Component(hr::kFail, e.what());
  } catch (...) {
    return Error::Component(hr::kFail, "Unexpected failure.");
  }
}

// The password's key material: the UTF-8 of its text, so `openssl cms -pwri_password` with
// the same text opens what we write. The copy is wiped when it goes.
platform::SecretText KeyMaterial(std::string_view utf16le) {
  return platform::SecretText(Utf16leToUtf8(utf16le));
}

// The message as the method's Base64 text, written as UTF-16LE into the caller's buffer as the
// content is encrypted: all lengths are known before the first byte (the content's), so the
// result is allocated once at its size, and neither the message nor its ASCII text is ever
// held. Returns the text's length in characters.
std::size_t EncryptIntoText(std::string_view content, std::string_view hidden, std::int32_t code,
                            const ResultBuffer& result) {
  char* out = nullptr;
  std::size_t bytes = 0;  // of the result: two for every Base64 character
  std::size_t written = 0;
  auto writer = StartMessageEncryption(
      hidden, code, content.size(),
      [&](std::string_view units) {
        if (units.size() > bytes - written) throw Error::Component(hr::kFail, "Base64 overran.");
        std::memcpy(out + written, units.data(), units.size());
        written += units.size();
      },
      true);
  bytes = 2 * static_cast<std::size_t>(crypto::Base64LinesLength(writer->DerLength()));
  out = result(bytes);
  constexpr std::size_t kPiece = std::size_t{1} << 20;
  for (std::size_t at = 0; at < content.size(); at += kPiece)
    writer->Write(content.substr(at, kPiece));
  writer->Finish();
  if (written != bytes) throw Error::Component(hr::kFail, "Base64 fell short.");
  return bytes / 2;
}

// UTF-16LE text as UTF-8; ASCII (all of a Base64 text) narrowed directly.
std::string Narrow(std::string_view utf16le) {
  bool ascii = utf16le.size() % 2 == 0;
  for (std::size_t i = 0; ascii && i < utf16le.size(); i += 2)
    ascii = static_cast<unsigned char>(utf16le[i]) < 0x80 && utf16le[i + 1] == '\0';
  if (!ascii) return Utf16leToUtf8(utf16le);
  std::string out(utf16le.size() / 2, '\0');
  for (std::size_t i = 0; i < out.size(); ++i) out[i] = utf16le[2 * i];
  return out;
}

// Decrypts a message handed over as a UTF-16LE text in pieces: each piece is narrowed,
// decoded (Base64, PEM or DER) and decrypted as it passes, and the plain bytes gathered in one
// buffer reserved at their largest possible size (the decoded length), so it never moves. A
// piece never ends inside a surrogate pair, so each converts as it would within the whole.
void DecryptText(std::string_view utf16le, std::string_view hidden, Bytes& plain) {
  plain.reserve(utf16le.size() / 2 / 4 * 3 + 3);
  crypto::PasswordDecryptor decryptor(KeyMaterial(hidden).get(),
                                      [&plain](std::string_view bytes) { plain.append(bytes); });
  crypto::MessageDecoder decoder(hr::kNotSignedMessage,
                                 [&decryptor](std::string_view der) { decryptor.Write(der); });
  constexpr std::size_t kPiece = std::size_t{1} << 16;
  while (!utf16le.empty()) {
    std::size_t n = std::min(kPiece, utf16le.size());
    if (n < utf16le.size()) {
      const auto last = static_cast<unsigned char>(utf16le[n - 1]);
      if (last >= 0xD8 && last <= 0xDB) n -= 2;  // a high surrogate waits for its pair
    }
    decoder.Write(Narrow(utf16le.substr(0, n)));
    utf16le.remove_prefix(n);
  }
  decoder.Finish();
  decryptor.Finish();
}

// A ResultBuffer that fills `target`.
ResultBuffer InBytes(Bytes& target) {
  return [&target](std::size_t bytes) {
    target.assign(bytes, '\0');
    return target.data();
  };
}

}  // namespace

bool EncryptMessageInto(std::string_view sTobeEncrypted, std::string_view sHidden,
                        const ResultBuffer& sEncryptedMessage, std::string& sResultMessage,
                        std::int32_t EncryptionAlgorithm) {
  int stage = 0;
  try {
    if (sTobeEncrypted.empty()) {
      stage = kStageNoText;
      throw Error::Runtime(rt::kInvalidCall);
    }
    if (sHidden.empty()) {
      stage = kStageNoPassword;
      throw Error::Runtime(rt::kInvalidCall);
    }
    const std::size_t length =
        EncryptIntoText(sTobeEncrypted, sHidden, EncryptionAlgorithm, sEncryptedMessage);
    if (length == 0) sResultMessage = kNoMessageEncrypted;
    return true;
  } catch (...) {
    Error e = Caught();
    if (stage == kStageNoText)
      sResultMessage = kDataNotFound;
    else if (stage == kStageNoPassword)
      sResultMessage = kPasswordNotGiven;
    else if (e.number() > 0)
      sResultMessage = e.description();
    else
      sResultMessage = std::string(kEncryptFailed) + kCrLf + kEncryptDescription + e.description();
    return false;
  }
}

std::unique_ptr<crypto::EnvelopedWriter> StartMessageEncryption(std::string_view sHidden,
                                                                std::int32_t EncryptionAlgorithm,
                                                                std::uint64_t length,
                                                                crypto::ByteSink sink, bool units) {
  return std::make_unique<crypto::EnvelopedWriter>(KeyMaterial(sHidden).get(),
                                                   CipherCode(EncryptionAlgorithm), length, 0,
                                                   std::move(sink), units);
}

bool DecryptMessageInto(std::string_view sHidden, std::string_view sEncryptedMessage,
                        const ResultBuffer& sDecryptedMessage, std::string& sResultMessage,
                        std::int32_t EncryptionAlgorithm) {
  int stage = 0;
  bool bSecretSet = false;
  try {
    if (BlankText(sHidden)) {
      stage = kStageNoPassword;
      throw Error::Runtime(rt::kInvalidCall);
    }
    if (BlankText(sEncryptedMessage)) {
      stage = kStageNothingToDecrypt;
      throw Error::Runtime(rt::kInvalidCall);
    }
    bSecretSet = true;  // the password is used as given, not trimmed
    // The code is checked as EncryptMessage checks it; the message names its own cipher.
    crypto::EncryptedData().SetAlgorithm(CipherCode(EncryptionAlgorithm));
    platform::Secret<Bytes> plain;  // wiped however the call ends
    DecryptText(sEncryptedMessage, sHidden, plain.get());
    char* out = sDecryptedMessage(plain->size());
    if (!plain->empty()) std::memcpy(out, plain->data(), plain->size());
    sResultMessage = kMessageDecrypted;
    return true;
  } catch (...) {
    Error e = Caught();
    if (stage == kStageNoPassword)
      sResultMessage = kPasswordNotGiven;
    else if (stage == kStageNothingToDecrypt)
      sResultMessage = kNothingToDecrypt;
    else if (e.number() > 0)
      sResultMessage = e.description();
    else if (e.number() == hr::kBadData)
      sResultMessage = kWrongPassword;
    else if (bSecretSet)
      sResultMessage = kMessageChanged;
    else
      sResultMessage = std::string(kDecryptFailed) + kCrLf + kDecryptDescription + e.description();
    return false;
  }
}

bool EncryptMessage(const Bytes& sTobeEncrypted, const Bytes& sHidden, Bytes& sEncryptedMessage,
                    std::string& sResultMessage, std::int32_t EncryptionAlgorithm) {
  Bytes result;
  if (!EncryptMessageInto(sTobeEncrypted, sHidden, InBytes(result), sResultMessage,
                          EncryptionAlgorithm))
    return false;
  sEncryptedMessage = std::move(result);
  return true;
}

bool DecryptMessage(const Bytes& sHidden, const Bytes& sEncryptedMessage, Bytes& sDecryptedMessage,
                    std::string& sResultMessage, std::int32_t EncryptionAlgorithm) {
  Bytes result;
  if (!DecryptMessageInto(sHidden, sEncryptedMessage, InBytes(result), sResultMessage,
                          EncryptionAlgorithm))
    return false;
  sDecryptedMessage = std::move(result);
  return true;
}

}  // namespace vellum
