// Reading and writing a file whole, the two private file operations of DigitalSign.
//
// Content travels as `Bytes`: in text mode the UTF-16LE bytes of the text (the file itself is
// ANSI, Windows-1252); in binary mode the file's raw bytes. Both functions raise vellum::Error
// with a positive run-time number; neither reports through a return value.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "library/platform/files.h"
#include "library/platform/hooks.h"
#include "library/platform/text.h"

namespace vellum {

// ReadWholeFile returns the whole content of `sFileName`.
//
// A missing file raises 504 "File: <name> does not Exist."; a file that vanishes between that
// check and the open raises 53 "File: <name> not found."; any other failure passes on with its
// own number. Binary mode gives the file's bytes followed by one zero byte (L + 1 bytes, the
// buffer the reader has always handed out); text mode decodes ANSI into UTF-16LE. With `trim`
// leading and trailing U+0020 code units are removed (see TrimSpaceUnits).
Bytes ReadWholeFile(const std::string& sFileName, bool bBinary, bool trim);

// WriteWholeFile replaces `sFileName` with `sData` atomically: on any failure the old file stays
// whole and no temporary file is left behind. Text mode writes the UTF-16LE text as ANSI with no
// line end added; binary mode writes the bytes unchanged. An existing target that is a device,
// pipe or socket is refused (error 75) and left alone; a symbolic link is replaced by the file.
//
// Text mode refuses (error 5, nothing written) a text that ANSI cannot hold exactly (a character
// outside Windows-1252, or an odd trailing byte): writing '?' in its place would hand the caller
// a file that silently differs from the content it verified.
//
// `privacy` as platform::AtomicFileWriter takes it: kPrivate for content restored into the
// shared temporary folder (0600, another user's file of that name refused with error 70).
void WriteWholeFile(const std::string& sFileName, std::string_view sData, bool bBinary,
                    platform::Privacy privacy = platform::Privacy::kShared);

// WriteWholeFile for content that arrives in pieces (content restored while it is verified):
// the same bytes, checks and failures, the file put in place only by Commit. Write never
// raises; Commit raises what WriteWholeFile would have raised for all the pieces together, in
// its order (a special target, text ANSI cannot hold, the file's creation, its writing), so a
// caller can finish the work that decides whether to keep the file before hearing of a write
// failure. A writer destroyed before Commit leaves the old file whole and nothing behind.
class ContentFileWriter {
 public:
  ContentFileWriter(const std::string& sFileName, bool bBinary,
                    platform::Privacy privacy = platform::Privacy::kShared);
  void Write(std::string_view bytes);
  void Commit();

 private:
  void PutText(std::string_view units);
  void Put(std::string_view bytes);

  bool binary_;
  std::optional<platform::AtomicFileWriter> file_;
  std::exception_ptr refused_;       // the target, or the text
  std::exception_ptr open_failed_;   // the temporary file could not be made
  std::exception_ptr write_failed_;  // nor written
  Bytes odd_;                        // text: a byte whose unit's other half is still to come
  std::string ansi_;
};

// The trim rule of ReadWholeFile, exposed for the callers that trim content they build.
//
// Content is walked as 16-bit units; a unit 0x0020 at either end is removed. Binary content
// may have an odd length (an even file plus the reader's zero byte): that last odd byte is not
// a unit, so it is kept and it ends the trailing trim. Dropping it, as a 16-bit text form
// would, loses a byte of the caller's file.
Bytes TrimSpaceUnits(std::string_view content);

}  // namespace vellum

namespace vellum {

// The trim rule of TrimSpaceUnits over content that arrives in pieces: leading space units are
// skipped, trailing ones are counted and handed out only when something else follows them, and
// an odd last byte (binary content) stops the trailing trim. Only a count of held spaces is
// kept, so a long run of them takes no memory. TrimSpaceUnits and WholeFileReader both trim
// through it.
class SpaceUnitTrimmer {
 public:
  // `source` fills up to `capacity` bytes of untrimmed content and says how many; 0 at the end.
  using Source = std::function<std::size_t(char* buffer, std::size_t capacity)>;
  explicit SpaceUnitTrimmer(Source source) : source_(std::move(source)) {}

