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
  // A wrong password is always refused where the entry has a second check: AES entries carry
  // an authentication code, and a traditional entry with content has its CRC. A traditional
  // empty entry has only the one check byte, which a wrong password passes once in 256 (the
  // tools choose the encryption header at random); TraditionalEncryptionChecks below holds
  // that case still.
  struct Case {
    const char* why;
    std::string options;  // archive type and encryption; empty means the zip program
    std::string content;
    bool wrong_password_always_refused;
  } cases[] = {
      {"7z AES-256, deflated", "-tzip -mem=AES256", kText, true},
      {"7z AES-256, stored", "-tzip -mem=AES256", kRandom, true},
      {"7z AES-256, empty file", "-tzip -mem=AES256", "", true},
      {"7z AES-192", "-tzip -mem=AES192", kText, true},
      {"7z AES-128", "-tzip -mem=AES128", kText, true},
      {"7z traditional", "-tzip -mem=ZipCrypto", kText, true},
      {"zip traditional", "", kText, true},
      {"zip traditional, empty file", "", "", false},
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

    if (!c.wrong_password_always_refused) continue;
    output = name;
    std::string wrong = "Op3n sesamE";
    EXPECT_FALSE(zip.UnZipFile(name, output, wrong));
    EXPECT_EQ(zip.lLastResult(), 527);
    EXPECT_EQ(messages.texts,
              std::vector<std::string>{"The password does not match with the original password."});
    EXPECT_TRUE(Tree(dir / "UnZip").empty());
  }
}

// Traditional PKWARE encryption (APPNOTE.TXT 6.1): three keys stirred by CRC-32 steps over
// the password and then over every plaintext byte.
class TraditionalCipher {
 public:
  explicit TraditionalCipher(const std::string& password) {
    for (char c : password) Update(static_cast<std::uint8_t>(c));
  }
  std::uint8_t Encrypt(std::uint8_t plain) {
    const std::uint8_t cipher = plain ^ Stream();
    Update(plain);
    return cipher;
  }
  std::uint8_t Decrypt(std::uint8_t cipher) {
    const std::uint8_t plain = cipher ^ Stream();
    Update(plain);
    return plain;
  }

 private:
  std::uint8_t Stream() const {
    const std::uint32_t t = (keys_[2] | 2) & 0xFFFF;
    return static_cast<std::uint8_t>((t * (t ^ 1)) >> 8);
  }
  void Update(std::uint8_t byte) {
    keys_[0] = CrcStep(keys_[0], byte);
    keys_[1] = (keys_[1] + (keys_[0] & 0xFF)) * 134775813 + 1;
    keys_[2] = CrcStep(keys_[2], static_cast<std::uint8_t>(keys_[1] >> 24));
  }
  std::uint32_t keys_[3] = {0x12345678, 0x23456789, 0x34567890};

 public:
  static std::uint32_t CrcStep(std::uint32_t crc, std::uint8_t byte) {
    crc ^= byte;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    return crc;
  }
  static std::uint32_t Crc32(const std::string& data) {
    std::uint32_t crc = 0xFFFFFFFF;
    for (char c : data) crc = CrcStep(crc, static_cast<std::uint8_t>(c));
    return ~crc;
  }
};

std::string Le(std::uint32_t value, int bytes) {
  std::string out;
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
  return out;
}

