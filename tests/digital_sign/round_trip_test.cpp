// Sign, then verify, for every layout, encoding, credentials and encryption setting, over the
// files that break naive layouts: nothing at all, odd byte counts, every byte value, CR LF
// text and the longest name the trailer can carry. The restored file must equal the signed one
// byte for byte, and a detached verification must write nothing.
#include <filesystem>

#include "tests/digital_sign/signing_fixture.h"

namespace vellum::signing_test {
namespace {

namespace fs = std::filesystem;

struct FileCase {
  std::string name;
  Bytes data;
};

Bytes AllByteValues() {
  Bytes out;
  for (int i = 0; i < 256; ++i) out += static_cast<char>(i);
  return out;
}

const std::vector<FileCase>& Files() {
  static const std::vector<FileCase> files = {
      // The reader's buffer is one byte longer than the file: an empty file still signs.
      {"empty.txt", ""},
      // Odd lengths: the data part plus the reader's zero byte do or do not fill 16-bit units.
      {"one.bin", "\x7F"},
      {"three.bin", Bytes("\x00\xFF\x10", 3)},
      {"even.bin", Bytes("\xFE\x00", 2)},
      // Every byte value: ANSI text must round-trip too, the five unmapped bytes included.
      {"all256.bin", AllByteValues()},
      // Line ends are content, not formatting.
      {"crlf.txt", "first line\r\nsecond line \xE9\r\n\r\nthird \x80 line\r\n"},
      // A name beyond ASCII: carried as text, restored under the same name.
      {"Gr\xC3\xBC\xC3\x9F"
       "e \xE2\x82\xAC\xE6\x97\xA5\xE6\x9C\xAC\xF0\x9F\x98\x80.txt",
       "beyond ASCII"},
      // The longest name the two-digit trailer can carry.
      {std::string(95, 'n') + ".txt", "ninety-nine"},
  };
  return files;
}

struct Mode {
  bool detached;
  bool binary;
  bool credentials;
  bool encrypt;
  std::string Describe() const {
    return std::string(detached ? "detached" : "attached") + (binary ? " binary" : " base64") +
           (credentials ? " credentials" : " no-credentials") +
           (encrypt ? " encrypt" : " no-encrypt");
  }
};

std::vector<Mode> AllModes() {
  std::vector<Mode> modes;
  for (bool detached : {true, false})
    for (bool binary : {false, true})
      for (bool credentials : {false, true})
        for (bool encrypt : {false, true})
          modes.push_back({detached, binary, credentials, encrypt});
  return modes;
}

class SigningRoundTrip : public SigningTest {
 protected:
  static constexpr const char* kUser = "ann.lee";
  static constexpr const char* kPassword = "S3cret pass";

  template <class Call>
  void Configure(Call& c, const Mode& m) {
    c.detached = com::Variant::Bool(m.detached);
    c.binary = com::Variant::Bool(m.binary);
    if (m.credentials) {
      c.user = com::Variant::Text(kUser);
      c.password = com::Variant::Text(kPassword);
    }
  }

  std::string ValidTill() const {
    return kCrLf + "Certificate Valit till '" + LongDate(NotAfter(Pki().signer)) + "'";
  }

