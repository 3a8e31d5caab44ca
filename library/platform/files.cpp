#include "library/platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <random>

#include "library/platform/error.h"

namespace vellum::platform {

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = other.release();
  }
  return *this;
}

FileDescriptor::~FileDescriptor() {
  close();
}

int FileDescriptor::close() {
  if (fd_ < 0) return 0;
  int rc = ::close(fd_);
  fd_ = -1;
  return rc == 0 ? 0 : errno;
}

int WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return 0;
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool FolderExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

Bytes ReadFileBytes(const std::string& path) {
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) throw FileError(errno, path);
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) throw FileError(errno, path);
  if (S_ISDIR(st.st_mode)) throw FileError(EISDIR, path);
  Bytes data;
  if (st.st_size > 0) data.reserve(static_cast<std::size_t>(st.st_size));
  char buffer[1 << 16];
  for (;;) {
    ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw FileError(errno, path);
    }
    if (n == 0) break;
    data.append(buffer, static_cast<std::size_t>(n));
  }
  return data;
}

namespace {

std::string RandomSuffix() {
  static thread_local std::mt19937_64 engine{std::random_device{}()};
  static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string s;
  for (int i = 0; i < 10; ++i) s += kAlphabet[engine() % (sizeof kAlphabet - 1)];
  return s;
}

}  // namespace

AtomicFileWriter::AtomicFileWriter(const std::string& path, int forced_mode) : path_(path) {
  std::filesystem::path target = PathFromUtf8(path);
  std::filesystem::path folder = target.parent_path();
  if (folder.empty()) folder = ".";
  if (target.filename().empty()) throw FileError(EISDIR, path);

  struct stat existing {};
  bool had_file = ::stat(path.c_str(), &existing) == 0;
  if (had_file && S_ISDIR(existing.st_mode)) throw FileError(EISDIR, path);

  for (int attempt = 0; attempt < 16 && !fd_; ++attempt) {
    // Appended piece by piece: GCC 12 at -O2 and above reports a false -Wrestrict on
    // "literal" + std::string.
    std::string hidden(1, '.');
    hidden += PathToUtf8(target.filename());
    hidden += ".tmp-";
    hidden += RandomSuffix();
    std::string candidate = PathToUtf8(folder / hidden);
    fd_ = FileDescriptor(::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                                forced_mode >= 0 ? static_cast<mode_t>(forced_mode) : 0666));
    if (fd_) {
      temp_path_ = std::move(candidate);
    } else if (errno != EEXIST) {
      int err = errno;
      throw FileError(err == ENOENT ? ENOTDIR : err, path);
    }
  }
  if (!fd_) throw FileError(EEXIST, path);
  if (forced_mode >= 0) {
    if (::fchmod(fd_.get(), static_cast<mode_t>(forced_mode)) != 0) throw FileError(errno, path);
  } else if (had_file) {
    (void)::fchmod(fd_.get(), existing.st_mode & 07777);
  }
}

AtomicFileWriter::~AtomicFileWriter() {
  fd_.close();
  if (!temp_path_.empty()) ::unlink(temp_path_.c_str());
}

void AtomicFileWriter::Write(std::string_view data) {
  if (!fd_) throw FileError(EBADF, path_);
  if (int err = WriteAll(fd_.get(), data); err != 0) throw FileError(err, path_);
}

void AtomicFileWriter::Commit() {
  if (!fd_) throw FileError(EBADF, path_);
  if (::fsync(fd_.get()) != 0 && errno != EINVAL && errno != EROFS) throw FileError(errno, path_);
  if (int err = fd_.close(); err != 0) throw FileError(err, path_);
  if (::rename(temp_path_.c_str(), path_.c_str()) != 0) throw FileError(errno, path_);
  temp_path_.clear();
}

void WriteFileAtomic(const std::string& path, std::string_view data) {
  AtomicFileWriter writer(path, -1);
  writer.Write(data);
  writer.Commit();
}

void WritePrivateFileAtomic(const std::string& path, std::string_view data) {
  AtomicFileWriter writer(path, 0600);
  writer.Write(data);
  writer.Commit();
}

std::string TempFolder() {
  const char* dir = std::getenv("TMPDIR");
  std::string folder = (dir != nullptr && *dir != '\0') ? dir : "/tmp";
  while (folder.size() > 1 && folder.back() == kSeparator) folder.pop_back();
  return folder;
}

}  // namespace vellum::platform
