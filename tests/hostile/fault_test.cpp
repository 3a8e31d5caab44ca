// Faults of the file system under the public methods: a file removed between the existence
// check and the read, a disk that fills while a file is written, and a target whose folder is
// a regular file. The old file stays whole, no temporary file stays behind, and each method
// answers with its own text. Tests run as root, so permission bits cannot stand in for these.
#include <filesystem>
#include <functional>

#include "library/archive/archive.h"
#include "library/com/bstr.h"
#include "library/com/client.h"
#include "library/com/object.h"
#include "library/zip/zip.h"
#include "tests/hostile/hostile_fixture.h"
#include "tests/hostile/io_faults.h"

namespace vellum::hostile {
namespace {

namespace fs = std::filesystem;

const Bytes kStanding = "the file already standing here";
const std::string kFileAccess =
    "File specified to sign can't accessed or any other file access problem occured" + kCrLf +
    "Desc.";

std::string Start(const std::string& text, std::size_t size) {
  return text.substr(0, size);
}

class FaultTest : public HostileTest {
 protected:
  faults::Reset reset_;
};

// ---- A file removed between the existence check and the read ---------------------------------

// Error 53 rather than 504: the file was there when it was looked for. Each road names it in
// its own text, and nothing is written.
TEST_F(FaultTest, FileRemovedBetweenCheckAndRead) {
  const std::string detached = Sign(Put("d/a.txt", "detached data"), true, false);
  const std::string attached = Sign(Put("c/b.txt", "attached data"), false, false);
  Put("c/b.txt", kStanding);
  const std::string packed = SignZip(Put("p/z.txt", "packed data"), false, "pw");
  fs::remove(W("p/z_ContentSignature.txt"));

  struct Case {
    const char* why;
    std::string vanishing;
    std::function<bool(std::string*)> call;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"VerifyFile, the attached signature file", attached,
       [&](std::string* text) {
         VerifyCall c(attached);
         const bool ok = c.File();
         *text = c.Message();
         return ok;
       },
       "Signature File Not Found " + kCrLf + "Or Can't Be Accessed for Original file : x"},
      {"VerifyFile, the detached original", W("d/a.txt"),
       [&](std::string* text) {
         VerifyCall c(detached, true);
         c.original = com::Variant::Text(W("d/a.txt"));
         const bool ok = c.File();
         *text = c.Message();
         return ok;
       },
       "Original File Not Found Or Can't BE Accessed" + kCrLf + "Desc.File: " + W("d/a.txt") +
           " not found."},
      {"VerifyNSEFile, the signed file", W("d/a.txt"),
       [&](std::string* text) {
         VerifyCall c(detached, true);
         c.original = com::Variant::Text(W("d/a.txt"));
         const bool ok = c.Nse();
         *text = c.Message();
         return ok;
       },
       "Original File Not Found Or Can't BE Accessed" + kCrLf + "Desc.File: " + W("d/a.txt") +
           " not found."},
      {"VerifyZipFile, the extracted signature file", W("p/UnZip/z_ContentSignature.txt"),
       [&](std::string* text) {
         VerifyCall c(packed);
         c.Credentials("ann", "pw", true);
         const bool ok = c.Zip();
         *text = c.Message();
         return ok;
       },
       "Signature File Not Found " + kCrLf + "Or Can't Be Accessed for Original file : x"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    const std::string keep = fs::exists(c.vanishing) ? testing::ReadFile(c.vanishing) : "";
    Everything before = All();
    before.work.erase(fs::relative(c.vanishing, Work()).string());
    faults::RemoveBeforeOpen(c.vanishing);
    std::string text;
    EXPECT_FALSE(c.call(&text));
    EXPECT_EQ(faults::RemovedCount(), 1) << "the file was removed right before its open";
    EXPECT_EQ(text, c.expected);
    Everything after = All();
    after.work.erase("p/UnZip/");
    before.work.erase("p/UnZip/");
    EXPECT_TRUE(after == before) << Difference(before, after);
    if (!keep.empty()) testing::WriteFile(c.vanishing, keep);
  }

  // Signing: the input itself vanishes; no signature file is written.
  const std::string input = Put("s/c.txt", "to sign");
  Everything before = All();
  before.work.erase("s/c.txt");
  faults::RemoveBeforeOpen(input);
  std::string message;
  EXPECT_FALSE(CallSign(input, false, false, &message));
  EXPECT_EQ(faults::RemovedCount(), 1);
  EXPECT_EQ(message, kFileAccess + "File: " + input + " not found.");
  const Everything after = All();
  EXPECT_TRUE(after == before) << Difference(before, after);
}

// ---- A file that changes while it is signed ---------------------------------------------------

// The input grows right after it was opened for reading: whatever was signed is no longer the
// file. Every layout refuses with the component's text and writes no signature.
TEST_F(FaultTest, FileChangingWhileSignedIsRefused) {
  const std::string changed = " Problem incurred during 'Signing'" + kCrLf +
                              "Description: " + kCrLf +
                              "The content changed while it was being signed.";
  for (bool detached : {true, false})
    for (bool binary : {true, false}) {
      const std::string why =
          std::string(detached ? "detached" : "attached") + (binary ? " binary" : " text");
      SCOPED_TRACE(why);
      const std::string input =
          Put("c/" + std::string(binary ? "b" : "t") + (detached ? "d" : "a") + ".txt",
              "the data as it was when signing began");
      faults::ChangeAfterOpen(input, " and more written meanwhile");
      const Everything before = All();
      std::string message;
      EXPECT_FALSE(CallSign(input, detached, binary, &message));
      EXPECT_EQ(message, changed);
      Everything after = All();
      after.work.erase("c/" + fs::path(input).filename().string());
      Everything expected = before;
      expected.work.erase("c/" + fs::path(input).filename().string());
      EXPECT_TRUE(after == expected) << Difference(expected, after);
    }
}

// An attached signature is read twice, once for its framing and once for its content: one that
// grows between the two readings (or while the second one runs) is refused as a signature that
// does not hold, and nothing is restored.
TEST_F(FaultTest, SignatureChangingBetweenItsReadingsRestoresNothing) {
  for (bool binary : {true, false}) {
    SCOPED_TRACE(binary ? "binary" : "text");
    const std::string folder = binary ? "v/b/" : "v/t/";
    const std::string input = Put(folder + "a.dat", Bytes(300000, 'q'));
    const std::string signature = Sign(input, false, binary);
    ASSERT_FALSE(signature.empty());
    fs::remove(input);
    // What a Base64 file would decode to bytes of, and a binary file would take as more DER.
    faults::ChangeAfterOpen(signature, "QUFB", 1);
    const Everything before = All();
    VerifyCall c(signature, false, binary);
    EXPECT_FALSE(c.File());
    EXPECT_EQ(c.Message(), "Signature or Certificate is not valid. ");
    Everything after = All();
    after.work.erase(folder + "a_ContentSignature.txt");
    Everything expected = before;
    expected.work.erase(folder + "a_ContentSignature.txt");
    EXPECT_TRUE(after == expected) << Difference(expected, after);
  }
}

// ---- A disk that fills while a file is written ------------------------------------------------

// Each road writes onto a disk with 100 bytes left: the write fails part way, the file that
// stood there keeps its bytes, and no temporary file is left beside it.
TEST_F(FaultTest, DiskFillsWhileWriting) {
  const Bytes big(200 * 1024, 'x');
  // An attached binary signature of a large file, restored over a standing file.
  const std::string attached = Sign(Put("r/a.bin", big), false, true);
  Put("r/a.bin", kStanding);
  // A signature file that signing would replace.
  const std::string input = Put("s/b.txt", big);
  const std::string old_signature = Put("s/b_ContentSignature.txt", kStanding);
  // A packed signature to extract.
  const std::string packed = SignZip(Put("p/z.bin", big), true, "pw");
  fs::remove(W("p/z_ContentSignature.txt"));
  fs::remove(W("p/z.bin"));

  struct Case {
    const char* why;
    std::string disk;  // folder of the full disk
    std::function<bool(std::string*)> call;
    std::string expected_start;
  };
  const std::vector<Case> cases = {
      {"VerifyFile restoring the content", W("r"),
       [&](std::string* text) {
         VerifyCall c(attached, false, true);
         const bool ok = c.File();
         *text = c.Message();
         return ok;
       },
       "Can't create/write File: " + W("r/a.bin") + ". " + kCrLf + "Reason: Disk full"},
      {"SignFile writing the signature file", W("s"),
       [&](std::string* text) { return CallSign(input, false, false, text); },
       "Digital Signature created can't be put into file : " + kCrLf + old_signature + kCrLf},
      {"VerifyZipFile extracting the archive", W("p"),
       [&](std::string* text) {
         VerifyCall c(packed, false, true);
         c.Credentials("ann", "pw", true);
         const bool ok = c.Zip();
         *text = c.Message();
         return ok;
       },
       kCantUnzip},
  };
  TakeBoxes();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    Everything before = All();
    faults::FillDiskUnder(c.disk, 100);
    std::string text;
    EXPECT_FALSE(c.call(&text));
    EXPECT_GT(faults::RefusedBytes(), 0u) << "the disk really filled";
    faults::FillDiskUnder("", 0);
    EXPECT_EQ(Start(text, c.expected_start.size()), c.expected_start) << text;
    if (c.expected_start != kCantUnzip) {
      EXPECT_NE(text.find("Disk full"), std::string::npos) << text;
    }
    Everything after = All();
    after.work.erase("p/UnZip/");
    EXPECT_TRUE(after == before) << Difference(before, after);
  }
  // The archive component says why in the Zip class's box.
  const std::vector<std::string> boxes = TakeBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  const std::string not_written = archive::ResultText(archive::kFolderNotWritten);
  EXPECT_EQ(Start(boxes[0], not_written.size()), not_written);

