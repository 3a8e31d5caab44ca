/* Host hooks of the Vellum library.
 *
 * The library shows four kinds of user interface: a message box (the Zip class reports its
 * failures that way), a certificate chooser (signing with more than one usable certificate),
 * a PIN entry (signing with a key on a smart card or token) and the progress of long
 * operations (reading, compressing or extracting a large file). A host program installs its
 * own implementations through the one C entry point below; without hooks, messages go to
 * standard error, every selection is cancelled, no PIN is given and no progress reported. The
 * library copies the structure; `context` is handed back unchanged.
 *
 * The structure only grows at its end. A host built against an older, shorter version passes
 * its own struct_size and keeps working: the members it does not know are taken as NULL.
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
  /* Asks for the user PIN of the token named `token` (UTF-8, its label). Writes the PIN
   * (UTF-8, at most `capacity` - 1 bytes) and a terminating zero into `pin` and returns 0, or
   * returns -1 when the user cancelled. Asked at most once per library call, so a wrong PIN
   * costs the token one try only; an empty PIN counts as cancelled. The library wipes `pin`
   * after use; a host that kept a copy wipes its own. */
  int (*ask_pin)(void* context, const char* token, char* pin, unsigned capacity);
  /* Reports how far a long operation has come: `done` of `total` bytes of `operation` (UTF-8,
   * a short word a host can show: "Reading", "Compressing", "Extracting"). Called on the
   * caller's thread from inside a library call, at most once for every whole per cent of
   * `total` and once with done == total when the operation is over; an operation may run more
   * than once in one call (a file read twice). The host redraws a progress bar or keeps its
   * window alive; it must not call the library from here. */
  void (*progress)(void* context, const char* operation, unsigned long long done,
                   unsigned long long total);
} VellumHostHooks;

/* Installs (or with NULL, removes) the host hooks. Returns 0, or -1 when struct_size is
 * smaller than the first version of the structure (message_box and choose_certificate). Takes
 * effect for calls made afterwards on any object of the library. */
int VellumSetHostHooks(const VellumHostHooks* hooks);
typedef int (*VellumSetHostHooksFn)(const VellumHostHooks* hooks);

#ifdef __cplusplus
}
#endif

#endif
