// SignFile and SignZipFile: choose a certificate from the user's store, sign the file's
// content, optionally bind it to credentials, and write the signature file beside the input.
// A call is a chain of stages (read the options, choose the certificate, build the message,
// name and write the signature file, pack it, report); the stage under way picks the text of
// a failure from the table below.
#include <ctime>
#include <memory>
#include <optional>
#include <utility>

#include "library/com/registry.h"
#include "library/crypto/codec.h"
#include "library/crypto/enveloped_writer.h"
#include "library/crypto/signed_data.h"
#include "library/crypto/store.h"
#include "library/crypto/timestamp.h"
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

// The stages of a signing call, numbered as the failure texts know them.
enum Stage : int {
  kCredentials = 0,
  kReadInput = 1,
  kWriteSignature = 2,
  kSigning = 3,
  kStore = 4,
  kSelection = 5,
  kOnlyCertificate = 6,
};

// Every text of SignFile and SignZipFile. In braces, what is filled in: {desc} the error's
// description, {last} the message as it stood, {file} the signature file, {input} the file to
// sign, {subject} the signer, {store} the store's name, {from} the store line.
constexpr struct {
  const char* no_certificate = " No signing certificate / store can be found. ";
  const char* selection_cancelled =
      " Signing process cancelled because, Certificate selection dialog was canceled. ";
  const char* cant_encrypt = "Can't Encrypt the message.";
  const char* cant_compress = "Can't Compress the File.";
  const char* picker_title = "Sign ";
  const char* picker_prompt = "Please select a certificate to sign {input}.";
  const char* signed_file =
      " Signed file from Certificate: {subject}\r\n{from}\r\n\r\n"
      " And Signature saved to file:  {file}";
  const char* personal_store = " From Current user Store Name: Personal";
  const char* named_store = " From Current user Store Name: {store}.";
  // Failures, by stage (kFailures).
  const char* input_unreadable =
      "File specified to sign can't accessed or any other file access problem occured\r\n"
      "Desc.{desc}";
  const char* signature_unwritable =
      "Digital Signature created can't be put into file : \r\n{file}\r\n"
      "check for access to create new textfile in folder, where sign present. \r\nDesc.{desc}";
  const char* last_success = "Last Success: {last}.{desc}";
  const char* store_unusable =
      " Unable to access Personal Store (Current User) or it don't have valid certificate in "
      "it.";
  const char* signing_failed =
      " Signing process failed.\r\nPrivate key along with certificate may be destroyed. ";
  const char* input_changed = "The content changed while it was being signed.";
  const char* problem = " Problem incurred during 'Signing'\r\nDescription: \r\n{desc}";
  // A token fails for reasons the user can act on (the PIN, the card, the module): the reason
  // follows the store text.
  const char* token_reason = "\r\nDesc.{desc}";
  // So does a time-stamping authority that fails (unreachable, slow, refusing): the reason
  // follows the signing text.
  const char* timestamp_reason = "\r\nDesc.{desc}";
  // Descriptions of the errors the call raises itself.
  const char* no_signer = "no signing certificate";
  const char* no_selection = "certificate selection cancelled";
  const char* replaces_input = ": the signature file would replace the file being signed";
} kText;

constexpr StageTexts kFailures[] = {
    {kCredentials, kText.last_success, kText.problem},
    {kReadInput, kText.input_unreadable, kText.problem},
    {kWriteSignature, kText.signature_unwritable, kText.problem},
    {kSigning, kText.last_success, kText.signing_failed},
    {kStore, kText.last_success, kText.store_unusable},
    {kSelection, kText.last_success, kText.selection_cancelled},
    {kOnlyCertificate, kText.last_success, kText.problem},
};

// A run-time error of this number leaves the message as it stood (unless reading failed).
constexpr std::int32_t kKeepMessage = 547;

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

// One signing call: the stage under way and what the stages before it found.
class SignCall {
 public:
  SignCall(const SignArgs& args, SignMode mode) : a_(args), mode_(mode) {}

