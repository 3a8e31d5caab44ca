#include "library/crypto/signed_data.h"

#include <openssl/err.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string_view>

#include "library/crypto/chain.h"
#include "library/crypto/codec.h"
#include "library/crypto/der_items.h"
#include "library/platform/error.h"

namespace vellum::crypto {
namespace {

// NTE_BAD_KEYSET: the original platform's answer for a certificate whose key is not there.
constexpr std::int32_t kKeysetMissing = static_cast<std::int32_t>(0x80090016);

// Every signature we make uses SHA-256.
constexpr const char* kSigningDigest = "SHA2-256";

// Detached content reaches CMS_verify behind a buffer BIO, so it is read in place and never
// copied: CMS_verify copies content held in a memory BIO into a second memory BIO, and OpenSSL
// 3.0 loses that copy when the message names a digest it cannot fetch.
ossl::BioPtr DetachedContentReader(const Bytes& content) {
  ossl::BioPtr buffer(BIO_new(BIO_f_buffer()));
  if (!buffer) ossl::Fail(hr::kOutOfMemory, "Out of memory.");
  BIO_push(buffer.get(), ossl::MemoryReader(content).release());  // freed with the chain
  return buffer;
}

Bytes ToDer(CMS_ContentInfo* cms) {
  unsigned char* raw = nullptr;
  int length = i2d_CMS_ContentInfo(cms, &raw);
  if (length <= 0) ossl::Fail(hr::kFail, "The signed message could not be encoded.");
  ossl::OpensslBytes owned(raw);
  return Bytes(reinterpret_cast<char*>(raw), static_cast<std::size_t>(length));
}

std::vector<Certificate> MessageCertificates(CMS_ContentInfo* cms) {
  std::vector<Certificate> out;
  ossl::X509StackPtr certs(CMS_get1_certs(cms));
  for (int i = 0; certs && i < sk_X509_num(certs.get()); ++i)
    out.push_back(Certificate::FromShared(sk_X509_value(certs.get(), i)));
  return out;
}

// CMS_verify reports a changed content and a damaged signature with the same reason, so the
// signed attributes are checked on their own: when their signature holds, the content digest
// is what failed.
std::int32_t DiagnoseFailure(CMS_ContentInfo* cms, const ossl::ErrorQueue& errors) {
  if (errors.Has(ERR_LIB_CMS, CMS_R_SIGNER_CERTIFICATE_NOT_FOUND) ||
      errors.Has(ERR_LIB_CMS, CMS_R_NO_SIGNERS))
    return hr::kSignerNotFound;
  if (errors.Has(ERR_LIB_CMS, CMS_R_NO_CONTENT)) return hr::kBadMessageType;
  STACK_OF(CMS_SignerInfo)* infos = CMS_get0_SignerInfos(cms);
  for (int i = 0; i < sk_CMS_SignerInfo_num(infos); ++i) {
    CMS_SignerInfo* si = sk_CMS_SignerInfo_value(infos, i);
    X509* cert = nullptr;
    CMS_SignerInfo_get0_algs(si, nullptr, &cert, nullptr, nullptr);
    if (cert == nullptr) return hr::kSignerNotFound;
    // Without signed attributes the signature covers the content itself; a failure there
    // cannot be told apart and counts as a damaged signature.
    if (CMS_signed_get_attr_count(si) <= 0 || CMS_SignerInfo_verify(si) != 1) {
      ERR_clear_error();
      return hr::kBadSignature;
    }
  }
  ERR_clear_error();
  return hr::kHashMismatch;
}

// RFC 5652 section 11.1: the signed content-type attribute must name the carried content's
// type. OpenSSL 3.0 does not compare the two, so a changed eContentType would pass unnoticed.
bool ContentTypeMatches(CMS_ContentInfo* cms, CMS_SignerInfo* si) {
  if (CMS_signed_get_attr_count(si) <= 0) return true;  // nothing signed to compare with
  const ASN1_OBJECT* signed_type = static_cast<const ASN1_OBJECT*>(
      CMS_signed_get0_data_by_OBJ(si, OBJ_nid2obj(NID_pkcs9_contentType), -3, V_ASN1_OBJECT));
  return signed_type != nullptr && OBJ_cmp(signed_type, CMS_get0_eContentType(cms)) == 0;
}

void AddSigningTime(CMS_SignerInfo* si, std::time_t when) {
  // UTCTime up to 2049, GeneralizedTime after, as RFC 5652 section 11.3 asks.
  ossl::Asn1TimePtr time(ASN1_TIME_set(nullptr, when));
  if (!time ||
      CMS_signed_add1_attr_by_NID(si, NID_pkcs9_signingTime, time->type, time.get(), -1) != 1)
    ossl::Fail(hr::kFail, "The signing time could not be added.");
}

// Pieces in which streamed content is read, digested and written.
constexpr std::size_t kStreamChunk = std::size_t{1} << 18;

// A read-only BIO over a ContentReader. An exception cannot pass through OpenSSL's C frames, so
// an error raised by the reader is kept here, the read reports failure to OpenSSL, and the
// caller raises the kept error once OpenSSL has returned.
class ReaderBio {
 public:
  explicit ReaderBio(const ContentReader& reader) : reader_(reader) {
    bio_.reset(BIO_new(Method()));
    if (!bio_) ossl::Fail(hr::kOutOfMemory, "Out of memory.");
    BIO_set_data(bio_.get(), this);
    BIO_set_init(bio_.get(), 1);
  }
  ReaderBio(const ReaderBio&) = delete;
  ReaderBio& operator=(const ReaderBio&) = delete;

