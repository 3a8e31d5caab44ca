// RFC 3161 timestamps against a real authority the tests start (openssl ts -reply behind a small
// HTTP server on 127.0.0.1): asking for a token and checking the answer, carrying it in the
// signer info, and the trust evaluation of a signer with a token (the authority's chain, the
// imprint, a damaged token, and an expired signer kept valid by its timestamp).
#include <gtest/gtest.h>

#include <openssl/cms.h>

#include <cstring>
#include <functional>
#include <map>

#include "library/crypto/signed_data.h"
#include "library/crypto/timestamp.h"
#include "library/crypto/trust.h"
#include "tests/crypto/expect_error.h"
#include "tests/support/test_pki.h"
#include "tests/support/test_tsa.h"

namespace vellum::crypto {
namespace {

using testing::CertOptions;
using testing::kDay;
using testing::PutInStore;
using testing::StoreFormat;
using testing::TestCert;

const Bytes kContent = "kept for ten years";

class TimestampTest : public ::testing::Test {
 public:
  static void SetUpTestSuite() {
    folder_ = new testing::TempFolder();  // NOLINT(cppcoreguidelines-owning-memory): suite-wide
    tsa_ = new testing::TestTsa(folder_->path(), 3);        // NOLINT
    pki_ = new testing::TestPki(testing::TestPki::Make());  // NOLINT
  }
  static void TearDownTestSuite() {
    delete pki_;     // NOLINT(cppcoreguidelines-owning-memory)
    delete tsa_;     // NOLINT(cppcoreguidelines-owning-memory)
    delete folder_;  // NOLINT(cppcoreguidelines-owning-memory)
  }

 protected:
  static TimestampAuthority Authority(const std::string& mode, long timeout = 10) {
    return {tsa_->Url(mode), timeout};
  }
  static Signer SignerOf(const TestCert& cert, std::optional<TimestampAuthority> authority) {
    Signer signer;
    signer.SetCertificate(cert.ToCertificate());
    signer.SetTimestampAuthority(std::move(authority));
    return signer;
  }
  // An attached DER message over kContent by `cert`, timestamped by `mode` when given.
  static Bytes Signed(const TestCert& cert, const char* mode = "ok") {
    SignedData data;
    data.SetContent(kContent);
    return data.Sign(SignerOf(cert, mode ? std::optional(Authority(mode)) : std::nullopt), false,
                     kEncodeBinary);
  }
  static MessageSigner FirstSigner(const Bytes& message) {
    SignedData data;
    data.Verify(message, false);
    return data.Signers().at(0);
  }
  static SignerTrust Evaluate(const Bytes& message, std::time_t when = std::time(nullptr),
                              const TrustSources& sources = {}) {
    return TrustEvaluator(sources).Evaluate(FirstSigner(message), when);
  }
  void AnchorBoth() {
    PutInStore("Root", pki_->root, StoreFormat::kPemNoKey);
    PutInStore("Root", tsa_->root(), StoreFormat::kPemNoKey);
  }

