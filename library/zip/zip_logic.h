// The Zip class: compresses one file into a password-protected archive and extracts such an
// archive into the folder "UnZip" beside it, working out where the extracted file went.
// Plain C++ behind the binary interface class; texts are UTF-8 and the arguments are the
// caller's own variables (UnZipFile writes the extracted path back).
#pragma once

#include <cstdint>
#include <string>

namespace vellum {

class ZipLogic {
 public:
  // True when `outputfilename` holds `sInputFileName` under `sPassword`. A failed run shows
  // the archive component's text through the message hook.
  bool ZipFile(std::string& sInputFileName, std::string& outputfilename, std::string& sPassword);

  // Extracts the archive `OutputUnZipFileName` into the UnZip folder beside
  // `sInputZipFileName`, replacing an older UnZip folder, and on success sets
  // `OutputUnZipFileName` to the extracted file's path.
  bool UnZipFile(std::string& sInputZipFileName, std::string& OutputUnZipFileName,
                 std::string& sPassword);

  // The code of the last compression or extraction run that returned; 0 before any.
  std::int32_t lLastResult() const { return lLastResult_; }

  // The fixed message of an extraction whose password does not match.
  static constexpr const char* kPasswordMismatch =
      "The password does not match with the original password.";

 private:
  std::int32_t lLastResult_ = 0;
};

}  // namespace vellum
