// The verify command's view of the library's DigitalSign object: the three methods it calls,
// with the arguments in the desk's own types. ComDigitalSign maps them onto the binary
// interface; tests put a scripted object in its place.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "library/com/client.h"
#include "vellum/host.h"

namespace vellum::desk {

class DeskUi;

// What one verify call is given and does not get back.
struct VerifyArguments {
  QString sFingerprintFName;
  bool bContentAndSignatureInSeparateFiles = true;
  bool bBinaryEncoding = false;
  // The check box's own value (0 or 1), not a Boolean: the library then leaves the opening to
  // the desk, which opens the file after its report.
  std::int16_t bOpenFileAfterVerifyContentSign = 0;
  QString sUseriD;
  QString sPassword;
  bool bDecryptFile = false;
};

// What the library may change. One instance lives through all attempts of a run: each call
// sees what the previous one left.
struct VerifyResults {
  QString sOriginalFName;
  QString VerifyErr;
  std::optional<QStringList> sArrVerifyingCertificateDetails;  // empty until the library fills it
  // The library's trust report of the last call (JSON, {"signers":[…]}); empty from a library
  // without the trust interface.
  QString sTrustReport;
};

// A call that fails instead of answering raises vellum::Error with the HRESULT.
class DigitalSignApi {
 public:
  virtual ~DigitalSignApi() = default;
  virtual bool VerifyFile(const VerifyArguments& in, VerifyResults& out) = 0;
  virtual bool VerifyZipFile(const VerifyArguments& in, VerifyResults& out) = 0;
  virtual bool StartDoc(const QString& DocName, QString& sErrStartDoc) = 0;
};

// Makes one DigitalSign object; raises vellum::Error when the class cannot be created.
using DigitalSignFactory = std::function<std::unique_ptr<DigitalSignApi>()>;

// Creates DigitalSign through the registry by its CLSID. On the first creation it also
// installs the desk's message and progress hooks in the library, so the Zip class's messages
// appear as desk boxes and a long verification as the desk's progress window; the hooks are
// removed when the factory goes. Each verification keeps the desk busy (DeskUi::Busy) while
// the library works.
class ComDigitalSignFactory {
 public:
  explicit ComDigitalSignFactory(DeskUi& ui) : ui_(ui) {}
  ComDigitalSignFactory(const ComDigitalSignFactory&) = delete;
  ComDigitalSignFactory& operator=(const ComDigitalSignFactory&) = delete;

  std::unique_ptr<DigitalSignApi> Create();

 private:
  DeskUi& ui_;
  com::HostHookInstallation hooks_;
};

// The description the desk shows when DigitalSign cannot be created.
QString CreationFailureText(std::int32_t hresult);

}  // namespace vellum::desk
