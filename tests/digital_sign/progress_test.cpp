// The host's progress hook on real operations: signing and verifying a file report its reading,
// ZipFile its compression and UnZipFile its extraction, each from 0 up to the file's size in
// growing steps of at least a per cent, ending at the total.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>

#include "library/com/client.h"
#include "library/com/variant.h"
#include "library/digital_sign/digital_sign.h"
#include "library/platform/hooks.h"
#include "library/zip/zip_logic.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_pki.h"

namespace vellum {
namespace {

using com::Variant;

struct Report {
  unsigned long long done, total;
};

// Every report, by operation, as the host received them.
struct Listener {
  std::map<std::string, std::vector<Report>> heard;
  static void Hear(void* context, const char* operation, unsigned long long done,
                   unsigned long long total) {
    static_cast<Listener*>(context)->heard[operation].push_back({done, total});
  }
};

// The reports of `operation` about a total of `total`, one run after the other (a file may be
// read more than once): each run starts at 0, grows by whole per cents and ends at the total.
// Returns the number of runs.
int CheckRuns(const std::vector<Report>& reports, unsigned long long total) {
  int runs = 0;
  std::optional<Report> last;
  for (const Report& r : reports) {
    if (r.total != total) continue;  // another, smaller file of the same call
    if (!last || last->done == total) {
      EXPECT_EQ(r.done, 0u) << "a run starts at 0";
      ++runs;
    } else {
      EXPECT_GT(r.done, last->done);
      EXPECT_GT(r.done * 100 / total, last->done * 100 / total) << "more often than 1 %";
    }
    last = r;
  }
  EXPECT_TRUE(last && last->done == total) << "the last run ends at the total";
  return runs;
}

class Progress : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::PutInStore("My", pki_.signer);
    ASSERT_EQ(factory_.CreateInstance(nullptr, IID__DigitalSign, sign_.out()), com::S_OK);
    VellumHostHooks hooks{};
    hooks.struct_size = sizeof hooks;
    hooks.context = &listener_;
    hooks.progress = &Listener::Hear;
    ASSERT_EQ(platform::SetHostHooks(&hooks), 0);
    input_ = tmp_.File("big.dat");
    std::ofstream out(input_, std::ios::binary);
    std::mt19937 engine(3);
    for (std::size_t i = 0; i < kSize; ++i) out.put(static_cast<char>(engine() & 0xFF));
  }
  void TearDown() override { platform::SetHostHooks(nullptr); }

  bool Sign() {
    Variant name = Variant::Text(input_), sep = Variant::Bool(true), bin = Variant::Bool(true),
            store = Variant::Text(""), suffix = Variant::Text(""), message = Variant::Text(""),
            user = Variant::Text(""), password = Variant::Text(""), encrypt = Variant::Bool(false),
            person = Variant::Text(""), mail = Variant::Text(""), company = Variant::Text(""),
            hash_alg = Variant::Long(4), enc_alg = Variant::Long(4), result;
    EXPECT_EQ(
        sign_->SignFile(name.value(), sep.get(), bin.get(), store.get(), suffix.get(),
                        message.get(), user.get(), password.get(), encrypt.get(), person.get(),
                        mail.get(), company.get(), hash_alg.get(), enc_alg.get(), result.get()),
        com::S_OK);
    return result.value().boolVal == com::VARIANT_TRUE;
  }

  bool Verify() {
    Variant fingerprint = Variant::Text(tmp_.File("big_DSignature.txt")), sep = Variant::Bool(true),
            bin = Variant::Bool(true), details, name = Variant::Text(input_),
            verify_err = Variant::Text(""), open = Variant::Bool(false), user = Variant::Text(""),
            password = Variant::Text(""), decrypt = Variant::Bool(false),
            hash_alg = Variant::Long(4), enc_alg = Variant::Long(4), trim = Variant::Text("");
    VARIANT_BOOL ok = com::VARIANT_FALSE;
    EXPECT_EQ(sign_->VerifyFile(fingerprint.get(), sep.get(), bin.get(), details.get(), name.get(),
                                verify_err.get(), open.get(), user.get(), password.get(),
                                decrypt.get(), hash_alg.get(), enc_alg.get(), trim.get(), &ok),
              com::S_OK);
    return ok == com::VARIANT_TRUE;
  }

  static constexpr std::size_t kSize = 3 * (std::size_t{1} << 20) + 7;  // many reads
  testing::TempFolder tmp_;
  testing::ScopedStoreRoot stores_{tmp_.File("stores")};
  testing::TestPki pki_ = testing::TestPki::Make();
  com::ClassFactory<DigitalSign> factory_;
  com::ComPtr<_DigitalSign> sign_;
  Listener listener_;
  std::string input_;
};

TEST_F(Progress, SigningAndVerifyingReportTheirReading) {
  ASSERT_TRUE(Sign());
  EXPECT_GE(CheckRuns(listener_.heard["Reading"], kSize), 1);
  EXPECT_EQ(listener_.heard.size(), 1u) << "only reading is reported";
  listener_.heard.clear();
  ASSERT_TRUE(Verify());
  EXPECT_GE(CheckRuns(listener_.heard["Reading"], kSize), 1);
}

TEST_F(Progress, ZipFileAndUnZipFileReportTheirWork) {
  std::string in = input_, archive = tmp_.File("big.zip"), password = "pw";
  ZipLogic zip;
  ASSERT_TRUE(zip.ZipFile(in, archive, password));
  EXPECT_EQ(CheckRuns(listener_.heard["Compressing"], kSize), 1);
  listener_.heard.clear();
  std::string name = archive, out = archive;
  ASSERT_TRUE(zip.UnZipFile(name, out, password));
  EXPECT_EQ(CheckRuns(listener_.heard["Extracting"], kSize), 1);
}

// Without a progress hook the same calls succeed and nothing is heard.
TEST_F(Progress, WithoutTheHookNothingIsReported) {
  platform::SetHostHooks(nullptr);
  ASSERT_TRUE(Sign());
  ASSERT_TRUE(Verify());
  std::string in = input_, archive = tmp_.File("big.zip"), password = "pw";
  ASSERT_TRUE(ZipLogic().ZipFile(in, archive, password));
  EXPECT_TRUE(listener_.heard.empty());
}

}  // namespace
}  // namespace vellum
