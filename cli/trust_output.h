// The second answer on the command line: who signed, and whether each signer is trusted. The
// verify commands call the _DigitalSignTrust methods and print, after the library's own
// message and details, five lines per signer (or everything as one JSON object).
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/context.h"
#include "library/com/json.h"

namespace vellum::cli {

// Exit code of a verification that held while a signer is not trusted as --require-trust asks.
inline constexpr int kNotTrusted = 3;

struct TrustOptions {
  std::vector<std::string> anchors;  // --trust-anchors FILE|DIR, repeatable, absolute
  std::vector<std::string> crls;     // --crl FILE, repeatable, absolute
  bool require = false;              // --require-trust
  bool allow_weak = false;           // --allow-weak
  bool json = false;                 // --json
};

// Reads the trust options; a usage exit code (with a message) when a named path does not exist
// or --allow-weak comes without --require-trust.
std::optional<int> ReadTrustOptions(Context& ctx, const Options& o, TrustOptions& t);

// The per-signer lines:
//   Signer 1: <subject>
//     SHA-256 fingerprint: <AB:CD:…>
//     Signing time: <DD/MM/YYYY HH:MM:SS> (as claimed by the signer)
//     Timestamp: <DD/MM/YYYY HH:MM:SS> by <authority> (<trusted|untrusted>)   (with a token)
//     Digest: <algorithm>, key: <algorithm and size>
//     Trust: <status> (<reason>)
void PrintSigners(std::ostream& out, const com::json::Value& report);

// kOk, or kNotTrusted when trust is required and a signer is not trusted (weak passes with
// --allow-weak). A verification without signers in its report is not trusted.
int TrustExitCode(const com::json::Value& report, const TrustOptions& t);

// What one verify command learnt, for --json.
struct VerifyOutcome {
  std::string method;  // "VerifyFile", "VerifyZipFile", "VerifyNSEFile"
  bool result = false;
  std::string message;                  // the method's message, CR LF as LF
  std::optional<std::string> restored;  // the restored file of an attached signature
  std::vector<std::string> details;
  int exit_code = 0;
};

// One JSON object: the outcome, then "signers" from the library's report.
std::string OutcomeJson(const VerifyOutcome& outcome, const com::json::Value& report);

}  // namespace vellum::cli
