// Owners of libzip handles: one type per handle kind, so no path forgets a free.
//
// An archive opened for reading or abandoned after a failure is discarded (zip_discard never
// writes); an archive that should be written is closed by its owner's Commit, which reports
// libzip's error. A source is freed only while nobody adopted it: zip_file_add takes it over
// on success, and then the owner must release it.
#pragma once

#include <zip.h>

#include <memory>
#include <string>
#include <utility>

namespace vellum::archive {

struct ZipArchiveDeleter {
  void operator()(zip_t* za) const { zip_discard(za); }
};
struct ZipSourceDeleter {
  void operator()(zip_source_t* src) const { zip_source_free(src); }
};

using ZipSource = std::unique_ptr<zip_source_t, ZipSourceDeleter>;

class ZipArchive {
 public:
  explicit ZipArchive(zip_t* za = nullptr) : za_(za) {}
  zip_t* get() const { return za_.get(); }
  explicit operator bool() const { return za_ != nullptr; }
  // zip_close; on failure libzip keeps the handle, which is then discarded here. Returns 0 or
  // the libzip error code.
  int Commit();

 private:
  std::unique_ptr<zip_t, ZipArchiveDeleter> za_;
};

// An entry opened for reading. Close reports the entry's final check (CRC, AES
// authentication), which a reader must see before it trusts what it read.
class ZipEntryReader {
 public:
  explicit ZipEntryReader(zip_file_t* zf = nullptr) : zf_(zf) {}
  ZipEntryReader(const ZipEntryReader&) = delete;
  ZipEntryReader& operator=(const ZipEntryReader&) = delete;
  ZipEntryReader(ZipEntryReader&& other) noexcept : zf_(std::exchange(other.zf_, nullptr)) {}
  ZipEntryReader& operator=(ZipEntryReader&& other) noexcept {
    if (this != &other) {
      Close();
      zf_ = std::exchange(other.zf_, nullptr);
    }
    return *this;
  }
  ~ZipEntryReader() {
    if (zf_ != nullptr) zip_fclose(zf_);
  }
  zip_file_t* get() const { return zf_; }
  explicit operator bool() const { return zf_ != nullptr; }
  // Returns 0 or the libzip error code of the close.
  int Close() {
    zip_file_t* zf = zf_;
    zf_ = nullptr;
    return zf == nullptr ? 0 : zip_fclose(zf);
  }

 private:
  zip_file_t* zf_;
};

// A zip_error_t on the stack, finished on every way out.
class ZipError {
 public:
  ZipError() { zip_error_init(&error_); }
  ZipError(const ZipError&) = delete;
  ZipError& operator=(const ZipError&) = delete;
  ~ZipError() { zip_error_fini(&error_); }
  zip_error_t* get() { return &error_; }
  int code() const { return zip_error_code_zip(&error_); }
  void Set(int code) { zip_error_set(&error_, code, 0); }
  std::string text() { return zip_error_strerror(&error_); }

 private:
  zip_error_t error_;
};

}  // namespace vellum::archive
