#include "library/crypto/enveloped_writer.h"

#include <openssl/err.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>
#include <vector>

#include "library/crypto/der_items.h"
#include "library/crypto/encrypted_data.h"
#include "library/platform/error.h"

namespace vellum::crypto {
namespace {

// PBKDF2 with HMAC-SHA-256 rather than OpenSSL's default HMAC-SHA-1; 10000 rounds keep a
// decrypt well under a tenth of a second while slowing guessing. Both are carried in the
// message (RFC 3211 section 2.1), so readers need no setting.
constexpr int kPbkdf2Rounds = 10000;

constexpr std::array<const char*, 5> kCipherNames{"RC2-CBC", nullptr, "DES-CBC", "DES-EDE3-CBC",
                                                  "AES-256-CBC"};

// encryptedContent, the [0] IMPLICIT OCTET STRING at the end of EncryptedContentInfo.
constexpr unsigned char kEncryptedContentTag = 0x80;

// Pieces handed to the cipher BIO at once (its length argument is an int).
constexpr std::size_t kMaxPiece = std::size_t{1} << 30;

// A copy of the password in OpenSSL's heap for CMS_RecipientInfo_set0_password, which takes it
// over and frees it with OPENSSL_clear_free. Never empty, so an empty password still has a
// buffer to own.
unsigned char* PasswordCopy(std::string_view password) {
  auto* copy = static_cast<unsigned char*>(OPENSSL_malloc(password.size() + 1));
  if (copy == nullptr) throw Error::Component(hr::kOutOfMemory, "Out of memory.");
  if (!password.empty()) std::memcpy(copy, password.data(), password.size());
  copy[password.size()] = 0;
  return copy;
}

const EVP_CIPHER* CipherOf(std::int32_t code, ossl::CipherPtr& owner) {
  if (code < 0 || code >= static_cast<std::int32_t>(kCipherNames.size()))
    throw Error::Component(hr::kInvalidArg,
                           "The encryption algorithm " + std::to_string(code) + " is not known.");
  const char* name = kCipherNames[static_cast<std::size_t>(code)];
  if (name == nullptr)
    throw Error::Component(hr::kUnsupportedAlgorithm,
                           "RC4 cannot be used: encrypted messages have no form for it.");
  ossl::EnsureProviders();
  owner.reset(EVP_CIPHER_fetch(nullptr, name, nullptr));
  if (!owner)
    ossl::Fail(hr::kUnsupportedAlgorithm, std::string("The cipher ") + name + " is not available.");
  return owner.get();
}

// The last element inside `outer`; it must end where `outer` ends.
DerItem LastChild(std::string_view der, const DerItem& outer, DerItem* before = nullptr) {
  DerItem last = ReadDerItem(der, outer.body());
  DerItem previous;
  while (last.end() < outer.end()) {
    previous = last;
    last = ReadDerItem(der, last.end());
  }
  if (last.end() != outer.end()) LayoutFault();
  if (before != nullptr) *before = previous;
  return last;
}

// RFC 5652 section 6.1: ContentInfo, [0] EXPLICIT, EnvelopedData, EncryptedContentInfo, each
// the last element of the one before, so that what is added to the innermost comes last in the
// whole message. OpenSSL writes the message without its content (detached) in this form.
std::vector<DerItem> EncryptedContentNest(std::string_view der) {
  const DerItem info = ReadDerItem(der, 0);
  const DerItem type = ReadDerItem(der, info.body());
  const DerItem explicit_data = ReadDerItem(der, type.end());
  if (info.tag != 0x30 || info.end() != der.size() || type.tag != 0x06 ||
      explicit_data.tag != 0xA0 || explicit_data.end() != info.end())
    LayoutFault();
  const DerItem enveloped = LastChild(der, explicit_data);
  DerItem recipients;
  const DerItem encrypted = LastChild(der, enveloped, &recipients);
  DerItem algorithm;
  const DerItem last = LastChild(der, encrypted, &algorithm);
  // recipientInfos, then EncryptedContentInfo holding its content type and algorithm only.
  if (enveloped.tag != 0x30 || recipients.tag != 0x31 || encrypted.tag != 0x30 ||
      algorithm.tag != 0x06 || algorithm.at != encrypted.body() || last.tag != 0x30)
    LayoutFault();
  return {info, explicit_data, enveloped, encrypted};
}

// The message up to its ciphertext: `der` (the message without content) with the content's
// header added at the end of the innermost element of `nest`, and every enclosing length grown
// by what was added.
Bytes HeadWithContent(std::string_view der, const std::vector<DerItem>& nest,
                      std::uint64_t content_length) {
  const Bytes content_header = DerHeader(kEncryptedContentTag, content_length);
  const std::size_t n = nest.size();
  std::vector<std::uint64_t> lengths(n);
  lengths[n - 1] = nest[n - 1].length + content_header.size() + content_length;
  for (std::size_t i = n - 1; i-- > 0;)
    lengths[i] = nest[i].length - nest[i + 1].size() +
                 DerHeader(nest[i + 1].tag, lengths[i + 1]).size() + lengths[i + 1];
  Bytes head;
  for (std::size_t i = 0; i < n; ++i) {
    head += DerHeader(nest[i].tag, lengths[i]);
    const std::size_t until = i + 1 < n ? nest[i + 1].at : nest[i].end();
    head.append(der.substr(nest[i].body(), until - nest[i].body()));
  }
  return head + content_header;
}

const BIO_METHOD* SinkMethod(int (*write)(BIO*, const char*, int)) {
  static const ossl::BioMethodPtr method = [write] {
    ossl::BioMethodPtr m(BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "encrypted"));
    if (m && (BIO_meth_set_write(m.get(), write) != 1 ||
              BIO_meth_set_ctrl(m.get(), [](BIO*, int cmd, long, void*) -> long {
                return cmd == BIO_CTRL_FLUSH ? 1 : 0;
              }) != 1))
      m.reset();
    return m;
  }();
  if (!method) ossl::Fail(hr::kOutOfMemory, "Out of memory.");
  return method.get();
}

}  // namespace

