// VerifyFile, VerifyZipFile and VerifyNSEFile: check a signature, judge the signer's
// certificate, restore carried content and report. A call is a chain of stages (read the
// options, unpack, check a detached or an attached message, decrypt, restore, finish); the
// stage under way picks the text of a failure from the table below.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <functional>
#include <optional>

#include "library/com/bstr.h"
#include "library/crypto/encrypted_data.h"
#include "library/crypto/signed_data.h"
#include "library/digital_sign/attached_reading.h"
#include "library/digital_sign/certificate_report.h"
#include "library/digital_sign/operations.h"
#include "library/digital_sign/signature_files.h"
#include "library/digital_sign/whole_file.h"
#include "library/platform/error.h"
#include "library/platform/secret.h"
#include "library/platform/text.h"
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

// The stages of a verifying call, numbered as the failure texts know them.
enum Stage : int {
  kStart = 0,
  kReadOriginal = 1,
  kReadSignature = 2,
  kVerify = 3,
  kWriteOriginal = 4,
  kParseContent = 5,
  kDecrypt = 6,
};

// Every text of VerifyFile, VerifyZipFile and VerifyNSEFile. In braces, what is filled in:
// {desc} the error's description, {last} the message as it stood, {original} the original
// file's name as it stood, {file} the restored file, {reason} the opener's answer.
constexpr struct {
  const char* cant_unzip = "Can't Unzip the file.";
  const char* no_original_name =
      "Original file name not specified. Please give Original file name. ";
  const char* not_valid = "Signature or Certificate is not valid .";
  const char* credentials_mismatch =
      "Verification fails.\r\nReason: UserID or Password is incorrect.";
  const char* restored = "{last}\r\n And Original content written to file: {file}";
  const char* opened = "{last}\r\n{reason}";
  const char* not_opened = "{last}\r\nBut unable to open file due to reason: {reason}";
  // Failures, by stage (kFailures).
  const char* last_success = "Last Success: {last}.\r\n Problem:{desc}";
  const char* original_unreadable = "Original File Not Found Or Can't BE Accessed\r\nDesc.{desc}";
  const char* signature_unreadable =
      "Signature File Not Found \r\nOr Can't Be Accessed for Original file : {original}";
  const char* signature_not_valid = "Signature or Certificate is not valid. ";
  const char* original_unwritable = "Can't create/write File: {original}. \r\nReason: {desc}";
  const char* name_not_carried =
      "Your File is verified. But filename content is not saved in required format to create "
      "original file.";
  const char* signing_problem = "Signing Problem: {desc}";
} kText;

constexpr StageTexts kFailures[] = {
    {kStart, kText.last_success, kText.signing_problem},
    {kReadOriginal, kText.original_unreadable, kText.signing_problem},
    {kReadSignature, kText.signature_unreadable, kText.signing_problem},
    {kVerify, kText.last_success, kText.signature_not_valid},
    {kWriteOriginal, kText.original_unwritable, kText.signing_problem},
    {kParseContent, kText.name_not_carried, kText.signing_problem},
    {kDecrypt, kText.not_valid, kText.signing_problem},
};

// The signature file's content as the component reads it: Base64 text back to its ASCII
// bytes; a binary message as its bytes (the reader's trailing zero byte is accepted there).
Bytes MessageBytes(const Bytes& text, bool binary) {
  return binary ? text : Utf16leToAnsi(text);
}

// A detached signature holds the signer's certificates and a signature, never the content: a
// few kilobytes, tens with a long chain and timestamps. The bound leaves hundreds of times that
// room and stops a file that is no such signature (a document picked by mistake, a sparse or
// endless file) from being read whole into memory first; past it the file is refused as
// unreadable before anything is read.
constexpr std::uint64_t kMaxDetachedSignature = std::uint64_t{16} << 20;  // 16 MiB

