// Creating the library's objects for a command, with one readable failure message.
#pragma once

#include <cstdio>
#include <ostream>
#include <string>

#include "library/com/client.h"

namespace vellum::cli {

inline std::string HexHr(com::HRESULT hr) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%08X", static_cast<unsigned>(hr));
  return buffer;
}

// Creates the class `clsid` through the registry; reports on `err` and returns an empty
// pointer when it cannot.
template <class Interface>
com::ComPtr<Interface> Create(const com::CLSID& clsid, const com::IID& iid, const char* name,
                              std::ostream& err) {
  com::ComPtr<Interface> object;
  com::HRESULT hr =
      com::CoCreateInstance(clsid, nullptr, com::CLSCTX_INPROC_SERVER, iid, object.out());
  if (com::Failed(hr))
    err << "vellum: cannot create " << name << " (" << HexHr(hr)
        << "); is the library registered? Run: vellum register\n";
  return object;
}

}  // namespace vellum::cli
