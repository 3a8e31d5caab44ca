// vellum store: looking after the folder stores that signing draws its certificates from, and
// listing the tokens (smart cards) that serve as stores. These are administration tasks
// outside the library's classes, so the command uses the cryptographic component directly
// here, with its own PIN hook.
#include <ctime>
#include <ostream>

#include "cli/commands.h"
#include "cli/password.h"
#include "cli/pin.h"
#include "cli/run.h"
#include "cli/safe_text.h"
#include "library/com/json.h"
#include "library/crypto/store.h"
#include "library/crypto/token.h"
#include "library/platform/dates.h"
#include "library/platform/error.h"
#include "library/platform/secret.h"

namespace vellum::cli {
namespace {

std::string StoreName(const Options& o) {
  return o.Value("store").value_or("My");
}

// One object: the store, its folder and its certificates; dates as verify --json writes them,
// the local text and the seconds since 1970.
void ListAsJson(Context& ctx, const Options& o, const std::vector<crypto::StoreRow>& rows) {
  std::vector<std::string> items;
  for (const auto& r : rows) {
    com::json::ObjectWriter item;
    item.Text("subject", r.subject)
        .Text("issuer", r.issuer)
        .Text("valid_from", platform::FormatLocalTime(r.valid_from))
        .Number("valid_from_unix", r.valid_from)
        .Text("valid_to", platform::FormatLocalTime(r.valid_to))
        .Number("valid_to_unix", r.valid_to)
        .Bool("private_key", r.has_key)
        .Text("thumbprint_sha1", r.thumbprint)
        .Text("thumbprint_sha256", r.thumbprint_sha256);
    if (r.exposed_key_file.empty())
      item.Null("exposed_key_file");
    else
      item.Text("exposed_key_file", r.exposed_key_file);
    items.push_back(item.Close());
  }
  ctx.out << com::json::ObjectWriter()
                 .Text("store", StoreName(o))
                 .Text("folder", crypto::StoreFolder(StoreName(o)))
                 .Raw("certificates", com::json::Array(items))
                 .Close()
          << "\n";
}

int List(Context& ctx, const Options& o) {
  if (!ctx.args.empty()) return kUsage;
  const std::string name = StoreName(o);
  PinEntry pin(ctx, o.Value("pin-file"));
  ScopedPinHook hook(pin);
  auto rows = crypto::ListStore(name);
  if (o.Has("json")) {
    ListAsJson(ctx, o, rows);
    return kOk;
  }
  ctx.out << "Store " << name << " ("
          << (crypto::IsPkcs11Uri(name) ? "token" : crypto::StoreFolder(name))
          << "): " << rows.size() << " certificate" << (rows.size() == 1 ? "" : "s") << "\n";
  for (const auto& r : rows) {
    ctx.out << "\n  Subject:     " << EscapeControls(r.subject)
            << "\n  Issuer:      " << EscapeControls(r.issuer)
            << "\n  Valid from:  " << platform::FormatLocalTime(r.valid_from)
            << "\n  Valid to:    " << platform::FormatLocalTime(r.valid_to)
            << "\n  Private key: " << (r.has_key ? "yes" : "no");
    if (r.has_key && !r.exposed_key_file.empty())
      ctx.out << " (WARNING: " << EscapeControls(r.exposed_key_file)
              << " is readable by other users; make it private with chmod 600)";
    ctx.out << "\n  Thumbprint:  " << r.thumbprint << "\n  SHA-256:     " << r.thumbprint_sha256
            << "\n";
  }
  return kOk;
}

int Import(Context& ctx, const Options& o) {
  if (ctx.args.size() != 1) return kUsage;
  const std::string& file = ctx.args[0];
  // A PKCS#12 file needs its password; a plain certificate file does not. Without a
  // terminal or a password source, the empty password is tried.
  std::optional<std::string> password;
  const bool pkcs12 = file.size() > 4 && (file.ends_with(".p12") || file.ends_with(".pfx") ||
                                          file.ends_with(".P12") || file.ends_with(".PFX"));
  if (pkcs12) {
    password = ReadPassword(ctx, o, "Password for " + file + ": ", std::string());
    if (!password) return kFailed;
  }
  platform::SecretText secret(password.value_or(""));
  crypto::Certificate c = crypto::ImportIntoStore(file, secret.get(), StoreName(o));
  ctx.Report() << "Imported " << c.SubjectName()
               << (c.HasPrivateKey() ? " with its private key" : "") << " into store "
               << StoreName(o) << "\n";
  return kOk;
}

int NewCertificate(Context& ctx, const Options& o) {
  auto subject = o.Value("subject");
  if (!ctx.args.empty() || !subject || subject->empty()) return kUsage;
  int days = 365;
  if (auto d = o.Value("days")) {
    try {
      std::size_t used = 0;
      days = std::stoi(*d, &used);
      if (used != d->size() || days < 1 || days > 36500) return kUsage;
    } catch (const std::exception&) {
      return kUsage;
    }
  }
  crypto::Certificate c = crypto::NewSelfSignedCertificate(*subject, days, StoreName(o));
  ctx.Report() << "Created " << c.SubjectName() << ", valid to "
               << platform::FormatLocalTime(c.ValidTo()) << ", in store " << StoreName(o) << "\n";
  return kOk;
}

std::string TokenState(const crypto::TokenRow& t) {
  if (!t.initialized) return "not initialised";
  if (t.pin_locked) return "PIN locked";
  return t.login_required ? "ready, signs after the PIN" : "ready, no PIN";
}

int Tokens(Context& ctx, const Options&) {
  if (!ctx.args.empty()) return kUsage;
  const crypto::ModuleChoice module = crypto::ChooseModule();
  const auto rows = crypto::ListTokens();
  ctx.out << "PKCS#11 module " << module.path << " (" << module.source << "): " << rows.size()
          << " token" << (rows.size() == 1 ? "" : "s") << "\n";
  for (const auto& t : rows) {
    ctx.out << "\n  Token:        " << t.label << "\n  Manufacturer: " << t.manufacturer
            << "\n  Model:        " << t.model << "\n  Serial:       " << t.serial
            << "\n  State:        " << TokenState(t) << "\n  Store name:   " << t.uri << "\n";
  }
  return kOk;
}

// Administration errors (an unreadable file, a store that cannot be written) end the command
// with the component's own text.
int Guarded(Context& ctx, int (*command)(Context&, const Options&)) {
  try {
    return command(ctx, ctx.options);
  } catch (const Error& e) {
    ctx.err << "vellum: " << e.description() << "\n";
    return kFailed;
  }
}

}  // namespace

void WarnAboutExposedKey(std::ostream& err, const std::string& store,
                         const std::string& signing_message) {
  // The signing message names the certificate: " Signed file from Certificate: SUBJECT" CR LF.
  constexpr std::string_view kLead = " Signed file from Certificate: ";
  if (signing_message.rfind(kLead, 0) != 0) return;
  const std::size_t end = signing_message.find("\r\n", kLead.size());
  const std::string subject = signing_message.substr(kLead.size(), end - kLead.size());
  try {
    for (const auto& r : crypto::ListStore(store.empty() ? "My" : store))
      if (r.has_key && r.subject == subject && !r.exposed_key_file.empty())
        err << "vellum: warning: the private key of " << EscapeControls(subject) << " is in "
            << EscapeControls(r.exposed_key_file)
            << ", which other users can read; make it private with chmod 600\n";
  } catch (const Error&) {
    // The store was read a moment ago by the library; a warning is no reason to fail now.
  }
}

int CmdStoreList(Context& ctx) {
  return Guarded(ctx, List);
}
int CmdStoreTokens(Context& ctx) {
  return Guarded(ctx, Tokens);
}
int CmdStoreImport(Context& ctx) {
  return Guarded(ctx, Import);
}
int CmdStoreNewCertificate(Context& ctx) {
  return Guarded(ctx, NewCertificate);
}

}  // namespace vellum::cli
