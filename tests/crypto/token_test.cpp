// Tokens as stores. The URI rules and the choice of module on their own; then a SoftHSM2 token
// made for each test: which certificates it shows and which of them have their key on it,
// signing with those keys (RSA and EC), the PIN asked once per opening, and the code and text of
// every failure a user meets (wrong PIN, no PIN, no token, no module, an ambiguous name).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "library/crypto/signed_data.h"
#include "library/crypto/store.h"
#include "library/crypto/token.h"
#include "tests/crypto/expect_error.h"
#include "tests/support/host_hooks.h"
#include "tests/support/soft_token.h"
#include "tests/support/test_pki.h"

namespace vellum::crypto {
namespace {

using testing::CertOptions;
using testing::KeyKind;
using testing::MakeCert;
using testing::SoftToken;

// ---- URIs ------------------------------------------------------------------------------------

TEST(Pkcs11Uri, AttributesAreReadWithTheirEscapes) {
  struct Case {
    const char* text;
    Pkcs11Uri expected;
  } const cases[] = {
      {"pkcs11:", {}},
      {"pkcs11:token=Office%20Card", {"Office Card", {}, {}, {}, {}, {}}},
      {"PKCS11:token=A", {"A", {}, {}, {}, {}, {}}},  // the scheme ignores letter case
      {"pkcs11:model=SoftHSM%20v2;manufacturer=SoftHSM%20project;serial=9f3a;token=A%3bB",
       {"A;B", "SoftHSM project", "9f3a", "SoftHSM v2", {}, {}}},
      {"pkcs11:token=T;object=Ann%20Lee;id=%01%ff%00",
       {"T", {}, {}, {}, "Ann Lee", Bytes("\x01\xFF\x00", 3)}},
      {"pkcs11:token=T;type=cert", {"T", {}, {}, {}, {}, {}}},  // type changes nothing here
      {"pkcs11:token=", {"", {}, {}, {}, {}, {}}},              // an empty label is a label
      {"pkcs11:token=caf%C3%A9", {"caf\xC3\xA9", {}, {}, {}, {}, {}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    Pkcs11Uri uri = ParsePkcs11Uri(c.text);
    EXPECT_EQ(uri.token, c.expected.token);
    EXPECT_EQ(uri.manufacturer, c.expected.manufacturer);
    EXPECT_EQ(uri.serial, c.expected.serial);
    EXPECT_EQ(uri.model, c.expected.model);
    EXPECT_EQ(uri.object, c.expected.object);
    EXPECT_EQ(uri.id, c.expected.id);
    EXPECT_TRUE(IsPkcs11Uri(c.text));
  }
  for (const char* folder_store : {"My", "pkcs11", "pkcs1:token=A", ""})
    EXPECT_FALSE(IsPkcs11Uri(folder_store)) << folder_store;
}

// Refused rather than half-read: an attribute we did not apply would pick a token the user did
// not name, and a PIN must never travel in a store name.
TEST(Pkcs11Uri, MalformedOrUnservedUrisAreRefusedWithTheReason) {
  struct Case {
    const char* text;
    const char* reason;
  } const cases[] = {
      {"pkcs11:token=A%2", "two hexadecimal digits"},
      {"pkcs11:token=A%zz", "two hexadecimal digits"},
      {"pkcs11:token=A;;model=B", "name=value"},
      {"pkcs11:token", "name=value"},
      {"pkcs11:=A", "name=value"},
      {"pkcs11:token=A;", "name=value"},
      {"pkcs11:token=A;token=B", "\"token\" is given twice"},
      {"pkcs11:slot-id=3", "\"slot-id\" is not supported"},
      {"pkcs11:library-description=X", "\"library-description\" is not supported"},
      {"pkcs11:token=A?pin-value=1234", "never given in a store name"},
      {"pkcs11:token=A?pin-source=file:/tmp/pin", "never given in a store name"},
      {"pkcs11:token=A?module-path=/tmp/evil.so", "\"module-path\" is not supported"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    try {
      ParsePkcs11Uri(c.text);
      ADD_FAILURE() << "accepted";
    } catch (const Error& e) {
      EXPECT_EQ(testing::Hex32(e.number()), testing::Hex32(token_hr::kBadUri));
      EXPECT_NE(e.description().find(c.reason), std::string::npos) << e.description();
      EXPECT_EQ(e.description().find("1234"), std::string::npos) << "the PIN is not repeated";
      EXPECT_TRUE(IsTokenFailure(e.number()));
    }
  }
}

TEST(Pkcs11Uri, AFormattedUriReadsBackToTheSameAttributes) {
  const Pkcs11Uri cases[] = {
      {"Office Card", "Maker; Inc.", "0042", "v2/x", {}, {}},
      {"100% ready?", {}, {}, {}, "key=1&b", Bytes("\x00\x7F\x80", 3)},
      {"", {}, {}, {}, {}, {}},
  };
  for (const auto& uri : cases) {
    const std::string text = FormatPkcs11Uri(uri);
    SCOPED_TRACE(text);
    EXPECT_EQ(text.find_first_of(" ?/&"), std::string::npos) << "reserved bytes escaped";
    EXPECT_EQ(
        std::count(text.begin(), text.end(), ';') + 1,
        !!uri.token + !!uri.manufacturer + !!uri.serial + !!uri.model + !!uri.object + !!uri.id)
        << "\";\" only between attributes";
    Pkcs11Uri back = ParsePkcs11Uri(text);
    EXPECT_EQ(back.token, uri.token);
    EXPECT_EQ(back.manufacturer, uri.manufacturer);
    EXPECT_EQ(back.serial, uri.serial);
    EXPECT_EQ(back.model, uri.model);
    EXPECT_EQ(back.object, uri.object);
    EXPECT_EQ(back.id, uri.id);
  }
}

// ---- The module ------------------------------------------------------------------------------

TEST(TokenModule, ComesFromTheEnvironmentThenTheSettingThenTheProxy) {
  testing::TempFolder home;
  testing::ScopedEnv config("XDG_CONFIG_HOME", home.path());
  std::filesystem::create_directories(home.File("vellum"));
  const std::string setting = home.File("vellum/pkcs11.conf");
  {
    testing::ScopedEnv module("VELLUM_PKCS11_MODULE", "/opt/card/module.so");
    testing::WriteFile(setting, "module = /opt/other.so\n");
    EXPECT_EQ(ChooseModule().path, "/opt/card/module.so");
    EXPECT_EQ(ChooseModule().source, "VELLUM_PKCS11_MODULE");
  }
  testing::ScopedEnv module("VELLUM_PKCS11_MODULE", std::nullopt);
  testing::WriteFile(setting, "# the card of the office\n\n  module =  /opt/card/v2.so  \r\n");
  EXPECT_EQ(ChooseModule().path, "/opt/card/v2.so");
  EXPECT_EQ(ChooseModule().source, setting);
  testing::WriteFile(setting, "# no module line\nmodules = /opt/x.so\n");
  const ModuleChoice proxy = ChooseModule();
  EXPECT_EQ(proxy.source, "p11-kit proxy");
  EXPECT_NE(proxy.path.find("p11-kit"), std::string::npos) << proxy.path;
  std::filesystem::remove(setting);
  EXPECT_EQ(ChooseModule().source, "p11-kit proxy");
  {
    testing::ScopedEnv relative("XDG_CONFIG_HOME", "relative");
    testing::ScopedEnv h("HOME", home.path() + "/h");
    std::filesystem::create_directories(home.File("h/.config/vellum"));
    testing::WriteFile(home.File("h/.config/vellum/pkcs11.conf"), "module=/opt/home.so\n");
    EXPECT_EQ(ChooseModule().path, "/opt/home.so") << "XDG paths must be absolute";
  }
}

TEST(TokenLogin, EachRefusalOfTheTokenHasItsCodeAndText) {
  struct Case {
    unsigned long ckr;
    std::int32_t code;
    const char* text;
  } const cases[] = {
      {0xA0, token_hr::kWrongPin, "The PIN for the token \"Card\" is not correct."},
      {0xA1, token_hr::kWrongPin, "The PIN for the token \"Card\" is not correct."},
      {0xA2, token_hr::kWrongPin, "The PIN for the token \"Card\" is not correct."},
      {0xA4, token_hr::kPinLocked,
       "The PIN of the token \"Card\" is locked; it must be unblocked before the token can "
       "sign."},
      {0xA3, token_hr::kPinLocked,
       "The PIN of the token \"Card\" has expired; it must be changed first."},
      {0x32, token_hr::kNoToken, "The token \"Card\" was removed."},
      {0xE0, token_hr::kNoToken, "The token \"Card\" was removed."},
      {0x30, token_hr::kTokenFailed, "The token \"Card\" refused the login (PKCS#11 error 0x30)."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    Error e = LoginError(c.ckr, "Card");
    EXPECT_EQ(testing::Hex32(e.number()), testing::Hex32(c.code));
    EXPECT_EQ(e.description(), c.text);
    EXPECT_TRUE(IsTokenFailure(e.number()));
  }
  for (std::int32_t other : {hr::kStoreOpen, hr::kInvalidArg, hr::kFail, hr::kBadData})
    EXPECT_FALSE(IsTokenFailure(other)) << testing::Hex32(other);
}

// ---- A software token ------------------------------------------------------------------------

// The token holds an RSA and an EC certificate with their keys, and a third certificate whose
// key is not on it.
class TokenStore : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    rsa_ = new testing::TestCert(MakeCert({"CN=Token Rsa, O=Vellum Test, C=GB", -testing::kDay,
                                           30 * testing::kDay, false, KeyKind::kRsa2048}));
    ec_ = new testing::TestCert(MakeCert({"CN=Token Ec, O=Vellum Test, C=GB"}));
    loose_ = new testing::TestCert(MakeCert({"CN=Key Elsewhere, O=Vellum Test, C=GB"}));
  }
  static void TearDownTestSuite() {
    delete rsa_;
    delete ec_;
    delete loose_;
  }

  void SetUp() override {
    token_.Put(*rsa_, "01", "Signing RSA");
    token_.Put(*ec_, "02", "Signing EC");
    token_.Put(*loose_, "03", "No key here", false);
    hooks_.set_pin(SoftToken::kUserPin);
  }

  Certificates Open(const std::string& uri) {
    return Store::Open(kCurrentUserStore, uri, kStoreReadOnly).Certificates();
  }

  static std::map<std::string, bool> KeysBySubject(const Certificates& certs) {
    std::map<std::string, bool> out;
    for (const auto& c : certs.items()) out[c.SubjectName()] = c.HasPrivateKey();
    return out;
  }

  static testing::TestCert* rsa_;
  static testing::TestCert* ec_;
  static testing::TestCert* loose_;
  testing::ScopedHostHooks hooks_;
  SoftToken token_;
};

testing::TestCert* TokenStore::rsa_ = nullptr;
testing::TestCert* TokenStore::ec_ = nullptr;
testing::TestCert* TokenStore::loose_ = nullptr;

TEST_F(TokenStore, ShowsEveryCertificateAndWhichHaveTheirKeyOnTheToken) {
  Certificates certs = Open(token_.Uri());
  EXPECT_EQ(KeysBySubject(certs), (std::map<std::string, bool>{
                                      {rsa_->Subject(), true},
                                      {ec_->Subject(), true},
                                      {loose_->Subject(), false},
                                  }));
  EXPECT_EQ(hooks_.pin_requests(), std::vector<std::string>{"Office Card"}) << "asked once";
  Certificates signing = certs.Find(kFindExtendedProperty, kPropertyKeyProvider);
  EXPECT_EQ(signing.Count(), 2) << "the certificate without its key is no signing candidate";

  std::vector<std::string> listed;
  for (const auto& row : ListStore(token_.Uri()))
    listed.push_back(row.subject + (row.has_key ? " key " : " - ") + row.thumbprint);
  std::vector<std::string> expected;
  for (const auto* cert : {rsa_, ec_, loose_})
    expected.push_back(cert->Subject() + (cert == loose_ ? " - " : " key ") +
                       cert->ToCertificate(false).Thumbprint());
  std::sort(listed.begin(), listed.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(listed, expected);
}

TEST_F(TokenStore, ObjectAndIdNarrowTheCertificates) {
  struct Case {
    std::string suffix;
    std::vector<std::string> subjects;
  } const cases[] = {
      {";object=Signing%20EC", {ec_->Subject()}},
      {";id=%01", {rsa_->Subject()}},
      {";id=%03;object=No%20key%20here", {loose_->Subject()}},
      {";id=%02;object=Signing%20RSA", {}},
      {";object=signing%20ec", {}},  // labels compare exactly
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.suffix);
    std::vector<std::string> subjects;
    const Certificates certs = Open(token_.Uri() + c.suffix);
    for (const auto& cert : certs.items()) subjects.push_back(cert.SubjectName());
    EXPECT_EQ(subjects, c.subjects);
  }
}

// The keys sign where they are: the message verifies here and with the openssl program, with
// the certificate that was chosen as its signer.
TEST_F(TokenStore, RsaAndEcKeysSignOnTheToken) {
  testing::TempFolder work;
  const Bytes content = "signed on the token\r\n";
  testing::WriteFile(work.File("content.bin"), content);
  for (const auto& [cert, name] : {std::pair{rsa_, "Token Rsa"}, std::pair{ec_, "Token Ec"}}) {
    SCOPED_TRACE(name);
    Certificates certs = Open(token_.Uri()).Find(kFindSubjectName, name);
    ASSERT_EQ(certs.Count(), 1);
    Signer signer;
    signer.SetCertificate(certs.Item(1));
    certs = Certificates();  // the store is gone; the key keeps the token open
    SignedData data;
    data.SetContent(content);
    const Bytes message = data.Sign(signer, true, kEncodeBinary);

    SignedData check;
    check.SetContent(content);
    check.Verify(message, true);
    ASSERT_EQ(check.Signers().size(), 1u);
    EXPECT_EQ(check.Signers()[0].certificate().SubjectName(), cert->Subject());

    testing::WriteFile(work.File("message.der"), message);
    EXPECT_EQ(testing::RunCommand("openssl cms -verify -binary -noverify -inform DER -in '" +
                                  work.File("message.der") + "' -content '" +
                                  work.File("content.bin") + "' -out /dev/null 2>&1"),
              0);
  }
}

// One opening asks once; a store opened while another of the same token is still held finds
// the token logged in and does not ask again.
TEST_F(TokenStore, ThePinIsAskedOncePerOpening) {
  {
    Certificates first = Open(token_.Uri());
    Certificates second = Open(token_.Uri() + ";id=%02");
    EXPECT_EQ(second.Find(kFindExtendedProperty, kPropertyKeyProvider).Count(), 1);
    EXPECT_EQ(hooks_.pin_requests().size(), 1u);
  }
  Open(token_.Uri());
  EXPECT_EQ(hooks_.pin_requests().size(), 2u) << "a later opening logs in afresh";
}

TEST_F(TokenStore, EveryFailureNamesItsReason) {
  testing::TempFolder other;
  testing::WriteFile(other.File("not-a-module.so"), "text, not a library");
  struct Case {
    const char* why;
    std::string uri;
    std::optional<std::string> pin;
    std::optional<std::string> module;  // VELLUM_PKCS11_MODULE when set
    std::int32_t code;
    std::string text;
    std::size_t pin_requests;
  } const cases[] = {
      {"a wrong PIN is tried once",
       token_.Uri(),
       "999999",
       {},
       token_hr::kWrongPin,
       "The PIN for the token \"Office Card\" is not correct.",
       1},
      {"the user gave no PIN",
       token_.Uri(),
       std::nullopt,
       {},
       token_hr::kNoPin,
       "No PIN was given for the token \"Office Card\".",
       1},
      {"an empty PIN is no PIN",
       token_.Uri(),
       "",
       {},
       token_hr::kNoPin,
       "No PIN was given for the token \"Office Card\".",
       1},
      {"no such token",
       "pkcs11:token=Home%20Card",
       SoftToken::kUserPin,
       {},
       token_hr::kNoToken,
       "No token matching \"pkcs11:token=Home%20Card\" is present in the PKCS#11 module",
       0},
      {"no such serial",
       token_.Uri() + ";serial=0000",
       SoftToken::kUserPin,
       {},
       token_hr::kNoToken,
       "No token matching",
       0},
      {"the module is missing", token_.Uri(), SoftToken::kUserPin, other.File("missing.so"),
       token_hr::kNoModule,
       "The PKCS#11 module \"" + other.File("missing.so") +
           "\" (VELLUM_PKCS11_MODULE) could not be loaded: ",
       0},
      {"the module is no library", token_.Uri(), SoftToken::kUserPin, other.File("not-a-module.so"),
       token_hr::kNoModule, "could not be loaded", 0},
      {"a library that is no PKCS#11 module", token_.Uri(), SoftToken::kUserPin, "libz.so.1",
       token_hr::kNoModule,
       "The file \"libz.so.1\" (VELLUM_PKCS11_MODULE) is not a PKCS#11 module.", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    testing::ScopedHostHooks hooks;
    hooks.set_pin(c.pin);
    std::optional<testing::ScopedEnv> module;
    if (c.module) module.emplace("VELLUM_PKCS11_MODULE", *c.module);
    try {
      Open(c.uri);
      ADD_FAILURE() << "opened";
    } catch (const Error& e) {
      EXPECT_EQ(testing::Hex32(e.number()), testing::Hex32(c.code));
      EXPECT_EQ(e.description().substr(0, c.text.size()) == c.text ||
                    e.description().find(c.text) != std::string::npos,
                true)
          << e.description();
      EXPECT_EQ(e.description().find("999999"), std::string::npos) << "no PIN in a message";
    }
    EXPECT_EQ(hooks.pin_requests().size(), c.pin_requests);
  }
  // After all that the right PIN still opens the token: nothing was locked by the tests.
  testing::ScopedHostHooks hooks;
  hooks.set_pin(SoftToken::kUserPin);
  EXPECT_EQ(Open(token_.Uri()).Count(), 3);
}

// States SoftHSM2 cannot reach, made by a module between us and it (pkcs11_shim.c): a PIN the
// token reports locked is not asked for at all (a try would be wasted); one that locks at the
// login, or a card pulled out, is asked once and named.
TEST_F(TokenStore, ALockedPinOrAPulledCardIsNamed) {
  testing::ScopedEnv shim("VELLUM_PKCS11_MODULE", VELLUM_TEST_PKCS11_SHIM);
  testing::ScopedEnv target("VELLUM_SHIM_MODULE", SoftToken::ModulePath());
  struct Case {
    const char* mode;
    std::int32_t code;
    const char* text;
    std::size_t pin_requests;
  } const cases[] = {
      {"locked", token_hr::kPinLocked,
       "The PIN of the token \"Office Card\" is locked; it must be unblocked before the token "
       "can sign.",
       0},
      {"lock-on-login", token_hr::kPinLocked,
       "The PIN of the token \"Office Card\" is locked; it must be unblocked before the token "
       "can sign.",
       1},
      {"removed", token_hr::kNoToken, "The token \"Office Card\" was removed.", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    testing::ScopedEnv mode("VELLUM_SHIM_MODE", c.mode);
    testing::ScopedHostHooks hooks;
    hooks.set_pin(SoftToken::kUserPin);
    try {
      Open(token_.Uri());
      ADD_FAILURE() << "opened";
    } catch (const Error& e) {
      EXPECT_EQ(testing::Hex32(e.number()), testing::Hex32(c.code));
      EXPECT_EQ(e.description(), c.text);
    }
    EXPECT_EQ(hooks.pin_requests().size(), c.pin_requests);
  }
  // Through the same module with nothing changed, the token opens.
  testing::ScopedEnv mode("VELLUM_SHIM_MODE", "none");
  testing::ScopedHostHooks hooks;
  hooks.set_pin(SoftToken::kUserPin);
  EXPECT_EQ(KeysBySubject(Open(token_.Uri())).size(), 3u);
}

// A name that fits two tokens is refused rather than guessed; the label makes it one.
TEST_F(TokenStore, ANameThatFitsTwoTokensIsRefused) {
  token_.AddToken("Second Card");
  token_.Put(*ec_, "09", "Second EC", true, "Second Card");
  try {
    Open("pkcs11:");
    ADD_FAILURE() << "opened";
  } catch (const Error& e) {
    EXPECT_EQ(testing::Hex32(e.number()), testing::Hex32(token_hr::kBadUri));
    // In the module's slot order, which SoftHSM2 does not fix.
    const std::string& text = e.description();
    EXPECT_TRUE(
        text.find("matches 2 tokens (\"Office Card\", \"Second Card\")") != std::string::npos ||
        text.find("matches 2 tokens (\"Second Card\", \"Office Card\")") != std::string::npos)
        << text;
  }
  EXPECT_TRUE(hooks_.pin_requests().empty());
  EXPECT_EQ(Open("pkcs11:token=Second%20Card").Count(), 1);
  EXPECT_EQ(hooks_.pin_requests(), std::vector<std::string>{"Second Card"});
}

TEST_F(TokenStore, TokensAreListedWithAUriThatOpensThem) {
  std::vector<TokenRow> ready;
  for (const auto& row : ListTokens())
    if (row.initialized) ready.push_back(row);
  ASSERT_EQ(ready.size(), 1u);
  EXPECT_EQ(ready[0].label, "Office Card");
  EXPECT_EQ(ready[0].manufacturer, "SoftHSM project");
  EXPECT_TRUE(ready[0].login_required);
  EXPECT_FALSE(ready[0].pin_locked);
  EXPECT_EQ(ready[0].uri.rfind("pkcs11:token=Office%20Card;manufacturer=SoftHSM%20project;", 0), 0u)
      << ready[0].uri;
  EXPECT_EQ(Open(ready[0].uri).Count(), 3);
  EXPECT_TRUE(hooks_.pin_requests().size() == 1) << "listing tokens needs no PIN";
}

// Without VELLUM_PKCS11_MODULE and a setting, the p11-kit proxy loads the modules registered on
// the system, SoftHSM2's among them (its package registers it).
TEST_F(TokenStore, TheP11KitProxyFindsTheRegisteredModule) {
  testing::TempFolder config;
  testing::ScopedEnv xdg("XDG_CONFIG_HOME", config.path());
  testing::ScopedEnv module("VELLUM_PKCS11_MODULE", std::nullopt);
  EXPECT_EQ(ChooseModule().source, "p11-kit proxy");
  EXPECT_EQ(KeysBySubject(Open(token_.Uri())).size(), 3u);

  std::filesystem::create_directories(config.File("vellum"));
  testing::WriteFile(config.File("vellum/pkcs11.conf"),
                     "module = " + SoftToken::ModulePath() + "\n");
  EXPECT_EQ(ChooseModule().path, SoftToken::ModulePath());
  EXPECT_EQ(KeysBySubject(Open(token_.Uri())).size(), 3u);
}

}  // namespace
}  // namespace vellum::crypto