  // Runs the stages in order. False when one stopped the call; its message is written.
  bool Run() {
    try {
      ReadOptions();
      if (!ChooseCertificate() || !BuildMessage()) return false;
      NameSignatureFile();
      Write();
      if (!Pack()) return false;
      Report();
      return true;
    } catch (const Error& e) {
      // A read failure surfaces inside the component that was reading; it is still the
      // reading stage that failed.
      if (reading_ && reading_->failed()) stage_ = kReadInput;
      if (envelope_ && envelope_->failed()) return Stop(kText.cant_encrypt);
      if (stage_ == kWriteSignature) StoreSuffix();
      return Stop(FailureMessage(e));
    }
  }

 private:
  bool Stop(const std::string& text) {
    StoreText(a_.ResultantSigningMessage, text);
    return false;
  }

  std::string FailureMessage(const Error& e) const {
    const std::string last = TextOrEmpty(a_.ResultantSigningMessage);
    if (e.number() == kKeepMessage && stage_ != kReadInput) return last;
    std::string text =
        FailureText(kFailures, stage_, e, {{"last", last}, {"file", signature_file_}});
    if (stage_ == kStore && e.number() <= 0 && crypto::IsTokenFailure(e.number()))
      text += Fill(kText.token_reason, {{"desc", e.description()}});
    if (stage_ == kSigning && crypto::IsTimestampFailure(e.number()))
      text += Fill(kText.timestamp_reason, {{"desc", e.description()}});
    return text;
  }

  void ReadOptions() {
    detached_ =
        Flag(*a_.bContentAndSignatureInSeparateFiles, "bContentAndSignatureInSeparateFiles");
    binary_ = Flag(*a_.bBinaryEncoding, "bBinaryEncoding");
    credentials_ = !(EqualsText(*a_.sUseriD, "") || EqualsText(*a_.sPassword, ""));
    if (credentials_) {
      const std::int32_t code = ToLong(*a_.HashAlgorithm);
      hash_ = CredentialsHash(*a_.sUseriD, *a_.sPassword, code < 0 ? 0 : code);
    }
  }

  bool ChooseCertificate() {
    stage_ = kStore;
    now_ = std::time(nullptr);
    input_ = ToUtf8(a_.sInputFileName);
    crypto::Certificates certs = Candidates(a_, now_);
    if (certs.Count() == 0)
      return NoCertificate(kText.no_certificate, hr::kSignerNotFound, kText.no_signer);
    if (certs.Count() == 1) {
      stage_ = kOnlyCertificate;
    } else {
      stage_ = kSelection;
      certs = certs.Select(kText.picker_title, Fill(kText.picker_prompt, {{"input", input_}}));
      if (certs.Count() == 0)
        return NoCertificate(kText.selection_cancelled, hr::kCancelled, kText.no_selection);
    }
    signer_.SetCertificate(certs.Item(1));
    // Every signature is timestamped when an authority is configured; nothing is written when
    // it fails.
    signer_.SetTimestampAuthority(crypto::ConfiguredAuthority([](std::string_view name) {
      return com::UserSetting(crypto::kTimestampSettingsKey, name);
    }));
    return true;
  }

  // SignFile stops with its text. A packed signature without a certificate would be signed by
  // nobody: SignZipFile fails at the signing stage.
  bool NoCertificate(const char* text, std::int32_t code, const char* description) {
    if (mode_ == SignMode::kFile) return Stop(text);
    stage_ = kSigning;
    throw Error::Component(code, description);
  }

