#include "cli/run.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <ostream>

#include "cli/command_line.h"
#include "cli/commands.h"
#include "cli/context.h"
#include "cli/safe_text.h"
#include "vellum/version.h"

namespace vellum::cli {
namespace {

// The command line as data: each command with its operands and options, in the order the
// help lists them. Options take their values as text; the handlers judge the values, so a
// wrong number gets the handler's own message.
const std::vector<CommandEntry>& Commands() {
  static const OptionSpec kPasswordFile = {"password-file", "FILE",
                                           "read the password from FILE (one trailing line break "
                                           "is dropped); else $VELLUM_PASSWORD, else a prompt"};
  static const OptionSpec kStore = {"store", "NAME",
                                    "the certificate store (default \"My\"), or a token: "
                                    "pkcs11:token=LABEL"};
  static const OptionSpec kPinFile = {"pin-file", "FILE",
                                      "read a token's PIN from FILE (one trailing line break is "
                                      "dropped); else $VELLUM_PIN, else a prompt"};
  // Who signed: the trust options of the verify commands.
  static const OptionSpec kTrustAnchors = {
      "trust-anchors", "FILE|DIR",
      "trust the certificates in FILE (PEM or DER) or in the folder DIR too; repeatable"};
  static const OptionSpec kCrl = {"crl", "FILE",
                                  "check revocation against this CRL too; repeatable"};
  static const OptionSpec kRequireTrust = {
      "require-trust", nullptr, "exit 3 when the signature holds but a signer is not trusted"};
  static const OptionSpec kAllowWeak = {"allow-weak", nullptr,
                                        "with --require-trust: a weak signer passes"};
  static const OptionSpec kJson = {"json", nullptr, "print one JSON object instead of the text"};
  static const OptionSpec kTsa = {"tsa", "URL",
                                  "the RFC 3161 time-stamping authority (http or https); else "
                                  "$VELLUM_TSA_URL, else the user's setting"};
  static const std::vector<CommandEntry> commands = {
      {"register",
       "[LIBRARY]",
       "Register the library (default: the one installed with this command) in the user's "
       "registry",
       {{"system", nullptr,
         "register for every user in the system registry (/etc/xdg/vellum/registry.ini), read "
         "by users who have not registered it themselves"}},
       CmdRegister},
      {"unregister",
       "[LIBRARY]",
       "Remove the library's classes from the registry",
       {{"system", nullptr, "remove them from the system registry"}},
       CmdUnregister},
      {"open", "FILE", "Open FILE with the program the desktop associates with it", {}, CmdOpen},
      {"store", "COMMAND", "Look after the certificate stores signing draws on", {}, nullptr},
      {"store list",
       "",
       "List the certificates of a store with their thumbprints",
       {kStore, kPinFile, {"json", nullptr, "print one JSON object"}},
       CmdStoreList},
      {"store tokens",
       "",
       "List the tokens (smart cards) the PKCS#11 module sees, with their store names",
       {},
       CmdStoreTokens},
      {"store import",
       "FILE",
       "Import a certificate (PEM, DER) or a PKCS#12 file with its key into a store",
       {kStore, kPasswordFile},
       CmdStoreImport},
      {"store new-certificate",
       "",
       "Make a self-signed signing certificate with its key in a store",
       {{"subject", "TEXT", "the subject, as \"CN=Ann Lee, O=Example Ltd\" (required)"},
        {"days", "N", "days of validity, 1 to 36500 (default 365)"},
        kStore},
       CmdStoreNewCertificate},
      {"encrypt",
       "",
       "Encrypt standard input with a password; the result goes to standard output",
       {kPasswordFile, {"enc-alg", "N", "0 RC2, 2 DES, 3 triple DES, 4 AES-256 (default)"}},
       CmdEncrypt},
      {"decrypt",
       "",
       "Decrypt standard input with a password; the text goes to standard output",
       {kPasswordFile, {"enc-alg", "N", "the algorithm code the text was encrypted with"}},
       CmdDecrypt},
      {"sign",
       "FILE",
       "Sign FILE; the signature is written beside it",
       {{"attached", nullptr, "the signature carries the file (default: detached)"},
        {"binary", nullptr, "write the signature as DER bytes (default: Base64 text)"},
        {"zip", nullptr, "pack the signature into a password-protected archive"},
        kStore,
        kPinFile,
        {"suffix", "S",
         "the signature's name ending (default _DSignature.txt or "
         "_ContentSignature.txt)"},
        {"user", "ID",
         "sign credentials: the user id (the password comes as --password-file "
         "says)"},
        kPasswordFile,
        {"encrypt", nullptr, "encrypt the attached content with the credentials"},
        {"person", "TEXT", "choose the certificate whose subject holds TEXT"},
        {"mail", "TEXT", "choose the certificate whose subject holds the mail address TEXT"},
        {"company", "TEXT", "choose the certificate whose subject holds the company TEXT"},
        {"hash-alg", "N", "credentials hash: 0 SHA-1 (default), 4 SHA-256, 5 SHA-384, 6 SHA-512"},
        {"enc-alg", "N", "content encryption: 0 RC2, 2 DES, 3 triple DES, 4 AES-256 (default)"},
        {"pad", "N", "pad the user id and password as the desk does (trim, then '*' to N)"},
        {"thumbprint", "HEX",
         "sign with the certificate of this SHA-1 or SHA-256 thumbprint (as 'store list' "
         "shows it), without a prompt"},
        {"json", nullptr, "print one JSON object instead of the library's text"},
        kTsa},
       CmdSign},
      {"timestamp",
       "SIGNATURE",
       "Add a timestamp to each signer of a signature file that has none; the file is replaced",
       {{"binary", nullptr, "the signature is DER bytes (default: Base64 text)"}, kTsa},
       CmdTimestamp},
      {"verify",
       "FILE...",
       "Verify signature files, or documents by the detached signatures beside them "
       "(NAME_Signature.EXT or NAME_DSignature.txt); several files give one line each and the "
       "worst status",
       {{"original", "FILE", "the signed file of a detached signature"},
        {"attached", nullptr, "the signature carries the file; it is restored beside it"},
        {"binary", nullptr, "the signature is DER bytes (default: Base64 text)"},
        {"zip", nullptr, "the signature is packed in a password-protected archive"},
        {"user", "ID", "the credentials' user id"},
        kPasswordFile,
        {"decrypt", nullptr, "the attached content is encrypted with the credentials"},
        {"trim", nullptr, "trim blanks from the restored text"},
        {"open", nullptr, "open the verified file afterwards"},
        {"to-temp", nullptr, "restore an attached file into the temporary folder"},
        {"hash-alg", "N", "the credentials hash code the signature was made with"},
        {"enc-alg", "N", "the content encryption code the signature was made with"},
        {"pad", "N", "pad the user id and password as the desk does (trim, then '*' to N)"},
        kTrustAnchors,
        kCrl,
        kRequireTrust,
        kAllowWeak,
        kJson},
       CmdVerify},
      {"verify-nse",
       "SIGNATURE",
       "Verify a detached signature made without credentials",
       {{"original", "FILE", "the signed file (required)"},
        {"binary", nullptr, "the signature is DER bytes (default: Base64 text)"},
        kTrustAnchors,
        kCrl,
        kRequireTrust,
        kAllowWeak,
        kJson},
       CmdVerifyNse},
      {"zip",
       "FILE ARCHIVE",
       "Pack FILE into ARCHIVE, encrypted with AES-256 under a password",
       {kPasswordFile},
       CmdZip},
      {"unzip",
       "ARCHIVE",
       "Extract ARCHIVE into the UnZip folder beside it",
       {kPasswordFile},
       CmdUnzip},
  };
  return commands;
}

}  // namespace

std::string VersionText() {
  // The release as the library's file version shows it: major, minor in two digits, patch
  // in four (1.0.5 reads 1.00.0005).
  char text[64];
  std::snprintf(text, sizeof text, "vellum %d.%02d.%04d", VELLUM_VERSION_MAJOR,
                VELLUM_VERSION_MINOR, VELLUM_VERSION_PATCH);
  return text;
}

int Run(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
        std::ostream& err) {
  // Names and texts reach the library as UTF-16; bytes that are no UTF-8 would arrive as
  // U+FFFD and name another file.
  if (std::string refusal = CheckArgumentsAreUtf8(args); !refusal.empty()) {
    err << refusal << "\n";
    return kUsage;
  }
  return RunCommandLine(Commands(), args, in, out, err);
}

}  // namespace vellum::cli
