// vellum timestamp: adds an RFC 3161 timestamp to each signer of an existing signature file
// (detached or attached, Base64 or DER) that has none, and replaces the file atomically. An
// encrypted or packed signature holds no readable signed message and is refused.
//
// The file is rewritten here rather than through the library: no method of the binary interface
// adds a timestamp, and the rewrite needs nothing of DigitalSign's rules besides the message.
#include <ostream>

#include "cli/commands.h"
#include "cli/run.h"
#include "cli/safe_text.h"
#include "library/com/registry.h"
#include "library/crypto/signed_data.h"
#include "library/crypto/timestamp.h"
#include "library/platform/error.h"
#include "library/platform/files.h"

namespace vellum::cli {
namespace {

// The largest signature file read whole. An attached signature carries its file, so this is
// generous; the message is held a few times over while it is rewritten.
constexpr std::size_t kLargestSignature = std::size_t{1} << 30;

// DER starts with a SEQUENCE; Base64 text and PEM armour never do.
bool LooksLikeDer(const Bytes& data) {
  return !data.empty() && static_cast<unsigned char>(data[0]) == 0x30;
}

std::optional<crypto::TimestampAuthority> Authority(Context& ctx) {
  std::optional<crypto::TimestampAuthority> authority = crypto::ConfiguredAuthority(
      [](std::string_view name) { return com::UserSetting(crypto::kTimestampSettingsKey, name); });
  if (auto url = ctx.options.Value("tsa")) {
    if (!authority) authority.emplace();
    authority->url = *url;
  }
  return authority;
}

int Timestamp(Context& ctx) {
  if (ctx.args.size() != 1 || ctx.args[0].empty()) return kUsage;
  const std::string& path = ctx.args[0];
  auto authority = Authority(ctx);
  if (!authority) {
    ctx.err << "vellum: no time-stamping authority: use --tsa URL, set VELLUM_TSA_URL, or set Url "
               "under [Software\\Vellum\\Timestamp] in the registry file\n";
    return kUsage;
  }
  if (!crypto::IsWebAddress(authority->url)) {
    ctx.err << "vellum: the time-stamping authority needs an http:// or https:// URL, not '"
            << EscapeControls(authority->url) << "'\n";
    return kUsage;
  }
  const bool binary = ctx.options.Has("binary");
  const Bytes signature = platform::ReadSmallFile(path, kLargestSignature);
  if (LooksLikeDer(signature) != binary) {
    ctx.err << "vellum: '" << EscapeControls(path) << "' is "
            << (binary ? "no DER signature (leave out --binary for Base64 text)"
                       : "a DER signature: use --binary")
            << "\n";
    return kFailed;
  }
  int added = 0;
  Bytes stamped;
  try {
    stamped = crypto::TimestampMessage(
        signature, binary ? crypto::kEncodeBinary : crypto::kEncodeBase64, *authority, added);
  } catch (const Error& e) {
    if (e.number() == hr::kNotSignedMessage || e.number() == hr::kBadMessageType) {
      ctx.err << "vellum: '" << EscapeControls(path)
              << "' holds no signed message (an encrypted or packed signature cannot be "
                 "timestamped)\n";
      return kFailed;
    }
    throw;
  }
  if (added == 0) {
    ctx.Report() << "Every signer of " << EscapeControls(path)
                 << " has a timestamp already; the file is unchanged.\n";
    return kOk;
  }
  platform::WriteFileAtomic(path, stamped);
  ctx.Report() << "Timestamped " << added << (added == 1 ? " signer" : " signers") << " of "
               << EscapeControls(path) << " by " << EscapeControls(authority->url) << ".\n";
  return kOk;
}

}  // namespace

int CmdTimestamp(Context& ctx) {
  try {
    return Timestamp(ctx);
  } catch (const Error& e) {
    ctx.err << "vellum: " << EscapeControls(e.description()) << "\n";
    return kFailed;
  }
}

}  // namespace vellum::cli
