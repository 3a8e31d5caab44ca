// vellum sign, verify, verify-nse, zip and unzip driven in-process against the library built
// in the tree, registered into a throwaway registry, with certificates made by `vellum store`
// in a throwaway store root.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <optional>
#include <sstream>

#include "cli/run.h"
#include "cli/sign_support.h"
#include "cli/verify_files.h"
#include "library/com/json.h"
#include "tests/cli/run_in_process.h"
#include "tests/support/temp_folder.h"

namespace vellum::cli {
namespace {

using testing::ReadFile;
using testing::ScopedEnv;
using testing::TempFolder;
using testing::WriteFile;

// Each run stands for a process of its own: the command takes VELLUM_PASSWORD out of its
// environment once read, and the next command starts with the environment the test set.
Result RunSeparately(const std::vector<std::string>& args, const std::string& input = "") {
  const char* password = std::getenv("VELLUM_PASSWORD");
  const std::optional<std::string> saved =
      password != nullptr ? std::optional<std::string>(password) : std::nullopt;
  Result result = RunCli(args, input);
  if (saved) ::setenv("VELLUM_PASSWORD", saved->c_str(), 1);
  return result;
}

// ---------------------------------------------------------------------------------------
// The desk's padding rule, which --pad must reproduce exactly or padded credentials made by
// the command would never verify at the desk.

TEST(PadLikeDeskTest, TrimsBlanksThenPadsWithStarsToTheLength) {
  struct Case {
    const char* value;
    int length;
    const char* expected;
    const char* why;
  };
  const Case cases[] = {
      {"ann", 10, "ann*******", "short values get stars up to the length"},
      {"ann", 20, "ann*****************", "the desk's second length"},
      {"  ann  ", 10, "ann*******", "blanks are trimmed before counting"},
      {"\tann", 5, "\tann*", "only blanks are trimmed, a tab counts"},
      {"0123456789abcdef", 10, "0123456789abcdef", "longer than the length: unchanged"},
      {"0123456789abcdef", 20, "0123456789abcdef****", "16 characters padded to 20"},
      {"0123456789", 10, "0123456789", "exactly the length: unchanged"},
      {"ann", 0, "ann", "a zero length only trims"},
      {"J\xC3\xB6rg", 6, "J\xC3\xB6rg**", "a non-ASCII letter is one character, not two bytes"},
      {"\xF0\x9F\x94\x91k", 5, "\xF0\x9F\x94\x91k**",
       "a character outside the BMP is two UTF-16 units, as in the desk's box"},
  };
  for (const auto& c : cases) EXPECT_EQ(PadLikeDesk(c.value, c.length), c.expected) << c.why;
}

TEST(ForTerminalTest, TurnsTheLibrarysLineBreaksIntoLineFeeds) {
  EXPECT_EQ(ForTerminal("File: a\r\nis Verified. \r\n"), "File: a\nis Verified. \n");
  // A lone CR or LF is content (of a name, say), not a line break: shown escaped, so it can
  // neither start a line of its own nor overwrite one.
  EXPECT_EQ(ForTerminal("a\rb\n"), "a\\rb\\n");
  EXPECT_EQ(ForTerminal("File: x\x1b[32m.txt\r\n"), "File: x\\e[32m.txt\n");
}

// ---------------------------------------------------------------------------------------
// The terminal chooser: what the user types decides, and nothing but a listed number picks.

TEST(ChooseOnTerminalTest, ReadsANumberAndCancelsOnEmptyLineOrEndOfInput) {
  const VellumCertificateChoice items[] = {
      {"CN=Ann Lee, O=Example Ltd", "CN=Example Root", "07/12/2027 10:00:00"},
      {"CN=Bob Ray", "CN=Bob Ray", "01/01/2030 00:00:00"},
      {"CN=Cy Po", "CN=Example Root", "02/02/2031 12:30:00"},
  };
  struct Case {
    const char* typed;
    int expected;
    const char* why;
  };
  const Case cases[] = {
      {"2\n", 1, "numbers count from 1"},
      {"  3  \n", 2, "blanks around the number are fine"},
      {"1\r\n", 0, "a CR from a terminal in raw mode is dropped"},
      {"\n", -1, "an empty line cancels"},
      {"", -1, "end of input cancels"},
      {"x\n0\n4\n-1\n+2\n2\n", 1, "anything but a listed number is asked again"},
      {"99999999999\n\n", -1, "a huge number is no choice"},
      {"x\n", -1, "input ending after a slip cancels"},
  };
  for (const auto& c : cases) {
    std::istringstream in(c.typed);
    std::ostringstream out;
    EXPECT_EQ(ChooseOnTerminal(in, out, "Sign ", "Please select a certificate to sign /d/a.txt.",
                               items, 3),
              c.expected)
        << c.why;
    EXPECT_TRUE(Contains(out.str(), "Please select a certificate to sign /d/a.txt.")) << c.why;
    EXPECT_TRUE(Contains(out.str(), "  2) CN=Bob Ray\n")) << out.str();
    EXPECT_TRUE(Contains(out.str(), "issued by CN=Example Root, valid to 02/02/2031 12:30:00"))
        << out.str();
  }
}

// ---------------------------------------------------------------------------------------
// Against the registered library.

constexpr const char* kAnn = "CN=Ann Lee, O=Example Ltd, C=GB";
constexpr const char* kPassword = "s3cret Pw";
constexpr const char* kWrongPassword = "wr0ng Pw";

class SignCliTest : public ::testing::Test {
 protected:
  SignCliTest()
      : registry_("VELLUM_REGISTRY", tmp_.File("registry.ini")),
        stores_("VELLUM_STORE_DIR", tmp_.File("stores")),
        temp_dir_("TMPDIR", tmp_.File("tmp")),
        password_("VELLUM_PASSWORD", std::nullopt) {}

