#include "library/crypto/timestamp.h"

#include <openssl/err.h>
#include <openssl/rand.h>

#include <cstdlib>
#include <cstring>

#include "library/crypto/certificate.h"
#include "library/platform/error.h"

namespace vellum::crypto {
namespace {

// An authority's free text is shown to people; a long one is cut.
constexpr std::size_t kLongestStatusText = 200;

[[noreturn]] void BadAnswer(const std::string& why) {
  ERR_clear_error();
  throw Error::Component(kTimestampBadAnswer, why);
}

std::optional<long> Seconds(const char* text) {
  if (text == nullptr || *text == '\0') return std::nullopt;
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (*end != '\0' || value < 1 || value > kLongestTimeoutSeconds) return std::nullopt;
  return value;
}

Bytes Sha256(std::string_view data) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(data.data(), data.size(), digest, &length, EVP_sha256(), nullptr) != 1)
    ossl::Fail(hr::kFail, "The signature could not be digested.");
  return Bytes(reinterpret_cast<char*>(digest), length);
}

std::string_view View(const ASN1_STRING* s) {
  return {reinterpret_cast<const char*>(ASN1_STRING_get0_data(s)),
          static_cast<std::size_t>(ASN1_STRING_length(s))};
}

// The request: version 1, the SHA-256 imprint, our nonce, and the authority's certificate asked
// for so that the token can be checked without looking for it elsewhere.
Bytes Query(std::string_view imprint, const ASN1_INTEGER* nonce) {
  ossl::TsReqPtr request(TS_REQ_new());
  ossl::TsMsgImprintPtr message(TS_MSG_IMPRINT_new());
  ossl::X509AlgorPtr algorithm(X509_ALGOR_new());
  if (!request || !message || !algorithm ||
      X509_ALGOR_set0(algorithm.get(), OBJ_nid2obj(NID_sha256), V_ASN1_NULL, nullptr) != 1 ||
      TS_MSG_IMPRINT_set_algo(message.get(), algorithm.get()) != 1 ||
      TS_MSG_IMPRINT_set_msg(message.get(),
                             reinterpret_cast<unsigned char*>(const_cast<char*>(imprint.data())),
                             static_cast<int>(imprint.size())) != 1 ||
      TS_REQ_set_version(request.get(), 1) != 1 ||
      TS_REQ_set_msg_imprint(request.get(), message.get()) != 1 ||
      TS_REQ_set_nonce(request.get(), nonce) != 1 || TS_REQ_set_cert_req(request.get(), 1) != 1)
    ossl::Fail(hr::kOutOfMemory, "The timestamp request could not be built.");
  unsigned char* raw = nullptr;
  const int length = i2d_TS_REQ(request.get(), &raw);
  if (length <= 0) ossl::Fail(hr::kFail, "The timestamp request could not be encoded.");
  ossl::OpensslBytes owned(raw);
  return Bytes(reinterpret_cast<char*>(raw), static_cast<std::size_t>(length));
}

ossl::Asn1IntegerPtr FreshNonce() {
  unsigned char bytes[8];
  if (RAND_bytes(bytes, sizeof bytes) != 1) ossl::Fail(hr::kFail, "No random nonce.");
  ossl::BignumPtr number(BN_bin2bn(bytes, sizeof bytes, nullptr));
  ossl::Asn1IntegerPtr nonce(number ? BN_to_ASN1_INTEGER(number.get(), nullptr) : nullptr);
  if (!nonce) ossl::Fail(hr::kOutOfMemory, "Out of memory.");
  return nonce;
}

// RFC 3161 section 2.4.2 PKIStatus.
std::string StatusName(long status) {
  switch (status) {
    case 2:
      return "rejection";
    case 3:
      return "waiting";
    case 4:
      return "revocation warning";
    case 5:
      return "revocation notification";
    default:
      return "status " + std::to_string(status);
  }
}

