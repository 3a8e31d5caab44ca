// What the desk remembers for its user between runs: the folder last worked in, the format the
// operator last chose, and the four option boxes. Config.ini, where it fixes a value, wins.
//
// The file is $XDG_CONFIG_HOME/moravel-verify/desk-state.ini (~/.config/… when the variable is
// unset), UTF-8 lines of key=value: folder, format (0 "Old", 1 "New"), content, decrypt,
// binary, open (0 or 1). Lines the desk does not know, or cannot read, are ignored.
#pragma once

#include <QString>
#include <optional>

namespace vellum::desk {

struct Remembered {
  QString folder;
  std::optional<int> format;
  std::optional<bool> content;
  std::optional<bool> decrypt;
  std::optional<bool> binary;
  std::optional<bool> open;
  friend bool operator==(const Remembered&, const Remembered&) = default;
};

// Where the current user's file lives; empty when neither XDG_CONFIG_HOME nor HOME names an
// absolute folder.
QString RememberedFileOfUser();

// A missing or unreadable file remembers nothing.
Remembered ReadRemembered(const QString& file);

// Replaces the file atomically, making its folder (mode 0700) when needed. Raises the file
// error on failure.
void WriteRemembered(const QString& file, const Remembered& remembered);

}  // namespace vellum::desk
