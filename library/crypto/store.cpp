#include "library/crypto/store.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509v3.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include <filesystem>
#include <optional>

#include "library/crypto/token.h"
#include "library/platform/dates.h"
#include "library/platform/error.h"
#include "library/platform/files.h"
#include "library/platform/hooks.h"
#include "library/platform/secret.h"

namespace vellum::crypto {
namespace fs = std::filesystem;
namespace {

// CRYPT_E_ASN1_BADTAG: what the original platform reported for bytes that are no certificate.
constexpr std::int32_t kBadEncoding = static_cast<std::int32_t>(0x8009310B);

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string Extension(const fs::path& p) {
  return Lower(platform::PathToUtf8(p.extension()));
}

// Encrypted PEM keys are not ours to unlock: refuse instead of letting OpenSSL prompt on the
// terminal.
int NoPassword(char*, int, int, void*) {
  return -1;
}

bool LooksLikePem(std::string_view data) {
  return data.find("-----BEGIN ") != std::string::npos;
}

// Every certificate in a PEM text, or the one DER certificate (which must fill the bytes).
std::vector<ossl::X509Ptr> ParseCertificates(std::string_view data) {
  std::vector<ossl::X509Ptr> out;
  if (LooksLikePem(data)) {
    ossl::BioPtr bio = ossl::MemoryReader(data);
    while (X509* cert = PEM_read_bio_X509_AUX(bio.get(), nullptr, NoPassword, nullptr))
      out.emplace_back(cert);
  } else {
    const auto* p = reinterpret_cast<const unsigned char*>(data.data());
    ossl::X509Ptr cert(d2i_X509(nullptr, &p, static_cast<long>(data.size())));
    if (cert && p == reinterpret_cast<const unsigned char*>(data.data()) + data.size())
      out.push_back(std::move(cert));
  }
  ERR_clear_error();
  return out;
}

ossl::PkeyPtr ParseKey(std::string_view data) {
  ossl::BioPtr bio = ossl::MemoryReader(data);
  ossl::PkeyPtr key(PEM_read_bio_PrivateKey(bio.get(), nullptr, NoPassword, nullptr));
  ERR_clear_error();
  return key;
}

struct Pkcs12Contents {
  ossl::X509Ptr cert;
  ossl::PkeyPtr key;
  std::vector<ossl::X509Ptr> extra;
};

enum class Pkcs12Result { kOk, kNotPkcs12, kWrongPassword };

Pkcs12Result ParsePkcs12(std::string_view data, const Bytes& password, Pkcs12Contents& out) {
  const auto* p = reinterpret_cast<const unsigned char*>(data.data());
  ossl::Pkcs12Ptr p12(d2i_PKCS12(nullptr, &p, static_cast<long>(data.size())));
  if (!p12) {
    ERR_clear_error();
    return Pkcs12Result::kNotPkcs12;
  }
  // An empty password has two encodings (absent, or an empty BMPString); files exist with both.
  const platform::SecretText held(password);
  const std::string& pass = held.get();
  const char* pass_arg = pass.c_str();
  if (PKCS12_mac_present(p12.get()) && PKCS12_verify_mac(p12.get(), pass_arg, -1) != 1) {
    if (!pass.empty() || PKCS12_verify_mac(p12.get(), nullptr, 0) != 1) {
      ERR_clear_error();
      return Pkcs12Result::kWrongPassword;
    }
    pass_arg = nullptr;
  }
  EVP_PKEY* key = nullptr;
  X509* cert = nullptr;
  STACK_OF(X509)* ca = nullptr;
  int ok = PKCS12_parse(p12.get(), pass_arg, &key, &cert, &ca);
  ossl::X509StackPtr extra(ca);
  out.cert.reset(cert);
  out.key.reset(key);
  if (ok != 1 || !out.cert) {
    ERR_clear_error();
    return Pkcs12Result::kWrongPassword;
  }
  while (extra && sk_X509_num(extra.get()) > 0) out.extra.emplace_back(sk_X509_shift(extra.get()));
  return Pkcs12Result::kOk;
}

// Collects one folder's certificates, each with its key when a key file or the same PKCS#12
// file brought one; the same certificate seen twice is kept once.
class FolderLoader {
 public:
  void Load(const fs::path& folder) {
    std::error_code ec;
    std::vector<fs::path> files;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
      std::error_code type_ec;
      if (it->is_regular_file(type_ec)) files.push_back(it->path());
    }
    if (ec)
      throw Error::Component(hr::kStoreOpen, "The certificate store \"" +
                                                 platform::PathToUtf8(folder) +
                                                 "\" cannot be read: " + ec.message());
    std::sort(files.begin(), files.end());
    for (const auto& file : files) LoadFile(file);
  }

