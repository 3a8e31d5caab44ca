// The packed road: SignZipFile writes the attached signature file and, with credentials and
// bEncryptFile, a copy packed under the password beside it; VerifyZipFile unpacks it into the
// UnZip folder, verifies, restores the original byte for byte and removes what it unpacked.
// The archive is opened with 7-Zip too, to show its password is the password itself.
#include <filesystem>

#include "library/platform/own_folders.h"
#include "tests/digital_sign/signing_fixture.h"

namespace vellum::signing_test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kUser = "ann.lee";
constexpr const char* kPassword = "zip pass 1";

class SigningZip : public SigningTest {
 protected:
  SignCall Packed(const std::string& input, bool binary) {
    SignCall sign(input);
    sign.detached = com::Variant::Bool(false);
    sign.binary = com::Variant::Bool(binary);
    sign.user = com::Variant::Text(kUser);
    sign.password = com::Variant::Text(kPassword);
    sign.encrypt = com::Variant::Bool(true);
    sign.encryption_algorithm = com::Variant::Missing();  // never read by SignZipFile
    return sign;
  }

  VerifyCall Unpack(const std::string& archive, bool binary, const std::string& password) {
    VerifyCall verify(archive);
    verify.detached = com::Variant::Bool(false);
    verify.binary = com::Variant::Bool(binary);
    verify.original = com::Variant::Text("x");
    verify.user = com::Variant::Text(kUser);
    verify.password = com::Variant::Text(password);
    verify.encryption_algorithm = com::Variant::Missing();
    return verify;
  }

  // The content openssl reads out of an attached signature file.
  Bytes CarriedContent(const std::string& signature, bool binary) {
    Bytes der = testing::ReadFile(signature);
    if (!binary) der = DecodeBase64(der);
    testing::WriteFile(W("msg.der"), der);
    EXPECT_EQ(Openssl("cms -verify -binary -noverify -inform DER -in msg.der -out content.bin"), 0);
    return testing::ReadFile(W("content.bin"));
  }
};

TEST_F(SigningZip, PackedSignatureRestoresTheOriginalExactly) {
  const Bytes data = Bytes("%PDF-1.4\r\n\x00\xFF binary tail", 24);
  for (bool binary : {true, false}) {
    for (bool decrypt : {true, false}) {  // bDecryptFile makes no difference
      SCOPED_TRACE(std::string(binary ? "binary" : "base64") + (decrypt ? " decrypt" : ""));
      const std::string folder = std::string(binary ? "b" : "t") + (decrypt ? "d" : "n");
      const std::string input = Put(folder + "/in/report.pdf", data);
      SignCall sign = Packed(input, binary);
      ASSERT_TRUE(CallSignZipFile(sign)) << sign.Message();
      const std::string signature = W(folder + "/in/report_ContentSignature.txt");
      const std::string archive = W(folder + "/in/report_ContentSignature.trel");
      EXPECT_EQ(sign.Message(), SignedText(signature)) << "the text names the signature file";
      EXPECT_EQ(List(folder + "/in"),
                (std::vector<std::string>{"report.pdf", "report_ContentSignature.trel",
                                          "report_ContentSignature.txt"}));
      EXPECT_EQ(testing::ReadFile(archive).substr(0, 4), "PK\x03\x04");
      // The packed signature carries no credentials hash.
      EXPECT_EQ(CarriedContent(signature, binary),
                (binary ? data + '\0' : AnsiToUnits(data)) + AnsiToUnits("report.pdf10"));

      // Verify a copy of the archive elsewhere, so the restored file is surely new.
      fs::create_directories(W(folder + "/out"));
      const std::string copy = W(folder + "/out/report_ContentSignature.trel");
      fs::copy_file(archive, copy);
      Put(folder + "/out/UnZip/left.over", "from an earlier run");
      Put(folder + "/out/UnZip/" + platform::kOwnFolderMark, "");  // an earlier run made it
      VerifyCall verify = Unpack(copy, binary, kPassword);
      verify.decrypt = com::Variant::Bool(decrypt);
      ASSERT_TRUE(CallVerifyZipFile(verify)) << verify.Message();
      const std::string restored = W(folder + "/out/report.pdf");
      EXPECT_EQ(verify.Message(), "File: " + copy + kCrLf + "is Verified. " + kCrLf +
                                      "Certificate Valid till '" +
                                      LongDate(NotAfter(Pki().signer)) + "'" + kCrLf +
                                      " And Original content written to file: " + restored);
      EXPECT_EQ(verify.Original(), restored);
      EXPECT_EQ(verify.Details(), std::vector<std::string>{ChainDetails(Pki().signer)});
      EXPECT_EQ(testing::ReadFile(restored), data);
      // The unpacked signature file is removed; the UnZip folder and the archive stay.
      EXPECT_TRUE(fs::is_directory(W(folder + "/out/UnZip")));
      EXPECT_TRUE(fs::is_empty(W(folder + "/out/UnZip")));
      EXPECT_TRUE(fs::exists(copy));
      EXPECT_TRUE(boxes_.empty());
    }
  }
}