std::string StatusText(const TS_STATUS_INFO* info) {
  std::string text;
  const STACK_OF(ASN1_UTF8STRING)* lines = TS_STATUS_INFO_get0_text(info);
  for (int i = 0; lines != nullptr && i < sk_ASN1_UTF8STRING_num(lines); ++i) {
    if (!text.empty()) text += "; ";
    text += View(sk_ASN1_UTF8STRING_value(lines, i));
  }
  if (text.size() > kLongestStatusText) text = text.substr(0, kLongestStatusText) + "...";
  return text;
}

// The token of an answer that grants our request, as DER.
Bytes GrantedToken(std::string_view body, const ASN1_INTEGER* nonce, std::string_view imprint) {
  const auto* p = reinterpret_cast<const unsigned char*>(body.data());
  ossl::TsRespPtr answer(d2i_TS_RESP(nullptr, &p, static_cast<long>(body.size())));
  if (!answer || p != reinterpret_cast<const unsigned char*>(body.data()) + body.size())
    BadAnswer("The time-stamping authority's answer is no timestamp response.");
  const TS_STATUS_INFO* info = TS_RESP_get_status_info(answer.get());
  const long status = ASN1_INTEGER_get(TS_STATUS_INFO_get0_status(info));
  // RFC 3161 section 2.4.2: granted (0) and grantedWithMods (1) carry a token.
  if (status != 0 && status != 1) {
    const std::string text = StatusText(info);
    BadAnswer("The time-stamping authority refused the request (" + StatusName(status) +
              (text.empty() ? "" : ": " + text) + ").");
  }
  PKCS7* token = TS_RESP_get_token(answer.get());
  TS_TST_INFO* tst = TS_RESP_get_tst_info(answer.get());
  if (token == nullptr || tst == nullptr)
    BadAnswer("The time-stamping authority granted the request but sent no token.");
  const ASN1_INTEGER* answered_nonce = TS_TST_INFO_get_nonce(tst);
  if (answered_nonce == nullptr || ASN1_INTEGER_cmp(answered_nonce, nonce) != 0)
    BadAnswer("The time-stamping authority's token is for another request (the nonce differs).");
  TS_MSG_IMPRINT* message = TS_TST_INFO_get_msg_imprint(tst);
  const X509_ALGOR* algorithm = TS_MSG_IMPRINT_get_algo(message);
  const ASN1_OBJECT* object = nullptr;
  X509_ALGOR_get0(&object, nullptr, nullptr, algorithm);
  if (OBJ_obj2nid(object) != NID_sha256 || View(TS_MSG_IMPRINT_get_msg(message)) != imprint)
    BadAnswer("The time-stamping authority's token is over another signature.");
  unsigned char* raw = nullptr;
  const int length = i2d_PKCS7(token, &raw);
  if (length <= 0) ossl::Fail(hr::kFail, "The timestamp token could not be encoded.");
  ossl::OpensslBytes owned(raw);
  ERR_clear_error();
  return Bytes(reinterpret_cast<char*>(raw), static_cast<std::size_t>(length));
}

int ImprintDigestNid(TS_TST_INFO* tst) {
  const ASN1_OBJECT* object = nullptr;
  X509_ALGOR_get0(&object, nullptr, nullptr,
                  TS_MSG_IMPRINT_get_algo(TS_TST_INFO_get_msg_imprint(tst)));
  return object != nullptr ? OBJ_obj2nid(object) : NID_undef;
}

// The imprint must be a SHA-2 digest of the signature value; a token over a broken or unknown
// digest proves nothing about which signature it covers.
bool ImprintMatches(TS_TST_INFO* tst, std::string_view signature_value) {
  const int nid = ImprintDigestNid(tst);
  if (nid != NID_sha224 && nid != NID_sha256 && nid != NID_sha384 && nid != NID_sha512)
    return false;
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(signature_value.data(), signature_value.size(), digest, &length,
                 EVP_get_digestbynid(nid), nullptr) != 1)
    return false;
  return View(TS_MSG_IMPRINT_get_msg(TS_TST_INFO_get_msg_imprint(tst))) ==
         std::string_view(reinterpret_cast<char*>(digest), length);
}

