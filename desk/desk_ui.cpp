#include "desk/desk_ui.h"

#include <QDialog>
#include <QMessageBox>

namespace vellum::desk {

void QtDeskUi::ShowBox(QWidget* owner, const QString& text, Icon icon, const QString& caption) {
  QMessageBox box(owner);
  box.setWindowTitle(caption);
  // The messages carry CR LF; a label shows a bare CR as a glyph on some styles.
  box.setText(QString(text).replace(QLatin1String("\r\n"), QLatin1String("\n")));
  box.setTextFormat(Qt::PlainText);
  box.setStandardButtons(QMessageBox::Ok);
  switch (icon) {
    case Icon::kNone:
      box.setIcon(QMessageBox::NoIcon);
      break;
    case Icon::kInformation:
      box.setIcon(QMessageBox::Information);
      break;
    case Icon::kExclamation:
      box.setIcon(QMessageBox::Warning);
      break;
  }
  box.exec();
}

void QtDeskUi::RunModal(QDialog& dialog) {
  dialog.exec();
}

}  // namespace vellum::desk
