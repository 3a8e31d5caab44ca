#include "cli/run.h"

#include <functional>
#include <ostream>

#include "cli/commands.h"
#include "cli/context.h"

namespace vellum::cli {
namespace {

struct Command {
  const char* name;
  const char* usage;
  std::function<int(Context&)> handler;
};

const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = {
      {"register", "register [LIBRARY]", CmdRegister},
      {"unregister", "unregister [LIBRARY]", CmdUnregister},
      {"open", "open FILE", CmdOpen},
      {"store",
       "store list [--store NAME]\n  vellum store import FILE [--store NAME] [--password-file F]\n"
       "  vellum store new-certificate --subject TEXT [--days N] [--store NAME]",
       CmdStore},
      {"encrypt", "encrypt [--password-file F] [--enc-alg N]  < text > encrypted", CmdEncrypt},
      {"decrypt", "decrypt [--password-file F] [--enc-alg N]  < encrypted > text", CmdDecrypt},
      {"sign",
       "sign FILE [--attached] [--binary] [--zip] [--store NAME] [--suffix S] [--user ID]\n"
       "        [--password-file F] [--encrypt] [--person T] [--mail T] [--company T]\n"
       "        [--hash-alg N] [--enc-alg N] [--pad N]",
       CmdSign},
      {"verify",
       "verify SIGNATURE [--original FILE] [--attached] [--binary] [--zip] [--user ID]\n"
       "        [--password-file F] [--decrypt] [--trim] [--open] [--to-temp]\n"
       "        [--hash-alg N] [--enc-alg N] [--pad N]",
       CmdVerify},
      {"verify-nse", "verify-nse SIGNATURE --original FILE [--binary]", CmdVerifyNse},
      {"zip", "zip FILE ARCHIVE [--password-file F]", CmdZip},
      {"unzip", "unzip ARCHIVE [--password-file F]", CmdUnzip},
  };
  return commands;
}

void PrintUsage(std::ostream& out) {
  out << "usage: vellum COMMAND [ARGS]\n       vellum --version\ncommands:\n";
  for (const auto& c : Commands()) out << "  vellum " << c.usage << "\n";
}

}  // namespace

int Run(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
        std::ostream& err) {
  if (args.empty()) {
    PrintUsage(err);
    return kUsage;
  }
  if (args[0] == "--version") {
    out << "vellum 1.00.0005\n";
    return kOk;
  }
  if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    PrintUsage(out);
    return kOk;
  }
  for (const auto& c : Commands()) {
    if (args[0] != c.name) continue;
    Context ctx{std::vector<std::string>(args.begin() + 1, args.end()), in, out, err};
    int code = c.handler(ctx);
    if (code == kUsage) err << "usage: vellum " << c.usage << "\n";
    return code;
  }
  err << "vellum: unknown command '" << args[0] << "'\n";
  PrintUsage(err);
  return kUsage;
}

}  // namespace vellum::cli
