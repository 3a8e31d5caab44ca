// The current user's certificate stores: folders of certificate and key files.
//
// A store named N is the folder <root>/N, root being $VELLUM_STORE_DIR, else
// $XDG_DATA_HOME/vellum/stores, else ~/.local/share/vellum/stores. Certificates are PEM or
// DER files (.pem .crt .cer .der); a private key is a PEM file (.key) whose public key matches
// a certificate's; a PKCS#12 file (.p12 .pfx) with an empty password brings both.
//
// A name that is a PKCS#11 URI ("pkcs11:token=Office%20Card") is a smart card or token
// instead (token.h): its certificates, with the private keys that stay on it.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "library/crypto/certificate.h"

namespace vellum::crypto {

inline constexpr int kCurrentUserStore = 2;  // the only location served
inline constexpr int kStoreReadOnly = 0;

// Find kinds and criteria the callers use.
inline constexpr int kFindSubjectName = 1;
inline constexpr int kFindExtendedProperty = 6;
inline constexpr int kFindTimeValid = 9;
inline constexpr std::int64_t kPropertyKeyProvider = 2;  // with kFindExtendedProperty

// The folder that holds the stores (no trailing separator).
std::string StoreRoot();
// The folder of store `name` ("My" when empty). A name that is not a plain folder name
// (separator, ".", "..") raises hr::kInvalidArg, so no store reaches outside the root.
std::string StoreFolder(const std::string& name);

class Certificates {
 public:
  Certificates() = default;
  explicit Certificates(std::vector<Certificate> items) : items_(std::move(items)) {}

  int Count() const { return static_cast<int>(items_.size()); }
  // Kind 6 with 2: certificates with a usable private key. Kind 9 with a time: valid then
  // (notBefore <= t <= notAfter). Any other pairing raises hr::kInvalidArg.
  Certificates Find(int kind, std::int64_t criterion) const;
  // Kind 1: the subject's text form contains `criterion`, ignoring letter case.
  Certificates Find(int kind, const std::string& criterion) const;
  // Asks the host's chooser; an empty collection when it is missing or the user cancels.
  Certificates Select(const std::string& title, const std::string& prompt) const;
  // 1-based; out of range raises hr::kInvalidArg.
  const Certificate& Item(int index) const;

  const std::vector<Certificate>& items() const { return items_; }

 private:
  std::vector<Certificate> items_;
};

class Store {
 public:
  // Only location 2 (current user) and modes 0 to 2 are accepted. A missing folder opens as
  // an empty store; a folder that cannot be read raises hr::kStoreOpen. Files that do not
  // parse are skipped. A token is opened as OpenTokenStore does (it may ask for the PIN).
  static Store Open(int location, const std::string& name, int mode);

  crypto::Certificates Certificates() const { return crypto::Certificates(items_); }

 private:
  std::vector<Certificate> items_;
};

// Every certificate of every store folder under the root, for building chains. Folders that
// cannot be read are skipped here.
std::vector<Certificate> AllStoreCertificates();

// The certificates of a file (PEM with any number of certificates, or one DER certificate) or
// of a folder read as a store folder is read. A path that cannot be read, or a file that holds
// no certificate, raises hr::kStoreOpen naming the path.
std::vector<Certificate> CertificatesAt(const std::string& path);

// What `vellum store list` shows.
struct StoreRow {
  std::string subject;
  std::string issuer;
  std::time_t valid_from = 0;
  std::time_t valid_to = 0;
  bool has_key = false;
  std::string thumbprint;         // SHA-1, uppercase hex
  std::string thumbprint_sha256;  // SHA-256, uppercase hex
  std::string exposed_key_file;   // the key's file when group or others may read it
};
std::vector<StoreRow> ListStore(const std::string& name);

// The largest file ImportIntoStore reads: a certificate with its chain and key is a few
// kilobytes; anything near this bound is no certificate file.
inline constexpr std::size_t kLargestImport = std::size_t{16} << 20;

// Adds the certificate (and key) in `file` to store `name`, creating its folder. Only a regular
// file of at most kLargestImport bytes is read (error 75 otherwise). PKCS#12 is
// opened with `password` (UTF-8 bytes; a wrong one raises hr::kBadData); PEM or DER
// certificates need none. The certificate goes in as <thumbprint>.pem, a key as
// <thumbprint>.key with mode 0600. A file that cannot be read as any of these raises a
// failure HRESULT and the store is left as it was. Returns the certificate imported.
Certificate ImportIntoStore(const std::string& file, const Bytes& password,
                            const std::string& name);

// Makes an RSA-3072 self-signed signing certificate with `subject` ("CN=..., O=..., C=..."),
// valid from now for `days` days, and stores it with its key in store `name`.
Certificate NewSelfSignedCertificate(const std::string& subject, int days, const std::string& name);

}  // namespace vellum::crypto
