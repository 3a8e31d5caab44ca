// vellum with a token as the store, on a SoftHSM2 token made for each test: `store tokens`,
// `store list` with thumbprints, `sign` through the registered library; the PIN from
// --pin-file, VELLUM_PIN (taken out of the environment once read) or the terminal with echo
// off, and never from the command line.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "cli/run.h"
#include "tests/cli/run_in_process.h"
#include "tests/support/soft_token.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_pki.h"

namespace vellum::cli {
namespace {

using testing::ScopedEnv;
using testing::SoftToken;
using testing::TempFolder;
using testing::WriteFile;

const std::string kRsa = "CN=Ann Token, O=Example Ltd, C=GB";
const std::string kEc = "CN=Eve Token, O=Example Ltd, C=GB";
const std::string kKeyless = "CN=Kim Keyless, O=Example Ltd, C=GB";

class TokenCliTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    using testing::MakeCert;
    rsa_ = new testing::TestCert(
        MakeCert({kRsa, -testing::kDay, 100 * testing::kDay, false, testing::KeyKind::kRsa2048}));
    ec_ = new testing::TestCert(MakeCert({kEc}));
    keyless_ = new testing::TestCert(MakeCert({kKeyless}));
  }
  static void TearDownTestSuite() {
    delete rsa_;
    delete ec_;
    delete keyless_;
  }

  TokenCliTest()
      : registry_("VELLUM_REGISTRY", tmp_.File("registry.ini")),
        stores_("VELLUM_STORE_DIR", tmp_.File("stores")),
        pin_("VELLUM_PIN", std::nullopt) {}

  void SetUp() override {
    ASSERT_EQ(RunCli({"register", VELLUM_TEST_LIBRARY}).code, kOk);
    token_.Put(*rsa_, "01", "Ann");
    token_.Put(*ec_, "02", "Eve");
    token_.Put(*keyless_, "03", "Kim", false);
    WriteFile(tmp_.File("pin"), std::string(SoftToken::kUserPin) + "\n");
    WriteFile(tmp_.File("wrong-pin"), "000000\n");
    WriteFile(tmp_.File("a.txt"), "signed with a card\r\n");
  }

  static testing::TestCert* rsa_;
  static testing::TestCert* ec_;
  static testing::TestCert* keyless_;
  TempFolder tmp_;
  ScopedEnv registry_;
  ScopedEnv stores_;
  ScopedEnv pin_;
  SoftToken token_;
};

testing::TestCert* TokenCliTest::rsa_ = nullptr;
testing::TestCert* TokenCliTest::ec_ = nullptr;
testing::TestCert* TokenCliTest::keyless_ = nullptr;

TEST_F(TokenCliTest, TokensAreListedWithTheirStoreNames) {
  Result r = RunCli({"store", "tokens"});
  ASSERT_EQ(r.code, kOk) << r.err;
  EXPECT_TRUE(
      Contains(r.out, "PKCS#11 module " + SoftToken::ModulePath() + " (VELLUM_PKCS11_MODULE): "))
      << r.out;
  EXPECT_TRUE(Contains(r.out, "  Token:        Office Card\n")) << r.out;
  EXPECT_TRUE(Contains(r.out, "  State:        ready, signs after the PIN\n")) << r.out;
  EXPECT_TRUE(Contains(r.out, "  Store name:   pkcs11:token=Office%20Card;manufacturer=SoftHSM%20"))
      << r.out;
  EXPECT_EQ(RunCli({"store", "tokens", "--pin-file", tmp_.File("pin")}).code, kUsage)
      << "listing tokens needs no PIN";
}

// The listing shows each certificate with its thumbprint and whether its key is on the token,
// whichever source the PIN comes from.
TEST_F(TokenCliTest, StoreListShowsThumbprintsAndKeys) {
  struct Case {
    const char* why;
    std::vector<std::string> extra;
    std::optional<std::string> env_pin;
  } const cases[] = {
      {"the PIN from a file", {"--pin-file", tmp_.File("pin")}, std::nullopt},
      {"the PIN from VELLUM_PIN", {}, SoftToken::kUserPin},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    if (c.env_pin) ::setenv("VELLUM_PIN", c.env_pin->c_str(), 1);
    std::vector<std::string> args = {"store", "list", "--store", token_.Uri()};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    Result r = RunCli(args);
    ASSERT_EQ(r.code, kOk) << r.err;
    EXPECT_EQ(std::getenv("VELLUM_PIN"), nullptr) << "VELLUM_PIN is unset once read";
    EXPECT_TRUE(Contains(r.out, "Store " + token_.Uri() + " (token): 3 certificates\n")) << r.out;
    for (const auto* cert : {rsa_, ec_, keyless_}) {
      const std::string entry = "  Subject:     " + cert->Subject();
      const auto at = r.out.find(entry);
      ASSERT_NE(at, std::string::npos) << r.out;
      const std::string block = r.out.substr(at, r.out.find("\n\n", at) - at);
      EXPECT_TRUE(Contains(block, std::string("Private key: ") + (cert == keyless_ ? "no" : "yes")))
          << block;
      EXPECT_TRUE(Contains(block, "Thumbprint:  " + cert->ToCertificate(false).Thumbprint()))
          << block;
    }
  }
}

