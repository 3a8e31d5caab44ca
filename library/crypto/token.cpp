#include "library/crypto/token.h"

#include <dlfcn.h>
#include <libp11.h>
#include <openssl/err.h>
#include <pwd.h>
#include <unistd.h>

#include <sys/stat.h>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>

#include "library/platform/hooks.h"
#include "library/platform/secret.h"

#ifndef VELLUM_MULTIARCH_LIBDIR
#define VELLUM_MULTIARCH_LIBDIR "/usr/lib"
#endif

namespace vellum::crypto {
namespace {

// PKCS#11 return values told apart (PKCS#11 v2.40, pkcs11t.h).
constexpr unsigned long kCkrDeviceRemoved = 0x32;
constexpr unsigned long kCkrPinIncorrect = 0xA0;
constexpr unsigned long kCkrPinInvalid = 0xA1;
constexpr unsigned long kCkrPinLenRange = 0xA2;
constexpr unsigned long kCkrPinExpired = 0xA3;
constexpr unsigned long kCkrPinLocked = 0xA4;
constexpr unsigned long kCkrTokenNotPresent = 0xE0;

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

std::string Quoted(const std::string& s) {
  return "\"" + s + "\"";
}

// The PKCS#11 return value libp11 left on OpenSSL's error queue, 0 when there is none. The
// queue is emptied either way.
unsigned long TakeCkr() {
  unsigned long ckr = 0;
  const int lib = ERR_get_CKR_code();
  while (unsigned long e = ERR_get_error())
    if (ERR_GET_LIB(e) == lib && ckr == 0) ckr = static_cast<unsigned long>(ERR_GET_REASON(e));
  return ckr;
}

// ---- the owners of libp11's handles, one per kind -----------------------------------------

// A dlopen handle: used to try a module before libp11 loads it, so a missing or broken module
// is reported with the loader's own reason.
class LibraryHandle {
 public:
  explicit LibraryHandle(const std::string& path) : handle_(dlopen(path.c_str(), RTLD_NOW)) {}
  ~LibraryHandle() {
    if (handle_ != nullptr) dlclose(handle_);
  }
  LibraryHandle(const LibraryHandle&) = delete;
  LibraryHandle& operator=(const LibraryHandle&) = delete;
  void* get() const { return handle_; }

 private:
  void* handle_;
};

// A libp11 context with its module loaded (C_Initialize done); unloading finalizes the module.
class LoadedContext {
 public:
  LoadedContext() : ctx_(PKCS11_CTX_new()) {
    if (ctx_ == nullptr) throw Error::Component(hr::kOutOfMemory, "Out of memory.");
  }
  ~LoadedContext() {
    if (loaded_) PKCS11_CTX_unload(ctx_);
    PKCS11_CTX_free(ctx_);
  }
  LoadedContext(const LoadedContext&) = delete;
  LoadedContext& operator=(const LoadedContext&) = delete;

  bool Load(const std::string& path) {
    loaded_ = PKCS11_CTX_load(ctx_, path.c_str()) == 0;
    return loaded_;
  }
  PKCS11_CTX* get() const { return ctx_; }

 private:
  PKCS11_CTX* ctx_;
  bool loaded_ = false;
};

// The slot list of a context; releasing it closes the sessions opened on its slots (which
// logs out).
class SlotList {
 public:
  explicit SlotList(PKCS11_CTX* ctx) : ctx_(ctx) {
    if (PKCS11_enumerate_slots(ctx_, &slots_, &count_) != 0) {
      slots_ = nullptr;
      count_ = 0;
      ok_ = false;
    }
  }
  ~SlotList() {
    if (slots_ != nullptr) PKCS11_release_all_slots(ctx_, slots_, count_);
  }
  SlotList(const SlotList&) = delete;
  SlotList& operator=(const SlotList&) = delete;

  bool ok() const { return ok_; }
  unsigned size() const { return count_; }
  PKCS11_SLOT* at(unsigned i) const { return &slots_[i]; }

