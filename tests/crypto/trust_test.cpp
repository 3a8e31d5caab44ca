// The trust answer: chains to anchors from the stores, the system and the caller; revocation
// by CRLs; key usage; weak and broken algorithms; and the facts reported per signer. Messages
// are made here with OpenSSL's CMS API so each case chooses the certificates a message
// carries and the digest it names.
#include <gtest/gtest.h>

#include <openssl/cms.h>
#include <openssl/err.h>

#include <filesystem>
#include <functional>

#include "library/crypto/signed_data.h"
#include "library/crypto/trust.h"
#include "tests/crypto/expect_error.h"
#include "tests/support/test_pki.h"

namespace vellum::crypto {
namespace {

using testing::CertOptions;
using testing::kDay;
using testing::KeyKind;
using testing::MakeCert;
using testing::PutInStore;
using testing::StoreFormat;
using testing::TestCert;
using testing::TestPki;

const Bytes kContent = "who signed this?";

// An attached DER message signed by `signer` over kContent with digest `md`, carrying
// `carried` (and nothing else).
Bytes SignWith(const TestCert& signer, const std::vector<TestCert>& carried,
               const char* md = "SHA256", std::optional<std::time_t> when = std::nullopt) {
  ossl::EnsureProviders();
  const unsigned int flags = CMS_BINARY | CMS_PARTIAL | CMS_NOSMIMECAP;
  ossl::CmsPtr cms(CMS_sign(nullptr, nullptr, nullptr, nullptr, flags));
  ossl::MdPtr digest(EVP_MD_fetch(nullptr, md, nullptr));
  if (!cms || !digest) throw std::runtime_error("CMS set-up");
  CMS_SignerInfo* si = CMS_add1_signer(cms.get(), signer.x509(), signer.key(), digest.get(), flags);
  if (si == nullptr) throw std::runtime_error("CMS signer");
  if (when) {
    ossl::Asn1TimePtr t(ASN1_TIME_set(nullptr, *when));
    CMS_signed_add1_attr_by_NID(si, NID_pkcs9_signingTime, t->type, t.get(), -1);
  }
  for (const auto& c : carried) CMS_add1_cert(cms.get(), c.x509());
  ossl::BioPtr in = ossl::MemoryReader(kContent);
  if (CMS_final(cms.get(), in.get(), nullptr, flags) != 1) throw std::runtime_error("CMS final");
  unsigned char* raw = nullptr;
  const int length = i2d_CMS_ContentInfo(cms.get(), &raw);
  ossl::OpensslBytes owned(raw);
  return Bytes(reinterpret_cast<char*>(raw), static_cast<std::size_t>(length));
}

class TrustTest : public ::testing::Test {
 public:
  static void SetUpTestSuite() {
    pki_ = new TestPki(TestPki::Make());  // NOLINT(cppcoreguidelines-owning-memory): suite-wide
  }
  static void TearDownTestSuite() {
    delete pki_;  // NOLINT(cppcoreguidelines-owning-memory)
    pki_ = nullptr;
  }
  static const TestPki& Pki() { return *pki_; }

  // The trust answer for the first signer of `message`.
  static SignerTrust Evaluate(const Bytes& message, const TrustSources& sources = {}) {
    SignedData data;
    data.Verify(message, false);
    return TrustEvaluator(sources).Evaluate(data.Signers().at(0), std::time(nullptr));
  }

  void Anchor(const TestCert& root) { PutInStore("Root", root, StoreFormat::kPemNoKey); }
  // A file in a store folder, the folder made when missing.
  void PutInFolder(const std::string& store, const std::string& name, const std::string& data) {
    std::filesystem::create_directories(stores_.File(store));
    testing::WriteFile(stores_.File(store + "/" + name), data);
  }
  std::string Write(const std::string& name, const std::string& data) {
    testing::WriteFile(work_.File(name), data);
    return work_.File(name);
  }

