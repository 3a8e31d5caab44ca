// Damaged signature files through VerifyFile and VerifyNSEFile: truncated, bit-flipped, with a
// length field that claims more than the file holds, empty, and Base64 text with junk in it.
// Whatever the damage, the method answers with its own text, restores nothing, and the file
// that already stands where the content would be restored keeps its bytes.
#include <filesystem>

#include "library/com/variant.h"
#include "tests/hostile/hostile_fixture.h"

namespace vellum::hostile {
namespace {

namespace fs = std::filesystem;

const Bytes kSigned = "Pay 100 to Ann.\r\n";
const Bytes kStanding = "the file already standing here";

struct Mode {
  const char* name;
  bool detached;
  bool binary;
};
const Mode kModes[] = {
    {"attached Base64", false, false},
    {"attached binary", false, true},
    {"detached Base64", true, false},
    {"detached binary", true, true},
};

class SignatureBattery : public HostileTest {
 protected:
  // Signs doc/a.txt in `mode`. An attached signature's input is then replaced by a different
  // file of the same name, which a failed verification must leave alone.
  std::string Signed(const Mode& mode) {
    const std::string input = Put("doc/a.txt", kSigned);
    const std::string signature = Sign(input, mode.detached, mode.binary);
    if (!mode.detached) Put("doc/a.txt", kStanding);
    return signature;
  }