 private:
  PKCS11_CTX* ctx_;
  PKCS11_SLOT* slots_ = nullptr;
  unsigned count_ = 0;
  bool ok_ = true;
};

// ---- the module ------------------------------------------------------------------------------

// One loaded module and its slots. A module is initialized once per process, and finalizing
// it ends every session opened through it, so all stores and keys of one module share one
// Module (see LoadModule); the keys hold it alive until the last of them is released.
class Module {
 public:
  explicit Module(const ModuleChoice& choice) : choice_(choice) {
    Probe();
    if (!context_.Load(choice_.path)) {
      ERR_clear_error();
      throw Error::Component(token_hr::kNoModule,
                             "The PKCS#11 module " + Described() + " could not be initialized.");
    }
    slots_.emplace(context_.get());
    if (!slots_->ok()) {
      ERR_clear_error();
      throw Error::Component(token_hr::kTokenFailed,
                             "The PKCS#11 module " + Described() + " could not list its slots.");
    }
  }

  const SlotList& slots() const { return *slots_; }
  std::mutex& mutex() { return mutex_; }
  std::string Described() const { return Quoted(choice_.path) + " (" + choice_.source + ")"; }

 private:
  // Loads the module once by itself first: dlopen's reason names what is missing, and a file
  // that is no PKCS#11 module is refused before libp11 calls into it.
  void Probe() const {
    LibraryHandle library(choice_.path);
    if (library.get() == nullptr) {
      const char* reason = dlerror();
      throw Error::Component(token_hr::kNoModule,
                             "The PKCS#11 module " + Described() + " could not be loaded: " +
                                 (reason != nullptr ? reason : "unknown reason") + ".");
    }
    if (dlsym(library.get(), "C_GetFunctionList") == nullptr)
      throw Error::Component(token_hr::kNoModule,
                             "The file " + Described() + " is not a PKCS#11 module.");
  }

  ModuleChoice choice_;
  LoadedContext context_;
  std::optional<SlotList> slots_;  // released before the context
  std::mutex mutex_;
};

std::shared_ptr<Module> LoadModule(const ModuleChoice& choice) {
  static std::mutex cache_mutex;
  static std::map<std::string, std::weak_ptr<Module>> cache;
  std::lock_guard lock(cache_mutex);
  if (auto alive = cache[choice.path].lock()) return alive;
  auto module = std::make_shared<Module>(choice);
  cache[choice.path] = module;
  return module;
}

// ---- URIs ------------------------------------------------------------------------------------

bool HexDigit(char c) {
  return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

int HexValue(char c) {
  return std::isdigit(static_cast<unsigned char>(c)) != 0
             ? c - '0'
             : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
}

// The query part is left out of the message: it may hold a PIN the user should not have put
// there.
[[noreturn]] void BadUri(const std::string& uri, const std::string& why) {
  throw Error::Component(
      token_hr::kBadUri,
      "The PKCS#11 URI " + Quoted(uri.substr(0, uri.find('?'))) + " is not valid: " + why + ".");
}

Bytes PercentDecode(const std::string& uri, const std::string& value) {
  Bytes out;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '%') {
      out += value[i];
      continue;
    }
    if (i + 2 >= value.size() || !HexDigit(value[i + 1]) || !HexDigit(value[i + 2]))
      BadUri(uri, "\"%\" must be followed by two hexadecimal digits");
    out += static_cast<char>(HexValue(value[i + 1]) * 16 + HexValue(value[i + 2]));
    i += 2;
  }
  return out;
}

std::string PercentEncode(const Bytes& value) {
  static const char* kHex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : value) {
    if (std::isalnum(c) != 0 || c == '-' || c == '.' || c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0x0F];
    }
  }
  return out;
}

// ---- tokens ----------------------------------------------------------------------------------

std::string TokenName(const PKCS11_TOKEN* token) {
  return token->label != nullptr ? token->label : "";
}

bool Matches(const std::optional<std::string>& wanted, const char* have) {
  return !wanted || *wanted == (have != nullptr ? have : "");
}

