// The verify command against a scripted DigitalSign: the names it derives, the attempt
// sequences of both modes with the padding switch, the closing report, and the failure
// handler. Every case also checks the window's state afterwards.
#include <gtest/gtest.h>

#include <filesystem>

#include "library/platform/own_folders.h"
#include "tests/desk/desk_fakes.h"
#include "tests/support/temp_folder.h"
#include "vellum/types.h"

namespace vellum::desk {
namespace {

using testing::Box;
using testing::DeskFixture;
using testing::Info;
using testing::LibraryCall;
using testing::Plain;
using testing::Success;

using Sequence = std::vector<std::string>;

const QString kCertificate = QStringLiteral("CN=Ann Lee, O=Example Ltd, C=GB");

// A scripted answer: succeed with one certificate when `accept` says so.
auto SucceedWhen(std::function<bool(const LibraryCall&)> accept) {
  return [accept](const LibraryCall& call, VerifyResults& out) {
    if (!accept(call)) {
      out.VerifyErr = QStringLiteral("Signature or Certificate is not valid. ");
      return false;
    }
    out.VerifyErr = QStringLiteral("File: ") + call.in.sFingerprintFName;
    out.sArrVerifyingCertificateDetails = QStringList{kCertificate};
    if (!call.in.bContentAndSignatureInSeparateFiles)
      out.sOriginalFName = QStringLiteral("/restored/pay.txt");
    return true;
  };
}

QString SuccessReport(const char* lead, const QStringList& certificates) {
  QString text =
      QLatin1String(lead) + QStringLiteral("Details of the verifying cetificate(s) are:\r\n");
  for (int i = 0; i < certificates.size(); ++i)
    text += QStringLiteral("Verifying certificate no. %1\r\n").arg(i + 1) + certificates[i] +
            QStringLiteral("\r\n");
  return text;
}

class VerifyCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    desk.Load("/nonexistent-desk-folder");  // defaults: "Old", lengths 10
  }
  void Fill(const QString& path, bool content = false, int format = 0) {
    desk.FileBox()->setText(path);
    desk.UserId()->setText("ann");
    desk.Password()->setText("pw");
    desk.Format()->setCurrentIndex(format);
    desk.Check("chkAttachContent")->setChecked(content);
  }
  // After a completed run: file box, id and password empty; buttons usable again.
  void ExpectReset() {
    EXPECT_EQ(desk.FileBox()->text(), "");
    EXPECT_EQ(desk.UserId()->text(), "");
    EXPECT_EQ(desk.Password()->text(), "");
    EXPECT_TRUE(desk.ButtonsEnabled());
  }

  DeskFixture desk;
};

// Checks before anything runs: the library is never created.
TEST_F(VerifyCommandTest, RefusesEmptyBoxAndFolders) {
  struct {
    const char* text;
    const char* message;
  } cases[] = {
      {"", "No files selected for verification.......\r\nSelect valid file."},
      {"   ", "No files selected for verification.......\r\nSelect valid file."},
      {"/", "Please selected file, not folder for verification.......\r\nSelect valid file."},
      {"/data/In/  ",
       "Please selected file, not folder for verification.......\r\nSelect valid file."},
  };
  for (const auto& c : cases) {
    desk.ui.boxes.clear();
    Fill(c.text);
    desk.window.cmdVerify_Click();
    EXPECT_EQ(desk.ui.boxes, std::vector<Box>{Info(c.message)}) << c.text;
    EXPECT_EQ(desk.FileBox()->text(), "") << c.text;
    EXPECT_EQ(desk.UserId()->text(), "ann") << "id kept: " << c.text;
    EXPECT_TRUE(desk.ButtonsEnabled());
  }
  EXPECT_EQ(desk.script.objects_created, 0);
}

