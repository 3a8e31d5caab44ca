#include "tests/hostile/io_faults.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <string>

extern "C" {
int __real_open(const char* path, int flags, ...);
int __real_open64(const char* path, int flags, ...);
ssize_t __real_write(int fd, const void* buffer, size_t size);
ssize_t __real_read(int fd, void* buffer, size_t size);
}

namespace vellum::hostile::faults {
namespace {

std::string g_remove_path;
int g_removed = 0;
std::string g_disk_folder;
std::size_t g_room = 0;
std::size_t g_refused = 0;
std::string g_change_path;
std::string g_appended;

void BeforeOpen(const char* path) {
  if (g_remove_path.empty() || path == nullptr || g_remove_path != path) return;
  if (::unlink(path) == 0) ++g_removed;
  g_remove_path.clear();  // once: the next open of the path is an ordinary one
}

// Whether `fd` is a file under the full disk's folder.
bool OnFullDisk(int fd) {
  if (g_disk_folder.empty()) return false;
  char target[PATH_MAX];
  const std::string link = "/proc/self/fd/" + std::to_string(fd);
  const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
  if (n <= 0) return false;
  const std::string path(target, static_cast<std::size_t>(n));
  return path.compare(0, g_disk_folder.size() + 1, g_disk_folder + "/") == 0;
}

int g_change_fd = -1;   // the descriptor whose first read is preceded by the change
int g_change_skip = 0;  // opens of the path to let pass first

void AfterOpen(const char* path, int fd) {
  if (g_change_path.empty() || path == nullptr || g_change_path != path || fd < 0) return;
  if (g_change_skip > 0) {
    --g_change_skip;
    return;
  }
  g_change_fd = fd;
}

void BeforeRead(int fd) {
  if (fd != g_change_fd || g_change_path.empty()) return;
  g_change_fd = -1;  // once
  const int out = __real_open(g_change_path.c_str(), O_WRONLY | O_APPEND);
  g_change_path.clear();
  if (out < 0) return;
  (void)!__real_write(out, g_appended.data(), g_appended.size());
  ::close(out);
}

int Mode(int flags, va_list args) {
  return (flags & (O_CREAT | O_TMPFILE)) != 0 ? va_arg(args, int) : 0;
}

}  // namespace

void RemoveBeforeOpen(const std::string& path) {
  g_remove_path = path;
  g_removed = 0;
}
int RemovedCount() {
  return g_removed;
}

void FillDiskUnder(const std::string& folder, std::size_t room) {
  g_disk_folder = folder;
  g_room = room;
  g_refused = 0;
}
std::size_t RefusedBytes() {
  return g_refused;
}

void ChangeAfterOpen(const std::string& path, const std::string& appended, int skip_opens) {
  g_change_path = path;
  g_appended = appended;
  g_change_fd = -1;
  g_change_skip = skip_opens;
}

}  // namespace vellum::hostile::faults

using namespace vellum::hostile::faults;

extern "C" int __wrap_open(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const int mode = Mode(flags, args);
  va_end(args);
  BeforeOpen(path);
  const int fd = __real_open(path, flags, mode);
  AfterOpen(path, fd);
  return fd;
}

extern "C" int __wrap_open64(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const int mode = Mode(flags, args);
  va_end(args);
  BeforeOpen(path);
  const int fd = __real_open64(path, flags, mode);
  AfterOpen(path, fd);
  return fd;
}

extern "C" ssize_t __wrap_write(int fd, const void* buffer, size_t size) {
  if (size == 0 || !OnFullDisk(fd)) return __real_write(fd, buffer, size);
  // Bytes written over ones the file already holds take no room; only those that grow it do.
  struct stat st {};
  const off_t at = ::lseek(fd, 0, SEEK_CUR);
  std::size_t over = 0;
  if (at >= 0 && ::fstat(fd, &st) == 0 && at < st.st_size)
    over = std::min(size, static_cast<std::size_t>(st.st_size - at));
  if (g_room == 0 && over == 0) {
    g_refused += size;
    errno = ENOSPC;
    return -1;
  }
  // A disk that fills part way through a write takes what still fits.
  const std::size_t fits = size - over < g_room ? size : over + g_room;
  const ssize_t written = __real_write(fd, buffer, fits);
  if (written > 0 && static_cast<std::size_t>(written) > over)
    g_room -= static_cast<std::size_t>(written) - over;
  return written;
}

extern "C" ssize_t __wrap_read(int fd, void* buffer, size_t size) {
  BeforeRead(fd);
  return __real_read(fd, buffer, size);
}
