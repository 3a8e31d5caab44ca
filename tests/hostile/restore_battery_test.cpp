// Restoring carried content where strangers choose the names: a link planted at the restored
// name, the shared temporary folder, a signature whose carried name is its own, a packed
// signature carrying the packed file's name, a check box's 1 for bDecryptFile, and several
// packed verifications in one folder at once.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "library/archive/archive.h"
#include "library/crypto/signed_data.h"
#include "tests/hostile/hostile_fixture.h"

namespace vellum::hostile {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kStranger = 65534;  // nobody

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

// The stage-4 text of VerifyFile and VerifyZipFile, up to the reason's description.
std::string CantWrite(const std::string& path) {
  return "Can't create/write File: " + path + ". " + kCrLf + "Reason: ";
}

class RestoreBattery : public HostileTest {
 protected:
  // An attached binary signature at `signature` whose content is "data" carrying `name`.
  void Craft(const std::string& signature, const std::string& name) {
    crypto::Signer signer;
    signer.SetCertificate(Pki().signer.ToCertificate());
    crypto::SignedData signed_data;
    const std::string digits = (name.size() < 10 ? "0" : "") + std::to_string(name.size());
    signed_data.SetContent(Bytes("data\0", 5) + Units(name) + Units(digits));
    testing::WriteFile(signature, signed_data.Sign(signer, false, crypto::kEncodeBinary));
  }
};

// A link planted at the restored name, beside the signature or in the temporary folder, is
// replaced and passes nothing on: the restored file is a plain file of the usual mode, and
// what the link pointed at keeps its bytes and its setuid bit.
TEST_F(RestoreBattery, ALinkAtTheRestoredNamePassesNothingOn) {
  const std::string program = Put("bin/program", "#!/bin/sh\n");
  ASSERT_EQ(::chmod(program.c_str(), 04755), 0);
  const std::string signature = Sign(Put("in/tool.sh", "restored content"), false, true);
  fs::remove(W("in/tool.sh"));
  ::umask(022);
  struct Case {
    const char* why;
    std::string original;  // "x": beside the signature; "": the temporary folder
    std::string restored;
    mode_t mode;
  };
  for (const Case& c : {Case{"beside the signature", "x", W("in/tool.sh"), 0644},
                        Case{"in the temporary folder", "", Temp() + "/tool.sh", 0600}}) {
    SCOPED_TRACE(c.why);
    fs::create_symlink(program, c.restored);
    VerifyCall call(signature, false, true);
    call.original = com::Variant::Text(c.original);
    ASSERT_TRUE(call.File()) << call.Message();
    EXPECT_EQ(call.Original(), c.restored);
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(c.restored)));
    EXPECT_EQ(ModeOf(c.restored), c.mode);
    EXPECT_EQ(testing::ReadFile(c.restored), "restored content");
    EXPECT_EQ(testing::ReadFile(program), "#!/bin/sh\n");
    EXPECT_EQ(ModeOf(program), 04755u);
  }
}

// Restored into the shared temporary folder: private to its owner, whatever the umask, and a
// file of that name belonging to another user is refused with the writing stage's text.
TEST_F(RestoreBattery, TheTemporaryFolderGetsPrivateFilesAndNoStrangersName) {
  const std::string signature = Sign(Put("in/report.txt", "decrypted report"), false, false);
  ::umask(0);
  VerifyCall call(signature);
  call.original = com::Variant::Text("");
  ASSERT_TRUE(call.File()) << call.Message();
  EXPECT_EQ(ModeOf(Temp() + "/report.txt"), 0600u);
  ::umask(022);

  const std::string theirs = Temp() + "/report.txt";
  testing::WriteFile(theirs, "a stranger's file");
  ASSERT_EQ(::chown(theirs.c_str(), kStranger, kStranger), 0);
  const Everything before = All();
  VerifyCall again(signature);
  again.original = com::Variant::Text("");
  EXPECT_FALSE(again.File());
  EXPECT_EQ(again.Message().substr(0, CantWrite(theirs).size()), CantWrite(theirs));
  EXPECT_NE(again.Message().find("belongs to another user"), std::string::npos) << again.Message();
  const Everything after = All();
  EXPECT_TRUE(after == before) << Difference(before, after);
}

