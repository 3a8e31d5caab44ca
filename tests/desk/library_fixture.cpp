#include "tests/desk/library_fixture.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include "library/com/client.h"
#include "library/com/variant.h"
#include "tests/support/test_pki.h"
#include "vellum/vellum.h"

namespace vellum::desk::testing {
namespace {

using com::Variant;

class RecordingDigitalSign : public DigitalSignApi {
 public:
  RecordingDigitalSign(std::unique_ptr<DigitalSignApi> real, std::vector<RecordedCall>& calls)
      : real_(std::move(real)), calls_(calls) {}
  bool VerifyFile(const VerifyArguments& in, VerifyResults& out) override {
    calls_.push_back({QStringLiteral("VerifyFile"), in});
    return real_->VerifyFile(in, out);
  }
  bool VerifyZipFile(const VerifyArguments& in, VerifyResults& out) override {
    calls_.push_back({QStringLiteral("VerifyZipFile"), in});
    return real_->VerifyZipFile(in, out);
  }
  bool StartDoc(const QString& doc, QString& error) override {
    VerifyArguments in;
    in.sFingerprintFName = doc;
    calls_.push_back({QStringLiteral("StartDoc"), in});
    return real_->StartDoc(doc, error);
  }

 private:
  std::unique_ptr<DigitalSignApi> real_;
  std::vector<RecordedCall>& calls_;
};

}  // namespace

std::string Padded(const std::string& text, std::size_t length) {
  return text.size() >= length ? text : text + std::string(length - text.size(), '*');
}

RegisteredLibrary::RegisteredLibrary() {
  registry_ =
      std::make_unique<vellum::testing::ScopedEnv>("VELLUM_REGISTRY", root_.File("registry.ini"));
  stores_ = std::make_unique<vellum::testing::ScopedEnv>("VELLUM_STORE_DIR", root_.File("stores"));
  tmpdir_ = std::make_unique<vellum::testing::ScopedEnv>("TMPDIR", temp_.path());
  pki_ = std::make_shared<vellum::testing::TestPki>(
      vellum::testing::TestPki::Make("CN=Ann Lee, O=Example Ltd, C=GB"));
  vellum::testing::PutInStore("My", pki_->signer);
  signer_subject_ = pki_->signer.Subject();

  module_ = ::dlopen(VELLUM_TEST_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  if (module_ == nullptr) {
    ADD_FAILURE() << "cannot load " << VELLUM_TEST_LIBRARY << ": " << ::dlerror();
    return;
  }
  using RegisterFn = com::HRESULT (*)();
  auto register_server = reinterpret_cast<RegisterFn>(::dlsym(module_, "DllRegisterServer"));
  registered_ = register_server != nullptr && register_server() == com::S_OK;
  if (!registered_) ADD_FAILURE() << "DllRegisterServer failed";
}

void RegisteredLibrary::AnchorRoot() {
  vellum::testing::PutInStore("CA", pki_->intermediate, vellum::testing::StoreFormat::kPemNoKey);
  vellum::testing::PutInStore("Root", pki_->root, vellum::testing::StoreFormat::kPemNoKey);
}

RegisteredLibrary::~RegisteredLibrary() {
  if (module_ != nullptr) ::dlclose(module_);
}

std::string RegisteredLibrary::Sign(const SignRequest& r) {
  com::ComPtr<_DigitalSign> sign;
  const com::HRESULT hr = com::CoCreateInstance(
      CLSID_DigitalSign, nullptr, com::CLSCTX_INPROC_SERVER, IID__DigitalSign, sign.out());
  if (com::Failed(hr)) {
    ADD_FAILURE() << "DigitalSign not created: " << hr;
    return {};
  }
  // The algorithm codes the desk verifies with: hash 0, encryption 2.
  Variant name = Variant::Text(r.input), separate = Variant::Bool(r.detached),
          binary = Variant::Bool(r.binary), store = Variant::Text("My"),
          suffix = Variant::Text(r.suffix), message = Variant::Text(""),
          user = Variant::Text(r.user), password = Variant::Text(r.password),
          encrypt = Variant::Bool(r.encrypt), person = Variant::Text(""), mail = Variant::Text(""),
          company = Variant::Text(""), hash_algorithm = Variant::Long(0),
          encryption_algorithm = Variant::Long(2), result;
  const com::HRESULT call =
      r.packed ? sign->SignZipFile(name.value(), separate.get(), binary.get(), store.get(),
                                   suffix.get(), message.get(), user.get(), password.get(),
                                   encrypt.get(), person.get(), mail.get(), company.get(),
                                   hash_algorithm.get(), encryption_algorithm.get(), result.get())
               : sign->SignFile(name.value(), separate.get(), binary.get(), store.get(),
                                suffix.get(), message.get(), user.get(), password.get(),
                                encrypt.get(), person.get(), mail.get(), company.get(),
                                hash_algorithm.get(), encryption_algorithm.get(), result.get());
  const bool signed_ok = call == com::S_OK && com::ToBool(result.value());
  if (!signed_ok) {
    ADD_FAILURE() << "signing " << r.input << " failed: " << message.Utf8();
    return {};
  }
  return message.Utf8();
}

DigitalSignFactory RecordingFactory::Factory() {
  return [this]() -> std::unique_ptr<DigitalSignApi> {
    return std::make_unique<RecordingDigitalSign>(real_(), calls);
  };
}

}  // namespace vellum::desk::testing
