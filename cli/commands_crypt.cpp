// vellum encrypt / decrypt: the Encryption class on standard input and output.
#include <istream>
#include <iterator>
#include <ostream>

#include "cli/com_call.h"
#include "cli/commands.h"
#include "cli/password.h"
#include "cli/run.h"
#include "cli/safe_text.h"
#include "library/com/bstr.h"
#include "library/platform/secret.h"
#include "vellum/vellum.h"

namespace vellum::cli {
namespace {

int Crypt(Context& ctx, bool encrypt) {
  const Options* o = &ctx.options;
  if (!ctx.args.empty()) return kUsage;
  std::int32_t algorithm = 4;
  if (auto a = o->Value("enc-alg")) {
    try {
      std::size_t used = 0;
      algorithm = std::stoi(*a, &used);
      if (used != a->size()) return kUsage;
    } catch (const std::exception&) {
      return kUsage;
    }
  }
  // The text comes from standard input, so the password may not: file or environment only.
  if (!o->Value("password-file") && std::getenv("VELLUM_PASSWORD") == nullptr) {
    ctx.err << "vellum: no password: use --password-file FILE or set VELLUM_PASSWORD\n";
    return kUsage;
  }
  auto password = ReadPassword(ctx, *o, "");
  if (!password) return kFailed;
  platform::SecretText secret(std::move(*password));

  std::string input((std::istreambuf_iterator<char>(ctx.in)), std::istreambuf_iterator<char>());
  // The text is encrypted as UTF-16: bytes that are no UTF-8 would silently become U+FFFD.
  if (encrypt && !IsValidUtf8(input)) {
    ctx.err << "vellum: the text on standard input is not valid UTF-8; nothing was encrypted\n";
    return kFailed;
  }
  auto enc = Create<_Encryption>(CLSID_Encryption, IID__Encryption, "Encryption", ctx.err);
  if (!enc) return kFailed;

  platform::Secret<com::Bstr> hidden(secret.get());  // the UTF-16 copy, wiped too
  com::Bstr message("");
  com::Bstr output("");
  VARIANT_BOOL ok = com::VARIANT_FALSE;
  com::HRESULT hr;
  if (encrypt) {
    com::Bstr text(input);
    hr = enc->EncryptMessage(text.get(), hidden->get(), output.Address(), message.Address(),
                             algorithm, &ok);
  } else {
    // Base64 is ASCII; line breaks in the input are the reader's to skip.
    com::Bstr encrypted(input);
    hr = enc->DecryptMessage(hidden->get(), encrypted.Address(), output.Address(),
                             message.Address(), algorithm, &ok);
  }
  if (com::Failed(hr)) {
    ctx.err << "vellum: the call failed (" << HexHr(hr) << ")\n";
    return kFailed;
  }
  if (ok != com::VARIANT_TRUE) {
    ctx.err << EscapeControls(message.Utf8(), true) << "\n";
    return kFailed;
  }
  // A message encrypted elsewhere may hold any bytes; only a UTF-16 text is printed as text.
  if (!encrypt && !IsValidUtf16le(com::BstrBytes(output.get()))) {
    ctx.err << "vellum: the decrypted content is not a UTF-16 text; nothing was printed\n";
    return kFailed;
  }
  ctx.out << output.Utf8();
  if (encrypt) ctx.out << "\n";
  if (!message.Utf8().empty()) ctx.err << message.Utf8() << "\n";
  return kOk;
}

}  // namespace

int CmdEncrypt(Context& ctx) {
  return Crypt(ctx, true);
}
int CmdDecrypt(Context& ctx) {
  return Crypt(ctx, false);
}

}  // namespace vellum::cli
