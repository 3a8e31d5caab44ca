// Temporary folders and environment settings that undo themselves.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vellum::testing {

// A fresh folder under $VELLUM_TEST_TMP (set by CTest to the test's build folder), else under
// the system temporary folder; removed with everything in it on destruction.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + name
  std::string File(const std::string& name) const;
  // The names in the folder (not recursive), sorted; for "nothing was written" checks.
  std::vector<std::string> List() const;

 private:
  std::string path_;
};

// Sets an environment variable (or unsets it, with std::nullopt) until destruction, then
// restores the earlier value.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, const std::optional<std::string>& value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// Writes `data` to `path` (plain, not atomic: fixtures only). Throws std::runtime_error.
void WriteFile(const std::string& path, const std::string& data);
std::string ReadFile(const std::string& path);

// Runs `command` through /bin/sh; returns its exit status (-1 when it did not run). Standard
// output goes to `output` when given; standard error is left to the test log.
int RunCommand(const std::string& command, std::string* output = nullptr);

}  // namespace vellum::testing
