// The command run in this process, as the command tests call it: its exit code and what it
// wrote to standard output and standard error.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "cli/run.h"

namespace vellum::cli {

struct Result {
  int code;
  std::string out;
  std::string err;
};

// Runs the command with `args` (the command's name first) and `input` as standard input.
inline Result RunCli(const std::vector<std::string>& args, const std::string& input = "") {
  std::istringstream in(input);
  std::ostringstream out, err;
  const int code = Run(args, in, out, err);
  return {code, out.str(), err.str()};
}

inline bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

}  // namespace vellum::cli