TEST_F(SigningZip, TheArchivePasswordIsThePasswordItself) {
  const std::string input = Put("in/a.txt", "seven zip");
  SignCall sign = Packed(input, false);
  ASSERT_TRUE(CallSignZipFile(sign)) << sign.Message();
  std::string log;
  ASSERT_EQ(testing::RunCommand("cd '" + W("in") + "' && 7z x -y -o7z '-p" +
                                    std::string(kPassword) + "' a_ContentSignature.trel 2>&1",
                                &log),
            0)
      << log;
  EXPECT_EQ(testing::ReadFile(W("in/7z/a_ContentSignature.txt")),
            testing::ReadFile(W("in/a_ContentSignature.txt")));
}

// What ends the unpacking road early, and what must then be left untouched.
TEST_F(SigningZip, UnpackingFailures) {
  const std::string input = Put("in/a.txt", "packed");
  SignCall sign = Packed(input, false);
  ASSERT_TRUE(CallSignZipFile(sign)) << sign.Message();
  fs::create_directories(W("out"));
  const std::string archive = W("out/a_ContentSignature.trel");
  fs::copy_file(W("in/a_ContentSignature.trel"), archive);

  // A wrong password: the Zip class shows its text, the method says it could not unpack.
  VerifyCall wrong = Unpack(archive, false, "not the password");
  EXPECT_FALSE(CallVerifyZipFile(wrong));
  EXPECT_EQ(wrong.Message(), "Can't Unzip the file.");
  EXPECT_EQ(boxes_,
            std::vector<std::string>{"The password does not match with the original password."});
  EXPECT_FALSE(fs::exists(W("out/a.txt")));

  // No user id: nothing is unpacked, so there is no signature file to read.
  VerifyCall no_user = Unpack(archive, false, kPassword);
  no_user.user = com::Variant::Text("");
  no_user.original = com::Variant::Text("  x ");
  EXPECT_FALSE(CallVerifyZipFile(no_user));
  EXPECT_EQ(no_user.Message(),
            "Signature File Not Found " + kCrLf + "Or Can't Be Accessed for Original file : x");
  EXPECT_EQ(no_user.Original(), "x");
  EXPECT_FALSE(fs::exists(W("out/a.txt")));

  // A damaged archive cannot be unpacked either.
  Bytes damaged = testing::ReadFile(archive);
  damaged.resize(damaged.size() / 2);
  testing::WriteFile(W("out/damaged.trel"), damaged);
  VerifyCall broken = Unpack(W("out/damaged.trel"), false, kPassword);
  EXPECT_FALSE(CallVerifyZipFile(broken));
  EXPECT_EQ(broken.Message(), "Can't Unzip the file.");
  EXPECT_FALSE(fs::exists(W("out/a.txt")));
  EXPECT_TRUE(fs::is_empty(TempPath()));
  EXPECT_EQ(testing::ReadFile(W("in/a.txt")), "packed");
}

