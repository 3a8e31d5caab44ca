// The registry: an INI-style file of keys ("[CLSID\{...}\InprocServer32]") and
// values ("name=value", "@" for a key's default value). Registration rewrites the whole file
// atomically; a file that does not parse is reported and never overwritten.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "vellum/types.h"

namespace vellum::com {

// The registry registration writes: $VELLUM_REGISTRY, else
// $XDG_CONFIG_HOME/vellum/registry.ini, else ~/.config/vellum/registry.ini.
std::string RegistryPath();

// The system-wide registry a package writes for every user (`vellum register --system`):
// vellum/registry.ini in the last folder of $XDG_CONFIG_DIRS, the most general one, which is
// /etc/xdg when the variable is unset.
std::string SystemRegistryPath();

// What clients read for `key`'s value `name`: with $VELLUM_REGISTRY set, that registry alone;
// else the user's registry, and where it has no such value (or does not exist), the first
// vellum/registry.ini of the folders of $XDG_CONFIG_DIRS (default /etc/xdg) that has it, in
// order, as the XDG base directory rules look up configuration. So a user's own registration
// wins, and a class the user never registered comes from the system's. Raises as Load does
// for a registry that exists but cannot be read.
std::optional<std::string> RegisteredValue(std::string_view key, std::string_view name = "@");

class Registry {
 public:
  // Raises vellum::Error(HRESULT_INVALID_DATA) naming the line of the first damaged line.
  static Registry Parse(std::string_view text, const std::string& origin);
  // A missing file is an empty registry; an unreadable one raises REGDB_E_READREGDB.
  static Registry Load(const std::string& path);
  // Atomic replacement (the folder is created); raises REGDB_E_WRITEREGDB on failure.
  void Save(const std::string& path) const;
  std::string Serialize() const;

  std::optional<std::string> Value(std::string_view key, std::string_view name = "@") const;
  void Set(std::string_view key, std::string_view name, std::string_view value);
  // Removes the key and every key below it.
  void RemoveTree(std::string_view key);
  bool HasKey(std::string_view key) const;
  bool Empty() const { return keys_.empty(); }

 private:
  struct Key {
    std::string path;
    std::vector<std::pair<std::string, std::string>> values;
  };
  Key* Find(std::string_view key);
  const Key* Find(std::string_view key) const;
  std::vector<Key> keys_;
};

// A setting: RegisteredValue (the user's registry, else the system's), none when the key or
// the value is missing, or when a registry cannot be read or parsed (a setting then counts as
// not made).
std::optional<std::string> UserSetting(std::string_view key, std::string_view name);

struct ClassEntry {
  CLSID clsid;
  const char* name;            // DigitalSign
  const char* prog_id;         // Vellum.DigitalSign
  IID iid;                     // the default interface
  const char* interface_name;  // _DigitalSign
};

struct ServerEntries {
  GUID libid;
  const char* library_name;  // Vellum
  const char* version;       // 1.0
  std::string module_path;   // absolute path of the server module
  std::vector<ClassEntry> classes;
};

void AddServerEntries(Registry& registry, const ServerEntries& server);
void RemoveServerEntries(Registry& registry, const ServerEntries& server);

// Load, change, save; the failure's HRESULT (or S_OK). `detail` gets a readable reason.
HRESULT RegisterServer(const ServerEntries& server, std::string* detail = nullptr);
HRESULT UnregisterServer(const ServerEntries& server, std::string* detail = nullptr);

}  // namespace vellum::com
