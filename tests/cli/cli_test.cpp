// The vellum command driven in-process: usage errors, registration against a throwaway
// registry file, and opening a document through the registered library.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <sstream>

#include "cli/command_line.h"
#include "cli/run.h"
#include "library/platform/files.h"
#include "vellum/version.h"

namespace vellum::cli {
namespace {

struct Result {
  int code;
  std::string out;
  std::string err;
};

// Each run stands for a process of its own: the command takes VELLUM_PASSWORD out of its
// environment once read, and the next command starts with the environment the test set.
Result RunCli(const std::vector<std::string>& args, const std::string& input = "") {
  const char* password = std::getenv("VELLUM_PASSWORD");
  const std::optional<std::string> saved =
      password != nullptr ? std::optional<std::string>(password) : std::nullopt;
  std::istringstream in(input);
  std::ostringstream out, err;
  int code = Run(args, in, out, err);
  if (saved) ::setenv("VELLUM_PASSWORD", saved->c_str(), 1);
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
  for (const char* flag : {"--version", "-V"}) {
    Result version = RunCli({flag});
    EXPECT_EQ(version.code, kOk) << flag;
    EXPECT_EQ(version.out, VersionText() + "\n") << flag;
  }
}

// The version printed is the project's, in the library's file-version layout.
TEST(VersionTextTest, FollowsTheProjectVersion) {
  char expected[64];
  std::snprintf(expected, sizeof expected, "vellum %d.%02d.%04d", VELLUM_VERSION_MAJOR,
                VELLUM_VERSION_MINOR, VELLUM_VERSION_PATCH);
  EXPECT_EQ(VersionText(), expected);
  EXPECT_EQ(std::string(VELLUM_VERSION_STRING), std::to_string(VELLUM_VERSION_MAJOR) + "." +
                                                    std::to_string(VELLUM_VERSION_MINOR) + "." +
                                                    std::to_string(VELLUM_VERSION_PATCH));
}

// Help for the program and for every command goes to standard output with exit 0 and names
// every option the command takes; nothing is run.
TEST_F(CliTest, HelpForEveryCommandListsItsOptions) {
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> mentions;
  } const cases[] = {
      {{"--help"}, {"sign", "verify", "verify-nse", "store", "register", "--version", "--quiet"}},
      {{"-h"}, {"encrypt", "decrypt", "zip", "unzip", "open"}},
      {{"help"}, {"sign", "verify"}},
      {{"help", "sign"}, {"--attached", "--thumbprint", "--json", "--pad"}},
      {{"sign", "--help"},
       {"--attached", "--binary", "--zip", "--store", "--suffix", "--user", "--password-file",
        "--encrypt", "--person", "--mail", "--company", "--hash-alg", "--enc-alg", "--pad",
        "--thumbprint", "--json", "--quiet"}},
      {{"sign", "-h"}, {"Usage: vellum sign [OPTIONS] FILE"}},
      {{"verify", "-h"},
       {"--original", "--attached", "--binary", "--zip", "--user", "--password-file", "--decrypt",
        "--trim", "--open", "--to-temp", "--hash-alg", "--enc-alg", "--pad", "FILE..."}},
      {{"verify-nse", "--help"}, {"--original", "--binary"}},
      {{"store", "--help"}, {"list", "import", "new-certificate"}},
      {{"store", "list", "-h"}, {"--store", "--json"}},
      {{"store", "new-certificate", "-h"}, {"--subject", "--days", "--store"}},
      {{"encrypt", "-h"}, {"--password-file", "--enc-alg"}},
      {{"zip", "-h"}, {"FILE ARCHIVE", "--password-file"}},
      {{"unzip", "-h"}, {"ARCHIVE"}},
      {{"register", "-h"}, {"[LIBRARY]"}},
  };
  for (const auto& c : cases) {
    const std::string line = ::testing::PrintToString(c.args);
    Result r = RunCli(c.args);
    EXPECT_EQ(r.code, kOk) << line;
    EXPECT_TRUE(r.err.empty()) << line << r.err;
    for (const auto& m : c.mentions) EXPECT_NE(r.out.find(m), std::string::npos) << line << m;
  }
  EXPECT_FALSE(platform::FileExists(registry_)) << "help ran a command";
}

// A mistyped word is refused with exit 2 and the near known word offered.
TEST_F(CliTest, TyposAreRefusedWithSuggestions) {
  struct Case {
    std::vector<std::string> args;
    const char* says;
  } const cases[] = {
      {{"sing", "a.txt"}, "unknown command 'sing'; did you mean sign?"},
      {{"verfy", "a.txt"}, "did you mean verify"},
      {{"store", "lst"}, "unknown command 'store lst'; did you mean list?"},
      {{"sign", "a.txt", "--atached"}, "unknown option --atached; did you mean --attached?"},
      {{"sign", "a.txt", "--password-fil=x"}, "did you mean --password-file?"},
      {{"verify", "a.txt", "--orignal", "b"}, "did you mean --original?"},
      {{"--verison"}, "did you mean --version?"},
      {{"sign", "a.txt", "--frobnicate"}, "unknown option --frobnicate\n"},
      {{"store", "list", "extra"}, "unexpected operand 'extra'"},
      {{"sign", "a.txt", "--attached=yes"}, "attached"},
      {{"sign", "a.txt", "--store"}, "--store"},
  };
  for (const auto& c : cases) {
    const std::string line = ::testing::PrintToString(c.args);
    Result r = RunCli(c.args);
    EXPECT_EQ(r.code, kUsage) << line;
    EXPECT_TRUE(r.out.empty()) << line;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << line << "\n" << r.err;
  }
}

TEST(EditDistanceTest, CountsEditsAndSwaps) {
  struct Case {
    const char *a, *b;
    std::size_t distance;
  } const cases[] = {
      {"sign", "sign", 0}, {"sing", "sign", 1}, {"verfy", "verify", 1},   {"", "zip", 3},
      {"zip", "", 3},      {"unzip", "zip", 2}, {"kitten", "sitting", 3},
  };
  for (const auto& c : cases) EXPECT_EQ(EditDistance(c.a, c.b), c.distance) << c.a << " " << c.b;
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

// A package registers for everyone: --system writes the system registry, which a user without
// a registration of their own reads; the user's own registration is untouched by either.
TEST_F(CliTest, SystemRegistrationServesUsersWithoutTheirOwn) {
  ::unsetenv("VELLUM_REGISTRY");
  const std::string home = dir_ + "/home", etc = dir_ + "/etc";
  ::setenv("XDG_CONFIG_HOME", home.c_str(), 1);
  ::setenv("XDG_CONFIG_DIRS", etc.c_str(), 1);
  const std::string system = etc + "/vellum/registry.ini", user = home + "/vellum/registry.ini";
  const std::string missing = dir_ + "/nothing-here.txt";
  struct Step {
    std::vector<std::string> args;
    bool system_file, user_file;
    std::string open_err;  // what opening a document says on standard error
    const char* why;
  } const steps[] = {
      {{"register", "--system", VELLUM_TEST_LIBRARY}, true, false, "", "registered for everyone"},
      {{"unregister"}, true, false, "", "the user has nothing to remove"},
      {{"register", VELLUM_TEST_LIBRARY}, true, true, "", "and the user's own"},
      {{"unregister", "--system"}, true, true, "", "the user's own still serves"},
      {{"unregister"}, true, true, "vellum register", "none left"},
  };
  for (const auto& step : steps) {
    Result r = RunCli(step.args);
    ASSERT_EQ(r.code, kOk) << step.why << r.err;
    EXPECT_EQ(platform::FileExists(system), step.system_file) << step.why;
    EXPECT_EQ(platform::FileExists(user), step.user_file) << step.why;
    Result open = RunCli({"open", missing});
    EXPECT_EQ(open.code, kFailed) << step.why;
    if (step.open_err.empty())
      EXPECT_EQ(open.out, "File not found\n") << step.why << open.err;
    else
      EXPECT_NE(open.err.find(step.open_err), std::string::npos) << step.why << open.err;
  }
  // Whatever the administrator's umask, every user can read the system registry.
  std::filesystem::remove_all(etc);
  const mode_t umask_before = ::umask(077);
  Result strict = RunCli({"register", "--system", VELLUM_TEST_LIBRARY});
  ::umask(umask_before);
  EXPECT_EQ(strict.out, "Registered " + std::string(VELLUM_TEST_LIBRARY) + " in " + system + "\n");
  struct stat st {};
  ASSERT_EQ(::stat(system.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  ASSERT_EQ(::stat((etc + "/vellum").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0755u);
  ::unsetenv("XDG_CONFIG_HOME");
  ::unsetenv("XDG_CONFIG_DIRS");
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
