// VerifyFile's and VerifyNSEFile's outcomes, one group per table: the early refusals, the
// failure path's texts by stage and error sign, the written-back arguments and opening the
// verified file. Every failure also shows that nothing was restored and nothing was lost.
#include <filesystem>

#include "tests/digital_sign/signing_fixture.h"

namespace vellum::signing_test {
namespace {

namespace fs = std::filesystem;

const std::string kNotValid = "Signature or Certificate is not valid. ";
const std::string kNoOriginalName =
    "Original file name not specified. Please give Original file name. ";

class VerifyMessages : public SigningTest {
 protected:
  std::string ValidTill() const {
    return kCrLf + "Certificate Valit till '" + LongDate(NotAfter(Pki().signer)) + "'";
  }
};

// Refusals that end the call before the failure path, with their own texts.
TEST_F(VerifyMessages, EarlyRefusals) {
  const std::string input = Put("a.txt", "data");
  const std::string detached = Sign(input, true);
  ASSERT_FALSE(detached.empty());

  for (const char* name : {"", "   "}) {
    SCOPED_TRACE("original name '" + std::string(name) + "'");
    VerifyCall verify(detached);
    verify.original = com::Variant::Text(name);
    EXPECT_FALSE(CallVerifyFile(verify));
    EXPECT_EQ(verify.Message(), kNoOriginalName);
    EXPECT_EQ(verify.Original(), "") << "written back trimmed";

    VerifyCall nse(detached);
    nse.original = com::Variant::Text(name);
    EXPECT_FALSE(CallVerifyNSEFile(nse));
    EXPECT_EQ(nse.Message(), kNoOriginalName);
    EXPECT_EQ(nse.Original(), "");
  }

  // Attached with credentials: the prefix must be the hash of these credentials.
  const std::string with_hash = Put("h/b.txt", "hashed");
  const std::string attached = Sign(with_hash, false, false, "ann", "right");
  fs::rename(with_hash, W("h/kept.txt"));
  VerifyCall wrong(attached);
  wrong.detached = com::Variant::Bool(false);
  wrong.original = com::Variant::Text("x");
  wrong.user = com::Variant::Text("ann");
  wrong.password = com::Variant::Text("wrong");
  EXPECT_FALSE(CallVerifyFile(wrong));
  EXPECT_EQ(wrong.Message(),
            "Verification fails." + kCrLf + "Reason: UserID or Password is incorrect.");
  EXPECT_EQ(List("h"), (std::vector<std::string>{"b_ContentSignature.txt", "kept.txt"}));

  // Encrypted attached: a wrong password cannot decrypt.
  const std::string secret = Put("e/c.txt", "encrypted");
  const std::string encrypted = Sign(secret, false, false, "ann", "right", true);
  fs::remove(secret);
  VerifyCall undecryptable(encrypted);
  undecryptable.detached = com::Variant::Bool(false);
  undecryptable.original = com::Variant::Text("x");
  undecryptable.user = com::Variant::Text("ann");
  undecryptable.password = com::Variant::Text("wrong");
  undecryptable.decrypt = com::Variant::Bool(true);
  EXPECT_FALSE(CallVerifyFile(undecryptable));
  EXPECT_EQ(undecryptable.Message(), "Signature or Certificate is not valid .");
  EXPECT_EQ(List("e"), std::vector<std::string>{"c_ContentSignature.txt"});
  EXPECT_TRUE(fs::is_empty(TempPath()));
}

// The encoding flag is converted where the signature file is read, so a flag that is no
// Boolean fails that read and gets its text.
TEST_F(VerifyMessages, EncodingFlagThatIsNoBooleanFailsTheSignatureRead) {
  const std::string input = Put("a.txt", "data");
  const std::string detached = Sign(input, true);
  const std::string expected =
      "Signature File Not Found " + kCrLf + "Or Can't Be Accessed for Original file : " + input;
  VerifyCall verify(detached);
  verify.original = com::Variant::Text(input);
  verify.binary = com::Variant::Text("abc");
  EXPECT_FALSE(CallVerifyFile(verify));
  EXPECT_EQ(verify.Message(), expected);
  VerifyCall nse(detached);
  nse.original = com::Variant::Text(input);
  nse.binary = com::Variant::Text("abc");
  EXPECT_FALSE(CallVerifyNSEFile(nse));
  EXPECT_EQ(nse.Message(), expected);
}

// Success replaces the caller's message and details; a failure leaves the details as they were.
TEST_F(VerifyMessages, OutArgumentsAreReplacedOnlyOnSuccess) {
  const std::string input = Put("a.txt", "data");
  const std::string detached = Sign(input, true);
  VerifyCall ok(detached);
  ok.original = com::Variant::Text(input);
  ok.message = com::Variant::Text("an earlier text");
  ok.details = com::Variant::Array({"old 1", "old 2", "old 3"});
  EXPECT_TRUE(CallVerifyFile(ok));
  EXPECT_EQ(ok.Message(), "File: " + input + kCrLf + "is Verified. " + ValidTill());
  EXPECT_EQ(ok.Details(), std::vector<std::string>{ChainDetails(Pki().signer)});

  Put("b.txt", "changed");
  VerifyCall failed(detached);
  failed.original = com::Variant::Text(W("b.txt"));
  failed.details = com::Variant::Array({"kept"});
  EXPECT_FALSE(CallVerifyFile(failed));
  EXPECT_EQ(failed.Details(), std::vector<std::string>{"kept"});
}

// The failure path, positive numbers (the library's own steps): one text per stage.
TEST_F(VerifyMessages, OwnStepFailuresByStage) {
  const std::string input = Put("a.txt", "data");
  const std::string detached = Sign(input, true);

  // Stage 2: the signature file is missing; the text names the original, trimmed.
  VerifyCall no_signature(W("none_DSignature.txt"));
  no_signature.original = com::Variant::Text("  " + input + "  ");
  EXPECT_FALSE(CallVerifyFile(no_signature));
  EXPECT_EQ(no_signature.Message(), "Signature File Not Found " + kCrLf +
                                        "Or Can't Be Accessed for Original file : " + input);
  EXPECT_EQ(no_signature.Original(), input);
  // ... and is reported before a missing original name is noticed.
  VerifyCall neither(W("none_DSignature.txt"));
  EXPECT_FALSE(CallVerifyFile(neither));
  EXPECT_EQ(neither.Message(),
            "Signature File Not Found " + kCrLf + "Or Can't Be Accessed for Original file : ");

  // Stage 1: the original file is missing.
  VerifyCall no_original(detached);
  no_original.original = com::Variant::Text(W("gone.txt"));
  EXPECT_FALSE(CallVerifyFile(no_original));
  EXPECT_EQ(no_original.Message(), "Original File Not Found Or Can't BE Accessed" + kCrLf +
                                       "Desc.File: " + W("gone.txt") + " does not Exist.");

  // Stage 4: the restored file's place is taken by a folder, which must survive.
  const std::string attached = Sign(Put("w/b.txt", "restore me"), false);
  fs::remove(W("w/b.txt"));
  fs::create_directory(W("w/b.txt"));
  testing::WriteFile(W("w/b.txt/inside"), "kept");
  VerifyCall blocked(attached);
  blocked.detached = com::Variant::Bool(false);
  blocked.original = com::Variant::Text("x");
  EXPECT_FALSE(CallVerifyFile(blocked));
  const std::string cant = "Can't create/write File: " + W("w/b.txt") + ". " + kCrLf + "Reason: ";
  EXPECT_EQ(blocked.Message().substr(0, cant.size()), cant);
  EXPECT_GT(blocked.Message().size(), cant.size()) << "the description follows";
  EXPECT_EQ(blocked.Original(), W("w/b.txt")) << "the path was written back before the failure";
  EXPECT_EQ(testing::ReadFile(W("w/b.txt/inside")), "kept");
  EXPECT_EQ(List("w"), (std::vector<std::string>{"b.txt", "b_ContentSignature.txt"}));
  EXPECT_TRUE(fs::is_empty(TempPath()));

  // Stage 4 on the temporary-folder road: the temporary folder is a regular file.
  const std::string file_as_tmp = Put("tmpfile", "not a folder");
  {
    testing::ScopedEnv tmpdir("TMPDIR", file_as_tmp);
    VerifyCall to_temp(attached);
    to_temp.detached = com::Variant::Bool(false);
    EXPECT_FALSE(CallVerifyFile(to_temp));
    const std::string cant_temp =
        "Can't create/write File: " + file_as_tmp + "/b.txt. " + kCrLf + "Reason: ";
    EXPECT_EQ(to_temp.Message().substr(0, cant_temp.size()), cant_temp);
    EXPECT_EQ(testing::ReadFile(file_as_tmp), "not a folder");
  }

  // Stage 2 again: a folder where the signature file should be.
  VerifyCall folder_signature(W("w"));
  folder_signature.original = com::Variant::Text(input);
  EXPECT_FALSE(CallVerifyFile(folder_signature));
  EXPECT_EQ(folder_signature.Message(), "Signature File Not Found " + kCrLf +
                                            "Or Can't Be Accessed for Original file : " + input);

  // Stages 0 and 3: the earlier message, then the problem. A hash code that is no number
  // cannot be compared with zero.
  VerifyCall bad_code(detached);
  bad_code.original = com::Variant::Text(input);
  bad_code.message = com::Variant::Text("prev");
  bad_code.user = com::Variant::Text("ann");
  bad_code.password = com::Variant::Text("pw");
  bad_code.hash_algorithm = com::Variant::Text("abc");
  EXPECT_FALSE(CallVerifyFile(bad_code));
  EXPECT_EQ(bad_code.Message(), "Last Success: prev." + kCrLf + " Problem:Type mismatch");
}

// Stage 6 and stage 0 seen from the error's sign: a cipher code that is no number fails the
// decryption step itself; a hash code the component cannot serve fails before any reading.
TEST_F(VerifyMessages, DecryptionStageAndComponentFailuresElsewhere) {
  const std::string encrypted = Sign(Put("e/c.txt", "secret"), false, false, "ann", "pw", true);
  fs::remove(W("e/c.txt"));
  VerifyCall bad_cipher(encrypted);
  bad_cipher.detached = com::Variant::Bool(false);
  bad_cipher.original = com::Variant::Text("x");
  bad_cipher.user = com::Variant::Text("ann");
  bad_cipher.password = com::Variant::Text("pw");
  bad_cipher.decrypt = com::Variant::Bool(true);
  bad_cipher.encryption_algorithm = com::Variant::Text("abc");
  EXPECT_FALSE(CallVerifyFile(bad_cipher));
  EXPECT_EQ(bad_cipher.Message(), "Signature or Certificate is not valid .");

  VerifyCall md2(encrypted);
  md2.detached = com::Variant::Bool(false);
  md2.original = com::Variant::Text("x");
  md2.user = com::Variant::Text("ann");
  md2.password = com::Variant::Text("pw");
  md2.decrypt = com::Variant::Bool(true);
  md2.hash_algorithm = com::Variant::Short(1);
  EXPECT_FALSE(CallVerifyFile(md2));
  EXPECT_EQ(md2.Message().substr(0, 17), "Signing Problem: ");
  EXPECT_GT(md2.Message().size(), 17u);
  EXPECT_EQ(List("e"), std::vector<std::string>{"c_ContentSignature.txt"});
  EXPECT_TRUE(fs::is_empty(TempPath()));
}

// The failure path, component failures: at stage 3 every one reads the same.
TEST_F(VerifyMessages, ComponentFailuresAtVerification) {
  const std::string input = Put("a.txt", "data\r\n");
  const std::string detached = Sign(input, true);
  const std::string detached_binary = Sign(Put("bin/a.bin", "data"), true, true);
  const std::string encrypted = Sign(Put("e/c.txt", "secret"), false, false, "ann", "pw", true);
  Put("other.txt", "Data\r\n");
  Put("spaced.txt", "data\r\n ");
  Put("garbage_DSignature.txt", "hello, this is not a signed message");
  Put("empty_DSignature.txt", "");
  Bytes flipped = testing::ReadFile(detached_binary);
  flipped[flipped.size() - 3] ^= 0x01;  // inside the signature value
  Put("bin/flipped_DSignature.txt", flipped);
  Put("bin/b.bin", "datb");

  struct Case {
    const char* why;
    std::string signature, original;
    bool binary = false, detached = true;
    std::string user = "", password = "";
  } const cases[] = {
      {"the file changed in one letter", detached, W("other.txt")},
      {"the file gained a trailing space (not trimmed)", detached, W("spaced.txt")},
      {"the binary file changed in one byte", detached_binary, W("bin/b.bin"), true},
      {"the signature changed in one byte", W("bin/flipped_DSignature.txt"), W("bin/a.bin"), true},
      {"not a signed message", W("garbage_DSignature.txt"), input},
      {"an empty signature file", W("empty_DSignature.txt"), input},
      {"credentials the signer never gave", detached, input, false, true, "ann", "pw"},
      {"an encrypted message checked without decrypting", encrypted, "x", false, false, "ann",
       "pw"},
      {"an encrypted message checked without credentials", encrypted, "x", false, false},
      {"a detached signature checked as attached", detached, "x", false, false},
      {"a binary signature read as Base64 text", detached_binary, W("bin/a.bin")},
      {"a Base64 signature read as binary", detached, input, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    VerifyCall verify(c.signature);
    verify.original = com::Variant::Text(c.original);
    verify.binary = com::Variant::Bool(c.binary);
    verify.detached = com::Variant::Bool(c.detached);
    verify.user = com::Variant::Text(c.user);
    verify.password = com::Variant::Text(c.password);
    EXPECT_FALSE(CallVerifyFile(verify));
    EXPECT_EQ(verify.Message(), kNotValid);
    if (c.detached && c.user.empty()) {
      VerifyCall nse(c.signature);
      nse.original = com::Variant::Text(c.original);
      nse.binary = com::Variant::Bool(c.binary);
      EXPECT_FALSE(CallVerifyNSEFile(nse));
      EXPECT_EQ(nse.Message(), kNotValid);
    }
  }
  EXPECT_TRUE(fs::is_empty(TempPath()));
  EXPECT_EQ(List("e"), (std::vector<std::string>{"c.txt", "c_ContentSignature.txt"}));
  EXPECT_EQ(testing::ReadFile(W("e/c.txt")), "secret");
}

// VerifyNSEFile's own texts: no certificate line for a valid signer; the missing-file texts.
TEST_F(VerifyMessages, ExchangeFingerprintTexts) {
  const std::string input = Put("a.txt", "data");
  const std::string detached = Sign(input, true);
  VerifyCall ok(detached);
  ok.original = com::Variant::Text(" " + input);
  EXPECT_TRUE(CallVerifyNSEFile(ok));
  EXPECT_EQ(ok.Message(), "File: " + input + kCrLf + "is Verified. ");
  EXPECT_EQ(ok.Original(), input);

  VerifyCall no_signature(W("none.txt"));
  no_signature.original = com::Variant::Text(input);
  EXPECT_FALSE(CallVerifyNSEFile(no_signature));
  EXPECT_EQ(no_signature.Message(), "Signature File Not Found " + kCrLf +
                                        "Or Can't Be Accessed for Original file : " + input);

  VerifyCall no_original(detached);
  no_original.original = com::Variant::Text(W("gone.txt"));
  EXPECT_FALSE(CallVerifyNSEFile(no_original));
  EXPECT_EQ(no_original.Message(), "Original File Not Found Or Can't BE Accessed" + kCrLf +
                                       "Desc.File: " + W("gone.txt") + " does not Exist.");
  EXPECT_EQ(List(), (std::vector<std::string>{"a.txt", "a_DSignature.txt"}));
}

// The trim flag applies to both reads of the detached layout: exactly "Y" trims spaces.
TEST_F(VerifyMessages, TrimFlag) {
  const std::string input = Put("a.txt", "abc\r\n");
  const std::string detached = Sign(input, true);
  Put("spaced.txt", "  abc\r\n  ");
  struct Case {
    com::Variant flag;
    bool verifies;
    std::string after;
  };
  Case cases[] = {
      {com::Variant::Text("Y"), true, "Y"},
      {com::Variant::Text("y"), false, "y"},
      {com::Variant::Text("N"), false, "N"},
      {com::Variant::Text(""), false, "N"},  // an empty flag comes back as "N"
      {com::Variant::Missing(), false, ""},
  };
  for (auto& c : cases) {
    SCOPED_TRACE("flag " + c.after);
    VerifyCall verify(detached);
    verify.original = com::Variant::Text(W("spaced.txt"));
    verify.trim = c.flag;
    EXPECT_EQ(CallVerifyFile(verify), c.verifies) << verify.Message();
    if (!c.after.empty()) {
      EXPECT_EQ(SignCall::Text(verify.trim), c.after);
    }
  }
  // Spaces are trimmed, line ends are not: a CR LF that was signed must be there.
  Put("no_crlf.txt", "  abc  ");
  VerifyCall line_end(detached);
  line_end.original = com::Variant::Text(W("no_crlf.txt"));
  line_end.trim = com::Variant::Text("Y");
  EXPECT_FALSE(CallVerifyFile(line_end));
  EXPECT_EQ(line_end.Message(), kNotValid);
}

// Opening the verified file: only a flag equal to True opens, and the shell's answer is added
// to the verdict without changing the result.
TEST_F(VerifyMessages, OpeningAfterVerification) {
  const std::string attached = Sign(Put("in/a.txt", "open me"), false);
  const std::string restored = W("in/a.txt");
  const std::string verdict = "File: " + attached + kCrLf + "is Verified. " + ValidTill() + kCrLf +
                              " And Original content written to file: " + restored;
  struct Case {
    const char* why;
    com::Variant flag;
    int shell;
    std::string tail;
    bool opens;
  };
  Case cases[] = {
      {"opened", com::Variant::Bool(true), platform::kShellOpenStarted,
       kCrLf + " Opened file: " + restored, true},
      {"the shell cannot find it", com::Variant::Bool(true), 2,
       kCrLf + "But unable to open file due to reason: File not found", true},
      {"nothing associated", com::Variant::Bool(true), 31,
       kCrLf + "But unable to open file due to reason: No association for file extension", true},
      {"a check box's 1 is not True", com::Variant::Short(1), platform::kShellOpenStarted, "",
       false},
      {"False", com::Variant::Bool(false), platform::kShellOpenStarted, "", false},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.why);
    opened_.clear();
    shell_answer_ = c.shell;
    VerifyCall verify(attached);
    verify.detached = com::Variant::Bool(false);
    verify.original = com::Variant::Text("x");
    verify.open = c.flag;
    EXPECT_TRUE(CallVerifyFile(verify));
    EXPECT_EQ(verify.Message(), verdict + c.tail);
    EXPECT_EQ(opened_, c.opens ? std::vector<std::string>{restored} : std::vector<std::string>{});
  }
  // Detached: the original file is the one opened.
  const std::string input = Put("d.txt", "detached");
  const std::string detached = Sign(input, true);
  opened_.clear();
  shell_answer_ = platform::kShellOpenStarted;
  VerifyCall verify(detached);
  verify.original = com::Variant::Text(input);
  verify.open = com::Variant::Bool(true);
  EXPECT_TRUE(CallVerifyFile(verify));
  EXPECT_EQ(verify.Message(), "File: " + input + kCrLf + "is Verified. " + ValidTill() + kCrLf +
                                  " Opened file: " + input);
  EXPECT_EQ(opened_, std::vector<std::string>{input});
}

// Both sides sign the hash followed by the data for every name, "PDF" in it or not.
TEST_F(VerifyMessages, CredentialsWithPdfInThePath) {
  for (const char* name : {"pdf.In/report.PDF", "x/a.pdf", "y/Pdf"}) {
    SCOPED_TRACE(name);
    const std::string input = Put(name, "%PDF-1.4 data");
    const std::string detached = Sign(input, true, true, "ann", "pw");
    VerifyCall verify(detached);
    verify.binary = com::Variant::Bool(true);
    verify.original = com::Variant::Text(input);
    verify.user = com::Variant::Text("ann");
    verify.password = com::Variant::Text("pw");
    EXPECT_TRUE(CallVerifyFile(verify)) << verify.Message();
  }
}

// Credentials count only when both parts are given; a layout flag that is neither True nor
// False is refused with a text and writes nothing.
TEST_F(VerifyMessages, HalfCredentialsAndUnknownLayout) {
  const std::string input = Put("a.txt", "plain");
  const std::string detached = Sign(input, true, false, "ann", "");  // no hash: password empty
  for (auto [user, password] : {std::pair{"ann", ""}, std::pair{"", "pw"}}) {
    VerifyCall verify(detached);
    verify.original = com::Variant::Text(input);
    verify.user = com::Variant::Text(user);
    verify.password = com::Variant::Text(password);
    EXPECT_TRUE(CallVerifyFile(verify)) << verify.Message();
  }
  // bBinaryEncoding is converted, not compared: a check box's 1 reads as True.
  const std::string binary = Sign(Put("b.bin", "binary"), true, true);
  VerifyCall one(binary);
  one.original = com::Variant::Text(W("b.bin"));
  one.binary = com::Variant::Short(1);
  EXPECT_TRUE(CallVerifyFile(one)) << one.Message();
  fs::remove(W("b.bin"));
  fs::remove(binary);

  VerifyCall neither(detached);
  neither.original = com::Variant::Text(input);
  neither.detached = com::Variant::Short(1);
  EXPECT_FALSE(CallVerifyFile(neither));
  EXPECT_FALSE(neither.Message().empty());
  EXPECT_EQ(List(), (std::vector<std::string>{"a.txt", "a_DSignature.txt"}));
  EXPECT_TRUE(fs::is_empty(TempPath()));
}

}  // namespace
}  // namespace vellum::signing_test
