// Streamed signing and verifying against the whole-buffer forms: the same bytes out, the same
// verdicts, the same failure codes, and the failures only streaming can meet (a content that
// changes between two readings, a reader that fails part-way).
#include <gtest/gtest.h>

#include <random>

#include "library/crypto/codec.h"
#include "library/crypto/ossl.h"
#include "library/crypto/signed_data.h"
#include "library/platform/error.h"
#include "tests/crypto/expect_error.h"
#include "tests/support/test_pki.h"

namespace vellum::crypto {
namespace {

using testing::TestCert;

Bytes RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 engine(seed);
  Bytes out(n, '\0');
  for (char& c : out) c = static_cast<char>(engine() & 0xFF);
  return out;
}

// Reads `data` in pieces of at most `piece` bytes, as a file reader would.
ContentReader PiecesOf(std::string_view data, std::size_t piece = 1000) {
  auto rest = std::make_shared<std::string_view>(data);
  return [rest, piece](char* buffer, std::size_t capacity) {
    std::size_t n = std::min({capacity, piece, rest->size()});
    std::copy_n(rest->data(), n, buffer);
    rest->remove_prefix(n);
    return n;
  };
}

class StreamTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // RSA PKCS#1 v1.5 signatures are deterministic, so two ways of signing the same content at
    // the same time must give the same bytes.
    cert_ = new TestCert(testing::MakeCert({.key = testing::KeyKind::kRsa2048}));
  }
  static void TearDownTestSuite() {
    delete cert_;
    cert_ = nullptr;
  }
  static Signer MakeSigner() {
    Signer signer;
    signer.SetCertificate(cert_->ToCertificate());
    signer.AddAuthenticatedAttribute({kAttributeSigningTime, 1700000000});
    return signer;
  }
  static Bytes WholeSign(const Bytes& content, bool detached, int encoding) {
    SignedData data;
    data.SetContent(content);
    return data.Sign(MakeSigner(), detached, encoding);
  }
  static Bytes StreamSign(const Bytes& content, bool detached, int encoding) {
    SignedData data;
    StreamSignature signature = data.SignStream(MakeSigner(), PiecesOf(content));
    if (detached) return signature.DetachedMessage(encoding);
    Bytes out;
    signature.WriteAttachedMessage(encoding, PiecesOf(content, 777),
                                   [&out](std::string_view b) { out.append(b); });
    return out;
  }

  static TestCert* cert_;
};
TestCert* StreamTest::cert_ = nullptr;

// ---- Base64 in pieces --------------------------------------------------------------------------

// Line breaks fall every 64 characters however the input is cut, the last line included.
TEST(Base64LineWriter, GivesEncodeBase64LinesForEveryCut) {
  for (std::size_t length = 0; length <= 200; ++length) {
    const Bytes data = RandomBytes(length, static_cast<unsigned>(length));
    for (std::size_t cut : {1, 2, 47, 48, 49, 1000}) {
      Bytes text;
      Base64LineWriter writer([&text](std::string_view b) { text.append(b); });
      for (std::size_t at = 0; at < length; at += cut)
        writer.Write(std::string_view(data).substr(at, cut));
      writer.Finish();
      EXPECT_EQ(text, EncodeBase64Lines(data)) << "length " << length << " cut " << cut;
    }
  }
}

// ---- Message forms in pieces -------------------------------------------------------------------

