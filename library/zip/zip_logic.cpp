#include "library/zip/zip_logic.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>

#include "library/archive/archive.h"
#include "library/platform/error.h"
#include "library/platform/files.h"
#include "library/platform/hooks.h"
#include "library/platform/text.h"

namespace vellum {
namespace {

constexpr char kSep = platform::kSeparator;
constexpr const char* kUnZip = ZipLogic::kUnZip;

std::string FileName(const std::string& path) {
  std::size_t slash = path.rfind(kSep);
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string BeforeFirstDot(const std::string& name) {
  return name.substr(0, name.find('.'));
}

// The UnZip folder beside `archive_name`: its parent folder (the text up to its last
// separator) followed by "/UnZip". A bare name without any separator would give "/UnZip" at
// the root of the file system; it is taken to live in the current folder instead.
std::string UnZipFolderFor(const std::string& archive_name) {
  std::size_t slash = archive_name.rfind(kSep);
  if (slash == std::string::npos) return kUnZip;
  return archive_name.substr(0, slash) + kSep + kUnZip;
}

// The folder that holds the UnZip folder of `archive_name`.
std::string UnZipParentFor(const std::string& archive_name) {
  std::size_t slash = archive_name.rfind(kSep);
  if (slash == std::string::npos) return ".";
  return slash == 0 ? std::string(1, kSep) : archive_name.substr(0, slash);
}

archive::Result Failure(std::int32_t code, const std::string& detail) {
  return archive::Result{code, archive::ResultText(code) + "\r\n" + detail};
}

// Extracts into a fresh marked folder beside UnZip and renames it to UnZip once every entry
// passed; an older UnZip goes first, but only one this system made: anything else standing at
// the name (a folder someone made, a file, a link) is left as it is and the run fails. Runs under
// the parent's lock. A failure to remove the older folder raises (no run took place).
archive::Result ExtractIntoUnZip(int parent, const std::string& parent_path,
                                 const std::string& archive_path, const std::string& password) {
  const std::string folder = parent_path + kSep + kUnZip;
  const platform::OwnFolderState state = platform::InspectOwnFolder(parent, kUnZip);
  if (state == platform::OwnFolderState::kOurs) {
    platform::RemoveOwnFolder(parent, kUnZip);
  } else if (state != platform::OwnFolderState::kAbsent) {
    return Failure(archive::kForeignFolder, folder);
  }
  std::string staging;
  try {
    staging = platform::MakeOwnFolder(parent, kUnZip);
  } catch (const Error& e) {
    return Failure(archive::kFolderNotWritten, e.description());
  }
  archive::Result run =
      archive::ExtractArchive(archive_path, parent_path + kSep + staging, password, nullptr);
  // RENAME_NOREPLACE: whatever appeared at the name meanwhile is not replaced.
  if (run.ok() && ::renameat2(parent, staging.c_str(), parent, kUnZip, RENAME_NOREPLACE) != 0)
    run = Failure(archive::kFolderNotWritten, folder + ": " + std::strerror(errno));
  if (!run.ok()) platform::RemoveOwnFolder(parent, staging);
  return run;
}

// The extracted file is the one whose name, up to its first ".", matches the archive's; its
// extension replaces the archive's. The last match in listing order wins, and with no match
// the name keeps a bare "." where the extension was.
std::string ExtractedFileName(const std::string& folder, const std::string& archive_name) {
  std::string extension = platform::ExtensionName(archive_name);
  std::string name = FileName(archive_name);
  std::string prefix = BeforeFirstDot(name);
  std::string found;
  for (const auto& entry : std::filesystem::directory_iterator(platform::PathFromUtf8(folder))) {
    if (!entry.is_regular_file()) continue;
    std::string candidate = platform::PathToUtf8(entry.path().filename());
    if (candidate == platform::kOwnFolderMark) continue;
    if (BeforeFirstDot(candidate) == prefix) found = platform::ExtensionName(candidate);
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

platform::FolderLock ZipLogic::LockUnZipFolder(const std::string& sInputZipFileName) {
  return platform::FolderLock(UnZipParentFor(sInputZipFileName));
}

bool ZipLogic::UnZipFile(std::string& sInputZipFileName, std::string& OutputUnZipFileName,
                         std::string& sPassword, const platform::FolderLock* held) {
  try {
    const std::string parent_path = UnZipParentFor(sInputZipFileName);
    std::optional<platform::FolderLock> own;
    archive::Result run;
    try {
      if (held == nullptr) own.emplace(parent_path);
    } catch (const Error& e) {
      run = Failure(archive::kFolderNotWritten, e.description());
    }
    if (held != nullptr || own)
      run = ExtractIntoUnZip(held != nullptr ? held->folder() : own->folder(), parent_path,
                             OutputUnZipFileName, sPassword);
    lLastResult_ = run.code;
    if (run.code == archive::kOk) {
      OutputUnZipFileName =
          ExtractedFileName(UnZipFolderFor(sInputZipFileName), OutputUnZipFileName);
      return true;
    }
    platform::ShowMessage(run.code == archive::kWrongPassword ? kPasswordMismatch : run.text);
    return false;
  } catch (...) {
    return false;
  }
}

}  // namespace vellum
