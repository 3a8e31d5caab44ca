#include "desk/frm_verify.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDropEvent>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <QWindow>
#include <cmath>
#include <filesystem>

#include "desk/emblem.h"
#include "desk/file_kind.h"
#include "desk/frm_select.h"
#include "library/platform/error.h"
#include "library/platform/files.h"
#include "library/platform/own_folders.h"
#include "library/platform/text.h"

namespace vellum::desk {
namespace {

constexpr std::int32_t kOutOfMemory = 7;
constexpr std::int32_t kInvalidPropertyValue = 380;
// No id or password box holds more than 16 characters; a configured length far beyond any
// sensible padding is refused instead of filling memory with stars.
constexpr double kLongestPadding = 65535;

const QString kSelectTip = QStringLiteral("Click \"..\" to select file to be Verified.");

QString DescriptionOf(const std::exception& failure) {
  if (const auto* error = dynamic_cast<const Error*>(&failure))
    return QString::fromStdString(error->description());
  return QString::fromUtf8(failure.what());
}

QLabel* MakeLabel(const QString& text, const char* name, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  if (name != nullptr) label->setObjectName(QLatin1String(name));
  label->setFont(DeskFont(label->font()));
  return label;
}

}  // namespace

frmVerify::frmVerify(VellumModule& module, DigitalSignFactory factory, QWidget* parent)
    : QWidget(parent), module_(module), factory_(std::move(factory)) {
  setObjectName(QStringLiteral("frmVerify"));
  setWindowTitle(QStringLiteral("Moravel Verify - Version 1.0"));
  setWindowIcon(EmblemIcon());
  BuildControls();
  setAcceptDrops(true);
  qApp->installEventFilter(this);
}

frmVerify::~frmVerify() {
  qApp->removeEventFilter(this);
}

void frmVerify::BuildControls() {
  // The heading band: the picture box with the image on it, and the two headings.
  auto* banner = new QFrame(this);
  banner->setObjectName(QStringLiteral("picBanner"));
  banner->setAutoFillBackground(true);
  QPalette band = banner->palette();
  band.setColor(QPalette::Window, QColor(0x1f, 0x3a, 0x5f));
  band.setColor(QPalette::WindowText, Qt::white);
  banner->setPalette(band);
  auto* image = new QLabel(banner);
  image->setObjectName(QStringLiteral("imgEmblem"));
  imgEmblem = image;
  emblem_size_ = image->fontMetrics().height() * 7 / 2;
  image->setFixedSize(emblem_size_, emblem_size_);
  RefreshEmblem();
  auto* heading = MakeLabel(QStringLiteral("Verify Digital Signature"), "lblHeading", banner);
  QFont big = heading->font();
  big.setPointSizeF(big.pointSizeF() * 1.5);
  big.setBold(true);
  heading->setFont(big);
  auto* subheading = MakeLabel(QStringLiteral("Decrypt and Verify Digitally signed document."),
                               "lblSubHeading", banner);
  auto* headings = new QVBoxLayout;
  headings->addWidget(heading);
  headings->addWidget(subheading);
  auto* band_layout = new QHBoxLayout(banner);
  band_layout->addWidget(image);
  band_layout->addSpacing(8);
  band_layout->addLayout(headings, 1);

  // The frame around the controls.
  auto* frame = new QGroupBox(this);
  frame->setObjectName(QStringLiteral("fraVerify"));

  lblOriginalFName = new QLineEdit(frame);
  lblOriginalFName->setObjectName(QStringLiteral("lblOriginalFName"));
  cmdSelectOriginalFile = new QPushButton(QStringLiteral("&..."), frame);
  cmdSelectOriginalFile->setObjectName(QStringLiteral("cmdSelectOriginalFile"));
  cmdSelectOriginalFile->setToolTip(kSelectTip);
  cmdSelectOriginalFile->setFont(DeskFont(cmdSelectOriginalFile->font()));
  cmdSelectOriginalFile->setAutoDefault(false);
  cmdSelectOriginalFile->setFixedWidth(
      cmdSelectOriginalFile->fontMetrics().horizontalAdvance(QStringLiteral("MMMM")));
  lblOriginalFName->setMinimumWidth(
      lblOriginalFName->fontMetrics().horizontalAdvance(QString(40, u'n')));

  txtUserId = new QLineEdit(frame);
  txtUserId->setObjectName(QStringLiteral("txtUserId"));
  txtUserId->setMaxLength(16);
  txtPassword = new QLineEdit(frame);
  txtPassword->setObjectName(QStringLiteral("txtPassword"));
  txtPassword->setMaxLength(16);
  txtPassword->setEchoMode(QLineEdit::Password);
  txtPassword->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));  // "*"
  // Room for the 16 characters the boxes take, in whatever font the desktop uses.
  const int box_width = txtUserId->fontMetrics().horizontalAdvance(QString(18, u'W'));
  txtUserId->setMinimumWidth(box_width);
  txtPassword->setMinimumWidth(box_width);

  cboFormat = new QComboBox(frame);
  cboFormat->setObjectName(QStringLiteral("cboFormat"));

  chkAttachContent = new QCheckBox(QStringLiteral("Signature with original file contents"), frame);
  chkAttachContent->setObjectName(QStringLiteral("chkAttachContent"));
  chkDecrypt = new QCheckBox(QStringLiteral("Encrypted original file contents"), frame);
  chkDecrypt->setObjectName(QStringLiteral("chkDecrypt"));
  chkBinary = new QCheckBox(QStringLiteral("Binary Encoding"), frame);
  chkBinary->setObjectName(QStringLiteral("chkBinary"));
  chkOpenFileAfterVerifySign =
      new QCheckBox(QStringLiteral("Open File after Signature Verification"), frame);
  chkOpenFileAfterVerifySign->setObjectName(QStringLiteral("chkOpenFileAfterVerifySign"));
  // The option boxes start cleared: separate signature files in text encoding, the most common
  // delivery. The encryption box follows the content box, so it starts cleared and disabled.
  chkDecrypt->setEnabled(false);

  cmdVerify = new QPushButton(QStringLiteral("&Verify"), this);
  cmdVerify->setObjectName(QStringLiteral("cmdVerify"));
  cmdExit = new QPushButton(QStringLiteral("E&xit"), this);
  cmdExit->setObjectName(QStringLiteral("cmdExit"));
  for (QPushButton* button : {cmdVerify, cmdExit}) {
    button->setFont(DeskFont(button->font()));
    button->setAutoDefault(false);
    button->setMinimumWidth(button->fontMetrics().horizontalAdvance(QStringLiteral("Verify")) * 2);
  }
  // Enter anywhere runs the verify command, so Verify is drawn as the default button.
  cmdVerify->setDefault(true);

  auto* select_label = MakeLabel(QStringLiteral("Select File:"), "lblSelectFile", frame);
  select_label->setToolTip(kSelectTip);
  select_label->setBuddy(lblOriginalFName);

  auto* grid = new QGridLayout(frame);
  grid->addWidget(select_label, 0, 0);
  auto* file_row = new QHBoxLayout;
  file_row->addWidget(lblOriginalFName, 1);
  file_row->addWidget(cmdSelectOriginalFile);
  grid->addLayout(file_row, 0, 1, 1, 2);
  grid->addWidget(MakeLabel(QStringLiteral("User Id.:"), "lblUserId", frame), 1, 0);
  grid->addWidget(txtUserId, 1, 1);
  grid->addWidget(MakeLabel(QStringLiteral("Password:"), "lblPassword", frame), 2, 0);
  grid->addWidget(txtPassword, 2, 1);
  grid->addWidget(MakeLabel(QStringLiteral("Format:"), "lblFormat", frame), 3, 0);
  grid->addWidget(cboFormat, 3, 1);
  grid->setColumnStretch(2, 1);
  auto* options = new QVBoxLayout;
  options->addWidget(chkAttachContent);
  auto* decrypt_row = new QHBoxLayout;
  decrypt_row->addSpacing(chkAttachContent->fontMetrics().horizontalAdvance(QStringLiteral("MM")));
  decrypt_row->addWidget(chkDecrypt);
  decrypt_row->addStretch(1);
  options->addLayout(decrypt_row);
  options->addWidget(chkBinary);
  options->addWidget(chkOpenFileAfterVerifySign);
  grid->addLayout(options, 4, 1, 1, 2);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(cmdVerify);
  buttons->addWidget(cmdExit);

  auto* body = new QVBoxLayout;
  body->addWidget(frame);
  body->addLayout(buttons);
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  outer->setSpacing(0);
  outer->addWidget(banner);
  auto* padded = new QWidget(this);
  padded->setLayout(body);
  outer->addWidget(padded, 1);

  QWidget* order[] = {lblOriginalFName,
                      cmdSelectOriginalFile,
                      txtUserId,
                      txtPassword,
                      cboFormat,
                      chkAttachContent,
                      chkDecrypt,
                      chkBinary,
                      chkOpenFileAfterVerifySign,
                      cmdVerify,
                      cmdExit};
  for (std::size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);

  connect(cmdVerify, &QPushButton::clicked, this, [this] { cmdVerify_Click(); });
  connect(cmdExit, &QPushButton::clicked, this, [this] { cmdExit_Click(); });
  connect(cmdSelectOriginalFile, &QPushButton::clicked, this,
          [this] { cmdSelectOriginalFile_Click(); });
  // toggled, not clicked: the encryption box follows the content box however its state changes.
  connect(chkAttachContent, &QCheckBox::toggled, this, [this] { chkAttachContent_Click(); });
  connect(lblOriginalFName, &QLineEdit::textChanged, this, [this] { lblOriginalFName_Change(); });
  // A path typed by hand is a file choice: the picker's earlier folder choice no longer holds.
  connect(lblOriginalFName, &QLineEdit::textEdited, this,
          [this] { module_.bFolderSelected = false; });
}

