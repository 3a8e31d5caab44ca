#include "cli/context.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

namespace vellum::cli {

std::optional<Options> Options::Parse(const std::vector<std::string>& args,
                                      const std::vector<std::string>& flags,
                                      const std::vector<std::string>& with_value,
                                      std::string& error) {
  Options o;
  auto contains = [](const std::vector<std::string>& list, const std::string& s) {
    return std::find(list.begin(), list.end(), s) != list.end();
  };
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--") {
      o.positional_.insert(o.positional_.end(), args.begin() + static_cast<long>(i) + 1,
                           args.end());
      break;
    }
    if (a.size() > 2 && a.rfind("--", 0) == 0) {
      std::string name = a.substr(2);
      std::optional<std::string> inline_value;
      if (auto eq = name.find('='); eq != std::string::npos) {
        inline_value = name.substr(eq + 1);
        name = name.substr(0, eq);
      }
      if (contains(with_value, name)) {
        if (!inline_value) {
          if (i + 1 >= args.size()) {
            error = "option --" + name + " needs a value";
            return std::nullopt;
          }
          inline_value = args[++i];
        }
        o.values_.emplace_back(name, *inline_value);
      } else if (contains(flags, name) && !inline_value) {
        o.flags_.push_back(name);
      } else {
        error = "unknown option --" + name;
        return std::nullopt;
      }
      continue;
    }
    o.positional_.push_back(a);
  }
  return o;
}

bool Options::Has(const std::string& name) const {
  return std::find(flags_.begin(), flags_.end(), name) != flags_.end() || Value(name).has_value();
}

std::optional<std::string> Options::Value(const std::string& name) const {
  for (auto it = values_.rbegin(); it != values_.rend(); ++it)
    if (it->first == name) return it->second;
  return std::nullopt;
}

std::string DefaultLibraryPath() {
  if (const char* env = std::getenv("VELLUM_LIBRARY"); env != nullptr && *env != '\0') return env;
  std::error_code ec;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return "libvellum.so";
  const std::filesystem::path dir = self.parent_path();
  for (const auto& candidate :
       {dir / "../library/libvellum.so", dir / "../lib/libvellum.so", dir / "libvellum.so"}) {
    if (std::filesystem::exists(candidate, ec))
      return std::filesystem::weakly_canonical(candidate, ec).string();
  }
  return (dir / "../library/libvellum.so").lexically_normal().string();
}

}  // namespace vellum::cli
