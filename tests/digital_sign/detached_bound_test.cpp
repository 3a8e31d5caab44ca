// A detached signature file is read with a bound: it holds certificates and a signature, not
// content, so one past the bound is refused at the reading stage without being read, by
// VerifyFile and VerifyNSEFile alike. The files here are sparse: their size costs nothing.
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "tests/digital_sign/signing_fixture.h"

namespace vellum::signing_test {
namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;
constexpr std::uint64_t kBound = 16 * kMiB;  // as the README states it

// The reading stage's text.
std::string Unreadable(const std::string& original) {
  return "Signature File Not Found " + kCrLf +
         "Or Can't Be Accessed for Original file : " + original;
}

class DetachedBound : public SigningTest {
 protected:
  // A signature file of `size` bytes: a real signature of `input`, then zero bytes up to the
  // size (a hole: nothing is written).
  std::string PaddedSignature(const std::string& input, std::uint64_t size) {
    const std::string signature = Sign(input, true);
    EXPECT_FALSE(signature.empty());
    fs::resize_file(signature, size);
    return signature;
  }
};

// At the bound the file is read whole and verifies (readers accept zero bytes after a
// message); one byte past it, or far past it, the read is refused with the reading stage's
// text, by VerifyFile and VerifyNSEFile alike.
TEST_F(DetachedBound, SignatureFilesPastTheBoundAreRefusedAtTheReadingStage) {
  struct Case {
    const char* why;
    std::uint64_t size;
    bool refused;
  } cases[] = {
      {"at the bound: read and verified", kBound, false},
      {"one byte past the bound", kBound + 1, true},
      {"a sparse terabyte", std::uint64_t{1} << 40, true},
  };
  const std::string input = Put("a.txt", "data");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    const std::string signature = PaddedSignature(input, c.size);
    VerifyCall verify(signature);
    verify.original = com::Variant::Text(input);
    VerifyCall nse(signature);
    nse.original = com::Variant::Text(input);
    EXPECT_EQ(CallVerifyFile(verify), !c.refused) << verify.Message();
    EXPECT_EQ(CallVerifyNSEFile(nse), !c.refused) << nse.Message();
    if (c.refused) {
      EXPECT_EQ(verify.Message(), Unreadable(input));
      EXPECT_EQ(nse.Message(), Unreadable(input));
    }
    fs::remove(signature);
  }
}

// In a child: limits the address space to what the process has plus `headroom`, verifies,
// and exits 0 when the call failed with the reading stage's text.
[[noreturn]] void VerifyUnderMemoryLimit(const std::string& signature, const std::string& input,
                                         std::uint64_t headroom) {
  std::ifstream status("/proc/self/status");
  std::uint64_t size = 0;
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmSize:", 0) == 0) size = std::stoull(line.substr(7)) * 1024;
  const rlimit limit{size + headroom, size + headroom};
  if (size == 0 || ::setrlimit(RLIMIT_AS, &limit) != 0) std::_Exit(3);
  VerifyCall verify(signature);
  verify.original = com::Variant::Text(input);
  const bool ok = CallVerifyFile(verify);
  std::_Exit(!ok && verify.Message() == Unreadable(input) ? 0 : 1);
}

// Refusing costs no reading: with the process unable to hold even the bound's worth of memory
// more than it has, a sparse gigabyte is still refused with the reading stage's text (a read
// of it whole would fail to allocate, as a crash or another text).
TEST_F(DetachedBound, ARefusedSignatureIsNotRead) {
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "the address sanitizer reserves address space that a limit would refuse";
#endif
  GTEST_FLAG_SET(death_test_style, "fast");
  const std::string input = Put("a.txt", "data");
  const std::string signature = PaddedSignature(input, std::uint64_t{1} << 30);
  EXPECT_EXIT(VerifyUnderMemoryLimit(signature, input, 256 * kMiB), ::testing::ExitedWithCode(0),
              "");
}

}  // namespace
}  // namespace vellum::signing_test
