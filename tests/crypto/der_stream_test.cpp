// The message readers that never hold a message: the text forms decoded in pieces, the DER
// framing walked around the one large field, and password decryption as the ciphertext passes.
// Pieces of any size give one answer; hostile framing is refused with the caller's code; other
// layouts come back whole for OpenSSL's own parser.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "library/crypto/codec.h"
#include "library/crypto/der_stream.h"
#include "library/crypto/encrypted_data.h"
#include "library/crypto/ossl.h"
#include "library/crypto/password_stream.h"
#include "library/crypto/signed_data.h"
#include "library/platform/error.h"
#include "tests/crypto/expect_error.h"
#include "tests/support/test_pki.h"

namespace vellum::crypto {
namespace {

using testing::TestCert;

constexpr std::int32_t kBad = hr::kNotSignedMessage;

Bytes RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 engine(seed);
  Bytes out(n, '\0');
  for (char& c : out) c = static_cast<char>(engine() & 0xFF);
  return out;
}

// What the framing reader made of a message.
struct Framed {
  bool streamed = false;
  Bytes content;
  Bytes detached;
  Bytes whole;
  std::uint64_t begun_at = UINT64_MAX;  // the length `begin` was told
};

// The message through a framing reader in pieces of `piece` bytes.
Framed Frame(std::string_view der, std::size_t piece,
             FramedLayout layout = FramedLayout::kSignedData) {
  Framed out;
  DerFramingReader reader(
      layout, kBad, [&out](std::string_view b) { out.content.append(b); },
      [&out](std::uint64_t length) { out.begun_at = length; });
  for (std::size_t at = 0; at < der.size(); at += piece) reader.Write(der.substr(at, piece));
  reader.Finish();
  out.streamed = reader.streamed();
  if (out.streamed) {
    out.detached = reader.DetachedMessage();
    EXPECT_EQ(reader.content_length(), out.content.size());
  } else {
    out.whole = reader.TakeWholeMessage();
  }
  return out;
}

// A message's text through MessageDecoder and the framing reader, as a signature file is read.
Framed FrameText(std::string_view text, std::size_t piece) {
  Framed out;
  DerFramingReader reader(FramedLayout::kSignedData, kBad,
                          [&out](std::string_view b) { out.content.append(b); });
  MessageDecoder decoder(kBad, [&reader](std::string_view der) { reader.Write(der); });
  for (std::size_t at = 0; at < text.size(); at += piece) decoder.Write(text.substr(at, piece));
  decoder.Finish();
  reader.Finish();
  out.streamed = reader.streamed();
  if (out.streamed) {
    out.detached = reader.DetachedMessage();
    return out;
  }
  // Another layout, or no message: OpenSSL's parser has the last word.
  out.whole = reader.TakeWholeMessage();
  SignedData whole;
  whole.Verify(out.whole, false);
  out.content = whole.Content();
  return out;
}

class DerStreamTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // RSA PKCS#1 v1.5 is deterministic: the attached and detached forms of one signing time
    // differ by the content alone.
    cert_ = new TestCert(testing::MakeCert({.key = testing::KeyKind::kRsa2048}));
  }
  static void TearDownTestSuite() {
    delete cert_;
    cert_ = nullptr;
  }
  static Bytes Sign(const Bytes& content, bool detached, int encoding = kEncodeBinary) {
    Signer signer;
    signer.SetCertificate(cert_->ToCertificate());
    signer.AddAuthenticatedAttribute({kAttributeSigningTime, 1700000000});
    SignedData data;
    data.SetContent(content);
    return data.Sign(signer, detached, encoding);
  }
  static Bytes Encrypt(const Bytes& content, const Bytes& password, int encoding = 1) {
    EncryptedData data;
    data.SetContent(content);
    data.SetSecret(password);
    data.SetAlgorithm(kEncryptAes256);
    return data.Encrypt(encoding);
  }

  static TestCert* cert_;
};
TestCert* DerStreamTest::cert_ = nullptr;

// ---- Headers ------------------------------------------------------------------------------------

