#include "library/digital_sign/whole_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "library/platform/error.h"
#include "library/platform/text.h"
#include "tests/digital_sign/scratch_folder.h"

namespace vellum {
namespace {

using testing::EveryByte;
using testing::GetFile;
using testing::PutFile;
using testing::ScratchFolder;

Bytes U(std::string_view ascii) {
  return Utf8ToUtf16le(ascii);
}

// Runs `f` and returns the vellum::Error it raised; fails the test when it raised none.
template <class F>
Error Raised(F f) {
  try {
    f();
  } catch (const Error& e) {
    return e;
  }
  ADD_FAILURE() << "no vellum::Error raised";
  return Error(0, "");
}

// ---- ReadWholeFile: missing files --------------------------------------------------------

// Callers put the description into their messages verbatim, so it must be exact; anything
// that is not a regular file counts as missing (a folder, a device).
TEST(ReadWholeFile, MissingFileRaises504WithItsName) {
  ScratchFolder dir;
  struct Case {
    std::string path;
    std::string description;
  };
  const std::vector<Case> cases = {
      {dir / "absent.txt", "File: " + (dir / "absent.txt") + " does not Exist."},
      {"", "File:  does not Exist."},  // the two fixed parts side by side
      {dir.path(), "File: " + dir.path() + " does not Exist."},
      {"/dev/full", "File: /dev/full does not Exist."},
  };
  for (const Case& c : cases) {
    for (bool binary : {false, true}) {
      Error e = Raised([&] { ReadWholeFile(c.path, binary, false); });
      EXPECT_EQ(e.number(), 504) << c.path;
      EXPECT_EQ(e.description(), c.description) << c.path;
    }
  }
}

// ---- ReadWholeFile: binary mode ----------------------------------------------------------

// The reader hands out one zero byte more than the file holds; detached signatures cover it.
TEST(ReadWholeFile, BinaryGivesBytesPlusOneZero) {
  ScratchFolder dir;
  const std::vector<std::string> files = {"",     "a", "abc", EveryByte(), std::string(3, '\0'),
                                          "  x  "};
  for (const std::string& bytes : files) {
    PutFile(dir / "f", bytes);
    EXPECT_EQ(ReadWholeFile(dir / "f", true, false), bytes + '\0') << bytes.size();
  }
}

// ---- ReadWholeFile: text mode ------------------------------------------------------------

TEST(ReadWholeFile, TextDecodesAnsiToUtf16) {
  ScratchFolder dir;
  struct Case {
    std::string file;
    Bytes text;
  };
  const std::vector<Case> cases = {
      {"", ""},
      {"abc\r\n", U("abc\r\n")},
      {"\x80", U("\u20AC")},              // euro sign lives at 0x80 in Windows-1252
      {"\xE9t\xE9", U("\u00E9t\u00E9")},  // Latin-1 range maps to itself
      {"\x81", U("\u0081")},              // an undefined byte still gets a character
  };
  for (const Case& c : cases) {
    PutFile(dir / "t.txt", c.file);
    EXPECT_EQ(ReadWholeFile(dir / "t.txt", false, false), c.text) << c.file;
  }
}

// Every byte value survives a text read followed by a text write, so text-mode signatures
// restore files byte for byte.
TEST(ReadWholeFile, TextRoundTripsEveryByte) {
  ScratchFolder dir;
  PutFile(dir / "in", EveryByte());
  WriteWholeFile(dir / "out", ReadWholeFile(dir / "in", false, false), false);
  EXPECT_EQ(GetFile(dir / "out"), EveryByte());
}

// ---- Trimming ----------------------------------------------------------------------------

// Only U+0020 goes, only at the ends; other white space is content.
TEST(ReadWholeFile, TrimRemovesOnlyOuterSpaces) {
  ScratchFolder dir;
  struct Case {
    std::string file;
    bool trim;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"  abc  ", true, "abc"},
      {"  abc  ", false, "  abc  "},
      {"abc\r\n", true, "abc\r\n"},
      {"\tabc \t", true, "\tabc \t"},
      {"a b", true, "a b"},
      {"    ", true, ""},
      {"", true, ""},
  };
  for (const Case& c : cases) {
    PutFile(dir / "t.txt", c.file);
    EXPECT_EQ(ReadWholeFile(dir / "t.txt", false, c.trim), U(c.text)) << c.file;
  }
}

// Binary content is trimmed by 16-bit units; an odd last byte is kept and stops the
// trailing trim, so no byte of the file is lost to the unit grid.
TEST(TrimSpaceUnits, BinaryContentOfAnyLength) {
  using namespace std::string_literals;
  struct Case {
    std::string reason;
    Bytes content;
    Bytes trimmed;
  };
  const std::vector<Case> cases = {
      {"leading units", "\x20\x00\x20\x00\x41\x42"s, "\x41\x42"s},
      {"trailing units", "\x41\x42\x20\x00"s, "\x41\x42"s},
      {"odd last byte stays", "\x20\x00\x41\x20\x00"s, "\x41\x20\x00"s},
      {"odd: only the leading side trims", "\x20\x00\x20\x00\x20"s, "\x20"s},
      {"space bytes off the grid are data", "\x41\x20\x00\x42"s, "\x41\x20\x00\x42"s},
      {"0x2020 is not a space unit", "\x20\x20\x41\x00"s, "\x20\x20\x41\x00"s},
      {"all spaces", "\x20\x00\x20\x00"s, ""s},
      {"one byte", "\x20"s, "\x20"s},
      {"empty", ""s, ""s},
  };
  for (const Case& c : cases) EXPECT_EQ(TrimSpaceUnits(c.content), c.trimmed) << c.reason;
}

// An odd-length file ends in (last byte, reader's zero): a trailing space there is one unit.
TEST(ReadWholeFile, BinaryTrimOfFileEndingInSpace) {
  ScratchFolder dir;
  PutFile(dir / "b", "ab ");  // 3 bytes + zero = units "ab", " "
  EXPECT_EQ(ReadWholeFile(dir / "b", true, true), "ab");
  PutFile(dir / "b", "a  ");  // 3 bytes + zero = units "a ", " "; "a " is no space unit
  EXPECT_EQ(ReadWholeFile(dir / "b", true, true), "a ");
}

// ---- WriteWholeFile ----------------------------------------------------------------------

TEST(WriteWholeFile, WritesContentExactly) {
  ScratchFolder dir;
  struct Case {
    std::string reason;
    Bytes data;
    bool binary;
    std::string file;
  };
  const std::vector<Case> cases = {
      {"text becomes ANSI, no line end added", U("caf\u00E9 \u20AC"), false, "caf\xE9 \x80"},
      {"CRLF text", U("a\r\nb\r\n"), false, "a\r\nb\r\n"},
      {"empty text", "", false, ""},
      {"binary unchanged", EveryByte(), true, EveryByte()},
      {"binary of odd length", "abc", true, "abc"},
      {"empty binary", "", true, ""},
  };
  for (const Case& c : cases) {
    WriteWholeFile(dir / "out", c.data, c.binary);
    EXPECT_EQ(GetFile(dir / "out"), c.file) << c.reason;
    EXPECT_EQ(dir.Listing(), std::vector<std::string>{"out"}) << c.reason;
  }
}

TEST(WriteWholeFile, ReplacingALongerFileLeavesExactlyTheNewLength) {
  ScratchFolder dir;
  PutFile(dir / "out", std::string(4096, 'x'));
  WriteWholeFile(dir / "out", "short", true);
  EXPECT_EQ(GetFile(dir / "out"), "short");
  WriteWholeFile(dir / "out", U("t"), false);
  EXPECT_EQ(GetFile(dir / "out"), "t");
}

// A text ANSI cannot hold would be written with '?' in it: a restored file that differs from
// the verified content. It is refused with nothing written.
TEST(WriteWholeFile, TextThatAnsiCannotHoldIsRefused) {
  ScratchFolder dir;
  const std::vector<Bytes> texts = {U("\u4E00"), U("ok \U0001F600"), U("abc") + "x"};
  for (const Bytes& text : texts) {
    PutFile(dir / "out", "old");
    Error e = Raised([&] { WriteWholeFile(dir / "out", text, false); });
    EXPECT_EQ(e.number(), rt::kInvalidCall);
    EXPECT_EQ(GetFile(dir / "out"), "old");
    EXPECT_EQ(dir.Listing(), std::vector<std::string>{"out"});
  }
}

// Failed writes raise a positive run-time error, leave the old file whole and no temporary
// file behind.
TEST(WriteWholeFile, FailureLeavesOldFileAndNoTemporary) {
  ScratchFolder dir;
  PutFile(dir / "plain", "i am a file");
  PutFile(dir / "old", "old content");
  struct Case {
    std::string reason;
    std::string path;
    std::int32_t number;
  };
  const std::vector<Case> cases = {
      {"folder is a regular file", dir / "plain/out", rt::kPathNotFound},
      {"folder missing", dir / "none/out", rt::kPathNotFound},
      {"target is a folder", dir.path(), rt::kPathFileAccess},
  };
  for (const Case& c : cases) {
    for (bool binary : {false, true}) {
      Error e = Raised([&] { WriteWholeFile(c.path, U("new"), binary); });
      EXPECT_EQ(e.number(), c.number) << c.reason;
      EXPECT_EQ(GetFile(dir / "plain"), "i am a file") << c.reason;
      EXPECT_EQ(GetFile(dir / "old"), "old content") << c.reason;
      EXPECT_EQ(dir.Listing(), (std::vector<std::string>{"old", "plain"})) << c.reason;
    }
  }
}

// Renaming a file over a device or pipe would replace the node itself (we run as root), so
// such targets are refused and stay what they were.
TEST(WriteWholeFile, SpecialFilesAreRefusedAndLeftAlone) {
  ScratchFolder dir;
  ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0600), 0);
  for (bool binary : {false, true}) {
    Error e = Raised([&] { WriteWholeFile(dir / "pipe", U("x"), binary); });
    EXPECT_EQ(e.number(), rt::kPathFileAccess);
    struct stat st {};
    ASSERT_EQ(lstat((dir / "pipe").c_str(), &st), 0);
    ASSERT_TRUE(S_ISFIFO(st.st_mode)) << "the pipe was replaced; not trying /dev/full";
    EXPECT_EQ(dir.Listing(), std::vector<std::string>{"pipe"});
  }
  // Only once the pipe proved the guard: a full device is refused the same way.
  for (bool binary : {false, true}) {
    Error e = Raised([&] { WriteWholeFile("/dev/full", "x", binary); });
    EXPECT_EQ(e.number(), rt::kPathFileAccess);
    struct stat st {};
    ASSERT_EQ(lstat("/dev/full", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
  }
}

// A link in the target's place is replaced, never written through.
TEST(WriteWholeFile, LinkIsReplacedNotFollowed) {
  ScratchFolder dir;
  PutFile(dir / "elsewhere", "keep me");
  std::filesystem::create_symlink(dir / "elsewhere", dir / "a.txt");
  WriteWholeFile(dir / "a.txt", "restored", true);
  EXPECT_FALSE(std::filesystem::is_symlink(dir / "a.txt"));
  EXPECT_EQ(GetFile(dir / "a.txt"), "restored");
  EXPECT_EQ(GetFile(dir / "elsewhere"), "keep me");
}

// A device that runs out of room mid-write: a file-size limit makes write() fail as a full
// disk would (EFBIG), without touching a real device.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    old_handler_ = signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    signal(SIGXFSZ, old_handler_);
  }

 private:
  rlimit saved_{};
  sighandler_t old_handler_;
};

TEST(WriteWholeFile, DiskFullLeavesOldFileAndNoTemporary) {
  ScratchFolder dir;
  PutFile(dir / "sig.txt", "old signature");
  for (bool binary : {false, true}) {
    Error e = Raised([&] {
      FileSizeLimit limit(1024);
      WriteWholeFile(dir / "sig.txt", U(std::string(64 * 1024, 'A')), binary);
    });
    EXPECT_EQ(e.number(), rt::kDiskFull);
    EXPECT_EQ(GetFile(dir / "sig.txt"), "old signature");
    EXPECT_EQ(dir.Listing(), std::vector<std::string>{"sig.txt"});
  }
}

}  // namespace
}  // namespace vellum