  testing::TempFolder stores_;
  testing::ScopedStoreRoot root_{stores_.path()};
  testing::TempFolder work_;
  static testing::TempFolder* folder_;
  static testing::TestTsa* tsa_;
  static testing::TestPki* pki_;
};

testing::TempFolder* TimestampTest::folder_ = nullptr;
testing::TestTsa* TimestampTest::tsa_ = nullptr;
testing::TestPki* TimestampTest::pki_ = nullptr;

// The message with its first signer's token changed by `change` (a byte flipped, another
// token put in its place).
Bytes WithToken(const Bytes& der, const std::function<void(Bytes&)>& change) {
  const auto* p = reinterpret_cast<const unsigned char*>(der.data());
  ossl::CmsPtr cms(d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(der.size())));
  CMS_SignerInfo* si = sk_CMS_SignerInfo_value(CMS_get0_SignerInfos(cms.get()), 0);
  Bytes token = TimestampTokenOf(si).value();
  change(token);
  const int at = CMS_unsigned_get_attr_by_NID(si, NID_id_smime_aa_timeStampToken, -1);
  ossl::X509AttributePtr old(CMS_unsigned_delete_attr(si, at));
  EXPECT_EQ(CMS_unsigned_add1_attr_by_NID(si, NID_id_smime_aa_timeStampToken, V_ASN1_SEQUENCE,
                                          token.data(), static_cast<int>(token.size())),
            1);
  unsigned char* raw = nullptr;
  const int length = i2d_CMS_ContentInfo(cms.get(), &raw);
  ossl::OpensslBytes owned(raw);
  return Bytes(reinterpret_cast<char*>(raw), static_cast<std::size_t>(length));
}

// ---- Asking an authority -------------------------------------------------------------------

struct AnswerCase {
  const char* mode;  // the server's behaviour (tsa_server.py)
  std::int32_t code;
  const char* description_part;
};

// Each way an authority can fail signing: with its code and a reason a person can act on.
TEST_F(TimestampTest, AnswersThatAreNoTimestampForUsAreRefused) {
  const AnswerCase cases[] = {
      {"http-error", kTimestampUnreachable, "answered HTTP status 500"},
      {"rejection", kTimestampBadAnswer, "refused the request (rejection: no policy)"},
      {"garbage", kTimestampBadAnswer, "no timestamp response"},
      {"large", kTimestampBadAnswer, "larger than 256 KiB"},
      {"other-imprint", kTimestampBadAnswer, "over another signature"},
      {"other-nonce", kTimestampBadAnswer, "the nonce differs"},
      {"redirect-ftp", kTimestampUnreachable, "no http or https URL"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    try {
      (void)RequestTimestamp(Authority(c.mode), "a signature value");
      ADD_FAILURE() << "no error";
    } catch (const Error& e) {
      EXPECT_EQ(testing::Hex32(e.number()), testing::Hex32(c.code)) << e.description();
      EXPECT_NE(e.description().find(c.description_part), std::string::npos) << e.description();
      EXPECT_TRUE(IsTimestampFailure(e.number()));
    }
  }
}

TEST_F(TimestampTest, AddressesAndTimeLimits) {
  // Not http or https: refused before anything is sent.
  for (const char* url : {"ftp://127.0.0.1/", "file:///etc/passwd", "127.0.0.1:80", ""}) {
    SCOPED_TRACE(url);
    EXPECT_HRESULT(kTimestampBadUrl, (void)RequestTimestamp({url, 5}, "value"));
  }
  // A slow authority: the time limit ends the exchange (the server waits 3 s, we 1 s).
  EXPECT_HRESULT(kTimestampTimeout, (void)RequestTimestamp(Authority("slow", 1), "value"));
  // Nobody listening.
  EXPECT_HRESULT(kTimestampUnreachable, (void)RequestTimestamp({"http://127.0.0.1:1/", 5}, "v"));
  // A redirect to http is followed, the query posted again.
  EXPECT_FALSE(RequestTimestamp(Authority("redirect"), "value").empty());
}

// Where signing finds its authority: the environment before the user's settings; a time limit
// out of range counts as none given.
TEST_F(TimestampTest, TheConfiguredAuthority) {
  struct Case {
    const char* why;
    std::optional<std::string> url;      // VELLUM_TSA_URL
    std::optional<std::string> timeout;  // VELLUM_TSA_TIMEOUT
    std::map<std::string, std::string> settings;
    std::optional<std::string> expected_url;
    long expected_timeout;
  };
  const Case cases[] = {
      {"nothing set", std::nullopt, std::nullopt, {}, std::nullopt, 0},
      {"the environment",
       "http://a.example/",
       std::nullopt,
       {},
       "http://a.example/",
       kDefaultTimeoutSeconds},
      {"the settings",
       std::nullopt,
       std::nullopt,
       {{"Url", "https://b.example/"}, {"Timeout", "7"}},
       "https://b.example/",
       7},
      {"the environment first",
       "http://a.example/",
       "9",
       {{"Url", "https://b.example/"}, {"Timeout", "7"}},
       "http://a.example/",
       9},
      {"an empty variable means none",
       "",
       std::nullopt,
       {{"Url", "https://b.example/"}},
       std::nullopt,
       0},
      {"a time limit out of range",
       std::nullopt,
       "0",
       {{"Url", "https://b.example/"}, {"Timeout", "601"}},
       "https://b.example/",
       kDefaultTimeoutSeconds},
      {"a time limit that is no number",
       std::nullopt,
       "5s",
       {{"Url", "https://b.example/"}},
       "https://b.example/",
       kDefaultTimeoutSeconds},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    testing::ScopedEnv url("VELLUM_TSA_URL", c.url);
    testing::ScopedEnv timeout("VELLUM_TSA_TIMEOUT", c.timeout);
    const auto authority = ConfiguredAuthority([&c](std::string_view name) {
      auto found = c.settings.find(std::string(name));
      return found == c.settings.end() ? std::nullopt : std::optional(found->second);
    });
    ASSERT_EQ(authority.has_value(), c.expected_url.has_value());
    if (!authority) continue;
    EXPECT_EQ(authority->url, *c.expected_url);
    EXPECT_EQ(authority->timeout_seconds, c.expected_timeout);
  }
}

// ---- The token in the message ----------------------------------------------------------------

TEST_F(TimestampTest, EverySigningPathCarriesTheTokenAndStandardToolsReadIt) {
  const TestCert& signer = pki_->signer;
  // Whole, and streamed in both layouts.
  SignedData whole;
  whole.SetContent(kContent);
  const Bytes attached = whole.Sign(SignerOf(signer, Authority("ok")), false, kEncodeBinary);
  SignedData streamed;
  Bytes rest = kContent;
  StreamSignature stream = streamed.SignStream(
      SignerOf(signer, Authority("ok")), [&rest](char* buffer, std::size_t capacity) {
        const std::size_t n = std::min(capacity, rest.size());
        std::memcpy(buffer, rest.data(), n);
        rest.erase(0, n);
        return n;
      });
  const Bytes detached = stream.DetachedMessage(kEncodeBinary);
  Bytes streamed_attached;
  Bytes again = kContent;
  stream.WriteAttachedMessage(
      kEncodeBinary,
      [&again](char* buffer, std::size_t capacity) {
        const std::size_t n = std::min(capacity, again.size());
        std::memcpy(buffer, again.data(), n);
        again.erase(0, n);
        return n;
      },
      [&streamed_attached](std::string_view bytes) { streamed_attached.append(bytes); });

  struct Message {
    const char* why;
    Bytes der;
    bool detached;
  };
  for (const Message& m :
       {Message{"whole attached", attached, false}, Message{"streamed detached", detached, true},
        Message{"streamed attached", streamed_attached, false}}) {
    SCOPED_TRACE(m.why);
    SignedData check;
    check.SetContent(kContent);
    check.Verify(m.der, m.detached);
    const SignerFacts& facts = check.Signers().at(0).Facts();
    ASSERT_TRUE(facts.timestamp_token.has_value());

    testing::WriteFile(work_.File("message.der"), m.der);
    testing::WriteFile(work_.File("token.der"), *facts.timestamp_token);
    testing::WriteFile(work_.File("signature.bin"), facts.signature_value);
    testing::WriteFile(work_.File("content.txt"), kContent);
    std::string printed;
    EXPECT_EQ(testing::RunCommand(
                  "openssl cms -cmsout -print -inform DER -in '" + work_.File("message.der") + "'",
                  &printed),
              0);
    EXPECT_NE(printed.find("id-smime-aa-timeStampToken"), std::string::npos);
    // The token is over this signature: openssl's own check agrees.
    std::string verified;
    EXPECT_EQ(testing::RunCommand("openssl ts -verify -token_in -in '" + work_.File("token.der") +
                                      "' -data '" + work_.File("signature.bin") + "' -CAfile '" +
                                      tsa_->root_file() + "' 2>&1",
                                  &verified),
              0)
        << verified;
    EXPECT_NE(verified.find("Verification: OK"), std::string::npos) << verified;
    // The message itself still verifies with openssl, the unsigned attribute ignored.
    EXPECT_EQ(
        testing::RunCommand("openssl cms -verify -binary -noverify -inform DER -in '" +
                            work_.File("message.der") + "'" +
                            (m.detached ? " -content '" + work_.File("content.txt") + "'" : "") +
                            " -out /dev/null 2>&1"),
        0);
  }
  EXPECT_EQ(streamed_attached, WithToken(streamed_attached, [](Bytes&) {}))
      << "the streamed attached layout is the DER OpenSSL writes";
}

TEST_F(TimestampTest, AFailingAuthorityFailsTheSigning) {
  SignedData data;
  data.SetContent(kContent);
  EXPECT_HRESULT(
      kTimestampUnreachable,
      (void)data.Sign(SignerOf(pki_->signer, Authority("http-error")), true, kEncodeBinary));
}

TEST_F(TimestampTest, TimestampMessageAddsWhatIsMissingInTheSameEncoding) {
  const Bytes plain = Signed(pki_->signer, nullptr);
  int added = 0;
  const Bytes stamped =
      TimestampMessage(EncodeBase64Lines(plain), kEncodeBase64, Authority("ok"), added);
  EXPECT_EQ(added, 1);
  const Bytes der = DecodeMessage(stamped, hr::kNotSignedMessage);
  EXPECT_EQ(EncodeBase64Lines(der), stamped);
  const SignerFacts facts = FirstSigner(der).Facts();
  ASSERT_TRUE(facts.timestamp_token.has_value());
  // A signer with a token keeps it; nothing is asked for.
  EXPECT_EQ(TimestampMessage(der, kEncodeBinary, Authority("http-error"), added), der);
  EXPECT_EQ(added, 0);
  EXPECT_HRESULT(hr::kNotSignedMessage,
                 (void)TimestampMessage("no message", kEncodeBinary, Authority("ok"), added));
}

// ---- Verifying a token ---------------------------------------------------------------------

struct TokenCase {
  const char* why;
  std::function<Bytes(const Bytes& stamped, const Bytes& other_stamped)> message;
  bool anchor_authority;
  bool trusted;
  const char* reason_part;
};

TEST_F(TimestampTest, TheTokenIsCheckedAndReported) {
  const Bytes stamped = Signed(pki_->signer);
  const Bytes other = Signed(pki_->signer);
  const TokenCase cases[] = {
      {"a proper token", [](const Bytes& s, const Bytes&) { return s; }, true, true,
       "CN=Vellum Test TSA Root"},
      {"an authority nobody anchored", [](const Bytes& s, const Bytes&) { return s; }, false, false,
       "the authority is not trusted"},
      {"a token over another signature",
       [](const Bytes& s, const Bytes& o) {
         const Bytes token = *FirstSigner(o).Facts().timestamp_token;
         return WithToken(s, [&token](Bytes& t) { t = token; });
       },
       true, false, "over another signature"},
      {"a token whose time was changed",
       [](const Bytes& s, const Bytes&) {
         return WithToken(s, [](Bytes& t) {
           const std::size_t at = t.find(
               "\x18\x0f"
               "20");
           ASSERT_NE(at, Bytes::npos);
           t[at + 15] = t[at + 15] == '0' ? '1' : '0';  // a digit of the seconds
         });
       },
       true, false, "signature does not verify"},
      {"a token that is no token",
       [](const Bytes& s, const Bytes&) {
         return WithToken(s, [](Bytes& t) { t = Bytes("\x30\x00", 2); });
       },
       true, false, "cannot be read"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    testing::TempFolder stores;
    testing::ScopedStoreRoot root(stores.path());
    PutInStore("Root", pki_->root, StoreFormat::kPemNoKey);
    PutInStore("CA", pki_->intermediate, StoreFormat::kPemNoKey);
    if (c.anchor_authority) PutInStore("Root", tsa_->root(), StoreFormat::kPemNoKey);
    const Bytes message = c.message(stamped, other);
    const SignerTrust answer = Evaluate(message);
    ASSERT_TRUE(answer.timestamp.has_value());
    EXPECT_EQ(answer.timestamp->trusted, c.trusted) << answer.timestamp->reason;
    EXPECT_NE(answer.timestamp->reason.find(c.reason_part), std::string::npos)
        << answer.timestamp->reason;
    // The signer's own answer does not depend on the token while the certificate is valid.
    EXPECT_EQ(TrustName(answer.trust), std::string("trusted")) << answer.reason;
    EXPECT_EQ(answer.reason, answer.anchor);
  }
  EXPECT_FALSE(Evaluate(Signed(pki_->signer, nullptr)).timestamp.has_value());
}

TEST_F(TimestampTest, ReportedTimeAndAuthority) {
  AnchorBoth();
  const std::time_t before = std::time(nullptr);
  const SignerTrust answer = Evaluate(Signed(pki_->signer));
  ASSERT_TRUE(answer.timestamp && answer.timestamp->time);
  EXPECT_GE(*answer.timestamp->time, before - 1);
  EXPECT_LE(*answer.timestamp->time, std::time(nullptr) + 1);
  EXPECT_EQ(answer.timestamp->authority, tsa_->authority().Subject());
}

// The point of it all: a certificate that has expired since, timestamped while it was valid.
TEST_F(TimestampTest, AnExpiredSignerWithATrustedTimestampIsTrusted) {
  CertOptions short_lived;
  short_lived.subject = "CN=Short Lived, O=Vellum Test, C=GB";
  short_lived.not_after_offset = kDay;
  const TestCert signer = testing::MakeCert(short_lived, &pki_->intermediate);
  const std::time_t later = std::time(nullptr) + 3 * kDay;
  struct Case {
    const char* why;
    const char* mode;
    bool anchor_authority;
    std::time_t when;
    Trust trust;
    const char* reason_part;
  };
  const Case cases[] = {
      {"valid now", "ok", true, std::time(nullptr), Trust::kTrusted, "CN=Vellum Test Root"},
      {"expired, trusted timestamp", "ok", true, later, Trust::kTrusted,
       "valid at the timestamp, under CN=Vellum Test Root"},
      {"expired, no timestamp", nullptr, true, later, Trust::kExpired, "expired on"},
      {"expired, untrusted timestamp", "ok", false, later, Trust::kExpired, "expired on"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    testing::TempFolder folder;
    testing::ScopedStoreRoot root(folder.path());
    PutInStore("Root", pki_->root, StoreFormat::kPemNoKey);
    PutInStore("CA", pki_->intermediate, StoreFormat::kPemNoKey);
    if (c.anchor_authority) PutInStore("Root", tsa_->root(), StoreFormat::kPemNoKey);
    const SignerTrust answer = Evaluate(Signed(signer, c.mode), c.when);
    EXPECT_EQ(TrustName(answer.trust), std::string(TrustName(c.trust))) << answer.reason;
    EXPECT_NE(answer.reason.find(c.reason_part), std::string::npos) << answer.reason;
  }
}

// A trusted timestamp judges revocation at its time: a revocation after it does not count,
// unless it is for a compromised key; one before it still does. A token from the future is no
// evidence.
TEST_F(TimestampTest, RevocationIsJudgedAtTheTimestamp) {
  AnchorBoth();
  PutInStore("CA", pki_->intermediate, StoreFormat::kPemNoKey);
  const Bytes message = Signed(pki_->signer);
  const Bytes unstamped = Signed(pki_->signer, nullptr);
  struct Case {
    const char* why;
    std::time_t revoked_offset;
    int reason;
    bool stamped;
    Trust trust;
    const char* reason_part;
  };
  const Case cases[] = {
      {"revoked an hour before the timestamp", -60 * 60, -1, true, Trust::kRevoked, "is revoked"},
      {"revoked after it, superseded", 60 * 60, CRL_REASON_SUPERSEDED, true, Trust::kTrusted,
       "valid at the timestamp"},
      {"revoked after it, no reason given", 60 * 60, -1, true, Trust::kTrusted,
       "valid at the timestamp"},
      {"revoked after it for a compromised key", 60 * 60, CRL_REASON_KEY_COMPROMISE, true,
       Trust::kRevoked, "is revoked"},
      {"revoked after signing, no timestamp", 60 * 60, CRL_REASON_SUPERSEDED, false,
       Trust::kRevoked, "is revoked"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    testing::WriteFile(work_.File("signer.crl"),
                       testing::MakeCrl(pki_->intermediate, {pki_->signer}, true, 30 * kDay,
                                        c.revoked_offset, c.reason));
    const SignerTrust answer = Evaluate(c.stamped ? message : unstamped, std::time(nullptr),
                                        TrustSources{{}, {work_.File("signer.crl")}});
    EXPECT_EQ(TrustName(answer.trust), std::string(TrustName(c.trust))) << answer.reason;
    EXPECT_NE(answer.reason.find(c.reason_part), std::string::npos) << answer.reason;
  }

  const SignerTrust earlier = Evaluate(message, std::time(nullptr) - kDay);
  ASSERT_TRUE(earlier.timestamp.has_value());
  EXPECT_FALSE(earlier.timestamp->trusted);
  EXPECT_NE(earlier.timestamp->reason.find("later than now"), std::string::npos);
}

}  // namespace
}  // namespace vellum::crypto
