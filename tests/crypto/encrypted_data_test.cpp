// Password encryption: round trips per cipher code, interop with `openssl cms -pwri_password`
// both ways, and the wrong-password / damaged-text distinction.
#include <gtest/gtest.h>

#include "library/crypto/codec.h"
#include "library/crypto/encrypted_data.h"
#include "library/platform/text.h"
#include "tests/crypto/expect_error.h"
#include "tests/support/test_pki.h"

namespace vellum::crypto {
namespace {

// Each usable code and the `openssl cms` cipher option that writes the same cipher.
struct CipherCase {
  std::int32_t code;
  const char* openssl_option;
};
const CipherCase kCiphers[] = {{kEncryptRc2, "-rc2"},
                               {kEncryptDes, "-des"},
                               {kEncrypt3Des, "-des3"},
                               {kEncryptAes256, "-aes256"}};

// RC2 and DES live in OpenSSL's legacy provider; the openssl program needs it named.
constexpr char kProviders[] = " -provider legacy -provider default ";

Bytes Encrypt(const Bytes& content, const Bytes& password, std::int32_t code, int encoding = 0) {
  EncryptedData data;
  data.SetContent(content);
  data.SetSecret(password);
  data.SetAlgorithm(code);
  return data.Encrypt(encoding);
}

Bytes Decrypt(const Bytes& message, const Bytes& password) {
  EncryptedData data;
  data.SetSecret(password);
  data.Decrypt(message);
  return data.Content();
}

class EncryptedDataTest : public ::testing::Test {
 protected:
  testing::TempFolder work_;
  int Openssl(const std::string& args) {
    std::string log;
    int rc = testing::RunCommand("cd '" + work_.path() + "' && openssl " + args + " 2>&1", &log);
    if (rc != 0) std::cerr << "openssl " << args << ":\n" << log;
    return rc;
  }
};

const Bytes kText = Utf8ToUtf16le("Geheime Nachricht – ünïcödé\r\n");
const Bytes kPassword = "pässwörd 1";  // UTF-8, as the callers hand it

TEST_F(EncryptedDataTest, EveryCodeRoundTripsAnyBytes) {
  const Bytes contents[] = {kText, Bytes(1, '\0'), Bytes("\x01\x02\x03", 3), Bytes(4097, '\xFF')};
  for (const auto& c : kCiphers)
    for (const auto& content : contents) {
      Bytes message = Encrypt(content, kPassword, c.code);
      EXPECT_EQ(Decrypt(message, kPassword), content) << "code " << c.code;
    }
}

TEST_F(EncryptedDataTest, OutputIsBase64OfEnvelopedDataInOurLayout) {
  Bytes message = Encrypt(kText, kPassword, kEncryptAes256);
  EXPECT_EQ(message.substr(message.size() - 2), "\r\n");
  for (std::size_t start = 0; start < message.size();) {
    std::size_t end = message.find("\r\n", start);
    ASSERT_NE(end, Bytes::npos);
    EXPECT_LE(end - start, 64u);
    start = end + 2;
  }
  Bytes der = Encrypt(kText, kPassword, kEncryptAes256, 1);
  EXPECT_EQ(static_cast<unsigned char>(der[0]), 0x30);
  EXPECT_EQ(Decrypt(der, kPassword), kText) << "the DER form reads back too";
  EXPECT_NE(Encrypt(kText, kPassword, kEncryptAes256), message) << "fresh salt and IV each time";
}

TEST_F(EncryptedDataTest, OpensslOpensWhatWeWrite) {
  testing::WriteFile(work_.File("pass.txt"), kPassword);
  for (const auto& c : kCiphers) {
    testing::WriteFile(work_.File("enc.b64"), Encrypt(kText, kPassword, c.code));
    ASSERT_EQ(Openssl("base64 -d -in enc.b64 -out enc.der"), 0);
    ASSERT_EQ(Openssl(std::string("cms -decrypt -binary -inform DER -in enc.der -out plain.bin") +
                      kProviders + "-pwri_password \"$(cat pass.txt)\""),
              0)
        << "code " << c.code;
    EXPECT_EQ(testing::ReadFile(work_.File("plain.bin")), kText) << "code " << c.code;
  }
}

TEST_F(EncryptedDataTest, WeOpenWhatOpensslWrites) {
  testing::WriteFile(work_.File("pass.txt"), kPassword);
  testing::WriteFile(work_.File("plain.bin"), kText);
  for (const auto& c : kCiphers) {
    ASSERT_EQ(Openssl(std::string("cms -encrypt -binary -in plain.bin -outform DER -out enc.der ") +
                      c.openssl_option + kProviders + "-pwri_password \"$(cat pass.txt)\""),
              0);
    ASSERT_EQ(Openssl(std::string("cms -encrypt -binary -in plain.bin -outform PEM -out enc.pem ") +
                      c.openssl_option + kProviders + "-pwri_password \"$(cat pass.txt)\""),
              0);
    EXPECT_EQ(Decrypt(testing::ReadFile(work_.File("enc.der")), kPassword), kText)
        << c.openssl_option;
    EXPECT_EQ(Decrypt(testing::ReadFile(work_.File("enc.pem")), kPassword), kText)
        << c.openssl_option << " (PEM)";
  }
}

TEST_F(EncryptedDataTest, WrongPasswordAndDamagedTextFailDifferently) {
  Bytes message = Encrypt(kText, kPassword, kEncryptDes);
  for (const Bytes& wrong : {Bytes("pässwörd 2"), Bytes(""), Bytes("PÄSSWÖRD 1"), kPassword + " "})
    EXPECT_HRESULT(hr::kBadData, Decrypt(message, wrong)) << "password '" << wrong << "'";

  Bytes der = DecodeMessage(message, hr::kFail);
  struct Case {
    Bytes text;
    const char* why;
  };
  const Case damaged[] = {
      {message.substr(0, message.size() / 2), "cut in half"},
      {"bm90IGFuIGVuY3J5cHRlZCBtZXNzYWdl", "Base64 of plain words"},
      {"!!!", "not Base64 at all"},
      {der.substr(0, der.size() - 1), "DER one byte short"},
  };
  for (const auto& d : damaged) {
    std::int32_t n = testing::ErrorNumberOf([&] { Decrypt(d.text, kPassword); });
    EXPECT_LT(n, 0) << d.why;
    EXPECT_NE(n, hr::kBadData) << d.why << " must not read as a wrong password";
  }
}

TEST_F(EncryptedDataTest, UnusableCodesAndSettingsAreRefused) {
  EXPECT_HRESULT(hr::kUnsupportedAlgorithm, Encrypt(kText, kPassword, kEncryptRc4))
      << "RC4 has no CMS form";
  EncryptedData data;
  for (std::int32_t code : {-1, 5, 99}) EXPECT_HRESULT(hr::kInvalidArg, data.SetAlgorithm(code));
  EXPECT_HRESULT(hr::kInvalidArg, data.SetSecret("pw", 1)) << "secret type 1";
  data.SetContent(kText);
  EXPECT_HRESULT(hr::kInvalidArg, data.Encrypt()) << "no password set";
  EXPECT_HRESULT(hr::kInvalidArg, data.Decrypt(Encrypt(kText, kPassword, 4))) << "no password set";
  data.SetSecret("pw");
  EXPECT_HRESULT(hr::kInvalidArg, data.Encrypt(2)) << "encoding 2";
}

TEST_F(EncryptedDataTest, AnEmptyPasswordStillEncrypts) {
  Bytes message = Encrypt(kText, "", kEncryptAes256);
  EXPECT_EQ(Decrypt(message, ""), kText);
  EXPECT_HRESULT(hr::kBadData, Decrypt(message, "x"));
}

}  // namespace
}  // namespace vellum::crypto
