// moravel-verify [FILE]: the verification desk. Starts the main window, whose load reads
// Config.ini (the program's folder, then the user's and the system's configuration folders).
// FILE, as a file manager's "Open with" hands it over (%f), is put in the file box.
//
// --screenshot=FILE saves the window as a PNG once it is shown and quits; the documentation's
// picture is made that way (scripts/desk-screenshot). --screenshot-report=FILE reads a user id
// and a password from standard input (one a line: never from the command line), verifies the
// file the window opened on, saves the first box it shows and quits.
#include <QApplication>
#include <QDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTextStream>
#include <QTimer>
#include <cstdio>

#include "desk/desk_ui.h"
#include "desk/digital_sign.h"
#include "desk/emblem.h"
#include "desk/frm_verify.h"
#include "desk/vellum_module.h"

namespace {

// Fills in the id and password, presses Verify, and saves the first box that opens.
void ShootReport(QWidget& window, const QString& file) {
  QTextStream input(stdin);
  const QString user = input.readLine();
  QString password = input.readLine();
  window.findChild<QLineEdit*>(QStringLiteral("txtUserId"))->setText(user);
  window.findChild<QLineEdit*>(QStringLiteral("txtPassword"))->setText(password);
  password.fill(u'\0');
  auto* poll = new QTimer(&window);
  poll->setInterval(100);
  QObject::connect(poll, &QTimer::timeout, [poll, file] {
    auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (box == nullptr || !box->isVisible()) return;
    poll->stop();
    const bool saved = box->grab().save(file, "PNG");
    box->accept();
    if (!saved) std::fprintf(stderr, "moravel-verify: cannot save %s\n", qPrintable(file));
  });
  poll->start();
  window.findChild<QPushButton*>(QStringLiteral("cmdVerify"))->click();
  QCoreApplication::exit(0);
}

}  // namespace

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(vellum::desk::kApplicationTitle);
  QApplication::setDesktopFileName(QStringLiteral("moravel-verify"));
  QApplication::setWindowIcon(vellum::desk::EmblemIcon());

  QString screenshot;
  QString report_shot;
  QString file;
  bool options_end = false;
  for (const QString& argument : QApplication::arguments().mid(1)) {
    if (options_end || !argument.startsWith(u'-')) {
      if (file.isEmpty()) file = argument;
      continue;
    }
    if (argument == QLatin1String("--")) options_end = true;
    if (argument.startsWith(QLatin1String("--screenshot=")))
      screenshot = argument.mid(QLatin1String("--screenshot=").size());
    if (argument.startsWith(QLatin1String("--screenshot-report=")))
      report_shot = argument.mid(QLatin1String("--screenshot-report=").size());
  }

  vellum::desk::QtDeskUi ui;
  vellum::desk::VellumModule module(ui);
  vellum::desk::ComDigitalSignFactory library(ui);
  vellum::desk::frmVerify window(module, [&library] { return library.Create(); });
  window.RememberIn(vellum::desk::RememberedFileOfUser());
  window.Form_Load(QCoreApplication::applicationDirPath());
  if (!file.isEmpty()) window.OfferFile(QFileInfo(file).absoluteFilePath());
  window.show();

  if (!screenshot.isEmpty()) {
    QTimer::singleShot(500, &window, [&window, screenshot] {
      const bool saved = window.grab().save(screenshot, "PNG");
      QCoreApplication::exit(saved ? 0 : 1);
    });
  }
  if (!report_shot.isEmpty())
    QTimer::singleShot(500, &window, [&window, report_shot] { ShootReport(window, report_shot); });
  return QApplication::exec();
}