// Archives packed by 7-Zip (AES and the traditional cipher) around a plain attached signature
// verify too; a signature damaged inside its archive fails at verification, and the unpacked
// copy is then left in the UnZip folder.
TEST_F(SigningZip, ArchivesPackedElsewhere) {
  const std::string input = Put("in/a.txt", "packed by another tool");
  ASSERT_FALSE(Sign(input, false).empty());
  const Bytes signature = testing::ReadFile(W("in/a_ContentSignature.txt"));
  Bytes damaged = DecodeBase64(signature);
  const std::size_t at = damaged.find(AnsiToUnits("another"));
  ASSERT_NE(at, std::string::npos);
  damaged[at] = 'X';
  struct Case {
    const char* why;
    std::string method;
    Bytes signature;
    bool verifies;
  } const cases[] = {
      {"AES-256", "AES256", signature, true},
      {"traditional cipher", "ZipCrypto", signature, true},
      {"the same message on one Base64 line", "AES256", EncodeBase64(DecodeBase64(signature)),
       true},
      {"a damaged signature inside", "AES256", EncodeBase64(damaged), false},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    const std::string folder = "z" + std::to_string(n++);
    Put(folder + "/a_ContentSignature.txt", c.signature);
    std::string log;
    ASSERT_EQ(
        testing::RunCommand("cd '" + W(folder) + "' && 7z a -tzip -mem=" + c.method + " '-p" +
                                kPassword + "' a_ContentSignature.trel a_ContentSignature.txt 2>&1",
                            &log),
        0)
        << log;
    fs::remove(W(folder + "/a_ContentSignature.txt"));
    VerifyCall verify = Unpack(W(folder + "/a_ContentSignature.trel"), false, kPassword);
    EXPECT_EQ(CallVerifyZipFile(verify), c.verifies) << verify.Message();
    if (c.verifies) {
      EXPECT_EQ(testing::ReadFile(W(folder + "/a.txt")), "packed by another tool");
      EXPECT_TRUE(fs::is_empty(W(folder + "/UnZip")));
    } else {
      EXPECT_EQ(verify.Message(), "Signature or Certificate is not valid. ");
      EXPECT_FALSE(fs::exists(W(folder + "/a.txt")));
      EXPECT_TRUE(fs::exists(W(folder + "/UnZip/a_ContentSignature.txt")));
    }
  }
}

// A packed detached signature (SignZipFile never makes one, but a caller may ask): the unpacked
// file is the signature, the named original is the data behind the credentials hash; nothing
// is written and the unpacked file is removed.
TEST_F(SigningZip, PackedDetachedSignature) {
  const std::string input = Put("a.txt", "detached data");
  ASSERT_FALSE(Sign(input, true, false, kUser, kPassword).empty());
  std::string log;
  ASSERT_EQ(testing::RunCommand("cd '" + work_.path() + "' && 7z a -tzip -mem=AES256 '-p" +
                                    kPassword + "' a_DSignature.trel a_DSignature.txt 2>&1",
                                &log),
            0)
      << log;
  fs::remove(W("a_DSignature.txt"));
  VerifyCall verify = Unpack(W("a_DSignature.trel"), false, kPassword);
  verify.detached = com::Variant::Bool(true);
  verify.original = com::Variant::Text(input);
  EXPECT_TRUE(CallVerifyZipFile(verify)) << verify.Message();
  EXPECT_EQ(verify.Message(), "File: " + input + kCrLf + "is Verified. " + kCrLf +
                                  "Certificate Valid till '" + LongDate(NotAfter(Pki().signer)) +
                                  "'");
  EXPECT_EQ(verify.Details(), std::vector<std::string>{ChainDetails(Pki().signer)});
  EXPECT_EQ(List(), (std::vector<std::string>{"UnZip", "a.txt", "a_DSignature.trel"}));
  EXPECT_TRUE(fs::is_empty(W("UnZip")));

  VerifyCall no_original = Unpack(W("a_DSignature.trel"), false, kPassword);
  no_original.detached = com::Variant::Bool(true);
  no_original.original = com::Variant::Text(" ");
  EXPECT_FALSE(CallVerifyZipFile(no_original));
  EXPECT_EQ(no_original.Message(),
            "Original file name not specified. Please give Original file name. ");
}

