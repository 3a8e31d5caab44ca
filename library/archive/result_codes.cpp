#include <limits>

#include "library/archive/archive.h"
#include "library/archive/zip_handles.h"

namespace vellum::archive {
namespace {

struct CodeText {
  std::int32_t code;
  const char* text;
};

// The texts the Zip class shows for a failed run. They name what went wrong in the user's
// terms; the libzip detail, where it helps, follows after a colon.
constexpr CodeText kTexts[] = {
    {kOk, "The operation completed successfully."},
    {kInputUnreadable, "The file to compress does not exist or cannot be read."},
    {kArchiveNotWritten, "The compressed file could not be written."},
    {kNoPassword, "A password is required to compress the file."},
    {kArchiveUnreadable, "The compressed file does not exist or cannot be read."},
    {kNotAnArchive, "The file is not a zip archive or it is damaged."},
    {kUnsupported,
     "The compressed file uses a compression or encryption method that is not supported."},
    {kUnsafeEntry,
     "The compressed file holds an entry that would be written outside the extraction folder."},
    {kDamagedEntry, "The compressed file is damaged: an entry failed its check."},
    {kFolderNotWritten, "The extracted files could not be written to the extraction folder."},
    {kTooLarge, "The compressed file expands beyond the size allowed for extraction."},
    {kWrongPassword, "The password does not match the password of the compressed file."},
    {kForeignFolder,
     "The extraction folder was not made by this program; it is left as it is. Move it away "
     "to extract here."},
    {kNotEncrypted,
     "The compressed file holds an entry that is not encrypted although a password was given."},
    {kInternal, "The zip component failed unexpectedly."},
};

}  // namespace

std::string ResultText(std::int32_t code) {
  for (const CodeText& entry : kTexts)
    if (entry.code == code) return entry.text;
  return "The zip component failed with code " + std::to_string(code) + ".";
}

std::uint64_t ExtractionBound(std::uint64_t archive_size) {
  std::uint64_t by_ratio =
      archive_size > kExpansionCap / kMaxExpansion ? kExpansionCap : archive_size * kMaxExpansion;
  std::uint64_t bound = by_ratio > kExpansionFloor ? by_ratio : kExpansionFloor;
  return bound < kExpansionCap ? bound : kExpansionCap;
}

int ZipArchive::Commit() {
  zip_t* za = za_.get();
  if (za == nullptr) return ZIP_ER_INVAL;
  if (zip_close(za) == 0) {
    za_.release();
    return ZIP_ER_OK;
  }
  // zip_close leaves the archive open on failure; the deleter discards it.
  return zip_error_code_zip(zip_get_error(za));
}

}  // namespace vellum::archive
