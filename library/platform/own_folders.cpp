#include "library/platform/own_folders.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "library/platform/error.h"
#include "library/platform/files.h"

namespace vellum::platform {
namespace {

// Removes everything inside the open folder `fd`, depth first, never following links.
void EmptyFolder(int fd, const std::string& path) {
  int listing_fd = ::dup(fd);
  if (listing_fd < 0) throw FileError(errno, path);
  DIR* listing = ::fdopendir(listing_fd);
  if (listing == nullptr) {
    ::close(listing_fd);
    throw FileError(errno, path);
  }
  std::vector<std::string> names;
  while (dirent* entry = ::readdir(listing)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(std::move(name));
  }
  ::closedir(listing);
  for (const std::string& name : names) {
    struct stat st {};
    if (::fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT) continue;
      throw FileError(errno, path + "/" + name);
    }
    if (S_ISDIR(st.st_mode)) {
      FileDescriptor child(
          ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      if (!child) throw FileError(errno, path + "/" + name);
      EmptyFolder(child.get(), path + "/" + name);
      if (::unlinkat(fd, name.c_str(), AT_REMOVEDIR) != 0) throw FileError(errno, path);
    } else if (::unlinkat(fd, name.c_str(), 0) != 0 && errno != ENOENT) {
      throw FileError(errno, path + "/" + name);
    }
  }
}

std::string ParentOf(const std::string& path, std::string& name) {
  std::filesystem::path p = PathFromUtf8(path);
  name = PathToUtf8(p.filename());
  std::string parent = PathToUtf8(p.parent_path());
  return parent.empty() ? "." : parent;
}

}  // namespace

FolderLock::FolderLock(const std::string& folder)
    : fd_(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
  if (!fd_) throw FileError(errno, folder);
  while (::flock(fd_.get(), LOCK_EX) != 0)
    if (errno != EINTR) throw FileError(errno, folder);
}

void MarkOwnFolder(int fd, const std::string& path) {
  if (::fsetxattr(fd, kOwnFolderAttribute, "1", 1, 0) == 0) return;
  if (errno != ENOTSUP && errno != EOPNOTSUPP && errno != EPERM) throw FileError(errno, path);
  FileDescriptor mark(
      ::openat(fd, kOwnFolderMark, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!mark) throw FileError(errno, path);
}

OwnFolderState InspectOwnFolder(int parent, const std::string& name) {
  struct stat st {};
  if (::fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
    return errno == ENOENT ? OwnFolderState::kAbsent : OwnFolderState::kNotAFolder;
  if (!S_ISDIR(st.st_mode)) return OwnFolderState::kNotAFolder;
  FileDescriptor folder(
      ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!folder || ::fstat(folder.get(), &st) != 0 || st.st_uid != ::geteuid())
    return OwnFolderState::kForeignFolder;
  char value[8];
  if (::fgetxattr(folder.get(), kOwnFolderAttribute, value, sizeof value) >= 0)
    return OwnFolderState::kOurs;
  struct stat mark {};
  const bool marked = ::fstatat(folder.get(), kOwnFolderMark, &mark, AT_SYMLINK_NOFOLLOW) == 0 &&
                      S_ISREG(mark.st_mode) && mark.st_uid == ::geteuid();
  return marked ? OwnFolderState::kOurs : OwnFolderState::kForeignFolder;
}

bool RemoveOwnFolder(int parent, const std::string& name) {
  if (InspectOwnFolder(parent, name) != OwnFolderState::kOurs) return false;
  FileDescriptor folder(
      ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!folder) throw FileError(errno, name);
  EmptyFolder(folder.get(), name);
  if (::unlinkat(parent, name.c_str(), AT_REMOVEDIR) != 0) throw FileError(errno, name);
  return true;
}

bool RemoveOwnFolder(const std::string& path) {
  std::string name;
  const std::string parent = ParentOf(path, name);
  FolderLock lock(parent);
  return RemoveOwnFolder(lock.folder(), name);
}

std::string MakeOwnFolder(int parent, const std::string& prefix) {
  for (int attempt = 0; attempt < 16; ++attempt) {
    std::string name = TemporaryName(prefix);
    if (::mkdirat(parent, name.c_str(), 0700) != 0) {
      if (errno == EEXIST) continue;
      throw FileError(errno, name);
    }
    try {
      FileDescriptor folder(
          ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      if (!folder) throw FileError(errno, name);
      MarkOwnFolder(folder.get(), name);
    } catch (const Error&) {
      ::unlinkat(parent, name.c_str(), AT_REMOVEDIR);
      throw;
    }
    return name;
  }
  throw FileError(EEXIST, prefix);
}

}  // namespace vellum::platform