// The authority's chain to an anchor at the token's time, with the time-stamping purpose (RFC
// 3161 section 2.3: an extended key usage of timeStamping alone, critical). Empty when it holds,
// else why not; `anchor` gets the subject of the anchor it reached.
std::string ChainFailure(PKCS7* token, X509* authority, X509_STORE* anchors,
                         STACK_OF(X509) * intermediates, std::string& anchor) {
  ossl::X509BorrowedStackPtr untrusted(sk_X509_new_null());
  if (!untrusted) ossl::Fail(hr::kOutOfMemory, "Out of memory.");
  for (STACK_OF(X509) * list : {intermediates, token->d.sign->cert})
    for (int i = 0; list != nullptr && i < sk_X509_num(list); ++i)
      if (sk_X509_push(untrusted.get(), sk_X509_value(list, i)) <= 0)
        ossl::Fail(hr::kOutOfMemory, "Out of memory.");
  ossl::X509StoreCtxPtr ctx(X509_STORE_CTX_new());
  if (!ctx || X509_STORE_CTX_init(ctx.get(), anchors, authority, untrusted.get()) != 1)
    ossl::Fail(hr::kOutOfMemory, "Out of memory.");
  X509_STORE_CTX_set_purpose(ctx.get(), X509_PURPOSE_TIMESTAMP_SIGN);
  if (X509_verify_cert(ctx.get()) == 1) {
    STACK_OF(X509)* chain = X509_STORE_CTX_get0_chain(ctx.get());
    anchor = FormatName(X509_get_subject_name(sk_X509_value(chain, sk_X509_num(chain) - 1)));
    return {};
  }
  const int error = X509_STORE_CTX_get_error(ctx.get());
  X509* at = X509_STORE_CTX_get_current_cert(ctx.get());
  ERR_clear_error();
  if (error == X509_V_ERR_INVALID_PURPOSE)
    return "the certificate of " +
           (at != nullptr ? FormatName(X509_get_subject_name(at)) : std::string("the authority")) +
           " may not sign timestamps";
  return std::string("the authority is not trusted: ") + X509_verify_cert_error_string(error);
}

}  // namespace

bool IsTimestampFailure(std::int32_t code) {
  return code == kTimestampUnreachable || code == kTimestampTimeout || code == kTimestampBadUrl ||
         code == kTimestampBadAnswer;
}

std::optional<TimestampAuthority> ConfiguredAuthority(const SettingReader& setting) {
  TimestampAuthority authority;
  if (const char* url = std::getenv("VELLUM_TSA_URL"))
    authority.url = url;
  else
    authority.url = setting("Url").value_or("");
  if (authority.url.empty()) return std::nullopt;
  std::optional<long> timeout = Seconds(std::getenv("VELLUM_TSA_TIMEOUT"));
  if (!timeout)
    if (auto text = setting("Timeout")) timeout = Seconds(text->c_str());
  authority.timeout_seconds = timeout.value_or(kDefaultTimeoutSeconds);
  return authority;
}

Bytes RequestTimestamp(const TimestampAuthority& authority, std::string_view signature_value) {
  ossl::EnsureProviders();
  const Bytes imprint = Sha256(signature_value);
  const ossl::Asn1IntegerPtr nonce = FreshNonce();
  const Bytes answer = PostTimestampQuery(authority, Query(imprint, nonce.get()));
  return GrantedToken(answer, nonce.get(), imprint);
}

Bytes SignatureValue(CMS_SignerInfo* si) {
  ASN1_OCTET_STRING* value = CMS_SignerInfo_get0_signature(si);
  return value != nullptr ? Bytes(View(value)) : Bytes();
}

