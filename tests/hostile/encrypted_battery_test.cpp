// Damaged password-encrypted messages, through Encryption.DecryptMessage and through
// VerifyFile's decryption of an encrypted attached signature: each gives its own text, the
// output variable keeps what it held, and nothing is restored.
#include <filesystem>

#include "library/Encryption.h"
#include "library/com/bstr.h"
#include "library/com/client.h"
#include "library/com/object.h"
#include "tests/hostile/hostile_fixture.h"

namespace vellum::hostile {
namespace {

const std::string kWrongPassword = "Error. The password may not be correct.";
const std::string kChanged = "Error. Encrypted File might have changed.";
const std::string kNothing = "Nothing to Decrypt found.";

com::ComPtr<_Encryption> MakeEncryption() {
  com::ClassFactory<Encryption> factory;
  com::ComPtr<_Encryption> object;
  EXPECT_EQ(factory.CreateInstance(nullptr, IID__Encryption, object.out()), com::S_OK);
  return object;
}

class EncryptedBattery : public HostileTest {};

TEST_F(EncryptedBattery, DecryptMessageOnDamagedTexts) {
  auto enc = MakeEncryption();
  com::Bstr plain("Pay 100 to Ann."), password("pw"), encrypted(""), message("");
  VARIANT_BOOL ok = com::VARIANT_FALSE;
  ASSERT_EQ(enc->EncryptMessage(plain.get(), password.get(), encrypted.Address(), message.Address(),
                                4, &ok),
            com::S_OK);
  ASSERT_EQ(ok, com::VARIANT_TRUE) << message.Utf8();
  const std::string good = encrypted.Utf8();
  const std::size_t middle = good.find("\r\n", good.size() / 2);
  ASSERT_NE(middle, std::string::npos);
  Bytes flipped = good;
  flipped[good.size() / 3] = flipped[good.size() / 3] == 'A' ? 'B' : 'A';

  struct Case {
    const char* why;
    std::string text;
    std::string password;
    std::string expected;
  } const cases[] = {
      // The key unwrap's check bytes catch a wrong password (RFC 3211 section 2.3.2).
      {"a wrong password", good, "pW", kWrongPassword},
      // Once the password was handed over, any other failure reads as a changed file.
      {"cut in half", good.substr(0, good.size() / 2), "pw", kChanged},
      {"cut by its last line", good.substr(0, middle), "pw", kChanged},
      {"one character changed", flipped, "pw", kChanged},
      {"junk inside the Base64", good.substr(0, middle) + "@@" + good.substr(middle), "pw",
       kChanged},
      {"not Base64 at all", "hello, this is plain text", "pw", kChanged},
      {"a zero length text", "", "pw", kNothing},
      {"only blanks", "   ", "pw", kNothing},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    com::Bstr text(c.text), pw(c.password), out("kept"), result("");
    VARIANT_BOOL decrypted = 7;
    ASSERT_EQ(enc->DecryptMessage(pw.get(), text.Address(), out.Address(), result.Address(), 4,
                                  &decrypted),
              com::S_OK);
    EXPECT_EQ(decrypted, com::VARIANT_FALSE);
    EXPECT_EQ(result.Utf8(), c.expected);
    EXPECT_EQ(out.Utf8(), "kept");
    EXPECT_EQ(text.Utf8(), c.text) << "the input is read, never changed";
  }
}

// An encrypted attached signature that was damaged, or is opened with the wrong credentials:
// the early decryption text, and the standing a.txt keeps its bytes.
TEST_F(EncryptedBattery, VerifyFileRestoresNothingFromADamagedEncryptedSignature) {
  const std::string signature = Sign(Put("doc/a.txt", "secret"), false, false, "ann", "pw", true);
  Put("doc/a.txt", "the file already standing here");
  const Bytes good = testing::ReadFile(signature);
  struct Case {
    const char* why;
    Bytes file;
    std::string password;
  } const cases[] = {
      {"a wrong password", good, "pW"},
      {"cut in half", good.substr(0, good.size() / 2), "pw"},
      {"an empty file", "", "pw"},
      {"junk in front", "junk" + good, "pw"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    testing::WriteFile(signature, c.file);
    const Everything before = All();
    for (const char* original : {"x", ""}) {
      VerifyCall call(signature);
      call.Credentials("ann", c.password, true);
      call.original = com::Variant::Text(original);
      EXPECT_FALSE(call.File());
      EXPECT_EQ(call.Message(), "Signature or Certificate is not valid .");
    }
    const Everything after = All();
    EXPECT_TRUE(after == before) << Difference(before, after);
  }
}

}  // namespace
}  // namespace vellum::hostile