template <class Step>
void frmVerify::Numbered(const char* procedure, int line, Step&& step) {
  try {
    step();
  } catch (const std::exception& failure) {
    module_.ShowNumberedReport(DescriptionOf(failure), QLatin1String(procedure), line, this);
  }
}

void frmVerify::Form_Load(const QString& program_folder) {
  constexpr const char* kProc = "Form_Load";
  format_mode_ = FormatMode::kFixed;
  Numbered(kProc, 100, [&] {
    module_.ReadConfig(program_folder);
    ApplyRememberedFolder();
  });
  ApplyRememberedOptions();
  Numbered(kProc, 102, [&] { lblOriginalFName->setText(module_.sFilePath); });
  Numbered(kProc, 104, [&] { cboFormat->clear(); });
  Numbered(kProc, 106, [&] { cboFormat->addItem(QStringLiteral("Old")); });
  Numbered(kProc, 108, [&] {
    cboFormat->addItem(QStringLiteral("New"));
    // A combo box selects its first entry by itself; the list starts with no selection, so a
    // format that fails to select below leaves none rather than a silent "Old".
    cboFormat->setCurrentIndex(-1);
  });
  Numbered(kProc, 110, [&] {
    if (module_.sFormat == u"2") format_mode_ = FormatMode::kOperator;
    if (module_.sFormat == u"3") format_mode_ = FormatMode::kAuto;
  });
  if (format_mode_ == FormatMode::kOperator) {
    Numbered(kProc, 112, [&] {
      cboFormat->setEnabled(true);
      cboFormat->setCurrentIndex(remembered_.format.value_or(-1));
      FollowFileName(lblOriginalFName->text());
    });
    return;
  }
  if (format_mode_ == FormatMode::kAuto) {
    // "Auto": the list shows the format taken from each file's name; the operator cannot
    // change it.
    Numbered(kProc, 114, [&] {
      cboFormat->setEnabled(false);
      cboFormat->setToolTip(QStringLiteral("Auto: taken from the name of the file to verify"));
      FollowFileName(lblOriginalFName->text());
    });
    return;
  }
  Numbered(kProc, 116, [&] { SelectFormat(); });
  Numbered(kProc, 118, [&] { cboFormat->setEnabled(false); });
}

