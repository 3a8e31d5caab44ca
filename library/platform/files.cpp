#include "library/platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <limits>
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

Bytes ReadSmallFile(const std::string& path, std::size_t limit) {
  // O_NONBLOCK: opening a FIFO must not wait for a writer; it is refused below anyway.
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd) throw FileError(errno, path);
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) throw FileError(errno, path);
  const auto refuse = [&path](const std::string& why) {
    return Error(rt::kPathFileAccess,
                 RuntimeDescription(rt::kPathFileAccess) + " (" + path + ": " + why + ")");
  };
  if (!S_ISREG(st.st_mode)) throw refuse("not a regular file");
  if (static_cast<std::uint64_t>(st.st_size) > limit)
    throw refuse("larger than " + std::to_string(limit) + " bytes");
  Bytes data(static_cast<std::size_t>(st.st_size), '\0');
  std::size_t got = 0;
  for (;;) {
    char* target = got < data.size() ? data.data() + got : nullptr;
    char probe = 0;  // one byte past the size seen: a file that grew meanwhile
    ssize_t n = ::read(fd.get(), target != nullptr ? target : &probe,
                       target != nullptr ? data.size() - got : 1);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw FileError(errno, path);
    }
    if (n == 0) break;
    if (target == nullptr) throw refuse("it grew while it was read");
    got += static_cast<std::size_t>(n);
  }
  data.resize(got);
  return data;
}

namespace {

// Short whatever the target's name: a name of up to NAME_MAX bytes must stay writable.
constexpr std::string_view kTemporaryPrefix = "vellum";

// A failure to open the target's folder, in terms of the folder: a missing folder is "Path not
// found" for the folder itself, not a fault of the file name.
Error FolderError(int err, const std::string& path, const std::string& folder) {
  if (err == ENOENT)
    return Error(rt::kPathNotFound, RuntimeDescription(rt::kPathNotFound) + " (" + path +
                                        ": the folder " + folder + " does not exist)");
  return FileError(err, path);
}

// The file system has no unnamed temporary files (or the kernel predates them).
bool NoUnnamedFiles(int err) {
  return err == EOPNOTSUPP || err == EISDIR || err == EINVAL || err == ENOENT;
}

}  // namespace

