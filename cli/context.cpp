#include "cli/context.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <ostream>

namespace vellum::cli {

bool Options::Has(const std::string& name) const {
  return std::find(flags_.begin(), flags_.end(), name) != flags_.end() || Value(name).has_value();
}

std::optional<std::string> Options::Value(const std::string& name) const {
  for (auto it = values_.rbegin(); it != values_.rend(); ++it)
    if (it->first == name) return it->second;
  return std::nullopt;
}

std::vector<std::string> Options::Values(const std::string& name) const {
  std::vector<std::string> all;
  for (const auto& [key, value] : values_)
    if (key == name) all.push_back(value);
  return all;
}

std::ostream& Context::Report() {
  // A stream without a buffer swallows everything written to it.
  static std::ostream nowhere(nullptr);
  return quiet ? nowhere : out;
}

// The build tree keeps the module in library/ beside cli/; an installed command finds it in the
// library folder relative to its own (bin/../lib/x86_64-linux-gnu), named by its soname so the
// registration outlives an update of the same major version.
std::string DefaultLibraryPath() {
  if (const char* env = std::getenv("VELLUM_LIBRARY"); env != nullptr && *env != '\0') return env;
  std::error_code ec;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return "libvellum.so.1";
  const std::filesystem::path dir = self.parent_path();
  const std::filesystem::path candidates[] = {
      dir / "../library/libvellum.so",
      dir / VELLUM_LIBDIR_FROM_BINDIR / "libvellum.so.1",
      dir / "libvellum.so",
  };
  for (const auto& candidate : candidates) {
    if (std::filesystem::exists(candidate, ec))
      return (std::filesystem::weakly_canonical(candidate.parent_path(), ec) / candidate.filename())
          .string();
  }
  return (dir / "../library/libvellum.so").lexically_normal().string();
}

}  // namespace vellum::cli
