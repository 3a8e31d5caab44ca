#include "cli/password.h"

#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <iostream>

#include "cli/safe_text.h"

#include "library/platform/error.h"
#include "library/platform/files.h"
#include "library/platform/secret.h"

namespace vellum::cli {

bool InteractiveInput(const Context& ctx) {
  return &ctx.in == &std::cin && ::isatty(0) == 1;
}

std::optional<std::string> PromptWithoutEcho(Context& ctx, const std::string& prompt) {
  // Echo goes off before the prompt shows: what is typed (or pasted) as soon as the prompt
  // appears must neither show on the screen nor be flushed away by the mode change.
  termios old_mode{};
  bool restore = ::tcgetattr(0, &old_mode) == 0;
  if (restore) {
    termios quiet = old_mode;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ::tcsetattr(0, TCSAFLUSH, &quiet);
  }
  ctx.err << prompt << std::flush;
  std::string line;
  line.reserve(1024);  // a typed password fits without the string moving (and leaving copies)
  bool got = static_cast<bool>(std::getline(ctx.in, line));
  if (restore) ::tcsetattr(0, TCSAFLUSH, &old_mode);
  ctx.err << "\n";
  if (!got) return std::nullopt;
  return line;
}

namespace {

// The value of VELLUM_PASSWORD, wiped from the environment block and removed from the
// environment, so neither /proc/PID/environ nor a program started later shows it.
std::optional<std::string> TakeEnvironmentPassword() {
  char* env = std::getenv("VELLUM_PASSWORD");
  if (env == nullptr) return std::nullopt;
  std::string password(env);
  platform::Wipe(env, std::strlen(env));
  ::unsetenv("VELLUM_PASSWORD");
  return password;
}

std::optional<std::string> ReadFromSources(Context& ctx, const Options& options,
                                           const std::string& prompt,
                                           std::optional<std::string> fallback) {
  if (auto file = options.Value("password-file")) {
    try {
      std::string text = platform::ReadSmallFile(*file, kLargestPasswordFile);
      if (!text.empty() && text.back() == '\n') text.pop_back();
      if (!text.empty() && text.back() == '\r') text.pop_back();
      return text;
    } catch (const Error& e) {
      ctx.err << "vellum: cannot read the password file " << EscapeControls(*file) << ": "
              << EscapeControls(e.description()) << "\n";
      return std::nullopt;
    }
  }
  if (auto env = TakeEnvironmentPassword()) return env;
  if (InteractiveInput(ctx)) return PromptWithoutEcho(ctx, prompt);
  if (fallback) return fallback;
  ctx.err << "vellum: no password: use --password-file FILE or set VELLUM_PASSWORD\n";
  return std::nullopt;
}

}  // namespace

std::optional<std::string> ReadPassword(Context& ctx, const Options& options,
                                        const std::string& prompt,
                                        std::optional<std::string> fallback) {
  // No core file and no ptrace from now on: the password is in this process's memory.
  ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
  std::optional<std::string> password = ReadFromSources(ctx, options, prompt, fallback);
  if (password && !IsValidUtf8(*password)) {
    platform::Wipe(*password);
    ctx.err << "vellum: the password is not valid UTF-8 text (a file saved in another encoding?); "
               "it is refused, since other passwords would read the same\n";
    return std::nullopt;
  }
  return password;
}

}  // namespace vellum::cli