  testing::TempFolder stores_;
  testing::TempFolder work_;
  testing::ScopedStoreRoot root_{stores_.path()};
  static TestPki* pki_;
};

TestPki* TrustTest::pki_ = nullptr;

// ---- Chains to anchors ---------------------------------------------------------------------

struct ChainCase {
  const char* name;
  // Prepares stores and files; returns the message and the caller's sources.
  std::function<std::pair<Bytes, TrustSources>(TrustTest&, const TestPki&)> setup;
  Trust expected;
  std::string reason_part;  // a piece the one-line reason must hold
};

class TrustChainTest : public TrustTest, public ::testing::WithParamInterface<ChainCase> {};

TEST_P(TrustChainTest, FirstSignerGetsTheExpectedAnswer) {
  const ChainCase& c = GetParam();
  auto [message, sources] = c.setup(*this, Pki());
  const SignerTrust answer = Evaluate(message, sources);
  EXPECT_EQ(TrustName(answer.trust), std::string(TrustName(c.expected))) << answer.reason;
  EXPECT_NE(answer.reason.find(c.reason_part), std::string::npos) << answer.reason;
  EXPECT_EQ(answer.reason.find('\n'), std::string::npos) << "one line";
  if (c.expected == Trust::kTrusted || c.expected == Trust::kWeak)
    EXPECT_EQ(answer.anchor, answer.chain.back().subject);
  else
    EXPECT_EQ(answer.anchor, "");
}

const std::string kRoot = "CN=Vellum Test Root, O=Vellum Test, C=GB";
const std::string kIssuing = "CN=Vellum Test Issuing CA, O=Vellum Test, C=GB";

std::pair<Bytes, TrustSources> Plain(const Bytes& message) {
  return {message, {}};
}

INSTANTIATE_TEST_SUITE_P(
    Anchors, TrustChainTest,
    ::testing::Values(
        // The usual case: the root in the user's Root folder, the intermediate in the message.
        ChainCase{"RootFolderAnchorsTheChain",
                  [](TrustTest& t, const TestPki& p) {
                    t.Anchor(p.root);
                    return Plain(SignWith(p.signer, {p.intermediate}));
                  },
                  Trust::kTrusted, kRoot},
        // Intermediates also come from the CA folder.
        ChainCase{"IntermediateFromTheCaFolder",
                  [](TrustTest& t, const TestPki& p) {
                    t.Anchor(p.root);
                    PutInStore("CA", p.intermediate, StoreFormat::kPemNoKey);
                    return Plain(SignWith(p.signer, {}));
                  },
                  Trust::kTrusted, kRoot},
        ChainCase{"NoAnchorAnywhere",
                  [](TrustTest&, const TestPki& p) {
                    return Plain(SignWith(p.signer, {p.intermediate}));
                  },
                  Trust::kUntrusted, "no chain to a trust anchor"},
        // A root that travels with the message is only an intermediate: anyone can ship one.
        ChainCase{"RootInsideTheMessageIsNoAnchor",
                  [](TrustTest&, const TestPki& p) {
                    return Plain(SignWith(p.signer, {p.intermediate, p.root}));
                  },
                  Trust::kUntrusted, "which is no trust anchor"},
        // A forged root with the real anchor's name, and a signer under it.
        ChainCase{"ForgedRootOfAnAnchorsName",
                  [](TrustTest& t, const TestPki& p) {
                    t.Anchor(p.root);
                    auto forged = MakeCert({kRoot, -kDay, 100 * kDay, true});
                    auto signer = MakeCert({"CN=Ann Lee, O=Example Ltd, C=GB"}, &forged);
                    return Plain(SignWith(signer, {forged}));
                  },
                  Trust::kUntrusted, ""},
        ChainCase{"SelfSignedNotAnchored",
                  [](TrustTest&, const TestPki&) {
                    return Plain(SignWith(MakeCert({"CN=Big Bank plc, C=GB"}), {}));
                  },
                  Trust::kUntrusted, "self-signed"},
        ChainCase{"SelfSignedInTheRootFolder",
                  [](TrustTest& t, const TestPki&) {
                    auto self = MakeCert({"CN=Own Signer, C=GB"});
                    t.Anchor(self);
                    return Plain(SignWith(self, {}));
                  },
                  Trust::kTrusted, "CN=Own Signer, C=GB"},
        // Without key usage extensions a self-signed certificate, once anchored, signs.
        ChainCase{"AnchoredSelfSignedWithoutExtensions",
                  [](TrustTest& t, const TestPki&) {
                    CertOptions o{"CN=Bare Signer"};
                    o.key_usage = "none";
                    auto bare = MakeCert(o);
                    t.Anchor(bare);
                    return Plain(SignWith(bare, {}));
                  },
                  Trust::kTrusted, "CN=Bare Signer"},
        ChainCase{"CallerAnchorFileInDer",
                  [](TrustTest& t, const TestPki& p) {
                    TrustSources s;
                    s.anchors.push_back(t.Write("root.der", p.root.Der()));
                    return std::pair{SignWith(p.signer, {p.intermediate}), s};
                  },
                  Trust::kTrusted, kRoot},
        ChainCase{"CallerAnchorFolder",
                  [](TrustTest& t, const TestPki& p) {
                    std::filesystem::create_directories(t.work_.File("anchors"));
                    testing::WriteFile(t.work_.File("anchors/root.crt"), p.root.Pem());
                    TrustSources s;
                    s.anchors.push_back(t.work_.File("anchors"));
                    return std::pair{SignWith(p.signer, {p.intermediate}), s};
                  },
                  Trust::kTrusted, kRoot},
        // An anchor need not be a root: the intermediate named as anchor ends the chain.
        ChainCase{"IntermediateNamedAsAnchor",
                  [](TrustTest& t, const TestPki& p) {
                    TrustSources s;
                    s.anchors.push_back(t.Write("issuing.pem", p.intermediate.Pem()));
                    return std::pair{SignWith(p.signer, {}), s};
                  },
                  Trust::kTrusted, kIssuing}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Validity, TrustChainTest,
    ::testing::Values(
        ChainCase{"ExpiredSigner",
                  [](TrustTest& t, const TestPki& p) {
                    t.Anchor(p.root);
                    auto old = MakeCert({"CN=Old Signer", -400 * kDay, -kDay}, &p.intermediate);
                    return Plain(SignWith(old, {p.intermediate}));
                  },
                  Trust::kExpired, "CN=Old Signer expired on "},
        ChainCase{
            "NotYetValidSigner",
            [](TrustTest& t, const TestPki& p) {
              t.Anchor(p.root);
              auto early = MakeCert({"CN=Early Signer", 2 * kDay, 400 * kDay}, &p.intermediate);
              return Plain(SignWith(early, {p.intermediate}));
            },
            Trust::kNotYetValid, "CN=Early Signer is not valid before "},
        ChainCase{"ExpiredIntermediate",
                  [](TrustTest& t, const TestPki& p) {
                    t.Anchor(p.root);
                    auto ca = MakeCert({"CN=Lapsed CA", -700 * kDay, -2 * kDay, true}, &p.root);
                    auto signer = MakeCert({"CN=Late Signer", -800 * kDay, 100 * kDay}, &ca);
                    return Plain(SignWith(signer, {ca}));
                  },
                  Trust::kExpired, "CN=Lapsed CA expired on "}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Revocation, TrustChainTest,
    ::testing::Values(
        ChainCase{"SignerListedInACrlOfTheCaFolder",
                  [](TrustTest& t, const TestPki& p) {
                    t.Anchor(p.root);
                    t.PutInFolder("CA", "issuing.crl",
                                  testing::MakeCrl(p.intermediate, {p.signer}));
                    return Plain(SignWith(p.signer, {p.intermediate}));
                  },
                  Trust::kRevoked, "CN=Ann Lee, O=Example Ltd, C=GB is revoked since "},
        ChainCase{"IntermediateListedInADerCrlOfTheRootFolder",
                  [](TrustTest& t, const TestPki& p) {
                    t.Anchor(p.root);
                    t.PutInFolder("Root", "root.CRL",
                                  testing::MakeCrl(p.root, {p.intermediate}, false));
                    return Plain(SignWith(p.signer, {p.intermediate}));
                  },
                  Trust::kRevoked, kIssuing + " is revoked"},
        ChainCase{"SignerListedInACallersCrl",
                  [](TrustTest& t, const TestPki& p) {
                    t.Anchor(p.root);
                    TrustSources s;
                    s.crls.push_back(
                        t.Write("list.crl", testing::MakeCrl(p.intermediate, {p.signer})));
                    return std::pair{SignWith(p.signer, {p.intermediate}), s};
                  },
                  Trust::kRevoked, "(CRL of " + kIssuing + ")"},
        // A CRL that lists someone else, and one past its next update, revoke nobody here.
        ChainCase{"CrlsOfOthersRevokeNothing",
                  [](TrustTest& t, const TestPki& p) {
                    t.Anchor(p.root);
                    auto other = MakeCert({"CN=Other Signer"}, &p.intermediate);
                    t.PutInFolder("CA", "issuing.crl",
                                  testing::MakeCrl(p.intermediate, {other}, true, -60));
                    return Plain(SignWith(p.signer, {p.intermediate}));
                  },
                  Trust::kTrusted, kRoot}),
    [](const auto& info) { return std::string(info.param.name); });

TestCert SignerWithUsage(const TestPki& p, const char* key_usage, const char* extended) {
  CertOptions o{"CN=Usage Signer"};
  o.key_usage = key_usage;
  o.extended_key_usage = extended;
  return MakeCert(o, &p.intermediate);
}

INSTANTIATE_TEST_SUITE_P(
    KeyUsage, TrustChainTest,
    ::testing::Values(
        // A CA's certificate certifies others; it does not sign documents.
        ChainCase{"CertificateSigningOnly",
                  [](TrustTest& t, const TestPki& p) {
                    t.Anchor(p.root);
                    return Plain(SignWith(SignerWithUsage(p, "critical,keyCertSign,cRLSign", ""),
                                          {p.intermediate}));
                  },
                  Trust::kUntrusted, "key usage does not allow signing documents"},
        ChainCase{"IntermediateAsSigner",
                  [](TrustTest& t, const TestPki& p) {
                    t.Anchor(p.root);
                    return Plain(SignWith(p.intermediate, {}));
                  },
                  Trust::kUntrusted, "key usage"},
        ChainCase{"ServerAuthenticationOnly",
                  [](TrustTest& t, const TestPki& p) {
                    t.Anchor(p.root);
                    return Plain(SignWith(SignerWithUsage(p, "", "serverAuth"), {p.intermediate}));
                  },
                  Trust::kUntrusted, "key usage"},
        ChainCase{"EmailProtection",
                  [](TrustTest& t, const TestPki& p) {
                    t.Anchor(p.root);
                    return Plain(
                        SignWith(SignerWithUsage(p, "", "emailProtection"), {p.intermediate}));
                  },
                  Trust::kTrusted, kRoot},
        ChainCase{"AnyExtendedKeyUsage",
                  [](TrustTest& t, const TestPki& p) {
                    t.Anchor(p.root);
                    return Plain(
                        SignWith(SignerWithUsage(p, "", "anyExtendedKeyUsage"), {p.intermediate}));
                  },
                  Trust::kTrusted, kRoot},
        ChainCase{"NonRepudiationAlone",
                  [](TrustTest& t, const TestPki& p) {
                    t.Anchor(p.root);
                    return Plain(SignWith(SignerWithUsage(p, "critical,nonRepudiation", ""),
                                          {p.intermediate}));
                  },
                  Trust::kTrusted, kRoot}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Weak, TrustChainTest,
    ::testing::Values(ChainCase{"Sha1Digest",
                                [](TrustTest& t, const TestPki& p) {
                                  t.Anchor(p.root);
                                  return Plain(SignWith(p.signer, {p.intermediate}, "SHA1"));
                                },
                                Trust::kWeak, "SHA-1 digest, under "},
                      ChainCase{"Rsa1024Key",
                                [](TrustTest& t, const TestPki& p) {
                                  t.Anchor(p.root);
                                  auto small = MakeCert(
                                      {"CN=Small Key", -kDay, kDay, false, KeyKind::kRsa1024},
                                      &p.intermediate);
                                  return Plain(SignWith(small, {p.intermediate}));
                                },
                                Trust::kWeak, "RSA key of 1024 bits"},
                      ChainCase{"EcP224Key",
                                [](TrustTest& t, const TestPki& p) {
                                  t.Anchor(p.root);
                                  auto small = MakeCert(
                                      {"CN=Small Curve", -kDay, kDay, false, KeyKind::kEcP224},
                                      &p.intermediate);
                                  return Plain(SignWith(small, {p.intermediate}));
                                },
                                Trust::kWeak, "EC key of 224 bits"},
                      // Weak says "trusted, but": a weak signature without a chain is untrusted.
                      ChainCase{"WeakAndUnanchored",
                                [](TrustTest&, const TestPki& p) {
                                  return Plain(SignWith(p.signer, {p.intermediate}, "SHA1"));
                                },
                                Trust::kUntrusted, "no chain"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- What a caller names must be readable -------------------------------------------------

TEST_F(TrustTest, UnreadableCallerSourcesAreRefusedNamingThePath) {
  const std::string no_cert = Write("notes.pem", "no certificate here\n");
  const std::string no_crl = Write("empty.crl", "");
  const std::string missing = work_.File("missing.pem");
  const std::vector<std::pair<TrustSources, std::string>> cases = {
      {{{missing}, {}}, missing},
      {{{no_cert}, {}}, no_cert},
      {{{}, {no_crl}}, no_crl},
      {{{}, {work_.File("missing.crl")}}, work_.File("missing.crl")},
  };
  for (const auto& [sources, path] : cases) {
    try {
      TrustEvaluator evaluator(sources);
      ADD_FAILURE() << path << " was accepted";
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), hr::kStoreOpen) << path;
      EXPECT_NE(e.description().find(path), std::string::npos) << e.description();
    }
  }
}

// A Root folder that cannot be read adds no anchors and fails nothing.
TEST_F(TrustTest, UnreadableStoreFolderAddsNothing) {
  testing::WriteFile(stores_.File("Root"), "a file where the folder should be");
  const SignerTrust answer = Evaluate(SignWith(Pki().signer, {Pki().intermediate}));
  EXPECT_EQ(answer.trust, Trust::kUntrusted);
}

// ---- The facts beside the answer -----------------------------------------------------------

TEST_F(TrustTest, FactsOfTheSigner) {
  Anchor(Pki().root);
  const std::time_t claimed = 1700000000;
  const SignerTrust answer =
      Evaluate(SignWith(Pki().signer, {Pki().intermediate}, "SHA384", claimed));
  EXPECT_EQ(answer.subject, "CN=Ann Lee, O=Example Ltd, C=GB");
  ASSERT_TRUE(answer.signing_time.has_value());
  EXPECT_EQ(*answer.signing_time, claimed);
  EXPECT_EQ(answer.digest, "SHA-384");
  EXPECT_EQ(answer.key, "EC 256 bits (P-256)");
  ASSERT_EQ(answer.chain.size(), 3U);
  EXPECT_EQ(answer.chain[0].subject, "CN=Ann Lee, O=Example Ltd, C=GB");
  EXPECT_EQ(answer.chain[1].subject, kIssuing);
  EXPECT_EQ(answer.chain[2].subject, kRoot);
  EXPECT_EQ(answer.chain[0].valid_to, Pki().signer.ToCertificate().ValidTo());
  EXPECT_EQ(answer.chain[2].valid_to, Pki().root.ToCertificate().ValidTo());

  // The fingerprint as the openssl program prints it.
  testing::TempFolder tmp;
  testing::WriteFile(tmp.File("signer.pem"), Pki().signer.Pem());
  std::string printed;
  ASSERT_EQ(testing::RunCommand(
                "openssl x509 -noout -fingerprint -sha256 -in '" + tmp.File("signer.pem") + "'",
                &printed),
            0);
  EXPECT_EQ("sha256 Fingerprint=" + answer.fingerprint + "\n", printed);
}

TEST_F(TrustTest, KeyDescriptionsAndDigestNames) {
  const std::vector<std::pair<KeyKind, std::string>> keys = {
      {KeyKind::kEcP256, "EC 256 bits (P-256)"},
      {KeyKind::kEcP224, "EC 224 bits (P-224)"},
      {KeyKind::kRsa2048, "RSA 2048 bits"},
      {KeyKind::kRsa1024, "RSA 1024 bits"},
  };
  for (const auto& [kind, text] : keys) {
    auto cert = MakeCert({"CN=Key", -kDay, kDay, false, kind});
    EXPECT_EQ(KeyDescription(cert.key()), text);
  }
  EXPECT_EQ(DigestName(NID_sha1), "SHA-1");
  EXPECT_EQ(DigestName(NID_sha256), "SHA-256");
  EXPECT_EQ(DigestName(NID_sha512), "SHA-512");
  EXPECT_EQ(DigestName(NID_undef), "unknown");
}

TEST_F(TrustTest, NoSigningTimeIsNoClaim) {
  Anchor(Pki().root);
  // CMS_NOATTR leaves out every signed attribute, the signing time with them.
  ossl::CmsPtr cms(CMS_sign(Pki().signer.x509(), Pki().signer.key(), nullptr,
                            ossl::MemoryReader(kContent).get(), CMS_BINARY | CMS_NOATTR));
  ASSERT_TRUE(cms);
  unsigned char* raw = nullptr;
  const int length = i2d_CMS_ContentInfo(cms.get(), &raw);
  ossl::OpensslBytes owned(raw);
  const SignerTrust answer =
      Evaluate(Bytes(reinterpret_cast<char*>(raw), static_cast<std::size_t>(length)));
  EXPECT_FALSE(answer.signing_time.has_value());
}

// ---- Broken algorithms fail the signature itself -------------------------------------------

TEST_F(TrustTest, BrokenAlgorithmsFailVerificationAsADamagedSignature) {
  auto tiny = MakeCert({"CN=Tiny Key", -kDay, kDay, false, KeyKind::kRsa512});
  auto rsa = MakeCert({"CN=Rsa Signer", -kDay, kDay, false, KeyKind::kRsa2048});
  const std::vector<std::pair<std::string, Bytes>> cases = {
      {"MD5 digest", SignWith(rsa, {}, "MD5")},
      {"RSA-512 key", SignWith(tiny, {})},
  };
  for (const auto& [name, message] : cases) {
    SignedData data;
    SCOPED_TRACE(name);
    EXPECT_HRESULT(hr::kBadSignature, data.Verify(message, false));
    EXPECT_TRUE(data.Signers().empty()) << name;
  }
  // SHA-1 still verifies: old files use it.
  SignedData data;
  EXPECT_NO_THROW(data.Verify(SignWith(rsa, {}, "SHA1"), false));
}

}  // namespace
}  // namespace vellum::crypto
