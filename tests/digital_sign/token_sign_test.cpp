// Signing with keys on a token: SignFile and SignZipFile given a PKCS#11 URI as the store sign
// on a SoftHSM2 token made for each test, in every layout, with an RSA and an EC key. The
// messages verify here and with the openssl program and carry what a file key's carry; the
// success text names the store as given; the PIN is asked once per call; a certificate whose
// key is elsewhere is no candidate; two candidates go to the chooser; and the failures a user
// meets give the store text with the reason after it, writing nothing.
#include <filesystem>

#include "library/crypto/token.h"
#include "tests/digital_sign/signing_fixture.h"
#include "tests/support/soft_token.h"

namespace vellum::signing_test {
namespace {

namespace fs = std::filesystem;
using testing::SoftToken;

const std::string kRsaSubject = "CN=Ann Token, O=Example Ltd, C=GB";
const std::string kEcSubject = "CN=Eve Token, O=Example Ltd, C=GB";
const std::string kKeylessSubject = "CN=Kim Keyless, O=Example Ltd, C=GB";
const std::string kStoreText =
    " Unable to access Personal Store (Current User) or it don't have valid certificate in it.";
constexpr const char* kUser = "ann.lee";
constexpr const char* kPassword = "token pass";

class TokenSigning : public SigningTest {
 protected:
  static void SetUpTestSuite() {
    SigningTest::SetUpTestSuite();
    const testing::TestCert* ca = &Pki().intermediate;
    rsa_ = std::make_unique<testing::TestCert>(testing::MakeCert(
        {kRsaSubject, -testing::kDay, 200 * testing::kDay, false, testing::KeyKind::kRsa2048}, ca));
    ec_ = std::make_unique<testing::TestCert>(testing::MakeCert({kEcSubject}, ca));
    keyless_ = std::make_unique<testing::TestCert>(testing::MakeCert({kKeylessSubject}, ca));
  }
  static void TearDownTestSuite() {
    rsa_.reset();
    ec_.reset();
    keyless_.reset();
    SigningTest::TearDownTestSuite();
  }

  void SetUp() override {
    SigningTest::SetUp();
    token_ = std::make_unique<SoftToken>("Office Card");
    token_->Put(*rsa_, "0a", "Ann signing");
    token_->Put(*ec_, "0b", "Eve signing");
    token_->Put(*keyless_, "0c", "Kim, key on another card", false);
    pin_.answer = SoftToken::kUserPin;
  }
  void TearDown() override {
    token_.reset();
    SigningTest::TearDown();
  }

  // A call on the token, narrowed to one certificate by the person filter.
  SignCall OnToken(const std::string& input, const std::string& person) {
    SignCall sign(input);
    sign.store = com::Variant::Text(token_->Uri());
    sign.person = com::Variant::Text(person);
    return sign;
  }