// The input checks end the run with everything kept.
TEST_F(VerifyCommandTest, InputChecksKeepTheWindow) {
  Fill("/in/pay.txt");
  desk.UserId()->setText("   ");
  desk.window.cmdVerify_Click();
  EXPECT_EQ(desk.ui.boxes, std::vector<Box>{Plain("Please enter valid UserID. ")});
  EXPECT_EQ(desk.FileBox()->text(), "/in/pay.txt");
  EXPECT_TRUE(desk.ButtonsEnabled());

  desk.ui.boxes.clear();
  Fill("/in/pay.txt");
  desk.Format()->setCurrentIndex(-1);
  desk.window.cmdVerify_Click();
  EXPECT_EQ(desk.ui.boxes, std::vector<Box>{Plain("Please enter valid Format")});
  EXPECT_EQ(desk.FileBox()->text(), "/in/pay.txt");
  EXPECT_EQ(desk.UserId()->text(), "ann");
  EXPECT_TRUE(desk.ButtonsEnabled());
  EXPECT_EQ(desk.script.objects_created, 0);
}

TEST_F(VerifyCommandTest, FolderChosenInThePickerIsRefused) {
  desk.module.bFolderSelected = true;
  Fill("/data/In");
  desk.window.cmdVerify_Click();
  EXPECT_EQ(
      desk.ui.boxes,
      std::vector<Box>{Info("You have selected the Folder to be verified. Please Select file. ")});
  ExpectReset();
  EXPECT_EQ(desk.script.objects_created, 0);
  EXPECT_TRUE(desk.module.bFolderSelected);  // only the picker clears it
}

// Separate-file mode: base + "_Signature." + extension, the last "." of the whole path.
TEST_F(VerifyCommandTest, SeparateModeNames) {
  struct {
    const char* path;
    const char* signature;
    const char* original;
  } cases[] = {
      {"/in/pay.txt", "/in/pay_Signature.txt", "/in/pay.txt"},
      {"/in/report.v2.pdf", "/in/report.v2_Signature.pdf", "/in/report.v2.pdf"},
      {"/In.old/pay", "/In_Signature.old/pay", "/In.old/pay"},
      // A file picked in the root arrives with a doubled separator.
      {"//pay.txt", "/pay_Signature.txt", "/pay.txt"},
      {"/in//sub//pay.txt", "/in/sub/pay_Signature.txt", "/in/sub/pay.txt"},
  };
  desk.script.verify = SucceedWhen([](const LibraryCall&) { return true; });
  for (const auto& c : cases) {
    desk.script.calls.clear();
    Fill(c.path, false, 1);
    desk.window.cmdVerify_Click();
    ASSERT_EQ(desk.script.calls.size(), 1u) << c.path;
    EXPECT_EQ(desk.script.calls[0].in.sFingerprintFName, c.signature) << c.path;
    EXPECT_EQ(desk.script.calls[0].seen.sOriginalFName, c.original) << c.path;
    EXPECT_TRUE(desk.script.calls[0].in.bContentAndSignatureInSeparateFiles);
  }
}

// The operator picked the detached signature instead of its document: when the signature of
// the signature does not exist, the signature and its document are verified as a pair.
TEST_F(VerifyCommandTest, PickedDetachedSignatureIsVerifiedWithItsDocument) {
  vellum::testing::TempFolder folder;
  const QString in = QString::fromStdString(folder.path());
  for (const char* name : {"pay.txt", "pay_Signature.txt", "memo", "memo_DSignature.txt", "two.a",
                           "two.b", "two_DSignature.txt", "lone_Signature.txt"})
    vellum::testing::WriteFile(folder.File(name), "x");
  struct {
    const char* picked;
    const char* signature;
    const char* document;
  } cases[] = {
      {"pay_Signature.txt", "pay_Signature.txt", "pay.txt"},
      {"pay.txt", "pay_Signature.txt", "pay.txt"},
      {"memo_DSignature.txt", "memo_DSignature.txt", "memo"},
      // Two documents could be meant, or none exists: the names are derived as always.
      {"two_DSignature.txt", "two_DSignature_Signature.txt", "two_DSignature.txt"},
      {"lone_Signature.txt", "lone_Signature_Signature.txt", "lone_Signature.txt"},
  };
  desk.script.verify = SucceedWhen([](const LibraryCall&) { return true; });
  for (const auto& c : cases) {
    desk.script.calls.clear();
    Fill(in + "/" + c.picked, false, 1);
    desk.window.cmdVerify_Click();
    ASSERT_EQ(desk.script.calls.size(), 1u) << c.picked;
    EXPECT_EQ(desk.script.calls[0].in.sFingerprintFName, in + "/" + c.signature) << c.picked;
    EXPECT_EQ(desk.script.calls[0].seen.sOriginalFName, in + "/" + c.document) << c.picked;
  }
}

