// The command line of `vellum`: commands and their options as a table, parsed by CLI11. The
// table gives the help texts (`--help`/`-h` for the program and every command), and the parser
// hands each handler its options and operands in a Context.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "cli/context.h"

namespace vellum::cli {

struct OptionSpec {
  const char* name;   // the long name without its dashes: "store" for --store
  const char* value;  // the value's placeholder ("NAME"); nullptr for a flag
  const char* help;
};

struct CommandEntry {
  const char* path;      // the command's words: "sign", "store list"
  const char* operands;  // the operands as the usage line shows them: "FILE", "[LIBRARY]"
  const char* help;
  std::vector<OptionSpec> options;
  int (*handler)(Context&);
};

// Parses `args` (the words after the program's name) against `commands` and runs the handler
// chosen. Help and the version go to `out` (exit 0); every usage error goes to `err` with a
// suggestion where a word is close to a known one (exit 2).
int RunCommandLine(const std::vector<CommandEntry>& commands, const std::vector<std::string>& args,
                   std::istream& in, std::ostream& out, std::ostream& err);

// "vellum 1.00.0005": the project's version as the command prints it.
std::string VersionText();

// The edit distance of two words (insertions, deletions, substitutions, and swaps of two
// neighbouring letters, each costing one); suggestions offer the known words within reach.
std::size_t EditDistance(const std::string& a, const std::string& b);

}  // namespace vellum::cli
