// What every command handler gets: its parsed command line and the streams.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vellum::cli {

// The options one command was given, by name without the leading dashes: flags (--name) and
// options with a value (--name VALUE or --name=VALUE). The parser in run.cpp fills it; a value
// given twice counts as its last occurrence.
class Options {
 public:
  void AddFlag(std::string name) { flags_.push_back(std::move(name)); }
  void AddValue(std::string name, std::string value) {
    values_.emplace_back(std::move(name), std::move(value));
  }

  bool Has(const std::string& name) const;
  std::optional<std::string> Value(const std::string& name) const;
  // Every value of an option that may be repeated, in the order given.
  std::vector<std::string> Values(const std::string& name) const;

 private:
  std::vector<std::pair<std::string, std::string>> values_;
  std::vector<std::string> flags_;
};

struct Context {
  std::vector<std::string> args;  // the operands: the words after the command that are no option
  Options options;
  std::istream& in;
  std::ostream& out;
  std::ostream& err;
  bool quiet = false;  // --quiet: no progress or success texts, only results and errors

  // Where the texts that only report (the library's success messages, details) go: standard
  // output, or nowhere under --quiet. Data the user asked for (a decrypted text, a listing)
  // always goes to `out`.
  std::ostream& Report();
};

// The server module this command would register: the LIBRARY argument, else
// $VELLUM_LIBRARY, else the module of the command's own build tree, else the installed one
// (libvellum.so.1 in the library folder beside the command's bin folder).
std::string DefaultLibraryPath();

}  // namespace vellum::cli
