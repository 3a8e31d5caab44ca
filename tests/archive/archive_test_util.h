// Helpers shared by the archive tests: a scratch folder, whole-file reads and writes, a tree
// listing for "nothing was written" checks, archives built with libzip itself (hostile ones
// included) and the real 7z / zip / unzip programs.
#pragma once

#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zip.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "library/archive/zip_handles.h"

namespace vellum::archive::testing {

namespace fs = std::filesystem;

// A fresh folder under $VELLUM_TEST_TMP (or the system temporary folder), removed afterwards.
class ScratchFolder {
 public:
  ScratchFolder() {
    const char* base = std::getenv("VELLUM_TEST_TMP");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/archive-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  ~ScratchFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline void WriteBytes(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

inline std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Every path below `root` (links not followed), relative, with "/" after folders.
inline std::set<std::string> Tree(const std::string& root) {
  std::set<std::string> out;
  std::error_code ec;
  if (!fs::exists(fs::symlink_status(root, ec))) return out;
  for (auto it = fs::recursive_directory_iterator(root, ec);
       it != fs::recursive_directory_iterator(); it.increment(ec)) {
    std::string rel = it->path().lexically_relative(root).string();
    out.insert(it->is_directory() && !it->is_symlink() ? rel + "/" : rel);
  }
  return out;
}

inline std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// Runs a shell command quietly; returns its exit status.
inline int Shell(const std::string& command) {
  int rc = std::system((command + " >/dev/null 2>&1").c_str());
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

inline std::string Capture(const std::string& command) {
  std::string out;
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[4096];
  while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
  ::pclose(pipe);
  return out;
}

inline std::string Pattern(std::size_t size, std::uint32_t seed) {
  std::string data(size, '\0');
  std::uint32_t x = seed * 2654435761u + 1;
  for (auto& c : data) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = static_cast<char>(x);
  }
  return data;
}

struct EntrySpec {
  EntrySpec(std::string n, std::string d, std::uint16_t e = ZIP_EM_NONE, std::string p = {},
            std::uint32_t m = 0)
      : name(std::move(n)),
        data(std::move(d)),
        encryption(e),
        password(std::move(p)),
        unix_mode(m) {}
  std::string name;
  std::string data;
  std::uint16_t encryption = ZIP_EM_NONE;  // ZIP_EM_AES_256, ZIP_EM_TRAD_PKWARE
  std::string password;
  std::uint32_t unix_mode = 0;  // st_mode kept in the external attributes when not 0
};

// Writes an archive exactly as given: libzip stores names as handed over, which is what a
// hostile archive needs.
inline void MakeZip(const std::string& path, const std::vector<EntrySpec>& entries) {
  int error = 0;
  ZipArchive za(zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error));
  if (!za) throw std::runtime_error("zip_open failed");
  for (const EntrySpec& e : entries) {
    ZipSource src(zip_source_buffer(za.get(), e.data.data(), e.data.size(), 0));
    zip_int64_t index = zip_file_add(za.get(), e.name.c_str(), src.get(), ZIP_FL_ENC_UTF_8);
    if (index < 0)
      throw std::runtime_error("zip_file_add " + e.name + ": " + zip_strerror(za.get()));
    src.release();
    auto i = static_cast<zip_uint64_t>(index);
    zip_set_file_compression(za.get(), i, ZIP_CM_DEFLATE, 9);
    if (e.encryption != ZIP_EM_NONE &&
        zip_file_set_encryption(za.get(), i, e.encryption, e.password.c_str()) < 0)
      throw std::runtime_error("zip_file_set_encryption failed");
    if (e.unix_mode != 0)
      zip_file_set_external_attributes(za.get(), i, 0, ZIP_OPSYS_UNIX, e.unix_mode << 16);
  }
  if (za.Commit() != ZIP_ER_OK) throw std::runtime_error("zip_close failed");
}

inline std::uint32_t Le32(const std::string& b, std::size_t at) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(b[at])) |
         static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 1])) << 8 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 2])) << 16 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 3])) << 24;
}
inline std::uint16_t Le16(const std::string& b, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(b[at]) |
                                    static_cast<unsigned char>(b[at + 1]) << 8);
}
inline void PutLe32(std::string& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>(v >> (8 * i));
}
inline void PutLe16(std::string& b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<char>(v);
  b[at + 1] = static_cast<char>(v >> 8);
}

// Offsets in a one-entry archive as libzip writes it (no comment, no zip64).
struct Layout {
  std::size_t data = 0;            // first byte after the local header and its extra field
  std::size_t central = 0;         // central directory header of the entry
  std::size_t end_of_central = 0;  // end-of-central-directory record
};
inline Layout FirstEntryLayout(const std::string& b) {
  Layout l;
  l.data = 30 + Le16(b, 26) + Le16(b, 28);
  l.end_of_central = b.rfind(std::string("PK\x05\x06", 4));
  l.central = Le32(b, l.end_of_central + 16);
  return l;
}

}  // namespace vellum::archive::testing
