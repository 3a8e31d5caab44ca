// The operations behind DigitalSign's public methods, with the caller's variables as they
// arrive through the vtable. Each returns the method's Boolean result and writes its own
// message; a failure never leaves as an exception.
#pragma once

#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "library/com/variant.h"
#include "library/platform/error.h"
#include "library/platform/text.h"
#include "vellum/vellum.h"

namespace vellum {
namespace crypto {
class MessageSigner;
}

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

// VerifyNSEFile reads only sFingerprintFName, bBinaryEncoding, sOriginalFName and VerifyErr.
enum class VerifyMode { kFile, kZip, kNse };
// `self` opens the verified file through its own StartDoc when asked.
bool VerifyOperation(_DigitalSign* self, const VerifyArgs& args, VerifyMode mode);
// VerifyOperation in VerifyNSEFile's mode, for callers that hold its four arguments only.
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

// A flag that must be True or False. The automation comparison leaves any other value (a check
// box's 1) in neither branch, which would do nothing yet report success; it raises error 5
// naming the argument instead.
bool Flag(const VARIANT& v, const char* name);

// A message text with named fields in braces ("Desc.{desc}"), filled from `fields`. Only the
// pattern is scanned: a value holding braces is copied as it is.
struct Field {
  std::string_view name;
  std::string_view value;
};
std::string Fill(std::string_view pattern, std::span<const Field> fields);
inline std::string Fill(std::string_view pattern, std::initializer_list<Field> fields) {
  return Fill(pattern, std::span<const Field>(fields.begin(), fields.size()));
}

// What a method says when an error ends it during a stage: `runtime` for a run-time error (a
// positive number), `component` for a component's failure code (zero or negative).
struct StageTexts {
  int stage;
  const char* runtime;
  const char* component;
};
// The stage's text for `e`, filled from `fields` and {desc}, the error's description. The
// table's first row stands for a stage it does not list.
std::string FailureText(std::span<const StageTexts> table, int stage, const Error& e,
                        std::initializer_list<Field> fields);

}  // namespace vellum
