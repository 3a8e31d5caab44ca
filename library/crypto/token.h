// Certificate stores on smart cards and USB tokens, reached through a PKCS#11 module.
//
// A store name that is a PKCS#11 URI (RFC 7512) names a token: "pkcs11:token=Office%20Card".
// The path attributes token, manufacturer, serial and model pick the token; object (the
// label) and id (CKA_ID, raw bytes) narrow its certificates. type is accepted and ignored
// (the store is the token's certificates whatever it names). Any other attribute, and every
// query attribute (pin-value, pin-source, module-name, module-path), is refused: a PIN never
// travels in a store name, and an attribute we did not apply would silently widen the match.
// Exactly one initialised token must match.
//
// The module: $VELLUM_PKCS11_MODULE, else the line "module = PATH" of the per-user file
// $XDG_CONFIG_HOME/vellum/pkcs11.conf (else ~/.config/vellum/pkcs11.conf), else the p11-kit
// proxy module, which loads every module registered with p11-kit on the system.
//
// A certificate's private key is the private key object with the same CKA_ID whose public key
// matches the certificate. Private key objects are usually visible only after login, so opening
// a token that needs a login asks the host's PIN hook once (platform::AskPin), logs in and
// wipes the PIN. The key stays on the token: signing goes through libp11's EVP_PKEY, which
// hands every private-key operation to the module.
//
// Failures carry these codes (the smart-card codes of the original platform), each with a
// description that names the token or module and the reason.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "library/crypto/certificate.h"
#include "library/platform/error.h"
#include "library/platform/text.h"

namespace vellum::crypto {

namespace token_hr {
inline constexpr std::int32_t kBadUri = static_cast<std::int32_t>(0x80100004);   // bad parameter
inline constexpr std::int32_t kNoToken = static_cast<std::int32_t>(0x8010000C);  // no card
inline constexpr std::int32_t kTokenFailed = static_cast<std::int32_t>(0x80100014);  // unknown
inline constexpr std::int32_t kWrongPin = static_cast<std::int32_t>(0x8010006B);     // wrong CHV
inline constexpr std::int32_t kPinLocked = static_cast<std::int32_t>(0x8010006C);    // blocked
inline constexpr std::int32_t kNoPin = static_cast<std::int32_t>(0x8010006E);        // cancelled
// HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND)
inline constexpr std::int32_t kNoModule = static_cast<std::int32_t>(0x8007007E);
}  // namespace token_hr

// True for the codes above: failures whose description is the reason to show the user.
bool IsTokenFailure(std::int32_t hresult);

// True when `store_name` is a PKCS#11 URI (the scheme is compared ignoring letter case).
bool IsPkcs11Uri(const std::string& store_name);

// The attributes of a PKCS#11 URI that select a token and its certificates, %-escapes decoded.
struct Pkcs11Uri {
  std::optional<std::string> token;
  std::optional<std::string> manufacturer;
  std::optional<std::string> serial;
  std::optional<std::string> model;
  std::optional<std::string> object;
  std::optional<Bytes> id;
};

// Raises token_hr::kBadUri, naming the fault, for a text that is not such a URI.
Pkcs11Uri ParsePkcs11Uri(const std::string& text);

// The URI of a token: "pkcs11:token=...;manufacturer=...;serial=...;model=...", every byte
// outside ALPHA DIGIT - . _ ~ %-escaped, so any label survives the way back.
std::string FormatPkcs11Uri(const Pkcs11Uri& uri);

// The module this process loads: the path, and where the choice came from (for messages).
struct ModuleChoice {
  std::string path;
  std::string source;  // "VELLUM_PKCS11_MODULE", the setting file's path, or "p11-kit proxy"
};
ModuleChoice ChooseModule();

// The certificates of the token `uri` names, each with its private key when the key is on the
// token. Logs in first when the token requires it.
std::vector<Certificate> OpenTokenStore(const std::string& uri);

// What `vellum store tokens` shows: every token present in a slot of the module.
struct TokenRow {
  std::string label;
  std::string manufacturer;
  std::string model;
  std::string serial;
  std::string uri;  // FormatPkcs11Uri of the four above
  bool initialized = false;
  bool login_required = false;
  bool pin_locked = false;
};
std::vector<TokenRow> ListTokens();

// The error for a failed login to `token`, from the PKCS#11 return value (CKR_*).
Error LoginError(unsigned long ckr, const std::string& token);

}  // namespace vellum::crypto
