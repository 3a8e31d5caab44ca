// Attached signatures read twice through their framing: every layout round-trips exactly for
// contents whose lengths fall around the reading's pieces and the kept ends of the content, and
// nothing the restoring meets is reported before the verdict.
#include <filesystem>

#include "tests/digital_sign/signing_fixture.h"

namespace vellum::signing_test {
namespace {

namespace fs = std::filesystem;

const std::string kNotValid = "Signature or Certificate is not valid. ";

// A content of `size` bytes that is text in both encodings (CR LF lines of letters), so the
// text layout has no ANSI question to ask.
Bytes Content(std::size_t size) {
  Bytes out(size, 'a');
  for (std::size_t i = 0; i < size; ++i)
    out[i] = i % 66 == 64 ? '\r' : i % 66 == 65 ? '\n' : static_cast<char>('a' + i % 26);
  return out;
}

class AttachedReading : public SigningTest {
 protected:
  VerifyCall Call(const std::string& signature, bool binary, bool credentials, bool decrypt) {
    VerifyCall verify(signature);
    verify.detached = com::Variant::Bool(false);
    verify.binary = com::Variant::Bool(binary);
    verify.original = com::Variant::Text("x");
    if (credentials) {
      verify.user = com::Variant::Text("ann");
      verify.password = com::Variant::Text("pw");
      verify.decrypt = com::Variant::Bool(decrypt);
    }
    return verify;
  }
};

// Each layout (text, binary; with credentials, encrypted) over sizes around the kept head
// (64 KiB), the read piece (256 KiB) and odd lengths: the restored file is the signed one, and
// the trim flag changes nothing of an attached signature.
TEST_F(AttachedReading, EveryLayoutRestoresExactly) {
  struct Layout {
    bool binary, credentials, encrypt;
  } const layouts[] = {{false, false, false}, {true, false, false}, {false, true, false},
                       {true, true, false},   {false, true, true},  {true, true, true}};
  const std::size_t sizes[] = {0, 1, 255, 65535, 65536, 65537, 262144 + 3, 1048576 + 7};
  int n = 0;
  for (const Layout& l : layouts)
    for (std::size_t size : sizes) {
      const std::string why = "binary " + std::to_string(l.binary) + " credentials " +
                              std::to_string(l.credentials) + " encrypt " +
                              std::to_string(l.encrypt) + " size " + std::to_string(size);
      SCOPED_TRACE(why);
      const std::string folder = "c" + std::to_string(n++);
      const Bytes data = Content(size);
      const std::string input = Put(folder + "/d.dat", data);
      const std::string signature = Sign(input, false, l.binary, l.credentials ? "ann" : "",
                                         l.credentials ? "pw" : "", l.encrypt);
      ASSERT_FALSE(signature.empty());
      fs::remove(input);
      VerifyCall verify = Call(signature, l.binary, l.credentials, l.encrypt);
      verify.trim = com::Variant::Text(size % 2 == 0 ? "Y" : "N");
      ASSERT_TRUE(CallVerifyFile(verify)) << verify.Message();
      EXPECT_EQ(verify.Original(), input);
      EXPECT_TRUE(verify.Message().ends_with("\r\n And Original content written to file: " + input))
          << verify.Message();
      EXPECT_EQ(testing::ReadFile(input), data);
      // Credentials that do not match: the signature holds, the content is not restored.
      if (l.credentials && !l.encrypt) {
        fs::remove(input);
        VerifyCall other = Call(signature, l.binary, true, false);
        other.password = com::Variant::Text("other");
        EXPECT_FALSE(CallVerifyFile(other));
        EXPECT_EQ(other.Message(),
                  "Verification fails.\r\nReason: UserID or Password is incorrect.");
        EXPECT_FALSE(fs::exists(input));
      }
    }
}

// A signature that does not hold is reported as such, whatever restoring it would have met (the
// temporary folder missing), and nothing is left behind; one that holds reports the writing.
TEST_F(AttachedReading, TheVerdictComesBeforeAnyWritingFailure) {
  const std::string input = Put("w/d.dat", Content(300000));
  const std::string signature = Sign(input, false, true);
  ASSERT_FALSE(signature.empty());
  fs::remove(input);
  Bytes changed = testing::ReadFile(signature);
  changed[changed.size() / 2] ^= 1;  // inside the content
  const std::string bad = Put("w/bad_ContentSignature.txt", changed);
  testing::ScopedEnv missing("TMPDIR", W("no such folder"));
  VerifyCall good = Call(signature, true, false, false);
  good.original = com::Variant::Text("");  // to the temporary folder
  EXPECT_FALSE(CallVerifyFile(good));
  EXPECT_TRUE(good.Message().starts_with("Can't create/write File: " + W("no such folder/d.dat")))
      << good.Message();
  VerifyCall tampered = Call(bad, true, false, false);
  tampered.original = com::Variant::Text("");
  EXPECT_FALSE(CallVerifyFile(tampered));
  EXPECT_EQ(tampered.Message(), kNotValid);
  EXPECT_EQ(List("w"),
            (std::vector<std::string>{"bad_ContentSignature.txt", "d_ContentSignature.txt"}));
}

// An empty signature file, one cut short in its content, and one with other bytes after it fail
// as unreadable messages at the verifying stage, in both encodings; nothing is restored.
TEST_F(AttachedReading, DamagedFilesFailAtTheVerifyingStage) {
  const std::string input = Put("e/d.dat", Content(100000));
  for (bool binary : {true, false}) {
    SCOPED_TRACE(binary ? "binary" : "text");
    const std::string signature = Sign(input, false, binary);
    ASSERT_FALSE(signature.empty());
    const Bytes whole = testing::ReadFile(signature);
    for (const Bytes& damaged : {Bytes(), whole.substr(0, whole.size() / 2), whole + "x"}) {
      const std::string path = Put("e/damaged.sig", damaged);
      VerifyCall verify = Call(path, binary, false, false);
      EXPECT_FALSE(CallVerifyFile(verify));
      EXPECT_EQ(verify.Message(), kNotValid);
    }
  }
  EXPECT_EQ(List("e"),
            (std::vector<std::string>{"d.dat", "d_ContentSignature.txt", "damaged.sig"}));
}

}  // namespace
}  // namespace vellum::signing_test
