// The binary interface: COM's types laid out as COM lays them, so a client that only knows a
// CLSID and an IID can call the server through a vtable or through IDispatch::Invoke.
//
// Interfaces are C++ structs with pure virtual methods and no virtual destructor: under the
// Itanium ABI the object's first word then points at a table of function pointers in
// declaration order, which is the COM vtable layout (IUnknown's three slots, IDispatch's four,
// then the interface's own). Every method returns an HRESULT; logical results come back
// through a last [out, retval] pointer.
//
// A C compiler gets types_c.h instead: the same layouts, interfaces as structs of function
// pointers.
#pragma once

#ifndef __cplusplus
#include "vellum/types_c.h"
#else

#include <cstdint>

namespace vellum::com {

using HRESULT = std::int32_t;
using ULONG = std::uint32_t;
using DISPID = std::int32_t;
using LCID = std::uint32_t;
using VARTYPE = std::uint16_t;
using VARIANT_BOOL = std::int16_t;
using SCODE = std::int32_t;
using DATE = double;  // days since 30/12/1899, the fraction is the time of day
using OLECHAR = char16_t;
using BSTR = OLECHAR*;  // length-prefixed, see bstr.h

inline constexpr VARIANT_BOOL VARIANT_TRUE = -1;
inline constexpr VARIANT_BOOL VARIANT_FALSE = 0;

constexpr HRESULT MakeHr(std::uint32_t value) {
  return static_cast<HRESULT>(value);
}
inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = MakeHr(0x80004001);
inline constexpr HRESULT E_NOINTERFACE = MakeHr(0x80004002);
inline constexpr HRESULT E_POINTER = MakeHr(0x80004003);
inline constexpr HRESULT E_FAIL = MakeHr(0x80004005);
inline constexpr HRESULT E_UNEXPECTED = MakeHr(0x8000FFFF);
inline constexpr HRESULT E_OUTOFMEMORY = MakeHr(0x8007000E);
inline constexpr HRESULT E_INVALIDARG = MakeHr(0x80070057);
inline constexpr HRESULT E_ACCESSDENIED = MakeHr(0x80070005);
inline constexpr HRESULT HRESULT_INVALID_DATA = MakeHr(0x8007000D);  // damaged file
inline constexpr HRESULT HRESULT_FILE_NOT_FOUND = MakeHr(0x80070002);
inline constexpr HRESULT CLASS_E_NOAGGREGATION = MakeHr(0x80040110);
inline constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = MakeHr(0x80040111);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = MakeHr(0x80040154);
inline constexpr HRESULT REGDB_E_WRITEREGDB = MakeHr(0x80040151);
inline constexpr HRESULT REGDB_E_READREGDB = MakeHr(0x80040150);
inline constexpr HRESULT CO_E_CLASSSTRING = MakeHr(0x800401F3);
inline constexpr HRESULT CO_E_DLLNOTFOUND = MakeHr(0x800401F8);
inline constexpr HRESULT CO_E_ERRORINDLL = MakeHr(0x800401F9);
inline constexpr HRESULT RPC_E_WRONG_THREAD = MakeHr(0x8001010E);
inline constexpr HRESULT DISP_E_UNKNOWNINTERFACE = MakeHr(0x80020001);
inline constexpr HRESULT DISP_E_MEMBERNOTFOUND = MakeHr(0x80020003);
inline constexpr HRESULT DISP_E_PARAMNOTFOUND = MakeHr(0x80020004);
inline constexpr HRESULT DISP_E_TYPEMISMATCH = MakeHr(0x80020005);
inline constexpr HRESULT DISP_E_UNKNOWNNAME = MakeHr(0x80020006);
inline constexpr HRESULT DISP_E_NONAMEDARGS = MakeHr(0x80020007);
inline constexpr HRESULT DISP_E_BADVARTYPE = MakeHr(0x80020008);
inline constexpr HRESULT DISP_E_EXCEPTION = MakeHr(0x80020009);
inline constexpr HRESULT DISP_E_OVERFLOW = MakeHr(0x8002000A);
inline constexpr HRESULT DISP_E_BADPARAMCOUNT = MakeHr(0x8002000E);
inline constexpr HRESULT DISP_E_PARAMNOTOPTIONAL = MakeHr(0x8002000F);
inline constexpr HRESULT TYPE_E_ELEMENTNOTFOUND = MakeHr(0x8002802B);

constexpr bool Succeeded(HRESULT hr) {
  return hr >= 0;
}
constexpr bool Failed(HRESULT hr) {
  return hr < 0;
}

struct GUID {
  std::uint32_t Data1;
  std::uint16_t Data2;
  std::uint16_t Data3;
  std::uint8_t Data4[8];
  friend bool operator==(const GUID&, const GUID&) = default;
};
using IID = GUID;
using CLSID = GUID;

enum VARENUM : VARTYPE {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R8 = 5,
  VT_DATE = 7,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_UNKNOWN = 13,
  VT_ARRAY = 0x2000,
  VT_BYREF = 0x4000,
  VT_TYPEMASK = 0x0FFF,
};

struct SAFEARRAYBOUND {
  ULONG cElements;
  std::int32_t lLbound;
};

struct SAFEARRAY {
  std::uint16_t cDims;
  std::uint16_t fFeatures;
  ULONG cbElements;
  ULONG cLocks;
  void* pvData;
  SAFEARRAYBOUND rgsabound[1];
};
inline constexpr std::uint16_t FADF_VARIANT = 0x0800;

struct IUnknown;
struct IDispatch;

struct VARIANT {
  VARTYPE vt;
  std::uint16_t wReserved1;
  std::uint16_t wReserved2;
  std::uint16_t wReserved3;
  union {
    std::int64_t llVal;
    std::int32_t lVal;
    std::int16_t iVal;
    double dblVal;
    VARIANT_BOOL boolVal;
    SCODE scode;
    DATE date;
    BSTR bstrVal;
    IUnknown* punkVal;
    IDispatch* pdispVal;
    SAFEARRAY* parray;
    std::int16_t* piVal;
    std::int32_t* plVal;
    double* pdblVal;
    VARIANT_BOOL* pboolVal;
    SCODE* pscode;
    DATE* pdate;
    BSTR* pbstrVal;
    SAFEARRAY** pparray;
    VARIANT* pvarVal;
    void* byref;
    struct {
      void* pvRecord;
      void* pRecInfo;
    } brecVal;
  };
};
using VARIANTARG = VARIANT;

struct DISPPARAMS {
  VARIANTARG* rgvarg;  // arguments in reverse order
  DISPID* rgdispidNamedArgs;
  ULONG cArgs;
  ULONG cNamedArgs;
};

struct EXCEPINFO {
  std::uint16_t wCode;
  std::uint16_t wReserved;
  BSTR bstrSource;
  BSTR bstrDescription;
  BSTR bstrHelpFile;
  ULONG dwHelpContext;
  void* pvReserved;
  HRESULT (*pfnDeferredFillIn)(EXCEPINFO*);
  SCODE scode;
};

inline constexpr std::uint16_t DISPATCH_METHOD = 1;
inline constexpr std::uint16_t DISPATCH_PROPERTYGET = 2;
inline constexpr DISPID DISPID_UNKNOWN = -1;

// NOLINTBEGIN(cppcoreguidelines-virtual-class-destructor): COM objects die through Release.
struct IUnknown {
  virtual HRESULT QueryInterface(const IID& riid, void** ppv) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;
};

struct IDispatch : IUnknown {
  virtual HRESULT GetTypeInfoCount(std::uint32_t* pctinfo) = 0;
  virtual HRESULT GetTypeInfo(std::uint32_t iTInfo, LCID lcid, void** ppTInfo) = 0;
  virtual HRESULT GetIDsOfNames(const IID& riid, OLECHAR** rgszNames, std::uint32_t cNames,
                                LCID lcid, DISPID* rgDispId) = 0;
  virtual HRESULT Invoke(DISPID dispIdMember, const IID& riid, LCID lcid, std::uint16_t wFlags,
                         DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                         std::uint32_t* puArgErr) = 0;
};

struct IClassFactory : IUnknown {
  virtual HRESULT CreateInstance(IUnknown* pUnkOuter, const IID& riid, void** ppvObject) = 0;
  virtual HRESULT LockServer(std::int32_t fLock) = 0;
};
// NOLINTEND(cppcoreguidelines-virtual-class-destructor)

// The well-known interface identifiers.
inline constexpr IID IID_IUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IDispatch = {
    0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IClassFactory = {
    0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
// The automation marshaller's CLSID, recorded for each dual interface.
inline constexpr CLSID CLSID_PSOAInterface = {
    0x00020424, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

}  // namespace vellum::com

#endif  // __cplusplus