  // Once there is room again, the same calls go through: the failure left nothing in the way.
  VerifyCall again(attached, false, true);
  EXPECT_TRUE(again.File()) << again.Message();
  EXPECT_EQ(testing::ReadFile(W("r/a.bin")), big);
}

// SignZipFile's compressed copy on a full disk: the signature file is written (it fits), the
// archive does not, and an older archive keeps its bytes.
TEST_F(FaultTest, DiskFillsWhileCompressing) {
  const std::string input = Put("z/c.bin", Bytes(64 * 1024, 'y'));
  const std::string old_archive = Put("z/c_ContentSignature.trel", kStanding);
  // Room for the signature file, not for the archive after it.
  std::string text;
  const std::string signature_size_probe = Sign(input, false, true);
  const std::size_t signature_size = fs::file_size(signature_size_probe);
  fs::remove(signature_size_probe);
  const Everything before = All();
  TakeBoxes();
  faults::FillDiskUnder(W("z"), signature_size + 16);
  EXPECT_FALSE(CallSign(input, false, true, &text, "ann", "pw", true, true));
  EXPECT_GT(faults::RefusedBytes(), 0u);
  faults::FillDiskUnder("", 0);
  EXPECT_EQ(text, "Can't Compress the File.");
  const std::vector<std::string> boxes = TakeBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  const std::string not_written = archive::ResultText(archive::kArchiveNotWritten);
  EXPECT_EQ(Start(boxes[0], not_written.size()), not_written);
  EXPECT_EQ(testing::ReadFile(old_archive), kStanding);
  Everything after = All();
  after.work.erase("z/c_ContentSignature.txt");  // written before the archive was attempted
  EXPECT_TRUE(after == before) << Difference(before, after);
}

// ---- A target whose folder is a regular file --------------------------------------------------

// The packed road: the restored file's folder (the temporary folder, when no original name is
// given) is a regular file, and so is the place of the archive to write.
TEST_F(FaultTest, TargetFolderIsAFile) {
  const std::string packed = SignZip(Put("p/z.txt", "packed data"), false, "pw");
  fs::remove(W("p/z_ContentSignature.txt"));
  const std::string file_as_folder = Put("plain", kStanding);
  {
    testing::ScopedEnv tmpdir("TMPDIR", file_as_folder);
    VerifyCall c(packed);
    c.Credentials("ann", "pw", true);
    c.original = com::Variant::Text("");
    EXPECT_FALSE(c.Zip());
    const std::string expected =
        "Can't create/write File: " + file_as_folder + "/z.txt. " + kCrLf + "Reason: ";
    EXPECT_EQ(Start(c.Message(), expected.size()), expected);
  }
  EXPECT_EQ(testing::ReadFile(file_as_folder), kStanding);

  // A regular file where the UnZip folder goes: not a folder this system made, so it is left
  // alone and the extraction fails.
  fs::remove_all(W("p/UnZip"));  // left by the failed verification above, as it should be
  Put("p/UnZip", kStanding);
  TakeBoxes();
  {
    const Everything before = All();
    VerifyCall c(packed);
    c.Credentials("ann", "pw", true);
    EXPECT_FALSE(c.Zip());
    EXPECT_EQ(c.Message(), kCantUnzip);
    const std::vector<std::string> boxes = TakeBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    const std::string foreign = archive::ResultText(archive::kForeignFolder);
    EXPECT_EQ(Start(boxes[0], foreign.size()), foreign);
    const Everything after = All();
    EXPECT_TRUE(after == before) << Difference(before, after);
  }

  com::ClassFactory<vellum::Zip> factory;
  com::ComPtr<_Zip> zip;
  ASSERT_EQ(factory.CreateInstance(nullptr, IID__Zip, zip.out()), com::S_OK);
  TakeBoxes();
  const Everything before = All();
  com::Bstr in(W("p/z.txt")), out(file_as_folder + "/z.trel"), pw("pw");
  VARIANT_BOOL ok = 7;
  ASSERT_EQ(zip->ZipFile(in.Address(), out.Address(), pw.Address(), &ok), com::S_OK);
  EXPECT_EQ(ok, com::VARIANT_FALSE);
  const std::vector<std::string> boxes = TakeBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  const std::string not_written = archive::ResultText(archive::kArchiveNotWritten);
  EXPECT_EQ(Start(boxes[0], not_written.size()), not_written);
  const Everything after = All();
  EXPECT_TRUE(after == before) << Difference(before, after);
}

}  // namespace
}  // namespace vellum::hostile