TEST_F(VerifyCommandTest, PathWithoutDotInSeparateMode) {
  Fill("/in/pay");
  desk.window.cmdVerify_Click();
  EXPECT_EQ(desk.ui.boxes, std::vector<Box>{Info("Invalid Filename Format.")});
  ExpectReset();
  EXPECT_EQ(desk.script.objects_created, 0);
}

// Format "New" calls VerifyFile, "Old" VerifyZipFile with the box's encoding; the report names
// every certificate.
TEST_F(VerifyCommandTest, SeparateModeSuccessReport) {
  struct {
    int format;
    bool binary;
    Sequence sequence;
  } cases[] = {
      {1, false, {"VerifyFile"}},
      {0, false, {"VerifyZipFile(text)"}},
      {0, true, {"VerifyZipFile(binary)"}},
  };
  for (const auto& c : cases) {
    DeskFixture fresh;
    fresh.Load("/nonexistent-desk-folder");
    fresh.script.verify = [](const LibraryCall&, VerifyResults& out) {
      out.sArrVerifyingCertificateDetails = QStringList{"first", "second"};
      return true;
    };
    fresh.FileBox()->setText("/in/pay.txt");
    fresh.UserId()->setText("ann");
    fresh.Password()->setText("pw");
    fresh.Format()->setCurrentIndex(c.format);
    fresh.Check("chkBinary")->setChecked(c.binary);
    fresh.window.cmdVerify_Click();
    EXPECT_EQ(fresh.script.Sequence(), c.sequence);
    EXPECT_EQ(fresh.ui.boxes,
              std::vector<Box>{Success(SuccessReport("File verified. ", {"first", "second"}))});
    const LibraryCall& call = fresh.script.calls.at(0);
    EXPECT_EQ(call.in.bBinaryEncoding, c.binary);
    EXPECT_EQ(call.in.sUseriD, "ann*******");
    EXPECT_EQ(call.in.sPassword, "pw********");
    EXPECT_EQ(call.in.bOpenFileAfterVerifyContentSign, 0);
    EXPECT_FALSE(call.in.bDecryptFile);
    EXPECT_EQ(fresh.script.objects_created, 1);
    EXPECT_EQ(fresh.FileBox()->text(), "");
    EXPECT_TRUE(fresh.ButtonsEnabled());
  }
}

// A signature made with 20-character padding while the setting is 10: the first attempt fails,
// the second (switched to 20) succeeds, and the next run starts at 20.
TEST_F(VerifyCommandTest, PaddingSwitchFindsTheOtherLength) {
  desk.script.verify =
      SucceedWhen([](const LibraryCall& call) { return call.in.sUseriD.size() == 20; });
  Fill("/in/pay.txt", false, 1);
  desk.window.cmdVerify_Click();
  ASSERT_EQ(desk.script.calls.size(), 2u);
  EXPECT_EQ(desk.script.calls[0].in.sUseriD, "ann*******");
  EXPECT_EQ(desk.script.calls[1].in.sUseriD, "ann*****************");
  EXPECT_EQ(desk.script.calls[1].in.sPassword, "pw******************");
  // The second call sees what the first left behind.
  EXPECT_EQ(desk.script.calls[1].seen.VerifyErr, "Signature or Certificate is not valid. ");
  EXPECT_EQ(desk.ui.boxes,
            std::vector<Box>{Success(SuccessReport("File verified. ", {kCertificate}))});
  EXPECT_EQ(desk.module.sClient, "20");
  EXPECT_EQ(desk.module.sPass, "20");

  desk.script.calls.clear();
  Fill("/in/pay.txt", false, 1);
  desk.window.cmdVerify_Click();
  ASSERT_EQ(desk.script.calls.size(), 1u);
  EXPECT_EQ(desk.script.calls[0].in.sUseriD, "ann*****************");
}

