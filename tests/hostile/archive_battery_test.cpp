// Hostile packed signatures through VerifyZipFile and the Zip class's UnZipFile: entries that
// would leave the UnZip folder ("..", absolute names, links), a compression bomb far past
// 10,000:1, a wrong password, an encryption method nobody can read, damaged archives, and
// signatures inside good archives whose name trailer does not parse. Each fails with its own
// text, writes nothing outside the UnZip folder, and leaves every standing file whole.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "library/archive/archive.h"
#include "library/com/bstr.h"
#include "library/com/client.h"
#include "library/com/object.h"
#include "library/crypto/signed_data.h"
#include "library/zip/zip.h"
#include "tests/archive/archive_test_util.h"
#include "tests/hostile/hostile_fixture.h"

namespace vellum::hostile {
namespace {

namespace fs = std::filesystem;
using archive::ResultText;
using archive::testing::EntrySpec;
using archive::testing::MakeZip;

const std::string kPassword = "pack-pw";
const std::string kMismatch = "The password does not match with the original password.";
const std::string kBadTrailer =
    "Your File is verified. But filename content is not saved in required format to create "
    "original file.";
const Bytes kStanding = "the file already standing here";

// Everything except the UnZip folder, which extraction may create and must leave empty.
Everything WithoutEmptyUnZip(Everything all) {
  for (auto it = all.work.begin(); it != all.work.end();) {
    if (it->first == "pack/UnZip/")
      it = all.work.erase(it);
    else
      ++it;
  }
  return all;
}

class ArchiveBattery : public HostileTest {
 protected:
  void SetUp() override {
    HostileTest::SetUp();
    // Where a ".." entry or a restored file would land, and a standing signature file.
    Put("pack/evil.txt", kStanding);
    Put("pack/a.txt", kStanding);
    Put("pack/a_ContentSignature.txt", kStanding);
    Put("outside.txt", kStanding);
  }

  // VerifyZipFile on `archive` with user "ann" and `password`.
  VerifyCall Verify(const std::string& archive, const std::string& password = kPassword,
                    bool binary = true) {
    VerifyCall call(archive, false, binary);
    call.Credentials("ann", password, true);
    EXPECT_FALSE(call.Zip());
    return call;
  }

  // UnZipFile through the Zip class's vtable; returns its result and the path it wrote back.
  bool UnZip(const std::string& archive, const std::string& password, std::string* output) {
    com::ClassFactory<vellum::Zip> factory;
    com::ComPtr<_Zip> zip;
    EXPECT_EQ(factory.CreateInstance(nullptr, IID__Zip, zip.out()), com::S_OK);
    com::Bstr name(archive), out(archive), pw(password);
    VARIANT_BOOL ok = 7;
    EXPECT_EQ(zip->UnZipFile(name.Address(), out.Address(), pw.Address(), &ok), com::S_OK);
    *output = out.Utf8();
    return ok == com::VARIANT_TRUE;
  }
};

// A deflated run of zeros listed `copies` times by the central directory: a few kilobytes
// that claim `copies` times 8 MiB.
Bytes OverlappingBomb(const std::string& scratch, int copies) {
  using namespace archive::testing;
  MakeZip(scratch, {{"b00", std::string(8 << 20, '\0')}});
  const Bytes one = ReadBytes(scratch);
  const Layout at = FirstEntryLayout(one);
  const Bytes local = one.substr(0, at.central);
  const Bytes record = one.substr(at.central, at.end_of_central - at.central);
  Bytes central;
  for (int i = 0; i < copies; ++i) {
    Bytes r = record;
    r.replace(46, 3, (i < 10 ? "b0" : "b") + std::to_string(i));
    central += r;
  }
  Bytes end = one.substr(at.end_of_central);
  PutLe16(end, 8, static_cast<std::uint16_t>(copies));
  PutLe16(end, 10, static_cast<std::uint16_t>(copies));
  PutLe32(end, 12, static_cast<std::uint32_t>(central.size()));
  PutLe32(end, 16, static_cast<std::uint32_t>(local.size()));
  fs::remove(scratch);
  return local + central + end;
}

TEST_F(ArchiveBattery, HostileArchivesAreRefusedWithTheirText) {
  const std::string absolute = "/tmp/vellum-hostile-absolute-" + std::to_string(::getpid());
  const std::string signature_entry = "a_ContentSignature.txt";
  const std::string genuine = SignZip(Put("src/a.txt", "signed content"), true, kPassword);
  fs::rename(genuine, W("pack/genuine.trel"));
  const std::string zipcrypto = W("pack/zipcrypto.trel");
  MakeZip(zipcrypto, {{signature_entry, "x", ZIP_EM_TRAD_PKWARE, kPassword}});

  struct Case {
    const char* why;
    std::string archive;  // file name in pack/
    std::int32_t code;
  };
  std::vector<Case> cases;
  auto make = [&](const char* why, const std::string& name, std::int32_t code,
                  const std::vector<EntrySpec>& entries) {
    MakeZip(W("pack/" + name), entries);
    cases.push_back({why, name, code});
  };
  // Names and links that would put a file outside the UnZip folder (design: refused whole).
  make("a parent-folder step", "dotdot.trel", archive::kUnsafeEntry,
       {{signature_entry, "s", ZIP_EM_AES_256, kPassword},
        {"../evil.txt", "owned", ZIP_EM_AES_256, kPassword}});
  make("an absolute name", "absolute.trel", archive::kUnsafeEntry,
       {{signature_entry, "s", ZIP_EM_AES_256, kPassword},
        {absolute, "owned", ZIP_EM_AES_256, kPassword}});
  make("a link in the signature's place", "link.trel", archive::kUnsafeEntry,
       {{signature_entry, "../outside.txt", ZIP_EM_AES_256, kPassword, S_IFLNK | 0777}});
  make("a link, then a file through it", "linkdir.trel", archive::kUnsafeEntry,
       {{"d", "..", ZIP_EM_NONE, "", S_IFLNK | 0777}, {"d/evil.txt", "owned"}});
  // A genuine signature rewrapped without encryption would open under any password: with a
  // password given, every entry must be encrypted under it.
  make("a genuine signature rewrapped without encryption", "plain.trel", archive::kNotEncrypted,
       {{signature_entry, testing::ReadFile(W("src/a_ContentSignature.txt")), ZIP_EM_NONE, ""}});
  // The extraction size bound: far past 10,000:1, refused before anything is written.
  const Bytes bomb = OverlappingBomb(W("scratch.zip"), 40);
  ASSERT_GT((std::uint64_t{8} << 20) * 40 / bomb.size(), 10000u);
  testing::WriteFile(W("pack/bomb.trel"), bomb);
  cases.push_back({"a 10,000:1 bomb", "bomb.trel", archive::kTooLarge});
  // Strong encryption (general purpose bit 6) names a method libzip cannot decode; reading
  // such an entry once leaked memory inside libzip.
  Bytes strong = testing::ReadFile(zipcrypto);
  const auto layout = archive::testing::FirstEntryLayout(strong);
  strong[6] = static_cast<char>(strong[6] | 0x40);
  strong[layout.central + 8] = static_cast<char>(strong[layout.central + 8] | 0x40);
  testing::WriteFile(W("pack/strong.trel"), strong);
  cases.push_back({"an encryption method nobody reads", "strong.trel", archive::kUnsupported});
  // Damage: an empty file, a cut archive, a text file under an archive's name.
  Put("pack/empty.trel", "");
  cases.push_back({"an empty file", "empty.trel", archive::kNotAnArchive});
  Put("pack/cut.trel", testing::ReadFile(W("pack/genuine.trel")).substr(0, 100));
  cases.push_back({"an archive cut short", "cut.trel", archive::kNotAnArchive});
  Put("pack/text.trel", "PK but not really an archive\r\n");
  cases.push_back({"a text", "text.trel", archive::kNotAnArchive});

  TakeBoxes();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    const Everything before = All();
    VerifyCall call = Verify(W("pack/" + c.archive));
    EXPECT_EQ(call.Message(), kCantUnzip);
    std::vector<std::string> boxes = TakeBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].substr(0, ResultText(c.code).size()), ResultText(c.code)) << boxes[0];