  void SetUp() override {
    std::filesystem::create_directory(tmp_.File("tmp"));
    std::filesystem::create_directory(tmp_.File("in"));
    ASSERT_EQ(RunSeparately({"register", VELLUM_TEST_LIBRARY}).code, kOk);
    Result made = RunSeparately({"store", "new-certificate", "--subject", kAnn});
    ASSERT_EQ(made.code, kOk) << made.err;
    WriteFile(In("a.txt"),
              "  Pay \xA3"
              "12 to Ann.\r\n");  // ANSI text with blanks around
    std::string bytes;
    for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<char>(i));
    WriteFile(In("a.bin"), bytes + "x");  // every byte value, odd length
  }

  std::string In(const std::string& name) const { return tmp_.File("in/" + name); }
  std::string Temp(const std::string& name) const { return tmp_.File("tmp/" + name); }
  std::vector<std::string> InNames() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(tmp_.File("in")))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  void UsePassword(const std::string& password) {
    ::setenv("VELLUM_PASSWORD", password.c_str(), 1);
  }

  TempFolder tmp_;
  ScopedEnv registry_;
  ScopedEnv stores_;
  ScopedEnv temp_dir_;
  ScopedEnv password_;
};

// The message SignFile and SignZipFile give for the default store.
std::string Signed(const std::string& subject, const std::string& signature) {
  return " Signed file from Certificate: " + subject +
         "\n From Current user Store Name: Personal\n\n And Signature saved to file:  " +
         signature + "\n";
}

TEST_F(SignCliTest, UsageErrorsExitWithTwoAndTouchNothing) {
  struct Case {
    std::vector<std::string> args;
    std::optional<std::string> password;  // VELLUM_PASSWORD for the case
    const char* why;
  };
  const std::string a = In("a.txt");
  const std::string sig = In("a_DSignature.txt");
  const std::vector<Case> cases = {
      // The command line itself.
      {{"sign"}, {}, "no file"},
      {{"sign", a, a}, {}, "two files"},
      {{"sign", ""}, {}, "an empty name"},
      {{"sign", a, "--password", "x"}, {}, "passwords are never command-line values"},
      {{"sign", a, "--store"}, {}, "an option without its value"},
      {{"sign", a, "--attached=yes"}, {}, "a flag takes no value"},
      {{"sign", a, "--hash-alg", "sha1"}, {}, "algorithm codes are numbers"},
      {{"sign", a, "--enc-alg", "4.5"}, {}, "algorithm codes are whole numbers"},
      {{"sign", a, "--hash-alg", "99999999999"}, {}, "codes are 32-bit"},
      {{"verify"}, {}, "no signature"},
      {{"verify", sig, "--to-temp"}, {}, "a detached check restores nothing"},
      {{"verify", sig, "--attached", "--original", a}, {}, "attached carries its own file"},
      {{"verify", sig, "--zip", "--trim"}, {}, "VerifyZipFile has no trim flag"},
      {{"verify", sig, "--suffix", "x"}, {}, "a signing option"},
      {{"verify-nse", sig}, {}, "verify-nse needs the original"},
      {{"verify-nse", sig, "--original", a, "--attached"}, {}, "verify-nse is detached only"},
      {{"zip", a}, {kPassword}, "zip needs an archive"},
      {{"unzip", a, a}, {kPassword}, "unzip takes one archive"},
      // Credentials.
      {{"sign", a, "--user", "ann"}, {}, "a user without any password source"},
      {{"zip", a, In("a.zip")}, {}, "zip without any password source"},
      {{"sign", a, "--password-file", In("pw")}, {kPassword}, "a password without a user"},
      {{"sign", a, "--pad", "10"}, {kPassword}, "padding without a user"},
      {{"sign", a, "--user", "ann", "--pad", "-1"}, {kPassword}, "a negative length"},
      {{"sign", a, "--user", "ann", "--pad", "5000"}, {kPassword}, "an absurd length"},
      {{"verify", sig, "--user", "ann", "--pad", "ten"}, {kPassword}, "a length is a number"},
  };
  for (const auto& c : cases) {
    if (c.password)
      UsePassword(*c.password);
    else
      ::unsetenv("VELLUM_PASSWORD");
    Result r = RunSeparately(c.args);
    EXPECT_EQ(r.code, kUsage) << c.why;
    EXPECT_TRUE(r.out.empty()) << c.why;
    EXPECT_FALSE(r.err.empty()) << c.why;
    EXPECT_EQ(InNames(), (std::vector<std::string>{"a.bin", "a.txt"})) << c.why;
    EXPECT_FALSE(Contains(r.err, kPassword)) << c.why;
  }
}

TEST_F(SignCliTest, PaddingRefusesBlankCredentialsInTheDesksWords) {
  UsePassword(kPassword);
  Result blank_user = RunSeparately({"sign", In("a.txt"), "--user", "   ", "--pad", "10"});
  EXPECT_EQ(blank_user.code, kUsage);
  EXPECT_TRUE(Contains(blank_user.err, "Please enter valid UserID. \n")) << blank_user.err;
  UsePassword("  ");
  Result blank_password = RunSeparately({"verify", In("a.txt"), "--user", "ann", "--pad", "10"});
  EXPECT_EQ(blank_password.code, kUsage);
  EXPECT_TRUE(Contains(blank_password.err, "Please enter valid Password. \n"))
      << blank_password.err;
  EXPECT_EQ(InNames(), (std::vector<std::string>{"a.bin", "a.txt"}));
}

