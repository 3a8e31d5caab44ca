#include "library/zip/zip_logic.h"

#include <filesystem>

#include "library/archive/archive.h"
#include "library/platform/files.h"
#include "library/platform/hooks.h"

namespace vellum {
namespace {

constexpr char kSep = platform::kSeparator;
constexpr const char* kUnZip = "UnZip";

// The text after the last "." of the last path component; empty when it has none.
std::string ExtensionName(const std::string& path) {
  std::size_t slash = path.rfind(kSep);
  std::size_t start = slash == std::string::npos ? 0 : slash + 1;
  std::size_t dot = path.rfind('.');
  if (dot == std::string::npos || dot < start) return {};
  return path.substr(dot + 1);
}

std::string FileName(const std::string& path) {
  std::size_t slash = path.rfind(kSep);
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string BeforeFirstDot(const std::string& name) {
  return name.substr(0, name.find('.'));
}

// Every occurrence, left to right, not overlapping, case counting.
std::string ReplaceAll(const std::string& text, const std::string& from, const std::string& to) {
  if (from.empty()) return text;
  std::string out;
  std::size_t pos = 0;
  for (std::size_t hit; (hit = text.find(from, pos)) != std::string::npos; pos = hit + from.size())
    out.append(text, pos, hit - pos).append(to);
  out.append(text, pos);
  return out;
}

std::string TrimSpaces(const std::string& text) {
  std::size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// The UnZip folder beside `archive_name`: its parent folder (the text up to its last
// separator) followed by "/UnZip". A bare name without any separator would give "/UnZip" at
// the root of the file system; it is taken to live in the current folder instead.
std::string UnZipFolderFor(const std::string& archive_name) {
  std::size_t slash = archive_name.rfind(kSep);
  if (slash == std::string::npos) return kUnZip;
  return archive_name.substr(0, slash) + kSep + kUnZip;
}

// The extracted file is the one whose name, up to its first ".", matches the archive's; its
// extension replaces the archive's. The last match in listing order wins, and with no match
// the name keeps a bare "." where the extension was.
std::string ExtractedFileName(const std::string& folder, const std::string& archive_name) {
  std::string extension = ExtensionName(archive_name);
  std::string name = FileName(archive_name);
  std::string prefix = BeforeFirstDot(name);
  std::string found;
  for (const auto& entry : std::filesystem::directory_iterator(platform::PathFromUtf8(folder))) {
    if (!entry.is_regular_file()) continue;
    std::string candidate = platform::PathToUtf8(entry.path().filename());
    if (BeforeFirstDot(candidate) == prefix) found = ExtensionName(candidate);
  }
  return folder + kSep + TrimSpaces(ReplaceAll(name, "." + extension, "." + found));
}

}  // namespace

bool ZipLogic::ZipFile(std::string& sInputFileName, std::string& outputfilename,
                       std::string& sPassword) {
  try {
    archive::Result run = archive::CompressFile(sInputFileName, outputfilename, sPassword);
    lLastResult_ = run.code;
    if (run.ok()) return true;
    platform::ShowMessage(run.text);
    return false;
  } catch (...) {
    // A failure outside the component's run: false, no box, lLastResult as it was.
    return false;
  }
}

bool ZipLogic::UnZipFile(std::string& sInputZipFileName, std::string& OutputUnZipFileName,
                         std::string& sPassword) {
  try {
    std::string folder = UnZipFolderFor(sInputZipFileName);
    // remove_all takes a link named UnZip away itself, never what it points to.
    if (platform::FolderExists(folder)) std::filesystem::remove_all(platform::PathFromUtf8(folder));

    archive::Result run = archive::ExtractArchive(OutputUnZipFileName, folder, sPassword, nullptr);
    lLastResult_ = run.code;
    if (run.code == archive::kOk) {
      OutputUnZipFileName = ExtractedFileName(folder, OutputUnZipFileName);
      return true;
    }
    platform::ShowMessage(run.code == archive::kWrongPassword ? kPasswordMismatch : run.text);
    return false;
  } catch (...) {
    return false;
  }
}

}  // namespace vellum
