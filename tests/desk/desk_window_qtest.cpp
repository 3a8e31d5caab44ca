// The real window on the real library, driven as an operator drives it: controls found by
// name, text typed, Verify pressed (or Enter), and the "Successful" report read back through
// the box service.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "desk/desk_ui.h"
#include "desk/digital_sign.h"
#include "desk/frm_verify.h"
#include "desk/vellum_module.h"
#include "tests/desk/library_fixture.h"

namespace vellum::desk {

class RecordingUi : public DeskUi {
 public:
  struct Shown {
    Icon icon;
    QString caption;
    QString text;
  };
  void ShowBox(QWidget*, const QString& text, Icon icon, const QString& caption) override {
    shown.push_back({icon, caption, text});
  }
  void RunModal(QDialog&) override { QFAIL("no modal window expected"); }
  std::vector<Shown> shown;
};

class DeskWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void verifyButtonShowsTheSuccessfulReport() { Run(false); }
  void enterInThePasswordBoxShowsTheSuccessfulReport() { Run(true); }

 private:
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
    // The desk's own folder with its Config.ini: format "New", opening on the files' folder.
    const std::string program = library.File("program");
    std::filesystem::create_directory(program);
    vellum::testing::WriteFile(program + "/Config.ini",
                               "filepath=" + library.folder() + "/\nformat=2\n");

    RecordingUi ui;
    VellumModule module(ui);
    ComDigitalSignFactory factory(ui);
    frmVerify window(module, [&factory] { return factory.Create(); });
    window.Form_Load(QString::fromStdString(program));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    auto* file_box = window.findChild<QLineEdit*>("lblOriginalFName");
    auto* user = window.findChild<QLineEdit*>("txtUserId");
    auto* password = window.findChild<QLineEdit*>("txtPassword");
    auto* format = window.findChild<QComboBox*>("cboFormat");
    QVERIFY(file_box && user && password && format);
    QCOMPARE(format->currentText(), QString("New"));
    QVERIFY(!format->isEnabled());
    QCOMPARE(file_box->text(), QString::fromStdString(library.folder() + "/"));

    file_box->setFocus();
    file_box->selectAll();
    QTest::keyClicks(file_box, QString::fromStdString(library.File("pay.txt")));
    user->setFocus();
    QTest::keyClicks(user, "ann");
    password->setFocus();
    QTest::keyClicks(password, "pw");
    if (press_enter) {
      QTest::keyClick(password, Qt::Key_Return);
    } else {
      QTest::mouseClick(window.findChild<QPushButton*>("cmdVerify"), Qt::LeftButton);
    }

    QCOMPARE(ui.shown.size(), std::size_t{1});
    QCOMPARE(ui.shown[0].caption, QString("Successful"));
    QCOMPARE(ui.shown[0].icon, DeskUi::Icon::kInformation);
    QVERIFY2(ui.shown[0].text.startsWith("File verified. Details of the verifying cetificate(s) "
                                         "are:\r\nVerifying certificate no. 1\r\n"),
             qPrintable(ui.shown[0].text));
    QVERIFY(ui.shown[0].text.contains("Ann Lee"));
    QCOMPARE(file_box->text(), QString());
    QCOMPARE(password->text(), QString());
    QVERIFY(window.isVisible());
  }
};

}  // namespace vellum::desk

QTEST_MAIN(vellum::desk::DeskWindowTest)
#include "desk_window_qtest.moc"
