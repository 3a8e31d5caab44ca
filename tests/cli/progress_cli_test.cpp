// The command's progress line: drawn on standard error only when it is a terminal and the file
// is larger than 64 MiB, and cleared when the work is done. The command runs as a process of
// its own on a pseudo-terminal; the same commands with standard error captured print exactly
// what they printed before.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>

#include "cli/run.h"
#include "library/platform/files.h"

namespace vellum::cli {
namespace {

namespace fs = std::filesystem;

struct TerminalRun {
  int code = -1;
  std::string screen;  // everything the command wrote to the terminal
};

// Runs the command on a new terminal (standard input, output and error) until it exits.
TerminalRun RunOnTerminal(const std::vector<std::string>& args) {
  std::vector<std::string> copies = args;
  copies.insert(copies.begin(), VELLUM_TEST_COMMAND);
  std::vector<char*> argv;
  for (auto& a : copies) argv.push_back(a.data());
  argv.push_back(nullptr);
  TerminalRun run;
  int fd = -1;
  const pid_t pid = ::forkpty(&fd, nullptr, nullptr, nullptr);
  if (pid == 0) {
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  if (pid < 0) return run;
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 60000) <= 0) break;  // a minute without output: the command hangs
    char buffer[4096];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0) break;  // EIO once the command has exited
    run.screen.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  int status = 0;
  if (::waitpid(pid, &status, 0) == pid && WIFEXITED(status)) run.code = WEXITSTATUS(status);
  return run;
}

class ProgressLine : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vellum-progress-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    ::setenv("VELLUM_REGISTRY", (dir_ + "/registry.ini").c_str(), 1);
    platform::WriteFileAtomic(dir_ + "/pw", "pw");
    std::istringstream in;
    std::ostringstream out, err;
    ASSERT_EQ(cli::Run({"register", VELLUM_TEST_LIBRARY}, in, out, err), kOk) << err.str();
  }
  void TearDown() override {
    ::unsetenv("VELLUM_REGISTRY");
    fs::remove_all(dir_);
  }
  // A file of `size` zero bytes (a hole, compressed quickly).
  std::string Zeros(const std::string& name, std::uintmax_t size) {
    const std::string path = dir_ + "/" + name;
    platform::WriteFileAtomic(path, "");
    fs::resize_file(path, size);
    return path;
  }
  std::string dir_;
};

constexpr std::uintmax_t kMiB = 1u << 20;
constexpr const char* kClear = "\r\x1b[K";

// Large files: a line per step, drawn over itself, then cleared; small files: none at all.
TEST_F(ProgressLine, LargeFilesShowALineOnATerminalSmallOnesDoNot) {
  struct Case {
    const char* why;
    std::uintmax_t size;
    bool line;
  } cases[] = {
      {"65 MiB: a line", 65 * kMiB, true},
      {"exactly 64 MiB: none", 64 * kMiB, false},
      {"1 MiB: none", kMiB, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    const std::string file = Zeros("big.bin", c.size);
    const std::string archive = dir_ + "/big.zip";
    TerminalRun zip = RunOnTerminal({"zip", file, archive, "--password-file", dir_ + "/pw"});
    ASSERT_EQ(zip.code, kOk) << zip.screen;
    TerminalRun unzip = RunOnTerminal({"unzip", archive, "--password-file", dir_ + "/pw"});
    ASSERT_EQ(unzip.code, kOk) << unzip.screen;
    for (const auto& [run, word] : {std::pair{&zip, "Compressing"}, {&unzip, "Extracting"}}) {
      const std::string& screen = run->screen;
      const std::string start = std::string("\rvellum: ") + word + " ";
      if (!c.line) {
        EXPECT_EQ(screen.find("\rvellum: "), std::string::npos) << screen;
        continue;
      }
      const std::size_t first = screen.find(start);
      ASSERT_NE(first, std::string::npos) << screen;
      EXPECT_NE(screen.find(start + "0% (0 of 65 MiB)\x1b[K"), std::string::npos) << screen;
      // The last line drawn is cleared before anything else is written.
      const std::size_t last = screen.rfind(start);
      const std::size_t cleared = screen.find(kClear, last + 1);
      ASSERT_NE(cleared, std::string::npos) << screen;
      EXPECT_EQ(screen.find("\n", last), screen.find("\n", cleared)) << "text before the clear";
    }
    // After the line (if any) is cleared, the command's own output as always.
    const std::size_t clear = unzip.screen.rfind(kClear);
    EXPECT_EQ(unzip.screen.substr(clear == std::string::npos ? 0 : clear + 4),
              dir_ + "/UnZip/big.bin\r\n");
    fs::remove_all(dir_ + "/UnZip");
  }
}

// The same commands with standard error captured (not a terminal) print what they always
// printed: no line, no control sequence.
TEST_F(ProgressLine, NoLineWhenStandardErrorIsNoTerminal) {
  const std::string file = Zeros("big.bin", 65 * kMiB);
  std::istringstream in;
  std::ostringstream out, err;
  ASSERT_EQ(
      cli::Run({"zip", file, dir_ + "/big.zip", "--password-file", dir_ + "/pw"}, in, out, err),
      kOk);
  EXPECT_EQ(out.str(), "");
  EXPECT_EQ(err.str(), "");
  std::ostringstream out2, err2;
  ASSERT_EQ(cli::Run({"unzip", dir_ + "/big.zip", "--password-file", dir_ + "/pw"}, in, out2, err2),
            kOk);
  EXPECT_EQ(out2.str(), dir_ + "/UnZip/big.bin\n");
  EXPECT_EQ(err2.str(), "");
}

}  // namespace
}  // namespace vellum::cli
