#include "library/archive/archive_target.h"

#include <cerrno>
#include <new>

namespace vellum::archive {

ArchiveTarget::ArchiveTarget(const std::string& path) {
  zip_error_init(&error_);
  writer_.emplace(path);
}

ArchiveTarget::~ArchiveTarget() {
  zip_error_fini(&error_);
}

zip_source_t* ArchiveTarget::NewSource(zip_error_t* error) {
  return zip_source_function_create(&ArchiveTarget::Callback, this, error);
}

zip_int64_t ArchiveTarget::Callback(void* self, void* data, zip_uint64_t length,
                                    zip_source_cmd_t cmd) {
  // Nothing may unwind through libzip's C frames.
  auto* target = static_cast<ArchiveTarget*>(self);
  try {
    return target->Handle(data, length, cmd);
  } catch (const Error& e) {
    return target->FileFailure(e);
  } catch (const std::bad_alloc&) {
    return target->Fail(ZIP_ER_MEMORY);
  } catch (...) {
    return target->Fail(ZIP_ER_INTERNAL);
  }
}

zip_int64_t ArchiveTarget::Fail(int zip_code, int system_code) {
  zip_error_set(&error_, zip_code, system_code);
  return -1;
}

zip_int64_t ArchiveTarget::FileFailure(const Error& e) {
  if (!failure_) failure_ = e;
  return Fail(ZIP_ER_WRITE, EIO);
}

zip_int64_t ArchiveTarget::SeekWrite(void* data, zip_uint64_t length) {
  // libzip computes the offset against the written size, refusing one before the start.
  const zip_int64_t offset =
      zip_source_seek_compute_offset(position_, size_, data, length, &error_);
  if (offset < 0) return -1;
  writer_->Seek(static_cast<std::uint64_t>(offset));
  position_ = static_cast<std::uint64_t>(offset);
  return 0;
}

zip_int64_t ArchiveTarget::Handle(void* data, zip_uint64_t length, zip_source_cmd_t cmd) {
  switch (cmd) {
    // The reading side: an empty archive, which libzip replaces (ZIP_TRUNCATE).
    case ZIP_SOURCE_OPEN:
    case ZIP_SOURCE_CLOSE:
    case ZIP_SOURCE_READ:
    case ZIP_SOURCE_TELL:
    case ZIP_SOURCE_FREE:
      return 0;
    case ZIP_SOURCE_SEEK:
      return zip_source_seek_compute_offset(0, 0, data, length, &error_) < 0 ? -1 : 0;
    case ZIP_SOURCE_STAT: {
      auto* st = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, length, &error_);
      if (st == nullptr) return -1;
      zip_stat_init(st);
      st->size = 0;
      st->valid |= ZIP_STAT_SIZE;
      return sizeof(zip_stat_t);
    }
    case ZIP_SOURCE_ERROR:
      return zip_error_to_data(&error_, data, length);
    case ZIP_SOURCE_SUPPORTS:
      return zip_source_make_command_bitmap(
          ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR,
          ZIP_SOURCE_FREE, ZIP_SOURCE_SEEK, ZIP_SOURCE_TELL, ZIP_SOURCE_SUPPORTS,
          ZIP_SOURCE_BEGIN_WRITE, ZIP_SOURCE_COMMIT_WRITE, ZIP_SOURCE_ROLLBACK_WRITE,
          ZIP_SOURCE_WRITE, ZIP_SOURCE_SEEK_WRITE, ZIP_SOURCE_TELL_WRITE, ZIP_SOURCE_REMOVE, -1);

    // The writing side, into the atomic writer's temporary file.
    case ZIP_SOURCE_BEGIN_WRITE:
      // One archive per target: the temporary file is made once, in the constructor.
      if (!writer_ || size_ != 0) return Fail(ZIP_ER_INTERNAL);
      return 0;
    case ZIP_SOURCE_WRITE: {
      if (!writer_) return Fail(ZIP_ER_INTERNAL);
      writer_->Write(std::string_view(static_cast<const char*>(data), length));
      position_ += length;
      if (position_ > size_) size_ = position_;
      return static_cast<zip_int64_t>(length);
    }
    case ZIP_SOURCE_SEEK_WRITE:
      if (!writer_) return Fail(ZIP_ER_INTERNAL);
      return SeekWrite(data, length);
    case ZIP_SOURCE_TELL_WRITE:
      return static_cast<zip_int64_t>(position_);
    case ZIP_SOURCE_COMMIT_WRITE:
      if (!writer_) return Fail(ZIP_ER_INTERNAL);
      writer_->Commit();
      writer_.reset();
      committed_ = true;
      return 0;
    case ZIP_SOURCE_ROLLBACK_WRITE:
      writer_.reset();  // removes the temporary file; the old target stays whole
      return 0;
    case ZIP_SOURCE_REMOVE:
      return Fail(ZIP_ER_OPNOTSUPP);
    default:
      return Fail(ZIP_ER_OPNOTSUPP);
  }
}

}  // namespace vellum::archive