    std::string output;
    EXPECT_FALSE(UnZip(W("pack/" + c.archive), kPassword, &output));
    EXPECT_EQ(output, W("pack/" + c.archive)) << "written back only on success";
    EXPECT_EQ(TakeBoxes(), boxes) << "the same text straight from the Zip class";

    const Everything after = WithoutEmptyUnZip(All());
    EXPECT_TRUE(after == before) << Difference(before, after);
    EXPECT_FALSE(fs::exists(absolute));
    EXPECT_TRUE(!fs::exists(W("pack/UnZip")) || fs::is_empty(W("pack/UnZip")));
  }

  // A wrong password: the password text, and nothing extracted. Both kinds of encryption.
  for (const std::string archive : {"genuine.trel", "zipcrypto.trel"}) {
    SCOPED_TRACE(archive);
    const Everything before = All();
    VerifyCall call = Verify(W("pack/" + archive), "not-the-password");
    EXPECT_EQ(call.Message(), kCantUnzip);
    EXPECT_EQ(TakeBoxes(), std::vector<std::string>{kMismatch});
    const Everything after = WithoutEmptyUnZip(All());
    EXPECT_TRUE(after == before) << Difference(before, after);
  }
}

// A good archive holding a validly signed message whose name trailer does not parse: the
// signature checks out, but nothing is restored and the standing a.txt keeps its bytes. The
// extracted signature file stays in the UnZip folder, as after any failed verification.
TEST_F(ArchiveBattery, BadTrailersInsideAGoodArchive) {
  crypto::Signer signer;
  signer.SetCertificate(Pki().signer.ToCertificate());
  struct Case {
    const char* why;
    Bytes tail;
  } const cases[] = {
      {"no name at all", Units("00")},
      {"a length longer than the content", Units("a.txt99")},
      {"a negative length", Units("a.txt-1")},
      {"letters instead of digits", Units("a.txtxy")},
      {"one digit only", Units("a.txt5")},
      {"a parent-folder step", Units("../evil.txt11")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    crypto::SignedData signed_data;
    signed_data.SetContent(Bytes("data\0", 5) + c.tail);
    const std::string signature =
        Put("pack/t_ContentSignature.txt", signed_data.Sign(signer, false, crypto::kEncodeBinary));
    const archive::Result packed =
        archive::CompressFile(signature, W("pack/t_ContentSignature.trel"), kPassword);
    ASSERT_TRUE(packed.ok()) << packed.text;
    fs::remove(signature);
    fs::remove_all(W("pack/UnZip"));
    const Everything before = All();

    VerifyCall call = Verify(W("pack/t_ContentSignature.trel"));
    EXPECT_EQ(call.Message(), kBadTrailer);
    Everything after = All();
    EXPECT_EQ(after.work.erase("pack/UnZip/t_ContentSignature.txt"), 1u);
    after = WithoutEmptyUnZip(after);
    EXPECT_TRUE(after == before) << Difference(before, after);
  }
}

}  // namespace
}  // namespace vellum::hostile