  BIO* get() const { return bio_.get(); }
  const std::exception_ptr& error() const { return error_; }

 private:
  // One method for the process: each BIO_get_new_index call uses up one of few type numbers.
  static const BIO_METHOD* Method() {
    static const ossl::BioMethodPtr method = [] {
      ossl::BioMethodPtr m(BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "content"));
      if (m && (BIO_meth_set_read(m.get(), Read) != 1 || BIO_meth_set_ctrl(m.get(), Ctrl) != 1))
        m.reset();
      return m;
    }();
    if (!method) ossl::Fail(hr::kOutOfMemory, "Out of memory.");
    return method.get();
  }

  static int Read(BIO* bio, char* buffer, int size) {
    auto* self = static_cast<ReaderBio*>(BIO_get_data(bio));
    if (self->error_) return -1;
    if (size <= 0) return 0;
    try {
      return static_cast<int>(self->reader_(buffer, static_cast<std::size_t>(size)));
    } catch (...) {
      self->error_ = std::current_exception();
      return -1;
    }
  }

  static long Ctrl(BIO*, int cmd, long, void*) { return cmd == BIO_CTRL_FLUSH ? 1 : 0; }

  // A copy: callers hand over a lambda that becomes a temporary ContentReader, which a
  // reference would outlive (the address sanitizer caught that on the attached road).
  ContentReader reader_;
  std::exception_ptr error_;
  ossl::BioPtr bio_;
};

// ---- The attached message around a streamed content ------------------------------------------

struct AttachedLayout {
  Bytes head;  // everything before the content's bytes
  Bytes tail;  // everything after them: certificates and signer infos
};

// RFC 5652 sections 5.1 and 5.2: the attached form of a SignedData differs from the detached
// one only by eContent, an [0] EXPLICIT OCTET STRING at the end of encapContentInfo. The signer
// info covers the content's digest and not its encoding, so the detached message is taken
// apart, the content's headers are put in, and every enclosing length grows to match. The
// result is the DER that OpenSSL writes when it holds the whole content.
// `allowance` grows the signer infos' part of the lengths by that many bytes, for a head laid out
// before the signature is made (the tail then stays the one in `der`).
AttachedLayout LayOutAttached(std::string_view der, std::uint64_t content_length,
                              std::uint64_t allowance = 0) {
  const DerItem info = ReadDerItem(der, 0);
  const DerItem type = ReadDerItem(der, info.body());
  const DerItem explicit_data = ReadDerItem(der, type.end());
  const DerItem signed_data = ReadDerItem(der, explicit_data.body());
  if (info.tag != 0x30 || info.end() != der.size() || type.tag != 0x06 ||
      explicit_data.tag != 0xA0 || explicit_data.end() != info.end() || signed_data.tag != 0x30 ||
      signed_data.end() != explicit_data.end())
    LayoutFault();
  const DerItem version = ReadDerItem(der, signed_data.body());
  const DerItem digests = ReadDerItem(der, version.end());
  const DerItem encap = ReadDerItem(der, digests.end());
  const DerItem content_type = ReadDerItem(der, encap.body());
  if (encap.tag != 0x30 || encap.end() > signed_data.end() || content_type.tag != 0x06 ||
      content_type.end() != encap.end())
    LayoutFault();

  const Bytes octets = DerHeader(0x04, content_length);
  const std::uint64_t econtent_length = octets.size() + content_length;
  const Bytes econtent = DerHeader(0xA0, econtent_length);
  const std::uint64_t encap_length = content_type.size() + econtent.size() + econtent_length;
  const Bytes encap_header = DerHeader(0x30, encap_length);
  const std::uint64_t signed_length =
      signed_data.length - encap.size() + encap_header.size() + encap_length + allowance;
  const Bytes signed_header = DerHeader(0x30, signed_length);
  const std::uint64_t explicit_length = signed_header.size() + signed_length;
  const Bytes explicit_header = DerHeader(0xA0, explicit_length);
  const std::uint64_t info_length = type.size() + explicit_header.size() + explicit_length;

  AttachedLayout layout;
  layout.head = DerHeader(0x30, info_length);
  layout.head.append(der.substr(type.at, type.size()));
  layout.head += explicit_header + signed_header;
  layout.head.append(der.substr(version.at, encap.at - version.at));
  layout.head += encap_header;
  layout.head.append(der.substr(content_type.at, content_type.size()));
  layout.head += econtent + octets;
  layout.tail = Bytes(der.substr(encap.end(), signed_data.end() - encap.end()));
  return layout;
}

// The message digest the (one) signer signed, from its signed attributes.
std::string_view SignedDigest(CMS_ContentInfo* cms) {
  STACK_OF(CMS_SignerInfo)* infos = CMS_get0_SignerInfos(cms);
  if (sk_CMS_SignerInfo_num(infos) != 1) LayoutFault();
  const auto* digest = static_cast<const ASN1_OCTET_STRING*>(
      CMS_signed_get0_data_by_OBJ(sk_CMS_SignerInfo_value(infos, 0),
                                  OBJ_nid2obj(NID_pkcs9_messageDigest), -3, V_ASN1_OCTET_STRING));
  if (digest == nullptr) LayoutFault();
  return {reinterpret_cast<const char*>(ASN1_STRING_get0_data(digest)),
          static_cast<std::size_t>(ASN1_STRING_length(digest))};
}

// A digest anyone can collide, or an RSA key anyone can factor: a signature with either is
// no evidence of its signer, so it is refused like a damaged one. SHA-1 is still accepted
// (old files use it); the trust evaluation reports it as weak.
constexpr int kSmallestRsaBits = 1024;

bool BrokenDigest(int nid) {
  return nid == NID_md2 || nid == NID_md4 || nid == NID_md5;
}

// The digest a signer info's signature algorithm names itself (md5WithRSAEncryption), when it
// names one; NID_undef for a bare key algorithm (rsaEncryption, which takes the digest field's).
int SignatureDigestNid(const X509_ALGOR* signature) {
  const ASN1_OBJECT* object = nullptr;
  X509_ALGOR_get0(&object, nullptr, nullptr, signature);
  int digest = NID_undef;
  if (object == nullptr || OBJ_find_sigid_algs(OBJ_obj2nid(object), &digest, nullptr) != 1)
    return NID_undef;
  return digest;
}

void RefuseBrokenAlgorithms(CMS_SignerInfo* si) {
  X509* cert = nullptr;
  X509_ALGOR* digest = nullptr;
  X509_ALGOR* signature = nullptr;
  CMS_SignerInfo_get0_algs(si, nullptr, &cert, &digest, &signature);
  const ASN1_OBJECT* digest_object = nullptr;
  X509_ALGOR_get0(&digest_object, nullptr, nullptr, digest);
  const int digest_nid = digest_object != nullptr ? OBJ_obj2nid(digest_object) : NID_undef;
  if (BrokenDigest(digest_nid) || BrokenDigest(SignatureDigestNid(signature)))
    throw Error::Component(
        hr::kBadSignature,
        std::string("The signature uses the broken digest ") +
            OBJ_nid2sn(BrokenDigest(digest_nid) ? digest_nid : SignatureDigestNid(signature)) +
            ".");
  EVP_PKEY* key = cert != nullptr ? X509_get0_pubkey(cert) : nullptr;
  if (key != nullptr &&
      (EVP_PKEY_get_base_id(key) == EVP_PKEY_RSA ||
       EVP_PKEY_get_base_id(key) == EVP_PKEY_RSA_PSS) &&
      EVP_PKEY_get_bits(key) < kSmallestRsaBits)
    throw Error::Component(hr::kBadSignature, "The signature is made with an RSA key of " +
                                                  std::to_string(EVP_PKEY_get_bits(key)) +
                                                  " bits, which is broken.");
}

int DigestNid(CMS_SignerInfo* si) {
  X509_ALGOR* digest = nullptr;
  CMS_SignerInfo_get0_algs(si, nullptr, nullptr, &digest, nullptr);
  const ASN1_OBJECT* object = nullptr;
  if (digest != nullptr) X509_ALGOR_get0(&object, nullptr, nullptr, digest);
  return object != nullptr ? OBJ_obj2nid(object) : NID_undef;
}

// RFC 5652 section 11.3: signingTime is a UTCTime or a GeneralizedTime; anything else (or a
// time that does not parse) counts as no claim.
std::optional<std::time_t> ClaimedSigningTime(CMS_SignerInfo* si) {
  const int at = CMS_signed_get_attr_by_NID(si, NID_pkcs9_signingTime, -1);
  if (at < 0) return std::nullopt;
  const ASN1_TYPE* value = X509_ATTRIBUTE_get0_type(CMS_signed_get_attr(si, at), 0);
  if (value == nullptr || (value->type != V_ASN1_UTCTIME && value->type != V_ASN1_GENERALIZEDTIME))
    return std::nullopt;
  try {
    return TimeFromAsn1(value->value.utctime);
  } catch (const Error&) {
    return std::nullopt;
  }
}

[[noreturn]] void ContentChanged() {
  throw Error::Component(hr::kHashMismatch, "The content changed while it was being signed.");
}

// A signature over a content still to come: the signer with its signing time and the chain
// except the root, as `flags` (CMS_DETACHED or not) lay it out. CMS_final or CMS_dataFinal
// completes it.
ossl::CmsPtr StartSignature(const Signer& signer, unsigned int flags) {
  // A signer nobody gave a certificate is refused: signing must never pick a key by itself.
  if (!signer.certificate())
    throw Error::Component(hr::kSignerNotFound, "The signer has no certificate.");
  const Certificate& cert = *signer.certificate();
  if (!cert.HasPrivateKey())
    throw Error::Component(kKeysetMissing, "The private key of the certificate is not available.");
  ossl::EnsureProviders();

  ossl::CmsPtr cms(CMS_sign(nullptr, nullptr, nullptr, nullptr, flags));
  if (!cms) ossl::Fail(hr::kFail, "The signed message could not be started.");
  ossl::MdPtr sha256(EVP_MD_fetch(nullptr, kSigningDigest, nullptr));
  CMS_SignerInfo* si =
      sha256 ? CMS_add1_signer(cms.get(), cert.x509(), cert.private_key(), sha256.get(), flags)
             : nullptr;
  if (si == nullptr) ossl::Fail(kKeysetMissing, "The certificate's key cannot sign.");
  for (const auto& attribute : signer.AuthenticatedAttributes())
    if (attribute.name == kAttributeSigningTime) {
      AddSigningTime(si, attribute.value);
      break;
    }
  // OpenSSL adds a signing time of its own when none was given.

  std::vector<Certificate> chain = BuildChain(cert, {});
  std::size_t end = chain.size();
  if (end > 1 && IsSelfIssued(chain.back())) --end;  // the root stays out
  for (std::size_t i = 1; i < end; ++i)
    if (CMS_add1_cert(cms.get(), chain[i].x509()) != 1)
      ossl::Fail(hr::kFail, "The certificate chain could not be added.");

  return cms;
}

}  // namespace

