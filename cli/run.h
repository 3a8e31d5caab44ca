// The vellum command. main() only forwards to Run, so tests drive every command in-process
// with their own streams.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace vellum::cli {

// Exit codes: 0 the operation succeeded (the method returned True), 1 it failed, 2 usage error.
inline constexpr int kOk = 0;
inline constexpr int kFailed = 1;
inline constexpr int kUsage = 2;

int Run(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
        std::ostream& err);

}  // namespace vellum::cli
