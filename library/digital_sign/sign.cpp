// SignFile and SignZipFile: choose a certificate from the user's store, sign the file's
// content, optionally bind it to credentials, and write the signature file beside the input.
#include <ctime>
#include <memory>
#include <optional>

#include "library/crypto/hashed_data.h"
#include "library/crypto/signed_data.h"
#include "library/crypto/store.h"
#include "library/crypto/token.h"
#include "library/digital_sign/operations.h"
#include "library/digital_sign/signature_files.h"
#include "library/digital_sign/whole_file.h"
#include "library/encryption/encryption_logic.h"
#include "library/platform/error.h"
#include "library/platform/secret.h"
#include "library/zip/zip_logic.h"

namespace vellum {
namespace {

using com::EqualsBool;
using com::EqualsText;
using com::StoreText;
using com::ToLong;
using com::ToUtf8;

// The steps of a signing call; the stage under way picks the failure message.
enum Stage : int {
  kCredentials = 0,
  kReadInput = 1,
  kWriteSignature = 2,
  kSigning = 3,
  kStore = 4,
  kSelection = 5,
  kOnlyCertificate = 6,
};

constexpr const char* kNoCertificate = " No signing certificate / store can be found. ";
constexpr const char* kSelectionCancelled =
    " Signing process cancelled because, Certificate selection dialog was canceled. ";
constexpr const char* kCantEncrypt = "Can't Encrypt the message.";
constexpr const char* kCantCompress = "Can't Compress the File.";

// The message for an error that ended the call, by its number's sign and the stage.
std::string FailureMessage(const Error& e, int stage, const std::string& signature_file,
                           const VARIANT* current_message) {
  const std::string& desc = e.description();
  if (e.number() > 0) {
    if (stage == kReadInput)
      return std::string(
                 "File specified to sign can't accessed or any other file access problem "
                 "occured") +
             kCrLf + "Desc." + desc;
    if (e.number() == 547) return TextOrEmpty(current_message);
    if (stage == kWriteSignature)
      return std::string("Digital Signature created can't be put into file : ") + kCrLf +
             signature_file + kCrLf +
             "check for access to create new textfile in folder, where sign present. " + kCrLf +
             "Desc." + desc;
    return "Last Success: " + TextOrEmpty(current_message) + "." + desc;
  }
  switch (stage) {
    case kStore:
      // A token fails for reasons the user can act on (the PIN, the card, the module): the
      // reason follows the store text.
      return std::string(
                 " Unable to access Personal Store (Current User) or it don't have valid "
                 "certificate in it.") +
             (crypto::IsTokenFailure(e.number()) ? kCrLf + std::string("Desc.") + desc : "");
    case kSelection:
      return kSelectionCancelled;
    case kSigning:
      return std::string(" Signing process failed.") + kCrLf +
             "Private key along with certificate may be destroyed. ";
    default:
      return std::string(" Problem incurred during 'Signing'") + kCrLf + "Description: " + kCrLf +
             desc;
  }
}

// A flag that must be True or False. The automation comparison leaves any other value (a check
// box's 1) in neither branch, which would sign nothing yet report success; refuse it instead.
bool Flag(const VARIANT& v, const char* name) {
  if (EqualsBool(v, true)) return true;
  if (EqualsBool(v, false)) return false;
  throw Error::Runtime(rt::kInvalidCall, RuntimeDescription(rt::kInvalidCall) + ": " + name +
                                             " must be True or False");
}

// Narrows the store's certificates as signing requires: with a private key, valid now, and
// matching each subject filter that is not empty. Every step runs only while some remain.
crypto::Certificates Candidates(const SignArgs& a, std::time_t now) {
  const std::string store_name = EqualsText(*a.sStoreName, "") ? "My" : ToUtf8(*a.sStoreName);
  crypto::Certificates certs =
      crypto::Store::Open(crypto::kCurrentUserStore, store_name, crypto::kStoreReadOnly)
          .Certificates();
  if (certs.Count() > 0)
    certs = certs.Find(crypto::kFindExtendedProperty, crypto::kPropertyKeyProvider);
  if (certs.Count() > 0) certs = certs.Find(crypto::kFindTimeValid, std::int64_t{now});
  if (certs.Count() > 0) {
    for (VARIANT* filter : {a.sIssuedToPerson, a.sIssuedToMailId, a.sIssuedToCompany})
      if (!EqualsText(*filter, "")) certs = certs.Find(crypto::kFindSubjectName, ToUtf8(*filter));
  }
  return certs;
}

// The signed message as the text the signature file holds: Base64 as text, binary as its
// bytes packed into the text type.
Bytes AsMessageText(const Bytes& message, bool binary) {
  return binary ? message : Utf8ToUtf16le(message);
}

// The content to sign, streamed: prefix, the file's data part, trailer.
crypto::ContentReader ReaderOf(WholeFileReader& data, std::string_view prefix,
                               std::string_view trailer) {
  auto stream = std::make_shared<signature_files::ContentStream>(prefix, data, trailer);
  return [stream](char* buffer, std::size_t capacity) { return stream->Read(buffer, capacity); };
}

// The same content whole, for the one message that must be held to be encrypted.
Bytes ReadAll(WholeFileReader& data, std::string_view prefix, std::string_view trailer) {
  signature_files::ContentStream stream(prefix, data, trailer);
  Bytes content;
  char buffer[1 << 16];
  for (std::size_t n; (n = stream.Read(buffer, sizeof buffer)) > 0;) content.append(buffer, n);
  return content;
}

}  // namespace

std::string TextOrEmpty(const VARIANT* v) {
  if (v == nullptr) return {};
  try {
    return ToUtf8(*v);
  } catch (const Error&) {
    return {};
  }
}

Bytes CredentialsHash(const VARIANT& sUseriD, const VARIANT& sPassword, std::int32_t algorithm) {
  crypto::HashedData hashed;
  hashed.SetAlgorithm(algorithm);
  platform::SecretText credentials(com::ToTextBytes(sUseriD) + com::ToTextBytes(sPassword));
  hashed.Hash(credentials.get());
  return Utf8ToUtf16le(hashed.Value());
}

bool SignOperation(const SignArgs& a, SignMode mode) {
  int stage = kCredentials;
  std::string signature_file;
  std::optional<WholeFileReader> reading;  // the input, read once or twice
  try {
    const bool detached =
        Flag(*a.bContentAndSignatureInSeparateFiles, "bContentAndSignatureInSeparateFiles");
    const bool binary = Flag(*a.bBinaryEncoding, "bBinaryEncoding");
    const bool credentials = !(EqualsText(*a.sUseriD, "") || EqualsText(*a.sPassword, ""));
    Bytes hash;
    if (credentials) {
      const std::int32_t code = ToLong(*a.HashAlgorithm);
      hash = CredentialsHash(*a.sUseriD, *a.sPassword, code < 0 ? 0 : code);
    }

    stage = kStore;
    const std::time_t now = std::time(nullptr);
    const std::string input = ToUtf8(a.sInputFileName);
    crypto::Certificates certs = Candidates(a, now);
    // A packed signature without a certificate would be signed by nobody: both signing calls
    // stop here, SignZipFile with the signing-failure message.
    if (certs.Count() == 0) {
      if (mode == SignMode::kFile) {
        StoreText(a.ResultantSigningMessage, kNoCertificate);
        return false;
      }
      stage = kSigning;
      throw Error::Component(hr::kSignerNotFound, "no signing certificate");
    }
    if (certs.Count() == 1) {
      stage = kOnlyCertificate;
    } else {
      stage = kSelection;
      certs = certs.Select("Sign ", "Please select a certificate to sign " + input + ".");
      if (certs.Count() == 0) {
        if (mode == SignMode::kFile) {
          StoreText(a.ResultantSigningMessage, kSelectionCancelled);
          return false;
        }
        stage = kSigning;
        throw Error::Component(hr::kCancelled, "certificate selection cancelled");
      }
    }
    crypto::Signer signer;
    signer.SetCertificate(certs.Item(1));

    stage = kReadInput;
    reading.emplace(input, binary, false);
    // The hash leads the attached content only when the message is not encrypted (or
    // packed); the attached flag is read in attached mode only.
    const bool encrypt_flag = !detached && EqualsBool(*a.bEncryptFile, true);
    const bool hash_inside =
        detached ? credentials : credentials && EqualsBool(*a.bEncryptFile, false);
    const std::string_view prefix = hash_inside ? std::string_view(hash) : std::string_view();
    const Bytes trailer = detached ? Bytes() : signature_files::AttachedTrailer(input);
    signer.AddAuthenticatedAttribute({crypto::kAttributeSigningTime, now});
    const int encoding = binary ? crypto::kEncodeBinary : crypto::kEncodeBase64;
    // SignFile encrypts an attached message as a whole, so that one alone is built in memory;
    // every other message is signed as the file is read, and an attached one is written as the
    // file is read a second time.
    const bool encrypt = mode == SignMode::kFile && encrypt_flag && credentials;
    crypto::SignedData signed_data;
    Bytes message;
    std::optional<crypto::StreamSignature> signature;
    if (encrypt) {
      signed_data.SetContent(ReadAll(*reading, prefix, trailer));
      stage = kSigning;
      message = AsMessageText(signed_data.Sign(signer, detached, encoding), binary);
      std::string ignored;
      Bytes encrypted;
      if (!EncryptMessage(message, hash, encrypted, ignored, ToLong(*a.EncryptionAlgorithm))) {
        StoreText(a.ResultantSigningMessage, kCantEncrypt);
        return false;
      }
      message = std::move(encrypted);
    } else {
      stage = kSigning;
      signature.emplace(signed_data.SignStream(signer, ReaderOf(*reading, prefix, trailer)));
      if (detached) message = AsMessageText(signature->DetachedMessage(encoding), binary);
    }
    std::string suffix = ToUtf8(*a.sSignedFileExtension);
    const bool default_suffix = suffix.empty();
    signature_file = signature_files::SignatureFileName(input, suffix, detached);
    if (default_suffix) StoreText(a.sSignedFileExtension, suffix);

    stage = kWriteSignature;
    // A suffix that turns the input's name back into itself (".txt" for a.txt), or a packed
    // name that lands on the input, would replace the only copy of the signed data.
    const bool packing = mode == SignMode::kZip && encrypt_flag && credentials;
    if (signature_files::NamesSameFile(signature_file, input) ||
        (packing && signature_files::NamesSameFile(
                        signature_files::CompressedFileName(signature_file), input)))
      throw Error::Runtime(rt::kPathFileAccess,
                           RuntimeDescription(rt::kPathFileAccess) +
                               ": the signature file would replace the file being signed");
    if (signature && !detached) {
      WholeFileWriter writer(signature_file);
      stage = kReadInput;
      reading.emplace(input, binary, false);
      stage = kWriteSignature;
      signature->WriteAttachedMessage(encoding, ReaderOf(*reading, prefix, trailer),
                                      [&writer](std::string_view bytes) { writer.Write(bytes); });
      writer.Commit();
    } else {
      WriteWholeFile(signature_file, message, binary);
    }
    if (packing) {
      std::string source = signature_file;
      std::string packed = signature_files::CompressedFileName(signature_file);
      platform::SecretText password(ToUtf8(*a.sPassword));
      ZipLogic zip;
      if (!zip.ZipFile(source, packed, password.get())) {
        StoreText(a.ResultantSigningMessage, kCantCompress);
        return false;
      }
    }

    const std::string subject = signer.certificate()->SubjectName();
    const std::string store_line =
        EqualsText(*a.sStoreName, "")
            ? " From Current user Store Name: Personal"
            : " From Current user Store Name: " + ToUtf8(*a.sStoreName) + ".";
    StoreText(a.ResultantSigningMessage, " Signed file from Certificate: " + subject + kCrLf +
                                             store_line + kCrLf + kCrLf +
                                             " And Signature saved to file:  " + signature_file);
    return true;
  } catch (const Error& e) {
    // A read failure surfaces inside the component that was reading; it is still the reading
    // step that failed.
    if (reading && reading->failed()) stage = kReadInput;
    StoreText(a.ResultantSigningMessage,
              FailureMessage(e, stage, signature_file, a.ResultantSigningMessage));
    return false;
  }
}

}  // namespace vellum