// Only sClient is tested: any other length leaves both as they are, so there is one padding
// to try and each call is made once.
TEST_F(VerifyCommandTest, PaddingSwitchOnlyBetweenTenAndTwenty) {
  desk.module.sClient = "12";
  desk.module.sPass = "10";
  Fill("/in/pay.txt", false, 1);
  desk.window.cmdVerify_Click();
  ASSERT_EQ(desk.script.calls.size(), 1u);
  EXPECT_EQ(desk.script.calls[0].in.sUseriD.size(), 12);
  EXPECT_EQ(desk.module.sClient, "12");
  EXPECT_EQ(desk.module.sPass, "10");
}

// A failed verification in separate mode: the library's reason, then the failed report step's
// description; no "Successful" box; the window is reset and the padding is as before.
TEST_F(VerifyCommandTest, FailedVerificationInSeparateMode) {
  Fill("/in/pay.txt", false, 1);
  desk.window.cmdVerify_Click();
  EXPECT_EQ(desk.script.Sequence(), (Sequence{"VerifyFile", "VerifyFile"}));
  EXPECT_EQ(desk.script.calls[0].in.sUseriD.size(), 10);
  EXPECT_EQ(desk.script.calls[1].in.sUseriD.size(), 20);
  EXPECT_EQ(desk.ui.boxes, (std::vector<Box>{Info("Signature or Certificate is not valid. "),
                                             Info("Type mismatch")}));
  ExpectReset();
  EXPECT_EQ(desk.module.sClient, "10");
  EXPECT_EQ(desk.module.sPass, "10");
}

// Whatever padding an earlier run left, and whatever the format and mode, each run tries
// every method the format calls for at both paddings, the current one first, and no call
// twice at the same padding.
TEST_F(VerifyCommandTest, EveryMethodAtBothPaddingsWhateverTheLastRunLeft) {
  struct {
    const char* name;
    int format;
    bool content;
    bool binary;
    std::vector<std::pair<std::string, int>> calls;  // method and padding, in order
  } cases[] = {
      {"separate New", 1, false, false, {{"VerifyFile", 10}, {"VerifyFile", 20}}},
      {"separate Old",
       0,
       false,
       true,
       {{"VerifyZipFile(binary)", 10}, {"VerifyZipFile(binary)", 20}}},
      {"content Old, text",
       0,
       true,
       false,
       {{"VerifyFile", 10},
        {"VerifyZipFile(text)", 20},
        {"VerifyFile", 20},
        {"VerifyZipFile(text)", 10}}},
      {"content New, text",
       1,
       true,
       false,
       {{"VerifyZipFile(text)", 10},
        {"VerifyFile", 20},
        {"VerifyZipFile(text)", 20},
        {"VerifyFile", 10}}},
      {"content Old, binary",
       0,
       true,
       true,
       {{"VerifyFile", 10},
        {"VerifyZipFile(text)", 20},
        {"VerifyZipFile(binary)", 20},
        {"VerifyFile", 20},
        {"VerifyZipFile(text)", 10},
        {"VerifyZipFile(binary)", 10}}},
      {"content New, binary",
       1,
       true,
       true,
       {{"VerifyZipFile(text)", 10},
        {"VerifyZipFile(binary)", 10},
        {"VerifyFile", 20},
        {"VerifyZipFile(text)", 20},
        {"VerifyZipFile(binary)", 20},
        {"VerifyFile", 10}}},
  };
  for (const auto& c : cases) {
    for (const char* start : {"10", "20"}) {
      DeskFixture fresh;
      fresh.Load("/nonexistent-desk-folder");
      fresh.module.sClient = fresh.module.sPass = start;
      fresh.FileBox()->setText("/in/pay_ContentSignature.txt");
      fresh.UserId()->setText("ann");
      fresh.Password()->setText("pw");
      fresh.Format()->setCurrentIndex(c.format);
      fresh.Check("chkAttachContent")->setChecked(c.content);
      fresh.Check("chkBinary")->setChecked(c.binary);
      fresh.window.cmdVerify_Click();
      std::vector<std::pair<std::string, int>> got;
      const std::vector<std::string> methods = fresh.script.Sequence();
      for (std::size_t i = 0; i < methods.size(); ++i) {
        const LibraryCall& call = fresh.script.calls[i];
        EXPECT_EQ(call.in.sUseriD.size(), call.in.sPassword.size()) << c.name;
        got.emplace_back(methods[i], static_cast<int>(call.in.sPassword.size()));
      }
      auto expected = c.calls;
      if (std::string(start) == "20")
        for (auto& [method, padding] : expected) padding = padding == 10 ? 20 : 10;
      EXPECT_EQ(got, expected) << c.name << ", starting at " << start;
      EXPECT_EQ(fresh.module.sClient, start) << "a failed run keeps its padding: " << c.name;
    }
  }
}

