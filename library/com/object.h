// The server side of an object: reference counting, QueryInterface, the apartment check and
// IDispatch over the interface's dispatch table. Concrete classes derive from
// ComObject<Derived, Interface> and are created only through their class factory.
#pragma once

#include <atomic>
#include <thread>

#include "library/com/dispatch.h"
#include "vellum/types.h"

namespace vellum::com {

// Live objects and server locks of this module, behind DllCanUnloadNow.
void ModuleObjectCreated();
void ModuleObjectDestroyed();
void ModuleLock(bool lock);
bool ModuleCanUnload();
long ModuleObjectCount();

// Derived supplies: static const IID& Iid(); static const DispatchTable<Interface>& Table().
// A class with further interfaces (Facet members) also supplies a public
// `void* OtherInterface(const IID&)` answering for them.
template <class Derived, class Interface>
class ComObject : public Interface {
 public:
  ComObject() { ModuleObjectCreated(); }
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;

  HRESULT QueryInterface(const IID& riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == Derived::Iid()) {
      *ppv = static_cast<Interface*>(this);
    } else {
      *ppv = static_cast<Derived*>(this)->OtherInterface(riid);
    }
    if (*ppv == nullptr) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  // No further interfaces unless Derived says otherwise.
  void* OtherInterface(const IID&) { return nullptr; }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    ULONG left = --refs_;
    if (left == 0) delete static_cast<Derived*>(this);  // the one owner of the object
    return left;
  }

  HRESULT GetTypeInfoCount(std::uint32_t* count) override {
    if (count == nullptr) return E_POINTER;
    *count = 0;  // no binary type information: names and DISPIDs come from the table
    return S_OK;
  }
  HRESULT GetTypeInfo(std::uint32_t, LCID, void** info) override {
    if (info != nullptr) *info = nullptr;
    return TYPE_E_ELEMENTNOTFOUND;
  }
  HRESULT GetIDsOfNames(const IID& riid, OLECHAR** names, std::uint32_t count, LCID,
                        DISPID* ids) override {
    if (!OnOwnerThread()) return RPC_E_WRONG_THREAD;
    if (!(riid == IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    return TableGetIDsOfNames(Derived::Table(), names, count, ids);
  }
  HRESULT Invoke(DISPID id, const IID& riid, LCID, std::uint16_t flags, DISPPARAMS* params,
                 VARIANT* result, EXCEPINFO*, std::uint32_t* arg_err) override {
    if (!OnOwnerThread()) return RPC_E_WRONG_THREAD;
    if (!(riid == IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    return TableInvoke(Derived::Table(), static_cast<Interface*>(this), id, flags, params, result,
                       arg_err);
  }

 protected:
  ~ComObject() { ModuleObjectDestroyed(); }
  // Apartment rule: only the creating thread may call the object's methods.
  bool OnOwnerThread() const { return std::this_thread::get_id() == owner_; }

 private:
  std::atomic<ULONG> refs_{1};
  std::thread::id owner_ = std::this_thread::get_id();
};

// A further interface of an object, held as a member of it: identity and lifetime are the
// owner's (QueryInterface, AddRef and Release go to it, so IUnknown and IDispatch queried
// through a facet give the owner's default interface, as COM's identity rule wants); its
// IDispatch serves the facet's own table. Derived supplies
// static const DispatchTable<Interface>& Table().
template <class Derived, class Interface>
class Facet : public Interface {
 public:
  explicit Facet(IUnknown* owner) : owner_(owner) {}
  Facet(const Facet&) = delete;
  Facet& operator=(const Facet&) = delete;

  HRESULT QueryInterface(const IID& riid, void** ppv) override {
    return owner_->QueryInterface(riid, ppv);
  }
  ULONG AddRef() override { return owner_->AddRef(); }
  ULONG Release() override { return owner_->Release(); }

  HRESULT GetTypeInfoCount(std::uint32_t* count) override {
    if (count == nullptr) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  HRESULT GetTypeInfo(std::uint32_t, LCID, void** info) override {
    if (info != nullptr) *info = nullptr;
    return TYPE_E_ELEMENTNOTFOUND;
  }
  HRESULT GetIDsOfNames(const IID& riid, OLECHAR** names, std::uint32_t count, LCID,
                        DISPID* ids) override {
    if (!OnOwnerThread()) return RPC_E_WRONG_THREAD;
    if (!(riid == IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    return TableGetIDsOfNames(Derived::Table(), names, count, ids);
  }
  HRESULT Invoke(DISPID id, const IID& riid, LCID, std::uint16_t flags, DISPPARAMS* params,
                 VARIANT* result, EXCEPINFO*, std::uint32_t* arg_err) override {
    if (!OnOwnerThread()) return RPC_E_WRONG_THREAD;
    if (!(riid == IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    return TableInvoke(Derived::Table(), static_cast<Interface*>(this), id, flags, params, result,
                       arg_err);
  }

 protected:
  ~Facet() = default;
  bool OnOwnerThread() const { return std::this_thread::get_id() == owner_thread_; }
  IUnknown* owner() const { return owner_; }

 private:
  IUnknown* owner_;
  std::thread::id owner_thread_ = std::this_thread::get_id();
};

// One class factory per class; creates Derived objects (which start with one reference).
template <class Derived>
class ClassFactory final : public IClassFactory {
 public:
  HRESULT QueryInterface(const IID& riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      *ppv = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    return E_NOINTERFACE;
  }
  // The factories are static objects of the module; their counts do not keep it loaded.
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }
  HRESULT CreateInstance(IUnknown* outer, const IID& riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    Derived* object = nullptr;
    try {
      object =
          new Derived();  // NOLINT(cppcoreguidelines-owning-memory): owned by its reference count
    } catch (...) {
      return E_OUTOFMEMORY;
    }
    HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
  }
  HRESULT LockServer(std::int32_t lock) override {
    ModuleLock(lock != 0);
    return S_OK;
  }
};

}  // namespace vellum::com
