// The verify command of frmVerify: checks, names, the attempts against the library, the closing
// report, and the failure handler that covers all of it.
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>

#include "desk/file_kind.h"
#include "desk/frm_verify.h"
#include "desk/trust_notes.h"
#include "library/platform/error.h"
#include "library/platform/files.h"
#include "library/platform/text.h"

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
const QString kUnzipFolderName = QStringLiteral("UnZip");
const QString kRestoredFile = QStringLiteral("Restored file: ");

// The failure handler's choice of message depends on how far the command got.
enum Stage : int { kStageStart = 0, kStageNames = 1, kStageLibrary = 2 };

}  // namespace

// One library call as the attempts plan it: VerifyZipFile or VerifyFile, and the encoding.
struct frmVerify::Call {
  bool zip;
  bool binary;
};

struct frmVerify::Padding {
  QString client;
  QString pass;
};

struct frmVerify::MadeCall {
  bool zip;
  bool binary;
  QString client;
  QString pass;
  friend bool operator==(const MadeCall&, const MadeCall&) = default;
};

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
  std::vector<MadeCall> made;               // the calls made so far, with their padding
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
  if (!run.path.isEmpty()) {
    NoteFolderOf(run.path);
    SaveRemembered();
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
  // An operator who picks the detached signature instead of its document would otherwise ask
  // for the signature of the signature; when that does not exist and the document does, the
  // pair is verified.
  if (KindOfFile(run.path) == FileKind::kDetachedSignature &&
      !platform::FileExists(run.signature_file.toStdString())) {
    if (const QString document = DocumentOfSignature(run.path); !document.isEmpty()) {
      run.signature_file = run.path;
      run.results.sOriginalFName = document;
    }
  }
  run.iStage = kStageLibrary;
}

// The padding attempts. A signature made with the other padding length fails at the current
// one, so every method the format calls for is tried at both lengths in each run, whatever
// earlier runs left: first the current padding, then the switched one ("10" and "20" swap;
// only the user id's length is tested, and any other value has nothing to switch to). A call
// the run has already made with the same padding is not made again. The padding that verified
// the file stays for the next run; after a failure the run's first padding stays.
void frmVerify::VerifySeparate(VerifyRun& run) {
  DeriveSeparateNames(run);
  const Calls method{{run.position != 1, run.bBinary}};
  run.ok = TryAttempts(run, {{&method, false}, {&method, true}});
  if (run.ok) {
    run.sVerifiedFile = run.results.sOriginalFName;
    run.sReport = kVerifiedSeparate;
  } else {
    module_.ShowInfo(run.results.VerifyErr, this);
  }
}

// The first attempt tests for "Old" (position 0) where the later ones test for "New"
// (position 1); with both entries in the list the two tests pick different calls. Where
// VerifyFile is not called, VerifyZipFile runs as text and then with the box's encoding; a
// last packed attempt closes the run.
void frmVerify::VerifyContent(VerifyRun& run) {
  run.signature_file = run.path;
  run.results.sOriginalFName.clear();
  const Calls verify_file{{false, run.bBinary}};
  const Calls zip_pair{{true, false}, {true, run.bBinary}};
  const Calls last{{true, run.bBinary}};
  const Calls& first = run.position == 0 ? verify_file : zip_pair;
  const Calls& later = run.position == 1 ? verify_file : zip_pair;
  run.ok = TryAttempts(
      run, {{&first, false}, {&later, true}, {&first, true}, {&later, false}, {&last, false}});
  if (run.ok) {
    run.sVerifiedFile = run.results.sOriginalFName;
    run.sReport = kVerifiedContent;
  } else {
    module_.ShowInfo(run.results.VerifyErr, this);
  }
}

bool frmVerify::TryAttempts(VerifyRun& run, const std::vector<Attempt>& attempts) {
  const Padding first{module_.sClient, module_.sPass};
  Padding switched = first;
  if (first.client == u"10") {
    switched.client = switched.pass = QStringLiteral("20");
  } else if (first.client == u"20") {
    switched.client = switched.pass = QStringLiteral("10");
  }
  bool first_attempt = true;  // the id and password were padded to the first padding already
  for (const Attempt& attempt : attempts) {
    const Padding& padding = attempt.switched ? switched : first;
    Calls due;
    for (const Call& call : *attempt.calls) {
      const MadeCall made{call.zip, call.binary, padding.client, padding.pass};
      if (std::find(run.made.begin(), run.made.end(), made) == run.made.end()) {
        run.made.push_back(made);
        due.push_back(call);
      }
    }
    if (due.empty()) continue;
    if (!first_attempt) {
      module_.sClient = padding.client;
      module_.sPass = padding.pass;
      PadAgain(run);
    }
    first_attempt = false;
    for (const Call& call : due)
      if (CallLibrary(run, call.zip, call.binary)) return true;
  }
  module_.sClient = first.client;
  module_.sPass = first.pass;
  return false;
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

// Each later attempt reads the user id and password from the boxes again and pads them to the
// lengths now in force; the result is not tested, as the boxes were checked before.
void frmVerify::PadAgain(VerifyRun& run) {
  run.sUseriD = TrimBlanks(txtUserId->text());
  run.sPassword = TrimBlanks(txtPassword->text());
  ValidateUidPwd(run.sUseriD, run.sPassword);
}

void frmVerify::ClosingReport(VerifyRun& run) {
  run.sReport += kDetailsHeading;
  // The library fills the details only after a successful verification.
  if (!run.results.sArrVerifyingCertificateDetails) throw Error::Runtime(rt::kTypeMismatch);
  const QStringList& details = *run.results.sArrVerifyingCertificateDetails;
  for (qsizetype i = 0; i < details.size(); ++i)
    run.sReport += kCertificateNumber + QString::number(i + 1) + QLatin1String(kCrLf) + details[i] +
                   QLatin1String(kCrLf);
  // The trust answer follows the report; when Config.ini requires trust, a signer that is not
  // trusted ends the run as a failure instead, and the verified file is not opened.
  const TrustNotes notes =
      ReadTrustNotes(run.results.sTrustReport, run.results.VerifyErr, module_.bRequireTrust);
  if (!notes.failure.isEmpty()) {
    module_.ShowInfo(notes.failure, this);
    RemoveUnzipFolder();
    return;
  }
  for (const QString& stamp : notes.timestamps) run.sReport += stamp + QLatin1String(kCrLf);
  for (const QString& warning : notes.warnings) run.sReport += warning + QLatin1String(kCrLf);
  BoxContent box = VellumModule::SuccessBox(run.sReport);
  // Content restored from inside the signature lands where the library chose (beside the
  // signature or in the temporary folder): the box names it and offers its folder.
  if (!run.bSeparate && run.ok && !run.sVerifiedFile.isEmpty()) {
    box.notes << kRestoredFile + run.sVerifiedFile;
    box.folder = QFileInfo(run.sVerifiedFile).absolutePath();
  }
  module_.Show(box, this);
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
