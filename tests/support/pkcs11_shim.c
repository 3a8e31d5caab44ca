/* A PKCS#11 module for the tests: it passes every call to the module named by
 * VELLUM_SHIM_MODULE (the SoftHSM2 module) and changes one thing, chosen by VELLUM_SHIM_MODE:
 *
 *   locked         the token reports its user PIN locked, and a login fails with CKR_PIN_LOCKED
 *   lock-on-login  a login fails with CKR_PIN_LOCKED (the PIN locked at this very try)
 *   removed        a login fails with CKR_DEVICE_REMOVED (the card was pulled out)
 *   (anything else) nothing changes
 *
 * SoftHSM2 never locks a PIN and cannot be pulled out, so these states are made here. */
#define CRYPTOKI_COMPAT
#include <dlfcn.h>
#include <p11-kit/pkcs11.h>
#include <stdlib.h>
#include <string.h>

static CK_FUNCTION_LIST shim;
static CK_FUNCTION_LIST_PTR target;

static int ModeIs(const char* mode) {
  const char* set = getenv("VELLUM_SHIM_MODE");
  return set != NULL && strcmp(set, mode) == 0;
}

static CK_RV ShimGetTokenInfo(CK_SLOT_ID slot, CK_TOKEN_INFO_PTR info) {
  CK_RV rv = target->C_GetTokenInfo(slot, info);
  if (rv == CKR_OK && ModeIs("locked")) info->flags |= CKF_USER_PIN_LOCKED;
  return rv;
}

static CK_RV ShimLogin(CK_SESSION_HANDLE session, CK_USER_TYPE user, CK_UTF8CHAR_PTR pin,
                       CK_ULONG length) {
  if (ModeIs("locked") || ModeIs("lock-on-login")) return CKR_PIN_LOCKED;
  if (ModeIs("removed")) return CKR_DEVICE_REMOVED;
  return target->C_Login(session, user, pin, length);
}

CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR list) {
  if (target == NULL) {
    const char* path = getenv("VELLUM_SHIM_MODULE");
    /* Kept loaded for the life of the process: the functions handed out point into it. */
    void* handle = path != NULL ? dlopen(path, RTLD_NOW | RTLD_LOCAL) : NULL;
    if (handle == NULL) return CKR_GENERAL_ERROR;
    CK_C_GetFunctionList get = (CK_C_GetFunctionList)dlsym(handle, "C_GetFunctionList");
    if (get == NULL || get(&target) != CKR_OK) return CKR_GENERAL_ERROR;
    shim = *target;
    shim.C_GetTokenInfo = ShimGetTokenInfo;
    shim.C_Login = ShimLogin;
  }
  *list = &shim;
  return CKR_OK;
}