void frmVerify::OfferFile(const QString& path) {
  lblOriginalFName->setText(path);
  module_.bFolderSelected = false;
  NoteFolderOf(path);
}

// Where Config.ini names no file path, the desk opens on the folder the user last worked in.
void frmVerify::ApplyRememberedFolder() {
  remembered_ = ReadRemembered(remembered_file_);
  if (module_.file_path_configured() || remembered_.folder.isEmpty() ||
      !platform::FolderExists(remembered_.folder.toStdString()))
    return;
  module_.sFilePath = remembered_.folder;
  if (!module_.sFilePath.endsWith(kSeparator)) module_.sFilePath += kSeparator;
  module_.sDrive = DriveOf(module_.sFilePath, module_.mounted_volumes()());
  module_.sFolder = FolderOf(module_.sFilePath);
  last_folder_ = remembered_.folder;
}

// No setting of Config.ini covers the option boxes: they start as the user left them. The
// encryption box follows the content box first and then takes its own remembered state.
void frmVerify::ApplyRememberedOptions() {
  if (remembered_.content) chkAttachContent->setChecked(*remembered_.content);
  if (remembered_.decrypt && chkAttachContent->isChecked())
    chkDecrypt->setChecked(*remembered_.decrypt);
  if (remembered_.binary) chkBinary->setChecked(*remembered_.binary);
  if (remembered_.open) chkOpenFileAfterVerifySign->setChecked(*remembered_.open);
}

