// The vellum command driven in-process: usage errors, registration against a throwaway
// registry file, and opening a document through the registered library.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <sstream>

#include "cli/run.h"
#include "library/platform/files.h"

namespace vellum::cli {
namespace {

struct Result {
  int code;
  std::string out;
  std::string err;
};

Result RunCli(const std::vector<std::string>& args, const std::string& input = "") {
  std::istringstream in(input);
  std::ostringstream out, err;
  int code = Run(args, in, out, err);
  return {code, out.str(), err.str()};
}

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vellum-cli-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    registry_ = dir_ + "/registry.ini";
    ::setenv("VELLUM_REGISTRY", registry_.c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("VELLUM_REGISTRY");
    std::filesystem::remove_all(dir_);
  }
  std::string dir_;
  std::string registry_;
};

TEST_F(CliTest, UsageErrorsExitWithTwo) {
  EXPECT_EQ(RunCli({}).code, kUsage);
  Result unknown = RunCli({"frobnicate"});
  EXPECT_EQ(unknown.code, kUsage);
  EXPECT_NE(unknown.err.find("unknown command"), std::string::npos);
  EXPECT_EQ(RunCli({"open"}).code, kUsage);
  EXPECT_EQ(RunCli({"open", "a", "b"}).code, kUsage);
  EXPECT_EQ(RunCli({"register", "a", "b"}).code, kUsage);
  Result version = RunCli({"--version"});
  EXPECT_EQ(version.code, kOk);
  EXPECT_EQ(version.out, "vellum 1.00.0005\n");
}

TEST_F(CliTest, RegisterOpenUnregister) {
  Result reg = RunCli({"register", VELLUM_TEST_LIBRARY});
  ASSERT_EQ(reg.code, kOk) << reg.err;
  EXPECT_TRUE(platform::FileExists(registry_));

  Result missing = RunCli({"open", dir_ + "/nothing-here.txt"});
  EXPECT_EQ(missing.code, kFailed);
  EXPECT_EQ(missing.out, "File not found\n");

  Result unreg = RunCli({"unregister"});
  ASSERT_EQ(unreg.code, kOk) << unreg.err;
  Result after = RunCli({"open", dir_ + "/nothing-here.txt"});
  EXPECT_EQ(after.code, kFailed);
  EXPECT_NE(after.err.find("vellum register"), std::string::npos) << after.err;
  EXPECT_EQ(RunCli({"unregister"}).code, kOk);  // nothing left to remove is no failure
}

TEST_F(CliTest, DamagedRegistryIsReportedAndNeverTruncated) {
  const std::string damaged = "[CLSID\\{1}]\nnot an entry\n";
  platform::WriteFileAtomic(registry_, damaged);
  Result reg = RunCli({"register", VELLUM_TEST_LIBRARY});
  EXPECT_EQ(reg.code, kFailed);
  EXPECT_NE(reg.err.find("damaged at line 2"), std::string::npos) << reg.err;
  EXPECT_EQ(platform::ReadFileBytes(registry_), damaged);
}

TEST_F(CliTest, NotALibraryIsReported) {
  platform::WriteFileAtomic(dir_ + "/fake.so", "not an ELF file");
  Result reg = RunCli({"register", dir_ + "/fake.so"});
  EXPECT_EQ(reg.code, kFailed);
  EXPECT_NE(reg.err.find("cannot load"), std::string::npos);
  EXPECT_FALSE(platform::FileExists(registry_));
}

}  // namespace
}  // namespace vellum::cli

namespace vellum::cli {
namespace {

class CliCryptoTest : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    ::setenv("VELLUM_STORE_DIR", (dir_ + "/stores").c_str(), 1);
    ::unsetenv("VELLUM_PASSWORD");
    ASSERT_EQ(RunCli({"register", VELLUM_TEST_LIBRARY}).code, kOk);
  }
  void TearDown() override {
    ::unsetenv("VELLUM_STORE_DIR");
    ::unsetenv("VELLUM_PASSWORD");
    CliTest::TearDown();
  }
};

TEST_F(CliCryptoTest, EncryptDecryptRoundTripWithPasswordFromFileOrEnvironment) {
  platform::WriteFileAtomic(dir_ + "/pw", "correct horse\n");  // the line break is dropped
  const std::string text = "Grüße\r\nline two\n";
  Result enc = RunCli({"encrypt", "--password-file", dir_ + "/pw", "--enc-alg", "3"}, text);
  ASSERT_EQ(enc.code, kOk) << enc.err;
  ::setenv("VELLUM_PASSWORD", "correct horse", 1);
  Result dec = RunCli({"decrypt"}, enc.out);
  ASSERT_EQ(dec.code, kOk) << dec.err;
  EXPECT_EQ(dec.out, text);

  ::setenv("VELLUM_PASSWORD", "wrong", 1);
  Result bad = RunCli({"decrypt"}, enc.out);
  EXPECT_EQ(bad.code, kFailed);
  EXPECT_TRUE(bad.out.empty());
  EXPECT_EQ(bad.err.find("wrong"), std::string::npos) << "the password leaked into a message";
}

TEST_F(CliCryptoTest, EncryptRefusesMissingPasswordAndBadOptions) {
  EXPECT_EQ(RunCli({"encrypt"}, "x").code, kUsage);
  EXPECT_EQ(RunCli({"encrypt", "--password", "x"}, "x").code, kUsage);  // no plain values
  ::setenv("VELLUM_PASSWORD", "pw", 1);
  EXPECT_EQ(RunCli({"encrypt", "--enc-alg", "four"}, "x").code, kUsage);
  Result rc4 = RunCli({"encrypt", "--enc-alg", "1"}, "x");  // refused: no CMS form
  EXPECT_EQ(rc4.code, kFailed);
  EXPECT_FALSE(rc4.err.empty());
}

TEST_F(CliCryptoTest, StoreNewCertificateListAndImport) {
  Result made = RunCli({"store", "new-certificate", "--subject", "CN=Ann Lee, O=Example Ltd",
                        "--days", "10", "--store", "Work"});
  ASSERT_EQ(made.code, kOk) << made.err;
  Result list = RunCli({"store", "list", "--store", "Work"});
  ASSERT_EQ(list.code, kOk);
  EXPECT_NE(list.out.find("1 certificate"), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("CN=Ann Lee, O=Example Ltd"), std::string::npos);
  EXPECT_NE(list.out.find("Private key: yes"), std::string::npos);
  EXPECT_NE(RunCli({"store", "list"}).out.find("0 certificates"), std::string::npos);

  // A damaged file is refused and the store is left as it was.
  platform::WriteFileAtomic(dir_ + "/junk.pem", "-----BEGIN CERTIFICATE-----\nAAAA\n");
  Result junk = RunCli({"store", "import", dir_ + "/junk.pem", "--store", "Work"});
  EXPECT_EQ(junk.code, kFailed);
  EXPECT_NE(RunCli({"store", "list", "--store", "Work"}).out.find("1 certificate"),
            std::string::npos);

  EXPECT_EQ(RunCli({"store", "new-certificate"}).code, kUsage);
  EXPECT_EQ(RunCli({"store", "new-certificate", "--subject", "CN=x", "--days", "0"}).code, kUsage);
  EXPECT_EQ(RunCli({"store", "frob"}).code, kUsage);
}

}  // namespace
}  // namespace vellum::cli
