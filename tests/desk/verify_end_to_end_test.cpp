// The verify command against the real library, created through the registry by CLSID, on
// files signed in the tests. Boxes are recorded, never shown.
#include <gtest/gtest.h>

#include <QPushButton>
#include <QRegularExpression>
#include <algorithm>
#include <filesystem>

#include "desk/frm_select.h"
#include "tests/desk/desk_fakes.h"
#include "tests/desk/library_fixture.h"
#include "tests/support/test_tsa.h"

namespace vellum::desk {
namespace {

using testing::Box;
using testing::FakeUi;
using testing::Info;
using testing::Padded;
using testing::RecordingFactory;
using testing::RegisteredLibrary;
using testing::SignRequest;

const std::string kData = "Amount: 100.00\r\nPayee: Example Ltd\r\n";
const QString kHeading = QStringLiteral("Details of the verifying cetificate(s) are:\r\n");

class VerifyEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window.Form_Load(QString::fromStdString(library.File("no-config-here")));
    vellum::testing::WriteFile(library.File("pay.txt"), kData);
  }

  void Fill(const std::string& path, int format, bool content = false) {
    Control<QLineEdit>("lblOriginalFName")->setText(QString::fromStdString(path));
    Control<QLineEdit>("txtUserId")->setText("ann");
    Control<QLineEdit>("txtPassword")->setText("pw");
    Control<QComboBox>("cboFormat")->setCurrentIndex(format);
    Control<QCheckBox>("chkAttachContent")->setChecked(content);
  }
  void Verify() { QTest::mouseClick(Control<QPushButton>("cmdVerify"), Qt::LeftButton); }

  template <class T>
  T* Control(const char* name) {
    return window.findChild<T*>(QLatin1String(name));
  }
  std::vector<std::string> Methods() const {
    std::vector<std::string> out;
    for (const auto& call : recorder.calls) out.push_back(call.method.toStdString());
    return out;
  }
  // The closing report: the lead, the heading, and one numbered entry naming the signer.
  void ExpectReport(const Box& box, const char* lead) {
    EXPECT_EQ(box.caption, "Successful");
    EXPECT_EQ(box.icon, DeskUi::Icon::kInformation);
    const QString start = QLatin1String(lead) + kHeading + "Verifying certificate no. 1\r\n";
    EXPECT_TRUE(box.text.startsWith(start)) << box.text.toStdString();
    EXPECT_TRUE(box.text.contains("Ann Lee")) << box.text.toStdString();
    EXPECT_TRUE(box.text.endsWith("\r\n"));
    EXPECT_FALSE(box.text.contains("Verifying certificate no. 2"));
  }
  void ExpectReset() {
    EXPECT_EQ(Control<QLineEdit>("lblOriginalFName")->text(), "");
    EXPECT_EQ(Control<QLineEdit>("txtUserId")->text(), "");
    EXPECT_EQ(Control<QLineEdit>("txtPassword")->text(), "");
    EXPECT_TRUE(Control<QPushButton>("cmdVerify")->isEnabled());
  }

  RegisteredLibrary library;
  FakeUi ui;
  VellumModule module{ui, [] { return QStringList{"/"}; }};
  ComDigitalSignFactory real{ui};
  RecordingFactory recorder{[this] { return real.Create(); }};
  frmVerify window{module, recorder.Factory()};
};

TEST_F(VerifyEndToEndTest, SeparateModeFindsTheSignatureName) {
  ASSERT_FALSE(library
                   .Sign({.input = library.File("pay.txt"),
                          .user = Padded("ann", 10),
                          .password = Padded("pw", 10),
                          .suffix = "_Signature.txt"})
                   .empty());
  Fill(library.File("pay.txt"), 1);
  Verify();
  EXPECT_EQ(Methods(), std::vector<std::string>{"VerifyFile"});
  EXPECT_EQ(recorder.calls[0].in.sFingerprintFName,
            QString::fromStdString(library.File("pay_Signature.txt")));
  ASSERT_EQ(ui.boxes.size(), 1u);
  ExpectReport(ui.boxes[0], "File verified. ");
  ExpectReset();
  EXPECT_EQ(vellum::testing::ReadFile(library.File("pay.txt")), kData);
}

