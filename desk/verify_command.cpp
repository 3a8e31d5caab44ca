// The verify command of frmVerify: checks, names, the attempts against the library, the closing
// report, and the failure handler that covers all of it.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include "desk/frm_verify.h"
#include "library/platform/error.h"
#include "library/platform/files.h"

namespace vellum::desk {
namespace {

const QString kNoFile =
    QStringLiteral("No files selected for verification.......\r\nSelect valid file.");
const QString kFolderNotFile = QStringLiteral(
    "Please selected file, not folder for verification.......\r\nSelect valid file.");
const QString kFolderChosen =
    QStringLiteral("You have selected the Folder to be verified. Please Select file. ");
const QString kInvalidFilename = QStringLiteral("Invalid Filename Format.");
const QString kVerifiedSeparate = QStringLiteral("File verified. ");
const QString kVerifiedContent = QStringLiteral("File verified.  ");
const QString kDetailsHeading = QStringLiteral("Details of the verifying cetificate(s) are:\r\n");
const QString kCertificateNumber = QStringLiteral("Verifying certificate no. ");
const QString kCrLf = QStringLiteral("\r\n");
const QString kUnzipFolderName = QStringLiteral("UnZip");

// The failure handler's choice of message depends on how far the command got.
enum Stage : int { kStageStart = 0, kStageNames = 1, kStageLibrary = 2 };

}  // namespace

struct frmVerify::VerifyRun {
  QString sUseriD;
  QString sPassword;
  bool bOpen = false;
  bool bBinary = false;
  bool bSeparate = true;
  bool bDecrypt = false;
  QString path;
  QString signature_file;
  int position = -1;  // the format list's selected position
  VerifyResults results;
  bool ok = false;
  int iStage = kStageStart;
  QString sVerifiedFile;
  QString sReport;
  std::unique_ptr<DigitalSignApi> library;  // created at the first call, released at the end
};

void frmVerify::cmdVerify_Click() {
  VerifyRun run;
  try {
    Verify(run);
  } catch (const Error& failure) {
    VerifyFailed(run, failure.number(), QString::fromStdString(failure.description()));
  } catch (const std::exception& failure) {
    VerifyFailed(run, 0, QString::fromUtf8(failure.what()));
  }
}

void frmVerify::Verify(VerifyRun& run) {
  const QString text = lblOriginalFName->text();
  const QString trimmed = TrimBlanks(text);
  if (trimmed.isEmpty() || trimmed.endsWith(kSeparator)) {
    module_.ShowInfo(trimmed.isEmpty() ? kNoFile : kFolderNotFile, this);
    lblOriginalFName->clear();
    lblOriginalFName->setFocus();
    return;
  }

  cmdExit->setEnabled(false);
  cmdVerify->setEnabled(false);
  cmdSelectOriginalFile->setEnabled(false);
  run.sUseriD = TrimBlanks(txtUserId->text());
  run.sPassword = TrimBlanks(txtPassword->text());
  if (!ValidateUidPwd(run.sUseriD, run.sPassword) || !Validate()) {
    EnableButtons();
    return;
  }

  run.bOpen = chkOpenFileAfterVerifySign->isChecked();
  run.bBinary = chkBinary->isChecked();
  run.bSeparate = !chkAttachContent->isChecked();
  run.bDecrypt = chkAttachContent->isChecked() && chkDecrypt->isChecked();
  sUnzipFolder_ = text.left(text.lastIndexOf(kSeparator) + 1) + kUnzipFolderName;
  // A file picked in the root of a volume arrives with a doubled separator.
  run.path = text;
  run.path.replace(QString(2, kSeparator), QString(kSeparator));
  run.position = cboFormat->currentIndex();

  if (module_.bFolderSelected) {
    module_.ShowInfo(kFolderChosen, this);
    ResetWindow();
    return;
  }
  if (run.bSeparate) {
    VerifySeparate(run);
  } else {
    VerifyContent(run);
  }
  ClosingReport(run);
  ResetWindow();
}

// The detached signature of a.txt is a_Signature.txt; the last "." of the whole path counts,
// also one in a folder name.
void frmVerify::DeriveSeparateNames(VerifyRun& run) {
  run.iStage = kStageNames;
  const qsizetype dot = run.path.lastIndexOf(u'.');
  if (dot < 0) throw Error::Runtime(rt::kInvalidCall);
  run.signature_file = run.path.left(dot) + QStringLiteral("_Signature.") + run.path.mid(dot + 1);
  run.results.sOriginalFName = run.path;
  run.iStage = kStageLibrary;
}

void frmVerify::VerifySeparate(VerifyRun& run) {
  DeriveSeparateNames(run);
  const bool new_format = run.position == 1;
  run.ok = CallLibrary(run, !new_format, run.bBinary);
  if (!run.ok) {
    NextAttempt(run, true);
    run.ok = CallLibrary(run, !new_format, run.bBinary);
  }
  if (!run.ok) {
    NextAttempt(run, false);
    run.ok = CallLibrary(run, !new_format, run.bBinary);
  }
  if (run.ok) {
    run.sVerifiedFile = run.results.sOriginalFName;
    run.sReport = kVerifiedSeparate;
  } else {
    module_.ShowInfo(run.results.VerifyErr, this);
  }
}

// The first attempt tests for "Old" (position 0) where the later ones test for "New"
// (position 1); with both entries in the list the two tests pick the same calls.
void frmVerify::VerifyContent(VerifyRun& run) {
  run.signature_file = run.path;
  run.results.sOriginalFName.clear();
  run.ok = run.position == 0 ? CallLibrary(run, false, run.bBinary) : CallZipPair(run);
  for (bool switch_padding : {true, false}) {
    if (run.ok) break;
    NextAttempt(run, switch_padding);
    run.ok = run.position == 1 ? CallLibrary(run, false, run.bBinary) : CallZipPair(run);
  }
  if (!run.ok) run.ok = CallLibrary(run, true, run.bBinary);
  if (run.ok) {
    run.sVerifiedFile = run.results.sOriginalFName;
    run.sReport = kVerifiedContent;
  } else {
    module_.ShowInfo(run.results.VerifyErr, this);
  }
}

bool frmVerify::CallZipPair(VerifyRun& run) {
  return CallLibrary(run, true, false) || CallLibrary(run, true, run.bBinary);
}

bool frmVerify::CallLibrary(VerifyRun& run, bool zip, bool binary) {
  if (!run.library) run.library = factory_();
  VerifyArguments in;
  in.sFingerprintFName = run.signature_file;
  in.bContentAndSignatureInSeparateFiles = run.bSeparate;
  in.bBinaryEncoding = binary;
  in.bOpenFileAfterVerifyContentSign = chkOpenFileAfterVerifySign->isChecked() ? 1 : 0;
  in.sUseriD = run.sUseriD;
  in.sPassword = run.sPassword;
  in.bDecryptFile = run.bDecrypt;
  return zip ? run.library->VerifyZipFile(in, run.results)
             : run.library->VerifyFile(in, run.results);
}

// A signature made with the other padding length fails the first attempt; the switch lasts for
// the rest of the run and the runs after it.
void frmVerify::NextAttempt(VerifyRun& run, bool switch_padding) {
  run.sUseriD = TrimBlanks(txtUserId->text());
  run.sPassword = TrimBlanks(txtPassword->text());
  if (switch_padding) {
    if (module_.sClient == u"10") {
      module_.sClient = module_.sPass = QStringLiteral("20");
    } else if (module_.sClient == u"20") {
      module_.sClient = module_.sPass = QStringLiteral("10");
    }
  }
  ValidateUidPwd(run.sUseriD, run.sPassword);
}

void frmVerify::ClosingReport(VerifyRun& run) {
  run.sReport += kDetailsHeading;
  // The library fills the details only after a successful verification.
  if (!run.results.sArrVerifyingCertificateDetails) throw Error::Runtime(rt::kTypeMismatch);
  const QStringList& details = *run.results.sArrVerifyingCertificateDetails;
  for (qsizetype i = 0; i < details.size(); ++i)
    run.sReport += kCertificateNumber + QString::number(i + 1) + kCrLf + details[i] + kCrLf;
  module_.ShowSuccess(run.sReport, this);
  if (run.bOpen && run.ok) {
    run.ok = run.library->StartDoc(run.sVerifiedFile, run.results.VerifyErr);
    if (!run.ok) module_.ShowInfo(run.results.VerifyErr, this);
  }
  RemoveUnzipFolder();
}

void frmVerify::ResetWindow() {
  lblOriginalFName->clear();
  EnableButtons();
  txtUserId->clear();
  txtPassword->clear();
}

void frmVerify::EnableButtons() {
  cmdExit->setEnabled(true);
  cmdVerify->setEnabled(true);
  cmdSelectOriginalFile->setEnabled(true);
}

void frmVerify::VerifyFailed(const VerifyRun& run, std::int32_t number,
                             const QString& description) {
  if (number == rt::kFileNotFound) {
    module_.ShowInfo(description, this);
  } else {
    if (run.iStage == kStageNames) {
      module_.ShowInfo(kInvalidFilename, this);
    } else if (run.iStage == kStageLibrary || number < 0) {
      // Before the first call in content mode the stage is still 0; a library that cannot be
      // created or a call that fails is still reported there, never passed over in silence.
      module_.ShowInfo(description, this);
    }
    lblOriginalFName->clear();
  }
  EnableButtons();
  txtUserId->clear();
  txtPassword->clear();
  // The extraction folder holds the signature taken out of an archive: it goes on this path
  // too, not only after a report. A folder that will not go is left for the next run.
  try {
    RemoveUnzipFolder();
  } catch (const std::exception&) {
  }
}

}  // namespace vellum::desk
