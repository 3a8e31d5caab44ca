// Every reader against hostile input: truncations, flipped bytes, random bytes, Base64 of
// garbage. Each must either fail with a negative HRESULT or, for a flip the format does not
// cover, give back exactly the original; never crash or hand back something else as good.
#include <gtest/gtest.h>

#include <random>

#include "library/crypto/codec.h"
#include "library/crypto/encrypted_data.h"
#include "library/crypto/signed_data.h"
#include "tests/crypto/expect_error.h"
#include "tests/support/test_pki.h"

namespace vellum::crypto {
namespace {

const Bytes kContent = "content under test: 0123456789";

// What a reader made of one input: the error number, or 0 and the bytes it produced.
struct Outcome {
  std::int32_t error = 0;
  Bytes content;
};

Outcome VerifyAttached(const Bytes& message) {
  try {
    SignedData data;
    data.Verify(message, false);
    return {0, data.Content()};
  } catch (const Error& e) {
    return {e.number(), {}};
  }
}

Outcome VerifyDetached(const Bytes& message) {
  try {
    SignedData data;
    data.SetContent(kContent);
    data.Verify(message, true);
    return {0, kContent};
  } catch (const Error& e) {
    return {e.number(), {}};
  }
}

Outcome DecryptWith(const Bytes& message) {
  try {
    EncryptedData data;
    data.SetSecret("battery password");
    data.Decrypt(message);
    return {0, data.Content()};
  } catch (const Error& e) {
    return {e.number(), {}};
  }
}

class BadInputTest : public ::testing::Test {
 protected:
  testing::TempFolder tmp_;
  testing::ScopedStoreRoot root_{tmp_.path()};
  std::mt19937 random_{20261207};

  Bytes RandomBytes(std::size_t n) {
    Bytes out(n, '\0');
    for (auto& c : out) c = static_cast<char>(random_() & 0xFF);
    return out;
  }
};

using Reader = Outcome (*)(const Bytes&);

void ExpectOnlyFailures(Reader read, const Bytes& input, const std::string& why) {
  Outcome o = read(input);
  EXPECT_LT(o.error, 0) << why;
}

TEST_F(BadInputTest, GarbageNeverPassesAnyReader) {
  std::vector<std::pair<Bytes, std::string>> inputs = {
      {"", "empty"},
      {Bytes(1, '\0'), "one zero byte"},
      {"\x30", "a lone SEQUENCE tag"},
      {"\x30\x80", "indefinite length with nothing after"},
      {"\x30\x84\xFF\xFF\xFF\xFF", "a length far past the end"},
      {"\x30\x03\x02\x01\x05", "a DER SEQUENCE that is no message"},
      {EncodeBase64Lines(Bytes(200, 'A')), "Base64 of garbage"},
      {"=====", "padding only"},
  };
  for (int i = 0; i < 40; ++i)
    inputs.push_back({RandomBytes(1 + i * 37), "random bytes " + std::to_string(i)});
  for (int i = 0; i < 10; ++i)
    inputs.push_back(
        {EncodeBase64Lines(RandomBytes(10 + i * 50)), "Base64 of random " + std::to_string(i)});
  for (const auto& [input, why] : inputs) {
    ExpectOnlyFailures(VerifyAttached, input, "attached: " + why);
    ExpectOnlyFailures(VerifyDetached, input, "detached: " + why);
    ExpectOnlyFailures(DecryptWith, input, "decrypt: " + why);
  }
}

TEST_F(BadInputTest, TruncatedMessagesFail) {
  auto cert = testing::MakeCert({"CN=Battery"});
  Signer signer;
  signer.SetCertificate(cert.ToCertificate());
  SignedData sd;
  sd.SetContent(kContent);
  Bytes attached = sd.Sign(signer, false, kEncodeBinary);
  Bytes detached = sd.Sign(signer, true, kEncodeBinary);
  EncryptedData ed;
  ed.SetContent(kContent);
  ed.SetSecret("battery password");
  ed.SetAlgorithm(kEncryptAes256);
  Bytes encrypted = ed.Encrypt(1);
  for (std::size_t n = 0; n < attached.size(); n += 7)
    ExpectOnlyFailures(VerifyAttached, attached.substr(0, n),
                       "attached cut at " + std::to_string(n));
  for (std::size_t n = 0; n < detached.size(); n += 7)
    ExpectOnlyFailures(VerifyDetached, detached.substr(0, n),
                       "detached cut at " + std::to_string(n));
  for (std::size_t n = 0; n < encrypted.size(); n += 3)
    ExpectOnlyFailures(DecryptWith, encrypted.substr(0, n),
                       "encrypted cut at " + std::to_string(n));
}

TEST_F(BadInputTest, FlippedBytesFailOrChangeNothing) {
  auto cert = testing::MakeCert({"CN=Battery"});
  Signer signer;
  signer.SetCertificate(cert.ToCertificate());
  SignedData sd;
  sd.SetContent(kContent);
  const Bytes attached = sd.Sign(signer, false, kEncodeBinary);
  // Some fields are outside what the signature covers (RFC 5652 section 5.1): the carried
  // certificate's dates, names and own signature, and the version number OpenSSL reads
  // leniently. Those may flip unnoticed, but the content handed back must stay the signed
  // one, and a flip in the content, its type or the signature value must always be caught.
  const std::size_t content_at = attached.find(kContent);
  ASSERT_NE(content_at, Bytes::npos);
  const Bytes data_oid("\x06\x09\x2A\x86\x48\x86\xF7\x0D\x01\x07\x01", 11);
  const std::size_t type_at = attached.find(data_oid, 20);  // after the outer signedData OID
  ASSERT_NE(type_at, Bytes::npos);
  const std::size_t signature_at = attached.size() - 64;  // inside the ECDSA value
  for (std::size_t i = 0; i < attached.size(); ++i) {
    Bytes flipped = attached;
    flipped[i] ^= static_cast<char>(1 << (i % 8));
    Outcome o = VerifyAttached(flipped);
    bool covered = (i >= content_at && i < content_at + kContent.size()) ||
                   (i >= type_at + 2 && i < type_at + data_oid.size()) || i >= signature_at;
    if (o.error == 0) {
      EXPECT_EQ(o.content, kContent) << "flip at " << i << " verified with other content";
      EXPECT_FALSE(covered) << "flip at " << i << " went unnoticed";
    } else {
      EXPECT_LT(o.error, 0) << "flip at " << i;
    }
  }

  EncryptedData ed;
  ed.SetContent(kContent);
  ed.SetSecret("battery password");
  ed.SetAlgorithm(kEncrypt3Des);
  const Bytes encrypted = ed.Encrypt(1);
  for (std::size_t i = 0; i < encrypted.size(); ++i) {
    Bytes flipped = encrypted;
    flipped[i] ^= 0x20;
    Outcome o = DecryptWith(flipped);
    // CBC carries no integrity: a flip in the ciphertext may decrypt to other bytes without
    // an error (the signature inside catches that for the callers). It must not crash, and a
    // failure must be a component failure.
    if (o.error != 0) {
      EXPECT_LT(o.error, 0) << "flip at " << i;
    }
  }
}

}  // namespace
}  // namespace vellum::crypto
