// A first pass over the signing road through the vtable: each layout and encoding signs and
// verifies, and the restored content is the original's.
#include <gtest/gtest.h>

#include "library/com/bstr.h"
#include "library/com/client.h"
#include "library/com/variant.h"
#include "library/digital_sign/digital_sign.h"
#include "library/platform/files.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_pki.h"

namespace vellum {
namespace {

using com::Variant;

struct Case {
  bool detached;
  bool binary;
  bool credentials;
  bool encrypt;
};

class SignVerifySmoke : public ::testing::TestWithParam<Case> {};

TEST_P(SignVerifySmoke, RoundTrip) {
  const Case c = GetParam();
  testing::TempFolder tmp;
  testing::ScopedStoreRoot stores(tmp.File("stores"));
  auto pki = testing::TestPki::Make();
  testing::PutInStore("My", pki.signer);
  const std::string input = tmp.File("report.dat");
  const std::string data = c.binary ? std::string("\x00\x01\xFF\x7F\x80", 5) : "Hello,\r\nworld ";
  platform::WriteFileAtomic(input, data);

  com::ClassFactory<DigitalSign> factory;
  com::ComPtr<_DigitalSign> sign;
  ASSERT_EQ(factory.CreateInstance(nullptr, IID__DigitalSign, sign.out()), com::S_OK);

  Variant name = Variant::Text(input), sep = Variant::Bool(c.detached),
          bin = Variant::Bool(c.binary), store = Variant::Text(""), suffix = Variant::Text(""),
          message = Variant::Text(""), user = Variant::Text(c.credentials ? "ann" : ""),
          password = Variant::Text("pw"), encrypt = Variant::Bool(c.encrypt),
          person = Variant::Text(""), mail = Variant::Text(""), company = Variant::Text(""),
          hash_alg = Variant::Long(0), enc_alg = Variant::Long(4), result;
  ASSERT_EQ(sign->SignFile(name.value(), sep.get(), bin.get(), store.get(), suffix.get(),
                           message.get(), user.get(), password.get(), encrypt.get(), person.get(),
                           mail.get(), company.get(), hash_alg.get(), enc_alg.get(), result.get()),
            com::S_OK);
  ASSERT_EQ(result.value().boolVal, com::VARIANT_TRUE) << message.Utf8();
  const std::string signature =
      tmp.File(c.detached ? "report_DSignature.txt" : "report_ContentSignature.txt");
  EXPECT_EQ(suffix.Utf8(), c.detached ? "_DSignature.txt" : "_ContentSignature.txt");
  EXPECT_NE(message.Utf8().find(" And Signature saved to file:  " + signature), std::string::npos);
  if (!c.detached) std::filesystem::remove(input);  // restoring must bring it back

  Variant fingerprint = Variant::Text(signature), details,
          original = Variant::Text(c.detached ? input : "x"), verify_err = Variant::Text(""),
          open = Variant::Bool(false), decrypt = Variant::Bool(c.encrypt), trim = Variant::Text("");
  VARIANT_BOOL ok = com::VARIANT_FALSE;
  ASSERT_EQ(sign->VerifyFile(fingerprint.get(), sep.get(), bin.get(), details.get(), original.get(),
                             verify_err.get(), open.get(), user.get(), password.get(),
                             decrypt.get(), hash_alg.get(), enc_alg.get(), trim.get(), &ok),
            com::S_OK);
  ASSERT_EQ(ok, com::VARIANT_TRUE) << verify_err.Utf8();
  EXPECT_EQ(trim.Utf8(), "N");
  EXPECT_EQ(com::ReadTextArray(details.value()).size(), 1u);
  EXPECT_NE(verify_err.Utf8().find("is Verified. \r\nCertificate Valit till '"), std::string::npos)
      << verify_err.Utf8();
  EXPECT_EQ(original.Utf8(), input);
  EXPECT_EQ(platform::ReadFileBytes(input), data);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, SignVerifySmoke,
    ::testing::Values(Case{true, false, false, false}, Case{true, true, true, false},
                      Case{false, false, false, false}, Case{false, true, false, false},
                      Case{false, false, true, false}, Case{false, false, true, true},
                      Case{false, true, true, true}));

}  // namespace
}  // namespace vellum