bool TokenMatches(const Pkcs11Uri& uri, const PKCS11_TOKEN* token) {
  return Matches(uri.token, token->label) && Matches(uri.manufacturer, token->manufacturer) &&
         Matches(uri.serial, token->serialnr) && Matches(uri.model, token->model);
}

bool CertificateMatches(const Pkcs11Uri& uri, const PKCS11_CERT& cert) {
  if (!Matches(uri.object, cert.label)) return false;
  if (!uri.id) return true;
  return Bytes(reinterpret_cast<const char*>(cert.id), cert.id_len) == *uri.id;
}

PKCS11_SLOT* FindToken(const Module& module, const std::string& text, const Pkcs11Uri& uri) {
  std::vector<PKCS11_SLOT*> found;
  for (unsigned i = 0; i < module.slots().size(); ++i) {
    PKCS11_SLOT* slot = module.slots().at(i);
    if (slot->token != nullptr && slot->token->initialized != 0 && TokenMatches(uri, slot->token))
      found.push_back(slot);
  }
  if (found.empty())
    throw Error::Component(token_hr::kNoToken, "No token matching " + Quoted(text) +
                                                   " is present in the PKCS#11 module " +
                                                   module.Described() + ".");
  if (found.size() > 1) {
    std::string names;
    for (const PKCS11_SLOT* slot : found)
      names += (names.empty() ? "" : ", ") + Quoted(TokenName(slot->token));
    throw Error::Component(token_hr::kBadUri, "The PKCS#11 URI " + Quoted(text) + " matches " +
                                                  std::to_string(found.size()) + " tokens (" +
                                                  names + "); name one with its token label.");
  }
  return found.front();
}

// Logs in with the PIN the host gives, asking it once. A token that is already logged in
// (another store of this process holds it open) is not asked again.
void LogIn(PKCS11_SLOT* slot) {
  PKCS11_TOKEN* token = slot->token;
  if (token->loginRequired == 0) return;
  const std::string name = TokenName(token);
  if (PKCS11_open_session(slot, 0) != 0) {
    const unsigned long ckr = TakeCkr();
    if (ckr == kCkrDeviceRemoved || ckr == kCkrTokenNotPresent) throw LoginError(ckr, name);
    throw Error::Component(token_hr::kTokenFailed,
                           "No session could be opened with the token " + Quoted(name) + ".");
  }
  int logged_in = 0;
  if (PKCS11_is_logged_in(slot, 0, &logged_in) == 0 && logged_in != 0) return;
  ERR_clear_error();
  if (token->userPinLocked != 0) throw LoginError(kCkrPinLocked, name);
  platform::SecretText pin;
  if (!platform::AskPin(name, pin))
    throw Error::Component(token_hr::kNoPin,
                           "No PIN was given for the token " + Quoted(name) + ".");
  if (PKCS11_login(slot, 0, pin.get().c_str()) != 0) throw LoginError(TakeCkr(), name);
}

// A private key on the token whose public half is the certificate's, or null. The key's
// EVP_PKEY keeps the module alive: every operation on it calls into the module.
std::shared_ptr<EVP_PKEY> KeyOf(X509* cert, PKCS11_KEY* keys, unsigned key_count,
                                const std::shared_ptr<Module>& module) {
  EVP_PKEY* public_key = X509_get0_pubkey(cert);
  if (public_key == nullptr) return nullptr;
  for (unsigned i = 0; i < key_count; ++i) {
    ossl::PkeyPtr key(PKCS11_get_private_key(&keys[i]));
    if (key && EVP_PKEY_eq(public_key, key.get()) == 1)
      return std::shared_ptr<EVP_PKEY>(key.release(), [module](EVP_PKEY* p) { EVP_PKEY_free(p); });
  }
  return nullptr;
}

std::string ConfigHome() {
  std::string config = Env("XDG_CONFIG_HOME");
  if (!config.empty() && config[0] == '/') return config;
  std::string home = Env("HOME");
  if (home.empty()) {
    if (const passwd* pw = getpwuid(getuid()); pw != nullptr && pw->pw_dir != nullptr)
      home = pw->pw_dir;
  }
  return home + "/.config";
}