TEST(ReadDerHeader, ReadsEveryLengthFormAndRefusesTheRest) {
  struct Case {
    const char* why;
    Bytes bytes;
    DerHeaderRead read;
    std::size_t size;
    std::uint64_t length;
    bool indefinite;
  };
  const std::vector<Case> cases = {
      {"short form", Bytes("\x30\x05", 2), DerHeaderRead::kComplete, 2, 5, false},
      {"one length byte", Bytes("\x04\x81\x80", 3), DerHeaderRead::kComplete, 3, 128, false},
      {"eight length bytes", Bytes("\x04\x88\x00\x00\x00\x01\x00\x00\x00\x00", 10),
       DerHeaderRead::kComplete, 10, std::uint64_t{1} << 32, false},
      {"non-minimal but definite", Bytes("\x30\x82\x00\x05", 4), DerHeaderRead::kComplete, 4, 5,
       false},
      {"indefinite", Bytes("\x30\x80", 2), DerHeaderRead::kComplete, 2, 0, true},
      {"empty", "", DerHeaderRead::kNeedMore, 0, 0, false},
      {"tag alone", Bytes("\x30", 1), DerHeaderRead::kNeedMore, 0, 0, false},
      {"length cut", Bytes("\x30\x83\x01", 3), DerHeaderRead::kNeedMore, 0, 0, false},
      {"nine length bytes", Bytes("\x30\x89", 2) + Bytes(9, '\x01'), DerHeaderRead::kBad, 0, 0,
       false},
      {"reserved length byte", Bytes("\x30\xFF", 2), DerHeaderRead::kBad, 0, 0, false},
      {"2^63 or more", Bytes("\x04\x88\x80\x00\x00\x00\x00\x00\x00\x00", 10), DerHeaderRead::kBad,
       0, 0, false},
      {"tag of several bytes", Bytes("\x1F\x81\x01\x00", 4), DerHeaderRead::kBad, 0, 0, false},
  };
  for (const auto& c : cases) {
    DerElementHeader header;
    EXPECT_EQ(ReadDerHeader(c.bytes, header), c.read) << c.why;
    if (c.read != DerHeaderRead::kComplete) continue;
    EXPECT_EQ(header.size, c.size) << c.why;
    EXPECT_EQ(header.length, c.length) << c.why;
    EXPECT_EQ(header.indefinite, c.indefinite) << c.why;
  }
}

TEST(DerHeader, WritesTheShortestFormThatReadsBack) {
  for (std::uint64_t length :
       {std::uint64_t{0}, std::uint64_t{127}, std::uint64_t{128}, std::uint64_t{255},
        std::uint64_t{256}, std::uint64_t{65536}, std::uint64_t{1} << 40}) {
    const Bytes header = DerHeader(0x04, length);
    DerElementHeader read;
    ASSERT_EQ(ReadDerHeader(header, read), DerHeaderRead::kComplete) << length;
    EXPECT_EQ(read.size, header.size()) << length;
    EXPECT_EQ(read.length, length) << length;
    // One length byte more than the value needs, never more.
    EXPECT_EQ(header.size(), length < 128 ? 2u : 2u + (64 - __builtin_clzll(length) + 7) / 8)
        << length;
  }
}

// ---- Text forms in pieces ---------------------------------------------------------------------

// Each form a reader accepts, and some it refuses: decoded in pieces of any size, the DER is
// DecodeMessage's, and a refusal carries the caller's code.
TEST_F(DerStreamTest, MessageFormsGiveOneAnswerInAnyPieces) {
  const Bytes der = Sign("content", false);
  const Bytes base64 = EncodeBase64Lines(der);
  struct Case {
    const char* why;
    Bytes text;
    bool accepted;
  };
  const std::vector<Case> cases = {
      {"DER", der, true},
      {"DER and the binary reader's zero", der + '\0', true},
      {"Base64 lines", base64, true},
      {"Base64 and a zero", base64 + '\0', true},
      {"Base64 on one line, blanks before", "  \r\n" + Bytes(base64).erase(64, 2), true},
      {"PEM armour", "-----BEGIN CMS-----\n" + base64 + "-----END CMS-----\n", true},
      {"PEM armour, junk after its end", "-----BEGIN CMS-----\n" + base64 + "-----END CMS--x",
       true},
      {"PEM without its end line", "-----BEGIN CMS-----\n" + base64, true},
      {"PEM with a dash in the body", "-----BEGIN CMS-----\n" + base64 + "-x", false},
      {"armour never begins", "-----NOT ARMOUR\n" + base64, false},
      {"Base64 with junk", base64.substr(0, 100) + "*" + base64.substr(100), false},
      {"Base64, then a zero, then more", base64.substr(0, 10) + '\0' + base64.substr(10), false},
      {"padding in the middle", "QQ==QQ==", false},
      {"too short to be DER", "QQ==", false},
      {"DER with junk after it", der + "x", false},
      {"blanks only", " \r\n", false},
      {"empty", "", false},
  };
  for (const auto& c : cases) {
    std::int32_t whole_code = 0;
    Bytes whole;
    try {
      whole = DecodeMessage(c.text, kBad);
    } catch (const Error& e) {
      whole_code = e.number();
    }
    EXPECT_EQ(whole_code, c.accepted ? 0 : kBad) << c.why;
    if (c.accepted) {
      EXPECT_EQ(whole, der) << c.why;
    }
    for (std::size_t piece : {1, 5, 64, 65536}) {
      std::int32_t code = 0;
      try {
        const Framed framed = FrameText(c.text, piece);
        EXPECT_EQ(framed.content, "content") << c.why << " piece " << piece;
      } catch (const Error& e) {
        code = e.number();
      }
      EXPECT_EQ(code, whole_code) << c.why << " piece " << piece;
    }
  }
}