  // Up to `capacity` bytes of trimmed content; 0 once it is all handed out.
  std::size_t Read(char* buffer, std::size_t capacity);

 private:
  bool Fill();
  bool TrimMore();

  Source source_;
  Bytes in_;  // untrimmed content not yet looked at
  std::size_t in_pos_ = 0;
  bool in_done_ = false;
  Bytes out_;  // trimmed content not yet handed out
  std::size_t out_pos_ = 0;
  bool leading_ = true;
  std::uint64_t held_spaces_ = 0;  // trailing space units not yet known to be inner ones
  std::uint64_t spaces_out_ = 0;   // held units now known to be inner, still to hand out
  bool done_ = false;
};

// WholeFileReader hands out, in pieces, exactly the content ReadWholeFile would return for the
// same arguments, so a file of any size can be signed or checked without being held.
//
// The constructor opens the file and raises what ReadWholeFile raises at that point (504 for
// a missing file, 53 when it vanished before the open, others with their own number); a read
// failure later raises from Read with the number ReadWholeFile would have used. Trimming works
// on the fly: leading space units are skipped, trailing ones are counted and written out only
// when something else follows them, and an odd last byte (binary content) stops the trailing
// trim as it does in TrimSpaceUnits.
class WholeFileReader {
 public:
  WholeFileReader(const std::string& sFileName, bool bBinary, bool trim);
  // The trimmer reads through the reader it belongs to.
  WholeFileReader(const WholeFileReader&) = delete;
  WholeFileReader& operator=(const WholeFileReader&) = delete;

  // Up to `capacity` bytes of content; 0 once it is all handed out.
  std::size_t Read(char* buffer, std::size_t capacity);

  // The file's size when it was opened.
  std::uint64_t FileSize() const { return file_size_; }

  // True once a read raised: callers that pass the reader through another component use it to
  // report the failure at the reading step rather than at that component's.
  bool failed() const { return failed_; }

  // True once the whole file was read and it is not the file that was opened any more: its
  // size, modification or change time moved while it was read, so what was handed out may mix
  // two versions of it.
  bool changed() const { return changed_; }

 private:
  bool FillRaw();
  std::size_t ReadRaw(char* buffer, std::size_t capacity);

  std::string name_;
  bool binary_;
  bool failed_ = false;
  bool changed_ = false;
  std::uint64_t file_size_ = 0;
  struct stat opened_ {};  // the file as it was when opened
  platform::FileDescriptor fd_;
  bool file_done_ = false;   // the file's end was reached
  bool zero_added_ = false;  // binary: the reader's zero byte is in raw_
  Bytes raw_;                // untrimmed content not yet handed on
  Bytes ansi_;               // text mode: the bytes of one read, before conversion
  std::size_t raw_pos_ = 0;
  std::optional<SpaceUnitTrimmer> trimmer_;  // with trim: over ReadRaw
  // The bytes read from the file, reported to the host.
  std::optional<platform::ProgressReport> progress_;
};

// WholeFileWriter is WriteWholeFile for content that arrives in pieces: the bytes are the file's
// bytes (a binary signed message, or the ANSI text of a Base64 one), written to a temporary file
// that Commit puts in place. Special targets are refused as WriteWholeFile refuses them, and a
// writer destroyed before Commit leaves the old file whole and nothing behind.
class WholeFileWriter {
 public:
  explicit WholeFileWriter(const std::string& sFileName);
  void Write(std::string_view bytes) { file_.Write(bytes); }
  // The next Write goes to `offset` from the start (a head put right once it is known).
  void Seek(std::uint64_t offset) { file_.Seek(offset); }
  void Commit() { file_.Commit(); }

 private:
  platform::AtomicFileWriter file_;
};

}  // namespace vellum