std::optional<Bytes> TimestampTokenOf(CMS_SignerInfo* si) {
  const int at = CMS_unsigned_get_attr_by_NID(si, NID_id_smime_aa_timeStampToken, -1);
  if (at < 0) return std::nullopt;
  const ASN1_TYPE* value = X509_ATTRIBUTE_get0_type(CMS_unsigned_get_attr(si, at), 0);
  if (value == nullptr || value->type != V_ASN1_SEQUENCE) return Bytes();
  return Bytes(View(value->value.sequence));
}

int AddTimestamps(CMS_ContentInfo* cms, const TimestampAuthority& authority, bool only_missing) {
  STACK_OF(CMS_SignerInfo)* infos = CMS_get0_SignerInfos(cms);
  int added = 0;
  for (int i = 0; i < sk_CMS_SignerInfo_num(infos); ++i) {
    CMS_SignerInfo* si = sk_CMS_SignerInfo_value(infos, i);
    if (only_missing && TimestampTokenOf(si)) continue;
    const Bytes token = RequestTimestamp(authority, SignatureValue(si));
    // RFC 3161 appendix A: the token is the attribute's value, a ContentInfo; as a SEQUENCE
    // its DER is carried as it is.
    if (CMS_unsigned_add1_attr_by_NID(si, NID_id_smime_aa_timeStampToken, V_ASN1_SEQUENCE,
                                      token.data(), static_cast<int>(token.size())) != 1)
      ossl::Fail(hr::kFail, "The timestamp could not be added to the signature.");
    ++added;
  }
  return added;
}

TimestampCheck CheckTimestamp(std::string_view token_der, std::string_view signature_value,
                              X509_STORE* anchors, STACK_OF(X509) * intermediates) {
  TimestampCheck out;
  out.authority = "an unknown authority";
  const auto* p = reinterpret_cast<const unsigned char*>(token_der.data());
  ossl::Pkcs7Ptr token(d2i_PKCS7(nullptr, &p, static_cast<long>(token_der.size())));
  ossl::TsTstInfoPtr tst(token ? PKCS7_to_TS_TST_INFO(token.get()) : nullptr);
  if (!tst || p != reinterpret_cast<const unsigned char*>(token_der.data()) + token_der.size()) {
    ERR_clear_error();
    out.reason = "the token cannot be read";
    return out;
  }
  try {
    out.time = TimeFromAsn1(TS_TST_INFO_get_time(tst.get()));
  } catch (const Error&) {
    out.reason = "the token's time cannot be read";
    return out;
  }
  ossl::X509BorrowedStackPtr signers(PKCS7_get0_signers(token.get(), intermediates, 0));
  ERR_clear_error();
  if (!signers || sk_X509_num(signers.get()) != 1) {
    out.reason = "the token names no one authority's certificate";
    return out;
  }
  X509* authority = sk_X509_value(signers.get(), 0);
  out.authority = FormatName(X509_get_subject_name(authority));

  if (!ImprintMatches(tst.get(), signature_value)) {
    out.reason = "the token is over another signature";
    return out;
  }
  // The authority's certificate is judged at the time it vouches for: a token stays evidence
  // after the authority's certificate has expired.
  X509_VERIFY_PARAM_set_time(X509_STORE_get0_param(anchors), *out.time);
  std::string anchor;
  if (std::string why = ChainFailure(token.get(), authority, anchors, intermediates, anchor);
      !why.empty()) {
    out.reason = why;
    return out;
  }
  // The chain again, the ESS signing-certificate attribute and the signature over the content.
  if (TS_RESP_verify_signature(token.get(), intermediates, anchors, nullptr) != 1) {
    const ossl::ErrorQueue errors = ossl::TakeErrors();
    out.reason = errors.Has(ERR_LIB_TS, TS_R_ESS_SIGNING_CERTIFICATE_ERROR)
                     ? "the token names another certificate than the one that signed it"
                     : "the token's signature does not verify";
    return out;
  }
  out.trusted = true;
  out.reason = anchor;
  ERR_clear_error();
  return out;
}

}  // namespace vellum::crypto
