// Archive extraction on hostile archives, into a temporary folder: whatever the input, the
// only thing that may appear is the extraction folder, a failed run leaves nothing extracted,
// and a successful one names only files inside that folder.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "library/archive/archive.h"
#include "library/platform/files.h"

namespace {

// fuzz/make-corpus protects its seed archives with this password.
constexpr const char* kSeedPassword = "fuzz-password";

void Check(bool condition) {
  if (!condition) std::abort();
}

// A plain write: the atomic writer's fsync would cost more than the run itself.
void PutInput(const std::string& path, std::string_view data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
  out.close();
  Check(static_cast<bool>(out));
}

// One work folder per process, removed at exit: <tmp>/vellum-fuzz-XXXXXX/{in.zip, out/UnZip}.
struct WorkFolder {
  std::filesystem::path root;
  WorkFolder() {
    std::string pattern = vellum::platform::TempFolder() + "/vellum-fuzz-XXXXXX";
    Check(::mkdtemp(pattern.data()) != nullptr);
    root = pattern;
    std::filesystem::create_directory(root / "out");
  }
  ~WorkFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
  }
};

std::vector<std::string> Names(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  return names;
}

bool Inside(const std::string& path, const std::string& folder) {
  return path.size() > folder.size() + 1 && path.compare(0, folder.size(), folder) == 0 &&
         path[folder.size()] == '/' && path.find("/../") == std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static WorkFolder work;
  const std::string archive = (work.root / "in.zip").string();
  const std::filesystem::path out = work.root / "out";
  const std::string folder = (out / "UnZip").string();
  PutInput(archive, std::string_view(reinterpret_cast<const char*>(data), size));

  std::vector<std::string> extracted;
  const vellum::archive::Result result =
      vellum::archive::ExtractArchive(archive, folder, kSeedPassword, &extracted);

  // Nothing beside the extraction folder, and the archive itself untouched.
  for (const std::string& name : Names(out)) Check(name == "UnZip");
  Check(Names(work.root).size() == 2);
  Check(std::filesystem::file_size(archive) == size);
  if (result.ok()) {
    Check(result.text.empty());
    for (const std::string& path : extracted) Check(Inside(path, folder));
  } else {
    Check(!result.text.empty());
    Check(!std::filesystem::exists(folder) || std::filesystem::is_empty(folder));
  }
  std::filesystem::remove_all(folder);
  return 0;
}