  // Verifies `damaged` in place of the signature (and, for detached signatures, through
  // VerifyNSEFile too), expecting `text` and no change to any file.
  void ExpectRefused(const Mode& mode, const std::string& signature, const Bytes& damaged,
                     const std::string& why) {
    SCOPED_TRACE(std::string(mode.name) + ": " + why);
    testing::WriteFile(signature, damaged);
    const Everything before = All();
    VerifyCall call(signature, mode.detached, mode.binary);
    if (mode.detached) call.original = com::Variant::Text(W("doc/a.txt"));
    EXPECT_FALSE(call.File());
    EXPECT_EQ(call.Message(), kNotValid);
    if (mode.detached) {
      VerifyCall nse(signature, true, mode.binary);
      nse.original = com::Variant::Text(W("doc/a.txt"));
      EXPECT_FALSE(nse.Nse());
      EXPECT_EQ(nse.Message(), kNotValid);
    }
    // The temporary-folder road of the attached layout writes nothing either.
    if (!mode.detached) {
      VerifyCall to_temp(signature, false, mode.binary);
      to_temp.original = com::Variant::Text("");
      EXPECT_FALSE(to_temp.File());
      EXPECT_EQ(to_temp.Message(), kNotValid);
    }
    const Everything after = All();
    EXPECT_TRUE(after == before) << Difference(before, after);
  }
};

// A signature cut short anywhere, down to nothing at all, is no signed message. Base64 cuts
// go through the data, not only the final line break, which the reader may do without.
TEST_F(SignatureBattery, TruncatedAndEmptySignatureFiles) {
  for (const Mode& mode : kModes) {
    const std::string signature = Signed(mode);
    const Bytes good = testing::ReadFile(signature);
    for (std::size_t keep : {std::size_t{0}, std::size_t{1}, std::size_t{2}, good.size() / 4,
                             good.size() / 2, good.size() - 8})
      ExpectRefused(mode, signature, good.substr(0, keep),
                    "kept " + std::to_string(keep) + " of " + std::to_string(good.size()));
  }
}

// One flipped bit at a time, across the whole file. Fields the signature does not cover may
// flip unnoticed (RFC 5652 section 5.1: the carried certificate, some encodings), but then
// the restored content must be exactly the signed one; every other flip is refused with
// nothing written. A flip inside the signature value is always refused.
TEST_F(SignatureBattery, FlippedBitsAreRefusedOrChangeNothing) {
  for (const Mode& mode : kModes) {
    SCOPED_TRACE(mode.name);
    const std::string signature = Signed(mode);
    const Bytes good = testing::ReadFile(signature);
    int refused = 0, accepted = 0;
    for (std::size_t at = 0; at < good.size(); at += 5) {
      Bytes damaged = good;
      damaged[at] = static_cast<char>(damaged[at] ^ (1 << (at % 7)));
      testing::WriteFile(signature, damaged);
      const Everything before = All();
      VerifyCall call(signature, mode.detached, mode.binary);
      if (mode.detached) call.original = com::Variant::Text(W("doc/a.txt"));
      if (call.File()) {
        ++accepted;
        EXPECT_EQ(testing::ReadFile(W("doc/a.txt")), kSigned) << "flip at " << at;
        if (!mode.detached) Put("doc/a.txt", kStanding);
        continue;
      }
      ++refused;
      EXPECT_EQ(call.Message(), kNotValid) << "flip at " << at;
      const Everything after = All();
      EXPECT_TRUE(after == before) << "flip at " << at << "\n" << Difference(before, after);
    }
    EXPECT_GT(refused, accepted) << "most of a signed message is covered by its signature";
    if (mode.binary) {
      // The last bytes of an ECDSA signed message are the signature value itself.
      Bytes damaged = good;
      damaged[good.size() - 3] = static_cast<char>(damaged[good.size() - 3] ^ 0x10);
      ExpectRefused(mode, signature, damaged, "flip inside the signature value");
    }
  }
}

// The outer DER length claims far more than the file holds (up to 2^63): the reader must not
// trust it for an allocation or a read past the end.
TEST_F(SignatureBattery, OversizedLengthFields) {
  for (const Mode& mode : kModes) {
    if (!mode.binary) continue;
    const std::string signature = Signed(mode);
    const Bytes good = testing::ReadFile(signature);
    ASSERT_EQ(static_cast<unsigned char>(good[0]), 0x30);
    ASSERT_EQ(static_cast<unsigned char>(good[1]) & 0x80, 0x80) << "a long-form length";
    const std::size_t length_bytes = static_cast<unsigned char>(good[1]) & 0x7F;
    const Bytes body = good.substr(2 + length_bytes);
    const Bytes cases[][2] = {
        {Bytes("\x30\x84\x7F\xFF\xFF\xFF", 6) + body, "2 GiB claimed"},
        {Bytes("\x30\x88\x7F\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 10) + body, "2^63 claimed"},
        {Bytes("\x30\x84\xFF\xFF\xFF\xFF", 6) + body, "4 GiB claimed"},
        {Bytes("\x30\x80", 2) + body, "indefinite length without its end"},
        {Bytes("\x30\x82\xFF\xFF", 4) + body, "64 KiB claimed"},
    };
    for (const auto& c : cases) ExpectRefused(mode, signature, c[0], c[1]);
    // The same lie in the carried content's own length, deep inside an attached message.
    if (!mode.detached) {
      Bytes inner = good;
      const std::size_t at = inner.find("Pay");  // binary: the file's own bytes
      ASSERT_NE(at, std::string::npos);
      ASSERT_EQ(inner[at - 2], '\x04') << "an OCTET STRING with a short-form length";
      inner[at - 1] = '\x7F';
      ExpectRefused(mode, signature, inner, "content length claims more than there is");
    }
  }
}

// Base64 text with junk in it is no signed message. Harmless layouts (other line breaks,
// blanks, PEM armour) are accepted forms and still verify, which keeps the junk cases honest.
TEST_F(SignatureBattery, Base64WithJunk) {
  for (const Mode& mode : kModes) {
    if (mode.binary) continue;
    const std::string signature = Signed(mode);
    const Bytes good = testing::ReadFile(signature);
    const std::size_t middle = good.find("\r\n", good.size() / 2);
    ASSERT_NE(middle, std::string::npos);
    const Bytes junk[][2] = {
        {good.substr(0, middle) + "@#$%" + good.substr(middle), "punctuation between lines"},
        {good.substr(0, middle) + Bytes("\0\0", 2) + good.substr(middle), "zero bytes inside"},
        {good + "garbage", "letters after the end"},
        {good.substr(0, 10) + "*" + good.substr(11), "one character replaced by '*'"},
        {"=" + good, "padding in front"},
        {good.substr(0, middle) + "====" + good.substr(middle), "padding in the middle"},
        {Bytes(good.size(), 'A'), "only letters"},
        {"\r\n \r\n", "only line breaks and blanks"},
    };
    for (const auto& j : junk) ExpectRefused(mode, signature, j[0], j[1]);

    Bytes relaid;
    for (char c : good)
      if (c != '\r' && c != '\n') relaid += c;
    const Bytes accepted[][2] = {
        {relaid, "one long line"},
        {"-----BEGIN PKCS7-----\n" + good + "-----END PKCS7-----\n", "PEM armour"},
        {"  " + good + "\n\n", "blanks and extra line breaks"},
    };
    for (const auto& a : accepted) {
      SCOPED_TRACE(std::string(mode.name) + ": " + a[1]);
      testing::WriteFile(signature, a[0]);
      VerifyCall call(signature, mode.detached, false);
      call.original = com::Variant::Text(mode.detached ? W("doc/a.txt") : "x");
      EXPECT_TRUE(call.File()) << call.Message();
      EXPECT_EQ(testing::ReadFile(W("doc/a.txt")), kSigned);
      if (!mode.detached) Put("doc/a.txt", kStanding);
    }
  }
}

}  // namespace
}  // namespace vellum::hostile

namespace vellum::hostile {
namespace {

// A detached signature naming a digest nobody implements (the SHA-256 identifier with its
// last arc changed) is refused like any damage. Checking such a message once lost memory
// inside OpenSSL; the sanitizer build of this test keeps it that way.
TEST_F(SignatureBattery, UnknownDigestAlgorithm) {
  const Bytes sha256_oid("\x60\x86\x48\x01\x65\x03\x04\x02\x01", 9);
  for (const Mode& mode : kModes) {
    if (!mode.binary) continue;
    const std::string signature = Signed(mode);
    Bytes damaged = testing::ReadFile(signature);
    int replaced = 0;
    for (std::size_t at = 0; (at = damaged.find(sha256_oid, at)) != std::string::npos; ++at) {
      damaged[at + 8] = '\x30';
      ++replaced;
    }
    ASSERT_GE(replaced, 2) << "the message's digest list and the signer's digest";
    ExpectRefused(mode, signature, damaged, "unknown digest");
  }
}

}  // namespace
}  // namespace vellum::hostile
