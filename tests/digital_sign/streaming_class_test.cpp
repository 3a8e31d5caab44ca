// Large files through SignFile and VerifyFile: the round trip over many read pieces, and the
// memory of each layout measured in a child process (peak resident size before and after),
// so that a regression to holding the file shows as growth that follows the file.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "library/com/client.h"
#include "library/com/variant.h"
#include "library/digital_sign/digital_sign.h"
#include "library/platform/files.h"
#include "tests/support/peak_memory.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_pki.h"

namespace vellum {
namespace {

using com::Variant;

constexpr std::size_t kMiB = std::size_t{1} << 20;

// Written in pieces so that making the file does not itself raise the peak.
void MakeFile(const std::string& path, std::size_t size, bool text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::mt19937 engine(42);
  std::string piece(kMiB + 13, '\0');  // pieces repeat off the reader's boundaries
  for (char& c : piece)
    c = text ? static_cast<char>(' ' + engine() % 95) : static_cast<char>(engine() & 0xFF);
  for (std::size_t done = 0; done < size; done += piece.size())
    out.write(piece.data(), static_cast<std::streamsize>(std::min(piece.size(), size - done)));
  ASSERT_TRUE(out.good());
}

class LargeFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::PutInStore("My", pki_.signer);
    ASSERT_EQ(factory_.CreateInstance(nullptr, IID__DigitalSign, sign_.out()), com::S_OK);
  }

  // SignFile with the layout and encoding; the message on failure.
  std::string Sign(const std::string& input, bool detached, bool binary, bool encrypted = false) {
    Variant name = Variant::Text(input), sep = Variant::Bool(detached), bin = Variant::Bool(binary),
            store = Variant::Text(""), suffix = Variant::Text(""), message = Variant::Text(""),
            user = Variant::Text("ann"), password = Variant::Text("pw"),
            encrypt = Variant::Bool(encrypted), person = Variant::Text(""),
            mail = Variant::Text(""), company = Variant::Text(""), hash_alg = Variant::Long(4),
            enc_alg = Variant::Long(4), result;
    EXPECT_EQ(
        sign_->SignFile(name.value(), sep.get(), bin.get(), store.get(), suffix.get(),
                        message.get(), user.get(), password.get(), encrypt.get(), person.get(),
                        mail.get(), company.get(), hash_alg.get(), enc_alg.get(), result.get()),
        com::S_OK);
    return result.value().boolVal == com::VARIANT_TRUE ? "" : message.Utf8();
  }

  // VerifyFile; the message on failure.
  std::string Verify(const std::string& signature, const std::string& original, bool detached,
                     bool binary, bool encrypted = false) {
    Variant fingerprint = Variant::Text(signature), sep = Variant::Bool(detached),
            bin = Variant::Bool(binary), details, name = Variant::Text(original),
            verify_err = Variant::Text(""), open = Variant::Bool(false),
            user = Variant::Text("ann"), password = Variant::Text("pw"),
            decrypt = Variant::Bool(encrypted), hash_alg = Variant::Long(4),
            enc_alg = Variant::Long(4), trim = Variant::Text("");
    VARIANT_BOOL ok = com::VARIANT_FALSE;
    EXPECT_EQ(sign_->VerifyFile(fingerprint.get(), sep.get(), bin.get(), details.get(), name.get(),
                                verify_err.get(), open.get(), user.get(), password.get(),
                                decrypt.get(), hash_alg.get(), enc_alg.get(), trim.get(), &ok),
              com::S_OK);
    return ok == com::VARIANT_TRUE ? "" : verify_err.Utf8();
  }

  std::string Signature(bool detached) const {
    return tmp_.File(detached ? "big_DSignature.txt" : "big_ContentSignature.txt");
  }

  testing::TempFolder tmp_;
  testing::ScopedStoreRoot stores_{tmp_.File("stores")};
  testing::TestPki pki_ = testing::TestPki::Make();
  com::ClassFactory<DigitalSign> factory_;
  com::ComPtr<_DigitalSign> sign_;
};

// Every layout over a file of many read pieces and an odd size: the signature verifies, a
// changed byte far into the file is caught, and attached content comes back exactly.
TEST_F(LargeFiles, RoundTripOverManyPieces) {
  const std::string input = tmp_.File("big.dat");
  for (bool detached : {true, false})
    for (bool binary : {true, false}) {
      const std::string why =
          std::string(detached ? "detached" : "attached") + (binary ? " binary" : " text");
      MakeFile(input, 3 * kMiB + 7, !binary);
      const Bytes data = platform::ReadFileBytes(input);
      ASSERT_EQ(Sign(input, detached, binary), "") << why;
      if (!detached) std::filesystem::remove(input);
      EXPECT_EQ(Verify(Signature(detached), detached ? input : "x", detached, binary), "") << why;
      EXPECT_EQ(platform::ReadFileBytes(input), data) << why;
      if (detached) {
        Bytes changed = data;
        changed[2 * kMiB + 1] ^= 1;
        platform::WriteFileAtomic(input, changed);
        EXPECT_EQ(Verify(Signature(detached), input, detached, binary),
                  "Signature or Certificate is not valid. ")
            << why;
      }
    }
}

