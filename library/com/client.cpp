#include "library/com/client.h"

#include <dlfcn.h>

#include <map>
#include <mutex>

#include "library/com/guid.h"
#include "library/com/registry.h"
#include "library/platform/error.h"

namespace vellum::com {
namespace {

using GetClassObjectFn = HRESULT (*)(const CLSID&, const IID&, void**);
using CanUnloadNowFn = HRESULT (*)();

std::mutex g_mutex;
std::map<std::string, void*>& LoadedModules() {
  static std::map<std::string, void*> modules;
  return modules;
}

void* LoadModule(const std::string& path, HRESULT* hr) {
  std::lock_guard lock(g_mutex);
  auto& modules = LoadedModules();
  if (auto it = modules.find(path); it != modules.end()) return it->second;
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    *hr = CO_E_DLLNOTFOUND;
    return nullptr;
  }
  modules.emplace(path, handle);
  return handle;
}

}  // namespace

std::string ServerPathOf(const CLSID& clsid, HRESULT* hr) {
  *hr = S_OK;
  try {
    auto path = RegisteredValue("CLSID\\" + GuidToString(clsid) + "\\InprocServer32");
    if (!path || path->empty()) {
      *hr = REGDB_E_CLASSNOTREG;
      return {};
    }
    return *path;
  } catch (const Error& e) {
    *hr = e.number() < 0 ? e.number() : REGDB_E_READREGDB;
    return {};
  }
}

void* ServerSymbol(const CLSID& clsid, const char* name, HRESULT* hr) {
  std::string path = ServerPathOf(clsid, hr);
  if (Failed(*hr)) return nullptr;
  void* module = LoadModule(path, hr);
  if (module == nullptr) return nullptr;
  void* symbol = ::dlsym(module, name);
  if (symbol == nullptr) *hr = CO_E_ERRORINDLL;
  return symbol;
}

HRESULT CoGetClassObject(const CLSID& clsid, std::uint32_t context, const IID& riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if ((context & CLSCTX_INPROC_SERVER) == 0) return REGDB_E_CLASSNOTREG;
  HRESULT hr = S_OK;
  auto get_class_object =
      reinterpret_cast<GetClassObjectFn>(ServerSymbol(clsid, "DllGetClassObject", &hr));
  if (get_class_object == nullptr) return hr;
  return get_class_object(clsid, riid, ppv);
}

HRESULT CoCreateInstance(const CLSID& clsid, IUnknown* outer, std::uint32_t context,
                         const IID& riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  ComPtr<IClassFactory> factory;
  HRESULT hr = CoGetClassObject(clsid, context, IID_IClassFactory, factory.out());
  if (Failed(hr)) return hr;
  return factory->CreateInstance(outer, riid, ppv);
}

HRESULT CLSIDFromProgID(const char* prog_id, CLSID* clsid) {
  if (prog_id == nullptr || clsid == nullptr) return E_INVALIDARG;
  try {
    auto text = RegisteredValue(std::string(prog_id) + "\\CLSID");
    auto guid = text ? GuidFromString(*text) : std::nullopt;
    if (!guid) return CO_E_CLASSSTRING;
    *clsid = *guid;
    return S_OK;
  } catch (const Error& e) {
    return e.number() < 0 ? e.number() : REGDB_E_READREGDB;
  }
}

void CoFreeUnusedLibraries() {
  std::lock_guard lock(g_mutex);
  auto& modules = LoadedModules();
  for (auto it = modules.begin(); it != modules.end();) {
    auto can_unload = reinterpret_cast<CanUnloadNowFn>(::dlsym(it->second, "DllCanUnloadNow"));
    if (can_unload != nullptr && can_unload() == S_OK) {
      ::dlclose(it->second);
      it = modules.erase(it);
    } else {
      ++it;
    }
  }
}

VellumSetHostHooksFn HostHookEntry(const CLSID& clsid, HRESULT* hr) {
  return reinterpret_cast<VellumSetHostHooksFn>(ServerSymbol(clsid, "VellumSetHostHooks", hr));
}

HostHookInstallation::~HostHookInstallation() {
  if (set_ != nullptr) set_(nullptr);
}

bool HostHookInstallation::Install(const CLSID& clsid, VellumHostHooks hooks, HRESULT* hr) {
  HRESULT found = S_OK;
  VellumSetHostHooksFn set = HostHookEntry(clsid, &found);
  if (hr != nullptr) *hr = found;
  hooks.struct_size = sizeof hooks;
  if (set == nullptr || set(&hooks) != 0) return false;
  set_ = set;
  return true;
}

}  // namespace vellum::com
