#include "cli/verify_files.h"

#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>

#include "cli/run.h"
#include "cli/safe_text.h"
#include "cli/sign_support.h"
#include "library/platform/text.h"

namespace vellum::cli {
namespace {

namespace fs = std::filesystem;

bool IsFile(const std::string& path) {
  std::error_code ec;
  return fs::is_regular_file(path, ec);
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::string FileName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The document a detached signature belongs to: the file beside it whose default signature
// names include the signature's name. Empty when there is none.
std::string DocumentOf(const std::string& signature) {
  const std::size_t slash = signature.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : signature.substr(0, slash + 1);
  const std::string name = FileName(signature);
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder.empty() ? "." : folder, ec)) {
    const std::string candidate = entry.path().filename().string();
    if (IsSignatureName(candidate) || !entry.is_regular_file(ec)) continue;
    for (const auto& n : DefaultSignatureNames(candidate))
      if (n == name) return folder + candidate;
  }
  return "";
}

// DER starts with a SEQUENCE tag and a long-form length: bytes no Base64 text begins with.
bool LooksBinary(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  char head[2] = {};
  if (!in.read(head, 2)) return false;
  return static_cast<unsigned char>(head[0]) == 0x30 &&
         (static_cast<unsigned char>(head[1]) & 0x80) != 0;
}

struct Plan {
  std::string signature;  // empty when none was found
  Options options;        // the command's options plus what the names tell
  std::string problem;    // why there is nothing to run
};

// What one operand asks for: a document with its signature beside it, or a signature.
Plan PlanFor(const std::string& operand, const Options& given) {
  Plan plan{"", given, ""};
  if (!IsFile(operand)) {
    plan.problem = "no such file";
    return plan;
  }
  std::string document;
  if (!IsSignatureName(operand)) {
    for (const auto& name : DefaultSignatureNames(operand)) {
      if (IsFile(name)) {
        plan.signature = name;
        document = operand;
        break;
      }
    }
    if (plan.signature.empty()) {
      plan.problem = "no signature beside it (looked for";
      for (const auto& name : DefaultSignatureNames(operand)) plan.problem += " " + FileName(name);
      plan.problem += ")";
      return plan;
    }
  } else {
    plan.signature = operand;
  }
  const bool packed = EndsWith(plan.signature, ".trel");
  const bool attached = FileName(plan.signature).find("_ContentSignature.") != std::string::npos;
  if (packed) plan.options.AddFlag("zip");
  if (attached) plan.options.AddFlag("attached");
  if (!attached) {
    if (document.empty()) document = DocumentOf(plan.signature);
    if (document.empty()) {
      plan.problem = "the signed file is not beside the signature";
      return plan;
    }
    plan.options.AddValue("original", document);
  }
  if (!packed && !given.Has("binary") && LooksBinary(plan.signature))
    plan.options.AddFlag("binary");
  return plan;
}

// The last line of a text that says something.
std::string LastLine(const std::string& text) {
  std::istringstream in(text);
  std::string line, last;
  while (std::getline(in, line))
    if (!TrimSpaces(line).empty()) last = line;
  return last;
}

const char* Verdict(int code) {
  switch (code) {
    case kOk:
      return "verified";
    case 3:
      return "verified, NOT TRUSTED";
    default:
      return "FAILED";
  }
}

}  // namespace

std::vector<std::string> DefaultSignatureNames(const std::string& document) {
  const std::size_t dot = document.rfind('.');
  const std::string base = dot == std::string::npos ? document : document.substr(0, dot);
  std::vector<std::string> names;
  if (dot != std::string::npos) names.push_back(base + "_Signature." + document.substr(dot + 1));
  names.push_back(base + "_DSignature.txt");
  if (dot != std::string::npos) names.push_back(base + "_Signature.trel");
  names.push_back(base + "_DSignature.trel");
  return names;
}

bool IsSignatureName(const std::string& path) {
  const std::string name = FileName(path);
  for (const char* mark : {"_Signature.", "_DSignature.", "_ContentSignature."})
    if (name.find(mark) != std::string::npos) return true;
  return EndsWith(name, ".trel");
}

bool WantsFileVerification(const Context& ctx) {
  if (ctx.args.size() > 1) return true;
  if (ctx.args.size() != 1 || IsSignatureName(ctx.args[0])) return false;
  for (const char* single : {"original", "attached", "zip", "to-temp"})
    if (ctx.options.Has(single)) return false;
  for (const auto& name : DefaultSignatureNames(ctx.args[0]))
    if (IsFile(name)) return true;
  return false;
}

int WorseStatus(int a, int b) {
  auto rank = [](int code) {
    switch (code) {
      case kOk:
        return 0;
      case 3:
        return 1;
      case kFailed:
        return 2;
      default:
        return 3;
    }
  };
  return rank(a) >= rank(b) ? a : b;
}

int VerifyFiles(Context& ctx, int (*verify_one)(Context&)) {
  for (const char* single : {"original", "attached", "zip"}) {
    if (ctx.options.Has(single)) {
      ctx.err << "vellum: --" << single
              << " describes one signature; several files are told apart by their names\n";
      return kUsage;
    }
  }
  // One document: the single command's own report, as if its signature had been named.
  if (ctx.args.size() == 1) {
    Plan plan = PlanFor(ctx.args[0], ctx.options);
    if (!plan.problem.empty()) {
      ctx.err << "vellum: " << EscapeControls(ctx.args[0]) << ": " << EscapeControls(plan.problem)
              << "\n";
      return kFailed;
    }
    Context one{{plan.signature}, plan.options, ctx.in, ctx.out, ctx.err};
    one.quiet = ctx.quiet;
    return verify_one(one);
  }
  int worst = kOk;
  for (const auto& operand : ctx.args) {
    Plan plan = PlanFor(operand, ctx.options);
    if (!plan.problem.empty()) {
      ctx.out << EscapeControls(operand) << ": FAILED: " << EscapeControls(plan.problem) << "\n";
      worst = WorseStatus(worst, kFailed);
      continue;
    }
    std::ostringstream out, err;
    Context one{{plan.signature}, plan.options, ctx.in, out, err};
    const int code = verify_one(one);
    worst = WorseStatus(worst, code);
    // Names in an inbox are chosen by whoever sent the files.
    ctx.out << EscapeControls(operand) << ": " << Verdict(code) << " ("
            << EscapeControls(FileName(plan.signature)) << ")";
    if (code != kOk) {
      const std::string why =
          LastLine(err.str()).empty() ? LastLine(out.str()) : LastLine(err.str());
      if (!why.empty()) ctx.out << ": " << TrimSpaces(why);
    }
    ctx.out << "\n";
  }
  return worst;
}

}  // namespace vellum::cli