// A one-entry archive, stored, under traditional encryption with `password`, whose 12-byte
// encryption header is chosen so that `wrong` passes (or fails) the reader's one-byte check.
// Readers compare the header's last byte with the CRC's high byte, or with the high byte of
// the DOS time; neither may match by chance when the check is meant to fail.
std::string TraditionalArchive(const std::string& name, const std::string& content,
                               const std::string& password, const std::string& wrong,
                               bool wrong_passes_check) {
  constexpr std::uint16_t kDosTime = 12 << 11;                              // 12:00:00
  constexpr std::uint16_t kDosDate = ((2020 - 1980) << 9) | (6 << 5) | 15;  // 15/06/2020
  const std::uint32_t crc = TraditionalCipher::Crc32(content);
  const auto check = static_cast<std::uint8_t>(crc >> 24);
  std::string sealed;
  for (std::uint32_t salt = 0;; ++salt) {
    std::string header = Le(salt, 4) + std::string(7, '\x5A') + static_cast<char>(check);
    TraditionalCipher seal(password);
    sealed.clear();
    for (char c : header) sealed += static_cast<char>(seal.Encrypt(static_cast<std::uint8_t>(c)));
    TraditionalCipher open(wrong);
    std::uint8_t last = 0;
    for (char c : sealed) last = open.Decrypt(static_cast<std::uint8_t>(c));
    const bool passes = last == check || last == (kDosTime >> 8);
    if (passes == wrong_passes_check) {
      for (char c : content)
        sealed += static_cast<char>(seal.Encrypt(static_cast<std::uint8_t>(c)));
      break;
    }
  }
  const std::string fields = Le(0x0001, 2) + Le(0, 2) + Le(kDosTime, 2) + Le(kDosDate, 2) +
                             Le(crc, 4) + Le(static_cast<std::uint32_t>(sealed.size()), 4) +
                             Le(static_cast<std::uint32_t>(content.size()), 4) +
                             Le(static_cast<std::uint32_t>(name.size()), 2) + Le(0, 2);
  const std::string local = Le(0x04034b50, 4) + Le(20, 2) + fields + name + sealed;
  const std::string central = Le(0x02014b50, 4) + Le(20, 2) + Le(20, 2) + fields + Le(0, 2) +
                              Le(0, 2) + Le(0, 2) + Le(0, 4) + Le(0, 4) + name;
  const std::string end = Le(0x06054b50, 4) + Le(0, 2) + Le(0, 2) + Le(1, 2) + Le(1, 2) +
                          Le(static_cast<std::uint32_t>(central.size()), 4) +
                          Le(static_cast<std::uint32_t>(local.size()), 4) + Le(0, 2);
  return local + central + end;
}

// What the one check byte of traditional encryption can and cannot refuse, on archives whose
// encryption header is chosen rather than left to chance. A wrong password that fails the
// check byte is refused at once; one that passes it is caught by the CRC and reported as the
// password, never as damage; on an empty entry nothing is left to catch it, so the entry
// extracts (empty, as it was).
TEST(Interop, TraditionalEncryptionChecks) {
  const std::string kPassword = "Op3n sesame";
  const std::string kWrong = "Op3n sesamE";
  struct Case {
    const char* why;
    std::string content;
    bool wrong_passes_check;
    bool wrong_refused;
  } const cases[] = {
      {"content, the check byte refuses", kContent, false, true},
      {"content, the check byte passes, the CRC refuses", kContent, true, true},
      {"one byte, the check byte passes, the CRC refuses", "x", true, true},
      {"empty, the check byte refuses", "", false, true},
      {"empty, the check byte passes: nothing can refuse", "", true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    ScratchFolder dir;
    MessageRecorder messages;
    std::string name = dir / "report_ContentSignature.trel";
    WriteBytes(name, TraditionalArchive("report_ContentSignature.txt", c.content, kPassword, kWrong,
                                        c.wrong_passes_check));
    ZipLogic zip;
    std::string output = name;
    std::string password = kPassword;
    ASSERT_TRUE(zip.UnZipFile(name, output, password)) << ::testing::PrintToString(messages.texts);
    EXPECT_EQ(ReadBytes(output), c.content);
    fs::remove_all(dir / "UnZip");

    output = name;
    std::string wrong = kWrong;
    const bool extracted = zip.UnZipFile(name, output, wrong);
    if (c.wrong_refused) {
      EXPECT_FALSE(extracted);
      EXPECT_EQ(zip.lLastResult(), 527);
      EXPECT_EQ(messages.texts, std::vector<std::string>{
                                    "The password does not match with the original password."});
      EXPECT_TRUE(Tree(dir / "UnZip").empty());
    } else {
      EXPECT_TRUE(extracted);
      EXPECT_EQ(ReadBytes(output), "");
    }
  }
}

}  // namespace
}  // namespace vellum
