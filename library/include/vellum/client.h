/* The client helper (libvellum-client): what a C or C++ program needs besides the interfaces
 * to use the Vellum library without knowing where it is installed.
 *
 * Objects are created from the registered library, as `vellum register` records it: the
 * registry named by $VELLUM_REGISTRY, else the user's ($XDG_CONFIG_HOME/vellum/registry.ini,
 * else ~/.config/vellum/registry.ini), else, when the user has none, the system's
 * (/etc/xdg/vellum/registry.ini, which the package writes). The library is loaded once and
 * stays loaded. Texts cross the interfaces as BSTRs; the helper makes them from UTF-8 and
 * frees what the library hands back.
 *
 * A typical C caller:
 *
 *   _DigitalSign* sign = NULL;
 *   if (FAILED(VellumClientCreateObject(&CLSID_DigitalSign, &IID__DigitalSign, (void**)&sign)))
 *     return 1;
 *   ... sign->lpVtbl->SignFile(sign, ...) ...
 *   sign->lpVtbl->Release(sign);
 */
#ifndef VELLUM_CLIENT_H
#define VELLUM_CLIENT_H

#include "vellum/host.h"
#include "vellum/vellum.h"

#ifdef __cplusplus
#define VELLUM_CLIENT_T(name) vellum::com::name
extern "C" {
#else
#define VELLUM_CLIENT_T(name) name
#endif

/* Creates an object of class `clsid` from the registered library and hands back its interface
 * `iid` in *object (NULL on failure). Returns S_OK, REGDB_E_CLASSNOTREG when nothing is
 * registered for the class, REGDB_E_READREGDB when the registry cannot be read,
 * CO_E_DLLNOTFOUND when the registered library cannot be loaded, or the class factory's
 * answer. */
VELLUM_CLIENT_T(HRESULT)
VellumClientCreateObject(const VELLUM_CLIENT_T(CLSID) * clsid, const VELLUM_CLIENT_T(IID) * iid,
                         void** object);

/* Installs the host hooks (host.h) in the registered library, loading it when needed; NULL
 * removes them. Returns 0, or -1 when the library cannot be loaded or refuses the hooks. */
int VellumClientSetHostHooks(const VellumHostHooks* hooks);

/* A new BSTR holding `utf8` (NULL reads as the empty text); free it with
 * VellumClientFreeString. NULL when out of memory. */
VELLUM_CLIENT_T(BSTR) VellumClientAllocString(const char* utf8);

/* A new BSTR holding `length` raw bytes, for binary content; free it with
 * VellumClientFreeString. */
VELLUM_CLIENT_T(BSTR) VellumClientAllocBytes(const void* bytes, uint32_t length);

/* Frees a BSTR, whether the helper or the library made it. NULL is allowed. */
void VellumClientFreeString(VELLUM_CLIENT_T(BSTR) text);

/* The text of a BSTR as a zero-terminated UTF-8 string, which the caller frees with free();
 * NULL when out of memory. A NULL BSTR is the empty text. */
char* VellumClientStringToUtf8(VELLUM_CLIENT_T(BSTR) text);

/* Frees what a VARIANT owns (a BSTR, an array and its elements, a held interface) and leaves
 * it VT_EMPTY. */
void VellumClientClearVariant(VELLUM_CLIENT_T(VARIANT) * value);

#ifdef __cplusplus
}
#endif
#undef VELLUM_CLIENT_T

#endif
