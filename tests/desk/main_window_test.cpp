// frmVerify's load, its input checks and its small handlers, driven through the recording box
// service: what the operator sees before any library call.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QTest>
#include <QUrl>
#include <filesystem>

#include "desk/remembered.h"
#include "library/platform/own_folders.h"
#include "tests/desk/desk_fakes.h"
#include "tests/support/temp_folder.h"

namespace vellum::desk {
namespace {

using testing::Box;
using testing::DeskFixture;
using testing::Info;
using testing::Plain;

QString Report(const char* description, const char* procedure, int line) {
  return NumberedReportText(QLatin1String(description), QLatin1String(procedure), line);
}

struct LoadCase {
  const char* name;
  const char* config;  // null: no Config.ini
  const char* file_box;
  int position;  // selected entry, -1 none
  bool enabled;
  std::vector<Box> boxes;
};
void PrintTo(const LoadCase& c, std::ostream* out) {
  *out << c.name;
}

class FormLoadTest : public ::testing::TestWithParam<LoadCase> {};

TEST_P(FormLoadTest, FileBoxAndFormatList) {
  const LoadCase& c = GetParam();
  vellum::testing::TempFolder folder;
  if (c.config != nullptr) vellum::testing::WriteFile(folder.File("Config.ini"), c.config);
  DeskFixture desk;
  desk.Load(QString::fromStdString(folder.path()));
  EXPECT_EQ(desk.FileBox()->text(), c.file_box) << c.name;
  EXPECT_EQ(desk.Format()->count(), 2) << c.name;
  EXPECT_EQ(desk.Format()->itemText(0), "Old");
  EXPECT_EQ(desk.Format()->itemText(1), "New");
  EXPECT_EQ(desk.Format()->currentIndex(), c.position) << c.name;
  EXPECT_EQ(desk.Format()->isEnabled(), c.enabled) << c.name;
  EXPECT_EQ(desk.ui.boxes, c.boxes) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FormLoadTest,
    ::testing::Values(
        // The configured format is fixed; only format 3 lets the operator choose.
        LoadCase{"no Config.ini", nullptr, "/", 0, false, {}},
        LoadCase{"format 1", "format=1\n", "/", 0, false, {}},
        LoadCase{"format 2", "format=2\nfilepath=/data/In/\n", "/data/In/", 1, false, {}},
        LoadCase{"format 3", "format=3\n", "/", -1, true, {}},
        LoadCase{"format 0", "format=0\n", "/", -1, false, {}},
        // Format 4 ("Auto"): the list is locked and shows the format taken from the file's
        // name; a folder or a plain name is a document with its signature beside it ("New").
        LoadCase{"format 4", "format=4\n", "/", 1, false, {}},
        LoadCase{"format 4, content signature",
                 "format=4\nfilepath=/in/pay_ContentSignature.txt\n",
                 "/in/pay_ContentSignature.txt",
                 0,
                 false,
                 {}},
        LoadCase{"format 3, packed signature",
                 "format=3\nfilepath=/in/pay_ContentSignature.trel\n",
                 "/in/pay_ContentSignature.trel",
                 1,
                 true,
                 {}},
        // A failed step is reported with its number and the load goes on to disable the list.
        LoadCase{"format 5 names no entry",
                 "format=5\n",
                 "/",
                 -1,
                 false,
                 {Plain(Report("Invalid property value", "Form_Load", 116))}},
        // A format that is no number is not read: it gets the default, "Old".
        LoadCase{"format no number",
                 "filepath=/data/\nformat=x\n",
                 "/data/",
                 0,
                 false,
                 {Info("Can't read 'Config.ini' file")}},
        // A blank last line no longer makes the file unreadable.
        LoadCase{"blank last line", "format=2\n\n", "/", 1, false, {}}),
    testing::CaseName<LoadCase>);

struct PadCase {
  const char* name;
  const char* client;
  const char* pass;
  int format;  // position selected in the list
  const char* user_in;
  const char* password_in;
  const char* user_out;
  const char* password_out;
  bool result;
  std::vector<Box> boxes;
};
void PrintTo(const PadCase& c, std::ostream* out) {
  *out << c.name;
}

class ValidateUidPwdTest : public ::testing::TestWithParam<PadCase> {};

TEST_P(ValidateUidPwdTest, TrimsPadsAndRefuses) {
  const PadCase& c = GetParam();
  DeskFixture desk;
  desk.Load("/nonexistent-desk-folder");
  desk.module.sClient = c.client;
  desk.module.sPass = c.pass;
  desk.Format()->setCurrentIndex(c.format);
  QString user = c.user_in;
  QString password = c.password_in;
  EXPECT_EQ(desk.window.ValidateUidPwd(user, password), c.result) << c.name;
  EXPECT_EQ(user, c.user_out) << c.name;
  EXPECT_EQ(password, c.password_out) << c.name;
  EXPECT_EQ(desk.ui.boxes, c.boxes) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ValidateUidPwdTest,
    ::testing::Values(
        // Padding to the configured lengths; longer values stay as they are.
        PadCase{"pad to 10", "10", "10", 0, "abc", "pw", "abc*******", "pw********", true, {}},
        PadCase{"pad to 20",
                "20",
                "20",
                0,
                "abc",
                "pw",
                "abc*****************",
                "pw******************",
                true,
                {}},
        PadCase{"lengths apart",
                "10",
                "20",
                1,
                "abc",
                "pw",
                "abc*******",
                "pw******************",
                true,
                {}},
        PadCase{"16 characters with 10",
                "10",
                "10",
                0,
                "abcdefghijklmnop",
                "secret",
                "abcdefghijklmnop",
                "secret****",
                true,
                {}},
        PadCase{"16 characters with 20",
                "20",
                "20",
                0,
                "abcdefghijklmnop",
                "secret",
                "abcdefghijklmnop****",
                "secret**************",
                true,
                {}},
        PadCase{"trimmed before padding",
                "10",
                "10",
                0,
                "  ab  ",
                " pw ",
                "ab********",
                "pw********",
                true,
                {}},
        // Empty after trimming: refused with the message, nothing padded.
        PadCase{"user id of blanks",
                "10",
                "10",
                0,
                "   ",
                "pw",
                "",
                "pw",
                false,
                {Plain("Please enter valid UserID. ")}},
        PadCase{"password empty",
                "10",
                "10",
                0,
                "ann",
                "",
                "ann",
                "",
                false,
                {Plain("Please enter valid Password. ")}},
        // A length that is no number: two reports per value, values unpadded, still True. The
        // step numbers differ by the branch the format picks.
        PadCase{"lengths no number, Old",
                "ten",
                "x",
                0,
                "ann",
                "pw",
                "ann",
                "pw",
                true,
                {Plain(Report("Type mismatch", "ValidateUidPwd", 122)),
                 Plain(Report("Type mismatch", "ValidateUidPwd", 122)),
                 Plain(Report("Type mismatch", "ValidateUidPwd", 124)),
                 Plain(Report("Type mismatch", "ValidateUidPwd", 124))}},
        PadCase{"client no number, New",
                "ten",
                "10",
                1,
                "ann",
                "pw",
                "ann",
                "pw********",
                true,
                {Plain(Report("Type mismatch", "ValidateUidPwd", 126)),
                 Plain(Report("Type mismatch", "ValidateUidPwd", 126))}},
        // A length no box could need is refused instead of filling memory.
        PadCase{"absurd length",
                "100000",
                "10",
                0,
                "ann",
                "pw",
                "ann",
                "pw********",
                true,
                {Plain(Report("Out of memory", "ValidateUidPwd", 122))}}),
    testing::CaseName<PadCase>);

TEST(ValidateUidPwdFocusTest, FocusGoesToTheBoxThatWasEmpty) {
  DeskFixture desk;
  desk.Load("/nonexistent-desk-folder");
  desk.ShowActive();
  QString user = "  ";
  QString password = "pw";
  desk.window.ValidateUidPwd(user, password);
  EXPECT_EQ(QApplication::focusWidget(), desk.UserId());
  user = "ann";
  password = " ";
  desk.window.ValidateUidPwd(user, password);
  EXPECT_EQ(QApplication::focusWidget(), desk.Password());
}

TEST(ValidateTest, RefusesTheListWithoutSelection) {
  vellum::testing::TempFolder folder;
  vellum::testing::WriteFile(folder.File("Config.ini"), "format=3\n");
  DeskFixture desk;
  desk.Load(QString::fromStdString(folder.path()));
  desk.ShowActive();
  EXPECT_FALSE(desk.window.Validate());
  EXPECT_EQ(desk.ui.boxes, std::vector<Box>{Plain("Please enter valid Format")});
  EXPECT_EQ(QApplication::focusWidget(), desk.Format());

  desk.ui.boxes.clear();
  desk.Format()->setCurrentIndex(1);
  EXPECT_TRUE(desk.window.Validate());
  EXPECT_TRUE(desk.ui.boxes.empty());
}

TEST(ContentBoxTest, EncryptionBoxFollowsTheContentBox) {
  DeskFixture desk;
  desk.Load("/nonexistent-desk-folder");
  desk.ShowActive();
  QCheckBox* content = desk.Check("chkAttachContent");
  QCheckBox* decrypt = desk.Check("chkDecrypt");
  // Starting state: separate files, so the encryption box is off and greyed.
  EXPECT_FALSE(content->isChecked());
  EXPECT_FALSE(decrypt->isEnabled());
  EXPECT_FALSE(decrypt->isChecked());

  QTest::mouseClick(content, Qt::LeftButton);
  EXPECT_TRUE(decrypt->isEnabled());
  EXPECT_TRUE(decrypt->isChecked());
  QTest::mouseClick(decrypt, Qt::LeftButton);  // the operator may clear it again
  EXPECT_FALSE(decrypt->isChecked());
  QTest::mouseClick(content, Qt::LeftButton);
  EXPECT_FALSE(decrypt->isEnabled());
  EXPECT_FALSE(decrypt->isChecked());
  QTest::mouseClick(content, Qt::LeftButton);
  EXPECT_TRUE(decrypt->isChecked());
  EXPECT_TRUE(desk.ui.boxes.empty());
}

// The layout code builds the controls in another order than the operator tabs through them.
TEST(ControlsTest, TabOrder) {
  DeskFixture desk;
  desk.Load("/nonexistent-desk-folder");
  const char* order[] = {"lblOriginalFName",
                         "cmdSelectOriginalFile",
                         "txtUserId",
                         "txtPassword",
                         "cboFormat",
                         "chkAttachContent",
                         "chkDecrypt",
                         "chkBinary",
                         "chkOpenFileAfterVerifySign",
                         "cmdVerify",
                         "cmdExit"};
  for (std::size_t i = 0; i + 1 < std::size(order); ++i) {
    QWidget* from = desk.window.findChild<QWidget*>(order[i]);
    ASSERT_NE(from, nullptr) << order[i];
    EXPECT_EQ(from->nextInFocusChain()->objectName(), order[i + 1]) << "after " << order[i];
  }
}

// The window sees Enter and Escape wherever the focus is.
TEST(KeysTest, EnterInThePasswordBoxVerifies) {
  DeskFixture desk;
  desk.Load("/nonexistent-desk-folder");
  desk.ShowActive();
  desk.FileBox()->clear();
  desk.Password()->setFocus();
  QTest::keyClick(desk.Password(), Qt::Key_Return);
  EXPECT_EQ(
      desk.ui.boxes,
      std::vector<Box>{Info("No files selected for verification.......\r\nSelect valid file.")});
  EXPECT_TRUE(desk.window.isVisible());
}

TEST(KeysTest, EscapeAnywhereClosesTheWindow) {
  for (const char* where : {"txtUserId", "cboFormat", "chkBinary", "cmdVerify"}) {
    DeskFixture desk;
    desk.Load("/nonexistent-desk-folder");
    desk.ShowActive();
    QWidget* control = desk.window.findChild<QWidget*>(where);
    control->setFocus();
    QTest::keyClick(control, Qt::Key_Escape);
    EXPECT_FALSE(desk.window.isVisible()) << where;
    EXPECT_TRUE(desk.ui.boxes.empty()) << where;
  }
}

TEST(KeysTest, OtherKeysReachTheControls) {
  DeskFixture desk;
  desk.Load("/nonexistent-desk-folder");
  desk.ShowActive();
  desk.UserId()->setFocus();
  QTest::keyClicks(desk.UserId(), "ann");
  EXPECT_EQ(desk.UserId()->text(), "ann");
  EXPECT_TRUE(desk.window.isVisible());
}

TEST(FocusTest, EnteringTheIdBoxSelectsItsText) {
  DeskFixture desk;
  desk.Load("/nonexistent-desk-folder");
  desk.ShowActive();
  desk.UserId()->setText("old-user");
  desk.Password()->setFocus();
  desk.UserId()->setFocus();
  QCoreApplication::processEvents();
  EXPECT_EQ(desk.UserId()->selectedText(), "old-user");
  QTest::keyClicks(desk.UserId(), "new");
  EXPECT_EQ(desk.UserId()->text(), "new");
}

TEST(ExitTest, ExitButtonClosesAndRemovesTheUnzipFolder) {
  vellum::testing::TempFolder folder;
  const std::string unzip = folder.File("UnZip");
  ASSERT_TRUE(std::filesystem::create_directory(unzip));
  vellum::testing::WriteFile(unzip + "/" + platform::kOwnFolderMark, "");  // the library made it
  vellum::testing::WriteFile(unzip + "/left.txt", "x");
  DeskFixture desk;
  desk.Load("/nonexistent-desk-folder");
  desk.ShowActive();
  // A run leaves the folder name behind: a folder chosen in the picker ends after the name is
  // worked out, before anything is verified.
  desk.module.bFolderSelected = true;
  desk.FileBox()->setText(QString::fromStdString(folder.File("pay.txt")));
  desk.UserId()->setText("ann");
  desk.Password()->setText("pw");
  desk.window.cmdVerify_Click();
  EXPECT_TRUE(std::filesystem::exists(unzip));
  QTest::mouseClick(desk.Button("cmdExit"), Qt::LeftButton);
  EXPECT_FALSE(desk.window.isVisible());
  EXPECT_FALSE(std::filesystem::exists(unzip));
  EXPECT_TRUE(std::filesystem::exists(folder.path()));
}

// A mistake in Config.ini (here an empty line above the lengths) still leaves lengths to pad
// to: Verify pads to the defaults instead of reporting "Type mismatch" four times.
TEST(ConfigMistakeTest, DeskStaysUsable) {
  vellum::testing::TempFolder folder;
  vellum::testing::WriteFile(folder.File("Config.ini"), "format=2\n\nclient=20\npass=20\n");
  DeskFixture desk;
  desk.Load(QString::fromStdString(folder.path()));
  desk.FileBox()->setText("/in/pay.txt");
  desk.UserId()->setText("ann");
  desk.Password()->setText("pw");
  desk.window.cmdVerify_Click();
  ASSERT_FALSE(desk.script.calls.empty());
  EXPECT_EQ(desk.script.calls[0].method, "VerifyFile");
  EXPECT_EQ(desk.script.calls[0].in.sUseriD, "ann*******");
  for (const Box& box : desk.ui.boxes)
    EXPECT_FALSE(box.text.contains("in prjVerifyMoravel")) << box.text.toStdString();
}

// Where the format is not fixed, the format and the content box follow the file's name;
// "Auto" also takes any other name as a document with its signature beside it.
TEST(FormatFollowsTheFileTest, ByKindOfName) {
  struct {
    const char* path;
    int position_auto;
    bool content_auto;
    int position_operator;  // the operator had chosen "Old" with the content box cleared
    bool content_operator;
  } cases[] = {
      {"/in/pay_ContentSignature.trel", 1, true, 1, true},
      {"/in/PAY_CONTENTSIGNATURE.TREL", 1, true, 1, true},
      {"/in/pay_ContentSignature.txt", 0, true, 0, true},
      {"/in/pay_Signature.txt", 1, false, 1, false},
      {"/in/pay_DSignature.txt", 1, false, 1, false},
      {"/in/pay.txt", 1, false, 0, false},
      {"/in/report.pdf", 1, false, 0, false},
  };
  for (const char* format : {"4", "3"}) {
    vellum::testing::TempFolder folder;
    vellum::testing::WriteFile(folder.File("Config.ini"), std::string("format=") + format + "\n");
    for (const auto& c : cases) {
      DeskFixture desk;
      desk.Load(QString::fromStdString(folder.path()));
      const bool automatic = std::string(format) == "4";
      EXPECT_EQ(desk.Format()->isEnabled(), !automatic);
      if (!automatic) desk.Format()->setCurrentIndex(0);
      desk.window.OfferFile(c.path);
      EXPECT_EQ(desk.Format()->currentIndex(), automatic ? c.position_auto : c.position_operator)
          << format << " " << c.path;
      const bool content = automatic ? c.content_auto : c.content_operator;
      EXPECT_EQ(desk.Check("chkAttachContent")->isChecked(), content) << format << " " << c.path;
      EXPECT_EQ(desk.Check("chkDecrypt")->isChecked(), content) << "follows the content box";
    }
  }
  // A fixed format stays whatever the file.
  DeskFixture fixed;
  fixed.Load("/nonexistent-desk-folder");
  fixed.window.OfferFile("/in/pay_ContentSignature.trel");
  EXPECT_EQ(fixed.Format()->currentIndex(), 0);
  EXPECT_FALSE(fixed.Check("chkAttachContent")->isChecked());
}

// A path typed after the picker chose a folder is a file choice.
TEST(FileBoxTest, TypingAPathClearsThePickersFolderChoice) {
  DeskFixture desk;
  desk.Load("/nonexistent-desk-folder");
  desk.ShowActive();
  desk.module.bFolderSelected = true;
  desk.FileBox()->clear();
  desk.FileBox()->setFocus();
  QTest::keyClicks(desk.FileBox(), "/in/pay.txt");
  EXPECT_FALSE(desk.module.bFolderSelected);
  desk.UserId()->setText("ann");
  desk.Password()->setText("pw");
  desk.Format()->setCurrentIndex(1);
  desk.window.cmdVerify_Click();
  ASSERT_FALSE(desk.script.calls.empty());
  EXPECT_EQ(desk.script.calls[0].in.sFingerprintFName, "/in/pay_Signature.txt");
}

// A file dropped anywhere on the window, the file box included, lands in the file box; what
// is no local file is not taken.
TEST(FileBoxTest, DroppedFileLandsInTheFileBox) {
  vellum::testing::TempFolder folder;
  vellum::testing::WriteFile(folder.File("pay_ContentSignature.txt"), "x");
  const QString file = QString::fromStdString(folder.File("pay_ContentSignature.txt"));
  struct {
    const char* target;
    QList<QUrl> urls;
    QString expected;
  } cases[] = {
      {"frmVerify", {QUrl::fromLocalFile(file)}, file},
      {"lblOriginalFName", {QUrl::fromLocalFile(file)}, file},
      {"chkBinary", {QUrl("https://example.com/pay.txt"), QUrl::fromLocalFile(file)}, file},
      {"frmVerify", {QUrl("https://example.com/pay.txt")}, "before"},
  };
  for (const auto& c : cases) {
    DeskFixture desk;
    desk.Load("/nonexistent-desk-folder");
    desk.ShowActive();
    desk.module.bFolderSelected = true;
    desk.FileBox()->setText("before");
    QWidget* target = desk.window.objectName() == c.target
                          ? static_cast<QWidget*>(&desk.window)
                          : desk.window.findChild<QWidget*>(c.target);
    ASSERT_NE(target, nullptr);
    QMimeData data;
    data.setUrls(c.urls);
    const QPoint at = target->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    EXPECT_EQ(enter.isAccepted(), c.expected != "before") << c.target;
    QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
    EXPECT_EQ(desk.FileBox()->text(), c.expected) << c.target;
    EXPECT_EQ(desk.module.bFolderSelected, c.expected == "before") << c.target;
  }
}

TEST(ControlsTest, VerifyIsTheDefaultButton) {
  DeskFixture desk;
  desk.Load("/nonexistent-desk-folder");
  EXPECT_TRUE(desk.Button("cmdVerify")->isDefault());
  EXPECT_FALSE(desk.Button("cmdExit")->isDefault());
}

// The folder, the operator's format and the option boxes are remembered per user; what
// Config.ini fixes is not taken from there.
TEST(RememberedTest, LoadTakesWhatConfigIniLeavesOpen) {
  vellum::testing::TempFolder folder;
  std::filesystem::create_directory(folder.File("inbox"));
  const std::string state = folder.File("state/desk-state.ini");
  std::filesystem::create_directory(folder.File("state"));
  vellum::testing::WriteFile(state, "folder=" + folder.File("inbox") +
                                        "\nformat=1\ncontent=1\ndecrypt=0\nbinary=1\nopen=1\n");
  struct {
    const char* config;
    QString file_box;
    int position;
  } cases[] = {
      {"format=3\n", QString::fromStdString(folder.File("inbox") + "/"), 1},
      {"format=3\nfilepath=/srv/in/\n", "/srv/in/", 1},
      {"format=1\n", QString::fromStdString(folder.File("inbox") + "/"), 0},
  };
  for (const auto& c : cases) {
    vellum::testing::WriteFile(folder.File("Config.ini"), c.config);
    DeskFixture desk;
    desk.window.RememberIn(QString::fromStdString(state));
    desk.Load(QString::fromStdString(folder.path()));
    EXPECT_EQ(desk.FileBox()->text(), c.file_box) << c.config;
    EXPECT_EQ(desk.Format()->currentIndex(), c.position) << c.config;
    EXPECT_TRUE(desk.Check("chkAttachContent")->isChecked());
    EXPECT_FALSE(desk.Check("chkDecrypt")->isChecked());
    EXPECT_TRUE(desk.Check("chkDecrypt")->isEnabled());
    EXPECT_TRUE(desk.Check("chkBinary")->isChecked());
    EXPECT_TRUE(desk.Check("chkOpenFileAfterVerifySign")->isChecked());
    EXPECT_TRUE(desk.ui.boxes.empty());
  }
}

TEST(RememberedTest, SavedAfterAVerificationAndOnClose) {
  vellum::testing::TempFolder folder;
  std::filesystem::create_directory(folder.File("in"));
  vellum::testing::WriteFile(folder.File("in/pay.txt"), "x");
  vellum::testing::WriteFile(folder.File("Config.ini"), "format=3\n");
  const std::string state = folder.File("config/moravel-verify/desk-state.ini");
  {
    DeskFixture desk;
    desk.window.RememberIn(QString::fromStdString(state));
    desk.Load(QString::fromStdString(folder.path()));
    desk.ShowActive();
    desk.FileBox()->setText(QString::fromStdString(folder.File("in/pay.txt")));
    desk.UserId()->setText("ann");
    desk.Password()->setText("pw");
    desk.Format()->setCurrentIndex(1);
    desk.Check("chkBinary")->setChecked(true);
    desk.window.cmdVerify_Click();
    EXPECT_EQ(
        ReadRemembered(QString::fromStdString(state)),
        (Remembered{QString::fromStdString(folder.File("in")), 1, false, false, true, false}));
    desk.Check("chkOpenFileAfterVerifySign")->setChecked(true);
    desk.window.close();
    EXPECT_EQ(ReadRemembered(QString::fromStdString(state)).open, true);
    // The folder holding the file is the user's own.
    EXPECT_EQ(std::filesystem::status(folder.File("config/moravel-verify")).permissions() &
                  std::filesystem::perms::all,
              std::filesystem::perms::owner_all);
  }
  DeskFixture next;
  next.window.RememberIn(QString::fromStdString(state));
  next.Load(QString::fromStdString(folder.path()));
  EXPECT_EQ(next.FileBox()->text(), QString::fromStdString(folder.File("in") + "/"));
  EXPECT_EQ(next.Format()->currentIndex(), 1);
  EXPECT_TRUE(next.Check("chkBinary")->isChecked());
  EXPECT_TRUE(next.Check("chkOpenFileAfterVerifySign")->isChecked());
}

// What cannot be read is not remembered; the rest of the file still counts.
TEST(RememberedTest, UnreadableLinesAreIgnored) {
  vellum::testing::TempFolder folder;
  struct {
    const char* name;
    std::string content;
    Remembered expected;
  } cases[] = {
      {"every key", "folder=/in\nformat=0\ncontent=1\ndecrypt=0\nbinary=0\nopen=1\n",
       Remembered{"/in", 0, true, false, false, true}},
      {"values out of range", "format=2\ncontent=yes\nbinary=-1\n", Remembered{}},
      {"no = and unknown keys", "folder\nremark=x\n\nbinary=1\n",
       Remembered{"", std::nullopt, std::nullopt, std::nullopt, true, std::nullopt}},
      {"a folder holding =", "folder=/in/a=b\n",
       [] {
         Remembered folder_only;
         folder_only.folder = "/in/a=b";
         return folder_only;
       }()},
      {"binary junk", std::string("\0\xff\n=\n", 5), Remembered{}},
  };
  for (const auto& c : cases) {
    vellum::testing::WriteFile(folder.File("desk-state.ini"), c.content);
    EXPECT_EQ(ReadRemembered(QString::fromStdString(folder.File("desk-state.ini"))), c.expected)
        << c.name;
  }
  EXPECT_EQ(ReadRemembered(QString::fromStdString(folder.File("missing.ini"))), Remembered{});
}

// Without a file to remember in, nothing is read or written.
TEST(RememberedTest, NothingWithoutAFile) {
  DeskFixture desk;
  desk.Load("/nonexistent-desk-folder");
  EXPECT_EQ(ReadRemembered(""), Remembered{});
  desk.window.close();
}

}  // namespace
}  // namespace vellum::desk
