// Where the command takes passwords from: a file (--password-file F, one trailing line break
// dropped), the VELLUM_PASSWORD environment variable, or a prompt on the terminal with echo
// off. Never from a plain command-line value, which other users could read in the process list.
#pragma once

#include <optional>
#include <string>

#include "cli/context.h"

namespace vellum::cli {

// The largest password file read: a password is a line, not a document.
inline constexpr std::size_t kLargestPasswordFile = std::size_t{64} << 10;

// The password, or nullopt (with a message on ctx.err) when none could be had. A password file
// must be a regular file of at most kLargestPasswordFile bytes. VELLUM_PASSWORD is wiped and
// removed from the environment once read, so no program started later inherits it. A password
// that is not valid UTF-8 is refused (its bytes would all turn into U+FFFD, and different
// passwords would open the same things). Once a password is held the process is no longer
// dumpable (no core file, no ptrace by other processes of the user) for the rest of its run.
// `prompt` is shown when asking on a terminal; without a terminal and without a source, `fallback`
// (if any) is returned.
std::optional<std::string> ReadPassword(Context& ctx, const Options& options,
                                        const std::string& prompt,
                                        std::optional<std::string> fallback = std::nullopt);

// True when standard input is a terminal the command may prompt on.
bool InteractiveInput(const Context& ctx);

// Shows `prompt` on standard error and reads one line from the terminal with echo off;
// nullopt when input ended.
std::optional<std::string> PromptWithoutEcho(Context& ctx, const std::string& prompt);

}  // namespace vellum::cli