Bytes TimestampMessage(std::string_view message, int encoding, const TimestampAuthority& authority,
                       int& added) {
  if (encoding != kEncodeBase64 && encoding != kEncodeBinary)
    throw Error::Component(hr::kInvalidArg, "The encoding is not valid.");
  ossl::EnsureProviders();
  Bytes der = DecodeMessage(message, hr::kNotSignedMessage);
  const auto* p = reinterpret_cast<const unsigned char*>(der.data());
  ossl::CmsPtr cms(d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(der.size())));
  if (!cms) ossl::Fail(hr::kNotSignedMessage, "The data is not a signed message.");
  if (OBJ_obj2nid(CMS_get0_type(cms.get())) != NID_pkcs7_signed ||
      sk_CMS_SignerInfo_num(CMS_get0_SignerInfos(cms.get())) <= 0)
    throw Error::Component(hr::kBadMessageType, "The message is not a signed message.");
  der.clear();
  added = AddTimestamps(cms.get(), authority, true);
  der = ToDer(cms.get());
  return encoding == kEncodeBase64 ? EncodeBase64Lines(der) : der;
}

void Signer::AddAuthenticatedAttribute(const Attribute& attribute) {
  if (attribute.name != kAttributeSigningTime)
    throw Error::Component(hr::kInvalidArg, "Only the signing time attribute is supported.");
  attributes_.push_back(attribute);
}