// ---- Framing ------------------------------------------------------------------------------------

// The content comes out as it passes and the rest is exactly the detached message of the same
// signing, for contents whose lengths cross every length form, in any pieces.
TEST_F(DerStreamTest, SignedDataSplitsIntoContentAndDetachedMessage) {
  for (std::size_t size : {0, 1, 127, 128, 256, 65536, 200000}) {
    const Bytes content = RandomBytes(size, static_cast<unsigned>(size));
    const Bytes attached = Sign(content, false);
    const Bytes detached = Sign(content, true);
    for (std::size_t piece : {1, 7, 4096, 1 << 20}) {
      if (piece == 1 && size > 300) continue;  // a byte at a time is slow and proves little more
      const Framed framed = Frame(attached, piece);
      ASSERT_TRUE(framed.streamed) << size;
      EXPECT_EQ(framed.content, content) << size << " piece " << piece;
      EXPECT_EQ(framed.detached, detached) << size << " piece " << piece;
      EXPECT_EQ(framed.begun_at, size);
    }
    SignedData check;
    check.VerifyDetached(Frame(attached, 1000).detached,
                         [&, at = std::size_t{0}](char* buffer, std::size_t cap) mutable {
                           const std::size_t n = std::min(cap, content.size() - at);
                           std::memcpy(buffer, content.data() + at, n);
                           at += n;
                           return n;
                         });
    EXPECT_EQ(check.Signers().size(), 1u);
  }
}

// Zero bytes may follow a message (binary reads add one); nothing else may.
TEST_F(DerStreamTest, OnlyZeroBytesMayFollow) {
  const Bytes attached = Sign("abc", false);
  EXPECT_EQ(Frame(attached + Bytes(3, '\0'), 2).content, "abc");
  EXPECT_HRESULT(kBad, Frame(attached + Bytes("\0\0x", 3), 2));
  EXPECT_HRESULT(kBad, Frame(attached + "0", 4096));
}

// Framing that is no DER of the layout is refused with the caller's code, never read past.
TEST_F(DerStreamTest, RefusesHostileFraming) {
  const Bytes content = RandomBytes(1000, 1);
  const Bytes attached = Sign(content, false);
  const std::size_t field = attached.find(content);
  ASSERT_NE(field, Bytes::npos);
  // The eContent OCTET STRING's header sits just before the content: 04 82 03 E8.
  ASSERT_EQ(attached.substr(field - 4, 4), Bytes("\x04\x82\x03\xE8", 4));

  struct Case {
    const char* why;
    Bytes der;
  };
  Bytes longer_root = attached;
  longer_root[3] = static_cast<char>(static_cast<unsigned char>(longer_root[3]) + 1);
  Bytes past_parent = attached;  // the content claims more than eContent holds
  past_parent[field - 1] = '\xE9';
  Bytes nine_bytes = attached;  // the root's length in nine bytes
  nine_bytes.replace(1, 3, Bytes("\x89", 1) + Bytes(7, '\0') + attached.substr(2, 2));
  Bytes primitive_open = attached;  // the OCTET STRING with no length
  primitive_open.replace(field - 3, 3, Bytes("\x80\x03\xE8", 3));
  const std::vector<Case> cases = {
      {"cut in the content", attached.substr(0, field + 10)},
      {"cut in the signer infos", attached.substr(0, attached.size() - 5)},
      {"cut one byte short", attached.substr(0, attached.size() - 1)},
      {"root longer than the message", longer_root},
      {"content longer than eContent", past_parent},
      {"length field of nine bytes", nine_bytes},
      {"primitive without a length", primitive_open},
      {"not a SEQUENCE", Bytes("\x31\x03\x02\x01\x01", 5)},
  };
  for (const auto& c : cases)
    for (std::size_t piece : {3, 65536}) {
      std::int32_t code = 0;
      try {
        const Framed framed = Frame(c.der, piece);
        // Framing that ended before the content is handed whole to OpenSSL, which refuses it.
        ASSERT_FALSE(framed.streamed) << c.why;
        SignedData whole;
        whole.Verify(framed.whole, false);
      } catch (const Error& e) {
        code = e.number();
      }
      EXPECT_EQ(code, kBad) << c.why << " piece " << piece;
    }
}