// One signing and one verification per layout. The restored files must come back byte for
// byte, and the library's texts reach standard output with LF line ends.
TEST_F(SignCliTest, EachLayoutSignsAndVerifies) {
  struct Layout {
    const char* why;
    const char* input;                // in the "in" folder
    std::vector<std::string> sign;    // after the file name
    const char* signature;            // written beside the input
    const char* verified;             // what verify gets (the packed copy for --zip)
    std::vector<std::string> verify;  // after the signature name
    const char* restored;             // "" when nothing is written; else where
  };
  const std::vector<Layout> layouts = {
      {"detached text",
       "a.txt",
       {},
       "a_DSignature.txt",
       "a_DSignature.txt",
       {"--original", In("a.txt")},
       ""},
      {"detached binary with credentials and a caller suffix",
       "a.bin",
       {"--binary", "--user", "ann", "--suffix", "_Signature.bin"},
       "a_Signature.bin",
       "a_Signature.bin",
       {"--binary", "--user", "ann", "--original", In("a.bin")},
       ""},
      {"attached text, restored beside the signature",
       "a.txt",
       {"--attached"},
       "a_ContentSignature.txt",
       "a_ContentSignature.txt",
       {"--attached"},
       "in"},
      {"attached binary with the credentials hash in front",
       "a.bin",
       {"--attached", "--binary", "--user", "ann", "--hash-alg", "5"},
       "a_ContentSignature.txt",
       "a_ContentSignature.txt",
       {"--attached", "--binary", "--user", "ann", "--hash-alg", "5"},
       "in"},
      {"attached and encrypted, restored in the temporary folder",
       "a.txt",
       {"--attached", "--user", "ann", "--encrypt", "--enc-alg", "3"},
       "a_ContentSignature.txt",
       "a_ContentSignature.txt",
       {"--attached", "--user", "ann", "--decrypt", "--enc-alg", "3", "--to-temp"},
       "tmp"},
      {"packed: attached, compressed under the password",
       "a.txt",
       {"--zip", "--attached", "--user", "ann", "--encrypt"},
       "a_ContentSignature.txt",
       "a_ContentSignature.trel",
       {"--zip", "--attached", "--user", "ann"},
       "in"},
  };
  UsePassword(kPassword);
  for (const auto& l : layouts) {
    SCOPED_TRACE(l.why);
    const std::string input = In(l.input);
    const std::string original = ReadFile(input);
    std::vector<std::string> sign = {"sign", input};
    sign.insert(sign.end(), l.sign.begin(), l.sign.end());
    Result s = RunSeparately(sign);
    ASSERT_EQ(s.code, kOk) << s.out << s.err;
    EXPECT_EQ(s.out, Signed(kAnn, In(l.signature)));
    ASSERT_TRUE(std::filesystem::exists(In(l.verified)));

    // An attached signature must bring its content back by itself.
    if (*l.restored != '\0') std::filesystem::remove(input);
    std::vector<std::string> verify = {"verify", In(l.verified)};
    verify.insert(verify.end(), l.verify.begin(), l.verify.end());
    Result v = RunSeparately(verify);
    ASSERT_EQ(v.code, kOk) << v.out << v.err;
    // The verdict names the original for a detached check, else the file verified.
    const std::string named = *l.restored == '\0' ? input : In(l.verified);
    EXPECT_EQ(v.out.rfind("File: " + named + "\nis Verified. \n", 0), 0u) << v.out;
    EXPECT_TRUE(Contains(v.out, "\n" + std::string(kAnn) + "\n")) << "the details line";
    EXPECT_FALSE(Contains(v.out, "\r")) << v.out;
    if (*l.restored != '\0') {
      const std::string restored = std::string(l.restored) == "tmp" ? Temp(l.input) : In(l.input);
      EXPECT_TRUE(Contains(v.out, "\n And Original content written to file: " + restored + "\n"))
          << v.out;
      EXPECT_EQ(ReadFile(restored), original);
      if (restored != input) {  // put the input back for the next layout
        WriteFile(input, original);
        std::filesystem::remove(restored);
      }
    }
    EXPECT_FALSE(Contains(s.out + s.err + v.out + v.err, kPassword));
    for (const auto& name : {l.signature, l.verified}) std::filesystem::remove(In(name));
    std::filesystem::remove_all(In("UnZip"));
  }
}

TEST_F(SignCliTest, VerifyNseChecksAFingerprintAgainstItsFile) {
  ASSERT_EQ(RunSeparately({"sign", In("a.bin"), "--binary"}).code, kOk);
  Result ok =
      RunSeparately({"verify-nse", In("a_DSignature.txt"), "--original", In("a.bin"), "--binary"});
  EXPECT_EQ(ok.code, kOk) << ok.out << ok.err;
  EXPECT_EQ(ok.out.rfind("File: " + In("a.bin") + "\nis Verified. \nSigner 1: ", 0), 0U) << ok.out;

  WriteFile(In("a.bin"), ReadFile(In("a.bin")) + "y");
  Result changed =
      RunSeparately({"verify-nse", In("a_DSignature.txt"), "--original", In("a.bin"), "--binary"});
  EXPECT_EQ(changed.code, kFailed);
  EXPECT_EQ(changed.out, "Signature or Certificate is not valid. \n");
}