// The padding that verified the file stays for the next run.
TEST_F(VerifyCommandTest, PaddingThatVerifiedStays) {
  desk.script.verify =
      SucceedWhen([](const LibraryCall& call) { return call.in.sPassword.size() == 20; });
  Fill("/in/pay_ContentSignature.txt", true, 0);
  desk.window.cmdVerify_Click();
  EXPECT_EQ(desk.script.Sequence(), (Sequence{"VerifyFile", "VerifyZipFile(text)"}));
  EXPECT_EQ(desk.module.sClient, "20");
  desk.script.calls.clear();
  Fill("/in/pay_ContentSignature.txt", true, 0);
  desk.window.cmdVerify_Click();
  ASSERT_EQ(desk.script.calls.size(), 1u);
  EXPECT_EQ(desk.script.calls[0].in.sPassword.size(), 20);
}

// Content mode: every call gets the selected file as the signature, the content-inside flag
// and the encryption box; a failure shows only the library's reason (no stage-0 message for
// the failed report step).
TEST_F(VerifyCommandTest, ContentModeFailure) {
  for (int format : {0, 1}) {
    DeskFixture fresh;
    fresh.Load("/nonexistent-desk-folder");
    fresh.FileBox()->setText("/in/pay_ContentSignature.txt");
    fresh.UserId()->setText("ann");
    fresh.Password()->setText("pw");
    fresh.Format()->setCurrentIndex(format);
    fresh.Check("chkAttachContent")->setChecked(true);
    fresh.Check("chkBinary")->setChecked(true);
    fresh.window.cmdVerify_Click();
    ASSERT_FALSE(fresh.script.calls.empty());
    for (const LibraryCall& call : fresh.script.calls) {
      EXPECT_EQ(call.in.sFingerprintFName, "/in/pay_ContentSignature.txt");
      EXPECT_FALSE(call.in.bContentAndSignatureInSeparateFiles);
      EXPECT_TRUE(call.in.bDecryptFile);  // the encryption box follows the content box
    }
    EXPECT_EQ(fresh.script.calls.at(0).seen.sOriginalFName, "");
    EXPECT_EQ(fresh.ui.boxes, std::vector<Box>{Info("Signature or Certificate is not valid. ")});
    EXPECT_EQ(fresh.FileBox()->text(), "");
    EXPECT_TRUE(fresh.ButtonsEnabled());
  }
}

