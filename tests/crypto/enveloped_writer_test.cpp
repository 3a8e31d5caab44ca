// The password-encrypted message written in pieces against the message made whole: the same
// bytes for the same content and random values, for every cipher and both encodings, over
// lengths that fall on and beside the cipher blocks, the Base64 groups and lines, and the DER
// length forms; and the failures only a writer in pieces can meet.
#include "library/crypto/enveloped_writer.h"

#include <gtest/gtest.h>

#include <random>

#include "library/crypto/encrypted_data.h"
#include "library/platform/error.h"
#include "tests/crypto/expect_error.h"
#include "tests/support/fixed_random.h"

namespace vellum::crypto {
namespace {

using testing::FixedRandomness;

const Bytes kPassword = "0123456789ABCDEF0123456789ABCDEF01234567";

Bytes RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 engine(seed);
  Bytes out(n, '\0');
  for (char& c : out) c = static_cast<char>(engine() & 0xFF);
  return out;
}

// The message as OpenSSL makes it with the whole content in hand, the way EncryptedData has
// always made it: enveloped data with the content inside, one password recipient (PBKDF2,
// HMAC-SHA-256, 10000 rounds), written at once.
Bytes WholeMessage(const Bytes& content, const char* cipher_name, int encoding) {
  FixedRandomness fixed;
  ossl::CipherPtr cipher(EVP_CIPHER_fetch(nullptr, cipher_name, nullptr));
  ossl::CmsPtr cms(CMS_EnvelopedData_create(cipher.get()));
  EXPECT_EQ(CMS_set_detached(cms.get(), 0), 1);
  CMS_RecipientInfo* ri = CMS_add0_recipient_password(cms.get(), 10000, NID_undef,
                                                      NID_hmacWithSHA256, nullptr, 0, nullptr);
  auto* password = static_cast<unsigned char*>(OPENSSL_malloc(kPassword.size()));
  std::copy(kPassword.begin(), kPassword.end(), password);
  EXPECT_EQ(CMS_RecipientInfo_set0_password(ri, password, kPassword.size()), 1);
  ossl::BioPtr in = ossl::MemoryReader(content);
  EXPECT_EQ(CMS_final(cms.get(), in.get(), nullptr, CMS_BINARY), 1);
  unsigned char* raw = nullptr;
  const int length = i2d_CMS_ContentInfo(cms.get(), &raw);
  ossl::OpensslBytes owned(raw);
  const Bytes der(reinterpret_cast<char*>(raw), static_cast<std::size_t>(length));
  return encoding == 0 ? EncodeBase64Lines(der) : der;
}

// EncryptedData's own whole-buffer message.
Bytes EncryptedDataMessage(const Bytes& content, std::int32_t code, int encoding) {
  FixedRandomness fixed;
  EncryptedData data;
  data.SetContent(content);
  data.SetSecret(kPassword);
  data.SetAlgorithm(code);
  return data.Encrypt(encoding);
}

// The writer's message, the content handed over in pieces of `piece` bytes.
Bytes StreamedMessage(const Bytes& content, std::int32_t code, int encoding, std::size_t piece) {
  FixedRandomness fixed;
  Bytes out;
  EnvelopedWriter writer(kPassword, code, content.size(), encoding,
                         [&out](std::string_view b) { out.append(b); });
  for (std::size_t at = 0; at < content.size(); at += piece)
    writer.Write(std::string_view(content).substr(at, piece));
  writer.Finish();
  return out;
}

struct Cipher {
  std::int32_t code;
  const char* name;
};
const Cipher kCiphers[] = {{kEncryptRc2, "RC2-CBC"},
                           {kEncryptDes, "DES-CBC"},
                           {kEncrypt3Des, "DES-EDE3-CBC"},
                           {kEncryptAes256, "AES-256-CBC"}};

// Lengths on and beside: the cipher blocks (8, 16), the Base64 groups (3) and lines (48 bytes),
// and the ciphertext lengths where the DER length grows a byte (128, 256, 65536).
const std::size_t kLengths[] = {0,   1,   2,   3,   7,   8,     9,     15,    16,     17,
                                47,  48,  49,  95,  96,  97,    111,   112,   127,    128,
                                239, 240, 255, 256, 257, 65519, 65520, 65535, 131077, 200000};

TEST(EnvelopedWriter, GivesTheWholeMessagesBytes) {
  ossl::EnsureProviders();
  for (const Cipher& cipher : kCiphers)
    for (std::size_t length : kLengths)
      for (int encoding : {0, 1}) {
        const Bytes content = RandomBytes(length, static_cast<unsigned>(length));
        const std::size_t piece = 1 + length % 4099;
        const Bytes streamed = StreamedMessage(content, cipher.code, encoding, piece);
        EXPECT_EQ(streamed, WholeMessage(content, cipher.name, encoding))
            << cipher.name << " length " << length << " encoding " << encoding;
        EXPECT_EQ(streamed, EncryptedDataMessage(content, cipher.code, encoding))
            << cipher.name << " length " << length << " encoding " << encoding;
      }
}

// Same random values, same bytes; other random values, another message that still opens: the
// equality above is not the work of a writer that ignores its randomness.
TEST(EnvelopedWriter, OpensWithThePasswordAndDrawsItsKeys) {
  const Bytes content = RandomBytes(1000, 1);
  auto streamed = [&] {
    Bytes out;
    EnvelopedWriter writer(kPassword, kEncryptAes256, content.size(), 0,
                           [&out](std::string_view b) { out.append(b); });
    writer.Write(content);
    writer.Finish();
    return out;
  };
  const Bytes first = streamed();
  const Bytes second = streamed();
  EXPECT_NE(first, second);
  for (const Bytes& message : {first, second}) {
    EncryptedData data;
    data.SetSecret(kPassword);
    data.Decrypt(message);
    EXPECT_EQ(data.Content(), content);
  }
  EncryptedData wrong;
  wrong.SetSecret("another password");
  EXPECT_HRESULT(hr::kBadData, wrong.Decrypt(first));
}

// The DER length is known before any content is written, and is the DER's.
TEST(EnvelopedWriter, KnowsItsLengthBeforehand) {
  for (std::size_t length : {0, 100, 70000}) {
    Bytes out;
    EnvelopedWriter writer(kPassword, kEncryptAes256, length, 1,
                           [&out](std::string_view b) { out.append(b); });
    const std::uint64_t announced = writer.DerLength();
    EXPECT_TRUE(out.empty()) << "nothing reaches the sink before the first write";
    writer.Write(Bytes(length, 'x'));
    writer.Finish();
    EXPECT_EQ(announced, out.size()) << length;
    EXPECT_EQ(Base64LinesLength(out.size()), EncodeBase64Lines(out).size()) << length;
  }
}

// Codes and encodings are refused as Encrypt refuses them, before anything is written.
TEST(EnvelopedWriter, RefusesWhatEncryptRefuses) {
  struct Case {
    std::int32_t code;
    int encoding;
  } const cases[] = {{kEncryptRc4, 0}, {5, 0}, {-1, 0}, {kEncryptAes256, 2}, {kEncryptAes256, -1}};
  for (const Case& c : cases) {
    std::int32_t whole = 0;
    try {
      EncryptedData data;
      data.SetContent("x");
      data.SetSecret(kPassword);
      data.SetAlgorithm(c.code);
      data.Encrypt(c.encoding);
    } catch (const Error& e) {
      whole = e.number();
    }
    ASSERT_NE(whole, 0) << c.code << " " << c.encoding;
    bool written = false;
    EXPECT_HRESULT(whole, EnvelopedWriter(kPassword, c.code, 1, c.encoding,
                                          [&](std::string_view) { written = true; }))
        << c.code << " " << c.encoding;
    EXPECT_FALSE(written);
  }
}

// The content must be as long as announced: more fails at once, less at Finish, and both are
// the writer's own failures.
TEST(EnvelopedWriter, ContentOfAnotherLengthFails) {
  auto sink = [](std::string_view) {};
  {
    EnvelopedWriter writer(kPassword, kEncryptAes256, 10, 0, sink);
    writer.Write("12345");
    EXPECT_HRESULT(hr::kFail, writer.Write("123456"));
    EXPECT_TRUE(writer.failed());
  }
  {
    EnvelopedWriter writer(kPassword, kEncryptAes256, 10, 1, sink);
    writer.Write("123456789");
    EXPECT_HRESULT(hr::kFail, writer.Finish());
    EXPECT_TRUE(writer.failed());
  }
}

// A sink that fails (a full disk) passes its own error on, from inside the cipher's output as
// from the head, and the writer does not count it as its own failure.
TEST(EnvelopedWriter, SinkErrorsPassThrough) {
  for (int encoding : {0, 1})
    for (int fail_at : {1, 2, 5}) {
      int calls = 0;
      EnvelopedWriter writer(kPassword, kEncrypt3Des, 1 << 20, encoding, [&](std::string_view) {
        if (++calls == fail_at) throw Error::Runtime(61, "Disk full");
      });
      const Bytes piece(1 << 16, 'a');
      std::int32_t number = 0;
      try {
        for (int i = 0; i < 16; ++i) writer.Write(piece);
        writer.Finish();
      } catch (const Error& e) {
        number = e.number();
      }
      EXPECT_EQ(number, 61) << "encoding " << encoding << " failing call " << fail_at;
      EXPECT_FALSE(writer.failed());
    }
}

}  // namespace
}  // namespace vellum::crypto