// A wrong password fails with the library's own reason and restores nothing; the password
// appears nowhere in what the command prints.
TEST_F(SignCliTest, WrongCredentialsFailAndRestoreNothing) {
  struct Case {
    const char* why;
    std::vector<std::string> sign;
    const char* verified;
    std::vector<std::string> verify;
    const char* out;
    const char* err_part;  // "" when standard error has nothing to say
  };
  const std::vector<Case> cases = {
      {"detached: the hash in front of the data differs",
       {"--user", "ann"},
       "a_DSignature.txt",
       {"--user", "ann", "--original", In("a.txt")},
       "Signature or Certificate is not valid. \n",
       ""},
      {"attached: the carried hash differs",
       {"--attached", "--user", "ann"},
       "a_ContentSignature.txt",
       {"--attached", "--user", "ann"},
       "Verification fails.\nReason: UserID or Password is incorrect.\n",
       ""},
      {"attached and encrypted: the message does not decrypt",
       {"--attached", "--user", "ann", "--encrypt"},
       "a_ContentSignature.txt",
       {"--attached", "--user", "ann", "--decrypt"},
       "Signature or Certificate is not valid .\n",
       ""},
      {"packed: the archive does not open; its message box goes to standard error",
       {"--zip", "--attached", "--user", "ann", "--encrypt"},
       "a_ContentSignature.trel",
       {"--zip", "--attached", "--user", "ann"},
       "Can't Unzip the file.\n",
       "The password does not match with the original password.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    UsePassword(kPassword);
    std::vector<std::string> sign = {"sign", In("a.txt")};
    sign.insert(sign.end(), c.sign.begin(), c.sign.end());
    ASSERT_EQ(RunSeparately(sign).code, kOk);
    // An attached check must not restore anything, so the original is moved out of its way.
    const bool attached =
        std::find(c.verify.begin(), c.verify.end(), "--attached") != c.verify.end();
    if (attached) std::filesystem::rename(In("a.txt"), tmp_.File("a.txt.kept"));
    const auto before = InNames();

    UsePassword(kWrongPassword);
    std::vector<std::string> verify = {"verify", In(c.verified)};
    verify.insert(verify.end(), c.verify.begin(), c.verify.end());
    Result v = RunSeparately(verify);
    EXPECT_EQ(v.code, kFailed);
    EXPECT_EQ(v.out, c.out);
    EXPECT_TRUE(Contains(v.err, c.err_part)) << v.err;
    std::filesystem::remove_all(In("UnZip"));
    EXPECT_EQ(InNames(), before) << "nothing restored";
    EXPECT_FALSE(Contains(v.out + v.err, kWrongPassword));
    EXPECT_FALSE(Contains(v.out + v.err, kPassword));

    if (attached) std::filesystem::rename(tmp_.File("a.txt.kept"), In("a.txt"));
    for (const auto& name : InNames())
      if (name != "a.txt" && name != "a.bin") std::filesystem::remove(In(name));
  }
}

// The desk pads before it verifies; a signature made with --pad must verify at the desk's
// padding and with the padded texts typed out in full, and not without the padding.
TEST_F(SignCliTest, PaddedCredentialsMatchTheDesksPadding) {
  UsePassword("  pw ");  // blanks are trimmed before padding, as the desk trims its box
  Result s = RunSeparately({"sign", In("a.txt"), "--attached", "--user", " ann", "--pad", "10"});
  ASSERT_EQ(s.code, kOk) << s.out << s.err;
  const std::string sig = In("a_ContentSignature.txt");

  Result desk =
      RunSeparately({"verify", sig, "--attached", "--user", "ann", "--pad", "10", "--to-temp"});
  EXPECT_EQ(desk.code, kOk) << desk.out;

  WriteFile(tmp_.File("pw"), "pw********\n");
  ::unsetenv("VELLUM_PASSWORD");
  Result spelled = RunSeparately({"verify", sig, "--attached", "--user", "ann*******",
                                  "--password-file", tmp_.File("pw"), "--to-temp"});
  EXPECT_EQ(spelled.code, kOk) << spelled.out;

  UsePassword("pw");
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"verify", sig, "--attached", "--user", "ann", "--to-temp"},
           {"verify", sig, "--attached", "--user", "ann", "--pad", "20", "--to-temp"}}) {
    Result wrong = RunSeparately(args);
    EXPECT_EQ(wrong.code, kFailed) << args.back();
    EXPECT_EQ(wrong.out, "Verification fails.\nReason: UserID or Password is incorrect.\n");
  }
}

TEST_F(SignCliTest, SeveralCertificatesWithoutATerminalCancelTheChoice) {
  ASSERT_EQ(
      RunSeparately({"store", "new-certificate", "--subject", "CN=Bob Ray, O=Other Ltd"}).code,
      kOk);
  Result cancelled = RunSeparately({"sign", In("a.txt")});
  EXPECT_EQ(cancelled.code, kFailed);
  EXPECT_EQ(cancelled.out,
            " Signing process cancelled because, Certificate selection dialog was canceled. \n");
  EXPECT_TRUE(Contains(cancelled.err, "no terminal")) << cancelled.err;
  EXPECT_EQ(InNames(), (std::vector<std::string>{"a.bin", "a.txt"}));

  Result narrowed = RunSeparately({"sign", In("a.txt"), "--person", "Bob"});
  EXPECT_EQ(narrowed.code, kOk) << narrowed.out;
  EXPECT_EQ(narrowed.out, Signed("CN=Bob Ray, O=Other Ltd", In("a_DSignature.txt")));
}

