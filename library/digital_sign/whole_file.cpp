#include "library/digital_sign/whole_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

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

// Units below U+0080 and from U+00A0 to U+00FF are the same values in Windows-1252, and they
// make up most text; `ansi` gets them directly. False for a piece with any other unit (or an
// odd byte), which takes the full conversion and its check.
bool PlainLatin1(std::string_view piece, std::string& ansi) {
  if (piece.size() % 2 != 0) return false;
  ansi.resize(piece.size() / 2);
  for (std::size_t i = 0; i < ansi.size(); ++i) {
    const auto low = static_cast<unsigned char>(piece[2 * i]);
    if (piece[2 * i + 1] != '\0' || (low >= 0x80 && low < 0xA0)) return false;
    ansi[i] = static_cast<char>(low);
  }
  return true;
}

}  // namespace

Bytes TrimSpaceUnits(std::string_view content) {
  SpaceUnitTrimmer trimmer([&content](char* buffer, std::size_t capacity) {
    const std::size_t n = std::min(capacity, content.size());
    std::memcpy(buffer, content.data(), n);
    content.remove_prefix(n);
    return n;
  });
  Bytes trimmed;
  trimmed.reserve(content.size());
  char buffer[1 << 16];
  for (std::size_t n; (n = trimmer.Read(buffer, sizeof buffer)) > 0;) trimmed.append(buffer, n);
  return trimmed;
}

Bytes ReadWholeFile(const std::string& sFileName, bool bBinary, bool trim) {
  WholeFileReader reader(sFileName, bBinary, trim);
  // Binary content is the file and the reader's zero byte, text twice the file. Room for it at
  // once: growing by doubling would briefly hold a large file twice.
  const std::uint64_t size = reader.FileSize();
  Bytes content;
  content.reserve(static_cast<std::size_t>(bBinary ? size + 1 : 2 * size));
  Bytes buffer(std::size_t{1} << 18, '\0');
  for (std::size_t n; (n = reader.Read(buffer.data(), buffer.size())) > 0;)
    content.append(buffer.data(), n);
  return content;
}

void WriteWholeFile(const std::string& sFileName, std::string_view sData, bool bBinary,
                    platform::Privacy privacy) {
  ContentFileWriter file(sFileName, bBinary, privacy);
  file.Write(sData);
  file.Commit();
}

ContentFileWriter::ContentFileWriter(const std::string& sFileName, bool bBinary,
                                     platform::Privacy privacy)
    : binary_(bBinary) {
  try {
    RefuseSpecialTarget(sFileName);
  } catch (const Error&) {
    refused_ = std::current_exception();
    return;
  }
  try {
    file_.emplace(sFileName, privacy);
  } catch (const Error&) {
    open_failed_ = std::current_exception();
  }
}

void ContentFileWriter::Write(std::string_view bytes) {
  if (refused_ || bytes.empty()) return;
  if (binary_) return Put(bytes);
  // Windows-1252 maps all 256 bytes, so the text fits exactly when it comes back unchanged.
  // Pieces are whole units: a byte cut from its unit waits for the next piece.
  if (!odd_.empty()) {
    odd_.push_back(bytes[0]);
    bytes.remove_prefix(1);
    PutText(odd_);
    odd_.clear();
  }
  constexpr std::size_t kPiece = std::size_t{1} << 16;  // even: pieces end on a unit
  const std::size_t whole = bytes.size() - bytes.size() % 2;
  for (std::size_t at = 0; at < whole && !refused_; at += kPiece)
    PutText(bytes.substr(at, std::min(kPiece, whole - at)));
  if (whole < bytes.size()) odd_ = bytes.substr(whole);
}

void ContentFileWriter::PutText(std::string_view units) {
  if (!PlainLatin1(units, ansi_)) {
    ansi_ = Utf16leToAnsi(units);
    if (AnsiToUtf16le(ansi_) != units) {
      // Nothing of it is written: '?' in place of a character would be a different file.
      refused_ = std::make_exception_ptr(Error::Runtime(rt::kInvalidCall));
      file_.reset();
      return;
    }
  }
  Put(ansi_);
}

void ContentFileWriter::Put(std::string_view bytes) {
  if (!file_ || write_failed_) return;
  try {
    file_->Write(bytes);
  } catch (const Error&) {
    write_failed_ = std::current_exception();
  }
}

void ContentFileWriter::Commit() {
  // A last byte without its unit cannot be ANSI text.
  if (!odd_.empty() && !refused_) {
    refused_ = std::make_exception_ptr(Error::Runtime(rt::kInvalidCall));
    file_.reset();
  }
  // In WriteWholeFile's order: the target, the text, the file's creation, its writing.
  for (const std::exception_ptr& failure : {refused_, open_failed_, write_failed_})
    if (failure) std::rethrow_exception(failure);
  file_->Commit();
}

}  // namespace vellum