  // Every message is signed as the file is read. An attached one is written as it is signed
  // (see WriteInOneReading); SignFile's encrypted one is written from a second reading and
  // encrypted as it is written, since its first bytes cannot be put right afterwards.
  bool BuildMessage() {
    stage_ = kReadInput;
    reading_.emplace(input_, binary_, false);
    // The hash leads the attached content only when the message is not encrypted (or
    // packed); the attached flag is read in attached mode only.
    encrypt_flag_ = !detached_ && EqualsBool(*a_.bEncryptFile, true);
    const bool hash_inside =
        detached_ ? credentials_ : credentials_ && EqualsBool(*a_.bEncryptFile, false);
    prefix_ = hash_inside ? std::string_view(hash_) : std::string_view();
    trailer_ = detached_ ? Bytes() : signature_files::AttachedTrailer(input_);
    signer_.AddAuthenticatedAttribute({crypto::kAttributeSigningTime, now_});
    encoding_ = binary_ ? crypto::kEncodeBinary : crypto::kEncodeBase64;
    stage_ = kSigning;
    // An attached message that is not encrypted is signed as it is written, in one reading.
    one_reading_ = !detached_ && !(mode_ == SignMode::kFile && encrypt_flag_ && credentials_);
    if (one_reading_) return true;
    signature_.emplace(signed_data_.SignStream(signer_, ReaderOf(*reading_, prefix_, trailer_)));
    stage_ = kReadInput;
    RefuseChangedInput();
    stage_ = kSigning;
    if (detached_) message_ = AsMessageText(signature_->DetachedMessage(encoding_), binary_);
    if (mode_ == SignMode::kFile && encrypt_flag_ && credentials_) return StartEncryption();
    return true;
  }

  // The encrypted message is laid out before it is written: the signed message's length, and
  // so the encrypted one's, is known once it is signed. Its plain text is the signed message
  // as the signature file would hold it (Base64 lines as UTF-16LE, or the DER bytes).
  bool StartEncryption() {
    const std::uint64_t der = signature_->AttachedLength();
    const std::uint64_t text = binary_ ? der : 2 * crypto::Base64LinesLength(der);
    const std::int32_t code = ToLong(*a_.EncryptionAlgorithm);
    try {
      // The encrypted message's Base64 lines go into the signature file as ANSI text, or as
      // the text type's units in binary mode.
      envelope_ = StartMessageEncryption(
          hash_, code, text, [this](std::string_view bytes) { file_->Write(bytes); }, binary_);
    } catch (...) {
      return Stop(kText.cant_encrypt);
    }
    return true;
  }

  // A file that changed while it was read was not signed as any one version of it. The
  // attached message hashes its second reading again; this covers every reading, detached too.
  void RefuseChangedInput() const {
    if (reading_->changed()) throw Error::Component(hr::kHashMismatch, kText.input_changed);
  }

  // Still the signing stage: a name that cannot be formed fails as signing does.
  void NameSignatureFile() {
    std::string suffix = ToUtf8(*a_.sSignedFileExtension);
    const bool default_suffix = suffix.empty();
    signature_file_ = signature_files::SignatureFileName(input_, suffix, detached_);
    if (default_suffix) default_suffix_ = suffix;
    // The caller sees the default suffix once the message is signed; a message signed as it is
    // written shows it then, or when writing fails.
    if (signature_) StoreSuffix();
  }

  void StoreSuffix() {
    if (default_suffix_) StoreText(a_.sSignedFileExtension, *std::exchange(default_suffix_, {}));
  }

  // The content's length if the file stays as it was opened: the attached head is laid out for
  // it before the file is read.
  std::uint64_t ExpectedLength() const {
    const std::uint64_t size = reading_->FileSize();
    return prefix_.size() + (binary_ ? size + 1 : 2 * size) + trailer_.size();
  }

  // Signs the content as the message is written, in one reading of the file, and puts the
  // head's lengths right at the end. False when the head came out another size than it was laid
  // out (see SignedData::SignAttached): the message is then to be written again. Failures of
  // the writer are the writing stage's, of the reader the reading stage's, the rest signing's.
  bool WriteInOneReading(WholeFileWriter& writer) {
    auto writing = [this, &writer](std::string_view bytes, bool at_start) {
      try {
        if (at_start) writer.Seek(0);
        writer.Write(bytes);
      } catch (...) {
        stage_ = kWriteSignature;
        throw;
      }
    };
    stage_ = kSigning;
    bool written = false;
    signature_.emplace(signed_data_.SignAttached(
        signer_, ReaderOf(*reading_, prefix_, trailer_), ExpectedLength(), encoding_,
        [&writing](std::string_view bytes) { writing(bytes, false); },
        [&writing](std::string_view bytes) { writing(bytes, true); }, written));
    // The size and times of the file before and after, and the one reading's digest in the
    // signature, stand for the second reading's check.
    stage_ = kReadInput;
    RefuseChangedInput();
    StoreSuffix();
    stage_ = kWriteSignature;
    return written;
  }

