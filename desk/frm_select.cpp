#include "desk/frm_select.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "desk/emblem.h"
#include "library/platform/error.h"

namespace vellum::desk {
namespace {

constexpr std::int32_t kDeviceUnavailable = 68;
constexpr int kPathRole = Qt::UserRole;

const QString kListTip = QStringLiteral("To click on \"click here\" to select file to be signed.");

QString DescriptionOf(const std::exception& failure) {
  if (const auto* error = dynamic_cast<const Error*>(&failure))
    return QString::fromStdString(error->description());
  return QString::fromUtf8(failure.what());
}

QString Joined(const QString& folder, const QString& name) {
  return folder + kSeparator + name;
}

}  // namespace

frmSelect::frmSelect(VellumModule& module, QLineEdit* caller_file_box, QWidget* owner)
    : QDialog(owner), module_(module), caller_file_box_(caller_file_box) {
  setObjectName(QStringLiteral("frmSelect"));
  setWindowTitle(QStringLiteral("Select "));
  setModal(true);
  setFont(DeskFont(font()));

  auto* heading = new QLabel(QStringLiteral("Select File/ Folder"), this);
  QFont bold = heading->font();
  bold.setBold(true);
  bold.setPointSizeF(bold.pointSizeF() * 1.25);
  heading->setFont(bold);
  auto* note =
      new QLabel(QStringLiteral("Select only those File/Folder to be Signed or Verifyed"), this);
  auto* image = new QLabel(this);
  image->setPixmap(DrawEmblem(40, devicePixelRatioF()));

  lstDrive = new QComboBox(this);
  lstDrive->setObjectName(QStringLiteral("lstDrive"));
  // A long mount point must not widen the folder column at the file list's expense.
  lstDrive->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  lstDrive->setMinimumContentsLength(12);
  for (const QString& root : module_.mounted_volumes()()) lstDrive->addItem(root, root);
  lstDir = new QTreeWidget(this);
  lstDir->setObjectName(QStringLiteral("lstDir"));
  lstDir->setHeaderHidden(true);
  lstDir->setColumnCount(1);
  lstFile = new QListWidget(this);
  lstFile->setObjectName(QStringLiteral("lstFile"));
  cmdOk = new QPushButton(QStringLiteral("&OK"), this);
  cmdOk->setObjectName(QStringLiteral("cmdOk"));
  cmdExit = new QPushButton(QStringLiteral("E&xit"), this);
  cmdExit->setObjectName(QStringLiteral("cmdExit"));
  for (QPushButton* button : {cmdOk, cmdExit}) button->setAutoDefault(false);

  auto* drive_label = new QLabel(QStringLiteral("Drive :"), this);
  drive_label->setObjectName(QStringLiteral("lblDrive"));
  auto* folder_label = new QLabel(QStringLiteral("Folder :"), this);
  auto* file_label = new QLabel(QStringLiteral("File :"), this);
  for (QLabel* label : {drive_label, folder_label, file_label}) label->setToolTip(kListTip);

  auto* top = new QHBoxLayout;
  top->addWidget(image);
  auto* headings = new QVBoxLayout;
  headings->addWidget(heading);
  headings->addWidget(note);
  top->addLayout(headings, 1);
  auto* grid = new QGridLayout;
  grid->addWidget(drive_label, 0, 0);
  grid->addWidget(lstDrive, 1, 0);
  grid->addWidget(folder_label, 2, 0);
  grid->addWidget(lstDir, 3, 0);
  grid->addWidget(file_label, 0, 1);
  grid->addWidget(lstFile, 1, 1, 3, 1);
  grid->setRowStretch(3, 1);
  // Signature names are long ("report_ContentSignature.trel"): the file list gets the larger
  // share of the width.
  grid->setColumnStretch(0, 2);
  grid->setColumnStretch(1, 3);
  lstFile->setMinimumWidth(lstFile->fontMetrics().horizontalAdvance(
      QStringLiteral("quarterly-report_ContentSignature.trel")));
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(cmdOk);
  buttons->addWidget(cmdExit);
  auto* outer = new QVBoxLayout(this);
  outer->addLayout(top);
  outer->addLayout(grid, 1);
  outer->addLayout(buttons);
  const int line = fontMetrics().height();
  resize(line * 48, line * 26);

  connect(lstDrive, &QComboBox::currentIndexChanged, this, [this] { lstDrive_Change(); });
  connect(lstDir, &QTreeWidget::itemClicked, this, [this] { lstDir_Change(); });
  connect(lstDir, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
    Guarded([&] { OpenFolder(item->data(0, kPathRole).toString()); });
  });
  connect(lstFile, &QListWidget::itemClicked, this, [this] { lstFile_Click(); });
  connect(lstFile, &QListWidget::itemDoubleClicked, this, [this] {
    lstFile_Click();
    cmdOk_Click();
  });
  connect(cmdOk, &QPushButton::clicked, this, [this] { cmdOk_Click(); });
  connect(cmdExit, &QPushButton::clicked, this, [this] { cmdExit_Click(); });
  qApp->installEventFilter(this);
}

frmSelect::~frmSelect() {
  qApp->removeEventFilter(this);
}

template <class Handler>
void frmSelect::Guarded(Handler&& handler) {
  try {
    handler();
  } catch (const std::exception& failure) {
    module_.ShowInfo(DescriptionOf(failure), this);
  }
}

// A file shown highlighted (the file box named it) is the choice until the operator moves to
// the folder list: OK at once hands back that file, not its folder.
void frmSelect::Load() {
  SetDrive(module_.sDrive);
  SetFolder(module_.sFolder);
  SetFileFolder(module_.sFileFolder);
  module_.bFolderSelected = lstFile->currentItem() == nullptr;
}

