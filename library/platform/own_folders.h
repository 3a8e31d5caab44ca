// Folders this system makes for its own use beside the user's files (the UnZip folder a packed
// signature is extracted into), and the rules for taking them away again.
//
// Such a folder is marked when it is made: it carries the extended attribute kOwnFolderAttribute,
// or, on a file system without user attributes, holds a regular file named kOwnFolderMark; it
// must also belong to the caller. Only a marked folder is ever removed; a folder of the same name
// that someone else made is theirs, and is left alone with everything in it. Runs that use one such
// folder are serialised by a lock on the folder that holds it (flock on the parent folder, so
// nothing is left behind).
#pragma once

#include <string>

#include "library/platform/files.h"

namespace vellum::platform {

inline constexpr const char* kOwnFolderAttribute = "user.vellum.made";
inline constexpr const char* kOwnFolderMark = ".vellum-made";

// Marks the open folder `fd` as made by this system. Raises FileError.
void MarkOwnFolder(int fd, const std::string& path);

// An exclusive lock on a folder, held until destruction. Locks of one process conflict with
// each other too (each holds its own open folder), so threads are serialised as processes are.
// Raises FileError when the folder cannot be opened.
class FolderLock {
 public:
  explicit FolderLock(const std::string& folder);
  int folder() const { return fd_.get(); }

 private:
  FileDescriptor fd_;
};

// What stands at a name in a folder, as far as removing it is concerned.
enum class OwnFolderState { kAbsent, kOurs, kForeignFolder, kNotAFolder };
OwnFolderState InspectOwnFolder(int parent, const std::string& name);

// Removes the marked folder `name` in `parent` and everything in it, never following a link
// (a link inside is removed, not what it points to). True when something was removed; false,
// with nothing touched, when the name is absent or is not a marked folder. Raises FileError
// when the removal itself fails.
bool RemoveOwnFolder(int parent, const std::string& name);

// RemoveOwnFolder for a path, under the lock of its parent folder (the desk's clean-up).
bool RemoveOwnFolder(const std::string& path);

// Makes a fresh private folder in `parent` under a hidden unique name beginning with `prefix`,
// marked as ours; returns its name. Raises FileError.
std::string MakeOwnFolder(int parent, const std::string& prefix);

}  // namespace vellum::platform