Bytes SignedData::Sign(const Signer& signer, bool detached, int encoding) {
  if (encoding != kEncodeBase64 && encoding != kEncodeBinary)
    throw Error::Component(hr::kInvalidArg, "The encoding is not valid.");
  const unsigned int flags =
      CMS_BINARY | CMS_PARTIAL | CMS_NOSMIMECAP | (detached ? CMS_DETACHED : 0);
  ossl::CmsPtr cms = StartSignature(signer, flags);
  ossl::BioPtr data = ossl::MemoryReader(content_);
  if (CMS_final(cms.get(), data.get(), nullptr, flags) != 1)
    ossl::Fail(hr::kFail, "The content could not be signed.");
  if (signer.timestamp_authority()) AddTimestamps(cms.get(), *signer.timestamp_authority());
  Bytes der = ToDer(cms.get());
  return encoding == kEncodeBase64 ? EncodeBase64Lines(der) : der;
}

void SignedData::Verify(const Bytes& message, bool detached) {
  ossl::BioPtr content;
  if (detached) content = DetachedContentReader(content_);
  CheckMessage(message, detached, content.get(), nullptr);
}

void SignedData::VerifyDetached(const Bytes& message, const ContentReader& content) {
  ReaderBio bio(content);
  CheckMessage(message, true, bio.get(), &bio.error());
}

