// The one seam between the desk's handlers and the screen: message boxes and modal windows.
// Handlers never call QMessageBox or QDialog::exec themselves, so every handler runs in tests
// with a recording fake and no box ever blocks.
#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <memory>

class QDialog;
class QProgressDialog;
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
  // A library call begins (true) or has ended (false): the desk shows it is busy meanwhile.
  // Calls do not nest.
  virtual void Busy(bool busy) { (void)busy; }
  // How far the library's long operation has come, from its progress hook: `done` of `total`
  // bytes of `operation` ("Reading", "Compressing", "Extracting"), during a busy call.
  virtual void Progress(const QString& operation, quint64 done, quint64 total) {
    (void)operation, (void)done, (void)total;
  }

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
  QtDeskUi();
  ~QtDeskUi() override;
  void Show(QWidget* owner, const BoxContent& box) override;
  void RunModal(QDialog& dialog) override;
  // The wait cursor for the length of the call; a long operation (one QProgressDialog judges
  // to take more than a moment) adds a progress window without a cancel button, which keeps
  // the window painted while the call runs.
  void Busy(bool busy) override;
  void Progress(const QString& operation, quint64 done, quint64 total) override;

 private:
  std::unique_ptr<QProgressDialog> progress_;
  bool busy_ = false;
};

}  // namespace vellum::desk