  static std::unique_ptr<testing::TestCert> rsa_;
  static std::unique_ptr<testing::TestCert> ec_;
  static std::unique_ptr<testing::TestCert> keyless_;
  std::unique_ptr<SoftToken> token_;
};

std::unique_ptr<testing::TestCert> TokenSigning::rsa_;
std::unique_ptr<testing::TestCert> TokenSigning::ec_;
std::unique_ptr<testing::TestCert> TokenSigning::keyless_;

struct Layout {
  const char* why;
  bool zip;  // SignZipFile
  bool detached;
  bool binary;
  bool credentials;
  bool encrypt;
};

const Layout kLayouts[] = {
    {"detached, Base64", false, true, false, false, false},
    {"detached, binary", false, true, true, false, false},
    {"attached, binary", false, false, true, false, false},
    {"attached, Base64, encrypted under the credentials", false, false, false, true, true},
    {"attached, binary, packed under the password", true, false, true, true, true},
};

TEST_F(TokenSigning, EveryLayoutSignsWithTheTokenKeyAndVerifies) {
  const Bytes data = Bytes("token data\r\n\x00\xFF", 14);
  int n = 0;
  for (const auto& [cert, subject] :
       {std::pair{rsa_.get(), kRsaSubject}, std::pair{ec_.get(), kEcSubject}}) {
    for (const Layout& layout : kLayouts) {
      SCOPED_TRACE(subject + " / " + layout.why);
      const std::string folder = "c" + std::to_string(n++);
      const std::string input = Put(folder + "/in/data.bin", data);
      const std::string signature =
          W(folder + "/in/data" + (layout.detached ? "_DSignature.txt" : "_ContentSignature.txt"));
      pin_.tokens.clear();

      SignCall sign = OnToken(input, subject.substr(3, 9));
      sign.detached = com::Variant::Bool(layout.detached);
      sign.binary = com::Variant::Bool(layout.binary);
      if (layout.credentials) {
        sign.user = com::Variant::Text(kUser);
        sign.password = com::Variant::Text(kPassword);
      }
      sign.encrypt = com::Variant::Bool(layout.encrypt);
      ASSERT_TRUE(layout.zip ? CallSignZipFile(sign) : CallSignFile(sign)) << sign.Message();
      EXPECT_EQ(sign.Message(), SignedText(signature, token_->Uri(), subject))
          << "the store is named as given";
      EXPECT_EQ(pin_.tokens, std::vector<std::string>{"Office Card"}) << "one PIN per call";
      EXPECT_EQ(chooser_.calls, 0);

      // Our verifier, on the signature file (or the packed copy).
      VerifyCall verify(layout.zip ? W(folder + "/in/data_ContentSignature.trel") : signature);
      verify.detached = com::Variant::Bool(layout.detached);
      verify.binary = com::Variant::Bool(layout.binary);
      verify.original = com::Variant::Text(layout.detached ? input : "x");
      if (layout.credentials) {
        verify.user = com::Variant::Text(kUser);
        verify.password = com::Variant::Text(kPassword);
        verify.decrypt = com::Variant::Bool(layout.encrypt);
      }
      ASSERT_TRUE(layout.zip ? CallVerifyZipFile(verify) : CallVerifyFile(verify))
          << verify.Message();
      EXPECT_EQ(verify.Details(), (std::vector<std::string>{ChainDetails(*cert, subject)}));
      if (!layout.detached) {
        EXPECT_EQ(testing::ReadFile(verify.Original()), data);
      }

      // The openssl program, on the plain binary messages: the content is the file's bytes
      // with the reader's zero byte (detached), or carried inside (attached).
      if (layout.binary && !layout.credentials) {
        Put(folder + "/content.bin", data + Bytes(1, '\0'));
        EXPECT_EQ(
            Openssl("cms -verify -binary -noverify -inform DER -in " + folder + "/in/" +
                    fs::path(signature).filename().string() + " -out " + folder + "/out.bin" +
                    (layout.detached ? " -content " + folder + "/content.bin" : std::string())),
            0);
        EXPECT_EQ(testing::ReadFile(W(folder + "/out.bin")),
                  layout.detached ? data + Bytes(1, '\0')
                                  : data + Bytes(1, '\0') + AnsiToUnits("data.bin08"));
      }
    }
  }
}

// The message of a token key has the form of a file key's: SHA-256, a signing time, the signer
// and its issuing CA from the CA store, not the root.
TEST_F(TokenSigning, TheMessageHasTheFormOfAFileKeys) {
  for (const std::string& subject : {kRsaSubject, kEcSubject}) {
    SCOPED_TRACE(subject);
    const std::string input = Put(subject.substr(3, 3) + ".bin", "form");
    SignCall sign = OnToken(input, subject.substr(3, 9));
    sign.binary = com::Variant::Bool(true);
    ASSERT_TRUE(CallSignFile(sign)) << sign.Message();
    std::string printed;
    ASSERT_EQ(testing::RunCommand("openssl cms -cmsout -print -inform DER -in '" +
                                      input.substr(0, input.rfind('.')) + "_DSignature.txt'",
                                  &printed),
              0);
    EXPECT_NE(printed.find("sha256"), std::string::npos);
    EXPECT_NE(printed.find("signingTime"), std::string::npos);
    std::size_t certificates = 0;
    for (std::size_t at = printed.find("d.certificate:"); at != std::string::npos;
         at = printed.find("d.certificate:", at + 1))
      ++certificates;
    EXPECT_EQ(certificates, 2u) << "signer and issuing CA";
  }
}

TEST_F(TokenSigning, ACertificateWhoseKeyIsNotOnTheTokenIsNoCandidate) {
  const std::string input = Put("a.txt", "content");
  SignCall sign = OnToken(input, "Kim Keyless");
  EXPECT_FALSE(CallSignFile(sign));
  EXPECT_EQ(sign.Message(), " No signing certificate / store can be found. ");
  EXPECT_EQ(List(), std::vector<std::string>{"a.txt"});

  // Named by its object label in the URI, it is the only certificate of the store, and still
  // no candidate.
  SignCall by_label(input);
  by_label.store = com::Variant::Text(token_->Uri() + ";object=Kim%2C%20key%20on%20another%20card");
  EXPECT_FALSE(CallSignFile(by_label));
  EXPECT_EQ(by_label.Message(), " No signing certificate / store can be found. ");
  EXPECT_EQ(chooser_.calls, 0);
}

// Two certificates with their keys on the token: the chooser is offered those two (not the one
// without a key) and the one chosen signs.
TEST_F(TokenSigning, TwoTokenCertificatesGoToTheChooser) {
  const std::string input = Put("a.txt", "choose");
  struct Case {
    const char* why;
    std::string pick;
    bool signed_;
    std::string subject;
  } const cases[] = {
      {"the EC certificate chosen", "Eve Token", true, kEcSubject},
      {"the RSA certificate chosen", "Ann Token", true, kRsaSubject},
      {"the chooser cancelled", "", false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    chooser_ = ChooserLog{};
    chooser_.pick = c.pick;
    pin_.tokens.clear();
    SignCall sign = OnToken(input, "");
    EXPECT_EQ(CallSignFile(sign), c.signed_) << sign.Message();
    EXPECT_EQ(chooser_.calls, 1);
    std::vector<std::string> offered = chooser_.subjects;
    std::sort(offered.begin(), offered.end());
    EXPECT_EQ(offered, (std::vector<std::string>{kRsaSubject, kEcSubject}));
    EXPECT_EQ(chooser_.title, "Sign ");
    EXPECT_EQ(chooser_.prompt, "Please select a certificate to sign " + input + ".");
    EXPECT_EQ(pin_.tokens.size(), 1u);
    if (c.signed_) {
      EXPECT_EQ(sign.Message(), SignedText(W("a_DSignature.txt"), token_->Uri(), c.subject));
      VerifyCall verify(W("a_DSignature.txt"));
      verify.original = com::Variant::Text(input);
      ASSERT_TRUE(CallVerifyFile(verify)) << verify.Message();
      EXPECT_EQ(verify.Details(), (std::vector<std::string>{ChainDetails(
                                      c.subject == kRsaSubject ? *rsa_ : *ec_, c.subject)}));
      fs::remove(W("a_DSignature.txt"));
    } else {
      EXPECT_EQ(sign.Message(),
                " Signing process cancelled because, Certificate selection dialog was canceled. ");
    }
  }
}

// The failures a user meets at the token: the store text, then the reason. The PIN is asked
// at most once, a wrong one is tried once, and nothing is written.
TEST_F(TokenSigning, TokenFailuresGiveTheStoreTextAndTheReason) {
  const std::string input = Put("a.txt", "content");
  struct Case {
    const char* why;
    std::string store;
    std::optional<std::string> pin;
    std::optional<std::string> module;
    std::string reason;
    std::size_t pin_requests;
  } const cases[] = {
      {"a wrong PIN",
       token_->Uri(),
       "111111",
       {},
       "The PIN for the token \"Office Card\" is not correct.",
       1},
      {"the PIN entry cancelled",
       token_->Uri(),
       std::nullopt,
       {},
       "No PIN was given for the token \"Office Card\".",
       1},
      {"no such token",
       "pkcs11:token=Home%20Card",
       SoftToken::kUserPin,
       {},
       "No token matching \"pkcs11:token=Home%20Card\" is present in the PKCS#11 module \"" +
           SoftToken::ModulePath() + "\" (VELLUM_PKCS11_MODULE).",
       0},
      {"no such module", token_->Uri(), SoftToken::kUserPin, W("none.so"),
       "The PKCS#11 module \"" + W("none.so") + "\" (VELLUM_PKCS11_MODULE) could not be loaded: " +
           W("none.so") + ": cannot open shared object file: No such file or directory.",
       0},
      {"a PIN in the store name",
       token_->Uri() + "?pin-value=" + SoftToken::kUserPin,
       SoftToken::kUserPin,
       {},
       "The PKCS#11 URI \"" + token_->Uri() +
           "\" is not valid: a PIN is never given in a store name; the program asks for it.",
       0},
  };
  for (bool zip : {false, true}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(zip ? "SignZipFile: " : "SignFile: ") + c.why);
      pin_.answer = c.pin;
      pin_.tokens.clear();
      std::optional<testing::ScopedEnv> module;
      if (c.module) module.emplace("VELLUM_PKCS11_MODULE", *c.module);
      SignCall sign(input);
      sign.store = com::Variant::Text(c.store);
      EXPECT_FALSE(zip ? CallSignZipFile(sign) : CallSignFile(sign));
      EXPECT_EQ(sign.Message(), kStoreText + kCrLf + "Desc." + c.reason);
      EXPECT_EQ(pin_.tokens.size(), c.pin_requests);
      EXPECT_EQ(List(), std::vector<std::string>{"a.txt"});
    }
  }
}

}  // namespace
}  // namespace vellum::signing_test
