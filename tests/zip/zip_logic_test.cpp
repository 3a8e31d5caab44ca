// The Zip class on real archives: the UnZip folder beside the archive, the name of the
// extracted file, the codes kept in lLastResult and the texts shown through the message hook.
#include "library/zip/zip_logic.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>

#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "library/archive/archive.h"
#include "library/platform/own_folders.h"
#include "tests/archive/archive_test_util.h"
#include "tests/archive/message_recorder.h"

namespace vellum {
namespace {

using namespace vellum::archive::testing;
using archive::ResultText;

constexpr const char* kMismatch = "The password does not match with the original password.";

// Makes F/<archive> holding the given entries under `password`, as SignZipFile would.
std::string PackedFile(const ScratchFolder& dir, const std::string& archive,
                       const std::vector<std::pair<std::string, std::string>>& files,
                       const std::string& password) {
  std::vector<EntrySpec> entries;
  for (const auto& [name, data] : files) entries.emplace_back(name, data, ZIP_EM_AES_256, password);
  MakeZip(dir / archive, entries);
  return dir / archive;
}

TEST(ZipLogic, StartsWithResultZero) {
  EXPECT_EQ(ZipLogic().lLastResult(), 0);
}

TEST(ZipLogic, ZipFileThenUnZipFileGivesTheSignatureFileBack) {
  ScratchFolder dir;
  MessageRecorder messages;
  WriteBytes(dir / "report_ContentSignature.txt", "MIIB...signed\r\n");
  std::string input = dir / "report_ContentSignature.txt";
  std::string packed = dir / "report_ContentSignature.trel";
  std::string password = "pa ss";
  ZipLogic zip;
  ASSERT_TRUE(zip.ZipFile(input, packed, password));
  EXPECT_EQ(zip.lLastResult(), 0);
  EXPECT_EQ(input, dir / "report_ContentSignature.txt");
  EXPECT_EQ(packed, dir / "report_ContentSignature.trel");
  EXPECT_EQ(password, "pa ss");

  std::string name = packed;
  std::string output = packed;
  ASSERT_TRUE(zip.UnZipFile(name, output, password));
  EXPECT_EQ(output, dir / "UnZip/report_ContentSignature.txt");
  EXPECT_EQ(name, packed);
  EXPECT_EQ(ReadBytes(output), "MIIB...signed\r\n");
  EXPECT_EQ(zip.lLastResult(), 0);
  EXPECT_TRUE(messages.texts.empty());
}

// How the extracted file's name is worked out from the archive's name and the folder's files.
TEST(ZipLogic, UnZipFileNamesTheExtractedFile) {
  struct Case {
    const char* why;
    std::string archive;
    std::vector<std::pair<std::string, std::string>> files;
    std::string expected;  // relative to the scratch folder
  } cases[] = {
      {"same prefix, extension taken over",
       "report_ContentSignature.trel",
       {{"report_ContentSignature.txt", "x"}},
       "UnZip/report_ContentSignature.txt"},
      {"no file with the prefix: the name ends in a dot",
       "report_ContentSignature.trel",
       {{"other.txt", "x"}},
       "UnZip/report_ContentSignature."},
      {"prefix is compared up to the first dot", "a.b.trel", {{"a.sig", "x"}}, "UnZip/a.b.sig"},
      {"prefix comparison counts case", "Report.trel", {{"report.txt", "x"}}, "UnZip/Report."},
      {"archive without extension: every dot gets the new one",
       "noext",
       {{"noext.txt", "x"}},
       "UnZip/noext"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    ScratchFolder dir;
    MessageRecorder messages;
    std::string name = PackedFile(dir, c.archive, c.files, "pw");
    std::string output = name;
    std::string password = "pw";
    ZipLogic zip;
    ASSERT_TRUE(zip.UnZipFile(name, output, password));
    EXPECT_EQ(output, dir / c.expected);
    EXPECT_EQ(zip.lLastResult(), 0);
    EXPECT_TRUE(messages.texts.empty());
  }
}

// Two candidates with the archive's prefix: the one the file system lists last decides.
TEST(ZipLogic, LastListedCandidateWins) {
  ScratchFolder dir;
  std::string name = PackedFile(
      dir, "report_ContentSignature.trel",
      {{"report_ContentSignature.txt", "1"}, {"report_ContentSignature.bak", "2"}}, "pw");
  std::string output = name;
  std::string password = "pw";
  ZipLogic zip;
  ASSERT_TRUE(zip.UnZipFile(name, output, password));
  std::string last;
  for (const auto& e : fs::directory_iterator(dir / "UnZip")) last = e.path().extension().string();
  ASSERT_TRUE(last == ".txt" || last == ".bak");
  EXPECT_EQ(output, dir / "UnZip/report_ContentSignature" + last);
}

TEST(ZipLogic, UnZipFolderGoesBesideTheFirstNameNotTheArchive) {
  ScratchFolder dir;
  fs::create_directories(dir / "elsewhere");
  std::string archive = PackedFile(dir, "r.trel", {{"r.txt", "x"}}, "pw");
  std::string name = dir / "elsewhere/r.trel";
  std::string output = archive;
  std::string password = "pw";
  ZipLogic zip;
  ASSERT_TRUE(zip.UnZipFile(name, output, password));
  EXPECT_EQ(output, dir / "elsewhere/UnZip/r.txt");
  EXPECT_FALSE(fs::exists(dir / "UnZip"));
}

// A bare name would put UnZip at the root of the file system; it stays in the current folder.
TEST(ZipLogic, BareArchiveNameUsesTheCurrentFolder) {
  ScratchFolder dir;
  PackedFile(dir, "r.trel", {{"r.txt", "x"}}, "pw");
  fs::path was = fs::current_path();
  fs::current_path(dir.path());
  std::string name = "r.trel";
  std::string output = "r.trel";
  std::string password = "pw";
  ZipLogic zip;
  bool ok = zip.UnZipFile(name, output, password);
  fs::current_path(was);
  ASSERT_TRUE(ok);
  EXPECT_EQ(output, "UnZip/r.txt");
  EXPECT_EQ(ReadBytes(dir / "UnZip/r.txt"), "x");
}

// Marks a folder as one the library made, as an earlier run would have left it.
void MarkAsOurs(const std::string& folder) {
  WriteBytes(folder + "/" + platform::kOwnFolderMark, "");
}

// An UnZip folder left by an earlier run goes first, with what is in it, whatever comes next.
TEST(ZipLogic, OldUnZipFolderIsRemovedFirst) {
  struct Case {
    const char* why;
    std::string password;
    bool ok;
  } cases[] = {{"extraction succeeds", "pw", true}, {"extraction fails", "wrong", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    ScratchFolder dir;
    MessageRecorder messages;
    fs::create_directories(dir / "UnZip/sub");
    MarkAsOurs(dir / "UnZip");
    WriteBytes(dir / "UnZip/old.txt", "old");
    WriteBytes(dir / "UnZip/sub/older.txt", "older");
    std::string name = PackedFile(dir, "r.trel", {{"r.txt", "x"}}, "pw");
    std::string output = name;
    std::string password = c.password;
    ZipLogic zip;
    EXPECT_EQ(zip.UnZipFile(name, output, password), c.ok);
    std::set<std::string> expected;
    if (c.ok) expected = {"r.txt"};
    EXPECT_EQ(Tree(dir / "UnZip"), expected);
  }
}

// Whatever stands at UnZip that the library did not make is the user's: a folder they made
// (with their files), a link to a folder elsewhere, a regular file, a marked folder of another
// user. It is left exactly as it is and the run fails with its own code and text.
TEST(ZipLogic, AnUnZipTheLibraryDidNotMakeIsLeftAlone) {
  struct Case {
    const char* why;
    std::function<void(const ScratchFolder&)> plant;
  };
  const std::vector<Case> cases = {
      {"a folder the user made",
       [](const ScratchFolder& dir) {
         fs::create_directories(dir / "UnZip/notes");
         WriteBytes(dir / "UnZip/notes/mine.txt", "mine");
       }},
      {"a link to a folder elsewhere",
       [](const ScratchFolder& dir) {
         fs::create_directories(dir / "precious");
         WriteBytes(dir / "precious/keep.txt", "keep");
         fs::create_directory_symlink(dir / "precious", dir / "UnZip");
       }},
      {"a link to a marked folder elsewhere",
       [](const ScratchFolder& dir) {
         fs::create_directories(dir / "precious");
         MarkAsOurs(dir / "precious");
         fs::create_directory_symlink(dir / "precious", dir / "UnZip");
       }},
      {"a regular file", [](const ScratchFolder& dir) { WriteBytes(dir / "UnZip", "a file"); }},
      {"a marked folder of another user",
       [](const ScratchFolder& dir) {
         fs::create_directories(dir / "UnZip");
         MarkAsOurs(dir / "UnZip");
         WriteBytes(dir / "UnZip/theirs.txt", "theirs");
         ASSERT_EQ(::chown((dir / "UnZip").c_str(), 65534, 65534), 0);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    ScratchFolder dir;
    MessageRecorder messages;
    c.plant(dir);
    std::string name = PackedFile(dir, "r.trel", {{"r.txt", "x"}}, "pw");
    const std::set<std::string> before = Tree(dir.path());
    std::string output = name;
    std::string password = "pw";
    ZipLogic zip;
    EXPECT_FALSE(zip.UnZipFile(name, output, password));
    EXPECT_EQ(zip.lLastResult(), archive::kForeignFolder);
    ASSERT_EQ(messages.texts.size(), 1u);
    EXPECT_EQ(messages.texts[0],
              ResultText(archive::kForeignFolder) + "\r\n" + std::string(dir / "UnZip"));
    EXPECT_EQ(output, name);
    EXPECT_EQ(Tree(dir.path()), before);
  }
}

// The extraction root is opened without following a link at its name and must be a folder of
// the caller: a link or a stranger's folder put there is not written into.
TEST(ZipLogic, ExtractionRootIsNeverALinkOrAStrangersFolder) {
  ScratchFolder dir;
  std::string name = PackedFile(dir, "r.trel", {{"r.txt", "x"}}, "pw");
  fs::create_directories(dir / "elsewhere");
  fs::create_directory_symlink(dir / "elsewhere", dir / "link");
  fs::create_directories(dir / "stranger");
  ASSERT_EQ(::chown((dir / "stranger").c_str(), 65534, 65534), 0);
  for (const char* root : {"link", "stranger"}) {
    SCOPED_TRACE(root);
    archive::Result run = archive::ExtractArchive(name, dir / root, "pw", nullptr);
    EXPECT_EQ(run.code, archive::kFolderNotWritten) << run.text;
  }
  EXPECT_TRUE(Tree(dir / "elsewhere").empty());
  EXPECT_TRUE(Tree(dir / "stranger").empty());
}

// Runs in one folder at once, each on its own archive: the lock beside UnZip serialises them,
// so none removes another's folder while it is being filled, and all succeed.
TEST(ZipLogic, ConcurrentRunsInOneFolderAllSucceed) {
  ScratchFolder dir;
  MessageRecorder messages;
  constexpr int kRuns = 4;
  std::vector<std::string> names;
  for (int i = 0; i < kRuns; ++i) {
    const std::string base = "r" + std::to_string(i);
    names.push_back(
        PackedFile(dir, base + ".trel", {{base + ".txt", std::string(200000, 'a' + i)}}, "pw"));
  }
  for (int round = 0; round < 5; ++round) {
    std::vector<int> ok(kRuns, 0);
    std::vector<std::thread> runs;
    for (int i = 0; i < kRuns; ++i)
      runs.emplace_back([&, i] {
        std::string name = names[i];
        std::string output = name;
        std::string password = "pw";
        ZipLogic zip;
        ok[i] = zip.UnZipFile(name, output, password) ? 1 : 0;
      });
    for (auto& t : runs) t.join();
    EXPECT_EQ(ok, std::vector<int>(kRuns, 1)) << "round " << round;
  }
  EXPECT_TRUE(messages.texts.empty());
}

// A run that returns a code other than 0: false, the code kept, the text shown once, the
// caller's output name untouched and nothing extracted.
TEST(ZipLogic, UnZipFileFailuresShowTheirText) {
  struct Case {
    const char* why;
    std::string password;
    std::string archive;  // relative; prepared below
    std::int32_t code;
    std::string message_start;
  } cases[] = {
      {"wrong password", "wrong", "r.trel", archive::kWrongPassword, kMismatch},
      {"no password", "", "r.trel", archive::kWrongPassword, kMismatch},
      {"not an archive", "pw", "text.trel", archive::kNotAnArchive,
       ResultText(archive::kNotAnArchive)},
      {"archive missing", "pw", "missing.trel", archive::kArchiveUnreadable,
       ResultText(archive::kArchiveUnreadable)},
      {"entry leaving the folder", "pw", "evil.trel", archive::kUnsafeEntry,
       ResultText(archive::kUnsafeEntry)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    ScratchFolder dir;
    MessageRecorder messages;
    PackedFile(dir, "r.trel", {{"r.txt", "x"}}, "pw");
    PackedFile(dir, "evil.trel", {{"r.txt", "x"}, {"../escape.txt", "x"}}, "pw");
    WriteBytes(dir / "text.trel", "not an archive");
    std::string name = dir / c.archive;
    std::string output = name;
    std::string password = c.password;
    ZipLogic zip;
    EXPECT_FALSE(zip.UnZipFile(name, output, password));
    EXPECT_EQ(zip.lLastResult(), c.code);
    ASSERT_EQ(messages.texts.size(), 1u);
    EXPECT_EQ(messages.texts[0].rfind(c.message_start, 0), 0u) << messages.texts[0];
    if (c.code == archive::kWrongPassword) {
      EXPECT_EQ(messages.texts[0], kMismatch);
    }
    EXPECT_EQ(output, name);
    EXPECT_TRUE(Tree(dir / "UnZip").empty());
    EXPECT_FALSE(fs::exists(dir / "escape.txt"));
  }
}

TEST(ZipLogic, ZipFileFailureShowsTheComponentText) {
  ScratchFolder dir;
  MessageRecorder messages;
  WriteBytes(dir / "out.trel", "older archive");
  std::string input = dir / "missing.txt";
  std::string packed = dir / "out.trel";
  std::string password = "pw";
  ZipLogic zip;
  EXPECT_FALSE(zip.ZipFile(input, packed, password));
  EXPECT_EQ(zip.lLastResult(), archive::kInputUnreadable);
  ASSERT_EQ(messages.texts.size(), 1u);
  EXPECT_EQ(messages.texts[0].rfind(ResultText(archive::kInputUnreadable), 0), 0u);
  EXPECT_EQ(ReadBytes(dir / "out.trel"), "older archive");
}

// A failure outside the run (here the old UnZip folder cannot be deleted): false, no box, and
// lLastResult keeps the code of the last run that returned.
TEST(ZipLogic, TrappedFailureKeepsTheLastResult) {
  ScratchFolder dir;
  MessageRecorder messages;
  std::string name = PackedFile(dir, "r.trel", {{"r.txt", "x"}}, "pw");
  std::string output = name;
  std::string wrong = "wrong";
  ZipLogic zip;
  ASSERT_FALSE(zip.UnZipFile(name, output, wrong));
  ASSERT_EQ(zip.lLastResult(), archive::kWrongPassword);
  messages.texts.clear();

  fs::create_directories(dir / "UnZip");
  MarkAsOurs(dir / "UnZip");
  WriteBytes(dir / "UnZip/stuck.txt", "stuck");
  int fd = ::open((dir / "UnZip/stuck.txt").c_str(), O_RDONLY);
  int flags = FS_IMMUTABLE_FL;
  bool immutable = fd >= 0 && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  if (!immutable) {
    if (fd >= 0) ::close(fd);
    GTEST_SKIP() << "cannot mark a file immutable here";
  }
  std::string password = "pw";
  bool ok = zip.UnZipFile(name, output, password);
  flags = 0;
  ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
  ::close(fd);
  EXPECT_FALSE(ok);
  EXPECT_EQ(zip.lLastResult(), archive::kWrongPassword);
  EXPECT_TRUE(messages.texts.empty());
  EXPECT_EQ(output, name);
}

}  // namespace
}  // namespace vellum
