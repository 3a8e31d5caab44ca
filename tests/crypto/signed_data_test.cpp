// Signing and verifying: our messages against the real `openssl` program and back, chains,
// input forms and the failure codes the callers rely on.
#include <gtest/gtest.h>

#include <filesystem>

#include "library/crypto/codec.h"
#include "library/crypto/encrypted_data.h"
#include "library/crypto/signed_data.h"
#include "library/platform/text.h"
#include "tests/crypto/expect_error.h"
#include "tests/support/test_pki.h"

namespace vellum::crypto {
namespace {

using testing::kDay;
using testing::MakeCert;
using testing::PutInStore;
using testing::StoreFormat;
using testing::TestCert;

constexpr std::int32_t kKeysetMissing = static_cast<std::int32_t>(0x80090016);

class SignedDataTest : public ::testing::Test {
 protected:
  testing::TempFolder tmp_;
  testing::TempFolder work_;
  testing::ScopedStoreRoot root_{tmp_.path()};

  static Bytes Sign(const TestCert& cert, const Bytes& content, bool detached, int encoding,
                    std::optional<std::time_t> when = std::nullopt) {
    Signer signer;
    signer.SetCertificate(cert.ToCertificate());
    if (when) signer.AddAuthenticatedAttribute({kAttributeSigningTime, *when});
    SignedData data;
    data.SetContent(content);
    return data.Sign(signer, detached, encoding);
  }

  // Verifies and hands back the object for its content and signers.
  static SignedData Verify(const Bytes& message, bool detached, const Bytes& content = "") {
    SignedData data;
    if (detached) data.SetContent(content);
    data.Verify(message, detached);
    return data;
  }

  static std::vector<std::string> ChainSubjects(const SignedData& data, std::size_t signer = 0) {
    std::vector<std::string> out;
    for (const auto& c : data.Signers().at(signer).Chain()) out.push_back(c.SubjectName());
    return out;
  }

