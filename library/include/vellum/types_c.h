/* The binary types of the Vellum interfaces for C callers: the same layouts as types.h gives
 * C++ callers (tests/include compares the two member by member), so a C program can call the
 * server through its vtables. Interfaces are structs whose first member points at a table of
 * function pointers; every function takes the interface pointer first ("This"), and a C++
 * reference parameter is a pointer here.
 *
 * Needs C11 (the anonymous union of VARIANT). Included by vellum.h when compiled as C. */
#ifndef VELLUM_TYPES_C_H
#define VELLUM_TYPES_C_H

#ifdef __cplusplus
#error "vellum/types_c.h is the C view; C++ callers include vellum/types.h"
#endif

#include <stdint.h>

typedef int32_t HRESULT;
typedef uint32_t ULONG;
typedef int32_t DISPID;
typedef uint32_t LCID;
typedef uint16_t VARTYPE;
typedef int16_t VARIANT_BOOL;
typedef int32_t SCODE;
typedef double DATE;      /* days since 30/12/1899, the fraction is the time of day */
typedef uint16_t OLECHAR; /* a UTF-16 code unit */
typedef OLECHAR* BSTR;    /* length-prefixed; made and freed by the client helper (client.h) */

#define VARIANT_TRUE ((VARIANT_BOOL)-1)
#define VARIANT_FALSE ((VARIANT_BOOL)0)

#define S_OK ((HRESULT)0)
#define S_FALSE ((HRESULT)1)
#define E_NOTIMPL ((HRESULT)0x80004001u)
#define E_NOINTERFACE ((HRESULT)0x80004002u)
#define E_POINTER ((HRESULT)0x80004003u)
#define E_FAIL ((HRESULT)0x80004005u)
#define E_OUTOFMEMORY ((HRESULT)0x8007000Eu)
#define E_INVALIDARG ((HRESULT)0x80070057u)
#define REGDB_E_CLASSNOTREG ((HRESULT)0x80040154u)
#define REGDB_E_READREGDB ((HRESULT)0x80040150u)
#define CO_E_DLLNOTFOUND ((HRESULT)0x800401F8u)
#define CO_E_ERRORINDLL ((HRESULT)0x800401F9u)
#define RPC_E_WRONG_THREAD ((HRESULT)0x8001010Eu)
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)

typedef struct GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
} GUID;
typedef GUID IID;
typedef GUID CLSID;

enum VARENUM {
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
  VT_TYPEMASK = 0x0FFF
};

typedef struct SAFEARRAYBOUND {
  ULONG cElements;
  int32_t lLbound;
} SAFEARRAYBOUND;

typedef struct SAFEARRAY {
  uint16_t cDims;
  uint16_t fFeatures;
  ULONG cbElements;
  ULONG cLocks;
  void* pvData;
  SAFEARRAYBOUND rgsabound[1];
} SAFEARRAY;
#define FADF_VARIANT 0x0800

typedef struct IUnknown IUnknown;
typedef struct IDispatch IDispatch;
typedef struct IClassFactory IClassFactory;

typedef struct VARIANT {
  VARTYPE vt;
  uint16_t wReserved1;
  uint16_t wReserved2;
  uint16_t wReserved3;
  union {
    int64_t llVal;
    int32_t lVal;
    int16_t iVal;
    double dblVal;
    VARIANT_BOOL boolVal;
    SCODE scode;
    DATE date;
    BSTR bstrVal;
    IUnknown* punkVal;
    IDispatch* pdispVal;
    SAFEARRAY* parray;
    int16_t* piVal;
    int32_t* plVal;
    double* pdblVal;
    VARIANT_BOOL* pboolVal;
    SCODE* pscode;
    DATE* pdate;
    BSTR* pbstrVal;
    SAFEARRAY** pparray;
    struct VARIANT* pvarVal;
    void* byref;
    struct {
      void* pvRecord;
      void* pRecInfo;
    } brecVal;
  };
} VARIANT;
typedef VARIANT VARIANTARG;

typedef struct DISPPARAMS {
  VARIANTARG* rgvarg; /* arguments in reverse order */
  DISPID* rgdispidNamedArgs;
  ULONG cArgs;
  ULONG cNamedArgs;
} DISPPARAMS;

typedef struct EXCEPINFO {
  uint16_t wCode;
  uint16_t wReserved;
  BSTR bstrSource;
  BSTR bstrDescription;
  BSTR bstrHelpFile;
  ULONG dwHelpContext;
  void* pvReserved;
  HRESULT (*pfnDeferredFillIn)(struct EXCEPINFO*);
  SCODE scode;
} EXCEPINFO;

#define DISPATCH_METHOD 1
#define DISPATCH_PROPERTYGET 2
#define DISPID_UNKNOWN (-1)

/* The slots every interface starts with, for an interface type T. */
#define VELLUM_IUNKNOWN_SLOTS(T)                                    \
  HRESULT (*QueryInterface)(T * This, const IID* riid, void** ppv); \
  ULONG (*AddRef)(T * This);                                        \
  ULONG (*Release)(T * This)
#define VELLUM_IDISPATCH_SLOTS(T)                                                                 \
  VELLUM_IUNKNOWN_SLOTS(T);                                                                       \
  HRESULT (*GetTypeInfoCount)(T * This, uint32_t * pctinfo);                                      \
  HRESULT (*GetTypeInfo)(T * This, uint32_t iTInfo, LCID lcid, void** ppTInfo);                   \
  HRESULT(*GetIDsOfNames)                                                                         \
  (T * This, const IID* riid, OLECHAR** rgszNames, uint32_t cNames, LCID lcid, DISPID* rgDispId); \
  HRESULT(*Invoke)                                                                                \
  (T * This, DISPID dispIdMember, const IID* riid, LCID lcid, uint16_t wFlags,                    \
   DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo, uint32_t* puArgErr)

typedef struct IUnknownVtbl {
  VELLUM_IUNKNOWN_SLOTS(IUnknown);
} IUnknownVtbl;
struct IUnknown {
  const IUnknownVtbl* lpVtbl;
};

typedef struct IDispatchVtbl {
  VELLUM_IDISPATCH_SLOTS(IDispatch);
} IDispatchVtbl;
struct IDispatch {
  const IDispatchVtbl* lpVtbl;
};

typedef struct IClassFactoryVtbl {
  VELLUM_IUNKNOWN_SLOTS(IClassFactory);
  HRESULT(*CreateInstance)
  (IClassFactory* This, IUnknown* pUnkOuter, const IID* riid, void** ppvObject);
  HRESULT (*LockServer)(IClassFactory* This, int32_t fLock);
} IClassFactoryVtbl;
struct IClassFactory {
  const IClassFactoryVtbl* lpVtbl;
};

static const IID IID_IUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
static const IID IID_IDispatch = {
    0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
static const IID IID_IClassFactory = {
    0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

#endif
