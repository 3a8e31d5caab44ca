#include "cli/password.h"

#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>

#include "library/platform/error.h"
#include "library/platform/files.h"

namespace vellum::cli {

bool InteractiveInput(const Context& ctx) {
  return &ctx.in == &std::cin && ::isatty(0) == 1;
}

namespace {

std::optional<std::string> PromptWithoutEcho(Context& ctx, const std::string& prompt) {
  ctx.err << prompt << std::flush;
  termios old_mode{};
  bool restore = ::tcgetattr(0, &old_mode) == 0;
  if (restore) {
    termios quiet = old_mode;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ::tcsetattr(0, TCSAFLUSH, &quiet);
  }
  std::string line;
  bool got = static_cast<bool>(std::getline(ctx.in, line));
  if (restore) ::tcsetattr(0, TCSAFLUSH, &old_mode);
  ctx.err << "\n";
  if (!got) return std::nullopt;
  return line;
}

}  // namespace

std::optional<std::string> ReadPassword(Context& ctx, const Options& options,
                                        const std::string& prompt,
                                        std::optional<std::string> fallback) {
  if (auto file = options.Value("password-file")) {
    try {
      std::string text = platform::ReadFileBytes(*file);
      if (!text.empty() && text.back() == '\n') text.pop_back();
      if (!text.empty() && text.back() == '\r') text.pop_back();
      return text;
    } catch (const Error& e) {
      ctx.err << "vellum: cannot read the password file " << *file << ": " << e.description()
              << "\n";
      return std::nullopt;
    }
  }
  if (const char* env = std::getenv("VELLUM_PASSWORD"); env != nullptr) return std::string(env);
  if (InteractiveInput(ctx)) return PromptWithoutEcho(ctx, prompt);
  if (fallback) return fallback;
  ctx.err << "vellum: no password: use --password-file FILE or set VELLUM_PASSWORD\n";
  return std::nullopt;
}

}  // namespace vellum::cli
