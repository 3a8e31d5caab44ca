// The real window on the real library, driven as an operator drives it: controls found by
// name, text typed, files dropped, Verify pressed (or Enter), and the boxes read back through
// the box service, or, for the boxes themselves, the real boxes on the screen.
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QProgressDialog>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <cmath>
#include <functional>

#include "desk/desk_ui.h"
#include "desk/digital_sign.h"
#include "desk/emblem.h"
#include "desk/frm_select.h"
#include "desk/frm_verify.h"
#include "desk/vellum_module.h"
#include "library/platform/shell_open.h"
#include "tests/desk/library_fixture.h"

namespace vellum::desk {

// Records boxes instead of showing them; a modal window (the picker) is shown and handed to
// `on_modal`, which closes it.
class RecordingUi : public DeskUi {
 public:
  struct Shown {
    Icon icon;
    QString caption;
    QString text;
    QStringList notes;
  };
  void Show(QWidget*, const BoxContent& box) override {
    shown.push_back({box.icon, box.caption, box.text, box.notes});
  }
  void RunModal(QDialog& dialog) override {
    dialog.show();
    if (on_modal) on_modal(dialog);
    if (dialog.isVisible()) dialog.close();
  }
  std::vector<Shown> shown;
  std::function<void(QDialog&)> on_modal;
  int Successes() const {
    int count = 0;
    for (const Shown& box : shown) count += box.caption == u"Successful" ? 1 : 0;
    return count;
  }
};

// Runs `act` on the first modal box that opens (polling, since the box's own event loop runs
// it), then closes the box if `act` left it open.
void WhenBoxShows(std::function<void(QDialog&)> act) {
  auto* timer = new QTimer;
  timer->setInterval(20);
  QObject::connect(timer, &QTimer::timeout, [timer, act] {
    auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    timer->stop();
    timer->deleteLater();
    act(*box);
    if (box->isVisible()) box->accept();
  });
  timer->start();
}

class DeskWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void verifyButtonShowsTheSuccessfulReport() { Run(false); }
  void enterInThePasswordBoxShowsTheSuccessfulReport() { Run(true); }

  // A packed signature verified first (made with the other padding, so the run ends at 20)
  // must not spoil the next file: an attached signature made at 10 verifies on the first try.
  void trelThenAttachedVerifiesTheAttachedFileOnTheFirstTry() {
    testing::RegisteredLibrary library;
    QVERIFY(library.ok());
    vellum::testing::WriteFile(library.File("pay.txt"), "Amount: 100.00\r\n");
    vellum::testing::WriteFile(library.File("memo.txt"), "Pay on Friday.\r\n");
    QVERIFY(!library
                 .Sign({.input = library.File("pay.txt"),
                        .detached = false,
                        .user = testing::Padded("ann", 20),
                        .password = testing::Padded("pw", 20),
                        .encrypt = true,
                        .suffix = "",
                        .packed = true})
                 .empty());
    QVERIFY(!library
                 .Sign({.input = library.File("memo.txt"),
                        .detached = false,
                        .user = testing::Padded("ann", 10),
                        .password = testing::Padded("pw", 10),
                        .encrypt = true,
                        .suffix = ""})
                 .empty());
    Desk desk(library, "format=1\n");  // "Old", fixed
    desk.Check("chkAttachContent")->setChecked(true);
    desk.Verify(library.File("pay_ContentSignature.trel"));
    QCOMPARE(desk.module.sClient, QString("20"));

    desk.ui.shown.clear();
    desk.Verify(library.File("memo_ContentSignature.txt"));
    QCOMPARE(desk.ui.Successes(), 1);
    QCOMPARE(desk.ui.shown.back().caption, QString("Successful"));
    QVERIFY(desk.ui.shown.back().text.startsWith("File verified.  "));
    const QString restored = QString::fromStdString(library.TempFile("memo.txt"));
    QCOMPARE(desk.ui.shown.back().notes, QStringList{"Restored file: " + restored});
    QCOMPARE(vellum::testing::ReadFile(library.TempFile("memo.txt")),
             std::string("Pay on Friday.\r\n"));
  }

