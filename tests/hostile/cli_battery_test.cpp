// The vellum command against hostile input and a hostile environment: secrets that must not
// reach started programs or core files, texts and names that are no UTF-8, control characters
// in names and subjects, devices where a file is expected, and key files others may read.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <sstream>
#include <thread>

#include "cli/password.h"
#include "cli/run.h"
#include "cli/safe_text.h"
#include "library/crypto/encrypted_data.h"
#include "library/platform/shell_open.h"
#include "library/platform/text.h"
#include "tests/cli/run_in_process.h"
#include "tests/support/temp_folder.h"

namespace vellum::cli {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::ScopedEnv;
using testing::TempFolder;
using testing::WriteFile;

class CliBattery : public ::testing::Test {
 protected:
  CliBattery()
      : registry_("VELLUM_REGISTRY", tmp_.File("registry.ini")),
        stores_("VELLUM_STORE_DIR", tmp_.File("stores")),
        temp_dir_("TMPDIR", tmp_.File("tmp")),
        password_("VELLUM_PASSWORD", std::nullopt) {}
  void SetUp() override {
    fs::create_directory(tmp_.File("tmp"));
    ASSERT_EQ(RunCli({"register", VELLUM_TEST_LIBRARY}).code, kOk);
  }
  std::string F(const std::string& name) const { return tmp_.File(name); }

