#include "library/archive/entry_names.h"

#include <zip.h>

namespace vellum::archive {

std::optional<std::vector<std::string>> SafeComponents(std::string_view name, bool is_folder) {
  if (name.empty() || name.front() == '/') return std::nullopt;
  if (name.find('\\') != std::string_view::npos) return std::nullopt;
  if (name.find('\0') != std::string_view::npos) return std::nullopt;
  // "c:x" and "c:/x" address a drive on the systems these archives often come from.
  if (name.size() >= 2 && name[1] == ':' &&
      ((name[0] >= 'a' && name[0] <= 'z') || (name[0] >= 'A' && name[0] <= 'Z')))
    return std::nullopt;

  std::vector<std::string> components;
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = name.find('/', start);
    if (end == std::string_view::npos) end = name.size();
    std::string_view part = name.substr(start, end - start);
    if (part == "..") return std::nullopt;
    if (!part.empty() && part != ".") components.emplace_back(part);
    start = end + 1;
  }
  if (!is_folder && components.empty()) return std::nullopt;
  return components;
}

bool IsSpecialEntry(std::uint8_t opsys, std::uint32_t attributes) {
  constexpr std::uint32_t kReparsePoint = 0x400;  // FILE_ATTRIBUTE_REPARSE_POINT, low word
  if ((attributes & 0xFFFF) & kReparsePoint) return true;
  if (opsys != ZIP_OPSYS_UNIX) return false;
  // Unix tools keep st_mode in the high word; 0 there means "not recorded".
  std::uint32_t type = (attributes >> 16) & 0170000;
  return type != 0 && type != 0100000 && type != 0040000;  // regular file, folder
}

std::string PrintableName(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  for (char c : name) {
    unsigned char u = static_cast<unsigned char>(c);
    out += (u < 0x20 || u == 0x7F) ? '?' : c;
  }
  return out;
}

}  // namespace vellum::archive
