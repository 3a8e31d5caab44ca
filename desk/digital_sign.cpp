#include "desk/digital_sign.h"

#include "desk/desk_ui.h"
#include "desk/vellum_module.h"
#include "library/com/bstr.h"
#include "library/com/client.h"
#include "library/com/variant.h"
#include "library/platform/error.h"
#include "vellum/host.h"
#include "vellum/vellum.h"

namespace vellum::desk {
namespace {

using com::Variant;

std::string Utf8(const QString& text) {
  return text.toStdString();
}
QString FromUtf8(const std::string& text) {
  return QString::fromStdString(text);
}

QString HexCode(std::int32_t hresult) {
  return QStringLiteral("0x%1").arg(static_cast<std::uint32_t>(hresult), 8, 16, QLatin1Char('0'));
}

Error CallFailure(const char* method, com::HRESULT hr) {
  return Error::Component(hr, Utf8(QStringLiteral("The library call %1 failed (%2).")
                                       .arg(QLatin1String(method), HexCode(hr))));
}

// The library's message box for the Zip class: a plain box with the application title.
void ShowLibraryMessage(void* context, const char* text) {
  auto* ui = static_cast<DeskUi*>(context);
  ui->ShowBox(nullptr, QString::fromUtf8(text), DeskUi::Icon::kNone, kApplicationTitle);
}

// The library's progress hook: the desk's progress window.
void ShowLibraryProgress(void* context, const char* operation, unsigned long long done,
                         unsigned long long total) {
  static_cast<DeskUi*>(context)->Progress(QString::fromUtf8(operation), done, total);
}

// The desk is busy for the length of one library call, however the call ends.
class BusyScope {
 public:
  explicit BusyScope(DeskUi& ui) : ui_(ui) { ui_.Busy(true); }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;
  ~BusyScope() { ui_.Busy(false); }

 private:
  DeskUi& ui_;
};

class ComDigitalSign : public DigitalSignApi {
 public:
  ComDigitalSign(com::ComPtr<_DigitalSign> object, DeskUi& ui)
      : object_(std::move(object)), ui_(ui) {
    // The trust interface verifies exactly as _DigitalSign does and adds the trust report; a
    // library without it is still used through _DigitalSign.
    if (com::Failed(object_->QueryInterface(IID__DigitalSignTrust, trust_.out()))) trust_.Reset();
  }

  bool VerifyFile(const VerifyArguments& in, VerifyResults& out) override {
    return Verify(in, out, false);
  }
  bool VerifyZipFile(const VerifyArguments& in, VerifyResults& out) override {
    return Verify(in, out, true);
  }

  bool StartDoc(const QString& DocName, QString& sErrStartDoc) override {
    com::Bstr doc(Utf8(DocName));
    com::Bstr error(Utf8(sErrStartDoc));
    com::VARIANT_BOOL result = com::VARIANT_FALSE;
    const com::HRESULT hr = object_->StartDoc(doc.Address(), error.Address(), &result);
    if (com::Failed(hr)) throw CallFailure("StartDoc", hr);
    sErrStartDoc = FromUtf8(error.Utf8());
    return result != com::VARIANT_FALSE;
  }