  int Openssl(const std::string& args) {
    std::string log;
    int rc = testing::RunCommand("cd '" + work_.path() + "' && openssl " + args + " 2>&1", &log);
    if (rc != 0) std::cerr << "openssl " << args << ":\n" << log;
    return rc;
  }
  std::string W(const std::string& name) const { return work_.File(name); }
  void Put(const std::string& name, const Bytes& data) { testing::WriteFile(W(name), data); }
  Bytes Get(const std::string& name) { return testing::ReadFile(W(name)); }
};

// The DER of a message we wrote, parsed with OpenSSL for inspection.
struct CmsHolder {
  ossl::CmsPtr cms;
};
CmsHolder Parse(const Bytes& der) {
  const auto* p = reinterpret_cast<const unsigned char*>(der.data());
  CmsHolder h{ossl::CmsPtr(d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(der.size())))};
  EXPECT_TRUE(h.cms);
  return h;
}

const Bytes kText = Utf8ToUtf16le("Grüße aus Köln – signed text\r\n");

TEST_F(SignedDataTest, OurSignaturesVerifyWithOpenssl) {
  auto pki = testing::TestPki::Make("CN=Ann Lee, O=Example Ltd, C=GB", testing::KeyKind::kRsa2048);
  Put("text.bin", kText);
  Put("odd.bin", Bytes("\x00\x01\xFF odd length", 14));
  for (const char* file : {"text.bin", "odd.bin"}) {
    Bytes content = Get(file);
    Put("detached.der", Sign(pki.signer, content, true, kEncodeBinary));
    EXPECT_EQ(Openssl("cms -verify -binary -noverify -inform DER -in detached.der -content " +
                      std::string(file) + " -out out.bin"),
              0)
        << file;
    Put("attached.der", Sign(pki.signer, content, false, kEncodeBinary));
    ASSERT_EQ(Openssl("cms -verify -binary -noverify -inform DER -in attached.der -out out.bin"), 0)
        << file;
    EXPECT_EQ(Get("out.bin"), content) << file;
    // The Base64 form is the same DER in text.
    Put("attached.b64", Sign(pki.signer, content, false, kEncodeBase64));
    ASSERT_EQ(Openssl("base64 -d -in attached.b64 -out attached2.der"), 0);
    EXPECT_EQ(Openssl("cms -verify -binary -noverify -inform DER -in attached2.der -out out2.bin"),
              0);
    EXPECT_EQ(Get("out2.bin"), content) << file;
  }
}

TEST_F(SignedDataTest, OpensslSignaturesVerifyHere) {
  auto signer = MakeCert({"CN=Openssl Signer, C=GB"}, nullptr);
  auto rsa =
      MakeCert({"CN=Openssl Rsa Signer, C=GB", -kDay, kDay, false, testing::KeyKind::kRsa2048});
  Put("text.bin", kText);
  for (const TestCert* cert : {&signer, &rsa}) {
    Put("s.pem", cert->Pem());
    Put("s.key", cert->KeyPem());
    for (const char* md : {"sha1", "sha256"}) {
      std::string base = std::string("cms -sign -binary -nosmimecap -md ") + md +
                         " -signer s.pem -inkey s.key -in text.bin ";
      ASSERT_EQ(Openssl(base + "-outform DER -out detached.der"), 0);
      ASSERT_EQ(Openssl(base + "-nodetach -outform DER -out attached.der"), 0);
      ASSERT_EQ(Openssl(base + "-nodetach -outform PEM -out attached.pem"), 0);
      std::string why = cert->Subject() + " " + md;
      EXPECT_NO_THROW(Verify(Get("detached.der"), true, kText)) << why;
      EXPECT_EQ(Verify(Get("attached.der"), false).Content(), kText) << why;
      EXPECT_EQ(Verify(Get("attached.pem"), false).Content(), kText) << why << " (PEM)";
      EXPECT_HRESULT(hr::kHashMismatch, Verify(Get("detached.der"), true, kText + "x")) << why;
    }
  }
}

TEST_F(SignedDataTest, TwoSignersAreListedInMessageOrder) {
  auto a = MakeCert({"CN=First Signer"});
  auto b = MakeCert({"CN=Second Signer"});
  Put("a.pem", a.Pem());
  Put("a.key", a.KeyPem());
  Put("b.pem", b.Pem());
  Put("b.key", b.KeyPem());
  Put("text.bin", kText);
  ASSERT_EQ(Openssl("cms -sign -binary -nosmimecap -nodetach -signer a.pem -inkey a.key "
                    "-signer b.pem -inkey b.key -in text.bin -outform DER -out two.der"),
            0);
  // DER writes the signer infos as a SET OF, sorted by their encoding, so the message's order
  // is not the order of the -signer options: read it from the message itself.
  const Bytes der = Get("two.der");
  CmsHolder h = Parse(der);
  ASSERT_TRUE(h.cms);
  STACK_OF(CMS_SignerInfo)* infos = CMS_get0_SignerInfos(h.cms.get());
  ASSERT_EQ(sk_CMS_SignerInfo_num(infos), 2);
  const bool a_first = CMS_SignerInfo_cert_cmp(sk_CMS_SignerInfo_value(infos, 0), a.x509()) == 0;
  ASSERT_TRUE(a_first || CMS_SignerInfo_cert_cmp(sk_CMS_SignerInfo_value(infos, 0), b.x509()) == 0);
  const std::string first = a_first ? "CN=First Signer" : "CN=Second Signer";
  const std::string second = a_first ? "CN=Second Signer" : "CN=First Signer";

  SignedData data = Verify(der, false);
  ASSERT_EQ(data.Signers().size(), 2u);
  EXPECT_EQ(data.Signers()[0].certificate().SubjectName(), first);
  EXPECT_EQ(data.Signers()[1].certificate().SubjectName(), second);
}

TEST_F(SignedDataTest, MessageCarriesSha256SigningTimeAndTheChainWithoutRoot) {
  auto pki = testing::TestPki::Make();
  PutInStore("Root", pki.root, StoreFormat::kPemNoKey);
  PutInStore("CA", pki.intermediate, StoreFormat::kPemNoKey);
  std::time_t when = 1577934245;  // 2020-01-02 03:04:05 UTC
  Bytes der = Sign(pki.signer, kText, false, kEncodeBinary, when);
  CmsHolder h = Parse(der);
  ASSERT_TRUE(h.cms);

  ossl::X509StackPtr certs(CMS_get1_certs(h.cms.get()));
  std::vector<std::string> carried;
  for (int i = 0; i < sk_X509_num(certs.get()); ++i)
    carried.push_back(FormatName(X509_get_subject_name(sk_X509_value(certs.get(), i))));
  std::sort(carried.begin(), carried.end());
  EXPECT_EQ(carried, (std::vector<std::string>{"CN=Ann Lee, O=Example Ltd, C=GB",
                                               "CN=Vellum Test Issuing CA, O=Vellum Test, C=GB"}));

  CMS_SignerInfo* si = sk_CMS_SignerInfo_value(CMS_get0_SignerInfos(h.cms.get()), 0);
  X509_ALGOR* digest = nullptr;
  CMS_SignerInfo_get0_algs(si, nullptr, nullptr, &digest, nullptr);
  const ASN1_OBJECT* oid = nullptr;
  X509_ALGOR_get0(&oid, nullptr, nullptr, digest);
  EXPECT_EQ(OBJ_obj2nid(oid), NID_sha256);
  int at = CMS_signed_get_attr_by_NID(si, NID_pkcs9_signingTime, -1);
  ASSERT_GE(at, 0);
  ASN1_TYPE* value = X509_ATTRIBUTE_get0_type(CMS_signed_get_attr(si, at), 0);
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(TimeFromAsn1(value->value.utctime), when);
}

TEST_F(SignedDataTest, ChainsRunFromSignerToRoot) {
  auto pki = testing::TestPki::Make();
  PutInStore("Root", pki.root, StoreFormat::kPemNoKey);
  PutInStore("CA", pki.intermediate, StoreFormat::kPemNoKey);
  Bytes message = Sign(pki.signer, kText, false, kEncodeBase64);
  const std::vector<std::string> full{"CN=Ann Lee, O=Example Ltd, C=GB",
                                      "CN=Vellum Test Issuing CA, O=Vellum Test, C=GB",
                                      "CN=Vellum Test Root, O=Vellum Test, C=GB"};
  EXPECT_EQ(ChainSubjects(Verify(message, false)), full);

  // Without the stores the message's own certificates still reach the intermediate.
  std::filesystem::remove_all(tmp_.File("Root"));
  std::filesystem::remove_all(tmp_.File("CA"));
  EXPECT_EQ(ChainSubjects(Verify(message, false)),
            std::vector<std::string>(full.begin(), full.begin() + 2));
}

TEST_F(SignedDataTest, SelfSignedSignerHasAChainOfOne) {
  auto self = MakeCert({"CN=Self Signed, C=GB"});
  SignedData data = Verify(Sign(self, kText, true, kEncodeBase64), true, kText);
  EXPECT_EQ(ChainSubjects(data), std::vector<std::string>{"CN=Self Signed, C=GB"});
}

TEST_F(SignedDataTest, ExpiredIntermediateStaysInTheChainWithItsDate) {
  auto root = MakeCert({"CN=Old Root", -3000 * kDay, 3000 * kDay, true});
  auto expired = MakeCert({"CN=Expired CA", -700 * kDay, -2 * kDay, true}, &root);
  auto signer = MakeCert({"CN=Late Signer", -800 * kDay, 100 * kDay}, &expired);
  PutInStore("Root", root, StoreFormat::kPemNoKey);
  PutInStore("CA", expired, StoreFormat::kPemNoKey);
  SignedData data = Verify(Sign(signer, kText, false, kEncodeBinary), false);
  ASSERT_EQ(ChainSubjects(data),
            (std::vector<std::string>{"CN=Late Signer", "CN=Expired CA", "CN=Old Root"}));
  const Certificate& ca = data.Signers()[0].Chain()[1];
  EXPECT_EQ(ca.ValidTo(), expired.ToCertificate().ValidTo());
  EXPECT_LT(ca.ValidTo(), std::time(nullptr));
}

TEST_F(SignedDataTest, AnExpiredSignerStillVerifies) {
  auto old = MakeCert({"CN=Expired Signer", -400 * kDay, -kDay});
  EXPECT_EQ(Verify(Sign(old, kText, false, kEncodeBase64), false).Content(), kText)
      << "the component checks the signature only; the callers judge expiry";
}

TEST_F(SignedDataTest, EmptyAndLargeContentRoundTrip) {
  auto cert = MakeCert({"CN=Sizes"});
  Bytes large(3 << 20, '\0');
  for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>(i * 131 % 251);
  for (const Bytes& content : {Bytes(), Bytes(1, '\0'), large}) {
    for (int encoding : {kEncodeBase64, kEncodeBinary}) {
      EXPECT_EQ(Verify(Sign(cert, content, false, encoding), false).Content(), content)
          << content.size() << " bytes, encoding " << encoding;
      EXPECT_NO_THROW(Verify(Sign(cert, content, true, encoding), true, content));
    }
  }
}

TEST_F(SignedDataTest, EveryInputFormVerifies) {
  auto cert = MakeCert({"CN=Forms"});
  Bytes der = Sign(cert, kText, false, kEncodeBinary);
  Bytes b64 = Sign(cert, kText, false, kEncodeBase64);
  std::string flat;
  for (char c : b64)
    if (c != '\r' && c != '\n') flat += c;
  std::string lf;
  for (char c : b64)
    if (c != '\r') lf += c;
  struct Case {
    Bytes message;
    const char* why;
  };
  const Case cases[] = {
      {der, "DER"},
      {der + Bytes(1, '\0'), "DER with the zero byte a binary read adds"},
      {b64, "our Base64 layout"},
      {flat, "Base64 without line breaks"},
      {lf, "Base64 with bare line feeds"},
      {"-----BEGIN CMS-----\n" + lf + "-----END CMS-----\n", "PEM armour"},
  };
  for (const auto& c : cases) {
    try {
      EXPECT_EQ(Verify(c.message, false).Content(), kText) << c.why;
    } catch (const Error& e) {
      ADD_FAILURE() << c.why << ": " << e.description();
    }
  }
  EXPECT_HRESULT(hr::kNotSignedMessage, Verify(der + "x", false)) << "trailing garbage";
}

TEST_F(SignedDataTest, FailureCodesTellWhatWentWrong) {
  auto cert = MakeCert({"CN=Failures"});
  const Bytes content = "ATTACHED-CONTENT-0123456789";
  Bytes attached = Sign(cert, content, false, kEncodeBinary);
  Bytes detached = Sign(cert, content, true, kEncodeBinary);

  Bytes changed = attached;
  std::size_t at = changed.find(content);
  ASSERT_NE(at, Bytes::npos);
  changed[at + 3] ^= 0x01;
  Bytes damaged = attached;
  damaged[damaged.size() - 2] ^= 0x5A;  // inside the signature value, the last field

  Put("s.pem", cert.Pem());
  Put("s.key", cert.KeyPem());
  Put("c.bin", content);
  ASSERT_EQ(Openssl("cms -sign -binary -nosmimecap -nocerts -nodetach -signer s.pem -inkey s.key "
                    "-in c.bin -outform DER -out nocerts.der"),
            0);
  EncryptedData enveloped;
  enveloped.SetSecret("pw");
  enveloped.SetAlgorithm(kEncryptAes256);
  enveloped.SetContent(content);

  EXPECT_HRESULT(hr::kHashMismatch, Verify(detached, true, content + "!")) << "detached content";
  EXPECT_HRESULT(hr::kHashMismatch, Verify(changed, false)) << "carried content";
  EXPECT_HRESULT(hr::kBadSignature, Verify(damaged, false)) << "signature value";
  EXPECT_HRESULT(hr::kSignerNotFound, Verify(Get("nocerts.der"), false)) << "no signer cert";
  EXPECT_HRESULT(hr::kBadMessageType, Verify(enveloped.Encrypt(), false)) << "enveloped data";
  EXPECT_HRESULT(hr::kBadMessageType, Verify(detached, false)) << "no content to check";
  EXPECT_HRESULT(hr::kNotSignedMessage, Verify("plain words", false)) << "not a message";
}

TEST_F(SignedDataTest, SigningRefusesWhatCannotSign) {
  SignedData data;
  data.SetContent(kText);
  Signer none;
  EXPECT_HRESULT(hr::kSignerNotFound, data.Sign(none, false, kEncodeBase64))
      << "a signer whose certificate was never set";
  Signer keyless;
  keyless.SetCertificate(MakeCert({"CN=No Key"}).ToCertificate(false));
  EXPECT_HRESULT(kKeysetMissing, data.Sign(keyless, false, kEncodeBase64));
  Signer fine;
  fine.SetCertificate(MakeCert({"CN=Fine"}).ToCertificate());
  EXPECT_HRESULT(hr::kInvalidArg, data.Sign(fine, false, 2)) << "encoding 2";
  EXPECT_HRESULT(hr::kInvalidArg, fine.AddAuthenticatedAttribute({1, 0})) << "attribute name 1";
}

TEST_F(SignedDataTest, SignersAreEmptyUntilAVerifySucceeds) {
  auto cert = MakeCert({"CN=Signers"});
  SignedData data;
  EXPECT_TRUE(data.Signers().empty());
  data.Verify(Sign(cert, kText, false, kEncodeBinary), false);
  EXPECT_EQ(data.Signers().size(), 1u);
  EXPECT_THROW(data.Verify("junk", false), Error);
  EXPECT_TRUE(data.Signers().empty()) << "a failed verify leaves no signers from before";
}

}  // namespace
}  // namespace vellum::crypto
