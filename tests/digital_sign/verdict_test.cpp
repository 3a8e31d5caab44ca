// The verdict and certificate details the verify methods give for real certificates whose dates
// this test controls: a signer that ran out yesterday, one that runs out later today, a chain
// with a lapsed issuing CA, a self-signed signer and a message with two signers. Expiry is
// judged against today's local midnight and never fails a verification.
#include <filesystem>

#include "tests/digital_sign/signing_fixture.h"

namespace vellum::signing_test {
namespace {

using testing::CertOptions;
using testing::kDay;
using testing::MakeCert;
using testing::PutInStore;
using testing::TestCert;

const std::string kLapsedSubject = "CN=Lapsed Signer, O=Example Ltd, C=GB";

class SigningVerdicts : public SigningTest {
 protected:
  // Yesterday at noon, local time, as an offset from now.
  static std::time_t YesterdayNoonOffset() {
    const std::time_t now = std::time(nullptr);
    return StartOfDay(now) - 12 * 60 * 60 - now;
  }

  // A signer certified by the test PKI's issuing CA that ran out yesterday.
  static TestCert Lapsed() {
    return MakeCert({kLapsedSubject, -30 * kDay, YesterdayNoonOffset()}, &Pki().intermediate);
  }

  // Signs data.bin plus the reader's zero byte, detached, with `cert` through openssl.
  std::string OpensslDetached(const TestCert& cert, const std::string& name) {
    testing::WriteFile(W(name + ".pem"), cert.Pem());
    testing::WriteFile(W(name + ".key"), cert.KeyPem());
    testing::WriteFile(W("chain.pem"), Pki().intermediate.Pem());
    EXPECT_EQ(Openssl("cms -sign -binary -nosmimecap -signer " + name + ".pem -inkey " + name +
                      ".key -certfile chain.pem -in data0.bin -outform DER -out " + name + ".der"),
              0);
    return W(name + ".der");
  }

  VerifyCall Detached(const std::string& signature, const std::string& original, bool binary) {
    VerifyCall verify(signature);
    verify.binary = com::Variant::Bool(binary);
    verify.original = com::Variant::Text(original);
    return verify;
  }

