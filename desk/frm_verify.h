// frmVerify: the desk's main window. The handlers keep the procedure names that the numbered
// reports print ("in prjVerifyMoravel.frmVerify.Form_Load at line 116").
#pragma once

#include <QString>
#include <QWidget>

#include "desk/digital_sign.h"
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

  // Reads Config.ini from `program_folder` and puts the window into its first state.
  void Form_Load(const QString& program_folder);

  // Trims both values, refuses an empty one, and pads each with "*" to the configured length.
  bool ValidateUidPwd(QString& sUseriD, QString& sPassword);
  // True when a format is chosen.
  bool Validate();

  void cmdVerify_Click();
  void cmdSelectOriginalFile_Click();
  void cmdExit_Click();
  void chkAttachContent_Click();

  // The folder the verify command removes: the file box's folder followed by "UnZip".
  const QString& sUnzipFolder() const { return sUnzipFolder_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  // The window sees key presses before its controls, so Enter and Escape work anywhere in it.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct VerifyRun;

  void BuildControls();
  void Form_KeyDown(int key);
  void Form_Unload();
  template <class Step>
  void Numbered(const char* procedure, int line, Step&& step);
  void Pad(QString& value, const QString& length, int line);
  void SelectFormat();

  // The verify command, in the order it runs.
  void Verify(VerifyRun& run);
  void DeriveSeparateNames(VerifyRun& run);
  void VerifySeparate(VerifyRun& run);
  void VerifyContent(VerifyRun& run);
  bool CallLibrary(VerifyRun& run, bool zip, bool binary);
  bool CallZipPair(VerifyRun& run);
  void NextAttempt(VerifyRun& run, bool switch_padding);
  void ClosingReport(VerifyRun& run);
  void ResetWindow();
  void VerifyFailed(const VerifyRun& run, std::int32_t number, const QString& description);
  void EnableButtons();
  void RemoveUnzipFolder();

  VellumModule& module_;
  DigitalSignFactory factory_;
  QString sUnzipFolder_;

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
};
// NOLINTEND(readability-identifier-naming)

// Removes a folder and everything in it. Nothing is forced: whatever the system refuses to
// remove raises the file error.
void RemoveFolder(const QString& path);

}  // namespace vellum::desk
