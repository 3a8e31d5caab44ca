// The rules signing and verifying share about signature files: how each name is formed, what
// content is handed to the signing component in each mode, and how a reader takes carried
// content apart again. DigitalSign's methods call these; nothing else should know the layout.
//
// Paths and names are UTF-8 with platform::kSeparator. Content, data parts and the credentials
// hash are `Bytes`: a text as its UTF-16LE bytes, binary data as raw bytes.
//
// Content layout, at byte level (all texts UTF-16LE):
//
//   detached:  [hash] data
//   attached:  [hash] data name NN
//
// where hash is the credentials hash (when there is one; attached only when the message is not
// encrypted or compressed), data is the data part exactly as ReadWholeFile gave it, name the
// input's file name and NN its length in 16-bit units as two decimal digits. Data is placed as
// raw bytes with no padding, and the reader finds NN and the name by counting bytes from the
// end, so a binary data part of odd length comes back exactly. For every data part of even
// length (all text, and binary files of odd length) this is the unit-for-unit layout the
// signing side has always produced.
#pragma once

#include <string>
#include <string_view>

#include "library/digital_sign/whole_file.h"
#include "library/platform/text.h"

namespace vellum::signature_files {

// Names longer than this cannot be carried: the trailer holds two digits.
inline constexpr std::size_t kMaxCarriedNameLength = 99;

inline constexpr std::string_view kDetachedSuffix = "_DSignature.txt";
inline constexpr std::string_view kAttachedSuffix = "_ContentSignature.txt";
inline constexpr std::string_view kCompressedExtension = ".trel";

// ---- Names on the signing side --------------------------------------------------------------

// The path without the text from its last "." on; the last "." of the whole path counts, also
// one in a folder name. A path without "." is its own base.
std::string SignatureBase(std::string_view path);

// The signature file for `input`: base followed by `suffix`, used as it stands. An empty
// suffix is first replaced by the mode's default, and the caller sees it (in/out argument).
std::string SignatureFileName(std::string_view input, std::string& suffix, bool detached);

// The compressed copy's name: every occurrence of "." + extension (exact case, left to right)
// replaced by ".trel", then leading and trailing spaces removed. Without an extension every
// "." of the path is replaced.
std::string CompressedFileName(std::string_view signature_file);

// True when `a` and `b` name one file: the same path once "." and ".." are resolved, or, when
// both exist, the same file on disk (a link or a second path to it). A signature written under
// such a name would replace the file it signs.
bool NamesSameFile(const std::string& a, const std::string& b);

// ---- Content handed to the signing component ------------------------------------------------

// The file-name part of an input path as the attached trailer carries it (UTF-8). Raises error
// 5 when the path holds no separator (the trailer has always needed one), and when the name is
// one the reader would refuse (see IsPlainCarriedName) or is longer than 99 characters, so the
// signing side never produces a file that cannot be taken apart.
std::string CarriedName(std::string_view input_file_name);

// The two-digit length trailer of a name of `length` 16-bit units: "05", "10", "99".
std::string LengthDigits(std::size_t length);

// The attached trailer for `input_file_name`: the carried name and its two digits, UTF-16LE.
// Raises as CarriedName does.
Bytes AttachedTrailer(std::string_view input_file_name);

// The content to sign, handed out in pieces so that the data part never has to be held:
// `prefix` (the credentials hash where it leads, else empty), the data part as `data` reads it,
// then `trailer` (AttachedTrailer, or empty for detached content). Binary data sits as raw bytes
// between the UTF-16LE prefix and trailer, odd length or not. The views must outlive the
// stream.
class ContentStream {
 public:
  ContentStream(std::string_view prefix, WholeFileReader& data, std::string_view trailer)
      : prefix_(prefix), data_(data), trailer_(trailer) {}
  // Up to `capacity` bytes; 0 at the end. Errors of `data` pass on.
  std::size_t Read(char* buffer, std::size_t capacity);

 private:
  std::string_view prefix_;
  WholeFileReader& data_;
  std::string_view trailer_;
  bool data_done_ = false;
};

// ---- Taking attached content apart (verifying side) -----------------------------------------

// Why carried content could not be taken apart; each has its own message at the caller.
enum class ContentFault {
  kNone,
  kCredentialsMismatch,  // the content does not start with the credentials hash
  kMalformedTrailer,     // the last two units are not two digits, or N does not fit
  kUnsafeName,           // the carried name is not a plain file name
};

// Takes apart content returned by a verified attached message, without copying it: `data`
// views `content`.
//
// `credentials_hash` is the hash the content must start with (empty when none is expected:
// no credentials, or the message was decrypted or extracted). With `binary` the data part
// loses the one trailing zero byte that ReadWholeFile added on the signing side, so the
// restored file is byte-identical to the signed one; a data part not ending in zero (content
// signed by a tool that did not add it) is left whole. A fault leaves `data` and `name` empty.
struct CarriedContentView {
  ContentFault fault = ContentFault::kNone;
  std::string_view data;  // the restored file's content, ready for WriteWholeFile
  std::string name;       // the carried name, UTF-8
};
CarriedContentView TakeAttachedContentView(std::string_view content,
                                           std::string_view credentials_hash, bool binary);

// True for a name that is safe to write into a folder: not empty, not "." or "..", no
// separator, no control character (U+0000 to U+001F, U+007F to U+009F). Anything else could
// place the restored file outside the signature's folder, under a different name than the one
// carried, or show on a terminal as something it is not.
bool IsPlainCarriedName(std::string_view name);

// ---- Names on the verifying side ------------------------------------------------------------

// Where an attached signature's content is restored: the signature file's folder (its text up
// to and including the last separator) followed by the carried name, or, when the caller gave
// no original file name, the temporary folder, a separator and the name.
std::string RestoredFilePath(std::string_view fingerprint_file, std::string_view carried_name,
                             bool original_name_given);

}  // namespace vellum::signature_files
