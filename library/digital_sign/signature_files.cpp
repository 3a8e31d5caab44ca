#include "library/digital_sign/signature_files.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "library/platform/error.h"
#include "library/platform/files.h"
#include "library/platform/text.h"

namespace vellum::signature_files {
namespace {

constexpr char kSep = platform::kSeparator;

// Digits of the trailer as UTF-16LE units.
constexpr std::size_t kTrailerBytes = 4;

bool IsDigitUnit(std::string_view content, std::size_t at) {
  return content[at] >= '0' && content[at] <= '9' && content[at + 1] == '\0';
}

// A name that survives UTF-8 -> UTF-16LE -> UTF-8 unchanged; otherwise the written name would
// not be the carried one.
bool RoundTrips(std::string_view utf8) {
  return Utf16leToUtf8(Utf8ToUtf16le(utf8)) == utf8;
}

}  // namespace

std::string SignatureBase(std::string_view path) {
  std::size_t dot = path.rfind('.');
  return std::string(dot == std::string_view::npos ? path : path.substr(0, dot));
}

std::string SignatureFileName(std::string_view input, std::string& suffix, bool detached) {
  if (suffix.empty()) suffix = detached ? kDetachedSuffix : kAttachedSuffix;
  return SignatureBase(input) + suffix;
}

std::string CompressedFileName(std::string_view signature_file) {
  std::string from(1, '.');  // appended: GCC 12 misreads "." + std::string (-Wrestrict)
  from += platform::ExtensionName(signature_file);
  return TrimSpaces(ReplaceAll(signature_file, from, kCompressedExtension));
}

bool NamesSameFile(const std::string& a, const std::string& b) {
  namespace fs = std::filesystem;
  const fs::path pa(a), pb(b);
  if (fs::absolute(pa).lexically_normal() == fs::absolute(pb).lexically_normal()) return true;
  std::error_code ec;
  return fs::equivalent(pa, pb, ec) && !ec;
}

namespace {

// C0 controls and DEL as bytes, the C1 controls U+0080 to U+009F as their UTF-8 (C2 80 to C2
// 9F). A name holding one could rewrite the line a terminal or a log shows it on.
bool HasControlCharacter(std::string_view utf8) {
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto byte = static_cast<unsigned char>(utf8[i]);
    if (byte < 0x20 || byte == 0x7F) return true;
    if (byte == 0xC2 && i + 1 < utf8.size() && static_cast<unsigned char>(utf8[i + 1]) >= 0x80 &&
        static_cast<unsigned char>(utf8[i + 1]) <= 0x9F)
      return true;
  }
  return false;
}

}  // namespace

bool IsPlainCarriedName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find(kSep) == std::string_view::npos && !HasControlCharacter(name);
}

std::string CarriedName(std::string_view input_file_name) {
  std::size_t sep = input_file_name.rfind(kSep);
  if (sep == std::string_view::npos) throw Error::Runtime(rt::kInvalidCall);
  std::string_view name = input_file_name.substr(sep + 1);
  if (!IsPlainCarriedName(name) || !RoundTrips(name)) throw Error::Runtime(rt::kInvalidCall);
  // The reader takes exactly two digits, so a longer name would make a signature whose
  // content can never be restored; refuse it before anything is signed.
  if (Utf8ToUtf16le(name).size() / 2 > kMaxCarriedNameLength)
    throw Error::Runtime(rt::kInvalidCall,
                         "Invalid procedure call or argument: the file name is longer than 99 "
                         "characters");
  return std::string(name);
}

std::string LengthDigits(std::size_t length) {
  std::string digits = std::to_string(length);
  if (length <= 9) digits.insert(digits.begin(), '0');
  return digits;
}

Bytes AttachedTrailer(std::string_view input_file_name) {
  Bytes name = Utf8ToUtf16le(CarriedName(input_file_name));
  return name + Utf8ToUtf16le(LengthDigits(name.size() / 2));
}

std::size_t ContentStream::Read(char* buffer, std::size_t capacity) {
  std::size_t n = 0;
  auto take = [&](std::string_view& part) {
    std::size_t k = std::min(capacity - n, part.size());
    if (k == 0) return;
    std::memcpy(buffer + n, part.data(), k);
    part.remove_prefix(k);
    n += k;
  };
  take(prefix_);
  while (n < capacity && !data_done_) {
    std::size_t k = data_.Read(buffer + n, capacity - n);
    if (k == 0) data_done_ = true;
    n += k;
  }
  if (data_done_) take(trailer_);
  return n;
}

CarriedContentView TakeAttachedContentView(std::string_view content,
                                           std::string_view credentials_hash, bool binary) {
  CarriedContentView out;
  if (!credentials_hash.empty()) {
    if (!content.starts_with(credentials_hash)) {
      out.fault = ContentFault::kCredentialsMismatch;
      return out;
    }
    content.remove_prefix(credentials_hash.size());
  }
  std::size_t size = content.size();
  if (size < kTrailerBytes || !IsDigitUnit(content, size - 4) || !IsDigitUnit(content, size - 2)) {
    out.fault = ContentFault::kMalformedTrailer;
    return out;
  }
  std::size_t units = static_cast<std::size_t>(content[size - 4] - '0') * 10 +
                      static_cast<std::size_t>(content[size - 2] - '0');
  std::size_t name_bytes = 2 * units;
  if (name_bytes > size - kTrailerBytes) {
    out.fault = ContentFault::kMalformedTrailer;
    return out;
  }
  std::size_t data_size = size - kTrailerBytes - name_bytes;
  std::string_view name = content.substr(data_size, name_bytes);
  std::string name_utf8 = Utf16leToUtf8(name);
  if (!IsPlainCarriedName(name_utf8) || Utf8ToUtf16le(name_utf8) != name) {
    out.fault = ContentFault::kUnsafeName;
    return out;
  }
  std::string_view data = content.substr(0, data_size);
  // The signing side read the file with one zero byte more than it holds; the restored file
  // must be the file, not the buffer.
  if (binary && data.ends_with('\0')) data.remove_suffix(1);
  out.data = data;
  out.name = std::move(name_utf8);
  return out;
}

std::string RestoredFilePath(std::string_view fingerprint_file, std::string_view carried_name,
                             bool original_name_given) {
  if (!original_name_given) {
    std::string folder = platform::TempFolder();
    if (!folder.ends_with(kSep)) folder += kSep;  // TMPDIR=/ leaves the root itself
    return folder + std::string(carried_name);
  }
  std::size_t sep = fingerprint_file.rfind(kSep);
  std::string folder(sep == std::string_view::npos ? std::string_view()
                                                   : fingerprint_file.substr(0, sep + 1));
  return folder + std::string(carried_name);
}

}  // namespace vellum::signature_files