void frmVerify::NoteFolderOf(const QString& path) {
  const QFileInfo info(path);
  if (info.isFile()) last_folder_ = info.absolutePath();
  if (info.isDir()) last_folder_ = info.absoluteFilePath();
}

// A state that cannot be saved costs the user only the convenience; the desk goes on.
void frmVerify::SaveRemembered() {
  if (remembered_file_.isEmpty()) return;
  Remembered now;
  now.folder = last_folder_;
  if (format_mode_ == FormatMode::kOperator && cboFormat->currentIndex() >= 0)
    now.format = cboFormat->currentIndex();
  now.content = chkAttachContent->isChecked();
  now.decrypt = chkDecrypt->isChecked();
  now.binary = chkBinary->isChecked();
  now.open = chkOpenFileAfterVerifySign->isChecked();
  if (now == remembered_) return;
  try {
    WriteRemembered(remembered_file_, now);
    remembered_ = now;
  } catch (const std::exception& failure) {
    qWarning("moravel-verify: settings not saved: %s", failure.what());
  }
}

void frmVerify::lblOriginalFName_Change() {
  if (format_mode_ != FormatMode::kFixed) FollowFileName(lblOriginalFName->text());
}

// The library names its files by kind (see file_kind.h): a packed copy is verified with "New"
// and the content inside, a content signature with "Old" and the content inside, a detached
// signature with "New" beside its document. Any other name is the document of a detached
// signature under "Auto"; the operator's own choice stays for it otherwise.
void frmVerify::FollowFileName(const QString& path) {
  if (TrimBlanks(path).isEmpty() || cboFormat->count() < 2) return;
  int position = -1;
  bool content = false;
  switch (KindOfFile(path)) {
    case FileKind::kPackedSignature:
      position = 1;
      content = true;
      break;
    case FileKind::kAttachedSignature:
      position = 0;
      content = true;
      break;
    case FileKind::kDetachedSignature:
      position = 1;
      break;
    case FileKind::kOther:
      if (format_mode_ != FormatMode::kAuto) return;
      position = 1;
      break;
  }
  cboFormat->setCurrentIndex(position);
  chkAttachContent->setChecked(content);  // the encryption box follows through its handler
}

