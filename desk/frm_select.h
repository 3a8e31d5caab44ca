// frmSelect: the modal file and folder picker. Its results are the caller's file box and the
// shared settings (chosen file or folder, whether a folder was chosen, where to open next).
#pragma once

#include <QDialog>
#include <QString>

#include "desk/vellum_module.h"

class QComboBox;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace vellum::desk {

// NOLINTBEGIN(readability-identifier-naming): control and handler names as the window knows them.
class frmSelect : public QDialog {
  Q_OBJECT

 public:
  // `caller_file_box` receives the choice when the main window opened the picker.
  frmSelect(VellumModule& module, QLineEdit* caller_file_box, QWidget* owner);
  ~frmSelect() override;

  // Opens on the remembered drive and folders. A drive that is not mounted or a folder that
  // does not exist raises the error; the caller reports it and does not show the picker.
  void Load();

  void cmdOk_Click();
  void cmdExit_Click();

  // The folder list's current folder and the folder the file list shows.
  const QString& CurrentFolder() const { return dir_path_; }
  const QString& FileListFolder() const { return file_folder_; }
  // Opens `path` in the folder list, as a double click on it does.
  void OpenFolder(const QString& path);

 protected:
  // The picker sees key presses before its lists: Enter is OK, Escape closes.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  template <class Handler>
  void Guarded(Handler&& handler);
  void SetDrive(const QString& root);
  void SetFolder(const QString& path);
  void SetFileFolder(const QString& path);
  QString HighlightedFolder() const;
  void lstDrive_Change();
  void lstDir_Change();
  void lstFile_Click();

  VellumModule& module_;
  QLineEdit* caller_file_box_;
  QString dir_path_;
  QString file_folder_;

  QComboBox* lstDrive = nullptr;
  QTreeWidget* lstDir = nullptr;
  QListWidget* lstFile = nullptr;
  QPushButton* cmdOk = nullptr;
  QPushButton* cmdExit = nullptr;
};
// NOLINTEND(readability-identifier-naming)

}  // namespace vellum::desk
