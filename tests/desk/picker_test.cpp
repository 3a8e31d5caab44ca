// frmSelect opened from the main window's select button: what it hands back, what it
// remembers, and how the verify command treats a folder it returned.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QListWidget>
#include <QTest>
#include <QTreeWidget>
#include <filesystem>

#include "desk/frm_select.h"
#include "tests/desk/desk_fakes.h"
#include "tests/support/temp_folder.h"

namespace vellum::desk {
namespace {

using testing::Box;
using testing::DeskFixture;
using testing::Info;

// A volume of its own: the scratch folder is mounted as a "drive" beside "/".
class PickerTest : public ::testing::Test {
 protected:
  PickerTest() : root(QString::fromStdString(volume.path())), desk({QStringLiteral("/"), root}) {}

  void SetUp() override {
    std::filesystem::create_directories(volume.File("in/sub"));
    vellum::testing::WriteFile(volume.File("in/pay.txt"), "pay");
    vellum::testing::WriteFile(volume.File("in/pay_Signature.txt"), "sig");
    desk.Load("/nonexistent-desk-folder");
    desk.ShowActive();
    desk.module.sDrive = root;
    desk.module.sFolder = root + "/in";
    desk.FileBox()->setText(root + "/in");
  }

  // Opens the picker through the select button; `act` works on it while it is open.
  void Pick(std::function<void(frmSelect&)> act) {
    desk.ui.on_modal = [act](QDialog& dialog) { act(static_cast<frmSelect&>(dialog)); };
    desk.window.cmdSelectOriginalFile_Click();
  }

  static QListWidgetItem* FileItem(frmSelect& picker, const char* name) {
    auto found = picker.findChild<QListWidget*>("lstFile")->findItems(name, Qt::MatchExactly);
    EXPECT_EQ(found.size(), 1) << name;
    return found.value(0);
  }
  static void ClickFile(frmSelect& picker, const char* name) {
    auto* list = picker.findChild<QListWidget*>("lstFile");
    QListWidgetItem* item = FileItem(picker, name);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(item).center());
  }