  TempFolder tmp_;
  ScopedEnv registry_;
  ScopedEnv stores_;
  ScopedEnv temp_dir_;
  ScopedEnv password_;
};

// ---- Secrets ---------------------------------------------------------------------------------

// VELLUM_PASSWORD leaves the environment once the command has read it, so nothing the command
// starts afterwards inherits it; and from then on the process is not dumpable.
TEST_F(CliBattery, ThePasswordLeavesTheEnvironmentAndTheProcessIsNotDumpable) {
  ::setenv("VELLUM_PASSWORD", "env-secret", 1);
  ASSERT_EQ(::prctl(PR_SET_DUMPABLE, 1, 0, 0, 0), 0);
  Result enc = RunCli({"encrypt"}, "text");
  ASSERT_EQ(enc.code, kOk) << enc.err;
  EXPECT_EQ(std::getenv("VELLUM_PASSWORD"), nullptr);
  EXPECT_EQ(::prctl(PR_GET_DUMPABLE, 0, 0, 0, 0), 0) << "no core file while a password is held";
}

// A program started for a document (and what it starts) sees the desktop's variables, never
// the password or the command's own settings.
TEST_F(CliBattery, StartedProgramsGetACleanEnvironment) {
  fs::create_directory(F("bin"));
  const std::string opener = F("bin/xdg-open");
  const std::string dump = F("opener-environment");
  WriteFile(opener, "#!/bin/sh\n/usr/bin/env > " + dump + ".part && /bin/mv " + dump + ".part " +
                        dump + "\n");
  ASSERT_EQ(::chmod(opener.c_str(), 0755), 0);
  WriteFile(F("doc.txt"), "document");
  ScopedEnv path("PATH", F("bin"));  // the fake opener alone: no MIME tools to ask first
  ScopedEnv password("VELLUM_PASSWORD", std::string("env-secret"));
  ScopedEnv other("DB_PASSWORD", std::string("other-secret"));
  ScopedEnv display("DISPLAY", std::string(":7"));
  const std::vector<std::string> env = platform::ChildEnvironment();
  for (const std::string& item : env) {
    EXPECT_FALSE(item.starts_with("VELLUM_")) << item;
    EXPECT_FALSE(Contains(item, "secret")) << item;
  }
  EXPECT_NE(std::find(env.begin(), env.end(), "DISPLAY=:7"), env.end());

  Result open = RunCli({"open", F("doc.txt")});
  EXPECT_EQ(open.code, kOk) << open.out << open.err;
  for (int i = 0; i < 200 && !fs::exists(dump); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const std::string seen = ReadFile(dump);
  EXPECT_TRUE(Contains(seen, "DISPLAY=:7")) << seen;
  EXPECT_FALSE(Contains(seen, "env-secret")) << seen;
  EXPECT_FALSE(Contains(seen, "other-secret")) << seen;
  EXPECT_FALSE(Contains(seen, "VELLUM_")) << seen;
}

// ---- Texts and names that are no UTF-8 -------------------------------------------------------

// Each refused with its reason, exit code not 0, nothing on standard output, nothing written.
TEST_F(CliBattery, BytesThatAreNoUtf8AreRefused) {
  WriteFile(F("a.txt"), "plain");
  WriteFile(F("latin1-pw"), "\xE9t\xE9\n");
  ::setenv("VELLUM_PASSWORD", "pw", 1);
  struct Case {
    const char* why;
    std::vector<std::string> args;
    std::string input;
    int code;
    std::string says;
  };
  const std::vector<Case> cases = {
      {"text to encrypt in Latin-1", {"encrypt"}, "caf\xE9", kFailed, "not valid UTF-8"},
      {"an archive name in Latin-1",
       {"zip", F("a.txt"), F("caf\xE9.zip")},
       "",
       kUsage,
       "cannot be represented"},
      {"a signature name in Latin-1",
       {"verify", F("caf\xE9_ContentSignature.txt")},
       "",
       kUsage,
       "cannot be represented"},
      {"a password file in Latin-1",
       {"encrypt", "--password-file", F("latin1-pw")},
       "text",
       kFailed,
       "password is not valid UTF-8"},
  };
  const auto before = tmp_.List();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    ::setenv("VELLUM_PASSWORD", "pw", 1);
    Result r = RunCli(c.args, c.input);
    EXPECT_EQ(r.code, c.code) << r.err;
    EXPECT_TRUE(r.out.empty()) << r.out;
    EXPECT_TRUE(Contains(r.err, c.says)) << r.err;
    EXPECT_EQ(tmp_.List(), before);
  }
  // Passwords that differ only in bytes that are no UTF-8 would all read as U+FFFD.
  ::setenv("VELLUM_PASSWORD", "\xE9t\xE9", 1);
  EXPECT_EQ(RunCli({"encrypt"}, "text").code, kFailed);
}

// Decrypted content that is no UTF-16 text is not printed as if it were one.
TEST_F(CliBattery, DecryptedBytesThatAreNoTextAreNotPrinted) {
  crypto::EncryptedData message;
  message.SetSecret("pw");
  message.SetAlgorithm(crypto::kEncryptAes256);
  message.SetContent(std::string("A\0\x00\xD8", 4));  // "A" and a lone high surrogate
  const std::string base64 = message.Encrypt();
  ::setenv("VELLUM_PASSWORD", "pw", 1);
  Result r = RunCli({"decrypt"}, base64);
  EXPECT_EQ(r.code, kFailed);
  EXPECT_TRUE(r.out.empty()) << r.out;
  EXPECT_TRUE(Contains(r.err, "not a UTF-16 text")) << r.err;
}

// ---- Control characters in what the command prints ------------------------------------------

TEST(EscapeControlsTest, ControlCharactersAreShownEscaped) {
  struct Case {
    std::string in;
    bool keep_line_breaks;
    std::string out;
  };
  const std::vector<Case> cases = {
      {"plain Grüße", false, "plain Grüße"},
      {"a\nb\rc\td", false, "a\\nb\\rc\\td"},
      {"\x1b[32mvalid\x1b[0m", false, "\\e[32mvalid\\e[0m"},
      {std::string("nul\0del\x7f", 8), false, "nul\\x00del\\x7F"},
      {"c1 \xC2\x9B", false, "c1 \\u009B"},
      {"caf\xE9", false, "caf\\xE9"},
      {"line one\r\nline two\nthree", true, "line one\nline two\\nthree"},
  };
  for (const Case& c : cases) EXPECT_EQ(EscapeControls(c.in, c.keep_line_breaks), c.out) << c.in;
  EXPECT_TRUE(IsValidUtf8("Grüße \xF0\x9D\x84\x9E"));
  for (const char* bad : {"\xE9", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE2\x82"})
    EXPECT_FALSE(IsValidUtf8(bad)) << bad;
  EXPECT_TRUE(IsValidUtf16le(Utf8ToUtf16le("Grüße \xF0\x9D\x84\x9E")));
  for (const std::string& bad : {std::string("\x00\xD8", 2), std::string("\x00\xDC", 2),
                                 std::string("A", 1), std::string("\x00\xD8\x41\x00", 4)})
    EXPECT_FALSE(IsValidUtf16le(bad));
}

// A certificate subject made to move the cursor and colour a line is listed escaped.
TEST_F(CliBattery, SubjectsAreListedWithTheirControlCharactersEscaped) {
  Result made = RunCli({"store", "new-certificate", "--subject", "CN=Evil\x1b[2K\rTrusted Bank"});
  ASSERT_EQ(made.code, kOk) << made.err;
  Result list = RunCli({"store", "list"});
  ASSERT_EQ(list.code, kOk) << list.err;
  EXPECT_FALSE(Contains(list.out, "\x1b")) << list.out;
  EXPECT_FALSE(Contains(list.out, "\r")) << list.out;
  EXPECT_TRUE(Contains(list.out, "CN=Evil\\e[2K\\rTrusted Bank")) << list.out;
}

// ---- Devices and endless files where a small file is expected --------------------------------

TEST_F(CliBattery, DevicesAndPipesAreRefusedWhereAFileIsRead) {
  ASSERT_EQ(::mkfifo(F("fifo").c_str(), 0600), 0);
  const std::string big = F("big-password");
  WriteFile(big, std::string(kLargestPasswordFile + 1, 'p'));
  struct Case {
    const char* why;
    std::vector<std::string> args;
    std::string says;
  };
  const std::vector<Case> cases = {
      {"store import of an endless device", {"store", "import", "/dev/zero"}, "not a regular file"},
      {"store import of a pipe", {"store", "import", F("fifo")}, "not a regular file"},
      {"password file an endless device",
       {"encrypt", "--password-file", "/dev/zero"},
       "not a regular file"},
      {"password file a pipe", {"encrypt", "--password-file", F("fifo")}, "not a regular file"},
      {"password file past the bound", {"encrypt", "--password-file", big}, "larger than"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    Result r = RunCli(c.args, "text");
    EXPECT_EQ(r.code, kFailed);
    EXPECT_TRUE(r.out.empty()) << r.out;
    EXPECT_TRUE(Contains(r.err, c.says)) << r.err;
  }
  EXPECT_TRUE(!fs::exists(F("stores/My")) || fs::is_empty(F("stores/My")));
}

// ---- Key files others may read ----------------------------------------------------------------

TEST_F(CliBattery, KeyFilesOthersMayReadAreMarkedAndWarnedAbout) {
  ASSERT_EQ(RunCli({"store", "new-certificate", "--subject", "CN=Ann Lee"}).code, kOk);
  std::string key;
  for (const auto& e : fs::directory_iterator(F("stores/My")))
    if (e.path().extension() == ".key") key = e.path();
  ASSERT_FALSE(key.empty());
  WriteFile(F("a.txt"), "to sign");

  struct Case {
    const char* why;
    mode_t mode;
    bool warned;
  };
  for (const Case& c :
       {Case{"a private key file", 0600, false}, Case{"readable by its group", 0640, true},
        Case{"readable by everyone", 0644, true}}) {
    SCOPED_TRACE(c.why);
    ASSERT_EQ(::chmod(key.c_str(), c.mode), 0);
    Result list = RunCli({"store", "list"});
    ASSERT_EQ(list.code, kOk);
    EXPECT_EQ(Contains(list.out, "Private key: yes (WARNING: " + key), c.warned) << list.out;
    Result sign = RunCli({"sign", F("a.txt")});
    ASSERT_EQ(sign.code, kOk) << sign.err;
    EXPECT_EQ(Contains(sign.err, "warning: the private key of CN=Ann Lee is in " + key), c.warned)
        << sign.err;
  }
}

}  // namespace
}  // namespace vellum::cli