// The framing kept around the content is bounded: a message whose certificates and signer
// infos pass 16 MiB is refused as it arrives, before more is held.
TEST_F(DerStreamTest, RefusesFramingPastItsBound) {
  const Bytes attached = Sign("abc", false);
  // A SignedData whose digest algorithms claim 17 MiB; the reader stops at the bound.
  const std::uint64_t huge = std::uint64_t{17} << 20;
  const Bytes set = DerHeader(0x31, huge);
  const Bytes signed_body_start = Bytes("\x02\x01\x01", 3) + set;
  const std::uint64_t signed_length = signed_body_start.size() + huge;
  const Bytes signed_data = DerHeader(0x30, signed_length) + signed_body_start;
  const Bytes type("\x06\x09\x2A\x86\x48\x86\xF7\x0D\x01\x07\x02", 11);
  const Bytes explicit_header = DerHeader(0xA0, signed_data.size() + huge - 0);
  const Bytes head = DerHeader(0x30, type.size() + explicit_header.size() + signed_length +
                                         DerHeader(0x30, signed_length).size()) +
                     type + explicit_header + signed_data;
  DerFramingReader reader(FramedLayout::kSignedData, kBad, [](std::string_view) {});
  reader.Write(head);
  const Bytes zeros(1 << 20, '\0');
  std::size_t fed = 0;
  const std::int32_t code = testing::ErrorNumberOf([&] {
    for (; fed < huge; fed += zeros.size()) reader.Write(zeros);
  });
  EXPECT_EQ(code, kBad);
  EXPECT_LE(fed, std::size_t{17} << 20);
}

// Messages of other layouts (lengths left open by streaming tools, no content) come back whole,
// as they came, for the parser that reads them; past 64 MiB they are refused.
TEST_F(DerStreamTest, OtherLayoutsComeBackWholeWithinTheirBound) {
  const Bytes content = RandomBytes(10000, 13);
  ossl::BioPtr in = ossl::MemoryReader(content);
  const unsigned flags = CMS_BINARY | CMS_STREAM;
  ossl::CmsPtr cms(CMS_sign(cert_->x509(), cert_->key(), nullptr, in.get(), flags));
  ASSERT_TRUE(cms);
  ossl::BioPtr out(BIO_new(BIO_s_mem()));
  ASSERT_EQ(i2d_CMS_bio_stream(out.get(), cms.get(), in.get(), flags), 1);
  const Bytes ber = ossl::MemoryContents(out.get());
  ASSERT_EQ(static_cast<unsigned char>(ber[1]), 0x80) << "expected an indefinite length";
  const Bytes detached = Sign(content, true);
  for (const Bytes& message : {ber, detached}) {
    const Framed framed = Frame(message + '\0', 100);
    EXPECT_FALSE(framed.streamed);
    EXPECT_EQ(framed.whole, message + '\0');
    EXPECT_TRUE(framed.content.empty());
  }
  SignedData whole;
  whole.Verify(Frame(ber, 100).whole, false);
  EXPECT_EQ(whole.Content(), content);

  DerFramingReader reader(FramedLayout::kSignedData, kBad, [](std::string_view) {});
  reader.Write(Bytes("\x30\x80", 2));
  const Bytes piece(1 << 20, '\x05');
  EXPECT_HRESULT(kBad, for (int i = 0; i < 65; ++i) reader.Write(piece));
}