// A signature received under the name it carries, or a packed file carrying its own name:
// restoring would replace the very file being verified. Refused at the writing stage, and the
// file is left whole.
TEST_F(RestoreBattery, AVerificationNeverReplacesItsOwnInput) {
  const std::string signature = W("own/report.pdf");
  Put("own/placeholder", "");
  Craft(signature, "report.pdf");
  {
    const Everything before = All();
    VerifyCall call(signature, false, true);
    EXPECT_FALSE(call.File());
    EXPECT_EQ(call.Message().substr(0, CantWrite(signature).size()), CantWrite(signature));
    const Everything after = All();
    EXPECT_TRUE(after == before) << Difference(before, after);
  }
  // The packed form: p.trel holds a signature (p.txt, the name extraction looks for) that
  // carries the name "p.trel".
  Put("pack/placeholder", "");
  Craft(W("pack/p.txt"), "p.trel");
  ASSERT_TRUE(archive::CompressFile(W("pack/p.txt"), W("pack/p.trel"), "pw").ok());
  fs::remove(W("pack/p.txt"));
  const Bytes packed = testing::ReadFile(W("pack/p.trel"));
  VerifyCall call(W("pack/p.trel"), false, true);
  call.Credentials("ann", "pw", true);
  EXPECT_FALSE(call.Zip());
  EXPECT_EQ(call.Message().substr(0, CantWrite(W("pack/p.trel")).size()),
            CantWrite(W("pack/p.trel")));
  EXPECT_EQ(testing::ReadFile(W("pack/p.trel")), packed);
}

// bDecryptFile holding a check box's 1 is neither True nor False: refused (error 5) before
// anything is read, like the layout flags, instead of skipping both the decryption and the
// credentials check (a wrong password verified, and the restored file began with the hash).
TEST_F(RestoreBattery, ACheckBoxValueForDecryptIsRefused) {
  const std::string signature =
      Sign(Put("in/a.txt", "secret content"), false, false, "ann", "pw", false);
  fs::remove(W("in/a.txt"));
  for (const std::string password : {"pw", "not-the-password"}) {
    SCOPED_TRACE(password);
    const Everything before = All();
    VerifyCall call(signature);
    call.Credentials("ann", password, true);
    call.decrypt = com::Variant::Short(1);
    EXPECT_FALSE(call.File());
    EXPECT_NE(call.Message().find(" Problem:Invalid procedure call or argument"), std::string::npos)
        << call.Message();
    const Everything after = All();
    EXPECT_TRUE(after == before) << Difference(before, after);
  }
}

// Packed verifications in one folder at once, each its own object on its own thread: the lock
// beside UnZip keeps one from removing another's extraction, and all of them succeed.
TEST_F(RestoreBattery, PackedVerificationsInOneFolderAtOnceAllSucceed) {
  const std::string packed = SignZip(Put("pack/a.bin", Bytes(300000, 'z')), true, "pw");
  fs::remove(W("pack/a_ContentSignature.txt"));
  constexpr int kRuns = 4;
  for (int round = 0; round < 3; ++round) {
    std::vector<int> ok(kRuns, 0);
    std::vector<std::string> messages(kRuns);
    std::vector<std::thread> runs;
    for (int i = 0; i < kRuns; ++i)
      runs.emplace_back([&, i] {
        VerifyCall call(packed, false, true);
        call.Credentials("ann", "pw", true);
        ok[i] = call.Zip() ? 1 : 0;
        messages[i] = call.Message();
      });
    for (auto& t : runs) t.join();
    for (int i = 0; i < kRuns; ++i) EXPECT_EQ(ok[i], 1) << "round " << round << ": " << messages[i];
  }
  EXPECT_EQ(testing::ReadFile(W("pack/a.bin")), Bytes(300000, 'z'));
}

}  // namespace
}  // namespace vellum::hostile
