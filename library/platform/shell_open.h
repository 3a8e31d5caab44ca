// Opening a document with the program the desktop associates with its type, the way a
// double-click would. The result uses the desktop shell's codes: above 32 is success; 2 the
// file is missing, 3 its folder is missing, 31 nothing is associated with its type, 32 no
// opener program exists.
#pragma once

#include <functional>
#include <string>

namespace vellum::platform {

inline constexpr int kShellOpenStarted = 42;  // any code above 32 means the request was taken

// Starts the opener (xdg-open, else gio open) for `path` without waiting for it.
int ShellOpen(const std::string& path);

// Tests replace the opener so no real program is ever launched; an empty function restores
// the real one.
using ShellOpener = std::function<int(const std::string& path)>;
void SetShellOpenerForTesting(ShellOpener opener);

}  // namespace vellum::platform