  // format = 4: a detached, an attached and a packed signature in turn, the format list never
  // touched (it is locked) and the content box set from each name.
  void autoFormatVerifiesDetachedAttachedAndPacked() {
    testing::RegisteredLibrary library;
    QVERIFY(library.ok());
    for (const char* name : {"pay.txt", "memo.txt", "note.txt"})
      vellum::testing::WriteFile(library.File(name), std::string("contents of ") + name);
    QVERIFY(!library
                 .Sign({.input = library.File("pay.txt"),
                        .user = testing::Padded("ann", 10),
                        .password = testing::Padded("pw", 10),
                        .suffix = "_Signature.txt"})
                 .empty());
    QVERIFY(!library
                 .Sign({.input = library.File("memo.txt"),
                        .detached = false,
                        .user = testing::Padded("ann", 10),
                        .password = testing::Padded("pw", 10),
                        .encrypt = true,
                        .suffix = ""})
                 .empty());
    QVERIFY(!library
                 .Sign({.input = library.File("note.txt"),
                        .detached = false,
                        .user = testing::Padded("ann", 20),
                        .password = testing::Padded("pw", 20),
                        .encrypt = true,
                        .suffix = "",
                        .packed = true})
                 .empty());
    Desk desk(library, "format=4\n");
    auto* format = desk.window.findChild<QComboBox*>("cboFormat");
    QVERIFY(!format->isEnabled());
    const struct {
      const char* file;
      const char* format;
      bool content;
    } files[] = {{"pay.txt", "New", false},
                 {"memo_ContentSignature.txt", "Old", true},
                 {"note_ContentSignature.trel", "New", true}};
    for (const auto& f : files) {
      desk.ui.shown.clear();
      desk.Verify(library.File(f.file), [&] {
        QCOMPARE(format->currentText(), QString(f.format));
        QCOMPARE(desk.Check("chkAttachContent")->isChecked(), f.content);
      });
      QVERIFY2(desk.ui.Successes() == 1, f.file);
      QVERIFY(!format->isEnabled());
    }
  }

  // The file the picker shows highlighted on opening is the choice: OK at once, and Verify
  // verifies it.
  void highlightedFileIsChosen() {
    testing::RegisteredLibrary library;
    QVERIFY(library.ok());
    vellum::testing::WriteFile(library.File("pay.txt"), "Amount: 100.00\r\n");
    QVERIFY(!library
                 .Sign({.input = library.File("pay.txt"),
                        .user = testing::Padded("ann", 10),
                        .password = testing::Padded("pw", 10),
                        .suffix = "_Signature.txt"})
                 .empty());
    Desk desk(library, "format=2\nfilepath=" + library.File("pay.txt") + "\n");
    bool highlighted = false;
    desk.ui.on_modal = [&](QDialog& picker) {
      auto* files = picker.findChild<QListWidget*>("lstFile");
      highlighted = files->currentItem() != nullptr && files->currentItem()->text() == "pay.txt";
      QTest::mouseClick(picker.findChild<QPushButton*>("cmdOk"), Qt::LeftButton);
    };
    QTest::mouseClick(desk.window.findChild<QPushButton*>("cmdSelectOriginalFile"), Qt::LeftButton);
    QVERIFY(highlighted);
    QCOMPARE(desk.FileBox()->text(), QString::fromStdString(library.File("pay.txt")));
    desk.Verify({});
    QCOMPARE(desk.ui.Successes(), 1);
  }

