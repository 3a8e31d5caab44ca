#include "cli/trust_output.h"

#include <filesystem>
#include <ostream>

#include "cli/run.h"
#include "cli/safe_text.h"
#include "library/platform/files.h"

namespace vellum::cli {
namespace {

namespace json = com::json;

std::string AbsolutePath(const std::string& path) {
  std::error_code ec;
  auto absolute = std::filesystem::absolute(platform::PathFromUtf8(path), ec);
  return ec ? path : platform::PathToUtf8(absolute);
}

// Every value of a repeatable option, checked to exist.
bool ExistingPaths(Context& ctx, const Options& o, const char* name,
                   std::vector<std::string>& out) {
  for (const auto& path : o.Values(name)) {
    std::error_code ec;
    if (path.empty() || !std::filesystem::exists(platform::PathFromUtf8(path), ec)) {
      ctx.err << "vellum: --" << name << ": '" << EscapeControls(path) << "' does not exist\n";
      return false;
    }
    out.push_back(AbsolutePath(path));
  }
  return true;
}

const char* kTrusted = "trusted";
const char* kWeak = "weak";

}  // namespace

std::optional<int> ReadTrustOptions(Context& ctx, const Options& o, TrustOptions& t) {
  if (!ExistingPaths(ctx, o, "trust-anchors", t.anchors) || !ExistingPaths(ctx, o, "crl", t.crls))
    return kUsage;
  t.require = o.Has("require-trust");
  t.allow_weak = o.Has("allow-weak");
  t.json = o.Has("json");
  if (t.allow_weak && !t.require) {
    ctx.err << "vellum: --allow-weak goes with --require-trust\n";
    return kUsage;
  }
  return std::nullopt;
}

void PrintSigners(std::ostream& out, const json::Value& report) {
  const auto& signers = report["signers"].AsArray();
  for (std::size_t i = 0; i < signers.size(); ++i) {
    const json::Value& s = signers[i];
    out << "Signer " << (i + 1) << ": " << EscapeControls(s["subject"].AsText()) << "\n"
        << "  SHA-256 fingerprint: " << s["fingerprint_sha256"].AsText() << "\n";
    if (s["signing_time"].IsNull())
      out << "  Signing time: none claimed by the signer\n";
    else
      out << "  Signing time: " << s["signing_time"].AsText() << " (as claimed by the signer)\n";
    if (s.Has("timestamp") && !s["timestamp"].IsNull()) {
      const json::Value& t = s["timestamp"];
      out << "  Timestamp: " << (t["time"].IsNull() ? "unreadable" : t["time"].AsText()) << " by "
          << EscapeControls(t["authority"].AsText()) << " (" << t["trust"].AsText() << ")\n";
    }
    out << "  Digest: " << s["digest"].AsText() << ", key: " << s["key"].AsText() << "\n"
        << "  Trust: " << s["trust"].AsText() << " (" << EscapeControls(s["reason"].AsText())
        << ")\n";
  }
  if (report.Has("error"))
    out << "Trust: not evaluated (" << EscapeControls(report["error"].AsText()) << ")\n";
}

int TrustExitCode(const json::Value& report, const TrustOptions& t) {
  if (!t.require) return kOk;
  const auto& signers = report["signers"].AsArray();
  if (signers.empty()) return kNotTrusted;
  for (const auto& s : signers) {
    const std::string& trust = s["trust"].AsText();
    if (trust != kTrusted && !(t.allow_weak && trust == kWeak)) return kNotTrusted;
  }
  return kOk;
}

std::string OutcomeJson(const VerifyOutcome& outcome, const json::Value& report) {
  std::vector<std::string> details;
  for (const auto& d : outcome.details) details.push_back(json::Quote(d));
  json::ObjectWriter o;
  o.Text("method", outcome.method).Bool("result", outcome.result).Text("message", outcome.message);
  if (outcome.restored)
    o.Text("restored", *outcome.restored);
  else
    o.Null("restored");
  o.Raw("details", json::Array(details)).Number("exit_code", outcome.exit_code);
  o.Raw("signers", report["signers"].Serialize());
  if (report.Has("error")) o.Text("trust_error", report["error"].AsText());
  return o.Close();
}

}  // namespace vellum::cli
