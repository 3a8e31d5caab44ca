/* The C view of the public headers, compiled as C11: its sizes, member offsets, vtable slots
 * and identifiers, handed to c_view_test.cpp, which compares them with the C++ view. */
#include <stddef.h>

#include "tests/include/c_view.h"
#include "vellum/client.h"
#include "vellum/host.h"
#include "vellum/vellum.h"
#include "vellum/version.h"

#define ROW(name, value) \
  { name, (size_t)(value) }
#define SLOT(type, member) ROW(#type "::" #member, offsetof(type##Vtbl, member) / sizeof(void*))

const VellumCViewRow kVellumCView[] = {
    ROW("sizeof GUID", sizeof(GUID)),
    ROW("sizeof VARIANT", sizeof(VARIANT)),
    ROW("VARIANT::vt", offsetof(VARIANT, vt)),
    ROW("VARIANT::llVal", offsetof(VARIANT, llVal)),
    ROW("VARIANT::bstrVal", offsetof(VARIANT, bstrVal)),
    ROW("VARIANT::brecVal.pRecInfo", offsetof(VARIANT, brecVal.pRecInfo)),
    ROW("sizeof SAFEARRAY", sizeof(SAFEARRAY)),
    ROW("SAFEARRAY::pvData", offsetof(SAFEARRAY, pvData)),
    ROW("SAFEARRAY::rgsabound", offsetof(SAFEARRAY, rgsabound)),
    ROW("sizeof DISPPARAMS", sizeof(DISPPARAMS)),
    ROW("DISPPARAMS::cNamedArgs", offsetof(DISPPARAMS, cNamedArgs)),
    ROW("sizeof EXCEPINFO", sizeof(EXCEPINFO)),
    ROW("EXCEPINFO::pfnDeferredFillIn", offsetof(EXCEPINFO, pfnDeferredFillIn)),
    ROW("EXCEPINFO::scode", offsetof(EXCEPINFO, scode)),
    ROW("sizeof VellumHostHooks", sizeof(VellumHostHooks)),
    ROW("VellumHostHooks::ask_pin", offsetof(VellumHostHooks, ask_pin)),
    ROW("VellumHostHooks::progress", offsetof(VellumHostHooks, progress)),
    /* The structure only grows at its end: the newest member is the last. */
    ROW("VellumHostHooks after progress",
        sizeof(VellumHostHooks) - offsetof(VellumHostHooks, progress)),
    SLOT(IClassFactory, CreateInstance),
    SLOT(IClassFactory, LockServer),
    SLOT(_DigitalSign, Invoke),
    SLOT(_DigitalSign, SignFile),
    SLOT(_DigitalSign, SignZipFile),
    SLOT(_DigitalSign, StartDoc),
    SLOT(_DigitalSign, VerifyFile),
    SLOT(_DigitalSign, VerifyNSEFile),
    SLOT(_DigitalSign, VerifyZipFile),
    SLOT(_DigitalSign, WriteWholeFile),
    SLOT(_DigitalSign, ReadWholeFile),
    SLOT(_DigitalSignTrust, VerifyFileWithTrust),
    SLOT(_DigitalSignTrust, VerifyNSEFileWithTrust),
    SLOT(_DigitalSignTrust, VerifyZipFileWithTrust),
    SLOT(_Encryption, EncryptMessage),
    SLOT(_Encryption, DecryptMessage),
    SLOT(_Zip, ZipFile),
    SLOT(_Zip, UnZipFile),
    ROW("VARIANT_TRUE", (unsigned short)VARIANT_TRUE),
    ROW("VT_BSTR", VT_BSTR),
    ROW("VT_BYREF", VT_BYREF),
    ROW("REGDB_E_CLASSNOTREG", (unsigned)REGDB_E_CLASSNOTREG),
    ROW("VELLUM_DISPID_VERIFY_ZIP_FILE", VELLUM_DISPID_VERIFY_ZIP_FILE),
    ROW("VELLUM_DISPID_VERIFY_ZIP_FILE_WITH_TRUST", VELLUM_DISPID_VERIFY_ZIP_FILE_WITH_TRUST),
    ROW("VELLUM_DISPID_UNZIP_FILE", VELLUM_DISPID_UNZIP_FILE),
    ROW("VELLUM_VERSION_MAJOR", VELLUM_VERSION_MAJOR),
};
const size_t kVellumCViewRows = sizeof kVellumCView / sizeof kVellumCView[0];

const VellumCViewId kVellumCIds[] = {
    {"LIBID_Vellum", &LIBID_Vellum},           {"CLSID_DigitalSign", &CLSID_DigitalSign},
    {"CLSID_Encryption", &CLSID_Encryption},   {"CLSID_Zip", &CLSID_Zip},
    {"IID__DigitalSign", &IID__DigitalSign},   {"IID__DigitalSignTrust", &IID__DigitalSignTrust},
    {"IID__Encryption", &IID__Encryption},     {"IID__Zip", &IID__Zip},
    {"IID_IUnknown", &IID_IUnknown},           {"IID_IDispatch", &IID_IDispatch},
    {"IID_IClassFactory", &IID_IClassFactory},
};
const size_t kVellumCIdRows = sizeof kVellumCIds / sizeof kVellumCIds[0];