// Every library call keeps the desk busy until it returns, and the reading of the signed
// file is reported while it is: from 0 up to the file's size.
TEST_F(VerifyEndToEndTest, TheDeskIsBusyWhileTheLibraryWorks) {
  ASSERT_FALSE(library
                   .Sign({.input = library.File("pay.txt"),
                          .user = Padded("ann", 10),
                          .password = Padded("pw", 10),
                          .suffix = "_Signature.txt"})
                   .empty());
  Fill(library.File("pay.txt"), 1);
  Verify();
  ASSERT_EQ(Methods(), std::vector<std::string>{"VerifyFile"});
  ASSERT_GE(ui.events.size(), 2u);
  EXPECT_EQ(ui.events.front(), "busy");
  EXPECT_EQ(ui.events.back(), "idle");
  EXPECT_EQ(std::count(ui.events.begin(), ui.events.end(), "busy"), 1);
  const std::string size = std::to_string(kData.size());
  const auto start = std::find(ui.events.begin(), ui.events.end(), "Reading 0/" + size);
  const auto end = std::find(ui.events.begin(), ui.events.end(), "Reading " + size + "/" + size);
  EXPECT_NE(start, ui.events.end()) << ::testing::PrintToString(ui.events);
  EXPECT_NE(end, ui.events.end()) << ::testing::PrintToString(ui.events);
  EXPECT_LT(start, end);
  ASSERT_EQ(ui.boxes.size(), 1u);
  ExpectReport(ui.boxes[0], "File verified. ");
}

TEST_F(VerifyEndToEndTest, ContentModeRestoresTheEncryptedContent) {
  ASSERT_FALSE(library
                   .Sign({.input = library.File("pay.txt"),
                          .detached = false,
                          .user = Padded("ann", 10),
                          .password = Padded("pw", 10),
                          .encrypt = true,
                          .suffix = ""})
                   .empty());
  std::filesystem::remove(library.File("pay.txt"));
  Fill(library.File("pay_ContentSignature.txt"), 0, true);
  EXPECT_TRUE(Control<QCheckBox>("chkDecrypt")->isChecked());
  Verify();
  EXPECT_EQ(Methods(), std::vector<std::string>{"VerifyFile"});
  ASSERT_EQ(ui.boxes.size(), 1u);
  ExpectReport(ui.boxes[0], "File verified.  ");
  // Without an output folder the library restores into its temporary folder.
  EXPECT_EQ(vellum::testing::ReadFile(library.TempFile("pay.txt")), kData);
  ExpectReset();
}

// Signed with 20-character padding while the desk pads to 10: the first attempt fails, the
// second succeeds, and the next run starts at 20.
TEST_F(VerifyEndToEndTest, TwentyCharacterPaddingFoundOnTheSecondAttempt) {
  ASSERT_FALSE(library
                   .Sign({.input = library.File("pay.txt"),
                          .user = Padded("ann", 20),
                          .password = Padded("pw", 20),
                          .suffix = "_Signature.txt"})
                   .empty());
  Fill(library.File("pay.txt"), 1);
  Verify();
  ASSERT_EQ(Methods(), (std::vector<std::string>{"VerifyFile", "VerifyFile"}));
  EXPECT_EQ(recorder.calls[0].in.sUseriD.size(), 10);
  EXPECT_EQ(recorder.calls[1].in.sUseriD.size(), 20);
  ASSERT_EQ(ui.boxes.size(), 1u);
  ExpectReport(ui.boxes[0], "File verified. ");
  EXPECT_EQ(module.sClient, "20");
  EXPECT_EQ(module.sPass, "20");

  recorder.calls.clear();
  ui.boxes.clear();
  Fill(library.File("pay.txt"), 1);
  Verify();
  EXPECT_EQ(Methods(), std::vector<std::string>{"VerifyFile"});
  ASSERT_EQ(ui.boxes.size(), 1u);
  ExpectReport(ui.boxes[0], "File verified. ");
}

// A changed file: the library's reason, then the failed report step; nothing written.
TEST_F(VerifyEndToEndTest, FailedVerificationMessageSequence) {
  ASSERT_FALSE(library
                   .Sign({.input = library.File("pay.txt"),
                          .user = Padded("ann", 10),
                          .password = Padded("pw", 10),
                          .suffix = "_Signature.txt"})
                   .empty());
  vellum::testing::WriteFile(library.File("pay.txt"), "Amount: 900.00\r\nPayee: Example Ltd\r\n");
  Fill(library.File("pay.txt"), 1);
  Verify();
  // Once at each padding.
  EXPECT_EQ(Methods(), (std::vector<std::string>{"VerifyFile", "VerifyFile"}));
  EXPECT_EQ(ui.boxes, (std::vector<Box>{Info("Signature or Certificate is not valid. "),
                                        Info("Type mismatch")}));
  ExpectReset();
  const auto listing = [this] {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(library.folder()))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }();
  EXPECT_EQ(listing, (std::vector<std::string>{"pay.txt", "pay_Signature.txt"}));
}

