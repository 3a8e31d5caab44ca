// The operations behind DigitalSign's public methods, with the caller's variables as they
// arrive through the vtable. Each returns the method's Boolean result and writes its own
// message; a failure never leaves as an exception.
#pragma once

#include <string>
#include <vector>

#include "library/com/variant.h"
#include "library/platform/text.h"
#include "vellum/vellum.h"

namespace vellum {
namespace crypto {
class MessageSigner;
}

inline constexpr const char* kCrLf = "\r\n";

struct SignArgs {
  VARIANT sInputFileName;
  VARIANT* bContentAndSignatureInSeparateFiles;
  VARIANT* bBinaryEncoding;
  VARIANT* sStoreName;
  VARIANT* sSignedFileExtension;
  VARIANT* ResultantSigningMessage;
  VARIANT* sUseriD;
  VARIANT* sPassword;
  VARIANT* bEncryptFile;
  VARIANT* sIssuedToPerson;
  VARIANT* sIssuedToMailId;
  VARIANT* sIssuedToCompany;
  VARIANT* HashAlgorithm;
  VARIANT* EncryptionAlgorithm;
};

enum class SignMode { kFile, kZip };
bool SignOperation(const SignArgs& args, SignMode mode);

struct VerifyArgs {
  VARIANT* sFingerprintFName;
  VARIANT* bContentAndSignatureInSeparateFiles;
  VARIANT* bBinaryEncoding;
  VARIANT* sArrVerifyingCertificateDetails;
  VARIANT* sOriginalFName;
  VARIANT* VerifyErr;
  VARIANT* bOpenFileAfterVerifyContentSign;
  VARIANT* sUseriD;
  VARIANT* sPassword;
  VARIANT* bDecryptFile;
  VARIANT* HashAlgorithm;
  VARIANT* EncryptionAlgorithm;
  VARIANT* sTrim;  // null for VerifyZipFile, which has none
  // When given, receives the signers of a verification that succeeded (for the trust answer).
  std::vector<crypto::MessageSigner>* verified_signers = nullptr;
};

enum class VerifyMode { kFile, kZip };
// `self` opens the verified file through its own StartDoc when asked.
bool VerifyOperation(_DigitalSign* self, const VerifyArgs& args, VerifyMode mode);
bool VerifyNseOperation(VARIANT* sFingerprintFName, VARIANT* bBinaryEncoding,
                        VARIANT* sOriginalFName, VARIANT* VerifyErr,
                        std::vector<crypto::MessageSigner>* verified_signers = nullptr);

// The credentials hash shared by signing and verifying: the component's hash of the user id
// followed directly by the password (their UTF-16LE bytes), as UTF-16LE text of its uppercase
// hexadecimal value.
Bytes CredentialsHash(const VARIANT& sUseriD, const VARIANT& sPassword, std::int32_t algorithm);

// A text read from a variant for a message, or "" when it holds no text (a message must still
// be composed while reporting another failure).
std::string TextOrEmpty(const VARIANT* v);

}  // namespace vellum
