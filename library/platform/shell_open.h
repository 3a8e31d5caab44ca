// Opening a document with the program the desktop associates with its type, the way a
// double-click would. The result uses the desktop shell's codes: above 32 is success; 2 the
// file is missing, 3 its folder is missing, 31 nothing is associated with its type, 32 no
// opener program exists.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace vellum::platform {

inline constexpr int kShellOpenStarted = 42;  // any code above 32 means the request was taken

// Starts the opener (xdg-open, else gio open) for `path` without waiting for it. The opener
// and the programs it starts get ChildEnvironment(), never this process's secrets.
int ShellOpen(const std::string& path);

// This process's environment without what a started program has no business seeing: every
// VELLUM_ setting (VELLUM_PASSWORD above all) and any variable whose name speaks of a password,
// passphrase or secret. The desktop's own variables (DISPLAY, XDG_*, DBUS_*, PATH, ...) stay,
// since the opener needs them to find the user's programs.
std::vector<std::string> ChildEnvironment();

// Tests replace the opener so no real program is ever launched; an empty function restores
// the real one.
using ShellOpener = std::function<int(const std::string& path)>;
void SetShellOpenerForTesting(ShellOpener opener);

}  // namespace vellum::platform