TEST_F(VerifyEndToEndTest, PickerReturningAFolderIsRefused) {
  module.sDrive = "/";
  module.sFolder = QString::fromStdString(library.folder());
  Control<QLineEdit>("lblOriginalFName")->setText(QString::fromStdString(library.folder()));
  ui.on_modal = [](QDialog& picker) {
    QTest::mouseClick(picker.findChild<QPushButton*>("cmdOk"), Qt::LeftButton);
  };
  window.cmdSelectOriginalFile_Click();
  EXPECT_EQ(Control<QLineEdit>("lblOriginalFName")->text(),
            QString::fromStdString(library.folder()));
  Control<QLineEdit>("txtUserId")->setText("ann");
  Control<QLineEdit>("txtPassword")->setText("pw");
  Verify();
  EXPECT_EQ(
      ui.boxes,
      std::vector<Box>{Info("You have selected the Folder to be verified. Please Select file. ")});
  EXPECT_TRUE(recorder.calls.empty());
  ExpectReset();
}

TEST_F(VerifyEndToEndTest, PathWithoutDotInSeparateMode) {
  vellum::testing::WriteFile(library.File("payroll"), kData);
  // Relative to the files' folder: the rule reads every dot of the name in the box, and the
  // folder the tests run in may hold one.
  vellum::testing::ScopedCurrentFolder in_files(library.folder());
  Fill("payroll", 1);
  Verify();
  EXPECT_EQ(ui.boxes, std::vector<Box>{Info("Invalid Filename Format.")});
  EXPECT_TRUE(recorder.calls.empty());
  ExpectReset();
}

// A packed signature opened with the other padding: the archive component's own messages come
// through the desk's hook as plain boxes, the switched padding opens it, and the UnZip folder
// beside the archive is gone afterwards.
TEST_F(VerifyEndToEndTest, PackedSignatureAndTheLibraryMessageHook) {
  ASSERT_FALSE(library
                   .Sign({.input = library.File("pay.txt"),
                          .detached = false,
                          .user = Padded("ann", 10),
                          .password = Padded("pw", 10),
                          .encrypt = true,
                          .suffix = "",
                          .packed = true})
                   .empty());
  module.sClient = module.sPass = "20";
  Fill(library.File("pay_ContentSignature.trel"), 1, true);
  Verify();
  // The archive at 20, the attached reading at 10 (no archive is no attached signature), and
  // the archive at 10, which opens. Text encoding: the archive is not opened twice per padding.
  EXPECT_EQ(Methods(), (std::vector<std::string>{"VerifyZipFile", "VerifyFile", "VerifyZipFile"}));
  EXPECT_EQ(recorder.calls[0].in.sPassword.size(), 20);
  EXPECT_EQ(recorder.calls[2].in.sPassword.size(), 10);
  ASSERT_EQ(ui.boxes.size(), 2u);
  EXPECT_EQ(ui.boxes[0].caption, "Moravel Verify");
  EXPECT_EQ(ui.boxes[0].icon, DeskUi::Icon::kNone);
  EXPECT_FALSE(ui.boxes[0].text.isEmpty());
  ExpectReport(ui.boxes[1], "File verified.  ");
  EXPECT_EQ(ui.boxes[1].notes,
            QStringList{"Restored file: " + QString::fromStdString(library.TempFile("pay.txt"))});
  EXPECT_EQ(ui.boxes[1].folder, QString::fromStdString(library.TempFile("x")).chopped(2));
  EXPECT_EQ(vellum::testing::ReadFile(library.TempFile("pay.txt")), kData);
  EXPECT_FALSE(std::filesystem::exists(library.File("UnZip")));
  EXPECT_EQ(module.sClient, "10");
}