  vellum::testing::TempFolder volume;
  QString root;
  DeskFixture desk;
};

TEST_F(PickerTest, OkAtOnceReturnsTheFolderAndVerifyRefusesIt) {
  Pick([](frmSelect& picker) {
    QTest::mouseClick(picker.findChild<QPushButton*>("cmdOk"), Qt::LeftButton);
  });
  EXPECT_EQ(desk.ui.modal_runs, 1);
  EXPECT_EQ(desk.FileBox()->text(), root + "/in");
  EXPECT_TRUE(desk.module.bFolderSelected);
  EXPECT_EQ(desk.module.sSelectedFolder, root + "/in");

  desk.UserId()->setText("ann");
  desk.Password()->setText("pw");
  desk.window.cmdVerify_Click();
  EXPECT_EQ(
      desk.ui.boxes,
      std::vector<Box>{Info("You have selected the Folder to be verified. Please Select file. ")});
  EXPECT_EQ(desk.FileBox()->text(), "");
  EXPECT_EQ(desk.script.objects_created, 0);
}

TEST_F(PickerTest, FileListOpensOnTheFileBoxFolder) {
  QStringList names;
  Pick([&](frmSelect& picker) {
    auto* list = picker.findChild<QListWidget*>("lstFile");
    for (int i = 0; i < list->count(); ++i) names << list->item(i)->text();
    EXPECT_EQ(picker.CurrentFolder(), root + "/in");
    EXPECT_EQ(picker.windowTitle(), "Select ");
  });
  EXPECT_EQ(names, (QStringList{"pay.txt", "pay_Signature.txt"}));
}

TEST_F(PickerTest, ClickedFileThenOkReturnsItsPath) {
  Pick([](frmSelect& picker) {
    ClickFile(picker, "pay.txt");
    QTest::mouseClick(picker.findChild<QPushButton*>("cmdOk"), Qt::LeftButton);
  });
  EXPECT_EQ(desk.FileBox()->text(), root + "/in/pay.txt");
  EXPECT_FALSE(desk.module.bFolderSelected);
  EXPECT_EQ(desk.module.sSelectedFile, root + "/in/pay.txt");
  // Where the picker opens next time.
  EXPECT_EQ(desk.module.sDrive, root);
  EXPECT_EQ(desk.module.sFolder, root + "/in");
  EXPECT_EQ(desk.module.sFileFolder, root + "/in");

  // Verify proceeds with the derived names.
  desk.UserId()->setText("ann");
  desk.Password()->setText("pw");
  desk.window.cmdVerify_Click();
  ASSERT_FALSE(desk.script.calls.empty());
  EXPECT_EQ(desk.script.calls[0].in.sFingerprintFName, root + "/in/pay_Signature.txt");
}

TEST_F(PickerTest, DoubleClickOnAFileIsClickAndOk) {
  Pick([](frmSelect& picker) {
    auto* list = picker.findChild<QListWidget*>("lstFile");
    const QPoint at = list->visualItemRect(FileItem(picker, "pay_Signature.txt")).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
    EXPECT_FALSE(picker.isVisible());
  });
  EXPECT_EQ(desk.FileBox()->text(), root + "/in/pay_Signature.txt");
  EXPECT_FALSE(desk.module.bFolderSelected);
}

TEST_F(PickerTest, EnterIsOkAndEscapeClosesKeepingTheSelections) {
  Pick([](frmSelect& picker) {
    ClickFile(picker, "pay.txt");
    QTest::keyClick(picker.findChild<QListWidget*>("lstFile"), Qt::Key_Return);
  });
  EXPECT_EQ(desk.FileBox()->text(), root + "/in/pay.txt");

  desk.FileBox()->setText("typed");
  Pick([](frmSelect& picker) {
    QTest::keyClick(picker.findChild<QTreeWidget*>("lstDir"), Qt::Key_Escape);
    EXPECT_FALSE(picker.isVisible());
  });
  EXPECT_EQ(desk.FileBox()->text(), "typed");
  EXPECT_EQ(desk.module.sSelectedFile, root + "/in/pay.txt");  // Escape empties nothing
  EXPECT_TRUE(desk.module.bFolderSelected);                    // set again by the load
}

TEST_F(PickerTest, ArrowToAFileThenEnterReturnsTheFile) {
  Pick([](frmSelect& picker) {
    auto* list = picker.findChild<QListWidget*>("lstFile");
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Down);
    QTest::keyClick(list, Qt::Key_Down);
    QTest::keyClick(list, Qt::Key_Return);
  });
  EXPECT_FALSE(desk.module.bFolderSelected);
  EXPECT_TRUE(desk.FileBox()->text().startsWith(root + "/in/pay"))
      << desk.FileBox()->text().toStdString();
}

TEST_F(PickerTest, ExitEmptiesTheSelectionsAndKeepsThePosition) {
  desk.module.sSelectedFile = "earlier";
  desk.module.sSelectedFolder = "earlier";
  Pick([this](frmSelect& picker) {
    picker.OpenFolder(root + "/in/sub");
    QTest::mouseClick(picker.findChild<QPushButton*>("cmdExit"), Qt::LeftButton);
  });
  EXPECT_EQ(desk.FileBox()->text(), root + "/in");
  EXPECT_EQ(desk.module.sSelectedFile, "");
  EXPECT_EQ(desk.module.sSelectedFolder, "");
  EXPECT_EQ(desk.module.sFolder, root + "/in");  // only OK remembers
}

TEST_F(PickerTest, OpenedSubfolderIsTheChoiceAndTheFileListFollows) {
  Pick([this](frmSelect& picker) {
    picker.OpenFolder(root + "/in/sub");
    EXPECT_EQ(picker.FileListFolder(), root + "/in/sub");
    QTest::mouseClick(picker.findChild<QPushButton*>("cmdOk"), Qt::LeftButton);
  });
  EXPECT_EQ(desk.FileBox()->text(), root + "/in/sub");
  EXPECT_EQ(desk.module.sFolder, root + "/in/sub");
}

TEST_F(PickerTest, DriveChangeGoesToItsRoot) {
  Pick([this](frmSelect& picker) {
    auto* drives = picker.findChild<QComboBox*>("lstDrive");
    EXPECT_EQ(drives->currentData().toString(), root);
    drives->setCurrentIndex(drives->findData("/"));
    EXPECT_EQ(picker.CurrentFolder(), "/");
    EXPECT_EQ(picker.FileListFolder(), "/");
    drives->setCurrentIndex(drives->findData(root));
    EXPECT_EQ(picker.CurrentFolder(), root);
  });
}

