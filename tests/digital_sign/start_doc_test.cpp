// StartDoc's verdicts for each answer of the desktop shell, with the shell replaced so no
// program is ever started, and the private file operations as the vtable exposes them.
#include <gtest/gtest.h>

#include <filesystem>

#include "library/com/bstr.h"
#include "library/com/client.h"
#include "library/com/variant.h"
#include "library/digital_sign/digital_sign.h"
#include "library/platform/files.h"
#include "library/platform/shell_open.h"

namespace vellum {
namespace {

com::ComPtr<_DigitalSign> MakeDigitalSign() {
  com::ClassFactory<DigitalSign> factory;
  com::ComPtr<_DigitalSign> sign;
  EXPECT_EQ(factory.CreateInstance(nullptr, IID__DigitalSign, sign.out()), com::S_OK);
  return sign;
}

class StartDocTest : public ::testing::Test {
 protected:
  void TearDown() override { platform::SetShellOpenerForTesting(nullptr); }
  std::pair<bool, std::string> Open(const std::string& doc) {
    auto sign = MakeDigitalSign();
    com::Bstr name(doc);
    com::Bstr message("previous");
    VARIANT_BOOL opened = com::VARIANT_FALSE;
    EXPECT_EQ(sign->StartDoc(name.Address(), message.Address(), &opened), com::S_OK);
    return {opened == com::VARIANT_TRUE, message.Utf8()};
  }
};

TEST_F(StartDocTest, EachShellCodeGivesItsReason) {
  struct Case {
    int code;
    bool opened;
    std::string message;
  };
  const Case cases[] = {
      {42, true, " Opened file: /d/report.pdf"},
      {33, true, " Opened file: /d/report.pdf"},  // anything above 32 is success
      {2, false, "File not found"},
      {3, false, "Path not found"},
      {5, false, "Access denied"},
      {8, false, "Out of memory"},
      {11, false, "Invalid EXE file or error in EXE image"},
      {26, false, "A sharing violation occurred"},
      {27, false, "Incomplete or invalid file association"},
      {28, false, "DDE Time out"},
      {29, false, "DDE transaction failed"},
      {30, false, "DDE busy"},
      {31, false, "No association for file extension"},
      {32, false, "Verified file opening component not found. "},
      // The codes without a reason of their own, negative ones included.
      {0, false, "Unknown error"},
      {1, false, "Unknown error"},
      {4, false, "Unknown error"},
      {25, false, "Unknown error"},
      {-5, false, "Unknown error"},
  };
  for (const auto& c : cases) {
    std::string seen;
    platform::SetShellOpenerForTesting([&](const std::string& path) {
      seen = path;
      return c.code;
    });
    auto [opened, message] = Open("/d/report.pdf");
    EXPECT_EQ(opened, c.opened) << c.code;
    EXPECT_EQ(message, c.message) << c.code;
    EXPECT_EQ(seen, "/d/report.pdf");
  }
}

TEST_F(StartDocTest, RealShellReportsAMissingFileWithoutStartingAnything) {
  EXPECT_EQ(Open("/nonexistent-folder-vellum/x.txt"),
            std::make_pair(false, std::string("Path not found")));
  EXPECT_EQ(Open("/tmp/vellum-surely-missing-file.txt"),
            std::make_pair(false, std::string("File not found")));
}

// The private operations answer through HRESULTs: a run-time error comes back in the
// automation facility (0x800A0000 + number).
TEST(PrivateOperations, ReadAndWriteThroughTheVtable) {
  char pattern[] = "/tmp/vellum-private-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  const std::string dir = pattern;
  auto sign = MakeDigitalSign();

  com::Bstr name(dir + "/data.bin");
  com::Bstr data = com::Bstr::FromBytes(std::string("\x01\x02\x03", 3));
  VARIANT_BOOL ok = com::VARIANT_FALSE;
  ASSERT_EQ(sign->WriteWholeFile(name.Address(), data.Address(), com::VARIANT_TRUE, &ok),
            com::S_OK);
  EXPECT_EQ(ok, com::VARIANT_TRUE);

  com::Bstr content;
  com::Variant no_trim = com::Variant::Text("N");
  ASSERT_EQ(
      sign->ReadWholeFile(name.Address(), content.Address(), com::VARIANT_TRUE, no_trim.get(), &ok),
      com::S_OK);
  EXPECT_EQ(content.Bytes(), std::string("\x01\x02\x03\x00", 4));  // plus the reader's 0 byte

  com::Bstr missing(dir + "/missing.txt");
  EXPECT_EQ(sign->ReadWholeFile(missing.Address(), content.Address(), com::VARIANT_FALSE,
                                no_trim.get(), &ok),
            static_cast<com::HRESULT>(0x800A0000u + 504));
  EXPECT_EQ(ok, com::VARIANT_FALSE);
  // A missing trim flag cannot be compared with "Y".
  com::Variant missing_flag = com::Variant::Missing();
  EXPECT_EQ(sign->ReadWholeFile(name.Address(), content.Address(), com::VARIANT_TRUE,
                                missing_flag.get(), &ok),
            static_cast<com::HRESULT>(0x800A0000u + 13));
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace vellum
