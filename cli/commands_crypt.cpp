// vellum encrypt / decrypt: the Encryption class on standard input and output.
#include <algorithm>
#include <cstring>
#include <istream>
#include <new>
#include <ostream>
#include <string_view>

#include "cli/com_call.h"
#include "cli/commands.h"
#include "cli/password.h"
#include "cli/run.h"
#include "cli/safe_text.h"
#include "library/com/bstr.h"
#include "library/platform/error.h"
#include "library/platform/secret.h"
#include "library/platform/text.h"
#include "vellum/vellum.h"

namespace vellum::cli {
namespace {

constexpr std::size_t kPiece = std::size_t{1} << 16;

// Standard input whole, read in large pieces.
std::string ReadAll(std::istream& in) {
  std::string data;
  for (;;) {
    const std::size_t old = data.size();
    data.resize(old + kPiece);
    const std::streamsize n = in.rdbuf()->sgetn(data.data() + old, kPiece);
    data.resize(old + static_cast<std::size_t>(std::max<std::streamsize>(n, 0)));
    if (n <= 0) return data;
  }
}

// Calls `each` with the pieces of a UTF-8 text, each ending before a byte that starts a
// character, so a piece converts as it would within the whole.
template <class F>
void ForEachUtf8Piece(std::string_view utf8, F each) {
  while (!utf8.empty()) {
    std::size_t n = std::min(kPiece, utf8.size());
    for (std::size_t back = 0; n < utf8.size() && back < 3 && n > 1 &&
                               (static_cast<unsigned char>(utf8[n]) & 0xC0) == 0x80;
         ++back)
      --n;
    each(utf8.substr(0, n));
    utf8.remove_prefix(n);
  }
}

// The UTF-16 length, in bytes, of a valid UTF-8 text: a unit for every character, two for one
// of four bytes (a surrogate pair).
std::size_t Utf16Bytes(std::string_view utf8) {
  std::size_t units = 0;
  for (const char c : utf8) {
    const auto byte = static_cast<unsigned char>(c);
    units += (byte & 0xC0) != 0x80 ? 1 : 0;
    units += byte >= 0xF0 ? 1 : 0;
  }
  return 2 * units;
}

// One piece into UTF-16LE at `out`, which has `room` bytes; returns the bytes written. ASCII,
// the usual case (and all of a Base64 text), is widened directly.
std::size_t ConvertPiece(std::string_view piece, char* out, std::size_t room) {
  const auto overrun = [] {
    return Error::Runtime(rt::kInvalidCall, "the text's UTF-16 form came out longer than counted");
  };
  if (std::all_of(piece.begin(), piece.end(),
                  [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
    if (2 * piece.size() > room) throw overrun();
    AnsiToUtf16leInto(piece, out);  // the code page's lower half is ASCII
    return 2 * piece.size();
  }
  const Bytes units = Utf8ToUtf16le(piece);
  if (units.size() > room) throw overrun();
  std::memcpy(out, units.data(), units.size());
  return units.size();
}

// The text as a BSTR, converted in pieces straight into it: its UTF-16 form is made once. The
// length of a valid text is counted; one that is not valid UTF-8 (a damaged encrypted text) is
// measured by converting it, so its replacement characters come out as a whole conversion
// gives them.
com::Bstr Utf16Text(std::string_view utf8) {
  std::size_t bytes = 0;
  if (IsValidUtf8(utf8)) {
    bytes = Utf16Bytes(utf8);
  } else {
    ForEachUtf8Piece(utf8,
                     [&bytes](std::string_view piece) { bytes += Utf8ToUtf16le(piece).size(); });
  }
  com::Bstr text =
      com::Bstr::Attach(com::SysAllocStringByteLen(nullptr, static_cast<std::uint32_t>(bytes)));
  if (text.get() == nullptr) throw std::bad_alloc();
  char* out = reinterpret_cast<char*>(text.get());
  std::size_t written = 0;
  ForEachUtf8Piece(utf8, [&](std::string_view piece) {
    written += ConvertPiece(piece, out + written, bytes - written);
  });
  return text;
}

// Prints a BSTR as UTF-8 in pieces; a piece never ends inside a surrogate pair.
void PrintText(std::ostream& out, BSTR text) {
  std::string_view units = com::BstrBytes(text);
  while (!units.empty()) {
    std::size_t n = std::min(kPiece, units.size());
    if (n < units.size()) {
      const auto high = static_cast<unsigned char>(units[n - 1]);
      if (high >= 0xD8 && high <= 0xDB) n -= 2;
    }
    out << Utf16leToUtf8(units.substr(0, n));
    units.remove_prefix(n);
  }
}

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

  // Memory: the text (or the encrypted text) is held as read only until its UTF-16 form is
  // made, and that form only until the call returned; the result is printed in pieces.
  std::string input = ReadAll(ctx.in);
  // The text is encrypted as UTF-16: bytes that are no UTF-8 would silently become U+FFFD.
  if (encrypt && !IsValidUtf8(input)) {
    ctx.err << "vellum: the text on standard input is not valid UTF-8; nothing was encrypted\n";
    return kFailed;
  }
  auto enc = Create<_Encryption>(CLSID_Encryption, IID__Encryption, "Encryption", ctx.err);
  if (!enc) return kFailed;

  platform::Secret<com::Bstr> hidden(secret.get());  // the UTF-16 copy, wiped too
  // Base64 is ASCII; line breaks in the input are the reader's to skip.
  platform::Secret<com::Bstr> text(Utf16Text(input));
  platform::Wipe(input);
  std::string().swap(input);
  com::Bstr message("");
  platform::Secret<com::Bstr> output("");  // a decrypted text is wiped when it goes
  VARIANT_BOOL ok = com::VARIANT_FALSE;
  com::HRESULT hr;
  if (encrypt) {
    hr = enc->EncryptMessage(text->get(), hidden->get(), output->Address(), message.Address(),
                             algorithm, &ok);
  } else {
    hr = enc->DecryptMessage(hidden->get(), text->Address(), output->Address(), message.Address(),
                             algorithm, &ok);
  }
  com::Wipe(text.get());
  text->Reset(nullptr);
  if (com::Failed(hr)) {
    ctx.err << "vellum: the call failed (" << HexHr(hr) << ")\n";
    return kFailed;
  }
  if (ok != com::VARIANT_TRUE) {
    ctx.err << EscapeControls(message.Utf8(), true) << "\n";
    return kFailed;
  }
  // A message encrypted elsewhere may hold any bytes; only a UTF-16 text is printed as text.
  if (!encrypt && !IsValidUtf16le(com::BstrBytes(output->get()))) {
    ctx.err << "vellum: the decrypted content is not a UTF-16 text; nothing was printed\n";
    return kFailed;
  }
  PrintText(ctx.out, output->get());
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
