/* Host hooks of the Vellum library.
 *
 * The library shows two kinds of user interface: a message box (the Zip class reports its
 * failures that way) and a certificate chooser (signing with more than one usable
 * certificate). A host program installs its own implementations through the one C entry
 * point below; without hooks, messages go to standard error and every selection is
 * cancelled. The library copies the structure; `context` is handed back unchanged.
 */
#ifndef VELLUM_HOST_H
#define VELLUM_HOST_H

#ifdef __cplusplus
extern "C" {
#endif

typedef struct VellumCertificateChoice {
  const char* subject;  /* UTF-8, "CN=Ann Lee, O=Example Ltd, C=GB" */
  const char* issuer;   /* UTF-8 */
  const char* valid_to; /* UTF-8, DD/MM/YYYY HH:MM:SS local time */
} VellumCertificateChoice;

typedef struct VellumHostHooks {
  unsigned struct_size; /* sizeof(VellumHostHooks), so the structure can grow */
  void* context;
  /* Shows `text` (UTF-8) with only an OK button; returns when the user closed it. */
  void (*message_box)(void* context, const char* text);
  /* Offers `count` certificates; returns the chosen index, or -1 when the user cancelled. */
  int (*choose_certificate)(void* context, const char* title, const char* prompt,
                            const VellumCertificateChoice* items, int count);
} VellumHostHooks;

/* Installs (or with NULL, removes) the host hooks. Returns 0, or -1 when struct_size is too
 * small. Takes effect for calls made afterwards on any object of the library. */
int VellumSetHostHooks(const VellumHostHooks* hooks);
typedef int (*VellumSetHostHooksFn)(const VellumHostHooks* hooks);

#ifdef __cplusplus
}
#endif

#endif
