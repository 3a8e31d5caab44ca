// The bottom layer: text conversions that must be lossless where the formats promise it, and
// the atomic writer's promise that a failure loses nothing.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cerrno>
#include <ctime>

#include <array>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "library/platform/dates.h"
#include "library/platform/error.h"
#include "library/platform/files.h"
#include "library/platform/secret.h"
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

// The small rules the names and messages share.
TEST(Text, TrimSpacesRemovesBlanksOnly) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"  a b  ", "a b"},   {"", ""},   {"   ", ""}, {"\ta\t", "\ta\t"},  // tabs stay
      {" a\r\n ", "a\r\n"}, {"x", "x"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(TrimSpaces(in), out) << in;
}

TEST(Text, ReplaceAllLeftToRightWithoutOverlap) {
  struct Case {
    const char* text;
    const char* from;
    const char* to;
    const char* expected;
  };
  const Case cases[] = {
      {"a.txt.txt", ".txt", ".trel", "a.trel.trel"},
      {"aaa", "aa", "b", "ba"},             // not overlapping
      {"A.TXT", ".txt", ".trel", "A.TXT"},  // case counts
      {"abc", "", "x", "abc"},              // an empty pattern replaces nothing
      {"", "a", "b", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(ReplaceAll(c.text, c.from, c.to), c.expected) << c.text;
}

TEST(Text, PadWithStarsCountsUtf16Units) {
  struct Case {
    std::u16string text;
    std::size_t length;
    std::u16string expected;
  };
  const Case cases[] = {
      {u"ab", 5, u"ab***"},
      {u"abcdef", 5, u"abcdef"},  // already longer: unchanged
      {u"", 2, u"**"},
      {u"\U0001F600", 3, u"\U0001F600*"},  // a surrogate pair counts as two units
  };
  for (Case c : cases) {
    PadWithStars(c.text, c.length);
    EXPECT_EQ(c.text, c.expected);
  }
}

TEST(Dates, DatesInTheirThreeForms) {
  using platform::DateForm;
  const platform::CivilTime noon{2025, 3, 7, 12, 5, 9};
  const platform::CivilTime midnight{1999, 12, 31, 0, 0, 0};
  const platform::CivilTime last_second{2024, 2, 29, 23, 59, 59};
  struct Case {
    platform::CivilTime time;
    DateForm form;
    const char* expected;
  };
  const Case cases[] = {
      {noon, DateForm::kDate, "07/03/2025"},
      {noon, DateForm::kDateTime, "07/03/2025 12:05:09"},
      {noon, DateForm::kGeneral, "07/03/2025 12:05:09"},
      {midnight, DateForm::kDate, "31/12/1999"},
      {midnight, DateForm::kDateTime, "31/12/1999 00:00:00"},  // the time is always written
      {midnight, DateForm::kGeneral, "31/12/1999"},            // midnight: the date alone
      {last_second, DateForm::kGeneral, "29/02/2024 23:59:59"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(platform::FormatDate(c.time, c.form), c.expected) << c.expected;
}

TEST(Dates, LocalTimeFollowsTheZone) {
  const char* saved = getenv("TZ");
  const std::string old = saved != nullptr ? saved : "";
  const std::time_t moment = 86400 * 365 + 3661;  // 1971-01-01 01:01:01 UTC
  setenv("TZ", "UTC", 1);
  tzset();
  const std::string utc = platform::FormatLocalTime(moment);
  const platform::CivilTime civil = platform::LocalCivilTime(moment);
  setenv("TZ", "UTC+5", 1);  // five hours behind: still the last day of 1970
  tzset();
  const std::string behind = platform::FormatLocalTime(moment, platform::DateForm::kDate);
  if (saved != nullptr)
    setenv("TZ", old.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
  EXPECT_EQ(utc, "01/01/1971 01:01:01");
  EXPECT_EQ(civil.year, 1971);
  EXPECT_EQ(civil.hour, 1);
  EXPECT_EQ(behind, "31/12/1970");
}

TEST(Paths, ExtensionOfTheLastComponentOnly) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"/data/report_ContentSignature.txt", "txt"},
      {"/a.txt/b_sig", ""},  // a dot in a folder's name is no extension
      {"/a/b.TXT", "TXT"},
      {"/a/b.", ""},
      {"b.x.y", "y"},
      {"noext", ""},
  };
  for (const auto& [path, ext] : cases) EXPECT_EQ(platform::ExtensionName(path), ext) << path;
}

TEST(Paths, TemporaryNamesAreHiddenShortAndDiffer) {
  const std::string a = platform::TemporaryName("vellum-test");
  const std::string b = platform::TemporaryName("vellum-test");
  const std::string prefix = ".vellum-test-";
  ASSERT_EQ(a.size(), prefix.size() + 10) << a;
  EXPECT_EQ(a.substr(0, prefix.size()), prefix);
  EXPECT_EQ(a.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789", prefix.size()),
            std::string::npos)
      << a;
  EXPECT_NE(a, b);
}

TEST_F(AtomicWrite, TemporaryFilesAreNewFilesWithTheirOwnNames) {
  platform::FileDescriptor folder(::open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  ASSERT_TRUE(folder);
  std::string first, second;
  platform::FileDescriptor a = platform::CreateTemporaryFile(folder.get(), "t", 0600, first);
  platform::FileDescriptor b = platform::CreateTemporaryFile(folder.get(), "t", 0600, second);
  ASSERT_TRUE(a && b);
  EXPECT_NE(first, second);
  struct stat st {};
  ASSERT_EQ(::fstat(a.get(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(st.st_size, 0);
  EXPECT_TRUE(std::filesystem::exists(dir_ + "/" + first));
  // No folder to create it in: no descriptor, no name, and errno says why.
  std::string none = "left over";
  platform::FileDescriptor c = platform::CreateTemporaryFile(-1, "t", 0600, none);
  const int err = errno;
  EXPECT_FALSE(c);
  EXPECT_EQ(err, EBADF);
  EXPECT_TRUE(none.empty());
}

// The holder wipes what it held on every way out, texts and key arrays alike.
TEST(Secrets, WipeClearsTextsAndArrays) {
  std::string text = "a password longer than the small-string buffer";
  char* bytes = text.data();
  const std::size_t size = text.size();
  platform::Wipe(text);
  EXPECT_TRUE(text.empty());
  EXPECT_EQ(std::string(bytes, size), std::string(size, '\0'));  // the same buffer, zeroed
  std::array<unsigned char, 4> key = {1, 2, 3, 4};
  platform::Wipe(key);
  EXPECT_EQ(key, (std::array<unsigned char, 4>{}));
}

// A kind of secret the holder has never heard of: its own Wipe is found and called.
struct Tracked {
  std::string* log;
};
void Wipe(Tracked& t) {
  *t.log += "wiped ";
}

TEST(Secrets, HolderWipesOnEveryWayOut) {
  std::string log;
  { platform::Secret<Tracked> normal_exit(Tracked{&log}); }
  EXPECT_EQ(log, "wiped ");
  try {
    platform::Secret<Tracked> thrown_through(Tracked{&log});
    throw std::runtime_error("a failure on the way");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(log, "wiped wiped ");
  platform::SecretText text("pw");
  text->append("!");  // the holder gives the text's own interface
  EXPECT_EQ(text.get(), "pw!");
}

}  // namespace
}  // namespace vellum