// An encrypted message's ciphertext is the field of its layout: the framing before it is all the
// key unwrapping needs.
TEST_F(DerStreamTest, EnvelopedDataSplitsAtItsCiphertext) {
  const Bytes message = Encrypt(RandomBytes(5000, 2), "pw");
  const Framed framed = Frame(message, 333, FramedLayout::kEnvelopedData);
  ASSERT_TRUE(framed.streamed);
  EXPECT_NE(message.find(framed.content), Bytes::npos);
  EXPECT_EQ(framed.content.size() % 16, 0u);
  // The ciphertext's own header goes with it, and the enclosing lengths shrink.
  EXPECT_LE(framed.detached.size() + framed.content.size() + 4, message.size());
  // A signed message is another layout for this reader, and the other way round.
  EXPECT_FALSE(Frame(message, 333, FramedLayout::kSignedData).streamed);
  EXPECT_FALSE(Frame(Sign("x", false), 333, FramedLayout::kEnvelopedData).streamed);
}

// ---- Decryption in pieces -----------------------------------------------------------------------

Bytes DecryptInPieces(const Bytes& der, const Bytes& password, std::size_t piece) {
  Bytes plain;
  PasswordDecryptor decryptor(password, [&plain](std::string_view b) { plain.append(b); });
  for (std::size_t at = 0; at < der.size(); at += piece)
    decryptor.Write(std::string_view(der).substr(at, piece));
  decryptor.Finish();
  return plain;
}

// The plain bytes are EncryptedData::Decrypt's, with its codes for a wrong password and a damaged
// message, for every cipher and in any pieces.
TEST_F(DerStreamTest, PasswordDecryptorAgreesWithDecrypt) {
  for (std::int32_t cipher : {kEncryptAes256, kEncrypt3Des, kEncryptDes, kEncryptRc2}) {
    for (std::size_t size : {0, 1, 15, 16, 100000}) {
      const Bytes plain = RandomBytes(size, static_cast<unsigned>(size + 1));
      EncryptedData data;
      data.SetContent(plain);
      data.SetSecret("pw");
      data.SetAlgorithm(cipher);
      const Bytes der = data.Encrypt(1);
      for (std::size_t piece : {5, 4096})
        EXPECT_EQ(DecryptInPieces(der, "pw", piece), plain) << cipher << " size " << size;
    }
  }
  const Bytes der = Encrypt(RandomBytes(1000, 3), "pw");
  EXPECT_HRESULT(hr::kBadData, DecryptInPieces(der, "other", 100));
  Bytes damaged = der;
  damaged[damaged.size() - 1] ^= 1;  // the padding block
  EncryptedData whole;
  whole.SetSecret("pw");
  EXPECT_HRESULT(hr::kFail, whole.Decrypt(damaged));
  EXPECT_HRESULT(hr::kFail, DecryptInPieces(damaged, "pw", 100));
  EXPECT_HRESULT(static_cast<std::int32_t>(0x8009310B),
                 DecryptInPieces(der.substr(0, 500), "pw", 7));
  EXPECT_HRESULT(hr::kBadMessageType, DecryptInPieces(Sign("x", false), "pw", 64));
}

// The round count a message names is bounded before any key is derived, on this road too.
TEST_F(DerStreamTest, PasswordDecryptorRefusesCostlyKeyDerivation) {
  ossl::EnsureProviders();
  ossl::CipherPtr cipher(EVP_CIPHER_fetch(nullptr, "AES-256-CBC", nullptr));
  ossl::CmsPtr cms(CMS_EnvelopedData_create(cipher.get()));
  ASSERT_TRUE(cms && CMS_set_detached(cms.get(), 0) == 1);
  CMS_RecipientInfo* ri = CMS_add0_recipient_password(cms.get(), 1000001, NID_undef,
                                                      NID_hmacWithSHA256, nullptr, 0, nullptr);
  ASSERT_NE(ri, nullptr);
  ASSERT_EQ(CMS_RecipientInfo_set0_password(
                ri, reinterpret_cast<unsigned char*>(OPENSSL_strdup("pw")), 2),
            1);
  ossl::BioPtr in = ossl::MemoryReader("text");
  ASSERT_EQ(CMS_final(cms.get(), in.get(), nullptr, CMS_BINARY), 1);
  unsigned char* raw = nullptr;
  const int length = i2d_CMS_ContentInfo(cms.get(), &raw);
  ASSERT_GT(length, 0);
  ossl::OpensslBytes owned(raw);
  const Bytes der(reinterpret_cast<char*>(raw), static_cast<std::size_t>(length));
  EXPECT_HRESULT(hr::kFail, DecryptInPieces(der, "pw", 64));
}

}  // namespace
}  // namespace vellum::crypto