  void RoundTrip(const FileCase& file, const Mode& mode, const std::string& folder);
};

void SigningRoundTrip::RoundTrip(const FileCase& file, const Mode& mode,
                                 const std::string& folder) {
  const std::string input = Put(folder + "/in/" + file.name, file.data);
  const std::string base = input.substr(0, input.rfind('.'));
  const std::string suffix = mode.detached ? "_DSignature.txt" : "_ContentSignature.txt";
  const std::string signature = base + suffix;

  SignCall sign(input);
  Configure(sign, mode);
  sign.encrypt = com::Variant::Bool(mode.encrypt);
  ASSERT_TRUE(CallSignFile(sign)) << sign.Message();
  EXPECT_EQ(sign.Message(), SignedText(signature));
  EXPECT_EQ(sign.Extension(), suffix) << "the default suffix is handed back";
  ASSERT_TRUE(fs::exists(signature));
  EXPECT_EQ(testing::ReadFile(input), file.data) << "signing leaves the input alone";
  EXPECT_EQ(List(folder + "/in"),
            (std::vector<std::string>{file.name, fs::path(signature).filename()}));
  EXPECT_EQ(chooser_.calls, 0) << "one usable certificate needs no chooser";

  if (mode.detached) {
    VerifyCall verify(signature);
    Configure(verify, mode);
    verify.original = com::Variant::Text(input);
    ASSERT_TRUE(CallVerifyFile(verify)) << verify.Message();
    EXPECT_EQ(verify.Message(), "File: " + input + kCrLf + "is Verified. " + ValidTill());
    EXPECT_EQ(verify.Details(), (std::vector<std::string>{ChainDetails(Pki().signer)}));
    EXPECT_EQ(verify.Original(), input);
    EXPECT_EQ(List(folder + "/in").size(), 2u) << "a detached verification writes nothing";
    EXPECT_TRUE(fs::is_empty(TempPath()));
    if (!mode.credentials) {
      VerifyCall nse(signature);
      nse.binary = com::Variant::Bool(mode.binary);
      nse.original = com::Variant::Text(input);
      ASSERT_TRUE(CallVerifyNSEFile(nse)) << nse.Message();
      EXPECT_EQ(nse.Message(), "File: " + input + kCrLf + "is Verified. ");
    }
    return;
  }

  // Attached: verify a copy in another folder, over an older and longer file of the same name,
  // so the restored file is known to come from the signature and to replace what was there.
  const std::string copy = W(folder + "/out/" + fs::path(signature).filename().string());
  const std::string restored = W(folder + "/out/" + file.name);
  fs::create_directories(W(folder + "/out"));
  fs::copy_file(signature, copy);
  testing::WriteFile(restored, file.data + std::string(300, 'x'));

  VerifyCall verify(copy);
  Configure(verify, mode);
  verify.decrypt = com::Variant::Bool(mode.encrypt);
  verify.original = com::Variant::Text("  any name selects the signature's folder ");
  ASSERT_TRUE(CallVerifyFile(verify)) << verify.Message();
  EXPECT_EQ(verify.Message(), "File: " + copy + kCrLf + "is Verified. " + ValidTill() + kCrLf +
                                  " And Original content written to file: " + restored);
  EXPECT_EQ(verify.Original(), restored);
  EXPECT_EQ(verify.Details(), (std::vector<std::string>{ChainDetails(Pki().signer)}));
  EXPECT_EQ(testing::ReadFile(restored), file.data) << "restored byte for byte";
  EXPECT_EQ(List(folder + "/out").size(), 2u) << "no temporary file is left behind";

  // An empty original name sends the restored file to the temporary folder.
  VerifyCall to_temp(copy);
  Configure(to_temp, mode);
  to_temp.decrypt = com::Variant::Bool(mode.encrypt);
  ASSERT_TRUE(CallVerifyFile(to_temp)) << to_temp.Message();
  EXPECT_EQ(to_temp.Original(), T(file.name));
  EXPECT_EQ(testing::ReadFile(T(file.name)), file.data);
  fs::remove(T(file.name));
  EXPECT_TRUE(fs::is_empty(TempPath())) << "only the restored file was written there";
}

TEST_F(SigningRoundTrip, EveryModeRestoresEveryFileExactly) {
  int n = 0;
  for (const auto& mode : AllModes()) {
    for (const auto& file : Files()) {
      SCOPED_TRACE(mode.Describe() + " / " + file.name.substr(0, 20));
      RoundTrip(file, mode, "case" + std::to_string(n++));
      if (HasFatalFailure()) return;
    }
  }
}

// The encrypted attached form under each cipher the component offers for a password; the
// legacy ones come from OpenSSL's legacy provider.
TEST_F(SigningRoundTrip, EncryptedAttachedSignaturesUnderEachCipher) {
  for (std::int16_t cipher : {0, 2, 3, 4}) {
    SCOPED_TRACE("cipher " + std::to_string(cipher));
    const std::string input = Put("c" + std::to_string(cipher) + "/a.txt", "cipher text\r\n");
    SignCall sign(input);
    sign.detached = com::Variant::Bool(false);
    sign.user = com::Variant::Text(kUser);
    sign.password = com::Variant::Text(kPassword);
    sign.encrypt = com::Variant::Bool(true);
    sign.encryption_algorithm = com::Variant::Short(cipher);
    ASSERT_TRUE(CallSignFile(sign)) << sign.Message();

    VerifyCall verify(W("c" + std::to_string(cipher) + "/a_ContentSignature.txt"));
    verify.detached = com::Variant::Bool(false);
    verify.user = com::Variant::Text(kUser);
    verify.password = com::Variant::Text(kPassword);
    verify.decrypt = com::Variant::Bool(true);
    verify.encryption_algorithm = com::Variant::Short(cipher);
    ASSERT_TRUE(CallVerifyFile(verify)) << verify.Message();
    EXPECT_EQ(testing::ReadFile(T("a.txt")), "cipher text\r\n");
  }
}

// Any hash code the component serves gives a hash both sides agree on; a negative code means 0.
TEST_F(SigningRoundTrip, CredentialsUnderEachHashCode) {
  struct Case {
    std::int16_t sign_code, verify_code;
    bool verifies;
  } const cases[] = {
      {0, 0, true},   {3, 3, true},  {4, 4, true},
      {5, 5, true},   {6, 6, true},  {-1, 0, true},  // negative means SHA-1 on both sides
      {-1, -7, true}, {4, 0, false},                 // a different hash is a different prefix
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.sign_code) + " -> " + std::to_string(c.verify_code));
    const std::string input = Put("h" + std::to_string(n++) + "/data.txt", "hashed");
    SignCall sign(input);
    sign.user = com::Variant::Text(kUser);
    sign.password = com::Variant::Text(kPassword);
    sign.hash_algorithm = com::Variant::Short(c.sign_code);
    ASSERT_TRUE(CallSignFile(sign)) << sign.Message();
    VerifyCall verify(input.substr(0, input.rfind('.')) + "_DSignature.txt");
    verify.original = com::Variant::Text(input);
    verify.user = com::Variant::Text(kUser);
    verify.password = com::Variant::Text(kPassword);
    verify.hash_algorithm = com::Variant::Short(c.verify_code);
    EXPECT_EQ(CallVerifyFile(verify), c.verifies) << verify.Message();
    if (!c.verifies) {
      EXPECT_EQ(verify.Message(), "Signature or Certificate is not valid. ");
    }
  }
}

}  // namespace
}  // namespace vellum::signing_test