EnvelopedWriter::EnvelopedWriter(std::string_view password, std::int32_t code,
                                 std::uint64_t content_length, int encoding, ByteSink sink,
                                 bool units)
    : sink_(std::move(sink)), content_length_(content_length) {
  if (encoding != 0 && encoding != 1)
    throw Error::Component(hr::kInvalidArg, "The encoding is not valid.");
  ossl::CipherPtr cipher;
  const EVP_CIPHER* chosen = CipherOf(code, cipher);
  // The calls and their order are Encrypt's, so the random values are drawn alike: the
  // recipient's salt and key-wrapping IV here, the content key and IV in CMS_dataInit, which
  // also wraps the key for the recipient. The message stays detached (no content of its own):
  // the ciphertext goes to the sink BIO instead.
  cms_.reset(CMS_EnvelopedData_create(chosen));
  if (!cms_) ossl::Fail(hr::kFail, "The encrypted message could not be started.");
  CMS_RecipientInfo* ri = CMS_add0_recipient_password(cms_.get(), kPbkdf2Rounds, NID_undef,
                                                      NID_hmacWithSHA256, nullptr, 0, nullptr);
  if (ri == nullptr) ossl::Fail(hr::kFail, "The password recipient could not be added.");
  if (CMS_RecipientInfo_set0_password(ri, PasswordCopy(password),
                                      static_cast<ossl_ssize_t>(password.size())) != 1)
    ossl::Fail(hr::kFail, "The password could not be set.");

  BIO* sink_bio = BIO_new(SinkMethod(&EnvelopedWriter::SinkWrite));
  if (sink_bio == nullptr) ossl::Fail(hr::kOutOfMemory, "Out of memory.");
  BIO_set_data(sink_bio, this);
  BIO_set_init(sink_bio, 1);
  chain_.reset(CMS_dataInit(cms_.get(), sink_bio));
  if (!chain_) {
    BIO_free(sink_bio);  // CMS_dataInit leaves a BIO it was given to its caller on failure
    ossl::Fail(hr::kFail, "The content could not be encrypted.");
  }

  // CBC with PKCS #7 padding: always one block more than whole blocks of content.
  const auto block = static_cast<std::uint64_t>(EVP_CIPHER_get_block_size(chosen));
  cipher_length_ = block > 1 ? (content_length / block + 1) * block : content_length;
  unsigned char* raw = nullptr;
  const int length = i2d_CMS_ContentInfo(cms_.get(), &raw);
  if (length <= 0) ossl::Fail(hr::kFail, "The encrypted message could not be encoded.");
  ossl::OpensslBytes owned(raw);
  const std::string_view der(reinterpret_cast<const char*>(raw), static_cast<std::size_t>(length));
  head_ = HeadWithContent(der, EncryptedContentNest(der), cipher_length_);
  if (encoding == 0) base64_.emplace(sink_, units);
}

EnvelopedWriter::~EnvelopedWriter() = default;

void EnvelopedWriter::Fail(const char* what) {
  failed_ = true;
  ossl::Fail(hr::kFail, what);
}

void EnvelopedWriter::Emit(std::string_view bytes) {
  if (base64_)
    base64_->Write(bytes);
  else
    sink_(bytes);
}

void EnvelopedWriter::Start() {
  if (started_) return;
  started_ = true;
  Emit(head_);
}

void EnvelopedWriter::RethrowSinkError() {
  if (!sink_error_) return;
  ERR_clear_error();
  std::rethrow_exception(std::exchange(sink_error_, nullptr));
}

// The sink BIO's write: ciphertext on its way out. An exception cannot pass through OpenSSL's
// C frames, so the sink's error is kept, the write fails, and Write raises it afterwards.
int EnvelopedWriter::SinkWrite(BIO* bio, const char* data, int size) {
  auto* self = static_cast<EnvelopedWriter*>(BIO_get_data(bio));
  if (self->sink_error_ || size < 0) return -1;
  try {
    self->cipher_written_ += static_cast<std::uint64_t>(size);
    if (self->cipher_written_ > self->cipher_length_) return -1;
    self->Emit(std::string_view(data, static_cast<std::size_t>(size)));
    return size;
  } catch (...) {
    self->sink_error_ = std::current_exception();
    return -1;
  }
}

void EnvelopedWriter::Write(std::string_view content) {
  Start();
  if (content.size() > content_length_ - content_written_)
    Fail("More content came than the encrypted message was laid out for.");
  content_written_ += content.size();
  while (!content.empty()) {
    const std::size_t n = std::min(content.size(), kMaxPiece);
    const int written = BIO_write(chain_.get(), content.data(), static_cast<int>(n));
    RethrowSinkError();
    if (written != static_cast<int>(n)) Fail("The content could not be encrypted.");
    content.remove_prefix(n);
  }
}

void EnvelopedWriter::Finish() {
  Start();
  if (content_written_ != content_length_)
    Fail("Less content came than the encrypted message was laid out for.");
  const long flushed = BIO_flush(chain_.get());
  RethrowSinkError();
  if (flushed <= 0 || CMS_dataFinal(cms_.get(), chain_.get()) != 1 ||
      cipher_written_ != cipher_length_)
    Fail("The content could not be encrypted.");
  if (base64_) base64_->Finish();
}

}  // namespace vellum::crypto
