// Damaged password-encrypted messages, through Encryption.DecryptMessage and through
// VerifyFile's decryption of an encrypted attached signature: each gives its own text, the
// output variable keeps what it held, and nothing is restored.
#include <openssl/evp.h>

#include <chrono>
#include <filesystem>

#include "library/com/bstr.h"
#include "library/com/client.h"
#include "library/com/object.h"
#include "library/encryption/encryption.h"
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

// A DER element and, for constructed ones, its children: enough to change one value deep in
// a message and write it out again with every enclosing length right.
struct Tlv {
  unsigned char tag = 0;
  Bytes value;  // primitive elements
  std::vector<Tlv> children;
  bool constructed() const { return (tag & 0x20) != 0; }
};

Tlv ParseTlv(std::string_view& in) {
  Tlv t;
  t.tag = static_cast<unsigned char>(in[0]);
  std::size_t length = static_cast<unsigned char>(in[1]), at = 2;
  if (length & 0x80) {
    const std::size_t count = length & 0x7F;
    length = 0;
    for (std::size_t i = 0; i < count; ++i)
      length = (length << 8) | static_cast<unsigned char>(in[at++]);
  }
  std::string_view body = in.substr(at, length);
  in.remove_prefix(at + length);
  if (t.constructed())
    while (!body.empty()) t.children.push_back(ParseTlv(body));
  else
    t.value = Bytes(body);
  return t;
}

Bytes EncodeTlv(const Tlv& t) {
  Bytes body = t.value;
  for (const Tlv& c : t.children) body += EncodeTlv(c);
  Bytes out(1, static_cast<char>(t.tag));
  if (body.size() < 0x80) {
    out += static_cast<char>(body.size());
  } else {
    Bytes digits;
    for (std::size_t n = body.size(); n != 0; n >>= 8) digits.insert(0, 1, static_cast<char>(n));
    out += static_cast<char>(0x80 | digits.size());
    out += digits;
  }
  return out + body;
}

// Sets the PBKDF2 round count of every password recipient in `t` to `rounds` (big-endian).
int SetPbkdf2Rounds(Tlv& t, const Bytes& rounds) {
  const Bytes pbkdf2("\x2A\x86\x48\x86\xF7\x0D\x01\x05\x0C", 9);
  int changed = 0;
  if (t.children.size() >= 2 && t.children[0].tag == 0x06 && t.children[0].value == pbkdf2 &&
      t.children[1].children.size() >= 2 && t.children[1].children[1].tag == 0x02) {
    t.children[1].children[1].value = rounds;
    ++changed;
  }
  for (Tlv& c : t.children) changed += SetPbkdf2Rounds(c, rounds);
  return changed;
}

std::string Base64(const Bytes& der) {
  std::string out(4 * ((der.size() + 2) / 3) + 1, '\0');
  const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                reinterpret_cast<const unsigned char*>(der.data()),
                                static_cast<int>(der.size()));
  out.resize(static_cast<std::size_t>(n));
  return out;
}

std::string DecodeBase64Lines(const std::string& text) {
  std::string compact;
  for (char c : text)
    if (c != '\r' && c != '\n') compact += c;
  Bytes out(compact.size() / 4 * 3, '\0');
  const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                reinterpret_cast<const unsigned char*>(compact.data()),
                                static_cast<int>(compact.size()));
  std::size_t padding = 0;
  while (padding < compact.size() && compact[compact.size() - 1 - padding] == '=') ++padding;
  out.resize(static_cast<std::size_t>(n) - padding);
  return out;
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

// The message names its own key derivation rounds (RFC 3211). A count in the billions would
// hold the reader for most of an hour; it is refused at once. A modest count that is merely
// not the writer's derives a wrong key and reads as a wrong password, which keeps the case
// honest.
TEST_F(EncryptedBattery, KeyDerivationRoundsAreBounded) {
  auto enc = MakeEncryption();
  com::Bstr plain("Pay 100 to Ann."), password("pw"), encrypted(""), message("");
  VARIANT_BOOL ok = com::VARIANT_FALSE;
  ASSERT_EQ(enc->EncryptMessage(plain.get(), password.get(), encrypted.Address(), message.Address(),
                                4, &ok),
            com::S_OK);
  ASSERT_EQ(ok, com::VARIANT_TRUE) << message.Utf8();
  const Bytes der = DecodeBase64Lines(encrypted.Utf8());

  struct Case {
    const char* why;
    Bytes rounds;
    std::string expected;
  } const cases[] = {
      {"2^31 - 1 rounds", Bytes("\x7F\xFF\xFF\xFF", 4), kChanged},
      {"2^63 - 1 rounds", Bytes("\x7F\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 8), kChanged},
      {"just past a million", Bytes("\x0F\x42\x41", 3), kChanged},
      {"20,000 rounds, not the writer's", Bytes("\x4E\x20", 2), kWrongPassword},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    std::string_view in = der;
    Tlv message_tlv = ParseTlv(in);
    ASSERT_EQ(SetPbkdf2Rounds(message_tlv, c.rounds), 1);
    com::Bstr text(Base64(EncodeTlv(message_tlv))), out("kept"), result("");
    VARIANT_BOOL decrypted = 7;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(enc->DecryptMessage(password.get(), text.Address(), out.Address(), result.Address(),
                                  4, &decrypted),
              com::S_OK);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    EXPECT_EQ(decrypted, com::VARIANT_FALSE);
    EXPECT_EQ(result.Utf8(), c.expected);
    EXPECT_EQ(out.Utf8(), "kept");
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