// The file box names a file, or nothing: the list opens on the file's folder, or on the
// remembered folder.
TEST_F(PickerTest, FileBoxNamingAFileOrNothing) {
  desk.FileBox()->setText(root + "/in/pay_Signature.txt");
  Pick([this](frmSelect& picker) {
    EXPECT_EQ(picker.FileListFolder(), root + "/in");
    EXPECT_EQ(picker.findChild<QListWidget*>("lstFile")->currentItem()->text(),
              "pay_Signature.txt");
  });
  desk.FileBox()->clear();
  Pick([this](frmSelect& picker) { EXPECT_EQ(picker.FileListFolder(), root + "/in"); });
  EXPECT_TRUE(desk.ui.boxes.empty());
}

// The file shown highlighted on opening is the choice: OK at once hands it back, and Verify
// takes it. A click in the folder list makes the folder the choice again.
TEST_F(PickerTest, HighlightedFileIsChosen) {
  desk.FileBox()->setText(root + "/in/pay.txt");
  Pick([](frmSelect& picker) {
    QTest::mouseClick(picker.findChild<QPushButton*>("cmdOk"), Qt::LeftButton);
  });
  EXPECT_EQ(desk.FileBox()->text(), root + "/in/pay.txt");
  EXPECT_FALSE(desk.module.bFolderSelected);
  desk.UserId()->setText("ann");
  desk.Password()->setText("pw");
  desk.window.cmdVerify_Click();
  ASSERT_FALSE(desk.script.calls.empty());
  EXPECT_EQ(desk.script.calls[0].in.sFingerprintFName, root + "/in/pay_Signature.txt");

  desk.FileBox()->setText(root + "/in/pay.txt");
  Pick([](frmSelect& picker) {
    auto* folders = picker.findChild<QTreeWidget*>("lstDir");
    QTest::mouseClick(folders->viewport(), Qt::LeftButton, {},
                      folders->visualItemRect(folders->currentItem()).center());
    QTest::mouseClick(picker.findChild<QPushButton*>("cmdOk"), Qt::LeftButton);
  });
  EXPECT_EQ(desk.FileBox()->text(), root + "/in");
  EXPECT_TRUE(desk.module.bFolderSelected);
}

// The file list is wider than the folder tree, so signature names are not cut off.
TEST_F(PickerTest, FileListHasTheRoomForSignatureNames) {
  vellum::testing::WriteFile(volume.File("in/quarterly-report_ContentSignature.trel"), "x");
  Pick([](frmSelect& picker) {
    auto* files = picker.findChild<QListWidget*>("lstFile");
    auto* folders = picker.findChild<QTreeWidget*>("lstDir");
    EXPECT_GT(files->width(), folders->width());
    const auto found = files->findItems("quarterly-report_ContentSignature.trel", Qt::MatchExactly);
    ASSERT_EQ(found.size(), 1);
    EXPECT_LE(files->visualItemRect(found.front()).right(), files->viewport()->width());
  });
}

// A remembered folder or drive that is gone: reported, and the picker is not shown.
TEST_F(PickerTest, LoadFailuresAreReportedWithoutThePicker) {
  struct {
    const char* name;
    QString drive;
    QString folder;
    const char* message;
  } cases[] = {
      {"folder gone", root, root + "/gone", "Path not found"},
      {"drive not mounted", "/media/nothing", root, "Device unavailable"},
  };
  for (const auto& c : cases) {
    desk.ui.boxes.clear();
    desk.ui.modal_runs = 0;
    desk.module.sDrive = c.drive;
    desk.module.sFolder = c.folder;
    Pick([](frmSelect&) { ADD_FAILURE() << "picker shown"; });
    EXPECT_EQ(desk.ui.modal_runs, 0) << c.name;
    EXPECT_EQ(desk.ui.boxes, std::vector<Box>{Info(c.message)}) << c.name;
    EXPECT_EQ(desk.FileBox()->text(), root + "/in") << c.name;
  }
}

}  // namespace
}  // namespace vellum::desk
