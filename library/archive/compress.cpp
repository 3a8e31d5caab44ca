#include <new>

#include "library/archive/archive.h"
#include "library/archive/zip_handles.h"
#include "library/platform/error.h"
#include "library/platform/files.h"
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

// Copies the finished archive out of libzip's in-memory source.
bool ReadWholeSource(zip_source_t* src, std::string& out) {
  if (zip_source_open(src) < 0) return false;
  char buffer[1 << 16];
  bool ok = true;
  for (;;) {
    zip_int64_t n = zip_source_read(src, buffer, sizeof buffer);
    if (n < 0) {
      ok = false;
      break;
    }
    if (n == 0) break;
    out.append(buffer, static_cast<std::size_t>(n));
  }
  zip_source_close(src);
  return ok;
}

Result Compress(const std::string& input, const std::string& archive_path,
                std::string_view password) {
  if (password.empty()) return Failure(kNoPassword);
  std::string entry_name = platform::PathToUtf8(platform::PathFromUtf8(input).filename());
  if (entry_name.empty() || !platform::FileExists(input)) return Failure(kInputUnreadable, input);
  const platform::SecretText secret(password);  // NUL-terminated for libzip

  // The archive is built in memory and written with WriteFileAtomic rather than by libzip's
  // own temporary file, so the one atomic writer of the library decides file modes and what
  // a failed write leaves behind.
  ZipError error;
  ZipSource buffer(zip_source_buffer_create(nullptr, 0, 0, error.get()));
  if (!buffer) return Failure(kInternal, error.text());
  ZipArchive za(zip_open_from_source(buffer.get(), ZIP_TRUNCATE, error.get()));
  if (!za) return Failure(kInternal, error.text());
  zip_source_keep(buffer.get());  // the archive holds one reference, `buffer` the other

  ZipSource file(zip_source_file(za.get(), input.c_str(), 0, 0));
  if (!file) return Failure(kInputUnreadable, input);
  zip_int64_t index = zip_file_add(za.get(), entry_name.c_str(), file.get(), ZIP_FL_ENC_GUESS);
  if (index < 0) return Failure(kInternal, zip_strerror(za.get()));
  file.release();  // adopted by the archive
  auto entry = static_cast<zip_uint64_t>(index);
  if (zip_set_file_compression(za.get(), entry, ZIP_CM_DEFLATE, 9) < 0 ||
      zip_file_set_encryption(za.get(), entry, ZIP_EM_AES_256, secret.get().c_str()) < 0)
    return Failure(kInternal, zip_strerror(za.get()));

  if (int code = za.Commit(); code != ZIP_ER_OK) {
    std::int32_t ours = CloseFailureCode(code);
    return Failure(ours, ours == kInputUnreadable ? input : std::string());
  }
  std::string bytes;
  if (!ReadWholeSource(buffer.get(), bytes)) return Failure(kInternal);
  try {
    platform::WriteFileAtomic(archive_path, bytes);
  } catch (const Error& e) {
    return Failure(kArchiveNotWritten, e.description());
  }
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