// Position -1 is the list without a selection; every other position must name an entry.
void frmVerify::SelectFormat() {
  const std::int16_t position = ToInteger16(NumberFromText(module_.sFormat));
  if (position < -1 || position >= cboFormat->count())
    throw Error::Runtime(kInvalidPropertyValue, "Invalid property value");
  cboFormat->setCurrentIndex(position);
}

bool frmVerify::ValidateUidPwd(QString& sUseriD, QString& sPassword) {
  constexpr const char* kProc = "ValidateUidPwd";
  Numbered(kProc, 100, [&] { sUseriD = TrimBlanks(sUseriD); });
  Numbered(kProc, 102, [&] { sPassword = TrimBlanks(sPassword); });
  if (sUseriD.isEmpty()) {
    Numbered(kProc, 106,
             [&] { module_.ShowPlain(QStringLiteral("Please enter valid UserID. "), this); });
    Numbered(kProc, 110, [&] { txtUserId->setFocus(); });
    return false;
  }
  if (sPassword.isEmpty()) {
    Numbered(kProc, 114,
             [&] { module_.ShowPlain(QStringLiteral("Please enter valid Password. "), this); });
    Numbered(kProc, 118, [&] { txtPassword->setFocus(); });
    return false;
  }
  // Both formats pad alike; the two branches only differ in the step numbers they report.
  const bool old_format = TrimBlanks(cboFormat->currentText()).toUpper() == u"OLD";
  Pad(sUseriD, module_.sClient, old_format ? 122 : 126);
  Pad(sPassword, module_.sPass, old_format ? 124 : 128);
  return true;
}

// A length that is no number fails twice, in the length test and in the padding itself, and
// each failure gets its report; the value then stays as it was.
void frmVerify::Pad(QString& value, const QString& length, int line) {
  bool shorter = true;
  Numbered("ValidateUidPwd", line, [&] { shorter = value.size() < NumberFromText(length); });
  if (!shorter) return;
  Numbered("ValidateUidPwd", line, [&] {
    const double missing = std::nearbyint(NumberFromText(length) - value.size());
    if (missing > kLongestPadding) throw Error::Runtime(kOutOfMemory, "Out of memory");
    std::u16string padded = value.toStdU16String();
    PadWithStars(padded, padded.size() + static_cast<std::size_t>(missing));
    value = QString::fromStdU16String(padded);
  });
}

bool frmVerify::Validate() {
  constexpr const char* kProc = "Validate";
  if (cboFormat->currentText().isEmpty()) {
    Numbered(kProc, 102,
             [&] { module_.ShowPlain(QStringLiteral("Please enter valid Format"), this); });
    Numbered(kProc, 106, [&] { cboFormat->setFocus(); });
    return false;
  }
  return true;
}

void frmVerify::chkAttachContent_Click() {
  constexpr const char* kProc = "chkAttachContent_Click";
  if (!chkAttachContent->isChecked()) {
    Numbered(kProc, 102, [&] { chkDecrypt->setEnabled(false); });
    Numbered(kProc, 104, [&] { chkDecrypt->setChecked(false); });
  } else {
    Numbered(kProc, 108, [&] { chkDecrypt->setEnabled(true); });
    Numbered(kProc, 110, [&] { chkDecrypt->setChecked(true); });
  }
}

void frmVerify::cmdSelectOriginalFile_Click() {
  try {
    module_.iPickerCaller = 1;
    module_.sFileFolder = lblOriginalFName->text();
    frmSelect picker(module_, lblOriginalFName, this);
    picker.Load();
    module_.ui().RunModal(picker);
    if (picker.result() == QDialog::Accepted) NoteFolderOf(module_.sFileFolder);
  } catch (const std::exception& failure) {
    module_.ShowInfo(DescriptionOf(failure), this);
  }
}

