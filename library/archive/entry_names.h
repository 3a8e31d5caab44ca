// Guards on what an archive entry may create. libzip hands names back as stored, so a name
// such as "../x", "/etc/x" or "c:\x" would lead a naive extractor outside its folder.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vellum::archive {

// The path components an entry name stands for, or nothing when the name is unsafe: empty,
// absolute, with a drive prefix, with a backslash (a Windows separator in disguise), with a
// ".." component, or with a NUL. Empty and "." components are dropped. A name ending in "/"
// is a folder and may come back with no components (the archive's root); a file needs one.
std::optional<std::vector<std::string>> SafeComponents(std::string_view name, bool is_folder);

// True when the entry's external attributes mark it as something other than a file or a
// folder: a Unix link, device, fifo or socket, or a Windows reparse point (a link there).
bool IsSpecialEntry(std::uint8_t opsys, std::uint32_t attributes);

// The entry name made safe to show in a message: control characters become "?".
std::string PrintableName(std::string_view name);

}  // namespace vellum::archive
