// Known answers for every hash code, and the code table's edges.
#include <gtest/gtest.h>

#include "library/crypto/hashed_data.h"
#include "library/platform/text.h"
#include "tests/crypto/expect_error.h"

namespace vellum::crypto {
namespace {

std::string HashOf(std::int32_t code, const Bytes& data) {
  HashedData h;
  h.SetAlgorithm(code);
  h.Hash(data);
  return h.Value();
}

TEST(HashedData, KnownAnswersForTheCodesOpenSslServes) {
  // FIPS 180 and RFC 1320/1321 test vectors over "abc".
  struct Case {
    std::int32_t code;
    const char* digest;
  };
  const Case cases[] = {
      {0, "A9993E364706816ABA3E25717850C26C9CD0D89D"},
      {2, "A448017AAF21D8525FC10AE87AA6729D"},
      {3, "900150983CD24FB0D6963F7D28E17F72"},
      {4, "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD"},
      {5,
       "CB00753F45A35E8BB5A03D699AC65007272C32AB0EDED1631A8B605A43FF5BED8086072BA1E7CC2358BAE"
       "CA134C825A7"},
      {6,
       "DDAF35A193617ABACC417349AE20413112E6FA4E89A97EA20A9EEEE64B55D39A2192992A274FC1A836BA3"
       "C23A3FEEBBD454D4423643CE80E2A9AC94FA54CA49F"},
  };
  for (const auto& c : cases) EXPECT_EQ(HashOf(c.code, "abc"), c.digest) << "code " << c.code;
}

TEST(HashedData, Md2EitherAnswersCorrectlyOrFailsWithAnHresult) {
  // OpenSSL builds usually leave MD2 out; then the code must fail cleanly, not crash.
  try {
    EXPECT_EQ(HashOf(1, "abc"), "DA853B0D3F88D99B30283A69E6DED6BB");
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), hr::kUnsupportedAlgorithm);
  }
}

TEST(HashedData, CredentialsAreHashedAsUtf16le) {
  // The callers hash user id + password as UTF-16LE; the same input gives the same text.
  Bytes text = Utf8ToUtf16le("userpässword");
  EXPECT_EQ(HashOf(0, text), HashOf(0, text));
  EXPECT_NE(HashOf(0, text), HashOf(0, Utf8ToUtf16le("userpässwordX")));
  EXPECT_EQ(HashOf(0, text).size(), 40u);
}

TEST(HashedData, RepeatedHashCallsAccumulateAndValueStartsAfresh) {
  HashedData h;
  h.SetAlgorithm(4);
  h.Hash("a");
  h.Hash("bc");
  EXPECT_EQ(h.Value(), HashOf(4, "abc"));
  h.Hash("abc");
  EXPECT_EQ(h.Value(), HashOf(4, "abc")) << "Value must reset the running digest";
  EXPECT_EQ(h.Value(), "E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855")
      << "Value with nothing hashed is the digest of no bytes";
}

TEST(HashedData, DefaultIsSha1) {
  HashedData h;
  h.Hash("abc");
  EXPECT_EQ(h.Value(), HashOf(0, "abc"));
}

TEST(HashedData, UnknownCodesFail) {
  for (std::int32_t code : {-1, 7, 100}) {
    HashedData h;
    h.SetAlgorithm(code);
    EXPECT_HRESULT(hr::kUnsupportedAlgorithm, h.Hash("abc")) << "code " << code;
    EXPECT_HRESULT(hr::kUnsupportedAlgorithm, (void)h.Value()) << "code " << code;
  }
}

}  // namespace
}  // namespace vellum::crypto