// The chooser on a real terminal: the command runs as its own program on a pseudo-terminal,
// answers the listing with what the user types, and waits for nothing more.
struct TerminalRun {
  int code = -1;
  std::string screen;
};

// Reads from `fd` into `screen` until `until` shows (or, when empty, the end of output).
bool ReadScreen(int fd, std::string& screen, const std::string& until) {
  for (;;) {
    if (!until.empty() && Contains(screen, until)) return true;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 20000) <= 0) return false;  // nothing for 20 s: the command hangs
    char buffer[4096];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0) return until.empty();  // EIO once the command has exited
    screen.append(buffer, static_cast<std::size_t>(n));
  }
}

TerminalRun RunOnTerminal(const std::vector<std::string>& args, const std::string& typed) {
  std::vector<char*> argv;
  std::string program = VELLUM_TEST_COMMAND;
  argv.push_back(program.data());
  std::vector<std::string> copies = args;
  for (auto& a : copies) argv.push_back(a.data());
  argv.push_back(nullptr);
  int fd = -1;
  const pid_t pid = ::forkpty(&fd, nullptr, nullptr, nullptr);
  if (pid == 0) {
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  TerminalRun run;
  if (pid < 0) return run;
  if (ReadScreen(fd, run.screen, "empty line cancels): ")) {
    (void)::write(fd, typed.data(), typed.size());
    ReadScreen(fd, run.screen, "");
  }
  ::close(fd);
  int status = 0;
  if (::waitpid(pid, &status, 0) == pid && WIFEXITED(status)) run.code = WEXITSTATUS(status);
  return run;
}

TEST_F(SignCliTest, SeveralCertificatesOnATerminalAreOfferedForChoice) {
  ASSERT_EQ(
      RunSeparately({"store", "new-certificate", "--subject", "CN=Bob Ray, O=Other Ltd"}).code,
      kOk);
  struct Case {
    const char* typed;
    const char* chosen;  // the number that decides; "" when cancelled
    const char* why;
  };
  const Case cases[] = {
      {"\n", "", "an empty line cancels"},
      {"7\n1\n", "1", "a number out of the list is asked again"},
      {"2\n", "2", "the second certificate listed"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    TerminalRun run = RunOnTerminal({"sign", In("a.txt")}, c.typed);
    EXPECT_TRUE(Contains(run.screen, "Please select a certificate to sign " + In("a.txt") + "."))
        << run.screen;
    EXPECT_TRUE(Contains(run.screen, ") CN=Bob Ray, O=Other Ltd\r\n")) << run.screen;
    EXPECT_TRUE(Contains(run.screen, std::string(") ") + kAnn + "\r\n")) << run.screen;
    if (*c.chosen == '\0') {
      EXPECT_EQ(run.code, kFailed) << run.screen;
      EXPECT_TRUE(Contains(run.screen, "Certificate selection dialog was canceled.")) << run.screen;
      EXPECT_EQ(InNames(), (std::vector<std::string>{"a.bin", "a.txt"}));
      continue;
    }
    EXPECT_EQ(run.code, kOk) << run.screen;
    // The signer is the certificate listed under the number that was typed.
    const std::string mark = std::string("  ") + c.chosen + ") ";
    const auto at = run.screen.find(mark);
    ASSERT_NE(at, std::string::npos) << run.screen;
    const auto from = at + mark.size();
    const std::string subject = run.screen.substr(from, run.screen.find("\r\n", from) - from);
    EXPECT_TRUE(Contains(run.screen, " Signed file from Certificate: " + subject + "\r\n"))
        << run.screen;
    std::filesystem::remove(In("a_DSignature.txt"));
  }
}

TEST_F(SignCliTest, SigningFailuresExitWithOneAndWriteNothing) {
  Result missing = RunSeparately({"sign", In("gone.txt")});
  EXPECT_EQ(missing.code, kFailed);
  EXPECT_EQ(missing.out,
            "File specified to sign can't accessed or any other file access problem occured\n"
            "Desc.File: " +
                In("gone.txt") + " does not Exist.\n");

  Result empty_store = RunSeparately({"sign", In("a.txt"), "--store", "Nobody"});
  EXPECT_EQ(empty_store.code, kFailed);
  EXPECT_EQ(empty_store.out, " No signing certificate / store can be found. \n");

  Result unwritable = RunSeparately({"sign", In("a.txt"), "--suffix", "/no/such/folder/x.sig"});
  EXPECT_EQ(unwritable.code, kFailed);
  EXPECT_TRUE(Contains(unwritable.out, "Digital Signature created can't be put into file : "))
      << unwritable.out;
  EXPECT_EQ(InNames(), (std::vector<std::string>{"a.bin", "a.txt"}));
}

// The library takes a folder from a name's last separator, so bare names must reach it whole.
TEST_F(SignCliTest, NamesRelativeToTheWorkingFolderWork) {
  const auto before = std::filesystem::current_path();
  std::filesystem::current_path(tmp_.File("in"));
  Result s = RunSeparately({"sign", "a.txt", "--attached"});
  UsePassword(kPassword);
  Result z = RunSeparately({"zip", "a.bin", "a.zip"});
  Result u = RunSeparately({"unzip", "a.zip"});
  std::filesystem::current_path(before);
  EXPECT_EQ(s.code, kOk) << s.out;
  EXPECT_EQ(s.out, Signed(kAnn, In("a_ContentSignature.txt")));
  EXPECT_EQ(z.code, kOk) << z.err;
  EXPECT_EQ(u.code, kOk) << u.err;
  EXPECT_EQ(u.out, In("UnZip/a.bin") + "\n");
}

TEST_F(SignCliTest, ZipAndUnzipUnderAPassword) {
  WriteFile(tmp_.File("pw"), std::string(kPassword) + "\n");
  Result z = RunSeparately({"zip", In("a.bin"), In("a.zip"), "--password-file", tmp_.File("pw")});
  ASSERT_EQ(z.code, kOk) << z.err;
  EXPECT_TRUE(z.out.empty());

  UsePassword(kWrongPassword);
  Result wrong = RunSeparately({"unzip", In("a.zip")});
  EXPECT_EQ(wrong.code, kFailed);
  EXPECT_TRUE(wrong.out.empty());
  EXPECT_EQ(wrong.err, "The password does not match with the original password.\n");
  EXPECT_FALSE(std::filesystem::exists(In("UnZip/a.bin")));

  Result u = RunSeparately({"unzip", In("a.zip"), "--password-file", tmp_.File("pw")});
  ASSERT_EQ(u.code, kOk) << u.err;
  EXPECT_EQ(u.out, In("UnZip/a.bin") + "\n");
  EXPECT_EQ(ReadFile(In("UnZip/a.bin")), ReadFile(In("a.bin")));

  Result no_input =
      RunSeparately({"zip", In("gone"), In("b.zip"), "--password-file", tmp_.File("pw")});
  EXPECT_EQ(no_input.code, kFailed);
  EXPECT_FALSE(no_input.err.empty()) << "the Zip message box reaches standard error";
  EXPECT_FALSE(std::filesystem::exists(In("b.zip")));
}

TEST_F(SignCliTest, AnUnregisteredLibraryIsReported) {
  ASSERT_EQ(RunSeparately({"unregister"}).code, kOk);
  for (const auto& command : {"sign", "verify", "unzip"}) {
    UsePassword(kPassword);
    Result r = RunSeparately({command, In("a.txt")});
    EXPECT_EQ(r.code, kFailed) << command;
    EXPECT_TRUE(Contains(r.err, "vellum register")) << r.err;
  }
}

}  // namespace
}  // namespace vellum::cli