// ReadWholeFile of a detached signature file, within kMaxDetachedSignature. The size is judged
// when the file is opened and again as it is read, so a file that grows meanwhile (or reports
// no size, as a device does) is refused as well.
Bytes ReadDetachedSignature(const std::string& path, bool binary, bool trim) {
  WholeFileReader reader(path, binary, trim);
  const auto too_large = [&path] {
    return Error::Runtime(rt::kPathFileAccess, RuntimeDescription(rt::kPathFileAccess) + " (" +
                                                   path +
                                                   ": larger than a detached signature can be)");
  };
  if (reader.FileSize() > kMaxDetachedSignature) throw too_large();
  // Text content is UTF-16LE (two bytes a character), binary content has one byte added.
  const std::uint64_t most = 2 * kMaxDetachedSignature + 1;
  Bytes content;
  std::string buffer(std::size_t{1} << 16, '\0');
  for (std::size_t n; (n = reader.Read(buffer.data(), buffer.size())) > 0;) {
    if (content.size() + n > most) throw too_large();
    content.append(buffer.data(), n);
  }
  return content;
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

// Optional flags and codes a verifying caller may leave out: an omitted flag counts as False
// and an omitted code as 0 (the default algorithm), rather than failing a verification over
// an argument that does not change its outcome.
bool OptionalFlag(const VARIANT* v, bool value) {
  return v != nullptr && !IsMissing(*v) && EqualsBool(*v, value);
}
std::int32_t OptionalCode(const VARIANT* v) {
  return (v == nullptr || IsMissing(*v)) ? 0 : ToLong(*v);
}

// bDecryptFile: omitted counts as False; any value but True or False (a check box's 1) is
// refused with error 5, as the layout flags are. Taken as neither, it would skip both the
// decryption and the credentials check, and a wrong password would verify.
bool DecryptFlag(const VerifyArgs& a) {
  if (a.bDecryptFile == nullptr || IsMissing(*a.bDecryptFile)) return false;
  if (EqualsBool(*a.bDecryptFile, true)) return true;
  if (EqualsBool(*a.bDecryptFile, false)) return false;
  throw Error::Runtime(rt::kInvalidCall, RuntimeDescription(rt::kInvalidCall) +
                                             ": bDecryptFile must be True or False");
}

// Restoring over the file being verified (a signature received under the name it carries, or
// a packed file carrying its own name) would destroy the only copy of it.
void RefuseReplacingInput(const std::string& restored, const std::string& fingerprint,
                          const std::string& signature_path) {
  if (signature_files::NamesSameFile(restored, fingerprint) ||
      signature_files::NamesSameFile(restored, signature_path))
    throw Error::Runtime(rt::kPathFileAccess,
                         RuntimeDescription(rt::kPathFileAccess) +
                             ": the restored file would replace the signature being verified");
}

// One verifying call: the stage under way and what the stages before it found.
class VerifyCall {
 public:
  VerifyCall(_DigitalSign* self, const VerifyArgs& args, VerifyMode mode)
      : self_(self), a_(args), mode_(mode) {}

  // Runs the stages in order. False when one stopped the call; its message is written.
  bool Run() {
    try {
      if (mode_ == VerifyMode::kNse) {
        TakeOriginalName();
        return CheckDetached() && Handover();
      }
      if (!ReadOptions()) return false;
      const bool checked =
          Flag(*a_.bContentAndSignatureInSeparateFiles, "bContentAndSignatureInSeparateFiles")
              ? CheckDetached()
              : CheckAttached();
      if (!checked) return false;
      Finish();
      return Handover();
    } catch (const Error& e) {
      return Stop(FailureText(
          kFailures, stage_, e,
          {{"last", TextOrEmpty(a_.VerifyErr)}, {"original", TextOrEmpty(a_.sOriginalFName)}}));
    }
  }

 private:
  bool Stop(const std::string& text) {
    StoreText(a_.VerifyErr, text);
    return false;
  }

  bool ReadOptions() {
    if (mode_ == VerifyMode::kFile && a_.sTrim != nullptr && !IsMissing(*a_.sTrim)) {
      if (EqualsText(*a_.sTrim, "")) StoreText(a_.sTrim, "N");
      trim_ = EqualsText(*a_.sTrim, "Y");
    }
    decrypt_flag_ = DecryptFlag(a_);
    credentials_ = !(EqualsText(*a_.sUseriD, "") || EqualsText(*a_.sPassword, ""));
    if (credentials_) {
      const std::int32_t code = OptionalCode(a_.HashAlgorithm);
      hash_ = CredentialsHash(*a_.sUseriD, *a_.sPassword, code < 0 ? 0 : code);
    }
    fingerprint_ = ToUtf8(*a_.sFingerprintFName);
    if (mode_ == VerifyMode::kZip && credentials_ && !Unpack()) return false;
    // A packed signature is read from what was taken out of it; without credentials nothing
    // was, and the empty name fails as an unreadable signature file.
    signature_path_ = mode_ == VerifyMode::kZip ? extracted_ : fingerprint_;
    TakeOriginalName();
    return true;
  }

  // Takes the signature file out of a packed file, into a file of its own removed at the end.
  bool Unpack() {
    // Scratch copies: the caller's variables stay as they are.
    std::string archive = fingerprint_;
    std::string output = fingerprint_;
    platform::SecretText password(ToUtf8(*a_.sPassword));
    ZipLogic zip;
    // Runs using one UnZip folder are serialised from the extraction to the end of the call,
    // so no other run removes the extracted signature while this one reads it.
    try {
      unzip_lock_.emplace(ZipLogic::LockUnZipFolder(archive));
    } catch (const Error&) {
      // No folder to lock: UnZipFile fails on it with its own text.
    }
    if (!zip.UnZipFile(archive, output, password.get(), unzip_lock_ ? &*unzip_lock_ : nullptr))
      return Stop(kText.cant_unzip);
    extracted_ = output;
    return true;
  }

  void TakeOriginalName() {
    original_ = TrimSpaces(ToUtf8(*a_.sOriginalFName));
    StoreText(a_.sOriginalFName, original_);
    now_ = std::time(nullptr);
  }

  // The encoding flag is converted where the signature file is read, so a flag that is no
  // Boolean fails that read.
  void ReadEncoding() {
    stage_ = kReadSignature;
    binary_ = com::ToBool(*a_.bBinaryEncoding);
    if (mode_ == VerifyMode::kNse) signature_path_ = ToUtf8(*a_.sFingerprintFName);
  }

  // A detached message, checked over `prefix` and the original file's data part as it is read,
  // without holding the file.
  bool CheckDetached() {
    ReadEncoding();
    const Bytes message = ReadDetachedSignature(signature_path_, binary_, trim_);
    if (original_.empty()) return Stop(kText.no_original_name);
    stage_ = kReadOriginal;
    WholeFileReader data(original_, binary_, trim_);
    stage_ = kVerify;
    signature_files::ContentStream content(
        credentials_ ? std::string_view(hash_) : std::string_view(), data, {});
    try {
      signed_data_.VerifyDetached(MessageBytes(message, binary_),
                                  [&content](char* buffer, std::size_t capacity) {
                                    return content.Read(buffer, capacity);
                                  });
    } catch (const Error&) {
      // A read failure is the original file's, whatever the component was doing.
      if (data.failed()) stage_ = kReadOriginal;
      throw;
    }
    StoreText(a_.VerifyErr,
              certificate_report::Verdict(original_, Chains(signed_data_), Wording(), now_));
    return true;
  }

  // An attached message, read through its layers twice without being held: once for its
  // framing and the content's trailer, once to check the content's digest while it is restored.
  // A message of another layout than ours comes back whole from the first reading.
  bool CheckAttached() {
    ReadEncoding();
    const bool encrypted = mode_ == VerifyMode::kFile && credentials_ && decrypt_flag_;
    const platform::SecretText password(encrypted ? Utf16leToUtf8(hash_) : std::string());
    const Bytes* key = encrypted ? &password.get() : nullptr;
    attached_reading::Pass first(signature_path_, binary_, key, {});
    first.Run();
    if (mode_ == VerifyMode::kFile) stage_ = kDecrypt;
    if (encrypted && (first.decrypt_error() || !KnownCipherCode())) return Stop(kText.not_valid);
    decrypted_ = encrypted;
    stage_ = kVerify;
    if (first.message_error()) std::rethrow_exception(first.message_error());
    const attached_reading::Framing framing = first.TakeFraming();
    if (!framing.streamed) {
      signed_data_.Verify(framing.whole, false);
      StoreText(a_.VerifyErr,
                certificate_report::Verdict(fingerprint_, Chains(signed_data_), Wording(), now_));
      const Bytes& content = signed_data_.Content();
      const auto carried = TakeCarried(content);
      return Restore(carried, [&](const std::string& path, platform::Privacy privacy) {
        WriteWholeFile(path, carried.data, binary_, privacy);
      });
    }
    return CheckStreamed(framing, key);
  }

  // Decrypting names the cipher the message names; a code beyond the known ones fails all the
  // same, as the decrypting component refuses it before it reads the message.
  bool KnownCipherCode() const {
    try {
      crypto::EncryptedData().SetAlgorithm(std::max(OptionalCode(a_.EncryptionAlgorithm), 0));
      return true;
    } catch (const Error&) {
      return false;
    }
  }

  // The carried content taken apart; the hash leads it only when the message was neither
  // encrypted nor packed.
  signature_files::CarriedContentView TakeCarried(std::string_view content) const {
    const bool hash_expected = mode_ == VerifyMode::kFile && credentials_ && !decrypted_;
    return signature_files::TakeAttachedContentView(
        content, hash_expected ? std::string_view(hash_) : std::string_view(), binary_);
  }

  // The second reading: the content goes through the digest and, when it can be restored, into
  // the restored file, which is put in place only once the signature holds. Nothing is reported
  // before the verdict, so a bad signature is reported as such whatever the writing met.
  bool CheckStreamed(const attached_reading::Framing& framing, const Bytes* key) {
    // The trailer is among the content's last bytes: the content with its middle left out
    // takes apart as the whole content would.
    const Bytes ends = framing.head + framing.tail;
    const auto carried = TakeCarried(ends);
    std::optional<ContentFileWriter> writer;
    std::uint64_t data_begin = 0;
    std::uint64_t data_end = 0;
    if (carried.fault == signature_files::ContentFault::kNone) {
      data_begin = static_cast<std::uint64_t>(carried.data.data() - ends.data());
      data_end = framing.content_length - (ends.size() - data_begin - carried.data.size());
      const bool to_temp = original_.empty();
      const std::string restored =
          signature_files::RestoredFilePath(fingerprint_, carried.name, !to_temp);
      if (!ReplacesInput(restored))
        writer.emplace(restored, binary_,
                       to_temp ? platform::Privacy::kPrivate : platform::Privacy::kShared);
    }
    std::uint64_t at = 0;
    Bytes pending;
    auto take = [&](std::string_view bytes) {
      const std::uint64_t from = std::max(at, data_begin);
      const std::uint64_t to = std::min(at + bytes.size(), data_end);
      if (writer && from < to) writer->Write(bytes.substr(from - at, to - from));
      at += bytes.size();
      pending.append(bytes);
    };
    stage_ = kReadSignature;
    attached_reading::Pass second(signature_path_, binary_, key, take);
    stage_ = kVerify;
    VerifyContent(framing, second, pending);
    StoreText(a_.VerifyErr,
              certificate_report::Verdict(fingerprint_, Chains(signed_data_), Wording(), now_));
    return Restore(carried, [&](const std::string&, platform::Privacy) { writer->Commit(); });
  }

  // The detached form of the message checked over the content of the second reading, which must
  // find the message the first one found.
  void VerifyContent(const attached_reading::Framing& framing, attached_reading::Pass& second,
                     Bytes& pending) {
    std::size_t taken = 0;
    try {
      signed_data_.VerifyDetached(framing.detached, [&](char* buffer, std::size_t capacity) {
        while (taken == pending.size()) {
          pending.clear();
          taken = 0;
          if (!second.Step()) break;
        }
        const std::size_t n = std::min(capacity, pending.size() - taken);
        std::memcpy(buffer, pending.data() + taken, n);
        taken += n;
        return n;
      });
    } catch (const Error&) {
      // A read failure is the signature file's, whatever the component was doing.
      if (second.read_failed()) stage_ = kReadSignature;
      throw;
    }
    second.Run();
    for (const std::exception_ptr& failure : {second.decrypt_error(), second.message_error()})
      if (failure) std::rethrow_exception(failure);
    if (!(second.TakeFraming() == framing))
      throw Error::Component(hr::kHashMismatch,
                             "The signature file changed while it was being read.");
  }

  bool ReplacesInput(const std::string& restored) const {
    try {
      RefuseReplacingInput(restored, fingerprint_, signature_path_);
      return false;
    } catch (const Error&) {
      return true;
    }
  }

  // Writes the carried content under its carried name: `write` puts it at the path.
  bool Restore(const signature_files::CarriedContentView& carried,
               const std::function<void(const std::string&, platform::Privacy)>& write) {
    if (carried.fault == signature_files::ContentFault::kCredentialsMismatch)
      return Stop(kText.credentials_mismatch);
    stage_ = kParseContent;
    if (carried.fault != signature_files::ContentFault::kNone)
      throw Error::Runtime(rt::kInvalidCall);
    // An empty sOriginalFName restores into the shared temporary folder: privately there.
    const bool to_temp = original_.empty();
    original_ = signature_files::RestoredFilePath(fingerprint_, carried.name, !to_temp);
    StoreText(a_.sOriginalFName, original_);
    stage_ = kWriteOriginal;
    RefuseReplacingInput(original_, fingerprint_, signature_path_);
    write(original_, to_temp ? platform::Privacy::kPrivate : platform::Privacy::kShared);
    StoreText(a_.VerifyErr,
              Fill(kText.restored, {{"last", TextOrEmpty(a_.VerifyErr)}, {"file", original_}}));
    return true;
  }

  void Finish() {
    com::StoreTextArray(a_.sArrVerifyingCertificateDetails,
                        certificate_report::CertificateDetails(Chains(signed_data_), now_));
    if (OptionalFlag(a_.bOpenFileAfterVerifyContentSign, true)) OpenAfterVerify();
    if (!extracted_.empty() && ::unlink(extracted_.c_str()) != 0)
      throw FileError(errno, extracted_);
  }

  // Opens the verified file through the object's own StartDoc and reports the outcome.
  void OpenAfterVerify() {
    com::Bstr doc(original_);
    com::Bstr reason("");
    VARIANT_BOOL opened = com::VARIANT_FALSE;
    self_->StartDoc(doc.Address(), reason.Address(), &opened);
    StoreText(a_.VerifyErr, Fill(opened == com::VARIANT_TRUE ? kText.opened : kText.not_opened,
                                 {{"last", TextOrEmpty(a_.VerifyErr)}, {"reason", reason.Utf8()}}));
  }

  // The signers of the successful verification, to a caller that asked for them.
  bool Handover() {
    if (a_.verified_signers != nullptr) *a_.verified_signers = signed_data_.Signers();
    return true;
  }

  VerdictWording Wording() const {
    switch (mode_) {
      case VerifyMode::kZip:
        return VerdictWording::kVerifyZipFile;
      case VerifyMode::kNse:
        return VerdictWording::kVerifyNSEFile;
      default:
        return VerdictWording::kVerifyFile;
    }
  }

  _DigitalSign* const self_;
  const VerifyArgs& a_;
  const VerifyMode mode_;
  Stage stage_ = kStart;
  // The options.
  bool trim_ = false;
  bool credentials_ = false;
  bool decrypt_flag_ = false;
  bool binary_ = false;
  Bytes hash_;
  std::string fingerprint_;
  std::string extracted_;                           // the signature file taken out of a packed file
  std::optional<platform::FolderLock> unzip_lock_;  // held to the end of the call
  std::string signature_path_;                      // the signature file read
  std::string original_;
  std::time_t now_ = 0;
  // The message.
  bool decrypted_ = false;  // the signed message came out of the encrypted layer
  crypto::SignedData signed_data_;
};

}  // namespace

bool VerifyOperation(_DigitalSign* self, const VerifyArgs& args, VerifyMode mode) {
  return VerifyCall(self, args, mode).Run();
}

bool VerifyNseOperation(VARIANT* sFingerprintFName, VARIANT* bBinaryEncoding,
                        VARIANT* sOriginalFName, VARIANT* VerifyErr,
                        std::vector<crypto::MessageSigner>* verified_signers) {
  // VerifyNSEFile's mode reads these four only.
  const VerifyArgs args{sFingerprintFName, nullptr,         bBinaryEncoding, nullptr,
                        sOriginalFName,    VerifyErr,       nullptr,         nullptr,
                        nullptr,           nullptr,         nullptr,         nullptr,
                        nullptr,           verified_signers};
  return VerifyOperation(nullptr, args, VerifyMode::kNse);
}

}  // namespace vellum
