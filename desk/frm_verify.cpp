#include "desk/frm_verify.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <cmath>
#include <filesystem>

#include "desk/emblem.h"
#include "desk/frm_select.h"
#include "library/platform/error.h"
#include "library/platform/files.h"

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
  setWindowIcon(QIcon(DrawEmblem(64)));
  BuildControls();
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
  image->setPixmap(DrawEmblem(image->fontMetrics().height() * 7 / 2));
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
  Numbered(kProc, 100, [&] { module_.ReadConfig(program_folder); });
  Numbered(kProc, 102, [&] { lblOriginalFName->setText(module_.sFilePath); });
  Numbered(kProc, 104, [&] { cboFormat->clear(); });
  Numbered(kProc, 106, [&] { cboFormat->addItem(QStringLiteral("Old")); });
  Numbered(kProc, 108, [&] {
    cboFormat->addItem(QStringLiteral("New"));
    // A combo box selects its first entry by itself; the list starts with no selection, so a
    // format that fails to select below leaves none rather than a silent "Old".
    cboFormat->setCurrentIndex(-1);
  });
  bool operator_chooses = false;
  Numbered(kProc, 110, [&] { operator_chooses = module_.sFormat == u"2"; });
  if (operator_chooses) {
    Numbered(kProc, 112, [&] {
      cboFormat->setEnabled(true);
      cboFormat->setCurrentIndex(-1);
    });
    return;
  }
  Numbered(kProc, 116, [&] { SelectFormat(); });
  Numbered(kProc, 118, [&] { cboFormat->setEnabled(false); });
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
    value += QString(static_cast<qsizetype>(missing), u'*');
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

bool frmVerify::eventFilter(QObject* watched, QEvent* event) {
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

void frmVerify::closeEvent(QCloseEvent* event) {
  Form_Unload();
  event->accept();
}

// The window closes even when the folder cannot go: the operator is told, and the next run or
// start removes it.
void frmVerify::Form_Unload() {
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
  std::error_code error;
  std::filesystem::remove_all(platform::PathFromUtf8(path.toStdString()), error);
  if (error) throw FileError(error.value(), path.toStdString());
}

}  // namespace vellum::desk