// Attached signing reads the file once and puts the message's head right at the end; around
// 64 KiB the head can come out another size than it was laid out, and the message is written
// again from a second reading. Every size on the way signs into a signature that verifies and
// gives the file back, in both encodings.
TEST_F(LargeFiles, AttachedSignaturesAroundALengthBoundary) {
  const std::string input = tmp_.File("edge.dat");
  for (std::size_t size = 65536 - 1700; size <= 65536; size += 23)
    for (bool binary : {true, false}) {
      const std::string why = "size " + std::to_string(size) + " binary " + std::to_string(binary);
      const std::size_t file_size = binary ? size : size / 2;  // text doubles in the message
      const Bytes data(file_size, binary ? '\xA7' : 'q');
      platform::WriteFileAtomic(input, data);
      ASSERT_EQ(Sign(input, false, binary), "") << why;
      std::filesystem::remove(input);
      ASSERT_EQ(Verify(tmp_.File("edge_ContentSignature.txt"), "x", false, binary), "") << why;
      EXPECT_EQ(platform::ReadFileBytes(input), data) << why;
    }
}

// An operation's memory does not follow the file: 64 MiB (128 MiB of text content) pass with
// growth far below the file's size. An attached signature is written as it is made, and read
// back through its framing without being held.
TEST_F(LargeFiles, MemoryDoesNotFollowTheFile) {
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "the address sanitizer's shadow and quarantine make resident sizes meaningless";
#endif
  // Forked children start with the peak at the parent's present size, so each operation is
  // measured on its own.
  GTEST_FLAG_SET(death_test_style, "fast");
  const std::size_t size = 64 * kMiB;
  const std::size_t bound = 20 * kMiB;
  const std::string input = tmp_.File("big.dat");
  for (bool binary : {true, false}) {
    MakeFile(input, size, !binary);
    EXPECT_EXIT(testing::ExitWithPeakGrowth(bound, [&] { return Sign(input, true, binary); }),
                ::testing::ExitedWithCode(0), "")
        << "detached signing, binary " << binary;
    ASSERT_EQ(Sign(input, true, binary), "");
    EXPECT_EXIT(testing::ExitWithPeakGrowth(
                    bound, [&] { return Verify(Signature(true), input, true, binary); }),
                ::testing::ExitedWithCode(0), "")
        << "detached verifying, binary " << binary;
  }
  MakeFile(input, size, false);
  EXPECT_EXIT(testing::ExitWithPeakGrowth(bound, [&] { return Sign(input, false, true); }),
              ::testing::ExitedWithCode(0), "")
      << "attached signing";
  ASSERT_EQ(Sign(input, false, true), "");
  EXPECT_EXIT(testing::ExitWithPeakGrowth(
                  bound, [&] { return Verify(Signature(false), "x", false, true); }),
              ::testing::ExitedWithCode(0), "")
      << "attached verifying";
}

// The attached and encrypted signature, the desk's default, is encrypted as it is written: a
// file three times the bound signs with the peak under it.
TEST_F(LargeFiles, EncryptedAttachedSigningStaysUnderTheBound) {
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "the address sanitizer's shadow and quarantine make resident sizes meaningless";
#endif
  GTEST_FLAG_SET(death_test_style, "fast");
  const std::size_t bound = 64 * kMiB;
  const std::string input = tmp_.File("big.dat");
  {
    // Sparse: made at once, read as zeros.
    std::ofstream out(input, std::ios::binary | std::ios::trunc);
  }
  std::filesystem::resize_file(input, 3 * bound + 5);
  EXPECT_EXIT(testing::ExitWithPeakGrowth(bound, [&] { return Sign(input, false, true, true); }),
              ::testing::ExitedWithCode(0), "")
      << "attached encrypted signing";
  std::filesystem::remove(input);
}

// Attached verifying, plain and encrypted, of files several times the bound: the peak stays under
// the bound, and the file the child restored is the signed one.
TEST_F(LargeFiles, AttachedVerifyingStaysUnderTheBound) {
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "the address sanitizer's shadow and quarantine make resident sizes meaningless";
#endif
  GTEST_FLAG_SET(death_test_style, "fast");
  const std::size_t bound = 64 * kMiB;
  const std::string input = tmp_.File("big.dat");
  struct Case {
    bool binary, encrypted;
    std::uintmax_t size;  // text content is twice the file: UTF-16LE
  } const cases[] = {
      {true, false, 3 * bound + 5}, {false, false, bound + 5}, {true, true, 2 * bound + 5}};
  for (const Case& c : cases) {
    // Sparse: made at once, read as zeros (text: a text of NUL characters, which round-trips).
    { std::ofstream out(input, std::ios::binary | std::ios::trunc); }
    std::filesystem::resize_file(input, c.size);
    ASSERT_EQ(Sign(input, false, c.binary, c.encrypted), "");
    std::filesystem::remove(input);
    EXPECT_EXIT(
        testing::ExitWithPeakGrowth(
            bound, [&] { return Verify(Signature(false), "x", false, c.binary, c.encrypted); }),
        ::testing::ExitedWithCode(0), "")
        << "attached verifying, binary " << c.binary << " encrypted " << c.encrypted;
    ASSERT_TRUE(std::filesystem::exists(input));
    EXPECT_EQ(std::filesystem::file_size(input), c.size);
    std::filesystem::remove(input);
    std::filesystem::remove(Signature(false));
  }
}

}  // namespace
}  // namespace vellum
