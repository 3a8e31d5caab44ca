// vellum encrypt and decrypt on large texts: the text converted, encrypted, printed and read
// back in pieces comes back exactly, characters cut by a piece boundary included, and the
// memory of each command, measured in a child process, is a small multiple of the text the
// method takes (its UTF-16 form).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/run.h"
#include "library/crypto/codec.h"
#include "library/platform/error.h"
#include "library/platform/files.h"
#include "library/platform/text.h"
#include "tests/support/peak_memory.h"

namespace vellum::cli {
namespace {

namespace fs = std::filesystem;
constexpr std::size_t kMiB = std::size_t{1} << 20;
constexpr std::size_t kPiece = std::size_t{1} << 16;  // the command's conversion piece

class CryptText : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vellum-crypt-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    ::setenv("VELLUM_REGISTRY", (dir_ + "/registry.ini").c_str(), 1);
    ::unsetenv("VELLUM_PASSWORD");
    platform::WriteFileAtomic(dir_ + "/pw", "pass word");
    std::istringstream in;
    std::ostringstream out, err;
    ASSERT_EQ(cli::Run({"register", VELLUM_TEST_LIBRARY}, in, out, err), kOk) << err.str();
  }
  void TearDown() override {
    ::unsetenv("VELLUM_REGISTRY");
    fs::remove_all(dir_);
  }

  // Runs `command` with the password file on `input`; the exit code, output and errors.
  int Crypt(const std::string& command, std::istream& input, std::ostream& output,
            std::string* errors = nullptr) {
    std::ostringstream err;
    const int code = cli::Run({command, "--password-file", dir_ + "/pw"}, input, output, err);
    if (errors != nullptr) *errors = err.str();
    return code;
  }

  std::string dir_;
};

// A text of `size` bytes: ASCII with a character of `width` UTF-8 bytes placed so that it
// straddles each multiple of the piece size, in both the UTF-8 and the UTF-16 form.
std::string Straddling(std::size_t size, const std::string& character) {
  std::string text;
  while (text.size() < size) {
    const std::size_t next_boundary = (text.size() / kPiece + 1) * kPiece;
    text.append(next_boundary - text.size() - 1, 'a' + static_cast<char>(text.size() % 26));
    text += character;  // starts one byte before the boundary
    text += "\r\n";
  }
  return text;
}

// Texts whose characters are cut by the command's pieces: two, three and four UTF-8 bytes
// (the last a surrogate pair in UTF-16), across many pieces, cut in the UTF-8 and the UTF-16
// form.
TEST_F(CryptText, TextsOverManyPiecesComeBackExactly) {
  struct Case {
    const char* why;
    std::string text;
  } cases[] = {
      {"one character", "x"},
      {"two-byte characters at every boundary", Straddling(5 * kPiece + 3, "\xC3\xBC")},
      {"three-byte characters at every boundary", Straddling(4 * kPiece, "\xE2\x82\xAC")},
      {"surrogate pairs at every boundary", Straddling(6 * kPiece + 11, "\xF0\x9F\x98\x80")},
      {"surrogate pairs cut by the UTF-16 pieces",
       [] {
         std::string s = "a";  // shifts every pair by one unit
         for (int i = 0; i < 70000; ++i) s += "\xF0\x9F\x98\x80";
         return s;
       }()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    std::istringstream plain(c.text);
    std::ostringstream encrypted;
    ASSERT_EQ(Crypt("encrypt", plain, encrypted), kOk);
    // The printed text is the message in exactly the Base64 layout written everywhere.
    std::string base64 = encrypted.str();
    ASSERT_FALSE(base64.empty());
    ASSERT_EQ(base64.back(), '\n');
    base64.pop_back();
    EXPECT_EQ(crypto::EncodeBase64Lines(crypto::DecodeMessage(base64, hr::kNotSignedMessage)),
              base64);

    std::istringstream message(encrypted.str());
    std::ostringstream decrypted;
    std::string errors;
    ASSERT_EQ(Crypt("decrypt", message, decrypted, &errors), kOk) << errors;
    EXPECT_TRUE(decrypted.str() == c.text) << "the text came back changed";
  }
}

// A message damaged late (past the first pieces) is refused, and nothing of it is printed.
// The damage flips a bit of the padding: the cipher (CBC) has no integrity of its own, but a
// flipped bit in the second last block flips the same bit of the last plain block, whose
// padding then cannot hold.
TEST_F(CryptText, DamageFarIntoTheMessageIsRefusedWithNothingPrinted) {
  std::istringstream plain(Straddling(3 * kPiece, "\xC3\xBC"));
  std::ostringstream encrypted;
  ASSERT_EQ(Crypt("encrypt", plain, encrypted), kOk);
  Bytes der = crypto::DecodeMessage(encrypted.str(), hr::kNotSignedMessage);
  der[der.size() - 17] ^= 1;  // the cipher text ends the message
  std::istringstream damaged(crypto::EncodeBase64Lines(der));
  std::ostringstream decrypted;
  std::string errors;
  EXPECT_EQ(Crypt("decrypt", damaged, decrypted, &errors), kFailed);
  EXPECT_TRUE(decrypted.str().empty());
  EXPECT_NE(errors.find("Encrypted File might have changed"), std::string::npos) << errors;
}

// The peak of a command run in this (child) process from file to file, less the peak before;
// exits 0 when under `limit`, 1 (saying how much) when not, 2 when the command failed.
[[noreturn]] void RunUnder(std::size_t limit, const std::string& command, const std::string& dir,
                           const std::string& from, const std::string& to) {
  vellum::testing::ExitWithPeakGrowth(limit, [&] {
    std::ifstream in(from, std::ios::binary);
    std::ofstream out(to, std::ios::binary | std::ios::trunc);
    std::ostringstream err;
    return Run({command, "--password-file", dir + "/pw"}, in, out, err) == kOk
               ? std::string()
               : command + ": " + err.str();
  });
}

// Each command holds at most four times the text its method takes, in UTF-16: encrypting, the
// text and the Base64 result (2.75 times as long); decrypting, the encrypted text and the
// plain bytes. Anything held whole a second time shows.
TEST_F(CryptText, MemoryIsASmallMultipleOfTheText) {
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "the address sanitizer's shadow and quarantine make resident sizes meaningless";
#endif
  GTEST_FLAG_SET(death_test_style, "fast");
  const std::size_t size = 16 * kMiB;
  {
    std::ofstream text(dir_ + "/text.txt", std::ios::binary);
    const std::string line =
        "The quick brown fox jumps over the lazy dog, 0123456789 times.\r\n";  // 64 bytes
    for (std::size_t done = 0; done < size; done += line.size()) text << line;
  }
  EXPECT_EXIT(RunUnder(4 * 2 * size, "encrypt", dir_, dir_ + "/text.txt", dir_ + "/text.enc"),
              ::testing::ExitedWithCode(0), "");
  const std::size_t encrypted = fs::file_size(dir_ + "/text.enc");
  ASSERT_GT(encrypted, 2 * size);
  EXPECT_EXIT(RunUnder(4 * 2 * encrypted, "decrypt", dir_, dir_ + "/text.enc", dir_ + "/text.out"),
              ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(fs::file_size(dir_ + "/text.out"), size);
  EXPECT_EQ(std::system(("cmp -s " + dir_ + "/text.txt " + dir_ + "/text.out").c_str()), 0);
}

}  // namespace
}  // namespace vellum::cli