TEST_F(VerifyCommandTest, ContentModeSuccessOnTheLastAttempt) {
  int calls = 0;
  desk.script.verify = [&calls](const LibraryCall& call, VerifyResults& out) {
    if (++calls < 6) return false;
    return SucceedWhen([](const LibraryCall&) { return true; })(call, out);
  };
  Fill("/in/pay_ContentSignature.txt", true, 0);
  desk.Check("chkOpenFileAfterVerifySign")->setChecked(true);
  desk.Check("chkBinary")->setChecked(true);
  desk.window.cmdVerify_Click();
  ASSERT_EQ(desk.script.calls.size(), 7u);  // six verifications and the opening
  EXPECT_EQ(desk.script.calls[5].in.bOpenFileAfterVerifyContentSign, 1);
  EXPECT_EQ(desk.script.calls[6].method, "StartDoc");
  EXPECT_EQ(desk.script.calls[6].in.sFingerprintFName, "/restored/pay.txt");
  // The report as defined, and under it the restored file with its folder to open.
  Box report = Success(SuccessReport("File verified.  ", {kCertificate}));
  report.notes = QStringList{"Restored file: /restored/pay.txt"};
  report.folder = "/restored";
  EXPECT_EQ(desk.ui.boxes, std::vector<Box>{report});
  ExpectReset();
}

TEST_F(VerifyCommandTest, OpeningFailureShowsTheReason) {
  desk.script.verify = SucceedWhen([](const LibraryCall&) { return true; });
  desk.script.start_doc = [](const QString&, QString& error) {
    error = QStringLiteral("No association for file extension");
    return false;
  };
  Fill("/in/pay.txt", false, 1);
  desk.Check("chkOpenFileAfterVerifySign")->setChecked(true);
  desk.window.cmdVerify_Click();
  EXPECT_EQ(desk.script.calls.back().in.sFingerprintFName, "/in/pay.txt");
  EXPECT_EQ(desk.ui.boxes,
            (std::vector<Box>{Success(SuccessReport("File verified. ", {kCertificate})),
                              Info("No association for file extension")}));
  ExpectReset();
}

// The trust answer: a warning line after the details for a signer that is not trusted; with
// `trust = require` an "Info Message." box naming the reason instead, and nothing opened.
TEST_F(VerifyCommandTest, TrustWarningsAndRequiredTrust) {
  const QString reason = QStringLiteral("self-signed, and in no set of trust anchors");
  desk.script.verify = [&reason](const LibraryCall& call, VerifyResults& out) {
    const bool ok = SucceedWhen([](const LibraryCall&) { return true; })(call, out);
    out.sTrustReport = QStringLiteral(
                           "{\"signers\":[{\"subject\":\"CN=Big Bank\",\"trust\":\"untrusted\","
                           "\"reason\":\"%1\"}]}")
                           .arg(reason);
    return ok;
  };
  const QString warning = QStringLiteral("Warning: signer 1 (CN=Big Bank) is untrusted: ") + reason;
  Fill("/in/pay.txt", false, 1);
  desk.window.cmdVerify_Click();
  EXPECT_EQ(desk.ui.boxes,
            std::vector<Box>{Success(SuccessReport("File verified. ", {kCertificate}) + warning +
                                     QStringLiteral("\r\n"))});
  ExpectReset();

  desk.ui.boxes.clear();
  desk.script.calls.clear();
  desk.module.bRequireTrust = true;
  Fill("/in/pay.txt", false, 1);
  desk.Check("chkOpenFileAfterVerifySign")->setChecked(true);
  desk.window.cmdVerify_Click();
  EXPECT_EQ(desk.ui.boxes,
            std::vector<Box>{Info(QStringLiteral("The signature is valid, but signer 1 (CN=Big "
                                                 "Bank) is untrusted: ") +
                                  reason)});
  EXPECT_EQ(desk.script.Sequence(), Sequence{"VerifyFile"}) << "no StartDoc";
  ExpectReset();
}

