// Where the command takes passwords from: a file (--password-file F, one trailing line break
// dropped), the VELLUM_PASSWORD environment variable, or a prompt on the terminal with echo
// off. Never from a plain command-line value, which other users could read in the process list.
#pragma once

#include <optional>
#include <string>

#include "cli/context.h"

namespace vellum::cli {

// The password, or nullopt (with a message on ctx.err) when none could be had. `prompt` is
// shown when asking on a terminal; without a terminal and without a source, `fallback` (if
// any) is returned.
std::optional<std::string> ReadPassword(Context& ctx, const Options& options,
                                        const std::string& prompt,
                                        std::optional<std::string> fallback = std::nullopt);

// True when standard input is a terminal the command may prompt on.
bool InteractiveInput(const Context& ctx);

}  // namespace vellum::cli