// Each form a reader accepts, and some it refuses: decoded in pieces, the answer (bytes or
// failure code) is DecodeMessage's.
TEST_F(StreamTest, MessageDecoderAgreesWithDecodeMessage) {
  const Bytes der = WholeSign("content", false, kEncodeBinary);
  const Bytes base64 = EncodeBase64Lines(der);
  struct Case {
    const char* why;
    Bytes text;
  };
  const std::vector<Case> cases = {
      {"DER", der},
      {"DER and the binary reader's zero", der + '\0'},
      {"Base64 lines", base64},
      {"Base64 and a zero", base64 + '\0'},
      {"Base64 on one line, blanks before", "  \r\n" + Bytes(EncodeBase64Lines(der)).erase(64, 2)},
      {"PEM armour", "-----BEGIN CMS-----\n" + base64 + "-----END CMS-----\n"},
      {"Base64 with junk", base64.substr(0, 100) + "*" + base64.substr(100)},
      {"Base64, then a zero, then more", base64.substr(0, 10) + '\0' + base64.substr(10)},
      {"padding in the middle", "QQ==QQ=="},
      {"too short to be DER", "QQ=="},
      {"DER with junk after it", der + "x"},
      {"blanks only", " \r\n"},
      {"empty", ""},
  };
  for (const auto& c : cases)
    for (std::size_t piece : {1, 5, 65536}) {
      std::int32_t whole_code = 0;
      Bytes whole;
      try {
        whole = DecodeMessage(c.text, hr::kNotSignedMessage);
      } catch (const Error& e) {
        whole_code = e.number();
      }
      MessageDecoder decoder(hr::kNotSignedMessage, c.text.size());
      for (std::size_t at = 0; at < c.text.size(); at += piece)
        decoder.Write(std::string_view(c.text).substr(at, piece));
      std::int32_t streamed_code = 0;
      Bytes streamed;
      try {
        streamed = decoder.Finish();
      } catch (const Error& e) {
        streamed_code = e.number();
      }
      EXPECT_EQ(streamed_code, whole_code) << c.why << " piece " << piece;
      EXPECT_EQ(streamed, whole) << c.why << " piece " << piece;
    }
}

// ---- Signing in pieces -------------------------------------------------------------------------

// The streamed message is the whole-buffer message byte for byte, in both layouts and both
// encodings. The sizes cross every DER length form (short, 1, 2, 3 and 4 length bytes).
TEST_F(StreamTest, SignStreamGivesSignsBytes) {
  for (std::size_t size : {0, 1, 127, 128, 255, 256, 65535, 65536, (1 << 24) + 5}) {
    const Bytes content = RandomBytes(size, 7);
    for (bool detached : {true, false})
      for (int encoding : {kEncodeBinary, kEncodeBase64})
        EXPECT_EQ(StreamSign(content, detached, encoding), WholeSign(content, detached, encoding))
            << "size " << size << " detached " << detached << " encoding " << encoding;
  }
}

// A content that differs at the second reading must not be carried under a signature over
// the first: a changed byte, a shorter and a longer content all fail with the changed-content
// code.
TEST_F(StreamTest, ContentThatChangesBetweenReadingsIsRefused) {
  const Bytes content = RandomBytes(100000, 3);
  Bytes changed = content;
  changed[50000] ^= 1;
  const std::vector<std::pair<const char*, Bytes>> seconds = {
      {"a byte changed", changed},
      {"shorter", content.substr(0, content.size() - 1)},
      {"longer", content + "x"},
  };
  for (const auto& [why, second] : seconds) {
    SignedData data;
    StreamSignature signature = data.SignStream(MakeSigner(), PiecesOf(content));
    EXPECT_HRESULT(hr::kHashMismatch, signature.WriteAttachedMessage(
                                          kEncodeBinary, PiecesOf(second), [](std::string_view) {}))
        << why;
  }
}

// A reader's error leaves signing as it was raised, not as a signing failure.
TEST_F(StreamTest, ReaderErrorsPassThroughSigning) {
  SignedData data;
  int calls = 0;
  ContentReader failing = [&calls](char* buffer, std::size_t) -> std::size_t {
    if (++calls > 2) throw Error::Runtime(rt::kPathFileAccess, "read failed");
    buffer[0] = 'x';
    return 1;
  };
  EXPECT_EQ(testing::ErrorNumberOf([&] { data.SignStream(MakeSigner(), failing); }),
            rt::kPathFileAccess);
}

// ---- Verifying in pieces -----------------------------------------------------------------------

