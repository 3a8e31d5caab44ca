#include "library/com/registry.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "library/com/guid.h"
#include "library/platform/error.h"
#include "library/platform/files.h"

namespace vellum::com {
namespace {

bool SameKey(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r'))
    s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

bool HasLineBreak(std::string_view s) {
  return s.find_first_of("\r\n") != std::string_view::npos;
}

}  // namespace

std::string RegistryPath() {
  if (const char* explicit_path = std::getenv("VELLUM_REGISTRY");
      explicit_path != nullptr && *explicit_path != '\0')
    return explicit_path;
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && *config == '/')
    return std::string(config) + "/vellum/registry.ini";
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr ? home : "") + "/.config/vellum/registry.ini";
}

namespace {

// The absolute folders of $XDG_CONFIG_DIRS in order, /etc/xdg when there is none.
std::vector<std::string> SystemConfigFolders() {
  std::vector<std::string> folders;
  const char* dirs = std::getenv("XDG_CONFIG_DIRS");
  std::string_view rest = dirs != nullptr ? dirs : "";
  while (!rest.empty()) {
    const std::size_t colon = rest.find(':');
    const std::string_view folder = rest.substr(0, colon);
    if (!folder.empty() && folder.front() == '/') folders.emplace_back(folder);
    rest = colon == std::string_view::npos ? std::string_view{} : rest.substr(colon + 1);
  }
  if (folders.empty()) folders.emplace_back("/etc/xdg");
  return folders;
}

constexpr const char* kRegistryFile = "/vellum/registry.ini";

}  // namespace

std::string SystemRegistryPath() {
  return SystemConfigFolders().back() + kRegistryFile;
}

std::optional<std::string> RegisteredValue(std::string_view key, std::string_view name) {
  if (const char* explicit_path = std::getenv("VELLUM_REGISTRY");
      explicit_path != nullptr && *explicit_path != '\0')
    return Registry::Load(explicit_path).Value(key, name);
  if (auto value = Registry::Load(RegistryPath()).Value(key, name)) return value;
  for (const auto& folder : SystemConfigFolders()) {
    if (auto value = Registry::Load(folder + kRegistryFile).Value(key, name)) return value;
  }
  return std::nullopt;
}

std::optional<std::string> UserSetting(std::string_view key, std::string_view name) {
  try {
    return RegisteredValue(key, name);
  } catch (const Error&) {
    return std::nullopt;
  }
}

Registry Registry::Parse(std::string_view text, const std::string& origin) {
  Registry registry;
  Key* current = nullptr;
  std::size_t line_number = 0;
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    std::string_view line = Trim(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    ++line_number;
    auto damaged = [&] {
      return Error::Component(
          HRESULT_INVALID_DATA,
          "the registry file " + origin + " is damaged at line " + std::to_string(line_number));
    };
    if (line.empty() || line.front() == ';' || line.front() == '#') continue;
    if (line.find('\0') != std::string_view::npos) throw damaged();
    if (line.front() == '[') {
      if (line.back() != ']' || line.size() < 3) throw damaged();
      std::string_view path = line.substr(1, line.size() - 2);
      if (registry.Find(path) != nullptr) throw damaged();
      registry.keys_.push_back({std::string(path), {}});
      current = &registry.keys_.back();
      continue;
    }
    std::size_t eq = line.find('=');
    if (current == nullptr || eq == std::string_view::npos || eq == 0) throw damaged();
    current->values.emplace_back(std::string(Trim(line.substr(0, eq))),
                                 std::string(line.substr(eq + 1)));
  }
  return registry;
}

Registry Registry::Load(const std::string& path) {
  if (!platform::FileExists(path)) {
    std::error_code ec;
    if (std::filesystem::exists(platform::PathFromUtf8(path), ec))
      throw Error::Component(REGDB_E_READREGDB, "the registry file " + path + " is not a file");
    return {};
  }
  try {
    return Parse(platform::ReadFileBytes(path), path);
  } catch (const Error& e) {
    if (e.number() < 0) throw;
    throw Error::Component(REGDB_E_READREGDB,
                           "the registry file " + path + " cannot be read: " + e.description());
  }
}

std::string Registry::Serialize() const {
  std::string out = "; Vellum registry. Written by registration; edit with care.\n";
  for (const auto& key : keys_) {
    out.append("\n[").append(key.path).append("]\n");
    for (const auto& [name, value] : key.values) out.append(name).append("=").append(value) += '\n';
  }
  return out;
}

void Registry::Save(const std::string& path) const {
  std::error_code ec;
  std::filesystem::path target = platform::PathFromUtf8(path);
  if (target.has_parent_path()) std::filesystem::create_directories(target.parent_path(), ec);
  try {
    platform::WriteFileAtomic(path, Serialize());
  } catch (const Error& e) {
    throw Error::Component(REGDB_E_WRITEREGDB,
                           "the registry file " + path + " cannot be written: " + e.description());
  }
}