void SignedData::CheckMessage(const Bytes& message, bool detached, BIO* content,
                              const std::exception_ptr* content_error) {
  signers_.clear();
  ossl::EnsureProviders();
  Bytes der = DecodeMessage(message, hr::kNotSignedMessage);
  const auto* p = reinterpret_cast<const unsigned char*>(der.data());
  ossl::CmsPtr cms(d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(der.size())));
  if (!cms) ossl::Fail(hr::kNotSignedMessage, "The data is not a signed message.");
  if (OBJ_obj2nid(CMS_get0_type(cms.get())) != NID_pkcs7_signed)
    throw Error::Component(hr::kBadMessageType, "The message is not a signed message.");
  if (!detached && CMS_is_detached(cms.get()))
    throw Error::Component(hr::kBadMessageType, "The signed message carries no content.");

  // Detached content is only digested; copying it out as well would hold it a second time.
  ossl::BioPtr out;
  if (!detached) {
    out.reset(BIO_new(BIO_s_mem()));
    if (!out) ossl::Fail(hr::kOutOfMemory, "Out of memory.");
  }
  const int verified = CMS_verify(cms.get(), nullptr, nullptr, content, out.get(),
                                  CMS_NO_SIGNER_CERT_VERIFY | CMS_BINARY);
  // A content that could not be read is the reader's failure, not a verdict on the signature.
  if (content_error != nullptr && *content_error) {
    ERR_clear_error();
    std::rethrow_exception(*content_error);
  }
  if (verified != 1) {
    ossl::ErrorQueue errors = ossl::TakeErrors();
    std::int32_t code = DiagnoseFailure(cms.get(), errors);
    ossl::Fail(code, "The signature does not verify.", errors);
  }
  STACK_OF(CMS_SignerInfo)* infos = CMS_get0_SignerInfos(cms.get());
  for (int i = 0; i < sk_CMS_SignerInfo_num(infos); ++i) {
    if (!ContentTypeMatches(cms.get(), sk_CMS_SignerInfo_value(infos, i))) {
      ERR_clear_error();
      throw Error::Component(hr::kBadSignature,
                             "The signed content type does not match the message's content.");
    }
    RefuseBrokenAlgorithms(sk_CMS_SignerInfo_value(infos, i));
  }
  if (!detached) content_ = ossl::MemoryContents(out.get());

  std::vector<Certificate> carried = MessageCertificates(cms.get());
  for (int i = 0; i < sk_CMS_SignerInfo_num(infos); ++i) {
    CMS_SignerInfo* si = sk_CMS_SignerInfo_value(infos, i);
    X509* signer_cert = nullptr;
    CMS_SignerInfo_get0_algs(si, nullptr, &signer_cert, nullptr, nullptr);
    Certificate cert = Certificate::FromShared(signer_cert);
    signers_.emplace_back(cert, BuildChain(cert, carried),
                          SignerFacts{DigestNid(si), ClaimedSigningTime(si), carried,
                                      SignatureValue(si), TimestampTokenOf(si)});
  }
  ERR_clear_error();
}

