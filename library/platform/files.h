// File-system operations shared by the classes and components. Failures raise vellum::Error
// with a run-time number (see FileError); nothing here reports through return values.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "library/platform/text.h"

namespace vellum::platform {

// The one path separator of the system's name rules, and the root of the file system.
inline constexpr char kSeparator = '/';
inline constexpr std::string_view kRoot = "/";

// Paths travel as UTF-8 text through the library and become std::filesystem paths here.
inline std::filesystem::path PathFromUtf8(std::string_view utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}
inline std::string PathToUtf8(const std::filesystem::path& p) {
  std::u8string s = p.u8string();
  return std::string(s.begin(), s.end());
}

// True when `path` names an existing regular file (or a link to one).
bool FileExists(const std::string& path);
bool FolderExists(const std::string& path);

// Reads the whole file. Raises FileError on failure.
Bytes ReadFileBytes(const std::string& path);

// Replaces `path` with `data` atomically: the bytes go to a fresh temporary file in the same
// folder, which is flushed and renamed over the target. On any failure the temporary file is
// removed and the old file, if any, stays whole; then FileError is raised. A new file gets
// mode 0666 less the umask; an existing file keeps its mode.
void WriteFileAtomic(const std::string& path, std::string_view data);

// As WriteFileAtomic, for secrets (private keys): the file has mode 0600 from its creation on,
// whether it is new or replaces another, so the bytes are never readable by others.
void WritePrivateFileAtomic(const std::string& path, std::string_view data);

// The system temporary folder ($TMPDIR, else /tmp), without a trailing separator.
std::string TempFolder();

// An owned file descriptor; closes on destruction.
class FileDescriptor {
 public:
  FileDescriptor() = default;
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.release()) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept;
  ~FileDescriptor();

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  // Closes now and reports the close's own failure (a delayed write error shows here).
  int close();

 private:
  int fd_ = -1;
};

// A file written in pieces and put in place as WriteFileAtomic puts it in one go: the bytes go
// to a temporary file in the target's folder, and Commit flushes it and renames it over the
// target. Destroying the writer before Commit removes the temporary file, so the old file stays
// whole whatever went wrong in between. Every failure raises FileError for `path`.
class AtomicFileWriter {
 public:
  explicit AtomicFileWriter(const std::string& path) : AtomicFileWriter(path, -1) {}
  AtomicFileWriter(const AtomicFileWriter&) = delete;
  AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;
  ~AtomicFileWriter();

  void Write(std::string_view data);
  void Commit();

 private:
  friend void WriteFileAtomic(const std::string&, std::string_view);
  friend void WritePrivateFileAtomic(const std::string&, std::string_view);
  // `forced_mode` >= 0 fixes the file's mode; otherwise a new file gets 0666 less the umask
  // and a replaced one keeps its mode.
  AtomicFileWriter(const std::string& path, int forced_mode);

  std::string path_;
  std::string temp_path_;  // empty once renamed (or never created)
  FileDescriptor fd_;
};

// Writes all of `data` to `fd`, retrying short writes. Returns 0 or an errno value.
int WriteAll(int fd, std::string_view data);

}  // namespace vellum::platform
