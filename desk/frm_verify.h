// frmVerify: the desk's main window. The handlers keep the procedure names that the numbered
// reports print ("in prjVerifyMoravel.frmVerify.Form_Load at line 116").
#pragma once

#include <QString>
#include <QWidget>
#include <vector>

#include "desk/digital_sign.h"
#include "desk/remembered.h"
#include "desk/vellum_module.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace vellum::desk {

// NOLINTBEGIN(readability-identifier-naming): the window, control and handler names are the
// ones the operators' reports and the settings files know.
class frmVerify : public QWidget {
  Q_OBJECT

 public:
  frmVerify(VellumModule& module, DigitalSignFactory factory, QWidget* parent = nullptr);
  ~frmVerify() override;

  // Remember the folder, the chosen format and the option boxes in `file` (see remembered.h)
  // from the next load on; without it nothing is read or written.
  void RememberIn(const QString& file) { remembered_file_ = file; }

  // Reads Config.ini from `program_folder` and puts the window into its first state.
  void Form_Load(const QString& program_folder);

  // Trims both values, refuses an empty one, and pads each with "*" to the configured length.
  bool ValidateUidPwd(QString& sUseriD, QString& sPassword);
  // True when a format is chosen.
  bool Validate();

  // Puts `path` into the file box as the file to verify, as a path chosen in the picker,
  // typed or dropped on the window does: the picker's folder choice no longer counts, and the
  // format and content box follow the file's name where the format is not fixed.
  void OfferFile(const QString& path);

  void cmdVerify_Click();
  void cmdSelectOriginalFile_Click();
  void cmdExit_Click();
  void chkAttachContent_Click();

  // The folder the verify command removes: the file box's folder followed by "UnZip".
  const QString& sUnzipFolder() const { return sUnzipFolder_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  // The window sees key presses before its controls, so Enter and Escape work anywhere in it.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct VerifyRun;
  struct Call;
  struct Padding;
  struct MadeCall;
  using Calls = std::vector<Call>;
  // Calls to make at the run's first padding or at the switched one.
  struct Attempt {
    const Calls* calls;
    bool switched;
  };

  void BuildControls();
  void Form_KeyDown(int key);
  void Form_Unload();
  template <class Step>
  void Numbered(const char* procedure, int line, Step&& step);
  void Pad(QString& value, const QString& length, int line);
  void SelectFormat();
  void RefreshEmblem();
  void ApplyRememberedFolder();
  void ApplyRememberedOptions();
  void SaveRemembered();
  void NoteFolderOf(const QString& path);
  void lblOriginalFName_Change();
  void FollowFileName(const QString& path);
  bool DropFile(QEvent* event);

  // The verify command, in the order it runs.
  void Verify(VerifyRun& run);
  void DeriveSeparateNames(VerifyRun& run);
  void VerifySeparate(VerifyRun& run);
  void VerifyContent(VerifyRun& run);
  bool TryAttempts(VerifyRun& run, const std::vector<Attempt>& attempts);
  bool CallLibrary(VerifyRun& run, bool zip, bool binary);
  void PadAgain(VerifyRun& run);
  void ClosingReport(VerifyRun& run);
  void ResetWindow();
  void VerifyFailed(const VerifyRun& run, std::int32_t number, const QString& description);
  void EnableButtons();
  void RemoveUnzipFolder();

  // How the format list is set: fixed by Config.ini, chosen by the operator (format 3, with a
  // preselection from the file's name), or taken from each file's name (format 4, "Auto").
  enum class FormatMode { kFixed, kOperator, kAuto };

  VellumModule& module_;
  DigitalSignFactory factory_;
  QString sUnzipFolder_;
  FormatMode format_mode_ = FormatMode::kFixed;
  QString remembered_file_;
  Remembered remembered_;
  QString last_folder_;  // the folder of the file last verified, picked or dropped

  QLineEdit* lblOriginalFName = nullptr;
  QPushButton* cmdSelectOriginalFile = nullptr;
  QLineEdit* txtUserId = nullptr;
  QLineEdit* txtPassword = nullptr;
  QComboBox* cboFormat = nullptr;
  QCheckBox* chkAttachContent = nullptr;
  QCheckBox* chkDecrypt = nullptr;
  QCheckBox* chkBinary = nullptr;
  QCheckBox* chkOpenFileAfterVerifySign = nullptr;
  QPushButton* cmdVerify = nullptr;
  QPushButton* cmdExit = nullptr;
  QLabel* imgEmblem = nullptr;
  int emblem_size_ = 0;
  bool screen_watched_ = false;
};
// NOLINTEND(readability-identifier-naming)

// Removes a folder and everything in it, when it is an UnZip folder the library made (marked
// as its own); a folder of that name someone else made is left alone. Nothing is forced:
// whatever the system refuses to remove raises the file error.
void RemoveFolder(const QString& path);

}  // namespace vellum::desk