TEST_F(TokenCliTest, SignOnTheTokenAndVerify) {
  const std::string input = tmp_.File("a.txt");
  for (const auto& [person, subject] :
       {std::pair{"Ann Token", kRsa}, std::pair{"Eve Token", kEc}}) {
    SCOPED_TRACE(subject);
    Result r = RunCli({"sign", input, "--store", token_.Uri(), "--person", person, "--binary",
                       "--pin-file", tmp_.File("pin")});
    ASSERT_EQ(r.code, kOk) << r.out << r.err;
    EXPECT_EQ(r.out, " Signed file from Certificate: " + subject +
                         "\n From Current user Store Name: " + token_.Uri() +
                         ".\n\n And Signature saved to file:  " + tmp_.File("a_DSignature.txt") +
                         "\n");
    Result v = RunCli({"verify", tmp_.File("a_DSignature.txt"), "--binary", "--original", input});
    EXPECT_EQ(v.code, kOk) << v.out << v.err;
    EXPECT_TRUE(Contains(v.out, subject)) << v.out;
    std::filesystem::remove(tmp_.File("a_DSignature.txt"));
  }
}

// --thumbprint picks a token certificate by its hash: the one with its key signs; the one whose
// key is not on the token is refused before anything is signed.
TEST_F(TokenCliTest, ThumbprintChoosesTheTokenCertificate) {
  const std::string input = tmp_.File("a.txt");
  Result r =
      RunCli({"sign", input, "--store", token_.Uri(), "--thumbprint",
              ec_->ToCertificate(false).Thumbprint(), "--binary", "--pin-file", tmp_.File("pin")});
  ASSERT_EQ(r.code, kOk) << r.out << r.err;
  EXPECT_TRUE(Contains(r.out, " Signed file from Certificate: " + std::string(kEc))) << r.out;
  std::filesystem::remove(tmp_.File("a_DSignature.txt"));

  Result keyless =
      RunCli({"sign", input, "--store", token_.Uri(), "--thumbprint",
              keyless_->ToCertificate(false).Thumbprint(), "--pin-file", tmp_.File("pin")});
  EXPECT_EQ(keyless.code, kFailed);
  EXPECT_TRUE(Contains(keyless.err, "has no private key")) << keyless.err;
  EXPECT_FALSE(std::filesystem::exists(tmp_.File("a_DSignature.txt")));
}

TEST_F(TokenCliTest, PinFailuresExitWithOneAndWriteNothing) {
  const std::string input = tmp_.File("a.txt");
  struct Case {
    const char* why;
    std::vector<std::string> args;
    std::string out;  // part of standard output
    std::string err;  // part of standard error
  } const cases[] = {
      {"a wrong PIN",
       {"sign", input, "--store", token_.Uri(), "--pin-file", tmp_.File("wrong-pin")},
       "Desc.The PIN for the token \"Office Card\" is not correct.\n",
       ""},
      {"no PIN source and no terminal",
       {"sign", input, "--store", token_.Uri()},
       "Desc.No PIN was given for the token \"Office Card\".\n",
       "needs its PIN: use --pin-file FILE, set VELLUM_PIN, or run on a terminal"},
      {"a PIN file that is missing",
       {"sign", input, "--store", token_.Uri(), "--pin-file", tmp_.File("none")},
       "No PIN was given",
       "cannot read the PIN file"},
      {"listing with a wrong PIN",
       {"store", "list", "--store", token_.Uri(), "--pin-file", tmp_.File("wrong-pin")},
       "",
       "vellum: The PIN for the token \"Office Card\" is not correct.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    Result r = RunCli(c.args);
    EXPECT_EQ(r.code, kFailed);
    EXPECT_TRUE(Contains(r.out, c.out)) << r.out;
    EXPECT_TRUE(Contains(r.err, c.err)) << r.err;
    EXPECT_FALSE(std::filesystem::exists(tmp_.File("a_DSignature.txt")));
  }
  // A PIN is never a command-line value.
  for (const char* option : {"--pin", "--pin-value"}) {
    Result r = RunCli({"sign", input, "--store", token_.Uri(), option, SoftToken::kUserPin});
    EXPECT_EQ(r.code, kUsage) << option;
    EXPECT_FALSE(Contains(r.out + r.err, SoftToken::kUserPin)) << option;
  }
}

// On a terminal the PIN is asked with echo off, once, naming the token.
TEST_F(TokenCliTest, ThePinIsAskedOnTheTerminalWithoutEcho) {
  std::string program = VELLUM_TEST_COMMAND;
  std::vector<std::string> args = {program, "store", "list", "--store", token_.Uri()};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  int fd = -1;
  const pid_t pid = ::forkpty(&fd, nullptr, nullptr, nullptr);
  if (pid == 0) {
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ASSERT_GT(pid, 0);
  std::string screen;
  auto read_until = [&](const std::string& until) {
    for (;;) {
      if (!until.empty() && Contains(screen, until)) return true;
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 20000) <= 0) return false;
      char buffer[4096];
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n <= 0) return until.empty();
      screen.append(buffer, static_cast<std::size_t>(n));
    }
  };
  ASSERT_TRUE(read_until("PIN of the token \"Office Card\": ")) << screen;
  const std::string typed = std::string(SoftToken::kUserPin) + "\n";
  ASSERT_EQ(::write(fd, typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
  read_until("");
  ::close(fd);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == kOk) << screen;
  EXPECT_TRUE(Contains(screen, "(token): 3 certificates")) << screen;
  EXPECT_FALSE(Contains(screen, SoftToken::kUserPin)) << "the PIN is not echoed";
  std::size_t asked = 0;
  for (auto at = screen.find("PIN of the token"); at != std::string::npos;
       at = screen.find("PIN of the token", at + 1))
    ++asked;
  EXPECT_EQ(asked, 1u);
}

}  // namespace
}  // namespace vellum::cli
