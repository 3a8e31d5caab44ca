#include "library/platform/error.h"

#include <cerrno>
#include <cstring>

namespace vellum {

std::string RuntimeDescription(std::int32_t number) {
  switch (number) {
    case rt::kInvalidCall:
      return "Invalid procedure call or argument";
    case rt::kOverflow:
      return "Overflow";
    case 7:
      return "Out of memory";
    case 9:
      return "Subscript out of range";
    case rt::kTypeMismatch:
      return "Type mismatch";
    case 52:
      return "Bad file name or number";
    case rt::kFileNotFound:
      return "File not found";
    case 57:
      return "Device I/O error";
    case 58:
      return "File already exists";
    case rt::kDiskFull:
      return "Disk full";
    case rt::kPermissionDenied:
      return "Permission denied";
    case rt::kPathFileAccess:
      return "Path/File access error";
    case rt::kPathNotFound:
      return "Path not found";
    default:
      return "Application-defined or object-defined error";
  }
}

Error Error::Runtime(std::int32_t number) {
  return Error(number, RuntimeDescription(number));
}

Error FileError(int errno_value, const std::string& path) {
  std::int32_t number = rt::kPathFileAccess;
  switch (errno_value) {
    case ENOENT:
      number = rt::kFileNotFound;
      break;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
      number = rt::kPathNotFound;
      break;
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY:
      number = rt::kPermissionDenied;
      break;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      number = rt::kDiskFull;
      break;
    default:
      break;
  }
  std::string text = RuntimeDescription(number);
  if (!path.empty()) text += " (" + path + ": " + std::strerror(errno_value) + ")";
  return Error(number, std::move(text));
}

}  // namespace vellum
