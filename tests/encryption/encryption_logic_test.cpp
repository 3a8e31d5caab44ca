// The Encryption class's two methods: every input check, message and stage, with texts
// carried as UTF-16LE bytes as the binary interface hands them over.
#include "library/encryption/encryption_logic.h"

#include <gtest/gtest.h>

#include "library/crypto/codec.h"
#include "library/crypto/encrypted_data.h"
#include "library/platform/error.h"
#include "library/platform/text.h"
#include "tests/support/temp_folder.h"

namespace vellum {
namespace {

Bytes T(const std::string& utf8) {
  return Utf8ToUtf16le(utf8);
}

const std::string kUntouched = "caller's own text";

struct Encrypted {
  bool ok;
  Bytes message;
  std::string result;
};

Encrypted Encrypt(const Bytes& text, const Bytes& password, std::int32_t code = 0) {
  Encrypted e{false, T("old value"), kUntouched};
  e.ok = EncryptMessage(text, password, e.message, e.result, code);
  return e;
}

struct Decrypted {
  bool ok;
  Bytes plain;
  std::string result;
};

Decrypted Decrypt(const Bytes& password, const Bytes& message, std::int32_t code = 0) {
  Decrypted d{false, T("old value"), kUntouched};
  d.ok = DecryptMessage(password, message, d.plain, d.result, code);
  return d;
}

// The cipher a message was written with: the algorithm identifier's OID in its DER.
int CipherNid(const Bytes& utf16_message) {
  std::string all = crypto::DecodeMessage(Utf16leToUtf8(utf16_message), hr::kFail);
  struct Oid {
    int nid;
    std::string der;
  };
  const Oid oids[] = {
      {NID_rc2_cbc, "\x06\x08\x2A\x86\x48\x86\xF7\x0D\x03\x02"},
      {NID_des_cbc, "\x06\x05\x2B\x0E\x03\x02\x07"},
      {NID_des_ede3_cbc, "\x06\x08\x2A\x86\x48\x86\xF7\x0D\x03\x07"},
      {NID_aes_256_cbc, "\x06\x09\x60\x86\x48\x01\x65\x03\x04\x01\x2A"},
  };
  for (const auto& o : oids)
    if (all.find(o.der) != std::string::npos) return o.nid;
  return NID_undef;
}

TEST(EncryptMessage, InputChecksUseExactComparison) {
  struct Case {
    Bytes text;
    Bytes password;
    bool ok;
    std::string result;
    const char* why;
  };
  const Case cases[] = {
      {T(""), T("pw"), false, "Data to encrypt not found.", "empty text: stage 1"},
      {T(" "), T("pw"), true, kUntouched, "a text of one space is content"},
      {T("text"), T(""), false, "Password not given to decrypt the message.",
       "empty password: stage 3"},
      {T(""), T(""), false, "Data to encrypt not found.", "the text is checked first"},
      {T("text"), T("  "), true, kUntouched, "a password of spaces encrypts"},
  };
  for (const auto& c : cases) {
    Encrypted e = Encrypt(c.text, c.password);
    EXPECT_EQ(e.ok, c.ok) << c.why;
    EXPECT_EQ(e.result, c.result) << c.why;
    if (!c.ok) {
      EXPECT_EQ(e.message, T("old value")) << c.why << ": output must keep its value";
    }
  }
}

TEST(DecryptMessage, InputChecksTrimSpaces) {
  Encrypted good = Encrypt(T("secret text"), T("pw"));
  ASSERT_TRUE(good.ok);
  struct Case {
    Bytes password;
    Bytes message;
    std::string result;
    const char* why;
  };
  const Case cases[] = {
      {T("  "), good.message, "Password not given to decrypt the message.",
       "a password of two spaces"},
      {T(""), good.message, "Password not given to decrypt the message.", "empty password"},
      {T("pw"), T("   "), "Nothing to Decrypt found.", "a message of spaces only"},
      {T("pw"), T(""), "Nothing to Decrypt found.", "an empty message"},
      {T(" "), T(" "), "Password not given to decrypt the message.", "password checked first"},
  };
  for (const auto& c : cases) {
    Decrypted d = Decrypt(c.password, c.message);
    EXPECT_FALSE(d.ok) << c.why;
    EXPECT_EQ(d.result, c.result) << c.why;
    EXPECT_EQ(d.plain, T("old value")) << c.why << ": output must keep its value";
  }
}

TEST(EncryptionRoundTrip, GivesBackTheTextExactly) {
  const Bytes texts[] = {T("Hello"), T(" "), T("Ünïcödé – ☃ \r\n\t end"),
                         Bytes("\x01\x00\xFF", 3) /* odd length binary content */};
  for (std::int32_t code : {0, 2, 3, 4, -1, -7}) {
    for (const auto& text : texts) {
      Encrypted e = Encrypt(text, T("pässwörd"), code);
      ASSERT_TRUE(e.ok) << "code " << code << ": " << e.result;
      EXPECT_EQ(e.result, kUntouched) << "success leaves the caller's message";
      Decrypted d = Decrypt(T("pässwörd"), e.message, code);
      ASSERT_TRUE(d.ok) << "code " << code << ": " << d.result;
      EXPECT_EQ(d.plain, text) << "code " << code;
      EXPECT_EQ(d.result, "Message Decrypted.");
    }
  }
}

TEST(EncryptionRoundTrip, AlgorithmCodesReachTheComponent) {
  struct Case {
    std::int32_t code;
    int nid;
    const char* why;
  };
  const Case cases[] = {
      {0, NID_rc2_cbc, "zero (the default) asks for code 0"},
      {-1, NID_des_cbc, "a negative code asks for 2"},
      {2, NID_des_cbc, "2 as given"},
      {3, NID_des_ede3_cbc, "3 as given"},
      {4, NID_aes_256_cbc, "4 as given"},
  };
  for (const auto& c : cases) {
    Encrypted e = Encrypt(T("x"), T("pw"), c.code);
    ASSERT_TRUE(e.ok) << c.why << ": " << e.result;
    EXPECT_EQ(CipherNid(e.message), c.nid) << c.why;
  }
  Encrypted omitted{false, {}, {}};
  omitted.ok = EncryptMessage(T("x"), T("pw"), omitted.message, omitted.result);
  EXPECT_EQ(CipherNid(omitted.message), NID_rc2_cbc) << "an omitted code is 0";
}

TEST(EncryptMessage, ComponentFailuresCarryTheirDescription) {
  for (std::int32_t code : {1, 5}) {
    Encrypted e = Encrypt(T("text"), T("pw"), code);
    EXPECT_FALSE(e.ok);
    EXPECT_EQ(e.result.rfind("Error while encryption.\r\nDescription is:", 0), 0u) << e.result;
    EXPECT_GT(e.result.size(), std::string("Error while encryption.\r\nDescription is:").size());
    EXPECT_NE(e.result[std::string("Error while encryption.\r\nDescription is:").size()], ' ')
        << "no blank after the colon";
    EXPECT_EQ(e.message, T("old value"));
  }
}

TEST(DecryptMessage, FailuresAfterThePasswordWasSet) {
  Encrypted good = Encrypt(T("secret text"), T("right"), 3);
  ASSERT_TRUE(good.ok);
  struct Case {
    Bytes password;
    Bytes message;
    std::int32_t code;
    std::string result;
    const char* why;
  };
  const Case cases[] = {
      {T("wrong"), good.message, 0, "Error. The password may not be correct.",
       "wrong password: the component's bad-data failure"},
      {T(" right"), good.message, 0, "Error. The password may not be correct.",
       "the password is used untrimmed"},
      {T("right"), T("not an encrypted text"), 0, "Error. Encrypted File might have changed.",
       "damaged text: any other failure once the password was set"},
      {T("right"), good.message.substr(0, good.message.size() / 2), 0,
       "Error. Encrypted File might have changed.", "truncated text"},
      {T("right"), good.message, 9, "Error. Encrypted File might have changed.",
       "an unknown algorithm code fails after the password was set"},
  };
  for (const auto& c : cases) {
    Decrypted d = Decrypt(c.password, c.message, c.code);
    EXPECT_FALSE(d.ok) << c.why;
    EXPECT_EQ(d.result, c.result) << c.why;
    EXPECT_EQ(d.plain, T("old value")) << c.why;
  }
}

TEST(DecryptMessage, SameVariableInAndOut) {
  Encrypted e = Encrypt(T("in place"), T("pw"), 4);
  ASSERT_TRUE(e.ok);
  Bytes variable = e.message;
  std::string result;
  ASSERT_TRUE(DecryptMessage(T("pw"), variable, variable, result, 4)) << result;
  EXPECT_EQ(variable, T("in place"));
}

TEST(DecryptMessage, MessageWithSurroundingSpacesIsUsedAsGiven) {
  Encrypted e = Encrypt(T("spaced"), T("pw"), 4);
  ASSERT_TRUE(e.ok);
  // Base64 readers skip blanks, so the untrimmed text still opens.
  Decrypted d = Decrypt(T("pw"), T("  ") + e.message + T("  "), 4);
  EXPECT_TRUE(d.ok) << d.result;
  EXPECT_EQ(d.plain, T("spaced"));
}

TEST(EncryptionInterop, PasswordBytesAreUtf8OfTheText) {
  // The component sees the UTF-8 of the password, so it opens what the logic wrote.
  Encrypted e = Encrypt(T("x"), T("pässwörd"), 4);
  ASSERT_TRUE(e.ok);
  crypto::EncryptedData data;
  data.SetSecret("p\xC3\xA4ssw\xC3\xB6rd");
  data.Decrypt(Utf16leToUtf8(e.message));
  EXPECT_EQ(data.Content(), T("x"));
}

}  // namespace
}  // namespace vellum
