// Archives crossing over to and from the real 7z and zip programs.
#include <gtest/gtest.h>

#include "library/zip/zip_logic.h"
#include "tests/archive/archive_test_util.h"
#include "tests/archive/message_recorder.h"

namespace vellum {
namespace {

using namespace vellum::archive::testing;

const std::string kContent = "MIIB...signed content\r\n" + Pattern(20000, 5);

// What Zip writes, 7z reads under the password, and names the entry's method AES-256.
TEST(Interop, SevenZipReadsWhatZipFileWrites) {
  ScratchFolder dir;
  WriteBytes(dir / "report_ContentSignature.txt", kContent);
  std::string input = dir / "report_ContentSignature.txt";
  std::string packed = dir / "report_ContentSignature.trel";
  std::string password = "Op3n sesame";
  ZipLogic zip;
  ASSERT_TRUE(zip.ZipFile(input, packed, password));

  std::string listing = Capture("7z l -slt " + Quote(packed));
  EXPECT_NE(listing.find("Path = report_ContentSignature.txt"), std::string::npos) << listing;
  EXPECT_NE(listing.find("Method = AES-256 Deflate"), std::string::npos) << listing;

  EXPECT_EQ(
      Shell("7z x -y -p" + Quote(password) + " -o" + Quote(dir / "out") + " " + Quote(packed)), 0);
  EXPECT_EQ(ReadBytes(dir / "out/report_ContentSignature.txt"), kContent);

  EXPECT_NE(Shell("7z x -y -pwrong -o" + Quote(dir / "bad") + " " + Quote(packed)), 0);
  EXPECT_NE(ReadBytes(dir / "bad/report_ContentSignature.txt"), kContent);
}

// Archives of other tools: WinZip AES (AE-2) by 7z at each key length, stored and deflated,
// and traditional encryption by zip.
TEST(Interop, UnZipFileReadsArchivesOfOtherTools) {
  const std::string kText = kContent;
  const std::string kRandom = Pattern(70000, 8);  // incompressible: 7z stores it
  struct Case {
    const char* why;
    std::string options;  // archive type and encryption; empty means the zip program
    std::string content;
  } cases[] = {
      {"7z AES-256, deflated", "-tzip -mem=AES256", kText},
      {"7z AES-256, stored", "-tzip -mem=AES256", kRandom},
      {"7z AES-256, empty file", "-tzip -mem=AES256", ""},
      {"7z AES-192", "-tzip -mem=AES192", kText},
      {"7z AES-128", "-tzip -mem=AES128", kText},
      {"7z traditional", "-tzip -mem=ZipCrypto", kText},
      {"zip traditional", "", kText},
      {"zip traditional, empty file", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    ScratchFolder dir;
    MessageRecorder messages;
    WriteBytes(dir / "report_ContentSignature.txt", c.content);
    std::string make =
        c.options.empty()
            ? "zip -q -P 'Op3n sesame' report_ContentSignature.trel report_ContentSignature.txt"
            : "7z a " + c.options +
                  " -p'Op3n sesame' report_ContentSignature.trel report_ContentSignature.txt";
    ASSERT_EQ(Shell("cd " + Quote(dir.path()) + " && " + make), 0);
    fs::remove(dir / "report_ContentSignature.txt");

    std::string name = dir / "report_ContentSignature.trel";
    std::string output = name;
    std::string password = "Op3n sesame";
    ZipLogic zip;
    ASSERT_TRUE(zip.UnZipFile(name, output, password)) << ::testing::PrintToString(messages.texts);
    EXPECT_EQ(output, dir / "UnZip/report_ContentSignature.txt");
    EXPECT_EQ(ReadBytes(output), c.content);

    output = name;
    std::string wrong = "Op3n sesamE";
    EXPECT_FALSE(zip.UnZipFile(name, output, wrong));
    EXPECT_EQ(zip.lLastResult(), 527);
    EXPECT_EQ(messages.texts,
              std::vector<std::string>{"The password does not match with the original password."});
    EXPECT_TRUE(Tree(dir / "UnZip").empty());
  }
}

}  // namespace
}  // namespace vellum