 private:
  // Every argument the library may write to is a reference to a variable of this call, which
  // is read back afterwards, the way a caller's own variables are passed by reference.
  bool Verify(const VerifyArguments& in, VerifyResults& out, bool zip) {
    BusyScope busy(ui_);
    Variant fingerprint = Variant::Text(Utf8(in.sFingerprintFName));
    Variant separate = Variant::Bool(in.bContentAndSignatureInSeparateFiles);
    Variant binary = Variant::Bool(in.bBinaryEncoding);
    Variant details = out.sArrVerifyingCertificateDetails ? DetailsVariant(out) : Variant();
    Variant original = Variant::Text(Utf8(out.sOriginalFName));
    Variant error = Variant::Text(Utf8(out.VerifyErr));
    Variant open = Variant::Short(in.bOpenFileAfterVerifyContentSign);
    Variant user = Variant::Text(Utf8(in.sUseriD));
    Variant password = Variant::Text(Utf8(in.sPassword));
    Variant decrypt = Variant::Bool(in.bDecryptFile);
    // Passed as values: the hash algorithm code 0 and the encryption algorithm code 2.
    Variant hash_algorithm = Variant::Short(0);
    Variant encryption_algorithm = Variant::Short(2);
    Variant trim = Variant::Missing();

    Variant r_fingerprint = Variant::RefTo(fingerprint.get());
    Variant r_separate = Variant::RefTo(separate.get());
    Variant r_binary = Variant::RefTo(binary.get());
    Variant r_details = Variant::RefTo(details.get());
    Variant r_original = Variant::RefTo(original.get());
    Variant r_error = Variant::RefTo(error.get());
    Variant r_user = Variant::RefTo(user.get());
    Variant r_password = Variant::RefTo(password.get());
    Variant r_decrypt = Variant::RefTo(decrypt.get());

    Variant none = Variant::Missing();
    Variant report = Variant::Text("");
    com::VARIANT_BOOL result = com::VARIANT_FALSE;
    com::HRESULT hr = com::S_OK;
    if (trust_ && zip) {
      hr = trust_->VerifyZipFileWithTrust(
          r_fingerprint.get(), r_separate.get(), r_binary.get(), r_details.get(), r_original.get(),
          r_error.get(), open.get(), r_user.get(), r_password.get(), r_decrypt.get(),
          hash_algorithm.get(), encryption_algorithm.get(), none.get(), none.get(), report.get(),
          &result);
    } else if (trust_) {
      hr = trust_->VerifyFileWithTrust(r_fingerprint.get(), r_separate.get(), r_binary.get(),
                                       r_details.get(), r_original.get(), r_error.get(), open.get(),
                                       r_user.get(), r_password.get(), r_decrypt.get(),
                                       hash_algorithm.get(), encryption_algorithm.get(), trim.get(),
                                       none.get(), none.get(), report.get(), &result);
    } else if (zip) {
      hr = object_->VerifyZipFile(r_fingerprint.get(), r_separate.get(), r_binary.get(),
                                  r_details.get(), r_original.get(), r_error.get(), open.get(),
                                  r_user.get(), r_password.get(), r_decrypt.get(),
                                  hash_algorithm.get(), encryption_algorithm.get(), &result);
    } else {
      hr = object_->VerifyFile(
          r_fingerprint.get(), r_separate.get(), r_binary.get(), r_details.get(), r_original.get(),
          r_error.get(), open.get(), r_user.get(), r_password.get(), r_decrypt.get(),
          hash_algorithm.get(), encryption_algorithm.get(), trim.get(), &result);
    }
    if (com::Failed(hr)) throw CallFailure(zip ? "VerifyZipFile" : "VerifyFile", hr);

    out.sOriginalFName = FromUtf8(original.Utf8());
    out.VerifyErr = FromUtf8(error.Utf8());
    out.sArrVerifyingCertificateDetails = ReadDetails(details);
    out.sTrustReport = FromUtf8(report.Utf8());
    return result != com::VARIANT_FALSE;
  }

  static Variant DetailsVariant(const VerifyResults& out) {
    std::vector<std::string> items;
    for (const QString& item : *out.sArrVerifyingCertificateDetails) items.push_back(Utf8(item));
    return Variant::Array(items);
  }

  // Anything but a list of texts counts as "no list"; the closing report then fails as the
  // command expects.
  static std::optional<QStringList> ReadDetails(const Variant& details) {
    try {
      QStringList list;
      for (const std::string& item : com::ReadTextArray(details.value()))
        list.push_back(FromUtf8(item));
      return list;
    } catch (const Error&) {
      return std::nullopt;
    }
  }

  com::ComPtr<_DigitalSign> object_;
  com::ComPtr<_DigitalSignTrust> trust_;
  DeskUi& ui_;
};

}  // namespace

QString CreationFailureText(std::int32_t hresult) {
  QString reason;
  switch (hresult) {
    case com::REGDB_E_CLASSNOTREG:
      reason = QStringLiteral("Class not registered");
      break;
    case com::CO_E_DLLNOTFOUND:
      reason = QStringLiteral("The registered library could not be loaded");
      break;
    case com::CO_E_ERRORINDLL:
      reason = QStringLiteral("The registered library is not a Vellum library");
      break;
    default:
      reason = QStringLiteral("Can't create object");
      break;
  }
  return reason + QStringLiteral(" (") + HexCode(hresult) +
         QStringLiteral("). Register the Vellum library with \"vellum register\".");
}

std::unique_ptr<DigitalSignApi> ComDigitalSignFactory::Create() {
  com::ComPtr<_DigitalSign> object;
  const com::HRESULT hr = com::CoCreateInstance(
      CLSID_DigitalSign, nullptr, com::CLSCTX_INPROC_SERVER, IID__DigitalSign, object.out());
  if (com::Failed(hr) || !object) {
    const com::HRESULT code = com::Failed(hr) ? hr : com::E_NOINTERFACE;
    throw Error::Component(code, Utf8(CreationFailureText(code)));
  }
  if (!hooks_.installed()) {
    // A library without the entry point still verifies; its messages then go to standard
    // error. The hook's context is this factory's box service, which dies with it.
    VellumHostHooks hooks{};
    hooks.context = &ui_;
    hooks.message_box = &ShowLibraryMessage;
    hooks.progress = &ShowLibraryProgress;
    hooks_.Install(CLSID_DigitalSign, hooks);
  }
  return std::make_unique<ComDigitalSign>(std::move(object), ui_);
}

}  // namespace vellum::desk
