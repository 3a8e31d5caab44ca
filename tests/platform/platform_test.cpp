// The bottom layer: text conversions that must be lossless where the formats promise it, and
// the atomic writer's promise that a failure loses nothing.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "library/platform/error.h"
#include "library/platform/files.h"
#include "library/platform/text.h"

namespace vellum {
namespace {

TEST(Text, AnsiRoundTripsEveryByteValue) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  EXPECT_EQ(Utf16leToAnsi(AnsiToUtf16le(all)), all);
  EXPECT_EQ(Utf8ToAnsi(AnsiToUtf8(all)), all);
  // The euro sign sits at 0x80 in the code page; an unmapped character becomes '?'.
  EXPECT_EQ(AnsiToUtf8("\x80"), "\xE2\x82\xAC");
  EXPECT_EQ(Utf8ToAnsi("\xE2\x82\xAC \xE4\xB8\xAD"), "\x80 ?");
}

TEST(Text, Utf16ConversionsHandleSurrogatesAndDamage) {
  const std::string clef = "\xF0\x9D\x84\x9E";  // outside the basic plane: a surrogate pair
  EXPECT_EQ(Utf8ToUtf16le(clef).size(), 4u);
  EXPECT_EQ(Utf16leToUtf8(Utf8ToUtf16le(clef)), clef);
  EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16("Zoë")), "Zoë");
  // A lone surrogate, an odd trailing byte and broken UTF-8 become U+FFFD, never a crash.
  EXPECT_EQ(Utf16leToUtf8(std::string("\x00\xD8", 2)), "\xEF\xBF\xBD");
  EXPECT_EQ(Utf16leToUtf8(std::string("A\x00\x42", 3)), "A\xEF\xBF\xBD");
  EXPECT_EQ(Utf16leToUtf8(Utf8ToUtf16le("\xC3")), "\xEF\xBF\xBD");
  EXPECT_EQ(Utf16leToUtf8(Utf8ToUtf16le("\xE2\x82")), "\xEF\xBF\xBD\xEF\xBF\xBD");
}

class AtomicWrite : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vellum-platform-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::size_t EntriesIn(const std::string& dir) {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir)) ++n;
    return n;
  }
  std::string dir_;
};

TEST_F(AtomicWrite, ReplacesWholeAndKeepsNoTemporaryFile) {
  const std::string path = dir_ + "/out.bin";
  platform::WriteFileAtomic(path, std::string(1000, 'x'));
  platform::WriteFileAtomic(path, "short");
  EXPECT_EQ(platform::ReadFileBytes(path), "short");
  EXPECT_EQ(EntriesIn(dir_), 1u);
}

TEST_F(AtomicWrite, FailuresLeaveTheOldFileWhole) {
  const std::string path = dir_ + "/keep.txt";
  platform::WriteFileAtomic(path, "original");
  // The target is a folder; the target's folder is a regular file; the folder is missing.
  std::filesystem::create_directory(dir_ + "/folder");
  EXPECT_THROW(platform::WriteFileAtomic(dir_ + "/folder", "x"), Error);
  try {
    platform::WriteFileAtomic(path + "/child", "x");
    FAIL() << "writing below a regular file succeeded";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), rt::kPathNotFound);
  }
  EXPECT_THROW(platform::WriteFileAtomic(dir_ + "/missing/x.txt", "x"), Error);
  EXPECT_EQ(platform::ReadFileBytes(path), "original");
  EXPECT_EQ(EntriesIn(dir_), 2u);  // keep.txt and folder, no temporary files
}

TEST(Errors, FileErrorsMapToRunTimeNumbers) {
  EXPECT_EQ(FileError(ENOENT, "a").number(), rt::kFileNotFound);
  EXPECT_EQ(FileError(ENOTDIR, "a").number(), rt::kPathNotFound);
  EXPECT_EQ(FileError(EACCES, "a").number(), rt::kPermissionDenied);
  EXPECT_EQ(FileError(ENOSPC, "a").number(), rt::kDiskFull);
  EXPECT_EQ(FileError(EIO, "a").number(), rt::kPathFileAccess);
  EXPECT_EQ(Error::Runtime(13).description(), "Type mismatch");
  EXPECT_EQ(Error::Runtime(5).description(), "Invalid procedure call or argument");
}

}  // namespace
}  // namespace vellum
