#include <sys/stat.h>

#include <filesystem>
#include <new>
#include <optional>

#include "library/archive/archive.h"
#include "library/archive/archive_target.h"
#include "library/archive/zip_handles.h"
#include "library/platform/error.h"
#include "library/platform/files.h"
#include "library/platform/hooks.h"
#include "library/platform/secret.h"

namespace vellum::archive {
namespace {

Result Failure(std::int32_t code, const std::string& detail = {}) {
  Result r{code, ResultText(code)};
  if (!detail.empty()) r.text += "\r\n" + detail;
  return r;
}

// libzip reports a vanished or unreadable input only when zip_close reads it.
std::int32_t CloseFailureCode(int zip_code) {
  switch (zip_code) {
    case ZIP_ER_OPEN:
    case ZIP_ER_READ:
    case ZIP_ER_NOENT:
    case ZIP_ER_SEEK:
    case ZIP_ER_CHANGED:
      return kInputUnreadable;
    default:
      return kInternal;
  }
}

// True when `archive` names the file being compressed itself (the same path, or another
// name of the same file): replacing it would put the archive in place of its only input.
// A link at the archive's name is replaced, never written through, so it does not count.
bool ArchiveIsTheInput(const std::string& input, const std::string& archive) {
  struct stat in {
  }, out{};
  return ::stat(input.c_str(), &in) == 0 && ::lstat(archive.c_str(), &out) == 0 &&
         in.st_dev == out.st_dev && in.st_ino == out.st_ino;
}

// libzip's share of the archive written, as bytes of the input for the host's progress hook.
void ReportCompression(zip_t*, double share, void* report) {
  auto* progress = static_cast<platform::ProgressReport*>(report);
  const double clamped = share < 0 ? 0 : share > 1 ? 1 : share;
  progress->Reach(static_cast<std::uint64_t>(clamped * static_cast<double>(progress->total())));
}

// The outcome of a failed zip_close: the target's own failure (full disk, failed rename) says
// the archive was not written; anything else is libzip's reading of the input or itself.
Result CloseFailure(const ArchiveTarget& target, int zip_code, const std::string& input) {
  if (target.failure()) return Failure(kArchiveNotWritten, target.failure()->description());
  std::int32_t ours = CloseFailureCode(zip_code);
  return Failure(ours, ours == kInputUnreadable ? input : std::string());
}

Result Compress(const std::string& input, const std::string& archive_path,
                std::string_view password) {
  if (password.empty()) return Failure(kNoPassword);
  std::string entry_name = platform::PathToUtf8(platform::PathFromUtf8(input).filename());
  if (entry_name.empty() || !platform::FileExists(input)) return Failure(kInputUnreadable, input);
  if (ArchiveIsTheInput(input, archive_path))
    return Failure(kArchiveNotWritten, archive_path +
                                           ": the archive would replace the file "
                                           "being compressed");
  const platform::SecretText secret(password);  // NUL-terminated for libzip

  // libzip streams the archive into the atomic writer's temporary file (ArchiveTarget), which
  // decides file modes and what a failed write leaves behind; the entry's data is read from
  // the input file as it is compressed. Memory stays flat whatever the file's size.
  std::optional<ArchiveTarget> target;
  try {
    target.emplace(archive_path);
  } catch (const Error& e) {
    return Failure(kArchiveNotWritten, e.description());
  }
  ZipError error;
  ZipSource sink(target->NewSource(error.get()));
  if (!sink) return Failure(kInternal, error.text());
  ZipArchive za(zip_open_from_source(sink.get(), ZIP_TRUNCATE, error.get()));
  if (!za) return Failure(kInternal, error.text());
  zip_source_keep(sink.get());  // the archive holds one reference, `sink` the other

  ZipSource file(zip_source_file(za.get(), input.c_str(), 0, 0));
  if (!file) return Failure(kInputUnreadable, input);
  zip_int64_t index = zip_file_add(za.get(), entry_name.c_str(), file.get(), ZIP_FL_ENC_GUESS);
  if (index < 0) return Failure(kInternal, zip_strerror(za.get()));
  file.release();  // adopted by the archive
  auto entry = static_cast<zip_uint64_t>(index);
  if (zip_set_file_compression(za.get(), entry, ZIP_CM_DEFLATE, 9) < 0 ||
      zip_file_set_encryption(za.get(), entry, ZIP_EM_AES_256, secret.get().c_str()) < 0)
    return Failure(kInternal, zip_strerror(za.get()));

  // libzip reports the share of the archive written; the host hears it as bytes of the input.
  std::error_code size_error;
  const std::uintmax_t size = std::filesystem::file_size(input, size_error);
  platform::ProgressReport progress(platform::kProgressCompressing, size_error ? 0 : size);
  if (progress.wanted())
    zip_register_progress_callback_with_state(za.get(), 0.01, &ReportCompression, nullptr,
                                              &progress);
  if (int code = za.Commit(); code != ZIP_ER_OK) return CloseFailure(*target, code, input);
  progress.Finish();
  if (!target->committed()) return Failure(kInternal);
  return Result{};
}

}  // namespace

Result CompressFile(const std::string& input, const std::string& archive,
                    std::string_view password) {
  try {
    return Compress(input, archive, password);
  } catch (const std::bad_alloc&) {
    return Failure(kInternal);
  } catch (const std::exception&) {
    return Failure(kInternal);
  }
}

}  // namespace vellum::archive
