// The zip component: the two operations the Zip class needs, on libzip.
//
// CompressFile writes one file into a new archive, deflated at level 9 and encrypted with
// WinZip AES-256 under the password. ExtractArchive takes every file out of an archive into a
// folder; it reads AES and traditional PKWARE ("ZipCrypto") archives written by other tools.
// Neither throws: every outcome is a result code with its text, as the Zip class expects of
// its component. Passwords are copied only into buffers that are wiped after use and never
// appear in a result text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vellum::archive {

// Result codes. 0 and 527 are the two the Zip class relies on; the others are this
// component's own small table (see ResultText for their texts). A failure of any kind leaves
// nothing behind: no half archive, no extracted file, the old archive whole.
enum Code : std::int32_t {
  kOk = 0,
  kInputUnreadable = 510,    // the file to compress is missing or cannot be read
  kArchiveNotWritten = 511,  // the archive could not be written (folder, disk, rename)
  kNoPassword = 512,         // compressing without a password is refused
  kArchiveUnreadable = 520,  // the archive is missing or cannot be read
  kNotAnArchive = 521,       // not a zip archive, or its directory is damaged
  kUnsupported = 522,        // compression or encryption method this build cannot read
  kUnsafeEntry = 523,        // an entry would land outside the folder (absolute, "..", link)
  kDamagedEntry = 524,       // an unencrypted entry failed its CRC or decompression
  kFolderNotWritten = 525,   // the extraction folder or a file in it could not be written
  kTooLarge = 526,           // the archive expands past the extraction size bound
  kWrongPassword = 527,      // the password does not match the archive's password
  kForeignFolder = 528,      // the extraction folder exists and was not made by this system
  kNotEncrypted = 529,       // a password was given but an entry is not encrypted
  kInternal = 530,           // out of memory or an unexpected library failure
};

struct Result {
  std::int32_t code = kOk;
  std::string text;  // empty on success; otherwise ResultText(code), maybe with a detail
  bool ok() const { return code == kOk; }
};

// The fixed text of a result code; unknown codes get a generic text naming the number.
std::string ResultText(std::int32_t code);

// Extraction size bound, against compression bombs. Deflate cannot expand better than about
// 1032:1, so an honest deflated archive stays under kMaxExpansion times its own size; beyond
// that the expansion comes from overlapping entries or a lying size field. Small archives may
// always expand to kExpansionFloor, and nothing may expand past kExpansionCap. Counted over
// the declared sizes before anything is written and again over the bytes actually produced.
inline constexpr std::uint64_t kMaxExpansion = 1100;
inline constexpr std::uint64_t kExpansionFloor = std::uint64_t{64} << 20;  // 64 MiB
inline constexpr std::uint64_t kExpansionCap = std::uint64_t{4} << 30;     // 4 GiB
std::uint64_t ExtractionBound(std::uint64_t archive_size);

// Writes `archive` holding the file `input` under its own file name. The archive is streamed
// into a temporary file beside `archive` as the input is read and compressed (memory does not
// grow with the file) and replaces `archive` atomically, so a failure leaves an older archive
// whole. An empty password is refused (kNoPassword) rather than writing an unprotected
// archive, and so is an archive name that is the input itself (kArchiveNotWritten).
Result CompressFile(const std::string& input, const std::string& archive,
                    std::string_view password);

// Extracts every entry of `archive` into `folder` (created when missing; its parent must
// exist; an existing one must be a folder of the caller, reached without a link at its name).
// With a password, every file entry must be encrypted (kNotEncrypted): an entry anyone could
// have put there proves nothing about who knew the password. Entry names are checked before
// anything is written; each file is written under a temporary name and all of them are renamed into
// place only after every entry passed its CRC or authentication check. On failure nothing extracted
// by this call remains. The paths of the extracted files (folder + "/" + entry name) go to
// `extracted` when it is not null.
Result ExtractArchive(const std::string& archive, const std::string& folder,
                      std::string_view password, std::vector<std::string>* extracted);

}  // namespace vellum::archive
