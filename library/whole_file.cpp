#include "library/whole_file.h"

#include <sys/stat.h>

#include "library/platform/error.h"
#include "library/platform/files.h"

namespace vellum {
namespace {

constexpr char kSpaceLow = 0x20;
constexpr char kSpaceHigh = 0x00;

// Replacing a path renames a new regular file over it. Over a device, a pipe or a socket that
// would swap the node itself for a file (as root, /dev/null included), so such targets are
// refused before anything is created. A symbolic link is replaced, not written through: a
// link planted in a shared folder cannot send the content elsewhere.
void RefuseSpecialTarget(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode) || S_ISLNK(st.st_mode) ||
      S_ISDIR(st.st_mode))
    return;
  throw Error::Runtime(rt::kPathFileAccess, RuntimeDescription(rt::kPathFileAccess) + " (" + path +
                                                ": not a regular file)");
}

bool IsSpaceUnit(std::string_view content, std::size_t at) {
  return content[at] == kSpaceLow && content[at + 1] == kSpaceHigh;
}

}  // namespace

Bytes TrimSpaceUnits(std::string_view content) {
  std::size_t begin = 0;
  std::size_t end = content.size();
  // An odd last byte is not a unit: it stays, and with it everything before it.
  if (end % 2 != 0) {
    while (begin + 2 <= end - 1 && IsSpaceUnit(content, begin)) begin += 2;
    return Bytes(content.substr(begin));
  }
  while (begin + 2 <= end && IsSpaceUnit(content, begin)) begin += 2;
  while (end >= begin + 2 && IsSpaceUnit(content, end - 2)) end -= 2;
  return Bytes(content.substr(begin, end - begin));
}

Bytes ReadWholeFile(const std::string& sFileName, bool bBinary, bool trim) {
  if (!platform::FileExists(sFileName))
    throw Error::Runtime(rt::kFileMissing, "File: " + sFileName + " does not Exist.");
  Bytes raw;
  try {
    raw = platform::ReadFileBytes(sFileName);
  } catch (const Error& e) {
    // The file was there a moment ago; say so in the reader's own words.
    if (e.number() == rt::kFileNotFound)
      throw Error::Runtime(rt::kFileNotFound, "File: " + sFileName + " not found.");
    throw;
  }
  Bytes content;
  if (bBinary) {
    // Callers have always received one zero byte more than the file holds, and detached
    // binary signatures cover it; keep it so those signatures still verify. Reserve exactly:
    // growing by doubling would briefly hold twice a large file.
    raw.reserve(raw.size() + 1);
    raw.push_back('\0');
    content = std::move(raw);
  } else {
    content = AnsiToUtf16le(raw);
  }
  return trim ? TrimSpaceUnits(content) : content;
}

void WriteWholeFile(const std::string& sFileName, const Bytes& sData, bool bBinary) {
  RefuseSpecialTarget(sFileName);
  if (bBinary) {
    platform::WriteFileAtomic(sFileName, sData);
    return;
  }
  std::string ansi = Utf16leToAnsi(sData);
  // Windows-1252 maps all 256 bytes, so the text fits exactly when it comes back unchanged.
  if (AnsiToUtf16le(ansi) != sData) throw Error::Runtime(rt::kInvalidCall);
  platform::WriteFileAtomic(sFileName, ansi);
}

}  // namespace vellum