namespace vellum::cli {
namespace {

// An operator's inbox: documents with detached signatures beside them under the desk's and the
// library's default names, a signature named directly, a changed document and one without any
// signature. One line per file; the exit code is the worst status.
TEST_F(SignCliTest, VerifyOfSeveralFilesGivesOneLineEachAndTheWorstStatus) {
  WriteFile(In("b.pdf"), "%PDF-1.4 payslip\n");
  WriteFile(In("c.csv"), "a,b\r\n1,2\r\n");
  WriteFile(In("d.txt"), "unsigned\n");
  ASSERT_EQ(RunSeparately({"sign", In("a.txt")}).code, kOk);  // a_DSignature.txt
  ASSERT_EQ(RunSeparately({"sign", In("b.pdf"), "--suffix", "_Signature.pdf"}).code,
            kOk);                                                         // desk's
  ASSERT_EQ(RunSeparately({"sign", In("c.csv"), "--binary"}).code, kOk);  // DER, found by its bytes

  Result good = RunSeparately({"verify", In("a.txt"), In("b.pdf"), In("c_DSignature.txt")});
  EXPECT_EQ(good.code, kOk) << good.out << good.err;
  EXPECT_EQ(good.out, In("a.txt") + ": verified (a_DSignature.txt)\n" + In("b.pdf") +
                          ": verified (b_Signature.pdf)\n" + In("c_DSignature.txt") +
                          ": verified (c_DSignature.txt)\n");

  WriteFile(In("b.pdf"), "%PDF-1.4 payslip, changed\n");
  struct Case {
    std::vector<std::string> files;
    int code;
    std::vector<std::string> lines;
  } const cases[] = {
      {{In("a.txt"), In("b.pdf")},
       kFailed,
       {In("a.txt") + ": verified (a_DSignature.txt)",
        In("b.pdf") + ": FAILED (b_Signature.pdf): "}},
      {{In("d.txt"), In("a.txt")},
       kFailed,
       {In("d.txt") + ": FAILED: no signature beside it (looked for d_Signature.txt "
                      "d_DSignature.txt d_Signature.trel d_DSignature.trel)",
        In("a.txt") + ": verified (a_DSignature.txt)"}},
      {{In("missing.txt"), In("c.csv")},
       kFailed,
       {In("missing.txt") + ": FAILED: no such file",
        In("c.csv") + ": verified (c_DSignature.txt)"}},
      // A sender's name cannot clear the operator's screen.
      {{In("x\x1b[2J.txt"), In("a.txt")},
       kFailed,
       {In("x\\e[2J.txt") + ": FAILED: no such file",
        In("a.txt") + ": verified (a_DSignature.txt)"}},
  };
  for (const auto& c : cases) {
    Result r = RunSeparately([&] {
      std::vector<std::string> args{"verify"};
      args.insert(args.end(), c.files.begin(), c.files.end());
      return args;
    }());
    EXPECT_EQ(r.code, c.code) << r.out;
    std::istringstream lines(r.out);
    std::string line;
    for (const auto& expected : c.lines) {
      ASSERT_TRUE(std::getline(lines, line)) << r.out;
      EXPECT_EQ(line.substr(0, expected.size()), expected) << r.out;
    }
    EXPECT_FALSE(std::getline(lines, line)) << "one line per file: " << r.out;
  }
  // A document named alone gets the single command's full report.
  Result one = RunSeparately({"verify", In("a.txt")});
  EXPECT_EQ(one.code, kOk) << one.err;
  EXPECT_TRUE(Contains(one.out, "Verified")) << one.out;
  EXPECT_TRUE(Contains(one.out, "Ann Lee")) << one.out;
  // Options that describe one signature do not go with several files.
  EXPECT_EQ(RunSeparately({"verify", In("a.txt"), In("c.csv"), "--original", In("a.txt")}).code,
            kUsage);
}

TEST(StatusOrderTest, UsageOverFailureOverUntrustedOverSuccess) {
  EXPECT_EQ(WorseStatus(kOk, kFailed), kFailed);
  EXPECT_EQ(WorseStatus(kFailed, kOk), kFailed);
  EXPECT_EQ(WorseStatus(3, kFailed), kFailed);
  EXPECT_EQ(WorseStatus(kOk, 3), 3);
  EXPECT_EQ(WorseStatus(kUsage, kFailed), kUsage);
  EXPECT_EQ(WorseStatus(kOk, kOk), kOk);
}

TEST(DefaultSignatureNamesTest, TheDesksNameThenTheLibrarysThenPacked) {
  EXPECT_EQ(DefaultSignatureNames("/in/pay.pdf"),
            (std::vector<std::string>{"/in/pay_Signature.pdf", "/in/pay_DSignature.txt",
                                      "/in/pay_Signature.trel", "/in/pay_DSignature.trel"}));
  EXPECT_EQ(DefaultSignatureNames("/in/README"),
            (std::vector<std::string>{"/in/README_DSignature.txt", "/in/README_DSignature.trel"}));
  for (const char* name : {"/in/a_Signature.pdf", "a_DSignature.txt", "x_ContentSignature.txt",
                           "/in/a_ContentSignature.trel"})
    EXPECT_TRUE(IsSignatureName(name)) << name;
  for (const char* name : {"/in/a.pdf", "/in/Signature.txt", "/x_Signature.d/a.txt"})
    EXPECT_FALSE(IsSignatureName(name)) << name;
}

// A file without an extension below a folder with a dot is signed beside that folder: the
// command says so on standard error. --quiet keeps the success text off standard output.
TEST_F(SignCliTest, SignatureOutsideTheFilesFolderIsWarnedAbout) {
  std::filesystem::create_directory(In("my.docs"));
  WriteFile(In("my.docs/README"), "read me\n");
  Result r = RunSeparately({"sign", In("my.docs/README"), "--quiet"});
  ASSERT_EQ(r.code, kOk) << r.err;
  EXPECT_TRUE(r.out.empty()) << r.out;
  EXPECT_TRUE(std::filesystem::exists(In("my_DSignature.txt")));
  EXPECT_TRUE(Contains(r.err, "warning")) << r.err;
  EXPECT_TRUE(Contains(r.err, In("") + ", not beside the file")) << r.err;

  Result beside = RunSeparately({"sign", In("a.txt")});
  ASSERT_EQ(beside.code, kOk);
  EXPECT_TRUE(beside.err.empty()) << beside.err;
  EXPECT_FALSE(beside.out.empty());
}

// An archive whose entry is not named after it: UnZipFile's answer names no file, so the
// command lists what it extracted.
TEST_F(SignCliTest, UnzipListsTheFilesExtracted) {
  UsePassword(kPassword);
  WriteFile(Temp("text.txt"), "inside\n");
  ASSERT_EQ(RunSeparately({"zip", Temp("text.txt"), In("v.zip")}).code, kOk);
  Result r = RunSeparately({"unzip", In("v.zip")});
  ASSERT_EQ(r.code, kOk) << r.err;
  EXPECT_EQ(r.out, In("UnZip/text.txt") + "\n");
  EXPECT_EQ(ReadFile(In("UnZip/text.txt")), "inside\n");
}

}  // namespace
}  // namespace vellum::cli

