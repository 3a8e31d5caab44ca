// The one seam between the desk's handlers and the screen: message boxes and modal windows.
// Handlers never call QMessageBox or QDialog::exec themselves, so every handler runs in tests
// with a recording fake and no box ever blocks.
#pragma once

#include <QString>

class QDialog;
class QWidget;

namespace vellum::desk {

class DeskUi {
 public:
  enum class Icon { kNone, kInformation, kExclamation };

  virtual ~DeskUi() = default;
  // A modal box with only an OK button; returns when the operator closed it. Line breaks in
  // `text` are CR LF, as the messages are defined.
  virtual void ShowBox(QWidget* owner, const QString& text, Icon icon, const QString& caption) = 0;
  // Runs `dialog` modally; returns when it has closed.
  virtual void RunModal(QDialog& dialog) = 0;
};

// The real boxes: QMessageBox with the icon and caption asked for, and QDialog::exec.
class QtDeskUi : public DeskUi {
 public:
  void ShowBox(QWidget* owner, const QString& text, Icon icon, const QString& caption) override;
  void RunModal(QDialog& dialog) override;
};

}  // namespace vellum::desk