// Only attached signing with both credentials and bEncryptFile packs; otherwise SignZipFile
// writes what SignFile would, and the hash goes where SignFile puts it.
TEST_F(SigningZip, WhenNothingIsPacked) {
  const std::string hash = CredentialsHash(kUser, kPassword);
  struct Case {
    const char* why;
    bool detached;
    std::string password;
    bool encrypt;
    std::string signature;
    Bytes content;  // attached: what the signature carries
  } const cases[] = {
      {"bEncryptFile False: the hash goes in front", false, kPassword, false,
       "a_ContentSignature.txt", AnsiToUnits(hash + "data" + "a.txt05")},
      {"no password, so no credentials: a plain signature", false, "", true,
       "a_ContentSignature.txt",
       AnsiToUnits("data"
                   "a.txt05")},
      {"detached is never packed; the hash is signed in front", true, kPassword, true,
       "a_DSignature.txt", ""},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    const std::string folder = "n" + std::to_string(n++);
    const std::string input = Put(folder + "/a.txt", "data");
    SignCall sign(input);
    sign.detached = com::Variant::Bool(c.detached);
    sign.user = com::Variant::Text(kUser);
    sign.password = com::Variant::Text(c.password);
    sign.encrypt = com::Variant::Bool(c.encrypt);
    ASSERT_TRUE(CallSignZipFile(sign)) << sign.Message();
    EXPECT_EQ(List(folder), (std::vector<std::string>{"a.txt", c.signature}));
    if (!c.detached) {
      EXPECT_EQ(CarriedContent(W(folder + "/" + c.signature), false), c.content);
      continue;
    }
    VerifyCall verify(W(folder + "/" + c.signature));
    verify.original = com::Variant::Text(input);
    verify.user = com::Variant::Text(kUser);
    verify.password = com::Variant::Text(kPassword);
    EXPECT_TRUE(CallVerifyFile(verify)) << verify.Message();
  }
}

// A nine-character name ends in "09" and parses like any other.
TEST_F(SigningZip, NineCharacterName) {
  const std::string input = Put("in/abcde.txt", "nine");
  SignCall sign = Packed(input, true);
  ASSERT_TRUE(CallSignZipFile(sign)) << sign.Message();
  EXPECT_EQ(CarriedContent(W("in/abcde_ContentSignature.txt"), true),
            Bytes("nine\0", 5) + AnsiToUnits("abcde.txt09"));
  fs::rename(input, W("in/signed.txt"));
  VerifyCall verify = Unpack(W("in/abcde_ContentSignature.trel"), true, kPassword);
  ASSERT_TRUE(CallVerifyZipFile(verify)) << verify.Message();
  EXPECT_EQ(testing::ReadFile(input), "nine");
}

// The packed copy cannot be written: the signature file stays, the call fails with the
// compression text, and the Zip class has shown its reason.
TEST_F(SigningZip, CompressionFailures) {
  struct Case {
    const char* why;
    std::string input, signature, archive;
  } const cases[] = {
      {"a folder in the archive's place", "f1/a.txt", "f1/a_ContentSignature.txt",
       "f1/a_ContentSignature.trel"},
      // Every ".txt" of the path is replaced, so the archive's folder is one that is missing.
      {"the extension also names a folder", "f2/a.txt/b.txt", "f2/a.txt/b_ContentSignature.txt",
       "f2/a.trel/b_ContentSignature.trel"},
  };
  fs::create_directories(W("f1/a_ContentSignature.trel"));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    boxes_.clear();
    const std::string input = Put(c.input, "data");
    SignCall sign = Packed(input, false);
    EXPECT_FALSE(CallSignZipFile(sign));
    EXPECT_EQ(sign.Message(), "Can't Compress the File.");
    EXPECT_TRUE(fs::is_regular_file(W(c.signature)));
    EXPECT_FALSE(fs::is_regular_file(W(c.archive)));
    EXPECT_EQ(boxes_.size(), 1u);
  }
  EXPECT_FALSE(fs::exists(W("f2/a.trel")));
}

// Without a usable certificate SignZipFile does not sign with an empty signer: it fails with
// the signing text and writes nothing.
TEST_F(SigningZip, NoCertificateWritesNothing) {
  const std::string input = Put("a.txt", "data");
  SignCall sign = Packed(input, false);
  sign.store = com::Variant::Text("Nothing");
  EXPECT_FALSE(CallSignZipFile(sign));
  EXPECT_EQ(sign.Message(), " Signing process failed." + kCrLf +
                                "Private key along with certificate may be destroyed. ");
  EXPECT_EQ(List(), std::vector<std::string>{"a.txt"});
}

}  // namespace
}  // namespace vellum::signing_test
