// File-system operations shared by the classes and components. Failures raise vellum::Error
// with a run-time number (see FileError); nothing here reports through return values.
#pragma once

#include <sys/types.h>

#include <cstdint>
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

// Reads a regular file of at most `limit` bytes whole, for inputs that must be small (a
// password file, a certificate to import). A device, a pipe, a folder or a file over the limit
// is refused before anything is read (error 75, the text says which), so /dev/zero cannot
// exhaust memory and a FIFO cannot hold the caller. The bytes go straight into the result: no
// buffer is left holding a secret read this way.
Bytes ReadSmallFile(const std::string& path, std::size_t limit);

// Who may read a file the atomic writer puts in place.
//
// kShared: a new file gets 0666 less the umask. A file that replaces a regular file owned by
// the caller keeps that file's permission bits, without setuid, setgid or sticky; a link, a
// file of another user or anything else in the target's place passes nothing on (the link is
// replaced, never followed).
// kPrivate: the file is 0600 from its creation on, whatever it replaces, so its bytes are never
// readable by others; a target that belongs to another user is refused (error 70) and left
// alone, since a name a stranger holds in a shared folder is theirs, not ours to replace.
enum class Privacy { kShared, kPrivate };

// Replaces `path` with `data` atomically: the bytes go to a fresh temporary file in the same
// folder, which is flushed and renamed over the target. On any failure the temporary file is
// removed and the old file, if any, stays whole; then FileError is raised.
void WriteFileAtomic(const std::string& path, std::string_view data,
                     Privacy privacy = Privacy::kShared);

// WriteFileAtomic with Privacy::kPrivate, for secrets (private keys).
void WritePrivateFileAtomic(const std::string& path, std::string_view data);

// The system temporary folder ($TMPDIR, else /tmp), without a trailing separator.
std::string TempFolder();

// The text after the last "." of the last path component; empty when it has none.
std::string ExtensionName(std::string_view path);

// A fresh hidden name for a temporary file or folder: "." + prefix + "-" and ten random
// lower-case letters and digits. Unique, not secret: the caller creates it exclusively and
// draws again when the name is taken.
std::string TemporaryName(std::string_view prefix);

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

// A new empty file under a fresh TemporaryName(prefix) in the opened `folder`, created
// exclusively with `mode` (less the umask) and never through a link; `name` receives its name.
// An invalid descriptor, with errno saying why, when none could be created.
FileDescriptor CreateTemporaryFile(int folder, std::string_view prefix, mode_t mode,
                                   std::string& name);

// A file written in pieces and put in place as WriteFileAtomic puts it in one go: the bytes go
// to a temporary file in the target's folder, and Commit flushes it and renames it over the
// target. Destroying the writer before Commit removes the temporary file, so the old file stays
// whole whatever went wrong in between. Every failure raises FileError for `path`.
//
// The folder is opened once and everything after works relative to it, never through a link
// at the target's name. Where the file system offers it, the temporary file is an unnamed one
// (O_TMPFILE) that gets a name only at Commit, so a process killed while writing leaves nothing
// behind; elsewhere it is a short hidden name (".vellum-" and ten letters), so a target whose
// name nearly fills NAME_MAX can still be written. A missing folder raises 76 naming the
// folder.
class AtomicFileWriter {
 public:
  explicit AtomicFileWriter(const std::string& path, Privacy privacy = Privacy::kShared);
  AtomicFileWriter(const AtomicFileWriter&) = delete;
  AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;
  ~AtomicFileWriter();

  void Write(std::string_view data);
  // Moves the next Write to `offset` from the start of the temporary file, for writers that
  // fill in a header once what follows it is known (an archive's local entry header).
  void Seek(std::uint64_t offset);
  void Commit();

 private:
  void CreateTemporary(mode_t mode);
  void NameTemporary();

  std::string path_;
  std::string name_;       // the target's name in its folder
  FileDescriptor folder_;  // the target's folder, opened once
  std::string temp_name_;  // in folder_; empty while unnamed or once renamed
  FileDescriptor fd_;
  bool unnamed_ = false;  // an O_TMPFILE file, named at Commit
};

// Writes all of `data` to `fd`, retrying short writes. Returns 0 or an errno value.
int WriteAll(int fd, std::string_view data);

}  // namespace vellum::platform