// The trust answer of the real library: a signer whose root nobody anchored is named in a
// warning; anchored, the box is the plain report; with trust required an unanchored signer is a
// failure.
TEST_F(VerifyEndToEndTest, TrustOfTheSignerIsShown) {
  ASSERT_FALSE(library
                   .Sign({.input = library.File("pay.txt"),
                          .user = Padded("ann", 10),
                          .password = Padded("pw", 10),
                          .suffix = "_Signature.txt"})
                   .empty());
  const QString warning =
      QStringLiteral("Warning: signer 1 (CN=Ann Lee, O=Example Ltd, C=GB) is untrusted: ");
  Fill(library.File("pay.txt"), 1);
  Verify();
  ASSERT_EQ(ui.boxes.size(), 1u);
  ExpectReport(ui.boxes[0], "File verified. ");
  EXPECT_TRUE(ui.boxes[0].text.contains(warning)) << ui.boxes[0].text.toStdString();

  ui.boxes.clear();
  module.bRequireTrust = true;
  Fill(library.File("pay.txt"), 1);
  Verify();
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].caption, "Info Message.");
  EXPECT_TRUE(ui.boxes[0].text.startsWith(
      QStringLiteral("The signature is valid, but signer 1 (CN=Ann Lee, O=Example Ltd, C=GB) is "
                     "untrusted: ")))
      << ui.boxes[0].text.toStdString();
  ExpectReset();

  ui.boxes.clear();
  library.AnchorRoot();
  Fill(library.File("pay.txt"), 1);
  Verify();
  ASSERT_EQ(ui.boxes.size(), 1u);
  ExpectReport(ui.boxes[0], "File verified. ");
  EXPECT_FALSE(ui.boxes[0].text.contains(QStringLiteral("Warning")))
      << ui.boxes[0].text.toStdString();
}

// A signature timestamped by an authority the test starts: the "Successful" box carries the
// timestamp line under the report, trusted once the authority's root is anchored.
TEST_F(VerifyEndToEndTest, TheTimestampIsShown) {
  vellum::testing::TempFolder authority_files;
  vellum::testing::TestTsa tsa(authority_files.path());
  {
    vellum::testing::ScopedEnv url("VELLUM_TSA_URL", tsa.Url("ok"));
    vellum::testing::ScopedEnv no_proxy("no_proxy", "127.0.0.1");
    ASSERT_FALSE(library
                     .Sign({.input = library.File("pay.txt"),
                            .user = Padded("ann", 10),
                            .password = Padded("pw", 10),
                            .suffix = "_Signature.txt"})
                     .empty());
  }
  library.AnchorRoot();
  const QString line = QStringLiteral(
      "Timestamp: %1 by CN=Vellum Test Time Stamping, O=Vellum "
      "Test, C=GB (%2)\r\n");
  const QRegularExpression time(QStringLiteral("\\d\\d/\\d\\d/\\d{4} \\d\\d:\\d\\d:\\d\\d"));
  for (const bool anchored : {false, true}) {
    if (anchored)
      vellum::testing::PutInStore("Root", tsa.root(), vellum::testing::StoreFormat::kPemNoKey);
    ui.boxes.clear();
    Fill(library.File("pay.txt"), 1);
    Verify();
    ASSERT_EQ(ui.boxes.size(), 1u);
    ExpectReport(ui.boxes[0], "File verified. ");
    QString text = ui.boxes[0].text;
    text.replace(time, QStringLiteral("TIME"));
    EXPECT_TRUE(
        text.contains(line.arg(QStringLiteral("TIME"),
                               anchored ? QStringLiteral("trusted") : QStringLiteral("untrusted"))))
        << ui.boxes[0].text.toStdString();
    EXPECT_FALSE(text.contains(QStringLiteral("Warning"))) << text.toStdString();
  }
}

TEST(UnregisteredLibraryTest, ReportedNotCrashed) {
  vellum::testing::TempFolder folder;
  vellum::testing::ScopedEnv registry("VELLUM_REGISTRY", folder.File("registry.ini"));
  FakeUi ui;
  VellumModule module(ui, [] { return QStringList{"/"}; });
  ComDigitalSignFactory real(ui);
  frmVerify window(module, [&real] { return real.Create(); });
  window.Form_Load(QString::fromStdString(folder.File("no-config")));
  window.findChild<QLineEdit*>("lblOriginalFName")->setText("/in/pay.txt");
  window.findChild<QLineEdit*>("txtUserId")->setText("ann");
  window.findChild<QLineEdit*>("txtPassword")->setText("pw");
  window.cmdVerify_Click();
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0], Info(CreationFailureText(static_cast<std::int32_t>(0x80040154))));
  EXPECT_EQ(folder.List(), std::vector<std::string>{});
}

}  // namespace
}  // namespace vellum::desk