namespace vellum {
namespace {

TEST(PackedSmoke, SignZipFileThenVerifyZipFileRestoresTheOriginal) {
  testing::TempFolder tmp;
  testing::ScopedStoreRoot stores(tmp.File("stores"));
  auto pki = testing::TestPki::Make();
  testing::PutInStore("My", pki.signer);
  const std::string input = tmp.File("pay.pdf");
  const std::string data("%PDF\x00\x01", 6);
  platform::WriteFileAtomic(input, data);
  com::ClassFactory<DigitalSign> factory;
  com::ComPtr<_DigitalSign> sign;
  ASSERT_EQ(factory.CreateInstance(nullptr, IID__DigitalSign, sign.out()), com::S_OK);

  Variant name = Variant::Text(input), sep = Variant::Bool(false), bin = Variant::Bool(true),
          store = Variant::Text("My"), suffix = Variant::Text(""), message = Variant::Text(""),
          user = Variant::Text("ann"), password = Variant::Text("pw"),
          encrypt = Variant::Bool(true), person = Variant::Text(""), mail = Variant::Text(""),
          company = Variant::Text(""), hash_alg = Variant::Long(-1), enc_alg = Variant::Missing(),
          result;
  ASSERT_EQ(
      sign->SignZipFile(name.value(), sep.get(), bin.get(), store.get(), suffix.get(),
                        message.get(), user.get(), password.get(), encrypt.get(), person.get(),
                        mail.get(), company.get(), hash_alg.get(), enc_alg.get(), result.get()),
      com::S_OK);
  ASSERT_EQ(result.value().boolVal, com::VARIANT_TRUE) << message.Utf8();
  EXPECT_TRUE(platform::FileExists(tmp.File("pay_ContentSignature.txt")));
  EXPECT_TRUE(platform::FileExists(tmp.File("pay_ContentSignature.trel")));
  EXPECT_NE(message.Utf8().find(" From Current user Store Name: My."), std::string::npos);
  std::filesystem::remove(input);

  Variant fingerprint = Variant::Text(tmp.File("pay_ContentSignature.trel")), details,
          original = Variant::Text("keep beside"), verify_err = Variant::Text(""),
          open = Variant::Bool(false), decrypt = Variant::Bool(true);
  VARIANT_BOOL ok = com::VARIANT_FALSE;
  ASSERT_EQ(sign->VerifyZipFile(fingerprint.get(), sep.get(), bin.get(), details.get(),
                                original.get(), verify_err.get(), open.get(), user.get(),
                                password.get(), decrypt.get(), hash_alg.get(), enc_alg.get(), &ok),
            com::S_OK);
  ASSERT_EQ(ok, com::VARIANT_TRUE) << verify_err.Utf8();
  EXPECT_NE(verify_err.Utf8().find("Certificate Valid till '"), std::string::npos);
  EXPECT_EQ(platform::ReadFileBytes(input), data);
  EXPECT_FALSE(platform::FileExists(tmp.File("UnZip/pay_ContentSignature.txt")));

  Variant wrong = Variant::Text("nope");
  ASSERT_EQ(sign->VerifyZipFile(fingerprint.get(), sep.get(), bin.get(), details.get(),
                                original.get(), verify_err.get(), open.get(), user.get(),
                                wrong.get(), decrypt.get(), hash_alg.get(), enc_alg.get(), &ok),
            com::S_OK);
  EXPECT_EQ(ok, com::VARIANT_FALSE);
  EXPECT_EQ(verify_err.Utf8(), "Can't Unzip the file.");
}

}  // namespace
}  // namespace vellum