  // A file dropped on the window lands in the file box and verifies.
  void droppedFileLandsInTheFileBox() {
    testing::RegisteredLibrary library;
    QVERIFY(library.ok());
    vellum::testing::WriteFile(library.File("memo.txt"), "Pay on Friday.\r\n");
    QVERIFY(!library
                 .Sign({.input = library.File("memo.txt"),
                        .detached = false,
                        .user = testing::Padded("ann", 10),
                        .password = testing::Padded("pw", 10),
                        .encrypt = true,
                        .suffix = ""})
                 .empty());
    Desk desk(library, "format=4\n");
    desk.FileBox()->clear();
    const QString file = QString::fromStdString(library.File("memo_ContentSignature.txt"));
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(file)});
    QWidget* target = desk.window.findChild<QWidget*>("txtPassword");
    const QPoint at = target->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
    QCOMPARE(desk.FileBox()->text(), file);
    QVERIFY(desk.Check("chkAttachContent")->isChecked());
    desk.Verify({});
    QCOMPARE(desk.ui.Successes(), 1);
  }

  // The real "Successful" box after a real verification: its texts can be selected, Ctrl+C
  // copies the selection or, with none, the whole text; it names the restored file and opens
  // its folder; its caption has room.
  void copyingFromABoxPutsItsTextOnTheClipboard() {
    testing::RegisteredLibrary library;
    QVERIFY(library.ok());
    vellum::testing::WriteFile(library.File("memo.txt"), "Pay on Friday.\r\n");
    QVERIFY(!library
                 .Sign({.input = library.File("memo.txt"),
                        .detached = false,
                        .user = testing::Padded("ann", 10),
                        .password = testing::Padded("pw", 10),
                        .encrypt = true,
                        .suffix = ""})
                 .empty());
    std::vector<std::string> opened;
    platform::SetShellOpenerForTesting([&opened](const std::string& path) {
      opened.push_back(path);
      return platform::kShellOpenStarted;
    });
    QtDeskUi real;
    Desk desk(library, "format=4\n", &real);
    QString whole;
    QString part;
    QString caption;
    int box_width = 0;
    WhenBoxShows([&](QDialog& box) {
      caption = box.windowTitle();
      box_width = box.width();
      auto* text = box.findChild<QLabel*>("lblText");
      QVERIFY(text->textInteractionFlags() & Qt::TextSelectableByMouse);
      QTest::keyClick(&box, Qt::Key_C, Qt::ControlModifier);
      whole = QGuiApplication::clipboard()->text();
      text->setSelection(0, 14);
      QTest::keyClick(&box, Qt::Key_C, Qt::ControlModifier);
      part = QGuiApplication::clipboard()->text();
      QTest::mouseClick(box.findChild<QPushButton*>("cmdOpenFolder"), Qt::LeftButton);
    });
    desk.Verify(library.File("memo_ContentSignature.txt"));
    platform::SetShellOpenerForTesting({});
    QCOMPARE(caption, QString("Successful"));
    QVERIFY2(whole.startsWith("File verified.  Details of the verifying cetificate(s) are:\n"
                              "Verifying certificate no. 1\n"),
             qPrintable(whole));
    QVERIFY(whole.contains("Ann Lee"));
    QVERIFY(
        whole.endsWith("\nRestored file: " + QString::fromStdString(library.TempFile("memo.txt"))));
    QCOMPARE(part, QString("File verified."));
    QCOMPARE(opened, std::vector<std::string>{
                         library.TempFile("").substr(0, library.TempFile("").size() - 1)});
    QVERIFY(box_width > QFontMetrics(QApplication::font()).horizontalAdvance(caption) * 3 / 2);
  }

  // A library call shows the wait cursor; a long one adds a progress window without a cancel
  // button, following the reports; both go when the call ends. Reports outside a call are
  // not shown.
  void busyShowsTheWaitCursorAndTheProgress() {
    const auto progress_window = [] {
      QProgressDialog* found = nullptr;
      for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* d = qobject_cast<QProgressDialog*>(w)) found = d;
      return found;
    };
    QtDeskUi ui;
    QVERIFY(QApplication::overrideCursor() == nullptr);
    ui.Busy(true);
    QVERIFY(QApplication::overrideCursor() != nullptr);
    QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    ui.Progress(QStringLiteral("Reading"), 0, 1000);
    ui.Progress(QStringLiteral("Reading"), 420, 1000);
    QProgressDialog* shown = progress_window();
    QVERIFY(shown != nullptr);
    QCOMPARE(shown->value(), 42);
    QCOMPARE(shown->labelText(), QStringLiteral("Reading..."));
    QVERIFY(shown->findChild<QPushButton*>() == nullptr);  // nothing to cancel with
    ui.Busy(false);
    QVERIFY(QApplication::overrideCursor() == nullptr);
    QVERIFY(progress_window() == nullptr);
    ui.Progress(QStringLiteral("Reading"), 1, 2);
    QVERIFY(progress_window() == nullptr);
  }

  // The emblem is rendered for the window's device pixel ratio from its SVG: the same pixels
  // as the drawing made at the full device size, not an enlarged small one. The test runs a
  // second time with QT_SCALE_FACTOR=2.
  void emblemIsDrawnAtTheDevicePixelRatio() {
    QtDeskUi ui;
    VellumModule module(ui, [] { return QStringList{"/"}; });
    frmVerify window(module, [] { return std::unique_ptr<DigitalSignApi>(); });
    window.Form_Load(QStringLiteral("/nonexistent-desk-folder"));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const qreal ratio = window.devicePixelRatioF();
    const QPixmap shown = window.findChild<QLabel*>("imgEmblem")->pixmap();
    QCOMPARE(shown.devicePixelRatio(), ratio);
    const int logical = window.findChild<QLabel*>("imgEmblem")->width();
    const int device = static_cast<int>(std::lround(logical * ratio));
    QCOMPARE(shown.width(), device);
    QImage full = DrawEmblem(device).toImage();
    full.setDevicePixelRatio(ratio);
    QCOMPARE(shown.toImage(), full);
    if (qEnvironmentVariable("QT_SCALE_FACTOR") == "2") QCOMPARE(ratio, 2.0);
  }

 private:
  // The desk's own folder with its Config.ini, the window shown, and the operator's id and
  // password ready.
  struct Desk {
    Desk(testing::RegisteredLibrary& library, const std::string& config, DeskUi* shown = nullptr)
        : box_service(shown != nullptr ? *shown : static_cast<DeskUi&>(ui)),
          module(box_service, [] { return QStringList{"/"}; }),
          factory(box_service),
          window(module, [this] { return factory.Create(); }) {
      const std::string program = library.File("program");
      std::filesystem::create_directories(program);
      vellum::testing::WriteFile(program + "/Config.ini", config);
      window.Form_Load(QString::fromStdString(program));
      window.show();
      QApplication::setActiveWindow(&window);
      [this] { QVERIFY(QTest::qWaitForWindowActive(&window)); }();
    }
    QLineEdit* FileBox() { return window.findChild<QLineEdit*>("lblOriginalFName"); }
    QCheckBox* Check(const char* name) { return window.findChild<QCheckBox*>(name); }
    // Types `path` into the file box (when given), the id and password, checks, and presses
    // Verify.
    void Verify(const std::string& path, const std::function<void()>& check = {}) {
      if (!path.empty()) {
        FileBox()->setFocus();
        FileBox()->selectAll();
        QTest::keyClicks(FileBox(), QString::fromStdString(path));
      }
      auto* user = window.findChild<QLineEdit*>("txtUserId");
      auto* password = window.findChild<QLineEdit*>("txtPassword");
      user->setFocus();
      QTest::keyClicks(user, "ann");
      password->setFocus();
      QTest::keyClicks(password, "pw");
      if (check) check();
      QTest::mouseClick(window.findChild<QPushButton*>("cmdVerify"), Qt::LeftButton);
    }

    RecordingUi ui;
    DeskUi& box_service;
    VellumModule module;
    ComDigitalSignFactory factory;
    frmVerify window;
  };

  void Run(bool press_enter) {
    testing::RegisteredLibrary library;
    QVERIFY(library.ok());
    vellum::testing::WriteFile(library.File("pay.txt"), "Amount: 100.00\r\n");
    QVERIFY(!library
                 .Sign({.input = library.File("pay.txt"),
                        .user = testing::Padded("ann", 10),
                        .password = testing::Padded("pw", 10),
                        .suffix = "_Signature.txt"})
                 .empty());
    // Format "New", opening on the files' folder.
    Desk desk(library, "filepath=" + library.folder() + "/\nformat=2\n");
    auto* file_box = desk.FileBox();
    auto* password = desk.window.findChild<QLineEdit*>("txtPassword");
    auto* format = desk.window.findChild<QComboBox*>("cboFormat");
    QCOMPARE(format->currentText(), QString("New"));
    QVERIFY(!format->isEnabled());
    QCOMPARE(file_box->text(), QString::fromStdString(library.folder() + "/"));

    file_box->setFocus();
    file_box->selectAll();
    QTest::keyClicks(file_box, QString::fromStdString(library.File("pay.txt")));
    auto* user = desk.window.findChild<QLineEdit*>("txtUserId");
    user->setFocus();
    QTest::keyClicks(user, "ann");
    password->setFocus();
    QTest::keyClicks(password, "pw");
    if (press_enter) {
      QTest::keyClick(password, Qt::Key_Return);
    } else {
      QTest::mouseClick(desk.window.findChild<QPushButton*>("cmdVerify"), Qt::LeftButton);
    }

    const auto& shown = desk.ui.shown;
    QCOMPARE(shown.size(), std::size_t{1});
    QCOMPARE(shown[0].caption, QString("Successful"));
    QCOMPARE(shown[0].icon, DeskUi::Icon::kInformation);
    QVERIFY2(shown[0].text.startsWith("File verified. Details of the verifying cetificate(s) "
                                      "are:\r\nVerifying certificate no. 1\r\n"),
             qPrintable(shown[0].text));
    QVERIFY(shown[0].text.contains("Ann Lee"));
    QVERIFY(shown[0].notes.isEmpty());  // nothing was restored
    QCOMPARE(file_box->text(), QString());
    QCOMPARE(password->text(), QString());
    QVERIFY(desk.window.isVisible());
  }
};

}  // namespace vellum::desk

QTEST_MAIN(vellum::desk::DeskWindowTest)
#include "desk_window_qtest.moc"