void frmSelect::SetDrive(const QString& root) {
  const int index = lstDrive->findData(root);
  if (index < 0) throw Error::Runtime(kDeviceUnavailable, "Device unavailable");
  if (index == lstDrive->currentIndex()) {
    lstDrive_Change();  // the list starts on its first volume: opening on it is a change too
  } else {
    lstDrive->setCurrentIndex(index);
  }
}

void frmSelect::lstDrive_Change() {
  Guarded([&] { OpenFolder(lstDrive->currentData().toString()); });
}

void frmSelect::OpenFolder(const QString& path) {
  SetFolder(path);
  lstDir_Change();
}

// The folder list shows the way down from the root to the current folder, and the current
// folder's own subfolders below it.
void frmSelect::SetFolder(const QString& path) {
  const QFileInfo info(path);
  if (path.isEmpty() || !info.isDir()) throw Error::Runtime(rt::kPathNotFound);
  const QString folder = QDir::cleanPath(info.absoluteFilePath());
  const QStyle* style = this->style();
  const QIcon open_icon = style->standardIcon(QStyle::SP_DirOpenIcon);
  const QIcon closed_icon = style->standardIcon(QStyle::SP_DirClosedIcon);

  QSignalBlocker quiet(lstDir);
  lstDir->clear();
  auto* item = new QTreeWidgetItem(lstDir, {QString(kSeparator)});
  item->setData(0, kPathRole, QString(kSeparator));
  item->setIcon(0, open_icon);
  QString walked;
  for (const QString& part : folder.split(kSeparator, Qt::SkipEmptyParts)) {
    walked += kSeparator + part;
    item = new QTreeWidgetItem(item, {part});
    item->setData(0, kPathRole, walked);
    item->setIcon(0, open_icon);
  }
  QTreeWidgetItem* current = item;
  const QStringList children =
      QDir(folder).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
  for (const QString& child : children) {
    auto* sub = new QTreeWidgetItem(current, {child});
    sub->setData(0, kPathRole,
                 folder == u"/" ? QString(kSeparator) + child : Joined(folder, child));
    sub->setIcon(0, closed_icon);
  }
  lstDir->expandAll();
  lstDir->setCurrentItem(current);
  lstDir->scrollToItem(current);
  dir_path_ = folder;
}

void frmSelect::lstDir_Change() {
  Guarded([&] {
    module_.bFolderSelected = true;
    SetFileFolder(dir_path_);
  });
}

// What the file list opens on when it is handed something other than a folder: a file shows
// its own folder with the file highlighted; an empty or missing path shows the folder list's
// current folder. (After a completed verification the file box is empty, and a typed path may
// name nothing.)
void frmSelect::SetFileFolder(const QString& path) {
  const QFileInfo info(path);
  QString folder = dir_path_;
  QString highlight;
  if (!path.isEmpty() && info.isDir()) {
    folder = QDir::cleanPath(info.absoluteFilePath());
  } else if (!path.isEmpty() && info.isFile()) {
    folder = QDir::cleanPath(info.absolutePath());
    highlight = info.fileName();
  }
  QSignalBlocker quiet(lstFile);
  lstFile->clear();
  lstFile->addItems(QDir(folder).entryList(QDir::Files, QDir::Name | QDir::IgnoreCase));
  if (!highlight.isEmpty()) {
    const auto found = lstFile->findItems(highlight, Qt::MatchExactly);
    if (!found.isEmpty()) lstFile->setCurrentItem(found.front());
  }
  file_folder_ = folder;
}

void frmSelect::lstFile_Click() {
  module_.bFolderSelected = false;
}

QString frmSelect::HighlightedFolder() const {
  const QTreeWidgetItem* item = lstDir->currentItem();
  return item != nullptr ? item->data(0, kPathRole).toString() : dir_path_;
}

void frmSelect::cmdOk_Click() {
  try {
    QString choice;
    if (module_.bFolderSelected) {
      module_.sSelectedFolder = HighlightedFolder();
      choice = module_.sSelectedFolder;
    } else {
      const QListWidgetItem* file = lstFile->currentItem();
      // In the root this gives a doubled separator, which the verify command collapses.
      module_.sSelectedFile = Joined(file_folder_, file != nullptr ? file->text() : QString());
      choice = module_.sSelectedFile;
    }
    if (module_.iPickerCaller == 1 && caller_file_box_ != nullptr)
      caller_file_box_->setText(choice);
    module_.sDrive = lstDrive->currentData().toString();
    module_.sFolder = dir_path_;
    module_.sFileFolder = file_folder_;
    done(QDialog::Accepted);
  } catch (const std::exception& failure) {
    module_.ShowInfo(DescriptionOf(failure), this);
    module_.sSelectedFile.clear();
    module_.sSelectedFolder.clear();
  }
}

void frmSelect::cmdExit_Click() {
  done(QDialog::Rejected);
  module_.sSelectedFile.clear();
  module_.sSelectedFolder.clear();
}

bool frmSelect::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget != nullptr && widget->window() == this) {
      const int key = static_cast<QKeyEvent*>(event)->key();
      if (VellumModule::UnloadOnEscape(key, *this)) return true;
      if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        cmdOk_Click();
        return true;
      }
      // Moving through the file list with the keys chooses a file as a click does; otherwise
      // arrowing to a file and pressing Enter would hand back its folder.
      const bool moves = key == Qt::Key_Up || key == Qt::Key_Down || key == Qt::Key_PageUp ||
                         key == Qt::Key_PageDown || key == Qt::Key_Home || key == Qt::Key_End;
      if (moves && widget == lstFile && lstFile->count() > 0) lstFile_Click();
    }
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace vellum::desk
