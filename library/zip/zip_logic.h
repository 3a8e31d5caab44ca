// The Zip class: compresses one file into a password-protected archive and extracts such an
// archive into the folder "UnZip" beside it, working out where the extracted file went.
// Plain C++ behind the binary interface class; texts are UTF-8 and the arguments are the
// caller's own variables (UnZipFile writes the extracted path back).
#pragma once

#include <cstdint>
#include <string>

#include "library/platform/own_folders.h"

namespace vellum {

class ZipLogic {
 public:
  // True when `outputfilename` holds `sInputFileName` under `sPassword`. A failed run shows
  // the archive component's text through the message hook.
  bool ZipFile(std::string& sInputFileName, std::string& outputfilename, std::string& sPassword);

  // Extracts the archive `OutputUnZipFileName` into the UnZip folder beside
  // `sInputZipFileName`, replacing an older UnZip folder that this system made, and on success
  // sets `OutputUnZipFileName` to the extracted file's path. An UnZip folder someone else made
  // is left alone and the run fails (code 528). The files are extracted into a fresh private
  // folder that is renamed to UnZip only once every entry passed, so no link put in UnZip's
  // place can carry them elsewhere. The run holds the lock of UnZip's parent folder unless the
  // caller already holds it (`held`, from LockUnZipFolder).
  bool UnZipFile(std::string& sInputZipFileName, std::string& OutputUnZipFileName,
                 std::string& sPassword, const platform::FolderLock* held = nullptr);

  // The lock that serialises the runs using the UnZip folder beside `sInputZipFileName`, for a
  // caller that goes on using the extracted file after UnZipFile returned.
  static platform::FolderLock LockUnZipFolder(const std::string& sInputZipFileName);

  // The name of the extraction folder.
  static constexpr const char* kUnZip = "UnZip";

  // The code of the last compression or extraction run that returned; 0 before any.
  std::int32_t lLastResult() const { return lLastResult_; }

  // The fixed message of an extraction whose password does not match.
  static constexpr const char* kPasswordMismatch =
      "The password does not match with the original password.";

 private:
  std::int32_t lLastResult_ = 0;
};

}  // namespace vellum
