/* sign-and-verify FILE: a C program of the kind a caller writes against the installed headers.
 * It signs FILE (a detached Base64 signature beside it) with the one certificate of the user's
 * "My" store, verifies the signature, then changes FILE and verifies again, which must fail.
 * Everything goes through the registered library by way of the client helper.
 * Exit status 0 when all three steps answered as they should, 1 otherwise. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <vellum/client.h>
#include <vellum/vellum.h>

static VARIANT Text(const char* text) {
  VARIANT v;
  memset(&v, 0, sizeof v);
  v.vt = VT_BSTR;
  v.bstrVal = VellumClientAllocString(text);
  return v;
}

static VARIANT Flag(int on) {
  VARIANT v;
  memset(&v, 0, sizeof v);
  v.vt = VT_BOOL;
  v.boolVal = on ? VARIANT_TRUE : VARIANT_FALSE;
  return v;
}

static VARIANT Long(int32_t n) {
  VARIANT v;
  memset(&v, 0, sizeof v);
  v.vt = VT_I4;
  v.lVal = n;
  return v;
}

static void Say(const char* step, const VARIANT* message) {
  char* text = message->vt == VT_BSTR ? VellumClientStringToUtf8(message->bstrVal) : NULL;
  printf("%s: %s\n", step, text != NULL ? text : "(no text)");
  free(text);
}

static void Clear(VARIANT* values[], size_t count) {
  for (size_t i = 0; i < count; ++i) VellumClientClearVariant(values[i]);
}

/* Signs `file`; 1 when the library answered True. */
static int Sign(_DigitalSign* sign, const char* file) {
  VARIANT name = Text(file), separate = Flag(1), binary = Flag(0), store = Text(""),
          suffix = Text(""), message = Text(""), user = Text(""), password = Text(""),
          encrypt = Flag(0), person = Text(""), mail = Text(""), company = Text(""), hash = Long(0),
          cipher = Long(4), result;
  memset(&result, 0, sizeof result);
  HRESULT hr = sign->lpVtbl->SignFile(sign, name, &separate, &binary, &store, &suffix, &message,
                                      &user, &password, &encrypt, &person, &mail, &company, &hash,
                                      &cipher, &result);
  Say("sign", &message);
  const int ok = SUCCEEDED(hr) && result.vt == VT_BOOL && result.boolVal == VARIANT_TRUE;
  VARIANT* all[] = {&name,    &separate, &binary, &store,   &suffix, &message, &user,  &password,
                    &encrypt, &person,   &mail,   &company, &hash,   &cipher,  &result};
  Clear(all, sizeof all / sizeof all[0]);
  return ok;
}

/* Verifies `signature` against `original`; 1 when the library answered True. */
static int Verify(_DigitalSign* sign, const char* signature, const char* original) {
  VARIANT name = Text(signature), separate = Flag(1), binary = Flag(0), details,
          original_name = Text(original), message = Text(""), open = Flag(0), user = Text(""),
          password = Text(""), decrypt = Flag(0), hash = Long(0), cipher = Long(4),
          trim = Text("N");
  memset(&details, 0, sizeof details);
  VARIANT_BOOL result = VARIANT_FALSE;
  HRESULT hr =
      sign->lpVtbl->VerifyFile(sign, &name, &separate, &binary, &details, &original_name, &message,
                               &open, &user, &password, &decrypt, &hash, &cipher, &trim, &result);
  Say("verify", &message);
  const int ok = SUCCEEDED(hr) && result == VARIANT_TRUE;
  VARIANT* all[] = {&name, &separate, &binary,  &details, &original_name, &message, &open,
                    &user, &password, &decrypt, &hash,    &cipher,        &trim};
  Clear(all, sizeof all / sizeof all[0]);
  return ok;
}

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: sign-and-verify FILE\n");
    return 2;
  }
  const char* file = argv[1];
  const char* dot = strrchr(file, '.');
  const size_t stem = dot != NULL ? (size_t)(dot - file) : strlen(file);
  char* signature = malloc(stem + sizeof "_DSignature.txt");
  if (signature == NULL) return 1;
  memcpy(signature, file, stem);
  strcpy(signature + stem, "_DSignature.txt");

  _DigitalSign* sign = NULL;
  HRESULT hr = VellumClientCreateObject(&CLSID_DigitalSign, &IID__DigitalSign, (void**)&sign);
  if (FAILED(hr)) {
    fprintf(stderr, "sign-and-verify: no DigitalSign object (0x%08X)\n", (unsigned)hr);
    free(signature);
    return 1;
  }
  int good = Sign(sign, file) && Verify(sign, signature, file);
  if (good) {
    FILE* f = fopen(file, "ab");
    good = f != NULL && fputs("changed\n", f) >= 0;
    if (f != NULL) fclose(f);
    good = good && !Verify(sign, signature, file);
  }
  sign->lpVtbl->Release(sign);
  free(signature);
  printf("%s\n", good ? "round trip: as expected" : "round trip: FAILED");
  return good ? 0 : 1;
}