// Streamed detached verifying gives Verify's verdicts and codes.
TEST_F(StreamTest, VerifyDetachedAgreesWithVerify) {
  const Bytes content = RandomBytes(300000, 5);
  const Bytes message = WholeSign(content, true, kEncodeBase64);
  Bytes changed = content;
  changed[123456] ^= 0x80;

  SignedData streamed;
  streamed.VerifyDetached(message, PiecesOf(content, 4096));
  ASSERT_EQ(streamed.Signers().size(), 1u);
  EXPECT_EQ(streamed.Signers()[0].certificate().SubjectName(),
            cert_->ToCertificate().SubjectName());

  SignedData whole;
  whole.SetContent(changed);
  EXPECT_HRESULT(hr::kHashMismatch, whole.Verify(message, true));
  EXPECT_HRESULT(hr::kHashMismatch, streamed.VerifyDetached(message, PiecesOf(changed)));
  EXPECT_HRESULT(hr::kHashMismatch, streamed.VerifyDetached(message, PiecesOf(content + "x")));
  EXPECT_HRESULT(hr::kNotSignedMessage, streamed.VerifyDetached("not a message", PiecesOf("")));
}

// A read failure part-way is the reader's error, with its own number and words, not a verdict
// on the signature.
TEST_F(StreamTest, ReaderErrorsPassThroughVerifying) {
  const Bytes content = RandomBytes(50000, 9);
  const Bytes message = WholeSign(content, true, kEncodeBinary);
  auto pieces = PiecesOf(content);
  int calls = 0;
  ContentReader failing = [&](char* buffer, std::size_t capacity) -> std::size_t {
    if (++calls == 3) throw Error::Runtime(rt::kFileNotFound, "File: x not found.");
    return pieces(buffer, capacity);
  };
  SignedData data;
  try {
    data.VerifyDetached(message, failing);
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), rt::kFileNotFound);
    EXPECT_EQ(e.description(), "File: x not found.");
  }
  EXPECT_TRUE(data.Signers().empty());
}

// Held attached verifying: the content comes back in place, with Verify's signers and codes.
TEST_F(StreamTest, VerifyAttachedDerAgreesWithVerify) {
  const Bytes content = RandomBytes(70000, 11);
  const Bytes der = WholeSign(content, false, kEncodeBinary);
  SignedData held;
  EXPECT_EQ(held.VerifyAttachedDer(der), content);
  EXPECT_EQ(held.Signers().size(), 1u);

  // The last content byte sits just before the certificates.
  Bytes tampered = der;
  tampered[tampered.find(content.substr(content.size() - 16)) + 15] ^= 1;
  SignedData whole;
  EXPECT_HRESULT(hr::kHashMismatch, whole.Verify(tampered, false));
  EXPECT_HRESULT(hr::kHashMismatch, held.VerifyAttachedDer(tampered));

  const Bytes detached = WholeSign(content, true, kEncodeBinary);
  EXPECT_HRESULT(hr::kBadMessageType, whole.Verify(detached, false));
  EXPECT_HRESULT(hr::kBadMessageType, held.VerifyAttachedDer(detached));
}

// Messages streamed by other tools use indefinite lengths and a content in parts: those take
// the ordinary road and still give their content.
TEST_F(StreamTest, VerifyAttachedDerReadsBerFromOtherTools) {
  const Bytes content = RandomBytes(10000, 13);
  ossl::BioPtr in = ossl::MemoryReader(content);
  const unsigned flags = CMS_BINARY | CMS_STREAM;
  ossl::CmsPtr cms(CMS_sign(cert_->x509(), cert_->key(), nullptr, in.get(), flags));
  ASSERT_TRUE(cms);
  ossl::BioPtr out(BIO_new(BIO_s_mem()));
  ASSERT_EQ(i2d_CMS_bio_stream(out.get(), cms.get(), in.get(), flags), 1);
  const Bytes ber = ossl::MemoryContents(out.get());
  ASSERT_EQ(static_cast<unsigned char>(ber[1]), 0x80) << "expected an indefinite length";
  SignedData held;
  EXPECT_EQ(held.VerifyAttachedDer(ber), content);
}

}  // namespace
}  // namespace vellum::crypto
