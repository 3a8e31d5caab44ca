// moravel-verify: the verification desk. Starts the main window, whose load reads Config.ini
// from the program's own folder.
//
// --screenshot=FILE saves the window as a PNG once it is shown and quits; the documentation's
// picture is made that way (scripts/desk-screenshot).
#include <QApplication>
#include <QTimer>

#include "desk/desk_ui.h"
#include "desk/digital_sign.h"
#include "desk/emblem.h"
#include "desk/frm_verify.h"
#include "desk/vellum_module.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(vellum::desk::kApplicationTitle);
  QApplication::setDesktopFileName(QStringLiteral("moravel-verify"));
  QApplication::setWindowIcon(QIcon(vellum::desk::DrawEmblem(64)));

  QString screenshot;
  for (const QString& argument : QApplication::arguments().mid(1)) {
    if (argument.startsWith(QLatin1String("--screenshot=")))
      screenshot = argument.mid(QLatin1String("--screenshot=").size());
  }

  vellum::desk::QtDeskUi ui;
  vellum::desk::VellumModule module(ui);
  vellum::desk::ComDigitalSignFactory library(ui);
  vellum::desk::frmVerify window(module, [&library] { return library.Create(); });
  window.Form_Load(QCoreApplication::applicationDirPath());
  window.show();

  if (!screenshot.isEmpty()) {
    QTimer::singleShot(500, &window, [&window, screenshot] {
      const bool saved = window.grab().save(screenshot, "PNG");
      QCoreApplication::exit(saved ? 0 : 1);
    });
  }
  return QApplication::exec();
}
