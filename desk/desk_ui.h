// The one seam between the desk's handlers and the screen: message boxes and modal windows.
// Handlers never call QMessageBox or QDialog::exec themselves, so every handler runs in tests
// with a recording fake and no box ever blocks.
#pragma once

#include <QString>
#include <QStringList>

class QDialog;
class QWidget;

namespace vellum::desk {

struct BoxContent;

class DeskUi {
 public:
  enum class Icon { kNone, kInformation, kExclamation };

  virtual ~DeskUi() = default;
  // A modal box with an OK button; returns when the operator closed it. Line breaks in the
  // text are CR LF, as the messages are defined.
  virtual void Show(QWidget* owner, const BoxContent& box) = 0;
  // Runs `dialog` modally; returns when it has closed.
  virtual void RunModal(QDialog& dialog) = 0;

  // A box with the text alone.
  void ShowBox(QWidget* owner, const QString& text, Icon icon, const QString& caption);
};

// What one box shows.
struct BoxContent {
  QString text;  // the message, exactly as defined
  DeskUi::Icon icon = DeskUi::Icon::kNone;
  QString caption;
  // Lines shown under the message and apart from it (the restored file, notes on a signer);
  // the message text itself stays as defined.
  QStringList notes;
  // When not empty, the box offers a button that opens this folder in the file manager.
  QString folder;
  friend bool operator==(const BoxContent&, const BoxContent&) = default;
};

inline void DeskUi::ShowBox(QWidget* owner, const QString& text, Icon icon,
                            const QString& caption) {
  Show(owner, BoxContent{text, icon, caption, {}, {}});
}

// The real boxes: a dialog with the icon and caption asked for, whose texts can be selected
// and copied (Ctrl+C copies the selection, or the whole text when nothing is selected), and
// QDialog::exec.
class QtDeskUi : public DeskUi {
 public:
  void Show(QWidget* owner, const BoxContent& box) override;
  void RunModal(QDialog& dialog) override;
};

}  // namespace vellum::desk
