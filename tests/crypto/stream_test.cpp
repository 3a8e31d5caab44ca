// Streamed signing and verifying against the whole-buffer forms: the same bytes out, the same
// verdicts, the same failure codes, and the failures only streaming can meet (a content that
// changes between two readings, a reader that fails part-way).
#include <gtest/gtest.h>

#include <openssl/evp.h>

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

  // The attached message written in one reading, as the signing class writes it: into a
  // buffer standing for the file, its start replaced at the end, or written again from a second
  // reading when the head came out another size. `fell_back` says which.
  static Bytes OnePassSign(const Bytes& content, int encoding, std::uint64_t expected,
                           bool& fell_back) {
    SignedData data;
    Bytes out;
    bool written = false;
    StreamSignature signature = data.SignAttached(
        MakeSigner(), PiecesOf(content, 777), expected, encoding,
        [&out](std::string_view b) { out.append(b); },
        [&out](std::string_view b) {
          EXPECT_LE(b.size(), out.size());
          out.replace(0, b.size(), b);
        },
        written);
    fell_back = !written;
    if (!written) {
      out.clear();
      signature.WriteAttachedMessage(encoding, PiecesOf(content),
                                     [&out](std::string_view b) { out.append(b); });
    }
    return out;
  }

  static TestCert* cert_;
};
TestCert* StreamTest::cert_ = nullptr;

// ---- Base64 in pieces --------------------------------------------------------------------------

// OpenSSL's own Base64 of `data`, broken after every 64 characters and after the last line:
// the layout the line writer promises, worked out independently of it.
Bytes ReferenceLines(const Bytes& data) {
  Bytes text;
  for (std::size_t at = 0; at < data.size(); at += 48) {
    unsigned char line[65];
    const std::size_t n = std::min<std::size_t>(48, data.size() - at);
    const int written = EVP_EncodeBlock(
        line, reinterpret_cast<const unsigned char*>(data.data() + at), static_cast<int>(n));
    text.append(reinterpret_cast<const char*>(line), static_cast<std::size_t>(written));
    text += "\r\n";
  }
  return text;
}

// The same text as UTF-16LE units.
Bytes Units(const Bytes& text) {
  Bytes units;
  for (char c : text) units += {c, '\0'};
  return units;
}

// Line breaks fall every 64 characters however the input is cut, the last line included, in
// bytes or in units; the whole-buffer form is the same text, and its length is known ahead.
TEST(Base64LineWriter, GivesTheLinesForEveryCut) {
  std::vector<std::size_t> lengths;
  for (std::size_t length = 0; length <= 200; ++length) lengths.push_back(length);
  for (std::size_t length : {(1u << 16) / 66 * 48 - 1, (1u << 16) / 66 * 48 + 7, 300001u})
    lengths.push_back(length);  // across the writer's batches of text
  for (std::size_t length : lengths) {
    const Bytes data = RandomBytes(length, static_cast<unsigned>(length));
    const Bytes expected = ReferenceLines(data);
    EXPECT_EQ(EncodeBase64Lines(data), expected) << "length " << length;
    EXPECT_EQ(Base64LinesLength(length), expected.size()) << "length " << length;
    for (bool units : {false, true})
      for (std::size_t cut : {1, 2, 47, 48, 49, 1000, 70000}) {
        Bytes text;
        Base64LineWriter writer([&text](std::string_view b) { text.append(b); }, units);
        for (std::size_t at = 0; at < length; at += cut)
          writer.Write(std::string_view(data).substr(at, cut));
        writer.Finish();
        EXPECT_EQ(text, units ? Units(expected) : expected)
            << "length " << length << " cut " << cut << " units " << units;
      }
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
    for (int encoding : {kEncodeBinary, kEncodeBase64}) {
      bool fell_back = false;
      EXPECT_EQ(OnePassSign(content, encoding, size, fell_back),
                WholeSign(content, false, encoding))
          << "one reading, size " << size << " encoding " << encoding;
    }
  }
}

// Signed in one reading, the head is laid out before the signature exists and put right at the
// end. Around a length where the message's length needs one more byte, the guess of the head
// and the head itself come out of different sizes for some contents: those are written again
// from a second reading. Either way the bytes are Sign's; an expected length that is wrong
// (the file grew or shrank) is put right the same way.
TEST_F(StreamTest, OnePassSigningPutsItsHeadRight) {
  int fell_back_count = 0;
  for (std::size_t size = 65536 - 1600; size <= 65536; size += 13)
    for (int encoding : {kEncodeBinary, kEncodeBase64}) {
      const Bytes content = RandomBytes(size, 17);
      bool fell_back = false;
      EXPECT_EQ(OnePassSign(content, encoding, size, fell_back),
                WholeSign(content, false, encoding))
          << "size " << size << " encoding " << encoding;
      fell_back_count += fell_back;
    }
  EXPECT_GT(fell_back_count, 0) << "no length took the second reading";
  const Bytes content = RandomBytes(100000, 19);
  for (std::uint64_t expected : {0, 99000, 100001, 1 << 24})
    for (int encoding : {kEncodeBinary, kEncodeBase64}) {
      bool fell_back = false;
      EXPECT_EQ(OnePassSign(content, encoding, expected, fell_back),
                WholeSign(content, false, encoding))
          << "expected " << expected << " encoding " << encoding;
      EXPECT_EQ(fell_back, expected == 0 || expected == 1 << 24) << expected;
    }
}

// A reading that fails part-way fails the signing with the reader's own error.
TEST_F(StreamTest, OnePassSigningPassesReaderErrorsOn) {
  SignedData data;
  int calls = 0;
  ContentReader failing = [&calls](char* buffer, std::size_t) -> std::size_t {
    if (++calls > 2) throw Error::Runtime(rt::kPathFileAccess, "read failed");
    buffer[0] = 'x';
    return 1;
  };
  bool written = true;
  auto sink = [](std::string_view) {};
  EXPECT_EQ(testing::ErrorNumberOf([&] {
              data.SignAttached(MakeSigner(), failing, 3, kEncodeBinary, sink, sink, written);
            }),
            rt::kPathFileAccess);
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

}  // namespace
}  // namespace vellum::crypto
