#include "desk/desk_ui.h"

#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressDialog>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "desk/vellum_module.h"
#include "library/platform/shell_open.h"

namespace vellum::desk {
namespace {

// The messages carry CR LF; a label shows a bare CR as a glyph on some styles.
QString ForDisplay(const QString& text) {
  return QString(text).replace(QLatin1String("\r\n"), QLatin1String("\n"));
}

QLabel* SelectableLabel(const QString& text, const char* name, QWidget* parent) {
  auto* label = new QLabel(ForDisplay(text), parent);
  label->setObjectName(QLatin1String(name));
  label->setTextFormat(Qt::PlainText);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  label->setContextMenuPolicy(Qt::DefaultContextMenu);  // "Copy" and "Select All"
  return label;
}

class MessageBox : public QDialog {
 public:
  MessageBox(QWidget* owner, const BoxContent& box) : QDialog(owner) {
    setObjectName(QStringLiteral("msgBox"));
    setWindowTitle(box.caption);
    setModal(true);
    auto* grid = new QGridLayout(this);
    const QStyle* style = this->style();
    if (box.icon != DeskUi::Icon::kNone) {
      const auto standard = box.icon == DeskUi::Icon::kInformation
                                ? QStyle::SP_MessageBoxInformation
                                : QStyle::SP_MessageBoxWarning;
      const int size = style->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
      auto* icon = new QLabel(this);
      icon->setObjectName(QStringLiteral("lblIcon"));
      icon->setPixmap(style->standardIcon(standard, nullptr, this)
                          .pixmap(QSize(size, size), devicePixelRatioF()));
      grid->addWidget(icon, 0, 0, Qt::AlignTop);
    }
    auto* texts = new QVBoxLayout;
    labels_.push_back(SelectableLabel(box.text, "lblText", this));
    texts->addWidget(labels_.back());
    copy_text_ = ForDisplay(box.text);
    if (!box.notes.isEmpty()) {
      auto* line = new QFrame(this);
      line->setFrameShape(QFrame::HLine);
      line->setFrameShadow(QFrame::Sunken);
      texts->addWidget(line);
      for (const QString& note : box.notes) {
        labels_.push_back(SelectableLabel(note, "lblNote", this));
        texts->addWidget(labels_.back());
        copy_text_ += u'\n' + ForDisplay(note);
      }
    }
    grid->addLayout(texts, 0, 1);
    grid->setColumnStretch(1, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
    ok->setObjectName(QStringLiteral("cmdOk"));
    ok->setDefault(true);
    if (!box.folder.isEmpty()) {
      auto* open = buttons->addButton(QStringLiteral("Open &Folder"), QDialogButtonBox::ActionRole);
      open->setObjectName(QStringLiteral("cmdOpenFolder"));
      open->setToolTip(box.folder);
      open->setAutoDefault(false);
      connect(open, &QPushButton::clicked, this,
              [this, folder = box.folder] { OpenFolder(folder); });
    }
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    grid->addWidget(buttons, 1, 0, 1, 2);

    // Room for the whole caption in the title bar beside the window's own buttons, however
    // short the message.
    const QFontMetrics metrics(QApplication::font("QWorkspaceTitleBar"));
    setMinimumWidth(metrics.horizontalAdvance(box.caption) * 3 / 2 + metrics.height() * 8);
    ok->setFocus();
  }

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    if (event->matches(QKeySequence::Copy)) {
      QString text;
      for (const QLabel* label : labels_)
        if (label->hasSelectedText()) text = label->selectedText();
      QGuiApplication::clipboard()->setText(text.isEmpty() ? copy_text_ : text);
      event->accept();
      return;
    }
    QDialog::keyPressEvent(event);
  }

 private:
  void OpenFolder(const QString& folder) {
    if (platform::ShellOpen(folder.toStdString()) > 32) return;
    QtDeskUi().Show(
        this, {QStringLiteral("The folder ") + folder + QStringLiteral(" could not be opened."),
               DeskUi::Icon::kExclamation,
               QStringLiteral("Info Message."),
               {},
               {}});
  }

  std::vector<QLabel*> labels_;
  QString copy_text_;
};

}  // namespace

void QtDeskUi::Show(QWidget* owner, const BoxContent& box) {
  // A box during a busy call (the Zip class's message) is answered with the usual pointer.
  if (busy_) QApplication::setOverrideCursor(Qt::ArrowCursor);
  MessageBox dialog(owner, box);
  dialog.exec();
  if (busy_) QApplication::restoreOverrideCursor();
}

void QtDeskUi::RunModal(QDialog& dialog) {
  dialog.exec();
}

QtDeskUi::QtDeskUi() = default;

QtDeskUi::~QtDeskUi() {
  if (busy_) Busy(false);
}

void QtDeskUi::Busy(bool busy) {
  if (busy == busy_) return;
  busy_ = busy;
  if (busy) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    return;
  }
  progress_.reset();
  QApplication::restoreOverrideCursor();
}

void QtDeskUi::Progress(const QString& operation, quint64 done, quint64 total) {
  if (!busy_ || total == 0) return;
  if (!progress_) {
    // Shown only once the operation looks like taking longer than the dialog's minimum
    // duration; modal, so setValue keeps the windows painted while the call runs.
    progress_ = std::make_unique<QProgressDialog>(QString(), QString(), 0, 100,
                                                  QApplication::activeWindow());
    progress_->setWindowTitle(kApplicationTitle);
    progress_->setWindowModality(Qt::ApplicationModal);
    progress_->setAutoClose(false);
    progress_->setAutoReset(false);
  }
  progress_->setLabelText(operation + QStringLiteral("..."));
  progress_->setValue(static_cast<int>(done * 100 / total));
}

}  // namespace vellum::desk
