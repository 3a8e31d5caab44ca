// The file an archive is written to: a write-capable libzip source over the library's atomic
// writer, so libzip streams the archive straight into a temporary file beside the target and
// the writer decides its mode and puts it in place (platform::AtomicFileWriter: the folder
// opened once, no link followed, no mode inherited, nothing left behind on failure).
//
// libzip sees an empty archive that it may only truncate and write. It writes the entry's
// local header, the entry's data, then seeks back to fill the header in, then writes the
// central directory; COMMIT_WRITE renames the finished file over the target, ROLLBACK_WRITE
// removes it and leaves the old target whole. A request to remove the target (libzip makes
// it for an archive left with no entries) is refused: this source never deletes a file.
#pragma once

#include <zip.h>

#include <cstdint>
#include <optional>
#include <string>

#include "library/platform/error.h"
#include "library/platform/files.h"

namespace vellum::archive {

class ArchiveTarget {
 public:
  // Opens the target's folder and creates the temporary file now, so a folder that cannot be
  // written fails before anything is read or compressed. Raises FileError.
  explicit ArchiveTarget(const std::string& path);
  ArchiveTarget(const ArchiveTarget&) = delete;
  ArchiveTarget& operator=(const ArchiveTarget&) = delete;
  ~ArchiveTarget();

  // A new libzip source writing to this target; it must not outlive the target. Null (with
  // `error` set) when libzip cannot make one.
  zip_source_t* NewSource(zip_error_t* error);

  // The file-system failure that stopped a write, seek or commit, if one did: its text names
  // the target and the cause (a full disk, a failed rename).
  const std::optional<Error>& failure() const { return failure_; }

  // True once the archive replaced the target.
  bool committed() const { return committed_; }

 private:
  static zip_int64_t Callback(void* self, void* data, zip_uint64_t length, zip_source_cmd_t cmd);
  zip_int64_t Handle(void* data, zip_uint64_t length, zip_source_cmd_t cmd);
  zip_int64_t Fail(int zip_code, int system_code = 0);
  zip_int64_t FileFailure(const Error& e);
  zip_int64_t SeekWrite(void* data, zip_uint64_t length);

  std::optional<platform::AtomicFileWriter> writer_;
  std::uint64_t position_ = 0;  // where the next write goes
  std::uint64_t size_ = 0;      // the end of what was written
  bool committed_ = false;
  std::optional<Error> failure_;
  zip_error_t error_;
};

}  // namespace vellum::archive
