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

// Makes `folder` the current folder until destruction, then returns to the earlier one. Tests
// of rules that read every dot of a path work with names relative to their own folder, so the
// name of the folder the tests run in (which may hold dots) takes no part.
class ScopedCurrentFolder {
 public:
  explicit ScopedCurrentFolder(const std::string& folder);
  ~ScopedCurrentFolder();
  ScopedCurrentFolder(const ScopedCurrentFolder&) = delete;
  ScopedCurrentFolder& operator=(const ScopedCurrentFolder&) = delete;

 private:
  std::string previous_;
};

// Writes `data` to `path` (plain, not atomic: fixtures only). Throws std::runtime_error.
void WriteFile(const std::string& path, const std::string& data);
std::string ReadFile(const std::string& path);

// Runs `command` through /bin/sh; returns its exit status (-1 when it did not run). Standard
// output goes to `output` when given; standard error is left to the test log.
int RunCommand(const std::string& command, std::string* output = nullptr);

}  // namespace vellum::testing