namespace {

// What CMS_final does for a signature StartSignature began, with the content written into the
// digest in large pieces (each also handed to `also`, when given) and a read failure raised as
// it is (CMS_final's copy loop takes a failed read for the end). Timestamps the signature when
// the signer has an authority. Returns the content's length.
std::uint64_t SignContent(CMS_ContentInfo* cms, const Signer& signer, const ContentReader& content,
                          const ByteSink* also) {
  ossl::BioPtr chain(CMS_dataInit(cms, nullptr));
  if (!chain) ossl::Fail(hr::kFail, "The content could not be signed.");
  Bytes buffer(kStreamChunk, '\0');
  std::uint64_t length = 0;
  for (std::size_t n; (n = content(buffer.data(), buffer.size())) > 0; length += n) {
    if (BIO_write(chain.get(), buffer.data(), static_cast<int>(n)) != static_cast<int>(n))
      ossl::Fail(hr::kFail, "The content could not be signed.");
    if (also != nullptr) (*also)(std::string_view(buffer.data(), n));
  }
  (void)BIO_flush(chain.get());
  if (CMS_dataFinal(cms, chain.get()) != 1)
    ossl::Fail(hr::kFail, "The content could not be signed.");
  // Before the message takes its final form: the attached layout is laid out from this one.
  if (signer.timestamp_authority()) AddTimestamps(cms, *signer.timestamp_authority());
  return length;
}

// Room in a head laid out before the signature is made for what signing adds to the signer
// info: the signature (up to 512 bytes, an RSA key of 4096 bits) and the content-type and
// digest attributes. Only where the message's length crosses a power of 256 within this room
// does the head come out another size.
constexpr std::uint64_t kSignatureAllowance = 512 + 128;

// A line of Base64 text holds 48 bytes.
constexpr std::size_t kBase64LineBytes = 48;

// An attached message handed out as it is made, with its first bytes kept so that the head
// can be put right once the signature is known: in Base64 the lines that hold the head are
// encoded again (the head's bytes and what follows them up to the end of their last line).
class MessageStart {
 public:
  MessageStart(int encoding, const ByteSink& append, std::size_t head_size)
      : append_(append),
        keep_((head_size + kBase64LineBytes - 1) / kBase64LineBytes * kBase64LineBytes) {
    if (encoding == kEncodeBase64) base64_.emplace(append);
  }

  void Put(std::string_view bytes) {
    if (first_.size() < keep_) first_.append(bytes.substr(0, keep_ - first_.size()));
    if (base64_)
      base64_->Write(bytes);
    else
      append_(bytes);
  }

  // Ends the message and hands `replace_start` its first bytes as they are with `head`.
  void Finish(const Bytes& head, const ByteSink& replace_start) {
    if (base64_) base64_->Finish();
    first_.replace(0, head.size(), head);
    replace_start(base64_ ? EncodeBase64Lines(first_) : head);
  }

 private:
  const ByteSink& append_;
  std::size_t keep_;
  Bytes first_;
  std::optional<Base64LineWriter> base64_;
};

}  // namespace

