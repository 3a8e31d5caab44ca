// vellum sign, verify, verify-nse, zip and unzip: DigitalSign and Zip of the registered
// library, called through their vtables with the variants the methods expect.
//
// Every option the methods know is passed explicitly (never as a missing argument), so the
// library never meets an omitted value the command could have supplied: the defaults are a
// detached Base64 signature, the "Personal" store, hash code 0 and encryption code 4.
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <ostream>
#include <vector>

#include "cli/com_call.h"
#include "cli/commands.h"
#include "cli/password.h"
#include "cli/pin.h"
#include "cli/run.h"
#include "cli/safe_text.h"
#include "cli/sign_support.h"
#include "cli/trust_output.h"
#include "cli/verify_files.h"
#include "library/com/bstr.h"
#include "library/com/json.h"
#include "library/com/variant.h"
#include "library/crypto/certificate.h"
#include "library/crypto/store.h"
#include "library/crypto/timestamp.h"
#include "library/platform/dates.h"
#include "library/platform/error.h"
#include "library/platform/files.h"
#include "library/platform/secret.h"
#include "library/platform/text.h"
#include "vellum/vellum.h"

namespace vellum::cli {
namespace {

using com::Variant;

// Passwords as the methods take them, wiped on every way out.
using SecretVariant = platform::Secret<Variant>;
using SecretBstr = platform::Secret<com::Bstr>;

std::optional<std::int32_t> ParseLong(const std::string& text) {
  try {
    std::size_t used = 0;
    const long long value = std::stoll(text, &used);
    if (used != text.size() || value < INT32_MIN || value > INT32_MAX) return std::nullopt;
    return static_cast<std::int32_t>(value);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

// The value of a numeric option, `fallback` when absent; false (with a message) when it is no
// number.
bool NumberOption(Context& ctx, const Options& o, const char* name, std::int32_t fallback,
                  std::int32_t& value) {
  value = fallback;
  auto text = o.Value(name);
  if (!text) return true;
  auto parsed = ParseLong(*text);
  if (!parsed) {
    ctx.err << "vellum: --" << name << " needs a whole number, not '" << *text << "'\n";
    return false;
  }
  value = *parsed;
  return true;
}

// Paths go to the library absolute. It takes the folder of a name from its last separator, so
// a bare "a.txt" would otherwise fail attached signing and unpack into "/UnZip".
std::string Absolute(const std::string& path) {
  std::error_code ec;
  auto absolute = std::filesystem::absolute(platform::PathFromUtf8(path), ec);
  return ec ? path : platform::PathToUtf8(absolute);
}

bool HasPasswordSource(const Context& ctx, const Options& o) {
  return o.Value("password-file").has_value() || std::getenv("VELLUM_PASSWORD") != nullptr ||
         InteractiveInput(ctx);
}

// Reads a password for a command; an exit code when there is none.
std::optional<int> ReadSecret(Context& ctx, const Options& o, const std::string& prompt,
                              platform::SecretText& password) {
  if (!HasPasswordSource(ctx, o)) {
    ctx.err << "vellum: no password: use --password-file FILE or set VELLUM_PASSWORD\n";
    return kUsage;
  }
  auto read = ReadPassword(ctx, o, prompt);
  if (!read) return kFailed;
  password.get() = std::move(*read);
  platform::Wipe(*read);
  return std::nullopt;
}

// The user id and password of sign and verify. Without --user there are no credentials (the
// library needs both), so no password is asked for. --pad applies the desk's rule, which
// refuses an id or password that is blank once trimmed, with the desk's own words.
struct Credentials {
  std::string user;
  platform::SecretText password;
};

std::optional<int> ReadCredentials(Context& ctx, const Options& o, Credentials& c) {
  auto user = o.Value("user");
  if (!user) {
    if (o.Has("password-file") || o.Has("pad")) {
      ctx.err << "vellum: --password-file and --pad go with --user\n";
      return kUsage;
    }
    return std::nullopt;
  }
  std::int32_t pad = 0;
  if (!NumberOption(ctx, o, "pad", 0, pad)) return kUsage;
  if (pad < 0 || pad > kLongestPad) {
    ctx.err << "vellum: --pad takes a length from 0 to " << kLongestPad << "\n";
    return kUsage;
  }
  const bool padded_like_desk = o.Has("pad");
  if (padded_like_desk && TrimSpaces(*user).empty()) {
    ctx.err << "Please enter valid UserID. \n";
    return kUsage;
  }
  c.user = *user;
  if (auto code = ReadSecret(ctx, o, "Password for " + c.user + ": ", c.password)) return code;
  if (!padded_like_desk) return std::nullopt;
  if (TrimSpaces(c.password.get()).empty()) {
    ctx.err << "Please enter valid Password. \n";
    return kUsage;
  }
  c.user = PadLikeDesk(c.user, pad);
  std::string padded = PadLikeDesk(c.password.get(), pad);
  platform::Wipe(c.password.get());
  c.password.get() = std::move(padded);
  platform::Wipe(padded);
  return std::nullopt;
}

bool PathsGiven(const Context& ctx, std::size_t count) {
  if (ctx.args.size() != count) return false;
  for (const auto& p : ctx.args)
    if (p.empty()) return false;
  return true;
}

bool IsTrue(const VARIANT& v) {
  return v.vt == com::VT_BOOL && v.boolVal == com::VARIANT_TRUE;
}

// A details entry is a certificate with its chain, one issuer per CR LF line; on a terminal
// each entry keeps to one line, its parts joined by "; ".
std::string DetailLine(const std::string& entry) {
  std::string line;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = entry.find("\r\n", start);
    if (!line.empty()) line += "; ";
    line += EscapeControls(entry.substr(start, end == std::string::npos ? end : end - start));
    if (end == std::string::npos) break;
    start = end + 2;
  }
  return line;
}

// Where the library's text about an outcome goes: standard output as always, but under --quiet
// a success says nothing and a failure's reason goes to standard error.
std::ostream& Say(Context& ctx, bool succeeded) {
  if (succeeded) return ctx.Report();
  return ctx.quiet ? ctx.err : ctx.out;
}

// What a verify command prints once its method answered: the message (and, when it held, the
// details and the signers), or one JSON object; the exit code says whether the signature held
// and, with --require-trust, whether every signer is trusted.
int ReportVerification(Context& ctx, const TrustOptions& trust, VerifyOutcome outcome,
                       const com::Variant& report_text) {
  const com::json::Value report = com::json::Value::Parse(report_text.Utf8());
  outcome.exit_code = outcome.result ? TrustExitCode(report, trust) : kFailed;
  if (trust.json) {
    ctx.out << OutcomeJson(outcome, report) << "\n";
    return outcome.exit_code;
  }
  Say(ctx, outcome.result) << outcome.message << "\n";
  if (!outcome.result) return kFailed;
  for (const auto& entry : outcome.details)
    ctx.Report() << EscapeControls(DetailLine(entry)) << "\n";
  PrintSigners(ctx.Report(), report);
  if (outcome.exit_code == kNotTrusted) {
    const auto& signers = report["signers"].AsArray();
    for (std::size_t i = 0; i < signers.size(); ++i)
      if (signers[i]["trust"].AsText() != "trusted")
        ctx.err << "vellum: the signature holds, but signer " << (i + 1) << " is not trusted ("
                << signers[i]["trust"].AsText() << ")\n";
    if (signers.empty()) ctx.err << "vellum: the signature holds, but no signer could be checked\n";
  }
  return outcome.exit_code;
}

int CallFailed(Context& ctx, const char* method, com::HRESULT hr) {
  ctx.err << "vellum: " << method << " failed (" << HexHr(hr) << ")\n";
  return kFailed;
}

// The certificate --thumbprint names (SHA-1 or SHA-256 hex, in any letter case, with or
// without ":" or blanks between the bytes), looked up in the store signing will use. It must
// be usable there (a private key, valid now), or the library would sign with another one.
std::optional<int> CertificateOfThumbprint(Context& ctx, const Options& o,
                                           std::optional<crypto::StoreRow>& chosen) {
  auto given = o.Value("thumbprint");
  if (!given) return std::nullopt;
  if (o.Has("person") || o.Has("mail") || o.Has("company")) {
    ctx.err << "vellum: --thumbprint names one certificate; --person, --mail and --company do "
               "not go with it\n";
    return kUsage;
  }
  std::string hex;
  for (char ch : *given) {
    if (ch == ':' || ch == ' ') continue;
    hex += static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  }
  if ((hex.size() != 40 && hex.size() != 64) ||
      hex.find_first_not_of("0123456789ABCDEF") != std::string::npos) {
    ctx.err << "vellum: --thumbprint takes 40 (SHA-1) or 64 (SHA-256) hexadecimal digits\n";
    return kUsage;
  }
  const std::string store = o.Value("store").value_or("");
  const std::string folder = store.empty() ? "My" : store;
  for (const auto& row : crypto::ListStore(folder)) {
    if ((hex.size() == 40 ? row.thumbprint : row.thumbprint_sha256) != hex) continue;
    const std::time_t now = std::time(nullptr);
    if (!row.has_key) {
      ctx.err << "vellum: the certificate " << hex << " has no private key in store " << folder
              << "\n";
      return kFailed;
    }
    if (now < row.valid_from || now > row.valid_to) {
      ctx.err << "vellum: the certificate " << hex << " is not valid now (valid to "
              << platform::FormatLocalTime(row.valid_to) << ")\n";
      return kFailed;
    }
    chosen = row;
    return std::nullopt;
  }
  ctx.err << "vellum: no certificate with the thumbprint " << hex << " in store "
          << EscapeControls(folder) << "\n";
  return kFailed;
}

// Where a successful signing wrote: the file its message names ("And Signature saved to
// file:  PATH"), else the signed file's name up to the last "." of the whole path followed by
// the suffix the library answered with.
std::string SignatureWritten(const std::string& input, const std::string& suffix,
                             const std::string& message) {
  static constexpr std::string_view kSavedTo = "Signature saved to file:";
  if (const std::size_t at = message.rfind(kSavedTo); at != std::string::npos) {
    std::string named = TrimSpaces(message.substr(at + kSavedTo.size()));
    named = named.substr(0, named.find_first_of("\r\n"));
    if (!named.empty()) return named;
  }
  const std::size_t dot = input.rfind('.');
  return (dot == std::string::npos ? input : input.substr(0, dot)) + suffix;
}

// The signature's name is the signed file's up to the last "." of the whole path, so a file
// without an extension below a folder with a dot in its name ("my.docs/README") is signed into
// a file beside that folder ("my_DSignature.txt"). The name rule is the signing side's own and
// stays; the command says where the signature went.
void WarnWhenOutsideFolder(Context& ctx, const std::string& input) {
  const std::size_t dot = input.rfind('.');
  const std::size_t slash = input.rfind('/');
  if (dot == std::string::npos || slash == std::string::npos || dot > slash) return;
  const std::string base = input.substr(0, dot);
  const std::string folder = base.substr(0, base.rfind('/') + 1);
  ctx.err << "vellum: warning: " << EscapeControls(input)
          << " has no extension and a folder above it has a "
          << "\".\" in its name: the signature was written in " << EscapeControls(folder)
          << ", not beside the file\n";
}

// --tsa URL for one call: the library reads the authority from VELLUM_TSA_URL, which this
// sets while the call runs and puts back afterwards.
class AuthorityForOneCall {
 public:
  explicit AuthorityForOneCall(const std::optional<std::string>& url) {
    if (!url) return;
    set_ = true;
    if (const char* old = std::getenv(kVariable)) old_ = old;
    ::setenv(kVariable, url->c_str(), 1);
  }
  ~AuthorityForOneCall() {
    if (!set_) return;
    if (old_)
      ::setenv(kVariable, old_->c_str(), 1);
    else
      ::unsetenv(kVariable);
  }
  AuthorityForOneCall(const AuthorityForOneCall&) = delete;
  AuthorityForOneCall& operator=(const AuthorityForOneCall&) = delete;

 private:
  static constexpr const char* kVariable = "VELLUM_TSA_URL";
  bool set_ = false;
  std::optional<std::string> old_;
};

int Sign(Context& ctx) {
  const Options* o = &ctx.options;
  if (!PathsGiven(ctx, 1)) return kUsage;
  if (auto tsa = o->Value("tsa"); tsa && !crypto::IsWebAddress(*tsa)) {
    ctx.err << "vellum: --tsa needs an http:// or https:// URL, not '" << EscapeControls(*tsa)
            << "'\n";
    return kUsage;
  }
  std::int32_t hash = 0, encryption = 4;
  if (!NumberOption(ctx, *o, "hash-alg", 0, hash) ||
      !NumberOption(ctx, *o, "enc-alg", 4, encryption))
    return kUsage;
  PinEntry pin(ctx, o->Value("pin-file"));  // asked for by a token store only
  std::optional<crypto::StoreRow> chosen;
  {
    ScopedPinHook hook(pin);
    if (auto code = CertificateOfThumbprint(ctx, *o, chosen)) return *code;
  }
  Credentials c;
  if (auto code = ReadCredentials(ctx, *o, c)) return *code;

  auto sign = Create<_DigitalSign>(CLSID_DigitalSign, IID__DigitalSign, "DigitalSign", ctx.err);
  if (!sign) return kFailed;
  HostHooks hooks(ctx, &pin);
  if (!hooks.Install()) return kFailed;
  if (chosen)
    hooks.Preselect({chosen->subject, chosen->issuer, platform::FormatLocalTime(chosen->valid_to)});

  Variant file = Variant::Text(Absolute(ctx.args[0]));
  Variant detached = Variant::Bool(!o->Has("attached"));
  Variant binary = Variant::Bool(o->Has("binary"));
  Variant store = Variant::Text(o->Value("store").value_or(""));
  Variant suffix = Variant::Text(o->Value("suffix").value_or(""));
  Variant message = Variant::Text("");
  Variant user = Variant::Text(c.user);
  SecretVariant password(Variant::Text(c.password.get()));
  Variant encrypt = Variant::Bool(o->Has("encrypt"));
  // The thumbprint's certificate by its whole subject: the library's filter then leaves it
  // and its renewals, and the chooser hook picks it among them.
  Variant person = Variant::Text(chosen ? chosen->subject : o->Value("person").value_or(""));
  Variant mail = Variant::Text(o->Value("mail").value_or(""));
  Variant company = Variant::Text(o->Value("company").value_or(""));
  Variant hash_alg = Variant::Long(hash);
  Variant enc_alg = Variant::Long(encryption);
  Variant result;
  const bool zip = o->Has("zip");
  auto method = zip ? &_DigitalSign::SignZipFile : &_DigitalSign::SignFile;
  AuthorityForOneCall authority(o->Value("tsa"));
  com::HRESULT hr =
      (sign.get()->*method)(file.value(), detached.get(), binary.get(), store.get(), suffix.get(),
                            message.get(), user.get(), password->get(), encrypt.get(), person.get(),
                            mail.get(), company.get(), hash_alg.get(), enc_alg.get(), result.get());
  if (com::Failed(hr)) return CallFailed(ctx, zip ? "SignZipFile" : "SignFile", hr);
  const bool signed_ok = IsTrue(result.value());
  if (o->Has("json")) {
    // The members verify --json uses for the same things: method, result, message, exit_code.
    com::json::ObjectWriter json;
    json.Text("method", zip ? "SignZipFile" : "SignFile")
        .Text("file", file.Utf8())
        .Bool("result", signed_ok)
        .Text("message", message.Utf8());
    if (signed_ok)
      json.Text("signature", SignatureWritten(file.Utf8(), suffix.Utf8(), message.Utf8()));
    else
      json.Null("signature");
    ctx.out << json.Number("exit_code", signed_ok ? kOk : kFailed).Close() << "\n";
  } else {
    Say(ctx, signed_ok) << ForTerminal(message.Utf8()) << "\n";
  }
  if (!signed_ok) return kFailed;
  WarnAboutExposedKey(ctx.err, o->Value("store").value_or(""), message.Utf8());
  WarnWhenOutsideFolder(ctx, file.Utf8());
  return kOk;
}

int Verify(Context& ctx) {
  const Options* o = &ctx.options;
  if (!PathsGiven(ctx, 1)) return kUsage;
  TrustOptions trust;
  if (auto code = ReadTrustOptions(ctx, *o, trust)) return *code;
  const bool attached = o->Has("attached");
  const bool zip = o->Has("zip");
  if (o->Has("to-temp") && !attached) {
    ctx.err << "vellum: --to-temp is for attached signatures (a detached check writes nothing)\n";
    return kUsage;
  }
  if (o->Has("original") && attached) {
    ctx.err << "vellum: an attached signature carries its own file: it is restored beside the "
               "signature, or with --to-temp in the temporary folder\n";
    return kUsage;
  }
  if (zip && o->Has("trim")) {
    ctx.err << "vellum: --trim does not apply to a packed signature\n";
    return kUsage;
  }
  std::int32_t hash = 0, encryption = 4;
  if (!NumberOption(ctx, *o, "hash-alg", 0, hash) ||
      !NumberOption(ctx, *o, "enc-alg", 4, encryption))
    return kUsage;
  Credentials c;
  if (auto code = ReadCredentials(ctx, *o, c)) return *code;

  auto sign =
      Create<_DigitalSignTrust>(CLSID_DigitalSign, IID__DigitalSignTrust, "DigitalSign", ctx.err);
  if (!sign) return kFailed;
  HostHooks hooks(ctx);
  if (!hooks.Install()) return kFailed;

  const std::string signature_path = Absolute(ctx.args[0]);
  // In the attached layout the original name only chooses the output folder: any text puts
  // the restored file beside the signature, the empty text in the temporary folder.
  std::string original;
  if (attached)
    original = o->Has("to-temp") ? "" : signature_path;
  else if (auto given = o->Value("original"))
    original = given->empty() ? "" : Absolute(*given);

  Variant signature = Variant::Text(signature_path);
  Variant detached = Variant::Bool(!attached);
  Variant binary = Variant::Bool(o->Has("binary"));
  Variant details;
  Variant original_name = Variant::Text(original);
  Variant message = Variant::Text("");
  Variant open = Variant::Bool(o->Has("open"));
  Variant user = Variant::Text(c.user);
  SecretVariant password(Variant::Text(c.password.get()));
  Variant decrypt = Variant::Bool(o->Has("decrypt"));
  Variant hash_alg = Variant::Long(hash);
  Variant enc_alg = Variant::Long(encryption);
  Variant trim = Variant::Text(o->Has("trim") ? "Y" : "N");
  Variant anchors = Variant::Array(trust.anchors);
  Variant crls = Variant::Array(trust.crls);
  Variant report = Variant::Text("");
  VARIANT_BOOL ok = com::VARIANT_FALSE;
  com::HRESULT hr =
      zip ? sign->VerifyZipFileWithTrust(
                signature.get(), detached.get(), binary.get(), details.get(), original_name.get(),
                message.get(), open.get(), user.get(), password->get(), decrypt.get(),
                hash_alg.get(), enc_alg.get(), anchors.get(), crls.get(), report.get(), &ok)
          : sign->VerifyFileWithTrust(signature.get(), detached.get(), binary.get(), details.get(),
                                      original_name.get(), message.get(), open.get(), user.get(),
                                      password->get(), decrypt.get(), hash_alg.get(), enc_alg.get(),
                                      trim.get(), anchors.get(), crls.get(), report.get(), &ok);
  const char* method = zip ? "VerifyZipFile" : "VerifyFile";
  if (com::Failed(hr)) return CallFailed(ctx, method, hr);
  VerifyOutcome outcome{method, ok == com::VARIANT_TRUE, ForTerminal(message.Utf8()), {}, {}, 0};
  if (outcome.result) {
    outcome.details = com::ReadTextArray(details.value());
    if (attached) outcome.restored = original_name.Utf8();
  }
  return ReportVerification(ctx, trust, std::move(outcome), report);
}

int VerifyNse(Context& ctx) {
  const Options* o = &ctx.options;
  if (!PathsGiven(ctx, 1)) return kUsage;
  auto given = o->Value("original");
  if (!given) {
    ctx.err << "vellum: verify-nse needs --original FILE, the file the signature is for\n";
    return kUsage;
  }
  TrustOptions trust;
  if (auto code = ReadTrustOptions(ctx, *o, trust)) return *code;
  auto sign =
      Create<_DigitalSignTrust>(CLSID_DigitalSign, IID__DigitalSignTrust, "DigitalSign", ctx.err);
  if (!sign) return kFailed;

  Variant signature = Variant::Text(Absolute(ctx.args[0]));
  Variant binary = Variant::Bool(o->Has("binary"));
  Variant original = Variant::Text(given->empty() ? "" : Absolute(*given));
  Variant message = Variant::Text("");
  Variant anchors = Variant::Array(trust.anchors);
  Variant crls = Variant::Array(trust.crls);
  Variant report = Variant::Text("");
  VARIANT_BOOL ok = com::VARIANT_FALSE;
  com::HRESULT hr =
      sign->VerifyNSEFileWithTrust(signature.get(), binary.get(), original.get(), message.get(),
                                   anchors.get(), crls.get(), report.get(), &ok);
  if (com::Failed(hr)) return CallFailed(ctx, "VerifyNSEFile", hr);
  return ReportVerification(
      ctx, trust,
      {"VerifyNSEFile", ok == com::VARIANT_TRUE, ForTerminal(message.Utf8()), {}, {}, 0}, report);
}

// UnZipFile answers with the extracted file whose name matches the archive's, or, when none
// does, with the UnZip folder and the archive's base name (".../UnZip/v."), which names no file.
// Then the command lists what the folder holds.
void PrintExtracted(Context& ctx, const std::string& answer, const std::string& archive) {
  std::error_code ec;
  if (std::filesystem::is_regular_file(platform::PathFromUtf8(answer), ec)) {
    ctx.out << EscapeControls(answer) << "\n";
    return;
  }
  const auto folder = platform::PathFromUtf8(Absolute(archive)).parent_path() / "UnZip";
  std::vector<std::string> files;
  for (auto it = std::filesystem::recursive_directory_iterator(folder, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_regular_file(ec)) files.push_back(platform::PathToUtf8(it->path()));
  }
  std::sort(files.begin(), files.end());
  for (const auto& f : files) ctx.out << EscapeControls(f) << "\n";
}

// zip and unzip: the Zip class, whose failures come as message boxes (the hook puts them on
// standard error).
int ZipOrUnzip(Context& ctx, bool compress) {
  const Options* o = &ctx.options;
  if (!PathsGiven(ctx, compress ? 2 : 1)) return kUsage;
  platform::SecretText secret;
  if (auto code = ReadSecret(ctx, *o, "Archive password: ", secret)) return *code;

  auto zip = Create<_Zip>(CLSID_Zip, IID__Zip, "Zip", ctx.err);
  if (!zip) return kFailed;
  HostHooks hooks(ctx);
  if (!hooks.Install()) return kFailed;

  com::Bstr first(Absolute(ctx.args[0]));
  SecretBstr password(secret.get());
  VARIANT_BOOL ok = com::VARIANT_FALSE;
  if (compress) {
    com::Bstr archive(Absolute(ctx.args[1]));
    com::HRESULT hr = zip->ZipFile(first.Address(), archive.Address(), password->Address(), &ok);
    if (com::Failed(hr)) return CallFailed(ctx, "ZipFile", hr);
    return ok == com::VARIANT_TRUE ? kOk : kFailed;
  }
  // The archive names both the folder the UnZip folder is made in and the archive itself.
  com::Bstr archive(Absolute(ctx.args[0]));
  com::HRESULT hr = zip->UnZipFile(first.Address(), archive.Address(), password->Address(), &ok);
  if (com::Failed(hr)) return CallFailed(ctx, "UnZipFile", hr);
  if (ok != com::VARIANT_TRUE) return kFailed;
  PrintExtracted(ctx, archive.Utf8(), ctx.args[0]);
  return kOk;
}

// Errors of the command's own steps (a conversion of what the library handed back) end the
// command like a failed call; nothing of the library's is lost by it.
int Guarded(Context& ctx, int (*command)(Context&)) {
  try {
    return command(ctx);
  } catch (const Error& e) {
    ctx.err << "vellum: " << e.description() << "\n";
    return kFailed;
  }
}

}  // namespace

int CmdSign(Context& ctx) {
  return Guarded(ctx, Sign);
}
int CmdVerify(Context& ctx) {
  if (WantsFileVerification(ctx))
    return VerifyFiles(ctx, [](Context& one) { return Guarded(one, Verify); });
  return Guarded(ctx, Verify);
}
int CmdVerifyNse(Context& ctx) {
  return Guarded(ctx, VerifyNse);
}
int CmdZip(Context& ctx) {
  return Guarded(ctx, [](Context& c) { return ZipOrUnzip(c, true); });
}
int CmdUnzip(Context& ctx) {
  return Guarded(ctx, [](Context& c) { return ZipOrUnzip(c, false); });
}

}  // namespace vellum::cli