AtomicFileWriter::AtomicFileWriter(const std::string& path, Privacy privacy) : path_(path) {
  std::filesystem::path target = PathFromUtf8(path);
  name_ = PathToUtf8(target.filename());
  if (name_.empty() || name_ == "." || name_ == "..") throw FileError(EISDIR, path);
  std::string folder = PathToUtf8(target.parent_path());
  if (folder.empty()) folder = ".";
  // The folder is the caller's choice and may be reached through links; the name in it may
  // not.
  folder_ = FileDescriptor(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!folder_) throw FolderError(errno, path, folder);

  struct stat existing {};
  const bool had = ::fstatat(folder_.get(), name_.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0;
  if (had && S_ISDIR(existing.st_mode)) throw FileError(EISDIR, path);
  const bool ours = had && existing.st_uid == ::geteuid();
  if (privacy == Privacy::kPrivate) {
    if (had && !ours)
      throw Error(rt::kPermissionDenied, RuntimeDescription(rt::kPermissionDenied) + " (" + path +
                                             ": the file belongs to another user)");
    CreateTemporary(0600);
    if (::fchmod(fd_.get(), 0600) != 0) throw FileError(errno, path);
    return;
  }
  CreateTemporary(0666);
  // Only the caller's own regular file passes its permission bits on, and never the bits that
  // change who a program runs as.
  if (ours && S_ISREG(existing.st_mode)) (void)::fchmod(fd_.get(), existing.st_mode & 0777);
}

void AtomicFileWriter::CreateTemporary(mode_t mode) {
  fd_ = FileDescriptor(::openat(folder_.get(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode));
  if (fd_) {
    unnamed_ = true;
    return;
  }
  if (!NoUnnamedFiles(errno)) throw FileError(errno, path_);
  fd_ = CreateTemporaryFile(folder_.get(), kTemporaryPrefix, mode, temp_name_);
  if (!fd_) throw FileError(errno, path_);
}

// Gives an unnamed file a (hidden, short) name in the folder, so it can be renamed over the
// target: linkat through /proc needs no privilege; AT_EMPTY_PATH is the way without /proc.
void AtomicFileWriter::NameTemporary() {
  const std::string self = "/proc/self/fd/" + std::to_string(fd_.get());
  for (int attempt = 0; attempt < 16; ++attempt) {
    std::string candidate = TemporaryName(kTemporaryPrefix);
    int rc = ::linkat(AT_FDCWD, self.c_str(), folder_.get(), candidate.c_str(), AT_SYMLINK_FOLLOW);
    if (rc != 0 && errno != EEXIST) {
      const int err = errno;
      rc = ::linkat(fd_.get(), "", folder_.get(), candidate.c_str(), AT_EMPTY_PATH);
      if (rc != 0 && errno != EEXIST) errno = err;
    }
    if (rc == 0) {
      temp_name_ = std::move(candidate);
      unnamed_ = false;
      return;
    }
    if (errno != EEXIST) throw FileError(errno, path_);
  }
  throw FileError(EEXIST, path_);
}

AtomicFileWriter::~AtomicFileWriter() {
  fd_.close();
  if (!temp_name_.empty()) ::unlinkat(folder_.get(), temp_name_.c_str(), 0);
}

void AtomicFileWriter::Write(std::string_view data) {
  if (!fd_) throw FileError(EBADF, path_);
  if (int err = WriteAll(fd_.get(), data); err != 0) throw FileError(err, path_);
}

void AtomicFileWriter::Seek(std::uint64_t offset) {
  if (!fd_) throw FileError(EBADF, path_);
  if (offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max()))
    throw FileError(EINVAL, path_);
  if (::lseek(fd_.get(), static_cast<off_t>(offset), SEEK_SET) < 0) throw FileError(errno, path_);
}

void AtomicFileWriter::Commit() {
  if (!fd_) throw FileError(EBADF, path_);
  if (::fsync(fd_.get()) != 0 && errno != EINVAL && errno != EROFS) throw FileError(errno, path_);
  if (unnamed_) NameTemporary();
  if (int err = fd_.close(); err != 0) throw FileError(err, path_);
  if (::renameat(folder_.get(), temp_name_.c_str(), folder_.get(), name_.c_str()) != 0)
    throw FileError(errno, path_);
  temp_name_.clear();
}

void WriteFileAtomic(const std::string& path, std::string_view data, Privacy privacy) {
  AtomicFileWriter writer(path, privacy);
  writer.Write(data);
  writer.Commit();
}

void WritePrivateFileAtomic(const std::string& path, std::string_view data) {
  WriteFileAtomic(path, data, Privacy::kPrivate);
}

std::string TemporaryName(std::string_view prefix) {
  static thread_local std::mt19937_64 engine{std::random_device{}()};
  static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string name(1, '.');  // appended, not "literal" + std::string (GCC 12 -Wrestrict)
  name.append(prefix).append(1, '-');
  for (int i = 0; i < 10; ++i) name += kAlphabet[engine() % (sizeof kAlphabet - 1)];
  return name;
}

FileDescriptor CreateTemporaryFile(int folder, std::string_view prefix, mode_t mode,
                                   std::string& name) {
  FileDescriptor fd;
  for (int attempt = 0; attempt < 16 && !fd; ++attempt) {
    name = TemporaryName(prefix);
    fd = FileDescriptor(
        ::openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
    if (!fd && errno != EEXIST) break;
  }
  if (!fd) name.clear();
  return fd;
}

std::string ExtensionName(std::string_view path) {
  const std::size_t sep = path.rfind(kSeparator);
  const std::string_view last = sep == std::string_view::npos ? path : path.substr(sep + 1);
  const std::size_t dot = last.rfind('.');
  return dot == std::string_view::npos ? std::string() : std::string(last.substr(dot + 1));
}

std::string TempFolder() {
  const char* dir = std::getenv("TMPDIR");
  std::string folder = (dir != nullptr && *dir != '\0') ? dir : "/tmp";
  while (folder.size() > 1 && folder.back() == kSeparator) folder.pop_back();
  return folder;
}

}  // namespace vellum::platform