StreamSignature SignedData::SignStream(const Signer& signer, const ContentReader& content) {
  const unsigned int flags = CMS_BINARY | CMS_PARTIAL | CMS_NOSMIMECAP | CMS_DETACHED;
  ossl::CmsPtr cms = StartSignature(signer, flags);
  const std::uint64_t length = SignContent(cms.get(), signer, content, nullptr);
  return StreamSignature(std::move(cms), length);
}

StreamSignature SignedData::SignAttached(const Signer& signer, const ContentReader& content,
                                         std::uint64_t expected_length, int encoding,
                                         const ByteSink& append, const ByteSink& replace_start,
                                         bool& written) {
  if (encoding != kEncodeBase64 && encoding != kEncodeBinary)
    throw Error::Component(hr::kInvalidArg, "The encoding is not valid.");
  const unsigned int flags = CMS_BINARY | CMS_PARTIAL | CMS_NOSMIMECAP | CMS_DETACHED;
  ossl::CmsPtr cms = StartSignature(signer, flags);
  // The head as it most likely comes out: the message as it stands (no signature yet) with room
  // for what signing adds.
  const AttachedLayout guess =
      LayOutAttached(ToDer(cms.get()), expected_length, kSignatureAllowance);
  MessageStart out(encoding, append, guess.head.size());
  out.Put(guess.head);
  const ByteSink content_out = [&out](std::string_view bytes) { out.Put(bytes); };
  const std::uint64_t length = SignContent(cms.get(), signer, content, &content_out);
  const AttachedLayout layout = LayOutAttached(ToDer(cms.get()), length);
  written = layout.head.size() == guess.head.size();
  if (written) {
    out.Put(layout.tail);
    out.Finish(layout.head, replace_start);
  }
  return StreamSignature(std::move(cms), length);
}

Bytes StreamSignature::DetachedMessage(int encoding) const {
  if (encoding != kEncodeBase64 && encoding != kEncodeBinary)
    throw Error::Component(hr::kInvalidArg, "The encoding is not valid.");
  Bytes der = ToDer(cms_.get());
  return encoding == kEncodeBase64 ? EncodeBase64Lines(der) : der;
}

std::uint64_t StreamSignature::AttachedLength() const {
  const AttachedLayout layout = LayOutAttached(ToDer(cms_.get()), content_length_);
  return layout.head.size() + content_length_ + layout.tail.size();
}

void StreamSignature::WriteAttachedMessage(int encoding, const ContentReader& content,
                                           const ByteSink& sink, bool units) const {
  if (encoding != kEncodeBase64 && encoding != kEncodeBinary)
    throw Error::Component(hr::kInvalidArg, "The encoding is not valid.");
  const AttachedLayout layout = LayOutAttached(ToDer(cms_.get()), content_length_);
  const std::string_view signed_digest = SignedDigest(cms_.get());

  // The second reading is digested again: a file that changed between the two readings would
  // otherwise be carried with a signature over other bytes.
  ossl::MdPtr md(EVP_MD_fetch(nullptr, kSigningDigest, nullptr));
  ossl::MdCtxPtr digest(EVP_MD_CTX_new());
  if (!md || !digest || EVP_DigestInit_ex(digest.get(), md.get(), nullptr) != 1)
    ossl::Fail(hr::kFail, "The content could not be digested.");

  std::optional<Base64LineWriter> base64;
  if (encoding == kEncodeBase64) base64.emplace(sink, units);
  auto put = [&](std::string_view bytes) {
    if (base64)
      base64->Write(bytes);
    else
      sink(bytes);
  };
  put(layout.head);
  Bytes buffer(kStreamChunk, '\0');
  std::uint64_t length = 0;
  for (std::size_t n; (n = content(buffer.data(), buffer.size())) > 0;) {
    length += n;
    if (length > content_length_) ContentChanged();
    if (EVP_DigestUpdate(digest.get(), buffer.data(), n) != 1)
      ossl::Fail(hr::kFail, "The content could not be digested.");
    put(std::string_view(buffer.data(), n));
  }
  unsigned char value[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (EVP_DigestFinal_ex(digest.get(), value, &size) != 1)
    ossl::Fail(hr::kFail, "The content could not be digested.");
  if (length != content_length_ ||
      signed_digest != std::string_view(reinterpret_cast<const char*>(value), size))
    ContentChanged();
  put(layout.tail);
  if (base64) base64->Finish();
}

}  // namespace vellum::crypto
