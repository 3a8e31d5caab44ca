// What every command handler gets: its arguments (after the command word) and the streams.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace vellum::cli {

struct Context {
  std::vector<std::string> args;
  std::istream& in;
  std::ostream& out;
  std::ostream& err;
};

// A parsed command line: flags (--name or --name VALUE) and positional words.
class Options {
 public:
  // `with_value` lists the options that take a value. Unknown options are an error.
  static std::optional<Options> Parse(const std::vector<std::string>& args,
                                      const std::vector<std::string>& flags,
                                      const std::vector<std::string>& with_value,
                                      std::string& error);
  bool Has(const std::string& name) const;
  std::optional<std::string> Value(const std::string& name) const;
  const std::vector<std::string>& Positional() const { return positional_; }

 private:
  std::vector<std::pair<std::string, std::string>> values_;
  std::vector<std::string> flags_;
  std::vector<std::string> positional_;
};

// The server module this command would register: the LIBRARY argument, else
// $VELLUM_LIBRARY, else the module beside the command's own build or install location.
std::string DefaultLibraryPath();

}  // namespace vellum::cli