void frmVerify::cmdExit_Click() {
  close();
}

void frmVerify::Form_KeyDown(int key) {
  Numbered("Form_KeyDown", 100, [&] { VellumModule::UnloadOnEscape(key, *this); });
  if (key == Qt::Key_Return || key == Qt::Key_Enter)
    Numbered("Form_KeyDown", 104, [&] { cmdVerify_Click(); });
}

// A file dragged from a file manager onto any part of the window, the file box included, is
// offered as the file to verify. Only local files are taken; the first of several counts.
bool frmVerify::DropFile(QEvent* event) {
  auto* drop = static_cast<QDropEvent*>(event);
  QString path;
  if (const QMimeData* data = drop->mimeData(); data != nullptr && data->hasUrls()) {
    for (const QUrl& url : data->urls()) {
      if (url.isLocalFile() && !url.toLocalFile().isEmpty()) {
        path = url.toLocalFile();
        break;
      }
    }
  }
  if (path.isEmpty()) return false;
  drop->setDropAction(Qt::CopyAction);
  drop->accept();
  if (event->type() == QEvent::Drop) {
    OfferFile(path);
    activateWindow();
  }
  return true;
}

bool frmVerify::eventFilter(QObject* watched, QEvent* event) {
  const auto type = event->type();
  if (type == QEvent::DragEnter || type == QEvent::DragMove || type == QEvent::Drop) {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget != nullptr && widget->window() == this && DropFile(event)) return true;
  }
  if (event->type() == QEvent::KeyPress) {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget != nullptr && widget->window() == this) {
      const int key = static_cast<QKeyEvent*>(event)->key();
      Form_KeyDown(key);
      return key == Qt::Key_Escape || key == Qt::Key_Return || key == Qt::Key_Enter;
    }
  }
  // Selecting the whole text on focus lets the next typing replace it.
  if (event->type() == QEvent::FocusIn && (watched == txtUserId || watched == txtPassword)) {
    auto* box = static_cast<QLineEdit*>(watched);
    // After the focus change a mouse press would place the cursor again; select afterwards.
    QTimer::singleShot(0, box, [box] { box->selectAll(); });
  }
  return QWidget::eventFilter(watched, event);
}

// The emblem is rendered for the screen the window is on; a move to a screen with another
// scale renders it again.
void frmVerify::RefreshEmblem() {
  const qreal ratio = devicePixelRatioF();
  if (imgEmblem->pixmap().devicePixelRatio() == ratio && !imgEmblem->pixmap().isNull()) return;
  imgEmblem->setPixmap(DrawEmblem(emblem_size_, ratio));
}

void frmVerify::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (QWindow* window = windowHandle(); window != nullptr && !screen_watched_) {
    connect(window, &QWindow::screenChanged, this, [this] { RefreshEmblem(); });
    screen_watched_ = true;
  }
  RefreshEmblem();
}

void frmVerify::closeEvent(QCloseEvent* event) {
  Form_Unload();
  event->accept();
}

// The window closes even when the folder cannot go: the operator is told, and the next run or
// start removes it.
void frmVerify::Form_Unload() {
  SaveRemembered();
  try {
    RemoveUnzipFolder();
  } catch (const std::exception& failure) {
    module_.ShowInfo(DescriptionOf(failure), this);
  }
}

void frmVerify::RemoveUnzipFolder() {
  if (!sUnzipFolder_.isEmpty() && platform::FolderExists(sUnzipFolder_.toStdString()))
    RemoveFolder(sUnzipFolder_);
}

void RemoveFolder(const QString& path) {
  platform::RemoveOwnFolder(path.toStdString());
}

}  // namespace vellum::desk
