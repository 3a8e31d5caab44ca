#include "library/encryption/encryption_logic.h"

#include <new>

#include "library/crypto/encrypted_data.h"
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
bool BlankText(const Bytes& utf16le) {
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
platform::SecretText KeyMaterial(const Bytes& utf16le) {
  return platform::SecretText(Utf16leToUtf8(utf16le));
}

}  // namespace

bool EncryptMessage(const Bytes& sTobeEncrypted, const Bytes& sHidden, Bytes& sEncryptedMessage,
                    std::string& sResultMessage, std::int32_t EncryptionAlgorithm) {
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
    crypto::EncryptedData data;
    data.SetContent(sTobeEncrypted);
    data.SetSecret(KeyMaterial(sHidden).get(), crypto::kSecretPassword);
    data.SetAlgorithm(CipherCode(EncryptionAlgorithm));
    sEncryptedMessage = Utf8ToUtf16le(data.Encrypt(0));
    if (sEncryptedMessage.empty()) sResultMessage = kNoMessageEncrypted;
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

std::unique_ptr<crypto::EnvelopedWriter> StartMessageEncryption(const Bytes& sHidden,
                                                                std::int32_t EncryptionAlgorithm,
                                                                std::uint64_t length,
                                                                crypto::ByteSink sink, bool units) {
  return std::make_unique<crypto::EnvelopedWriter>(KeyMaterial(sHidden).get(),
                                                   CipherCode(EncryptionAlgorithm), length, 0,
                                                   std::move(sink), units);
}

bool DecryptMessage(const Bytes& sHidden, const Bytes& sEncryptedMessage, Bytes& sDecryptedMessage,
                    std::string& sResultMessage, std::int32_t EncryptionAlgorithm) {
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
    crypto::EncryptedData data;
    data.SetSecret(KeyMaterial(sHidden).get(), crypto::kSecretPassword);  // as given, not trimmed
    bSecretSet = true;
    data.SetAlgorithm(CipherCode(EncryptionAlgorithm));
    data.Decrypt(Utf16leToUtf8(sEncryptedMessage));
    sDecryptedMessage = data.Content();
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

}  // namespace vellum