  std::vector<Certificate> Finish() {
    std::vector<Certificate> out;
    for (auto& cert : certs_) {
      for (const auto& [key, exposed_file] : keys_) {
        if (EVP_PKEY_eq(X509_get0_pubkey(cert.x509()), key.get()) == 1) {
          cert.set_private_key(key);
          cert.set_exposed_key_file(exposed_file);
          break;
        }
      }
      out.push_back(cert);
    }
    ERR_clear_error();
    return out;
  }

 private:
  void LoadFile(const fs::path& file) {
    std::string ext = Extension(file);
    bool cert_file = ext == ".pem" || ext == ".crt" || ext == ".cer" || ext == ".der";
    bool key_file = ext == ".key";
    bool p12_file = ext == ".p12" || ext == ".pfx";
    if (!cert_file && !key_file && !p12_file) return;
    platform::SecretText held;  // a key file or a PKCS#12 file holds a private key
    const std::string path = platform::PathToUtf8(file);
    try {
      held.get() = platform::ReadFileBytes(path);
    } catch (const Error&) {
      return;  // one unreadable file does not spoil the store
    }
    const Bytes& data = held.get();
    // A key others may read is still used (refusing it would stop the user signing), but the
    // file is named wherever the key shows, so the user can make it private.
    struct stat st {};
    const bool exposed =
        !cert_file && ::stat(path.c_str(), &st) == 0 && (st.st_mode & (S_IRWXG | S_IRWXO)) != 0;
    const std::string exposed_file = exposed ? path : std::string();
    if (cert_file) {
      for (auto& cert : ParseCertificates(data)) Add(Certificate(std::move(cert)));
    } else if (key_file) {
      if (ossl::PkeyPtr key = ParseKey(data)) keys_.emplace_back(std::move(key), exposed_file);
    } else {
      Pkcs12Contents contents;
      if (ParsePkcs12(data, Bytes(), contents) != Pkcs12Result::kOk) return;
      if (contents.key) keys_.emplace_back(std::move(contents.key), exposed_file);
      Add(Certificate(std::move(contents.cert)));
      for (auto& extra : contents.extra) Add(Certificate(std::move(extra)));
    }
  }

  void Add(Certificate cert) {
    for (const auto& seen : certs_)
      if (seen.SameAs(cert)) return;
    certs_.push_back(std::move(cert));
  }

  std::vector<Certificate> certs_;
  std::vector<std::pair<std::shared_ptr<EVP_PKEY>, std::string>> keys_;  // with exposed file
};

std::vector<Certificate> LoadStoreFolder(const std::string& folder_text) {
  fs::path folder = platform::PathFromUtf8(folder_text);
  std::error_code ec;
  fs::file_status status = fs::status(folder, ec);
  if (status.type() == fs::file_type::not_found) return {};
  if (ec || status.type() != fs::file_type::directory)
    throw Error::Component(hr::kStoreOpen,
                           "The certificate store \"" + folder_text + "\" cannot be opened.");
  FolderLoader loader;
  loader.Load(folder);
  return loader.Finish();
}

Bytes PemOfCertificate(X509* cert) {
  ossl::BioPtr bio(BIO_new(BIO_s_mem()));
  if (!bio || PEM_write_bio_X509(bio.get(), cert) != 1)
    ossl::Fail(hr::kFail, "The certificate could not be written.");
  return ossl::MemoryContents(bio.get());
}

Bytes PemOfKey(EVP_PKEY* key) {
  ossl::BioPtr bio(BIO_new(BIO_s_mem()));
  if (!bio || PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) != 1)
    ossl::Fail(hr::kFail, "The private key could not be written.");
  return ossl::MemoryContents(bio.get());
}