// The library cannot be created or a call fails outright: reported in both modes, never a
// crash, and the window is usable again.
TEST_F(VerifyCommandTest, LibraryFailuresAreReported) {
  const QString not_registered = CreationFailureText(com::REGDB_E_CLASSNOTREG);
  for (bool content : {false, true}) {
    DeskFixture fresh;
    fresh.Load("/nonexistent-desk-folder");
    fresh.script.creation_failure = com::REGDB_E_CLASSNOTREG;
    fresh.FileBox()->setText("/in/pay.txt");
    fresh.UserId()->setText("ann");
    fresh.Password()->setText("pw");
    fresh.Check("chkAttachContent")->setChecked(content);
    fresh.window.cmdVerify_Click();
    EXPECT_EQ(fresh.ui.boxes, std::vector<Box>{Info(not_registered)}) << content;
    EXPECT_EQ(fresh.FileBox()->text(), "");
    EXPECT_EQ(fresh.UserId()->text(), "");
    EXPECT_TRUE(fresh.ButtonsEnabled());
  }
  EXPECT_TRUE(not_registered.startsWith("Class not registered (0x80040154)"));

  desk.script.verify = [](const LibraryCall&, VerifyResults&) -> bool {
    throw Error::Component(static_cast<std::int32_t>(0x8000FFFF), "The library call failed.");
  };
  Fill("/in/pay.txt");
  desk.window.cmdVerify_Click();
  EXPECT_EQ(desk.ui.boxes, std::vector<Box>{Info("The library call failed.")});
  ExpectReset();
}

// "File not found" keeps the file box so the operator can correct the path.
TEST_F(VerifyCommandTest, FileNotFoundKeepsTheFileBox) {
  desk.script.verify = [](const LibraryCall&, VerifyResults&) -> bool {
    throw Error::Runtime(rt::kFileNotFound, "File not found");
  };
  Fill("/in/pay.txt");
  desk.window.cmdVerify_Click();
  EXPECT_EQ(desk.ui.boxes, std::vector<Box>{Info("File not found")});
  EXPECT_EQ(desk.FileBox()->text(), "/in/pay.txt");
  EXPECT_EQ(desk.UserId()->text(), "");
  EXPECT_TRUE(desk.ButtonsEnabled());
}

// The UnZip folder beside the file goes after the report, and on the failure path too; the
// rest of the folder stays. Only a folder the library made goes: one the operator made (no
// mark) stays with everything in it.
TEST_F(VerifyCommandTest, UnzipFolderRemovedOnBothPaths) {
  for (bool marked : {true, false}) {
    for (bool succeed : {true, false}) {
      SCOPED_TRACE(std::string(marked ? "library's folder" : "operator's folder") +
                   (succeed ? ", success" : ", failure"));
      vellum::testing::TempFolder folder;
      const std::string unzip = folder.File("UnZip");
      std::filesystem::create_directories(unzip + "/deep");
      if (marked) vellum::testing::WriteFile(unzip + "/" + platform::kOwnFolderMark, "");
      vellum::testing::WriteFile(unzip + "/deep/pay_ContentSignature.txt", "x");
      vellum::testing::WriteFile(folder.File("pay.trel"), "archive");
      desk.script.verify = SucceedWhen([succeed](const LibraryCall&) { return succeed; });
      desk.ui.boxes.clear();
      Fill(QString::fromStdString(folder.File("pay.trel")), false, 0);
      desk.window.cmdVerify_Click();
      EXPECT_EQ(desk.window.sUnzipFolder(), QString::fromStdString(unzip));
      EXPECT_EQ(std::filesystem::exists(unzip + "/deep/pay_ContentSignature.txt"), !marked);
      const std::vector<std::string> left = marked ? std::vector<std::string>{"pay.trel"}
                                                   : std::vector<std::string>{"UnZip", "pay.trel"};
      EXPECT_EQ(folder.List(), left);
      EXPECT_EQ(desk.ui.boxes.size(), succeed ? 1u : 2u);
    }
  }
}

}  // namespace
}  // namespace vellum::desk
