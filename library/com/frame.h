// The frame every public method shares: a reference on the object for the length of the call,
// the result false until the body says otherwise, and nothing thrown past the vtable. A body
// traps its own failures and picks its message by stage; whatever still escapes (a failed
// allocation, say) ends here as a false result with the error's description as the message.
#pragma once

#include <deque>
#include <new>
#include <string>

#include "library/com/variant.h"
#include "library/platform/error.h"
#include "vellum/types.h"

namespace vellum {

template <class Body, class Fail>
com::HRESULT Frame(com::IUnknown* self, Body&& body, Fail&& fail) noexcept {
  self->AddRef();
  try {
    try {
      body();
    } catch (const Error& e) {
      fail(e.description());
    } catch (const std::bad_alloc&) {
      fail(RuntimeDescription(7));
    } catch (const std::exception& e) {
      fail(std::string(e.what()));
    }
  } catch (...) {
    // Writing the message itself failed; the false result already stands.
  }
  self->Release();
  return com::S_OK;
}

// Optional arguments may reach a vtable as null pointers; they then read as omitted. Each call
// of the object hands back the argument, or a fresh missing value that lives as long as it.
class MissingSlots {
 public:
  com::VARIANT* operator()(com::VARIANT* arg) {
    if (arg != nullptr) return arg;
    slots_.emplace_back(com::Variant::Missing());
    return slots_.back().get();
  }

 private:
  std::deque<com::Variant> slots_;  // a deque: slots handed out never move
};

// The HRESULT a private operation returns for an error: a component's own HRESULT, or a
// run-time error number in the facility that automation clients decode as such.
inline com::HRESULT HresultOf(const Error& e) {
  return e.number() <= 0 ? e.number()
                         : static_cast<com::HRESULT>(0x800A0000u | (e.number() & 0xFFFF));
}

}  // namespace vellum