// Writes the files of one import; when any write fails the files this import created are
// removed again and the files it replaced are restored, so a failed import leaves the store
// as it was.
class StoreWriter {
 public:
  explicit StoreWriter(std::string folder) : folder_(std::move(folder)) {}

  void Put(const std::string& name, const Bytes& data, bool secret) {
    std::string path = folder_ + platform::kSeparator + name;
    Written entry{path, platform::FileExists(path), {}};
    if (entry.existed) entry.old = platform::ReadFileBytes(path);
    written_.push_back(std::move(entry));
    if (secret)
      platform::WritePrivateFileAtomic(path, data);
    else
      platform::WriteFileAtomic(path, data);
  }

  void Commit() { written_.clear(); }

  ~StoreWriter() {
    for (auto& w : written_) {
      try {
        if (w.existed)
          platform::WriteFileAtomic(w.path, w.old);
        else
          ::unlink(w.path.c_str());
      } catch (...) {
      }
      platform::Wipe(w.old);  // it may have been a key file
    }
  }

 private:
  struct Written {
    std::string path;
    bool existed;
    Bytes old;
  };
  std::string folder_;
  std::vector<Written> written_;
};

void WriteIntoStore(const std::string& name, const Certificate& cert,
                    const std::vector<Certificate>& extra) {
  std::string folder = StoreFolder(name);
  std::error_code ec;
  fs::create_directories(platform::PathFromUtf8(folder), ec);
  if (ec) throw FileError(ec.value(), folder);
  StoreWriter writer(folder);
  std::string base = cert.Thumbprint();
  // The key first: a certificate file without its key would look like a usable entry that
  // cannot sign.
  if (cert.HasPrivateKey()) {
    const platform::SecretText key(PemOfKey(cert.private_key()));
    writer.Put(base + ".key", key.get(), true);
  }
  writer.Put(base + ".pem", PemOfCertificate(cert.x509()), false);
  for (const auto& e : extra)
    writer.Put(e.Thumbprint() + ".pem", PemOfCertificate(e.x509()), false);
  writer.Commit();
}

void AddExtension(X509* cert, X509V3_CTX* ctx, int nid, const char* value) {
  ossl::X509ExtPtr ext(X509V3_EXT_conf_nid(nullptr, ctx, nid, value));
  if (!ext || X509_add_ext(cert, ext.get(), -1) != 1)
    ossl::Fail(hr::kFail, "The certificate extension could not be set.");
}

}  // namespace

std::string StoreRoot() {
  std::string root = Env("VELLUM_STORE_DIR");
  if (root.empty()) {
    std::string data = Env("XDG_DATA_HOME");
    if (data.empty() || data[0] != '/') {
      std::string home = Env("HOME");
      if (home.empty()) {
        if (const passwd* pw = getpwuid(getuid()); pw != nullptr && pw->pw_dir != nullptr)
          home = pw->pw_dir;
      }
      data = home + "/.local/share";
    }
    while (data.size() > 1 && data.back() == platform::kSeparator) data.pop_back();
    root = data + "/vellum/stores";
  }
  while (root.size() > 1 && root.back() == platform::kSeparator) root.pop_back();
  return root;
}

std::string StoreFolder(const std::string& name) {
  std::string store = name.empty() ? "My" : name;
  // Store names come from callers; one that climbs out of the root is refused.
  if (store == "." || store == ".." || store.find(platform::kSeparator) != std::string::npos ||
      store.find('\0') != std::string::npos)
    throw Error::Component(hr::kInvalidArg, "The store name \"" + store + "\" is not valid.");
  return StoreRoot() + platform::kSeparator + store;
}

