// The client side: creating objects of a registered in-process server by CLSID or ProgID.
// The server module is located through the registry (the user's, else the system's), loaded with
// dlopen and asked for its class factory through DllGetClassObject, as the platform's own runtime
// would.
#pragma once

#include <string>
#include <utility>

#include "vellum/host.h"
#include "vellum/types.h"

namespace vellum::com {

inline constexpr std::uint32_t CLSCTX_INPROC_SERVER = 1;

HRESULT CoGetClassObject(const CLSID& clsid, std::uint32_t context, const IID& riid, void** ppv);
HRESULT CoCreateInstance(const CLSID& clsid, IUnknown* outer, std::uint32_t context,
                         const IID& riid, void** ppv);
HRESULT CLSIDFromProgID(const char* prog_id, CLSID* clsid);
// Asks each loaded server whether it can unload (DllCanUnloadNow) and unloads those that can.
void CoFreeUnusedLibraries();

// The registered server module of `clsid`, or an empty text (with *hr set) when none.
std::string ServerPathOf(const CLSID& clsid, HRESULT* hr);
// A symbol of the server registered for `clsid`, loading the module when needed.
void* ServerSymbol(const CLSID& clsid, const char* name, HRESULT* hr);

// The VellumSetHostHooks entry of the server registered for `clsid`; null when it has none
// (`hr` then says why).
VellumSetHostHooksFn HostHookEntry(const CLSID& clsid, HRESULT* hr);

// A client's hooks installed in the server registered for `clsid` (its VellumSetHostHooks
// entry), and removed again when this object goes: the hooks point into the client, which
// must outlive them.
class HostHookInstallation {
 public:
  HostHookInstallation() = default;
  HostHookInstallation(const HostHookInstallation&) = delete;
  HostHookInstallation& operator=(const HostHookInstallation&) = delete;
  ~HostHookInstallation();

  // False when the server has no entry point (`hr` then says why, when given) or refuses the
  // hooks. `hooks.struct_size` is filled in here.
  bool Install(const CLSID& clsid, VellumHostHooks hooks, HRESULT* hr = nullptr);
  bool installed() const { return set_ != nullptr; }

 private:
  VellumSetHostHooksFn set_ = nullptr;
};

// Owns one interface reference.
template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) {
      Reset();
      p_ = std::exchange(other.p_, nullptr);
    }
    return *this;
  }
  ~ComPtr() { Reset(); }

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  void** out() {
    Reset();
    return reinterpret_cast<void**>(&p_);
  }
  void Reset() {
    if (p_ != nullptr) std::exchange(p_, nullptr)->Release();
  }

 private:
  T* p_ = nullptr;
};

}  // namespace vellum::com
