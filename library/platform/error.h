// The one error type of the library: a number and a description.
//
// Positive numbers are run-time errors of the library's own steps (file access, conversions),
// with the usual descriptions; zero or negative numbers are HRESULTs returned by a component
// (the cryptographic component, the archive component, the binary interface layer). Public
// methods pick their message by the sign of the number (see DigitalSign), so keep to this rule
// when raising: never wrap a component failure in a positive number or the other way round.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace vellum {

// Run-time error numbers used by the library.
namespace rt {
inline constexpr std::int32_t kInvalidCall = 5;        // "Invalid procedure call or argument"
inline constexpr std::int32_t kOverflow = 6;           // "Overflow"
inline constexpr std::int32_t kTypeMismatch = 13;      // "Type mismatch"
inline constexpr std::int32_t kFileNotFound = 53;      // "File not found"
inline constexpr std::int32_t kDiskFull = 61;          // "Disk full"
inline constexpr std::int32_t kPermissionDenied = 70;  // "Permission denied"
inline constexpr std::int32_t kPathFileAccess = 75;    // "Path/File access error"
inline constexpr std::int32_t kPathNotFound = 76;      // "Path not found"
inline constexpr std::int32_t kFileMissing = 504;      // raised by ReadWholeFile for a missing file
}  // namespace rt

// HRESULTs the components return. Kept here so crypto and archive need no COM headers.
namespace hr {
inline constexpr std::int32_t kOk = 0;
inline constexpr std::int32_t kFail = static_cast<std::int32_t>(0x80004005);
inline constexpr std::int32_t kInvalidArg = static_cast<std::int32_t>(0x80070057);
inline constexpr std::int32_t kOutOfMemory = static_cast<std::int32_t>(0x8007000E);
inline constexpr std::int32_t kNotImplemented = static_cast<std::int32_t>(0x80004001);
inline constexpr std::int32_t kAccessDenied = static_cast<std::int32_t>(0x80070005);
// Cryptographic component failures (the codes the original platform used).
inline constexpr std::int32_t kBadData = static_cast<std::int32_t>(0x80090005);  // wrong password
inline constexpr std::int32_t kBadSignature = static_cast<std::int32_t>(0x80090006);  // damaged
inline constexpr std::int32_t kHashMismatch = static_cast<std::int32_t>(0x80091007);  // changed
inline constexpr std::int32_t kNotSignedMessage = static_cast<std::int32_t>(0x8009310B);
inline constexpr std::int32_t kBadMessageType = static_cast<std::int32_t>(0x80091004);
inline constexpr std::int32_t kSignerNotFound = static_cast<std::int32_t>(0x80880251);
inline constexpr std::int32_t kStoreOpen = static_cast<std::int32_t>(0x80070002);  // not found
inline constexpr std::int32_t kUnsupportedAlgorithm = static_cast<std::int32_t>(0x80090008);
inline constexpr std::int32_t kCancelled = static_cast<std::int32_t>(0x800704C7);
}  // namespace hr

class Error : public std::runtime_error {
 public:
  Error(std::int32_t number, std::string description)
      : std::runtime_error(description), number_(number), description_(std::move(description)) {}

  // A run-time error with its usual description ("Type mismatch" for 13, ...).
  static Error Runtime(std::int32_t number);
  static Error Runtime(std::int32_t number, std::string description) {
    return Error(number, std::move(description));
  }
  // A component failure; number is a failure HRESULT (negative).
  static Error Component(std::int32_t hresult, std::string description) {
    return Error(hresult, std::move(description));
  }

  std::int32_t number() const { return number_; }
  const std::string& description() const { return description_; }

 private:
  std::int32_t number_;
  std::string description_;
};

// The usual description of a run-time error number; "Application-defined or object-defined
// error" for numbers without one.
std::string RuntimeDescription(std::int32_t number);

// Maps an errno value of a failed file operation to the run-time error it stands for
// (ENOENT 53, ENOTDIR/… 76, EACCES 70, ENOSPC 61, others 75), with `path` in the description.
Error FileError(int errno_value, const std::string& path);

}  // namespace vellum