Certificates Certificates::Find(int kind, std::int64_t criterion) const {
  std::vector<Certificate> out;
  if (kind == kFindExtendedProperty && criterion == kPropertyKeyProvider) {
    for (const auto& c : items_)
      if (c.HasPrivateKey()) out.push_back(c);
  } else if (kind == kFindTimeValid) {
    auto t = static_cast<std::time_t>(criterion);
    for (const auto& c : items_)
      if (c.ValidFrom() <= t && t <= c.ValidTo()) out.push_back(c);
  } else {
    throw Error::Component(hr::kInvalidArg, "The search kind or criterion is not supported.");
  }
  return Certificates(std::move(out));
}

Certificates Certificates::Find(int kind, const std::string& criterion) const {
  if (kind != kFindSubjectName)
    throw Error::Component(hr::kInvalidArg, "The search kind or criterion is not supported.");
  // Letter case is folded for ASCII only; other letters must match as written.
  std::string needle = Lower(criterion);
  std::vector<Certificate> out;
  for (const auto& c : items_)
    if (Lower(c.SubjectName()).find(needle) != std::string::npos) out.push_back(c);
  return Certificates(std::move(out));
}

Certificates Certificates::Select(const std::string& title, const std::string& prompt) const {
  std::vector<platform::CertificateChoice> choices;
  for (const auto& c : items_)
    choices.push_back({c.SubjectName(), c.IssuerName(), platform::FormatLocalTime(c.ValidTo())});
  int chosen = platform::ChooseCertificate(title, prompt, choices);
  if (chosen < 0 || chosen >= Count()) return Certificates();
  return Certificates({items_[static_cast<std::size_t>(chosen)]});
}

const Certificate& Certificates::Item(int index) const {
  if (index < 1 || index > Count())
    throw Error::Component(hr::kInvalidArg, "The certificate index is out of range.");
  return items_[static_cast<std::size_t>(index - 1)];
}

Store Store::Open(int location, const std::string& name, int mode) {
  if (location != kCurrentUserStore)
    throw Error::Component(hr::kInvalidArg, "Only the current user's stores can be opened.");
  if (mode < 0 || mode > 2)
    throw Error::Component(hr::kInvalidArg, "The store open mode is not valid.");
  ossl::EnsureProviders();
  Store store;
  store.items_ = IsPkcs11Uri(name) ? OpenTokenStore(name) : LoadStoreFolder(StoreFolder(name));
  return store;
}

std::vector<Certificate> AllStoreCertificates() {
  std::vector<Certificate> out;
  std::error_code ec;
  for (fs::directory_iterator it(platform::PathFromUtf8(StoreRoot()), ec), end; !ec && it != end;
       it.increment(ec)) {
    std::error_code type_ec;
    if (!it->is_directory(type_ec)) continue;
    try {
      auto certs = LoadStoreFolder(platform::PathToUtf8(it->path()));
      out.insert(out.end(), certs.begin(), certs.end());
    } catch (const Error&) {
    }
  }
  return out;
}

std::vector<Certificate> CertificatesAt(const std::string& path) {
  ossl::EnsureProviders();
  std::error_code ec;
  if (fs::is_directory(platform::PathFromUtf8(path), ec)) return LoadStoreFolder(path);
  Bytes data;
  try {
    data = platform::ReadFileBytes(path);
  } catch (const Error& e) {
    throw Error::Component(
        hr::kStoreOpen, "The certificates in \"" + path + "\" cannot be read: " + e.description());
  }
  std::vector<Certificate> out;
  for (auto& cert : ParseCertificates(data)) out.emplace_back(std::move(cert));
  if (out.empty())
    throw Error::Component(hr::kStoreOpen, "The file \"" + path + "\" holds no certificate.");
  return out;
}

std::vector<StoreRow> ListStore(const std::string& name) {
  std::vector<StoreRow> rows;
  const crypto::Certificates certs =
      Store::Open(kCurrentUserStore, name, kStoreReadOnly).Certificates();
  for (const auto& c : certs.items())
    rows.push_back({c.SubjectName(), c.IssuerName(), c.ValidFrom(), c.ValidTo(), c.HasPrivateKey(),
                    c.Thumbprint(), c.Sha256Thumbprint(), c.exposed_key_file()});
  return rows;
}