  void Write() {
    stage_ = kWriteSignature;
    packing_ = mode_ == SignMode::kZip && encrypt_flag_ && credentials_;
    // A suffix that turns the input's name back into itself (".txt" for a.txt), or a packed
    // name that lands on the input, would replace the only copy of the signed data.
    if (signature_files::NamesSameFile(signature_file_, input_) ||
        (packing_ && signature_files::NamesSameFile(
                         signature_files::CompressedFileName(signature_file_), input_)))
      throw Error::Runtime(rt::kPathFileAccess,
                           RuntimeDescription(rt::kPathFileAccess) + kText.replaces_input);
    if (detached_) {
      WriteWholeFile(signature_file_, message_, binary_);
      return;
    }
    std::optional<WholeFileWriter> file(std::in_place, signature_file_);
    if (one_reading_ && WriteInOneReading(*file)) {
      file->Commit();
      return;
    }
    if (one_reading_) file.emplace(signature_file_);  // from the start, from a second reading
    WholeFileWriter& writer = *file;
    file_ = &writer;
    stage_ = kReadInput;
    reading_.emplace(input_, binary_, false);
    stage_ = kWriteSignature;
    crypto::ByteSink sink = [&writer](std::string_view bytes) { writer.Write(bytes); };
    if (envelope_) sink = [this](std::string_view bytes) { envelope_->Write(bytes); };
    // Encrypted, the signed message is the text the signature file would hold: its Base64 as
    // the text type's units.
    signature_->WriteAttachedMessage(encoding_, ReaderOf(*reading_, prefix_, trailer_), sink,
                                     envelope_ != nullptr);
    if (envelope_) envelope_->Finish();
    writer.Commit();
    file_ = nullptr;
  }

  bool Pack() {
    if (!packing_) return true;
    std::string source = signature_file_;
    std::string packed = signature_files::CompressedFileName(signature_file_);
    platform::SecretText password(ToUtf8(*a_.sPassword));
    ZipLogic zip;
    if (!zip.ZipFile(source, packed, password.get())) return Stop(kText.cant_compress);
    return true;
  }

  void Report() {
    const std::string subject = signer_.certificate()->SubjectName();
    const std::string from = EqualsText(*a_.sStoreName, "")
                                 ? std::string(kText.personal_store)
                                 : Fill(kText.named_store, {{"store", ToUtf8(*a_.sStoreName)}});
    StoreText(
        a_.ResultantSigningMessage,
        Fill(kText.signed_file, {{"subject", subject}, {"from", from}, {"file", signature_file_}}));
  }

  const SignArgs& a_;
  const SignMode mode_;
  Stage stage_ = kCredentials;
  // The options.
  bool detached_ = false;
  bool binary_ = false;
  bool credentials_ = false;
  bool encrypt_flag_ = false;
  bool packing_ = false;
  bool one_reading_ = false;  // an attached message signed as it is written
  Bytes hash_;
  // The certificate and the message.
  std::time_t now_ = 0;
  std::string input_;
  crypto::Signer signer_;
  std::optional<WholeFileReader> reading_;  // the input, read once or twice
  std::string_view prefix_;
  Bytes trailer_;
  int encoding_ = crypto::kEncodeBase64;
  crypto::SignedData signed_data_;
  std::optional<crypto::StreamSignature> signature_;   // a message signed as it was read
  Bytes message_;                                      // a detached message, held whole
  std::unique_ptr<crypto::EnvelopedWriter> envelope_;  // SignFile's encryption, when asked
  std::string signature_file_;
  std::optional<std::string> default_suffix_;  // to show the caller, once signed
  WholeFileWriter* file_ = nullptr;            // the signature file while it is written
};

}  // namespace

bool SignOperation(const SignArgs& args, SignMode mode) {
  return SignCall(args, mode).Run();
}

}  // namespace vellum