namespace vellum::cli {
namespace {

struct ListedCertificate {
  std::string sha1, sha256, valid_to_date;
};

// The certificates `vellum store list` shows, in its order.
std::vector<ListedCertificate> Listed(const std::string& listing) {
  std::vector<ListedCertificate> found;
  std::istringstream in(listing);
  for (std::string line; std::getline(in, line);) {
    auto value = [&](const char* label) {
      return line.rfind(label, 0) == 0 ? line.substr(std::string(label).size()) : std::string();
    };
    if (auto v = value("  Valid to:    "); !v.empty()) found.push_back({"", "", v.substr(0, 10)});
    if (auto v = value("  Thumbprint:  "); !v.empty()) found.back().sha1 = v;
    if (auto v = value("  SHA-256:     "); !v.empty()) found.back().sha256 = v;
  }
  return found;
}

std::string LowerWithColons(const std::string& hex) {
  std::string out;
  for (std::size_t i = 0; i < hex.size(); i += 2)
    out += (i ? ":" : "") + std::string{static_cast<char>(std::tolower(hex[i])),
                                        static_cast<char>(std::tolower(hex[i + 1]))};
  return out;
}

// A renewal: two certificates of one subject. Without a terminal the choice cannot be made;
// --thumbprint makes it, by SHA-1 or SHA-256, and the signature verifies with that
// certificate's expiry.
TEST_F(SignCliTest, ThumbprintChoosesBetweenCertificatesOfOneSubject) {
  ASSERT_EQ(RunSeparately({"store", "new-certificate", "--subject", kAnn, "--days", "40"}).code,
            kOk);
  const auto listed = Listed(RunSeparately({"store", "list"}).out);
  ASSERT_EQ(listed.size(), 2u);
  ASSERT_NE(listed[0].valid_to_date, listed[1].valid_to_date);
  ASSERT_EQ(listed[0].sha1.size(), 40u);
  ASSERT_EQ(listed[0].sha256.size(), 64u);

  Result undecided = RunSeparately({"sign", In("a.txt")});
  EXPECT_EQ(undecided.code, kFailed);
  EXPECT_TRUE(Contains(undecided.err, "--thumbprint")) << undecided.err;

  struct Case {
    std::string thumbprint;
    std::size_t certificate;
    const char* why;
  } const cases[] = {
      {listed[1].sha1, 1, "SHA-1 as store list shows it"},
      {LowerWithColons(listed[0].sha256), 0, "SHA-256 in lower case with colons"},
      {listed[0].sha1, 0, "the other certificate by SHA-1"},
  };
  for (const auto& c : cases) {
    Result s = RunSeparately({"sign", In("a.txt"), "--thumbprint", c.thumbprint});
    ASSERT_EQ(s.code, kOk) << c.why << s.err;
    Result v = RunSeparately({"verify", In("a_DSignature.txt"), "--original", In("a.txt")});
    ASSERT_EQ(v.code, kOk) << c.why << v.out;
    EXPECT_TRUE(Contains(v.out, listed[c.certificate].valid_to_date)) << c.why << v.out;
  }

  std::filesystem::remove(In("a_DSignature.txt"));
  struct Refusal {
    std::vector<std::string> extra;
    int code;
    const char* why;
  } const refusals[] = {
      {{"--thumbprint", std::string(40, '0')}, kFailed, "no such certificate"},
      {{"--thumbprint", "12345"}, kUsage, "too short"},
      {{"--thumbprint", std::string(40, 'g')}, kUsage, "not hexadecimal"},
      {{"--thumbprint", listed[0].sha1, "--person", "Ann"}, kUsage, "one way of choosing only"},
      {{"--thumbprint", listed[0].sha1, "--store", "Other"}, kFailed, "not in that store"},
  };
  for (const auto& r : refusals) {
    std::vector<std::string> args{"sign", In("a.txt")};
    args.insert(args.end(), r.extra.begin(), r.extra.end());
    Result s = RunSeparately(args);
    EXPECT_EQ(s.code, r.code) << r.why;
    EXPECT_FALSE(s.err.empty()) << r.why;
    EXPECT_EQ(InNames(), (std::vector<std::string>{"a.bin", "a.txt"})) << r.why;
  }
}

// Each --json run prints one object on one line, read back here with the library's reader.
TEST_F(SignCliTest, JsonForSigningAndTheStoreListing) {
  namespace json = com::json;
  Result list = RunSeparately({"store", "list", "--json"});
  ASSERT_EQ(list.code, kOk);
  const auto listed = Listed(RunSeparately({"store", "list"}).out);
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(std::count(list.out.begin(), list.out.end(), '\n'), 1) << "one line";
  const json::Value store = json::Value::Parse(list.out);
  EXPECT_EQ(store["store"].AsText(), "My");
  ASSERT_EQ(store["certificates"].AsArray().size(), 1u);
  const json::Value& c = store["certificates"].AsArray()[0];
  EXPECT_EQ(c["subject"].AsText(), kAnn);
  EXPECT_TRUE(c["private_key"].AsBool());
  EXPECT_EQ(c["thumbprint_sha1"].AsText(), listed[0].sha1);
  EXPECT_EQ(c["thumbprint_sha256"].AsText(), listed[0].sha256);
  EXPECT_EQ(c["valid_to"].AsText().substr(0, 10), listed[0].valid_to_date);
  EXPECT_LT(std::stoll(c["valid_from_unix"].AsText()), std::stoll(c["valid_to_unix"].AsText()));
  EXPECT_TRUE(c["exposed_key_file"].IsNull());

  struct Case {
    std::vector<std::string> args;
    int code;
    std::string signature;  // empty: null
    const char* why;
  } const cases[] = {
      {{"sign", In("a.txt"), "--json"}, kOk, In("a_DSignature.txt"), "the default suffix"},
      {{"sign", In("a.bin"), "--suffix", "_Seal.sig", "--json"},
       kOk,
       In("a_Seal.sig"),
       "a suffix of the caller's"},
      {{"sign", In("nothing.txt"), "--json"}, kFailed, "", "a missing file"},
  };
  for (const auto& k : cases) {
    Result r = RunSeparately(k.args);
    ASSERT_EQ(r.code, k.code) << k.why << r.err;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << k.why << r.out;
    const json::Value v = json::Value::Parse(r.out);
    EXPECT_EQ(v["method"].AsText(), "SignFile") << k.why;
    EXPECT_EQ(v["file"].AsText(), k.args[1]) << k.why;
    EXPECT_EQ(v["result"].AsBool(), k.code == kOk) << k.why;
    EXPECT_FALSE(v["message"].AsText().empty()) << k.why;
    EXPECT_EQ(v["exit_code"].AsText(), std::to_string(k.code)) << k.why;
    if (k.signature.empty()) {
      EXPECT_TRUE(v["signature"].IsNull()) << k.why;
    } else {
      EXPECT_EQ(v["signature"].AsText(), k.signature) << k.why;
      EXPECT_TRUE(std::filesystem::exists(k.signature)) << k.why;
    }
  }
}

}  // namespace
}  // namespace vellum::cli