Registry::Key* Registry::Find(std::string_view key) {
  for (auto& k : keys_)
    if (SameKey(k.path, key)) return &k;
  return nullptr;
}

const Registry::Key* Registry::Find(std::string_view key) const {
  for (const auto& k : keys_)
    if (SameKey(k.path, key)) return &k;
  return nullptr;
}

std::optional<std::string> Registry::Value(std::string_view key, std::string_view name) const {
  const Key* k = Find(key);
  if (k == nullptr) return std::nullopt;
  for (const auto& [n, v] : k->values)
    if (SameKey(n, name)) return v;
  return std::nullopt;
}

void Registry::Set(std::string_view key, std::string_view name, std::string_view value) {
  if (HasLineBreak(key) || HasLineBreak(name) || HasLineBreak(value) ||
      name.find('=') != std::string_view::npos)
    throw Error::Component(E_INVALIDARG, "a registry entry cannot hold a line break or '='");
  Key* k = Find(key);
  if (k == nullptr) {
    keys_.push_back({std::string(key), {}});
    k = &keys_.back();
  }
  for (auto& [n, v] : k->values) {
    if (SameKey(n, name)) {
      v = value;
      return;
    }
  }
  k->values.emplace_back(std::string(name), std::string(value));
}

void Registry::RemoveTree(std::string_view key) {
  std::erase_if(keys_, [&](const Key& k) {
    return SameKey(k.path, key) || (k.path.size() > key.size() && k.path[key.size()] == '\\' &&
                                    SameKey(std::string_view(k.path).substr(0, key.size()), key));
  });
}

bool Registry::HasKey(std::string_view key) const {
  return Find(key) != nullptr;
}

void AddServerEntries(Registry& r, const ServerEntries& s) {
  const std::string libid = GuidToString(s.libid);
  const std::string module_folder =
      platform::PathToUtf8(platform::PathFromUtf8(s.module_path).parent_path());
  for (const auto& c : s.classes) {
    const std::string clsid = GuidToString(c.clsid);
    const std::string key = std::string("CLSID\\") + clsid;
    r.Set(key, "@", c.name);
    r.Set(key + "\\InprocServer32", "@", s.module_path);
    r.Set(key + "\\InprocServer32", "ThreadingModel", "Apartment");
    r.Set(key + "\\ProgID", "@", c.prog_id);
    r.Set(key + "\\TypeLib", "@", libid);
    r.Set(key + "\\VERSION", "@", s.version);
    r.Set(c.prog_id, "@", c.prog_id);
    r.Set(std::string(c.prog_id) + "\\CLSID", "@", clsid);

    const std::string iface = std::string("Interface\\") + GuidToString(c.iid);
    r.Set(iface, "@", c.interface_name);
    r.Set(iface + "\\ProxyStubClsid32", "@", GuidToString(CLSID_PSOAInterface));
    r.Set(iface + "\\TypeLib", "@", libid);
    r.Set(iface + "\\TypeLib", "Version", s.version);
  }
  const std::string tl = std::string("TypeLib\\") + libid + "\\" + s.version;
  r.Set(tl, "@", s.library_name);
  // The type information is built into the server module itself.
  r.Set(tl + "\\0\\linux64", "@", s.module_path);
  r.Set(tl + "\\FLAGS", "@", "0");
  r.Set(tl + "\\HELPDIR", "@", module_folder);
}

void RemoveServerEntries(Registry& r, const ServerEntries& s) {
  for (const auto& c : s.classes) {
    r.RemoveTree(std::string("CLSID\\") + GuidToString(c.clsid));
    r.RemoveTree(c.prog_id);
    r.RemoveTree(std::string("Interface\\") + GuidToString(c.iid));
  }
  r.RemoveTree(std::string("TypeLib\\") + GuidToString(s.libid));
}

namespace {
template <class Change>
HRESULT ChangeRegistry(Change change, std::string* detail) {
  try {
    const std::string path = RegistryPath();
    Registry registry = Registry::Load(path);
    change(registry);
    registry.Save(path);
    return S_OK;
  } catch (const Error& e) {
    if (detail != nullptr) *detail = e.description();
    return e.number() < 0 ? e.number() : E_FAIL;
  } catch (const std::exception& e) {
    if (detail != nullptr) *detail = e.what();
    return E_FAIL;
  }
}
}  // namespace

HRESULT RegisterServer(const ServerEntries& server, std::string* detail) {
  return ChangeRegistry([&](Registry& r) { AddServerEntries(r, server); }, detail);
}

HRESULT UnregisterServer(const ServerEntries& server, std::string* detail) {
  return ChangeRegistry([&](Registry& r) { RemoveServerEntries(r, server); }, detail);
}

}  // namespace vellum::com
