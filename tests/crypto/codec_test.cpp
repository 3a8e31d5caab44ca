// The Base64 layout we write and the message forms we read.
#include <gtest/gtest.h>

#include "library/crypto/codec.h"
#include "tests/crypto/expect_error.h"

namespace vellum::crypto {
namespace {

constexpr std::int32_t kBad = hr::kNotSignedMessage;

// A small DER SEQUENCE standing in for a message: 30 03 02 01 05.
const Bytes kDer("\x30\x03\x02\x01\x05", 5);

TEST(Base64Layout, CrLfAfterEvery64CharactersTheLastLineIncluded) {
  struct Case {
    std::size_t bytes;
    std::size_t lines;
    const char* why;
  };
  const Case cases[] = {
      {0, 0, "nothing in, nothing out"},
      {1, 1, "one short line still ends with CR LF"},
      {48, 1, "exactly 64 characters: one line, no empty line after it"},
      {49, 2, "one character over starts a second line"},
      {300, 7, "400 characters: six full lines and one of 16"},
  };
  for (const auto& c : cases) {
    Bytes data(c.bytes, '\xA5');
    Bytes text = EncodeBase64Lines(data);
    std::size_t lines = 0;
    std::size_t start = 0;
    while (start < text.size()) {
      std::size_t end = text.find("\r\n", start);
      ASSERT_NE(end, Bytes::npos) << c.why << ": the last line lacks CR LF";
      EXPECT_LE(end - start, 64u) << c.why;
      if (end + 2 < text.size()) {
        EXPECT_EQ(end - start, 64u) << c.why << ": a short inner line";
      }
      EXPECT_EQ(text.find('\n', start), end + 1) << c.why << ": a bare line feed";
      start = end + 2;
      ++lines;
    }
    EXPECT_EQ(lines, c.lines) << c.why;
  }
}

TEST(Base64Layout, KnownText) {
  EXPECT_EQ(EncodeBase64Lines("Man"), "TWFu\r\n");
  EXPECT_EQ(EncodeBase64Lines("Ma"), "TWE=\r\n");
  EXPECT_EQ(EncodeBase64Lines("M"), "TQ==\r\n");
}

TEST(DecodeMessage, AcceptsEveryFormWeRead) {
  const Bytes b64 = EncodeBase64Lines(kDer);  // "MAMCAQU=\r\n"
  struct Case {
    Bytes input;
    const char* why;
  };
  const Case cases[] = {
      {kDer, "DER as written by binary encoding"},
      {kDer + Bytes(1, '\0'), "binary file read adds one zero byte"},
      {kDer + Bytes(7, '\0'), "several zero bytes"},
      {b64, "our own Base64 layout"},
      {"MAMCAQU=", "Base64 without line breaks"},
      {"MAM\nCA QU=\n", "Base64 with bare line feeds and blanks"},
      {" \tMAMCAQU=\r\n\r\n", "leading blanks and trailing empty lines"},
      {"MAMCAQU", "Base64 without its padding"},
      {"-----BEGIN CMS-----\nMAMCAQU=\n-----END CMS-----\n", "PEM armour"},
      {"-----BEGIN PKCS7-----\r\nMAMCAQU=\r\n-----END PKCS7-----\r\n", "PKCS7 armour with CR LF"},
      {b64 + Bytes(1, '\0'), "Base64 text read in binary mode"},
  };
  for (const auto& c : cases) {
    try {
      EXPECT_EQ(DecodeMessage(c.input, kBad), kDer) << c.why;
    } catch (const Error& e) {
      ADD_FAILURE() << c.why << ": " << e.description();
    }
  }
}

TEST(DecodeMessage, RefusesWhatIsNoMessage) {
  const std::pair<Bytes, const char*> cases[] = {
      {"", "empty"},
      {Bytes(4, '\0'), "zeros only"},
      {kDer + "x", "DER followed by something other than zeros"},
      {kDer.substr(0, 4), "truncated DER"},
      {"MAMCAQU=x", "Base64 with a character after the padding"},
      {"MAMC*QU=", "a character outside the alphabet"},
      {"MAMCAQU===", "three padding characters"},
      {"M", "a single dangling character"},
      {"aGVsbG8gd29ybGQ=", "Base64 of text that is not DER"},
      {"-----BEGIN CMS-----\n-----END CMS-----\n", "empty armour"},
  };
  for (const auto& [input, why] : cases) EXPECT_HRESULT(kBad, DecodeMessage(input, kBad)) << why;
}

TEST(DecodeMessage, UsesTheCallersCode) {
  EXPECT_HRESULT(hr::kFail, DecodeMessage("junk", hr::kFail));
}

TEST(HexUpper, TwoUppercaseDigitsPerByte) {
  EXPECT_EQ(HexUpper(Bytes("\x00\x0f\xa0\xff", 4)), "000FA0FF");
  EXPECT_EQ(HexUpper(""), "");
}

}  // namespace
}  // namespace vellum::crypto