namespace vellum {
namespace {

// Large enough that per-call costs vanish next to hashing, small enough that memory does not
// follow the file.
constexpr std::size_t kChunk = std::size_t{1} << 18;

// A failure of the reading step in ReadWholeFile's words.
Error ReadFailure(int errno_value, const std::string& name) {
  Error e = FileError(errno_value, name);
  if (e.number() == rt::kFileNotFound)
    return Error::Runtime(rt::kFileNotFound, "File: " + name + " not found.");
  return e;
}

}  // namespace

WholeFileReader::WholeFileReader(const std::string& sFileName, bool bBinary, bool trim)
    : name_(sFileName), binary_(bBinary) {
  if (!platform::FileExists(sFileName))
    throw Error::Runtime(rt::kFileMissing, "File: " + sFileName + " does not Exist.");
  fd_ = platform::FileDescriptor(::open(sFileName.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd_) throw ReadFailure(errno, sFileName);
  if (::fstat(fd_.get(), &opened_) != 0) throw ReadFailure(errno, sFileName);
  if (S_ISDIR(opened_.st_mode)) throw ReadFailure(EISDIR, sFileName);
  file_size_ = static_cast<std::uint64_t>(opened_.st_size);
  progress_.emplace(platform::kProgressReading, file_size_);
  if (trim)
    trimmer_.emplace(
        [this](char* buffer, std::size_t capacity) { return ReadRaw(buffer, capacity); });
}

namespace {

bool SameTime(const timespec& a, const timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

}  // namespace

bool WholeFileReader::FillRaw() {
  raw_.erase(0, raw_pos_);
  raw_pos_ = 0;
  if (file_done_) {
    // Binary content ends with the reader's zero byte, as ReadWholeFile gives it.
    if (!binary_ || zero_added_) return false;
    raw_.push_back('\0');
    zero_added_ = true;
    return true;
  }
  const std::size_t kept = raw_.size();
  char* target = nullptr;
  if (binary_) {
    raw_.resize(kept + kChunk);
    target = raw_.data() + kept;
  } else {
    ansi_.resize(kChunk / 2);  // made once, kept for the next read
    target = ansi_.data();
  }
  ssize_t n = 0;
  do {
    n = ::read(fd_.get(), target, binary_ ? kChunk : kChunk / 2);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    failed_ = true;
    throw ReadFailure(errno, name_);
  }
  const auto got = static_cast<std::size_t>(n);
  if (binary_) {
    raw_.resize(kept + got);
  } else {
    raw_.resize(kept + 2 * got);
    AnsiToUtf16leInto(std::string_view(ansi_.data(), got), raw_.data() + kept);
  }
  progress_->Advance(got);
  if (got == 0) {
    progress_->Finish();
    file_done_ = true;
    struct stat now {};
    changed_ = ::fstat(fd_.get(), &now) != 0 || now.st_size != opened_.st_size ||
               !SameTime(now.st_mtim, opened_.st_mtim) || !SameTime(now.st_ctim, opened_.st_ctim);
    fd_.close();
    return FillRaw();
  }
  return true;
}

std::size_t WholeFileReader::Read(char* buffer, std::size_t capacity) {
  return trimmer_ ? trimmer_->Read(buffer, capacity) : ReadRaw(buffer, capacity);
}

std::size_t WholeFileReader::ReadRaw(char* buffer, std::size_t capacity) {
  std::size_t n = 0;
  while (n < capacity) {
    if (raw_pos_ == raw_.size() && !FillRaw()) break;
    std::size_t k = std::min(capacity - n, raw_.size() - raw_pos_);
    std::memcpy(buffer + n, raw_.data() + raw_pos_, k);
    raw_pos_ += k;
    n += k;
  }
  return n;
}

bool SpaceUnitTrimmer::Fill() {
  if (in_done_) return false;
  in_.erase(0, in_pos_);
  in_pos_ = 0;
  const std::size_t kept = in_.size();
  in_.resize(kept + kChunk);
  const std::size_t n = source_(in_.data() + kept, kChunk);
  in_.resize(kept + n);
  in_done_ = n == 0;
  return n > 0;
}

std::size_t SpaceUnitTrimmer::Read(char* buffer, std::size_t capacity) {
  std::size_t n = 0;
  while (n < capacity) {
    if (out_pos_ == out_.size()) {
      out_.clear();
      out_pos_ = 0;
      if (!TrimMore()) break;
    }
    std::size_t k = std::min(capacity - n, out_.size() - out_pos_);
    std::memcpy(buffer + n, out_.data() + out_pos_, k);
    out_pos_ += k;
    n += k;
  }
  return n;
}

// Appends the next trimmed content to out_; false when none is left. Works unit by unit,
// holding back only a count of trailing space units.
bool SpaceUnitTrimmer::TrimMore() {
  while (out_.size() < kChunk) {
    if (spaces_out_ > 0) {
      std::uint64_t k = std::min<std::uint64_t>(spaces_out_, (kChunk - out_.size()) / 2 + 1);
      for (std::uint64_t i = 0; i < k; ++i) out_.append({kSpaceLow, kSpaceHigh});
      spaces_out_ -= k;
      continue;
    }
    if (done_) break;
    if (in_.size() - in_pos_ < 2) {
      if (Fill()) continue;
      // The end. An odd last byte is not a unit: the spaces before it are inner ones.
      if (in_pos_ < in_.size()) {
        if (held_spaces_ > 0) {
          spaces_out_ = held_spaces_;
          held_spaces_ = 0;
          continue;
        }
        out_.push_back(in_[in_pos_++]);
      }
      done_ = true;  // trailing spaces at an even end are dropped
      continue;
    }
    if (IsSpaceUnit(in_, in_pos_)) {
      in_pos_ += 2;
      if (!leading_) ++held_spaces_;
      continue;
    }
    leading_ = false;
    if (held_spaces_ > 0) {
      spaces_out_ = held_spaces_;
      held_spaces_ = 0;
      continue;
    }
    out_.append(in_, in_pos_, 2);
    in_pos_ += 2;
  }
  return !out_.empty();
}

WholeFileWriter::WholeFileWriter(const std::string& sFileName)
    : file_((RefuseSpecialTarget(sFileName), sFileName)) {}

}  // namespace vellum