  void SetUp() override {
    SigningTest::SetUp();
    data_ = Put("data.bin", "payload");
    Put("data0.bin", Bytes("payload\0", 8));
  }
  std::string data_;
};

TEST_F(SigningVerdicts, SignerExpiredYesterdayStillVerifies) {
  const TestCert lapsed = Lapsed();
  const std::string signature = OpensslDetached(lapsed, "lapsed");
  const std::string expired = "File: " + data_ + kCrLf + "is Verified using expired Signature. " +
                              kCrLf + "Certificate Expired on '" + LongDate(NotAfter(lapsed)) + "'";
  VerifyCall verify = Detached(signature, data_, true);
  EXPECT_TRUE(CallVerifyFile(verify));
  EXPECT_EQ(verify.Message(), expired);
  EXPECT_EQ(verify.Details(), (std::vector<std::string>{ChainDetails(lapsed, kLapsedSubject)}));
  EXPECT_NE(verify.Details().at(0).find(" (Expired) "), std::string::npos);

  VerifyCall nse = Detached(signature, data_, true);
  EXPECT_TRUE(CallVerifyNSEFile(nse));
  EXPECT_EQ(nse.Message(), expired);
}

TEST_F(SigningVerdicts, SignerExpiringLaterTodayIsNotExpired) {
  const std::time_t now = std::time(nullptr);
  // Today's start plus 26 hours is tomorrow, whatever the summer-time shift.
  const std::time_t left_today = StartOfDay(StartOfDay(now) + kDay + 2 * 60 * 60) - now;
  if (left_today < 120) GTEST_SKIP() << "too close to midnight to make a certificate for today";
  const TestCert today = MakeCert({"CN=Today Signer, O=Example Ltd, C=GB", -kDay, left_today / 2},
                                  &Pki().intermediate);
  ASSERT_EQ(LongDate(NotAfter(today)), LongDate(now));
  PutInStore("Today", today);
  SignCall sign(data_);
  sign.store = com::Variant::Text("Today");
  ASSERT_TRUE(CallSignFile(sign)) << sign.Message();

  VerifyCall verify = Detached(W("data_DSignature.txt"), data_, false);
  EXPECT_TRUE(CallVerifyFile(verify));
  EXPECT_EQ(verify.Message(), "File: " + data_ + kCrLf + "is Verified. " + kCrLf +
                                  "Certificate Valit till '" + LongDate(now) + "'");
  EXPECT_EQ(
      verify.Details(),
      (std::vector<std::string>{ChainDetails(today, "CN=Today Signer, O=Example Ltd, C=GB")}));
  EXPECT_EQ(verify.Details().at(0).find("(Expired)"), std::string::npos);
}

// A lapsed issuing CA marks its own line, the one that names its issuer; the verdict looks at
// the signer's certificate alone.
TEST_F(SigningVerdicts, ExpiredIntermediateMarksItsOwnLine) {
  const TestCert lapsed_ca = MakeCert(
      {"CN=Lapsed Issuing CA, O=Vellum Test, C=GB", -30 * kDay, YesterdayNoonOffset(), true},
      &Pki().root);
  const TestCert signer = MakeCert({"CN=Carl Chain, O=Example Ltd, C=GB"}, &lapsed_ca);
  PutInStore("Chain", signer);
  PutInStore("CA", lapsed_ca, testing::StoreFormat::kPemNoKey);
  SignCall sign(data_);
  sign.store = com::Variant::Text("Chain");
  sign.binary = com::Variant::Bool(true);
  ASSERT_TRUE(CallSignFile(sign)) << sign.Message();

  VerifyCall verify = Detached(W("data_DSignature.txt"), data_, true);
  EXPECT_TRUE(CallVerifyFile(verify));
  EXPECT_EQ(verify.Message(), "File: " + data_ + kCrLf + "is Verified. " + kCrLf +
                                  "Certificate Valit till '" + LongDate(NotAfter(signer)) + "'");
  EXPECT_EQ(verify.Details(),
            (std::vector<std::string>{"CN=Carl Chain, O=Example Ltd, C=GB" + kCrLf +
                                      "CN=Lapsed Issuing CA, O=Vellum Test, C=GB, Expiry Date : " +
                                      GeneralDate(NotAfter(signer)) + kCrLf + kRootSubject +
                                      ", Expiry Date : " + GeneralDate(NotAfter(lapsed_ca)) +
                                      " (Expired) "}));
}

TEST_F(SigningVerdicts, SelfSignedSignerIsItsSubjectAlone) {
  PutInStore("Self", MakeCert({"CN=Solo Signer, C=GB"}));
  SignCall sign(data_);
  sign.store = com::Variant::Text("Self");
  ASSERT_TRUE(CallSignFile(sign)) << sign.Message();
  VerifyCall verify = Detached(W("data_DSignature.txt"), data_, false);
  EXPECT_TRUE(CallVerifyFile(verify));
  EXPECT_EQ(verify.Details(), std::vector<std::string>{"CN=Solo Signer, C=GB"});
}

// Two signers: one details element each, in order; the verdict speaks of the first only (here
// valid, while the second has run out).
TEST_F(SigningVerdicts, TwoSignersGiveTwoElementsAndTheFirstDecides) {
  const TestCert lapsed = Lapsed();
  OpensslDetached(Pki().signer, "ann");
  testing::WriteFile(W("lapsed.pem"), lapsed.Pem());
  testing::WriteFile(W("lapsed.key"), lapsed.KeyPem());
  ASSERT_EQ(Openssl("cms -resign -binary -inform DER -in ann.der -signer lapsed.pem -inkey "
                    "lapsed.key -outform DER -out two.der"),
            0);
  ASSERT_EQ(Openssl("cms -verify -binary -noverify -inform DER -in two.der -content data0.bin "
                    "-out /dev/null"),
            0);

  VerifyCall verify = Detached(W("two.der"), data_, true);
  EXPECT_TRUE(CallVerifyFile(verify)) << verify.Message();
  EXPECT_EQ(verify.Message(), "File: " + data_ + kCrLf + "is Verified. " + kCrLf +
                                  "Certificate Valit till '" + LongDate(NotAfter(Pki().signer)) +
                                  "'");
  EXPECT_EQ(verify.Details(), (std::vector<std::string>{ChainDetails(Pki().signer),
                                                        ChainDetails(lapsed, kLapsedSubject)}));
}

}  // namespace
}  // namespace vellum::signing_test
