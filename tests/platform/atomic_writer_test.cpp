// The atomic writer where strangers choose the name: what a replaced file passes on (a link
// passes nothing, another user's file passes nothing, setuid never), private files, names near
// NAME_MAX, the true cause of a missing folder, and what a writer killed half way leaves.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "library/platform/error.h"
#include "library/platform/files.h"

namespace vellum {
namespace {

namespace fs = std::filesystem;
using platform::Privacy;

constexpr uid_t kStranger = 65534;  // nobody

class AtomicWriterAttack : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vellum-writer-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    old_umask_ = ::umask(022);
  }
  void TearDown() override {
    ::umask(old_umask_);
    fs::remove_all(dir_);
  }
  std::string Make(const std::string& name, const std::string& data, mode_t mode,
                   uid_t owner = ::geteuid()) {
    const std::string path = dir_ + "/" + name;
    platform::WriteFileAtomic(path, data);
    // chown clears setuid and setgid, so the mode comes last.
    EXPECT_EQ(::lchown(path.c_str(), owner, static_cast<gid_t>(-1)), 0);
    EXPECT_EQ(::chmod(path.c_str(), mode), 0);
    return path;
  }
  static mode_t ModeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }
  std::string dir_;
  mode_t old_umask_ = 022;
};

// What the new file's permission bits come from, by what stood at the target's name.
TEST_F(AtomicWriterAttack, OnlyTheCallersOwnRegularFilePassesItsBitsOn) {
  const std::string setuid_program = Make("program", "#!/bin/sh\n", 04755);
  struct Case {
    const char* why;
    std::function<std::string()> plant;  // returns the target path
    Privacy privacy;
    mode_t expected;
  };
  const std::vector<Case> cases = {
      {"a link to a setuid program is replaced, and passes nothing on",
       [&] {
         const std::string link = dir_ + "/tool";
         fs::create_symlink(setuid_program, link);
         return link;
       },
       Privacy::kShared, 0644},
      {"the caller's own setuid file keeps its bits without setuid",
       [&] { return Make("own-setuid", "x", 06755); }, Privacy::kShared, 0755},
      {"the caller's own sticky group-writable file keeps 0660",
       [&] { return Make("own-sticky", "x", 01660); }, Privacy::kShared, 0660},
      {"another user's file passes nothing on",
       [&] { return Make("theirs", "x", 0600, kStranger); }, Privacy::kShared, 0644},
      {"a private file is 0600 over the caller's readable file",
       [&] { return Make("private", "x", 0666); }, Privacy::kPrivate, 0600},
      {"a new private file is 0600", [&] { return dir_ + "/new-private"; }, Privacy::kPrivate,
       0600},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    const std::string target = c.plant();
    platform::WriteFileAtomic(target, "restored content", c.privacy);
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(target)));
    EXPECT_EQ(ModeOf(target), c.expected);
    EXPECT_EQ(platform::ReadFileBytes(target), "restored content");
  }
  // The link was replaced, never written through.
  EXPECT_EQ(platform::ReadFileBytes(setuid_program), "#!/bin/sh\n");
  EXPECT_EQ(ModeOf(setuid_program), 04755u);
}

// A private write never replaces a name another user holds: refused, and nothing changes.
TEST_F(AtomicWriterAttack, PrivateWritesRefuseAnotherUsersName) {
  const std::string theirs = Make("report.pdf", "their file", 0644, kStranger);
  fs::create_symlink("/etc/passwd", dir_ + "/their-link");
  ASSERT_EQ(::lchown((dir_ + "/their-link").c_str(), kStranger, static_cast<gid_t>(-1)), 0);
  const auto before = Names();
  for (const std::string& target : {theirs, dir_ + "/their-link"}) {
    try {
      platform::WriteFileAtomic(target, "secret", Privacy::kPrivate);
      ADD_FAILURE() << "replaced " << target;
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), rt::kPermissionDenied);
      EXPECT_NE(e.description().find("belongs to another user"), std::string::npos)
          << e.description();
    }
  }
  EXPECT_EQ(platform::ReadFileBytes(theirs), "their file");
  EXPECT_EQ(Names(), before);
}

// Names up to NAME_MAX are writable: the temporary name does not grow with the target's.
TEST_F(AtomicWriterAttack, NamesNearNameMaxAreWritable) {
  for (std::size_t length : {200u, 240u, 250u, 255u}) {
    const std::string target = dir_ + "/" + std::string(length, 'n');
    platform::WriteFileAtomic(target, "long");
    platform::WriteFileAtomic(target, "longer");
    EXPECT_EQ(platform::ReadFileBytes(target), "longer") << length;
    fs::remove(target);
  }
  EXPECT_TRUE(Names().empty());
}

// A missing folder is reported as a missing folder, naming it.
TEST_F(AtomicWriterAttack, AMissingFolderIsReportedAsMissing) {
  const std::string folder = dir_ + "/no-such-folder";
  try {
    platform::WriteFileAtomic(folder + "/x.txt", "x");
    FAIL() << "wrote into a missing folder";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), rt::kPathNotFound);
    EXPECT_EQ(e.description().find("Not a directory"), std::string::npos) << e.description();
    EXPECT_NE(e.description().find(folder + " does not exist"), std::string::npos)
        << e.description();
  }
}

// A writer killed after writing (no destructor, no unlink) leaves no temporary file beside the
// target, and the target as it was.
TEST_F(AtomicWriterAttack, AWriterKilledHalfWayLeavesNothing) {
  const std::string target = Make("signature.txt", "the old signature", 0644);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    platform::AtomicFileWriter writer(target);
    writer.Write(std::string(1 << 20, 's'));
    ::raise(SIGKILL);
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(Names(), std::vector<std::string>{"signature.txt"});
  EXPECT_EQ(platform::ReadFileBytes(target), "the old signature");
}

}  // namespace
}  // namespace vellum
