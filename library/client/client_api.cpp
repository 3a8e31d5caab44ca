// The C entry points of libvellum-client (vellum/client.h) over the binary interface layer's own
// client: the same registry rules and the same loading as the command and the desk use. Nothing
// throws across these functions; a failure is an HRESULT, -1 or NULL as the header says.
#include <cstdlib>
#include <cstring>
#include <new>

#include "library/com/bstr.h"
#include "library/com/client.h"
#include "library/com/variant.h"
#include "vellum/client.h"

namespace com = vellum::com;

extern "C" {

com::HRESULT VellumClientCreateObject(const com::CLSID* clsid, const com::IID* iid, void** object) {
  if (object == nullptr) return com::E_POINTER;
  *object = nullptr;
  if (clsid == nullptr || iid == nullptr) return com::E_INVALIDARG;
  try {
    return com::CoCreateInstance(*clsid, nullptr, com::CLSCTX_INPROC_SERVER, *iid, object);
  } catch (const std::bad_alloc&) {
    return com::E_OUTOFMEMORY;
  } catch (...) {
    return com::E_FAIL;
  }
}

int VellumClientSetHostHooks(const VellumHostHooks* hooks) {
  try {
    com::HRESULT hr = com::S_OK;
    VellumSetHostHooksFn set = com::HostHookEntry(vellum::CLSID_DigitalSign, &hr);
    return set == nullptr ? -1 : set(hooks);
  } catch (...) {
    return -1;
  }
}

com::BSTR VellumClientAllocString(const char* utf8) {
  try {
    return com::BstrFromUtf8(utf8 != nullptr ? utf8 : "");
  } catch (...) {
    return nullptr;
  }
}

com::BSTR VellumClientAllocBytes(const void* bytes, std::uint32_t length) {
  return com::SysAllocStringByteLen(static_cast<const char*>(bytes), length);
}

void VellumClientFreeString(com::BSTR text) {
  com::SysFreeString(text);
}

char* VellumClientStringToUtf8(com::BSTR text) {
  try {
    const std::string utf8 = com::BstrToUtf8(text);
    auto* out = static_cast<char*>(std::malloc(utf8.size() + 1));
    if (out != nullptr) std::memcpy(out, utf8.c_str(), utf8.size() + 1);
    return out;
  } catch (...) {
    return nullptr;
  }
}

void VellumClientClearVariant(com::VARIANT* value) {
  if (value != nullptr) com::VariantClear(value);
}

}  // extern "C"
