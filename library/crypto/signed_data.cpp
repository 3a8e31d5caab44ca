#include "library/crypto/signed_data.h"

#include <openssl/err.h>

#include "library/crypto/chain.h"
#include "library/crypto/codec.h"
#include "library/platform/error.h"

namespace vellum::crypto {
namespace {

// NTE_BAD_KEYSET: the original platform's answer for a certificate whose key is not there.
constexpr std::int32_t kKeysetMissing = static_cast<std::int32_t>(0x80090016);

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

}  // namespace

void Signer::AddAuthenticatedAttribute(const Attribute& attribute) {
  if (attribute.name != kAttributeSigningTime)
    throw Error::Component(hr::kInvalidArg, "Only the signing time attribute is supported.");
  attributes_.push_back(attribute);
}

Bytes SignedData::Sign(const Signer& signer, bool detached, int encoding) {
  if (encoding != kEncodeBase64 && encoding != kEncodeBinary)
    throw Error::Component(hr::kInvalidArg, "The encoding is not valid.");
  // A signer nobody gave a certificate is refused: signing must never pick a key by itself.
  if (!signer.certificate())
    throw Error::Component(hr::kSignerNotFound, "The signer has no certificate.");
  const Certificate& cert = *signer.certificate();
  if (!cert.HasPrivateKey())
    throw Error::Component(kKeysetMissing, "The private key of the certificate is not available.");
  ossl::EnsureProviders();

  unsigned int flags = CMS_BINARY | CMS_PARTIAL | CMS_NOSMIMECAP | (detached ? CMS_DETACHED : 0);
  ossl::CmsPtr cms(CMS_sign(nullptr, nullptr, nullptr, nullptr, flags));
  if (!cms) ossl::Fail(hr::kFail, "The signed message could not be started.");
  ossl::MdPtr sha256(EVP_MD_fetch(nullptr, "SHA2-256", nullptr));
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

  ossl::BioPtr data = ossl::MemoryReader(content_);
  if (CMS_final(cms.get(), data.get(), nullptr, flags) != 1)
    ossl::Fail(hr::kFail, "The content could not be signed.");
  Bytes der = ToDer(cms.get());
  return encoding == kEncodeBase64 ? EncodeBase64Lines(der) : der;
}

void SignedData::Verify(const Bytes& message, bool detached) {
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

  ossl::BioPtr content;
  if (detached) content = ossl::MemoryReader(content_);
  ossl::BioPtr out(BIO_new(BIO_s_mem()));
  if (!out) ossl::Fail(hr::kOutOfMemory, "Out of memory.");
  if (CMS_verify(cms.get(), nullptr, nullptr, content.get(), out.get(),
                 CMS_NO_SIGNER_CERT_VERIFY | CMS_BINARY) != 1) {
    ossl::ErrorQueue errors = ossl::TakeErrors();
    std::int32_t code = DiagnoseFailure(cms.get(), errors);
    ossl::Fail(code, "The signature does not verify.", errors);
  }
  STACK_OF(CMS_SignerInfo)* infos = CMS_get0_SignerInfos(cms.get());
  for (int i = 0; i < sk_CMS_SignerInfo_num(infos); ++i)
    if (!ContentTypeMatches(cms.get(), sk_CMS_SignerInfo_value(infos, i))) {
      ERR_clear_error();
      throw Error::Component(hr::kBadSignature,
                             "The signed content type does not match the message's content.");
    }
  if (!detached) content_ = ossl::MemoryContents(out.get());

  std::vector<Certificate> carried = MessageCertificates(cms.get());
  for (int i = 0; i < sk_CMS_SignerInfo_num(infos); ++i) {
    X509* signer_cert = nullptr;
    CMS_SignerInfo_get0_algs(sk_CMS_SignerInfo_value(infos, i), nullptr, &signer_cert, nullptr,
                             nullptr);
    Certificate cert = Certificate::FromShared(signer_cert);
    signers_.emplace_back(cert, BuildChain(cert, carried));
  }
  ERR_clear_error();
}

}  // namespace vellum::crypto