std::string Trim(const std::string& s) {
  std::size_t begin = s.find_first_not_of(" \t\r");
  if (begin == std::string::npos) return "";
  std::size_t end = s.find_last_not_of(" \t\r");
  return s.substr(begin, end - begin + 1);
}

// The "module = PATH" line of the setting file; empty when the file or the line is missing.
std::string ModuleSetting(const std::string& file) {
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    line = Trim(line);
    if (line.empty() || line[0] == '#' || line[0] == ';') continue;
    std::size_t eq = line.find('=');
    if (eq != std::string::npos && Trim(line.substr(0, eq)) == "module")
      return Trim(line.substr(eq + 1));
  }
  return "";
}

bool IsFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

bool IsTokenFailure(std::int32_t hresult) {
  return (static_cast<std::uint32_t>(hresult) & 0xFFFF0000u) == 0x80100000u ||
         hresult == token_hr::kNoModule;
}

bool IsPkcs11Uri(const std::string& store_name) {
  static constexpr std::string_view kScheme = "pkcs11:";
  if (store_name.size() < kScheme.size()) return false;
  for (std::size_t i = 0; i < kScheme.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(store_name[i])) != kScheme[i]) return false;
  return true;
}

Pkcs11Uri ParsePkcs11Uri(const std::string& text) {
  if (!IsPkcs11Uri(text)) BadUri(text, "it does not start with \"pkcs11:\"");
  std::string rest = text.substr(7);
  if (std::size_t query = rest.find('?'); query != std::string::npos) {
    std::string first = rest.substr(query + 1);
    first = first.substr(0, first.find_first_of("=&"));
    if (first == "pin-value" || first == "pin-source")
      BadUri(text, "a PIN is never given in a store name; the program asks for it");
    BadUri(text, "the query attribute \"" + first + "\" is not supported");
  }
  Pkcs11Uri uri;
  if (rest.empty()) return uri;
  std::size_t start = 0;
  while (true) {
    std::size_t end = rest.find(';', start);
    std::string attribute = rest.substr(start, end == std::string::npos ? end : end - start);
    std::size_t eq = attribute.find('=');
    if (attribute.empty() || eq == std::string::npos || eq == 0)
      BadUri(text, "every attribute is written name=value, separated by \";\"");
    const std::string name = attribute.substr(0, eq);
    Bytes value = PercentDecode(text, attribute.substr(eq + 1));
    auto set = [&](auto& field) {
      if (field) BadUri(text, "the attribute \"" + name + "\" is given twice");
      field = std::move(value);
    };
    if (name == "token")
      set(uri.token);
    else if (name == "manufacturer")
      set(uri.manufacturer);
    else if (name == "serial")
      set(uri.serial);
    else if (name == "model")
      set(uri.model);
    else if (name == "object")
      set(uri.object);
    else if (name == "id")
      set(uri.id);
    else if (name != "type")
      BadUri(text, "the attribute \"" + name + "\" is not supported");
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return uri;
}

std::string FormatPkcs11Uri(const Pkcs11Uri& uri) {
  std::string out = "pkcs11:";
  bool first = true;
  auto add = [&](const char* name, const std::optional<Bytes>& value) {
    if (!value) return;
    if (!first) out += ';';
    out += name;
    out += '=';
    out += PercentEncode(*value);
    first = false;
  };
  add("token", uri.token);
  add("manufacturer", uri.manufacturer);
  add("serial", uri.serial);
  add("model", uri.model);
  add("object", uri.object);
  add("id", uri.id);
  return out;
}

ModuleChoice ChooseModule() {
  if (std::string module = Env("VELLUM_PKCS11_MODULE"); !module.empty())
    return {module, "VELLUM_PKCS11_MODULE"};
  const std::string setting = ConfigHome() + "/vellum/pkcs11.conf";
  if (std::string module = ModuleSetting(setting); !module.empty()) return {module, setting};
  // The proxy of p11-kit loads every module registered on the system. Debian ships it as
  // p11-kit-proxy.so (package p11-kit-modules), a link to libp11-kit.so.0, which exports the
  // same module entry point and is present wherever p11-kit is.
  for (const char* candidate : {VELLUM_MULTIARCH_LIBDIR "/p11-kit-proxy.so",
                                "/usr/lib/p11-kit-proxy.so", "/usr/lib64/p11-kit-proxy.so"})
    if (IsFile(candidate)) return {candidate, "p11-kit proxy"};
  return {"libp11-kit.so.0", "p11-kit proxy"};
}

Error LoginError(unsigned long ckr, const std::string& token) {
  const std::string name = Quoted(token);
  switch (ckr) {
    case kCkrPinIncorrect:
    case kCkrPinInvalid:
    case kCkrPinLenRange:
      return Error::Component(token_hr::kWrongPin,
                              "The PIN for the token " + name + " is not correct.");
    case kCkrPinLocked:
      return Error::Component(token_hr::kPinLocked,
                              "The PIN of the token " + name +
                                  " is locked; it must be unblocked before the token can sign.");
    case kCkrPinExpired:
      return Error::Component(token_hr::kPinLocked, "The PIN of the token " + name +
                                                        " has expired; it must be changed first.");
    case kCkrDeviceRemoved:
    case kCkrTokenNotPresent:
      return Error::Component(token_hr::kNoToken, "The token " + name + " was removed.");
    default: {
      char code[32];
      std::snprintf(code, sizeof code, "0x%lX", ckr);
      return Error::Component(
          token_hr::kTokenFailed,
          "The token " + name + " refused the login (PKCS#11 error " + code + ").");
    }
  }
}

std::vector<Certificate> OpenTokenStore(const std::string& text) {
  const Pkcs11Uri uri = ParsePkcs11Uri(text);
  ossl::EnsureProviders();
  std::shared_ptr<Module> module = LoadModule(ChooseModule());
  std::lock_guard lock(module->mutex());
  PKCS11_SLOT* slot = FindToken(*module, text, uri);
  const std::string name = TokenName(slot->token);
  LogIn(slot);

  PKCS11_CERT* certs = nullptr;
  unsigned cert_count = 0;
  PKCS11_KEY* keys = nullptr;
  unsigned key_count = 0;
  if (PKCS11_enumerate_certs(slot->token, &certs, &cert_count) != 0 ||
      PKCS11_enumerate_keys(slot->token, &keys, &key_count) != 0) {
    ERR_clear_error();
    throw Error::Component(token_hr::kTokenFailed,
                           "The objects of the token " + Quoted(name) + " could not be read.");
  }
  std::vector<Certificate> out;
  for (unsigned i = 0; i < cert_count; ++i) {
    if (certs[i].x509 == nullptr || !CertificateMatches(uri, certs[i])) continue;
    ossl::X509Ptr copy(X509_dup(certs[i].x509));
    if (!copy) ossl::Fail(hr::kOutOfMemory, "Out of memory.");
    Certificate cert(std::move(copy));
    cert.set_private_key(KeyOf(cert.x509(), keys, key_count, module));
    out.push_back(std::move(cert));
  }
  ERR_clear_error();
  return out;
}

std::vector<TokenRow> ListTokens() {
  std::shared_ptr<Module> module = LoadModule(ChooseModule());
  std::lock_guard lock(module->mutex());
  std::vector<TokenRow> rows;
  for (unsigned i = 0; i < module->slots().size(); ++i) {
    const PKCS11_TOKEN* token = module->slots().at(i)->token;
    if (token == nullptr) continue;
    auto text = [](const char* s) { return std::string(s != nullptr ? s : ""); };
    TokenRow row{text(token->label),
                 text(token->manufacturer),
                 text(token->model),
                 text(token->serialnr),
                 "",
                 token->initialized != 0,
                 token->loginRequired != 0,
                 token->userPinLocked != 0};
    row.uri = FormatPkcs11Uri({row.label, row.manufacturer, row.serial, row.model, {}, {}});
    rows.push_back(std::move(row));
  }
  ERR_clear_error();
  return rows;
}

}  // namespace vellum::crypto