Certificate ImportIntoStore(const std::string& file, const Bytes& password,
                            const std::string& name) {
  ossl::EnsureProviders();
  (void)StoreFolder(name);  // refuse a bad store name before anything else
  const platform::SecretText held(platform::ReadSmallFile(file, kLargestImport));
  const Bytes& data = held.get();
  std::vector<Certificate> extra;
  std::optional<Certificate> main;
  if (auto certs = ParseCertificates(data); !certs.empty()) {
    main.emplace(std::move(certs.front()));
    for (std::size_t i = 1; i < certs.size(); ++i) extra.emplace_back(std::move(certs[i]));
    // A PEM file may carry the key of its first certificate too.
    if (LooksLikePem(data)) {
      if (ossl::PkeyPtr key = ParseKey(data);
          key && EVP_PKEY_eq(X509_get0_pubkey(main->x509()), key.get()) == 1)
        main->set_private_key(std::shared_ptr<EVP_PKEY>(std::move(key)));
    }
  } else {
    Pkcs12Contents contents;
    switch (ParsePkcs12(data, password, contents)) {
      case Pkcs12Result::kNotPkcs12:
        throw Error::Component(kBadEncoding,
                               "The file \"" + file + "\" holds no certificate that can be read.");
      case Pkcs12Result::kWrongPassword:
        throw Error::Component(hr::kBadData, "The password of \"" + file + "\" is not correct.");
      case Pkcs12Result::kOk:
        break;
    }
    main.emplace(std::move(contents.cert), std::move(contents.key));
    for (auto& e : contents.extra) extra.emplace_back(std::move(e));
  }
  WriteIntoStore(name, *main, extra);
  return *main;
}

Certificate NewSelfSignedCertificate(const std::string& subject, int days,
                                     const std::string& name) {
  ossl::EnsureProviders();
  (void)StoreFolder(name);
  if (days <= 0 || days > 36500)
    throw Error::Component(hr::kInvalidArg, "The number of days is not valid.");
  ossl::X509NamePtr subject_name = ParseName(subject);
  ossl::PkeyPtr key(EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(3072)));
  if (!key) ossl::Fail(hr::kFail, "The key could not be generated.");
  ossl::X509Ptr cert(X509_new());
  if (!cert) ossl::Fail(hr::kOutOfMemory, "Out of memory.");
  unsigned char serial_bytes[16];
  if (RAND_bytes(serial_bytes, sizeof serial_bytes) != 1)
    ossl::Fail(hr::kFail, "No random serial number.");
  serial_bytes[0] &= 0x7F;  // a positive serial number
  ossl::BignumPtr serial(BN_bin2bn(serial_bytes, sizeof serial_bytes, nullptr));
  std::time_t now = std::time(nullptr);
  if (!serial || X509_set_version(cert.get(), X509_VERSION_3) != 1 ||
      !BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(cert.get())) ||
      X509_set_subject_name(cert.get(), subject_name.get()) != 1 ||
      X509_set_issuer_name(cert.get(), subject_name.get()) != 1 ||
      !X509_time_adj_ex(X509_getm_notBefore(cert.get()), 0, 0, &now) ||
      !X509_time_adj_ex(X509_getm_notAfter(cert.get()), days, 0, &now) ||
      X509_set_pubkey(cert.get(), key.get()) != 1)
    ossl::Fail(hr::kFail, "The certificate could not be made.");
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, cert.get(), cert.get(), nullptr, nullptr, 0);
  AddExtension(cert.get(), &ctx, NID_basic_constraints, "critical,CA:FALSE");
  AddExtension(cert.get(), &ctx, NID_key_usage, "critical,digitalSignature,nonRepudiation");
  AddExtension(cert.get(), &ctx, NID_subject_key_identifier, "hash");
  if (X509_sign(cert.get(), key.get(), EVP_sha256()) <= 0)
    ossl::Fail(hr::kFail, "The certificate could not be signed.");
  Certificate made(std::move(cert), std::move(key));
  WriteIntoStore(name, made, {});
  return made;
}

}  // namespace vellum::crypto
