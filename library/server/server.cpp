// The server module's exports: the four functions of an in-process server and the host-hook
// entry. Nothing else leaves the module (see exports.map). Loading the module does no work.
#include <dlfcn.h>

#include "library/com/registry.h"
#include "library/digital_sign/digital_sign.h"
#include "library/encryption/encryption.h"
#include "library/platform/hooks.h"
#include "library/zip/zip.h"
#include "vellum/host.h"

namespace vellum {
namespace {

std::string ModulePath() {
  Dl_info info{};
  if (::dladdr(reinterpret_cast<void*>(&ModulePath), &info) == 0 || info.dli_fname == nullptr)
    return {};
  // The name the module was loaded under (libvellum.so, not the versioned file it links to),
  // so a rebuild or an upgrade keeps the registration valid.
  if (info.dli_fname[0] == '/') return info.dli_fname;
  char resolved[4096];
  if (::realpath(info.dli_fname, resolved) == nullptr) return info.dli_fname;
  return resolved;
}

com::ServerEntries Entries() {
  return {
      LIBID_Vellum,
      "Vellum",
      "1.0",
      ModulePath(),
      {{CLSID_DigitalSign, "DigitalSign", "Vellum.DigitalSign", IID__DigitalSign, "_DigitalSign"},
       {CLSID_Encryption, "Encryption", "Vellum.Encryption", IID__Encryption, "_Encryption"},
       {CLSID_Zip, "Zip", "Vellum.Zip", IID__Zip, "_Zip"}}};
}

com::ClassFactory<DigitalSign> g_digital_sign_factory;
com::ClassFactory<Encryption> g_encryption_factory;
com::ClassFactory<Zip> g_zip_factory;

}  // namespace
}  // namespace vellum

extern "C" {

__attribute__((visibility("default"))) vellum::com::HRESULT DllGetClassObject(
    const vellum::com::CLSID& clsid, const vellum::com::IID& riid, void** ppv) {
  using namespace vellum;
  if (ppv == nullptr) return com::E_POINTER;
  *ppv = nullptr;
  com::IClassFactory* factory = nullptr;
  if (clsid == CLSID_DigitalSign) {
    factory = &g_digital_sign_factory;
  } else if (clsid == CLSID_Encryption) {
    factory = &g_encryption_factory;
  } else if (clsid == CLSID_Zip) {
    factory = &g_zip_factory;
  } else {
    return com::CLASS_E_CLASSNOTAVAILABLE;
  }
  return factory->QueryInterface(riid, ppv);
}

__attribute__((visibility("default"))) vellum::com::HRESULT DllCanUnloadNow() {
  return vellum::com::ModuleCanUnload() ? vellum::com::S_OK : vellum::com::S_FALSE;
}

__attribute__((visibility("default"))) vellum::com::HRESULT DllRegisterServer() {
  return vellum::com::RegisterServer(vellum::Entries());
}

__attribute__((visibility("default"))) vellum::com::HRESULT DllUnregisterServer() {
  return vellum::com::UnregisterServer(vellum::Entries());
}

__attribute__((visibility("default"))) int VellumSetHostHooks(const VellumHostHooks* hooks) {
  return vellum::platform::SetHostHooks(hooks);
}

}  // extern "C"
