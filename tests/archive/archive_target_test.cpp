// The archive's target file: the libzip source over the atomic writer driven through libzip's
// own write calls, then CompressFile where strangers choose the archive's name, and the layout
// of a streamed archive against one libzip builds in memory from the same file.
#include "library/archive/archive_target.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <set>
#include <string>

#include "library/archive/archive.h"
#include "tests/archive/archive_test_util.h"

namespace vellum::archive {
namespace {

using namespace vellum::archive::testing;

// A target for `path` with its libzip source, opened for writing as zip_close opens it.
struct OpenTarget {
  explicit OpenTarget(const std::string& path) : target(path) {
    ZipError error;
    source.reset(target.NewSource(error.get()));
    if (!source) throw std::runtime_error("no source: " + error.text());
    if (zip_source_begin_write(source.get()) != 0) throw std::runtime_error("begin_write");
  }
  bool Write(const std::string& data) {
    return zip_source_write(source.get(), data.data(), data.size()) ==
           static_cast<zip_int64_t>(data.size());
  }
  int Seek(zip_int64_t offset, int whence) {
    return zip_source_seek_write(source.get(), offset, whence);
  }
  zip_int64_t Tell() { return zip_source_tell_write(source.get()); }
  ArchiveTarget target;
  ZipSource source;
};

// Writes, seeks back and forth, and what each way of ending leaves: only a commit replaces the
// target; a rollback or a dropped target leave the old file and no temporary file.
TEST(ArchiveTarget, WritesSeeksAndEndsOnlyByCommit) {
  enum class End { kCommit, kRollback, kDrop };
  struct Case {
    const char* why;
    End end;
    std::string expected;  // the target's bytes afterwards
  } cases[] = {
      {"commit: the header filled in after the data", End::kCommit, "Jello world!"},
      {"rollback: the old file stays", End::kRollback, "old archive"},
      {"dropped without commit: the old file stays", End::kDrop, "old archive"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    ScratchFolder dir;
    WriteBytes(dir / "out.zip", "old archive");
    {
      OpenTarget t(dir / "out.zip");
      ASSERT_TRUE(t.Write("hello world"));
      EXPECT_EQ(t.Tell(), 11);
      ASSERT_EQ(t.Seek(0, SEEK_SET), 0);
      ASSERT_TRUE(t.Write("J"));
      EXPECT_EQ(t.Tell(), 1);
      ASSERT_EQ(t.Seek(0, SEEK_END), 0);
      EXPECT_EQ(t.Tell(), 11);
      ASSERT_TRUE(t.Write("!"));
      switch (c.end) {
        case End::kCommit:
          ASSERT_EQ(zip_source_commit_write(t.source.get()), 0);
          EXPECT_TRUE(t.target.committed());
          break;
        case End::kRollback:
          zip_source_rollback_write(t.source.get());
          break;
        case End::kDrop:
          break;
      }
      if (c.end != End::kCommit) {
        EXPECT_FALSE(t.target.committed());
      }
    }
    EXPECT_EQ(ReadBytes(dir / "out.zip"), c.expected);
    EXPECT_EQ(Tree(dir.path()), std::set<std::string>{"out.zip"});
  }
}

// An archive closed with no entries is one libzip would delete: this source never deletes, so
// the close fails and the old file stays.
TEST(ArchiveTarget, NeverRemovesTheTarget) {
  ScratchFolder dir;
  WriteBytes(dir / "out.zip", "old archive");
  {
    ArchiveTarget target(dir / "out.zip");
    ZipError error;
    ZipSource source(target.NewSource(error.get()));
    ZipArchive za(zip_open_from_source(source.get(), ZIP_TRUNCATE, error.get()));
    ASSERT_TRUE(za) << error.text();
    zip_source_keep(source.get());
    EXPECT_EQ(za.Commit(), ZIP_ER_OPNOTSUPP);
    EXPECT_FALSE(target.committed());
  }
  EXPECT_EQ(ReadBytes(dir / "out.zip"), "old archive");
  EXPECT_EQ(Tree(dir.path()), std::set<std::string>{"out.zip"});
}

// Seeks libzip must never be allowed: before the start of the file.
TEST(ArchiveTarget, RefusesASeekBeforeTheStart) {
  ScratchFolder dir;
  OpenTarget t(dir / "out.zip");
  ASSERT_TRUE(t.Write("abc"));
  EXPECT_LT(t.Seek(-4, SEEK_CUR), 0);
  EXPECT_LT(t.Seek(-1, SEEK_SET), 0);
  EXPECT_EQ(t.Tell(), 3);
  EXPECT_EQ(zip_error_code_zip(zip_source_error(t.source.get())), ZIP_ER_INVAL);
}

// A folder that cannot hold the archive fails before anything is read, naming the cause.
TEST(ArchiveTarget, AMissingFolderFailsAtOnce) {
  ScratchFolder dir;
  try {
    ArchiveTarget target(dir / "nowhere/out.zip");
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_NE(e.description().find("does not exist"), std::string::npos) << e.description();
  }
  EXPECT_TRUE(Tree(dir.path()).empty());
}

// ---- CompressFile where strangers choose the archive's name ---------------------------------

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return st.st_mode;
}

// What stands at the archive's name before: nothing, the caller's own file with special bits,
// a link to a file that must not be touched. The archive is a regular file that opens, with
// no mode taken from a link and never setuid; nothing else in the folder changes.
TEST(CompressFile, TheArchiveReplacesWhatStandsAtItsNameWithoutFollowingIt) {
  struct Case {
    const char* why;
    std::function<void(const ScratchFolder&)> plant;
    mode_t mode;  // the archive's permission bits afterwards (umask 022)
  } cases[] = {
      {"nothing there: 0666 less the umask", [](const ScratchFolder&) {}, 0644},
      {"the caller's own file keeps its bits, without setuid",
       [](const ScratchFolder& d) {
         WriteBytes(d / "out.trel", "older");
         ASSERT_EQ(::chmod((d / "out.trel").c_str(), 04750), 0);
       },
       0750},
      {"a link is replaced, its target left alone",
       [](const ScratchFolder& d) {
         WriteBytes(d / "victim", "precious");
         ASSERT_EQ(::chmod((d / "victim").c_str(), 0600), 0);
         fs::create_symlink(d / "victim", d / "out.trel");
       },
       0644},
  };
  const mode_t old_umask = ::umask(022);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    ScratchFolder dir;
    WriteBytes(dir / "in.txt", "content");
    c.plant(dir);
    std::set<std::string> before = Tree(dir.path());
    before.insert("out.trel");
    ASSERT_EQ(CompressFile(dir / "in.txt", dir / "out.trel", "pw").code, kOk);
    EXPECT_TRUE(S_ISREG(ModeOf(dir / "out.trel")));
    EXPECT_EQ(ModeOf(dir / "out.trel") & 07777, c.mode);
    EXPECT_EQ(Tree(dir.path()), before);
    if (fs::exists(dir / "victim")) {
      EXPECT_EQ(ReadBytes(dir / "victim"), "precious");
      EXPECT_EQ(ModeOf(dir / "victim") & 07777, 0600u);
    }
    ASSERT_EQ(ExtractArchive(dir / "out.trel", dir / "x", "pw", nullptr).code, kOk);
    EXPECT_EQ(ReadBytes(dir / "x/in.txt"), "content");
  }
  ::umask(old_umask);
}

// An archive named like its input, or like another name of the same file, would take the
// input's place: refused, the input as it was.
TEST(CompressFile, NeverReplacesTheFileBeingCompressed) {
  struct Case {
    const char* why;
    std::string archive;
  } cases[] = {
      {"the same name", "in.txt"},
      {"the same name spelt another way", "./in.txt"},
      {"a hard link to the input", "hard.trel"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    ScratchFolder dir;
    WriteBytes(dir / "in.txt", "the only copy");
    ASSERT_EQ(::link((dir / "in.txt").c_str(), (dir / "hard.trel").c_str()), 0);
    const std::set<std::string> before = Tree(dir.path());
    Result r = CompressFile(dir / "in.txt", dir / c.archive, "pw");
    EXPECT_EQ(r.code, kArchiveNotWritten);
    EXPECT_NE(r.text.find("the file being compressed"), std::string::npos) << r.text;
    EXPECT_EQ(ReadBytes(dir / "in.txt"), "the only copy");
    EXPECT_EQ(Tree(dir.path()), before);
  }
}

// ---- the layout of a streamed archive ---------------------------------------------------------

// The archive libzip makes in memory from the same file with the same settings, which is how
// archives were made before they were streamed.
std::string InMemoryArchive(const std::string& input, const std::string& name,
                            const std::string& password) {
  ZipError error;
  ZipSource buffer(zip_source_buffer_create(nullptr, 0, 0, error.get()));
  ZipArchive za(zip_open_from_source(buffer.get(), ZIP_TRUNCATE, error.get()));
  if (!za) throw std::runtime_error(error.text());
  zip_source_keep(buffer.get());
  ZipSource file(zip_source_file(za.get(), input.c_str(), 0, 0));
  zip_int64_t index = zip_file_add(za.get(), name.c_str(), file.get(), ZIP_FL_ENC_GUESS);
  if (index < 0) throw std::runtime_error(zip_strerror(za.get()));
  file.release();
  zip_set_file_compression(za.get(), static_cast<zip_uint64_t>(index), ZIP_CM_DEFLATE, 9);
  zip_file_set_encryption(za.get(), static_cast<zip_uint64_t>(index), ZIP_EM_AES_256,
                          password.c_str());
  if (za.Commit() != ZIP_ER_OK) throw std::runtime_error("zip_close");
  std::string bytes;
  zip_source_open(buffer.get());
  char piece[1 << 16];
  for (zip_int64_t n; (n = zip_source_read(buffer.get(), piece, sizeof piece)) > 0;)
    bytes.append(piece, static_cast<std::size_t>(n));
  zip_source_close(buffer.get());
  return bytes;
}

std::uint32_t Le(const std::string& b, std::size_t at, int width) {
  std::uint32_t v = 0;
  for (int i = width - 1; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(b[at + i]);
  return v;
}

// The streamed archive and the in-memory one agree byte for byte outside the entry's
// encrypted data (salt, password check, cipher text and authentication code, which differ
// by the random salt alone): headers, sizes, the central directory and the end record.
TEST(CompressFile, StreamedArchiveHasTheLayoutOfTheInMemoryOne) {
  struct Case {
    const char* why;
    std::string data;
  } cases[] = {
      {"empty", ""},
      {"text", std::string(100000, 'a') + "tail"},
      {"incompressible over many pieces", Pattern(700001, 3)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    ScratchFolder dir;
    WriteBytes(dir / "in.bin", c.data);
    ASSERT_EQ(CompressFile(dir / "in.bin", dir / "out.zip", "pw").code, kOk);
    const std::string streamed = ReadBytes(dir / "out.zip");
    const std::string memory = InMemoryArchive(dir / "in.bin", "in.bin", "pw");
    ASSERT_EQ(streamed.size(), memory.size());
    ASSERT_GE(streamed.size(), 30u);
    const std::size_t data_start = 30 + Le(streamed, 26, 2) + Le(streamed, 28, 2);
    const std::size_t data_size = Le(streamed, 18, 4);
    ASSERT_LE(data_start + data_size, streamed.size());
    EXPECT_EQ(streamed.substr(0, data_start), memory.substr(0, data_start));
    EXPECT_EQ(streamed.substr(data_start + data_size), memory.substr(data_start + data_size));
    EXPECT_NE(streamed.substr(data_start, 16), memory.substr(data_start, 16)) << "same salt";
  }
}

}  // namespace
}  // namespace vellum::archive
