// ZipFile and UnZipFile on a file three times the memory bound, each in a child process whose
// peak resident size is read before and after: an archive built in memory, or a file read
// whole, shows as growth that follows the file.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>

#include "library/zip/zip_logic.h"
#include "tests/archive/archive_test_util.h"
#include "tests/archive/message_recorder.h"
#include "tests/support/peak_memory.h"

namespace vellum {
namespace {

using namespace vellum::archive::testing;

constexpr std::size_t kMiB = std::size_t{1} << 20;
constexpr std::size_t kFileSize = 192 * kMiB;
constexpr std::size_t kBound = 64 * kMiB;

// Bytes deflate cannot shrink, so the archive is as large as the file: one random piece of a
// little over 1 MiB, repeated farther apart than deflate's 32 KiB window can see. Written in
// pieces, so making the file does not raise the peak.
void MakeIncompressibleFile(const std::string& path, std::size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::mt19937 engine(7);
  std::string piece(kMiB + 13, '\0');
  for (char& c : piece) c = static_cast<char>(engine() & 0xFF);
  for (std::size_t done = 0; done < size; done += piece.size())
    out.write(piece.data(), static_cast<std::streamsize>(std::min(piece.size(), size - done)));
  ASSERT_TRUE(out.good());
}

TEST(ZipMemory, ZipFileAndUnZipFileStayFlat) {
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "the address sanitizer's shadow and quarantine make resident sizes meaningless";
#endif
  GTEST_FLAG_SET(death_test_style, "fast");
  ScratchFolder dir;
  MessageRecorder messages;
  const std::string input = dir / "big.bin";
  const std::string archive = dir / "big.zip";
  MakeIncompressibleFile(input, kFileSize);
  std::string password = "pw";

  EXPECT_EXIT(vellum::testing::ExitWithPeakGrowth(kBound,
                                                  [&] {
                                                    std::string in = input, out = archive;
                                                    return ZipLogic().ZipFile(in, out, password)
                                                               ? std::string()
                                                               : "ZipFile";
                                                  }),
              ::testing::ExitedWithCode(0), "")
      << "ZipFile";
  // The child's archive, checked here: as large as the file, so holding it would have shown.
  ASSERT_GT(fs::file_size(archive), kFileSize);

  EXPECT_EXIT(vellum::testing::ExitWithPeakGrowth(kBound,
                                                  [&] {
                                                    std::string name = archive, out = archive;
                                                    return ZipLogic().UnZipFile(name, out, password)
                                                               ? std::string()
                                                               : "UnZipFile";
                                                  }),
              ::testing::ExitedWithCode(0), "")
      << "UnZipFile";
  EXPECT_EQ(fs::file_size(dir / "UnZip/big.bin"), kFileSize);
  EXPECT_EQ(std::system(("cmp -s " + Quote(input) + " " + Quote(dir / "UnZip/big.bin")).c_str()),
            0);
  EXPECT_TRUE(messages.texts.empty());
}

}  // namespace
}  // namespace vellum
