// VerifyFile, VerifyZipFile and VerifyNSEFile: check a signature, judge the signer's
// certificate, restore carried content and report.
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <optional>

#include "library/com/bstr.h"
#include "library/crypto/codec.h"
#include "library/crypto/signed_data.h"
#include "library/digital_sign/certificate_report.h"
#include "library/digital_sign/operations.h"
#include "library/digital_sign/signature_files.h"
#include "library/digital_sign/whole_file.h"
#include "library/encryption/encryption_logic.h"
#include "library/platform/error.h"
#include "library/platform/secret.h"
#include "library/zip/zip_logic.h"

namespace vellum {
namespace {

using certificate_report::VerdictWording;
using com::EqualsBool;
using com::EqualsText;
using com::IsMissing;
using com::StoreText;
using com::ToLong;
using com::ToUtf8;

// The steps of a verifying call; the stage under way picks the failure message.
enum Stage : int {
  kStart = 0,
  kReadOriginal = 1,
  kReadSignature = 2,
  kVerify = 3,
  kWriteOriginal = 4,
  kParseContent = 5,
  kDecrypt = 6,
};

constexpr const char* kNoOriginalName =
    "Original file name not specified. Please give Original file name. ";

std::string FailureMessage(const Error& e, int stage, const VARIANT* sOriginalFName,
                           const VARIANT* VerifyErr) {
  const std::string& desc = e.description();
  if (e.number() > 0) {
    switch (stage) {
      case kReadOriginal:
        return std::string("Original File Not Found Or Can't BE Accessed") + kCrLf + "Desc." + desc;
      case kReadSignature:
        return std::string("Signature File Not Found ") + kCrLf +
               "Or Can't Be Accessed for Original file : " + TextOrEmpty(sOriginalFName);
      case kDecrypt:
        return "Signature or Certificate is not valid .";
      case kWriteOriginal:
        return "Can't create/write File: " + TextOrEmpty(sOriginalFName) + ". " + kCrLf +
               "Reason: " + desc;
      case kParseContent:
        return "Your File is verified. But filename content is not saved in required format to "
               "create original file.";
      default:
        return "Last Success: " + TextOrEmpty(VerifyErr) + "." + kCrLf + " Problem:" + desc;
    }
  }
  if (stage == kVerify) return "Signature or Certificate is not valid. ";
  return "Signing Problem: " + desc;
}

// The signature file's content as the component reads it: Base64 text back to its ASCII
// bytes; a binary message as its bytes (the reader's trailing zero byte is accepted there).
Bytes MessageBytes(const Bytes& text, bool binary) {
  return binary ? text : Utf16leToAnsi(text);
}

// Checks a detached signature over `prefix` and the original file's data part as `data` reads
// it, without holding the file. A read failure is the original file's, whatever the component
// was doing when it came.
void VerifyStreamed(crypto::SignedData& signed_data, const Bytes& message, WholeFileReader& data,
                    std::string_view prefix, int& stage) {
  signature_files::ContentStream content(prefix, data, {});
  try {
    signed_data.VerifyDetached(message, [&content](char* buffer, std::size_t capacity) {
      return content.Read(buffer, capacity);
    });
  } catch (const Error&) {
    if (data.failed()) stage = kReadOriginal;
    throw;
  }
}

// The signature file's message, decoded as the file is read. The file's bytes go to the decoder
// as they are: a text read decodes ANSI that MessageBytes encodes back (over all 256 byte
// values), and the zero byte of a binary read is accepted after every form, so both modes give
// the decoder what they would have given DecodeMessage.
crypto::MessageDecoder ReadSignatureMessage(const std::string& path) {
  WholeFileReader reader(path, true, false);
  crypto::MessageDecoder decoder(hr::kNotSignedMessage, reader.FileSize() + 1);
  std::string buffer(std::size_t{1} << 16, '\0');
  for (std::size_t n; (n = reader.Read(buffer.data(), buffer.size())) > 0;)
    decoder.Write(std::string_view(buffer.data(), n));
  return decoder;
}

std::vector<certificate_report::SignerChain> Chains(const crypto::SignedData& signed_data) {
  std::vector<certificate_report::SignerChain> chains;
  for (const auto& signer : signed_data.Signers()) {
    certificate_report::SignerChain chain;
    for (const auto& c : signer.Chain())
      chain.push_back({c.SubjectName(), c.IssuerName(), c.ValidTo()});
    chains.push_back(std::move(chain));
  }
  return chains;
}

std::string TrimSpaces(std::string_view s) {
  std::size_t first = s.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return std::string(s.substr(first, s.find_last_not_of(' ') - first + 1));
}

// Optional flags and codes a verifying caller may leave out: an omitted flag counts as False
// and an omitted code as 0 (the default algorithm), rather than failing a verification over
// an argument that does not change its outcome.
bool OptionalFlag(const VARIANT* v, bool value) {
  return v != nullptr && !IsMissing(*v) && EqualsBool(*v, value);
}
std::int32_t OptionalCode(const VARIANT* v) {
  return (v == nullptr || IsMissing(*v)) ? 0 : ToLong(*v);
}

// Whether the caller asks for decryption. An odd flag value counts as no here: it raises again
// where the flag is read at its own stage.
bool AsksToDecrypt(const VerifyArgs& a) {
  try {
    return OptionalFlag(a.bDecryptFile, true);
  } catch (const Error&) {
    return false;
  }
}

bool CredentialsGiven(const VerifyArgs& a) {
  return !(EqualsText(*a.sUseriD, "") || EqualsText(*a.sPassword, ""));
}

// Opens the verified file through the object's own StartDoc and reports the outcome.
void OpenAfterVerify(_DigitalSign* self, const std::string& path, VARIANT* VerifyErr) {
  com::Bstr doc(path);
  com::Bstr reason("");
  VARIANT_BOOL opened = com::VARIANT_FALSE;
  self->StartDoc(doc.Address(), reason.Address(), &opened);
  const std::string current = TextOrEmpty(VerifyErr);
  if (opened == com::VARIANT_TRUE)
    StoreText(VerifyErr, current + kCrLf + reason.Utf8());
  else
    StoreText(VerifyErr,
              current + kCrLf + "But unable to open file due to reason: " + reason.Utf8());
}

}  // namespace

bool VerifyOperation(_DigitalSign* self, const VerifyArgs& a, VerifyMode mode) {
  int stage = kStart;
  std::string extracted;  // the signature file taken out of a packed file
  try {
    bool trim = false;
    if (mode == VerifyMode::kFile && a.sTrim != nullptr && !IsMissing(*a.sTrim)) {
      if (EqualsText(*a.sTrim, "")) StoreText(a.sTrim, "N");
      trim = EqualsText(*a.sTrim, "Y");
    }
    const bool credentials = CredentialsGiven(a);
    Bytes hash;
    if (credentials) {
      const std::int32_t code = OptionalCode(a.HashAlgorithm);
      hash = CredentialsHash(*a.sUseriD, *a.sPassword, code < 0 ? 0 : code);
    }
    const std::string fingerprint = ToUtf8(*a.sFingerprintFName);
    if (mode == VerifyMode::kZip && credentials) {
      // Scratch copies: the caller's variables stay as they are.
      std::string archive = fingerprint;
      std::string output = fingerprint;
      platform::SecretText password(ToUtf8(*a.sPassword));
      ZipLogic zip;
      if (!zip.UnZipFile(archive, output, password.get())) {
        StoreText(a.VerifyErr, "Can't Unzip the file.");
        return false;
      }
      extracted = output;
    }
    std::string original = TrimSpaces(ToUtf8(*a.sOriginalFName));
    StoreText(a.sOriginalFName, original);
    // The encoding flag is converted where the signature file is read, so a flag that is no
    // Boolean fails that read.
    bool binary = false;
    const std::string& signature_path = mode == VerifyMode::kZip ? extracted : fingerprint;
    const VerdictWording wording =
        mode == VerifyMode::kZip ? VerdictWording::kVerifyZipFile : VerdictWording::kVerifyFile;
    const std::time_t now = std::time(nullptr);
    crypto::SignedData signed_data;

    if (EqualsBool(*a.bContentAndSignatureInSeparateFiles, true)) {
      stage = kReadSignature;
      binary = com::ToBool(*a.bBinaryEncoding);
      const Bytes message = ReadWholeFile(signature_path, binary, trim);
      if (original.empty()) {
        StoreText(a.VerifyErr, kNoOriginalName);
        return false;
      }
      stage = kReadOriginal;
      WholeFileReader data(original, binary, trim);
      stage = kVerify;
      VerifyStreamed(signed_data, MessageBytes(message, binary), data,
                     credentials ? std::string_view(hash) : std::string_view(), stage);
      StoreText(a.VerifyErr,
                certificate_report::Verdict(original, Chains(signed_data), wording, now));
    } else if (EqualsBool(*a.bContentAndSignatureInSeparateFiles, false)) {
      stage = kReadSignature;
      binary = com::ToBool(*a.bBinaryEncoding);
      // Only a message to decrypt is read whole; any other is decoded as it is read.
      const bool decrypting = mode == VerifyMode::kFile && credentials && AsksToDecrypt(a);
      Bytes message;
      std::optional<crypto::MessageDecoder> decoder;
      if (decrypting)
        message = ReadWholeFile(signature_path, binary, false);
      else
        decoder.emplace(ReadSignatureMessage(signature_path));
      bool decrypted = false;
      if (mode == VerifyMode::kFile) {
        stage = kDecrypt;
        if (credentials && OptionalFlag(a.bDecryptFile, true)) {
          // A binary read ends with the reader's zero byte; the encrypted text never does.
          if (binary && message.size() % 2 == 1 && message.back() == '\0') message.pop_back();
          Bytes plain;
          std::string ignored;
          if (!DecryptMessage(hash, message, plain, ignored, OptionalCode(a.EncryptionAlgorithm))) {
            StoreText(a.VerifyErr, "Signature or Certificate is not valid .");
            return false;
          }
          message = std::move(plain);
          decrypted = true;
        }
      }
      stage = kVerify;
      std::string_view content;
      if (decoder) {
        content = signed_data.VerifyAttachedDer(decoder->Finish());
      } else {
        signed_data.Verify(MessageBytes(message, binary), false);
        content = signed_data.Content();
      }
      StoreText(a.VerifyErr,
                certificate_report::Verdict(fingerprint, Chains(signed_data), wording, now));
      // The hash leads the content only when the message was neither encrypted nor packed.
      const bool hash_expected = mode == VerifyMode::kFile && credentials && !decrypted &&
                                 (a.bDecryptFile == nullptr || IsMissing(*a.bDecryptFile) ||
                                  EqualsBool(*a.bDecryptFile, false));
      auto carried = signature_files::TakeAttachedContentView(
          content, hash_expected ? std::string_view(hash) : std::string_view(), binary);
      if (carried.fault == signature_files::ContentFault::kCredentialsMismatch) {
        StoreText(a.VerifyErr, std::string("Verification fails.") + kCrLf +
                                   "Reason: UserID or Password is incorrect.");
        return false;
      }
      stage = kParseContent;
      if (carried.fault != signature_files::ContentFault::kNone)
        throw Error::Runtime(rt::kInvalidCall);
      original = signature_files::RestoredFilePath(fingerprint, carried.name, !original.empty());
      StoreText(a.sOriginalFName, original);
      stage = kWriteOriginal;
      WriteWholeFile(original, carried.data, binary);
      StoreText(a.VerifyErr, TextOrEmpty(a.VerifyErr) + kCrLf +
                                 " And Original content written to file: " + original);
    } else {
      throw Error::Runtime(rt::kInvalidCall,
                           RuntimeDescription(rt::kInvalidCall) +
                               ": bContentAndSignatureInSeparateFiles must be True or False");
    }

    com::StoreTextArray(a.sArrVerifyingCertificateDetails,
                        certificate_report::CertificateDetails(Chains(signed_data), now));
    if (OptionalFlag(a.bOpenFileAfterVerifyContentSign, true))
      OpenAfterVerify(self, original, a.VerifyErr);
    if (!extracted.empty() && ::unlink(extracted.c_str()) != 0) throw FileError(errno, extracted);
    if (a.verified_signers != nullptr) *a.verified_signers = signed_data.Signers();
    return true;
  } catch (const Error& e) {
    StoreText(a.VerifyErr, FailureMessage(e, stage, a.sOriginalFName, a.VerifyErr));
    return false;
  }
}

bool VerifyNseOperation(VARIANT* sFingerprintFName, VARIANT* bBinaryEncoding,
                        VARIANT* sOriginalFName, VARIANT* VerifyErr,
                        std::vector<crypto::MessageSigner>* verified_signers) {
  int stage = kStart;
  try {
    const std::string original = TrimSpaces(ToUtf8(*sOriginalFName));
    StoreText(sOriginalFName, original);
    stage = kReadSignature;
    const bool binary = com::ToBool(*bBinaryEncoding);
    const Bytes message = ReadWholeFile(ToUtf8(*sFingerprintFName), binary, false);
    if (original.empty()) {
      StoreText(VerifyErr, kNoOriginalName);
      return false;
    }
    stage = kReadOriginal;
    crypto::SignedData signed_data;
    WholeFileReader data(original, binary, false);
    stage = kVerify;
    VerifyStreamed(signed_data, MessageBytes(message, binary), data, {}, stage);
    StoreText(VerifyErr,
              certificate_report::Verdict(original, Chains(signed_data),
                                          VerdictWording::kVerifyNSEFile, std::time(nullptr)));
    if (verified_signers != nullptr) *verified_signers = signed_data.Signers();
    return true;
  } catch (const Error& e) {
    StoreText(VerifyErr, FailureMessage(e, stage, sOriginalFName, VerifyErr));
    return false;
  }
}

}  // namespace vellum
