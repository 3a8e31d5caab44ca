// SignFile's attached and encrypted signature, written as the file is read, against the message
// made whole: the signature file must be the bytes EncryptMessage gives for the signed message
// it carries, with the same random values, in both encodings and under every cipher code.
#include <gtest/gtest.h>

#include <openssl/evp.h>

#include <random>

#include "library/com/client.h"
#include "library/com/variant.h"
#include "library/digital_sign/digital_sign.h"
#include "library/encryption/encryption_logic.h"
#include "library/platform/files.h"
#include "library/platform/text.h"
#include "tests/support/fixed_random.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_pki.h"

namespace vellum {
namespace {

using com::Variant;

class EncryptedSigning : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // An RSA signer: its signature draws no random values of the lengths the encryption
    // draws, so the encryption sees the same values inside SignFile as in a fresh run.
    pki_ = new testing::TestPki(
        testing::TestPki::Make("CN=Ann Lee, O=Example Ltd, C=GB", testing::KeyKind::kRsa2048));
  }
  static void TearDownTestSuite() {
    delete pki_;
    pki_ = nullptr;
  }
  void SetUp() override {
    testing::PutInStore("My", pki_->signer);
    ASSERT_EQ(factory_.CreateInstance(nullptr, IID__DigitalSign, sign_.out()), com::S_OK);
  }

  // SignFile, attached and encrypted, under the credentials ann/pw; the message on failure.
  std::string Sign(const std::string& input, bool binary, std::int32_t code) {
    Variant name = Variant::Text(input), sep = Variant::Bool(false), bin = Variant::Bool(binary),
            store = Variant::Text(""), suffix = Variant::Text(""), message = Variant::Text(""),
            user = Variant::Text("ann"), password = Variant::Text("pw"),
            encrypt = Variant::Bool(true), person = Variant::Text(""), mail = Variant::Text(""),
            company = Variant::Text(""), hash_alg = Variant::Long(4), enc_alg = Variant::Long(code),
            result;
    EXPECT_EQ(
        sign_->SignFile(name.value(), sep.get(), bin.get(), store.get(), suffix.get(),
                        message.get(), user.get(), password.get(), encrypt.get(), person.get(),
                        mail.get(), company.get(), hash_alg.get(), enc_alg.get(), result.get()),
        com::S_OK);
    return result.value().boolVal == com::VARIANT_TRUE ? "" : message.Utf8();
  }

  // The credentials hash SignFile used: SHA-256 (code 4) of the UTF-16LE of user and password.
  static Bytes Hash() {
    const Bytes units = Utf8ToUtf16le("annpw");
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_Digest(units.data(), units.size(), digest, &size, EVP_sha256(), nullptr);
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    for (unsigned int i = 0; i < size; ++i) {
      hex += kDigits[digest[i] >> 4];
      hex += kDigits[digest[i] & 15];
    }
    return Utf8ToUtf16le(hex);
  }

  testing::TempFolder tmp_;
  testing::ScopedStoreRoot stores_{tmp_.File("stores")};
  com::ClassFactory<DigitalSign> factory_;
  com::ComPtr<_DigitalSign> sign_;
  static testing::TestPki* pki_;
};
testing::TestPki* EncryptedSigning::pki_ = nullptr;

Bytes RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 engine(seed);
  Bytes out(n, '\0');
  for (char& c : out) c = static_cast<char>(engine() & 0xFF);
  return out;
}

// The signature file holds the Base64 lines of the encrypted message: as ANSI text, or as
// UTF-16LE units in binary mode. Opened with the hash, it gives the signed message as the text
// type holds it; encrypted again whole with the same random values, that gives the file back.
TEST_F(EncryptedSigning, TheFileIsTheWholeEncryptionOfItsSignedMessage) {
  const std::string input = tmp_.File("doc.bin");
  const std::string signature = tmp_.File("doc_ContentSignature.txt");
  const std::int32_t codes[] = {0, 2, 3, 4, -1};
  // Empty, one byte, around the cipher blocks and Base64 groups and lines, odd lengths, and
  // several read pieces.
  const std::size_t lengths[] = {0, 1, 2, 3, 7, 8, 9, 16, 47, 48, 49, 1001, 300007};
  int n = 0;
  for (std::size_t length : lengths)
    for (bool binary : {false, true}) {
      const std::int32_t code = codes[n++ % std::size(codes)];
      const std::string why = "length " + std::to_string(length) + " binary " +
                              std::to_string(binary) + " code " + std::to_string(code);
      Bytes data = RandomBytes(length, static_cast<unsigned>(length));
      if (!binary)
        for (char& c : data) c = static_cast<char>(' ' + static_cast<unsigned char>(c) % 95);
      platform::WriteFileAtomic(input, data);
      Bytes file;
      {
        testing::FixedRandomness fixed;
        ASSERT_EQ(Sign(input, binary, code), "") << why;
        file = platform::ReadFileBytes(signature);
      }
      const Bytes text = binary ? file : Utf8ToUtf16le(file);
      Bytes signed_message;
      std::string result;
      ASSERT_TRUE(DecryptMessage(Hash(), text, signed_message, result, code)) << why << result;
      Bytes whole;
      {
        testing::FixedRandomness fixed;
        ASSERT_TRUE(EncryptMessage(signed_message, Hash(), whole, result, code)) << why;
      }
      EXPECT_EQ(text, whole) << why;
    }
}

}  // namespace
}  // namespace vellum
