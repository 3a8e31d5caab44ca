// The pieces that let signing and verifying work through a file without holding it: the
// streaming reader must hand out exactly what the whole-file reader returns, the content
// stream the prefix, that and the trailer in order, and the streaming writers must keep the
// whole-file writer's promises (nothing half-written, old file whole).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "library/digital_sign/signature_files.h"
#include "library/digital_sign/whole_file.h"
#include "library/platform/error.h"
#include "library/platform/text.h"
#include "tests/digital_sign/scratch_folder.h"

namespace vellum {
namespace {

using testing::EveryByte;
using testing::GetFile;
using testing::PutFile;
using testing::ScratchFolder;

template <class F>
Error Raised(F f) {
  try {
    f();
  } catch (const Error& e) {
    return e;
  }
  ADD_FAILURE() << "no vellum::Error raised";
  return Error(0, "");
}

std::string Drain(WholeFileReader& reader, std::size_t piece) {
  std::string out;
  std::string buffer(piece, '\0');
  for (std::size_t n; (n = reader.Read(buffer.data(), buffer.size())) > 0;) {
    EXPECT_LE(n, piece);
    out.append(buffer.data(), n);
  }
  return out;
}

std::string Repeat(std::string_view unit, std::size_t times) {
  std::string out;
  for (std::size_t i = 0; i < times; ++i) out += unit;
  return out;
}

// Files whose trimming and unit alignment differ; the long ones cross the reader's internal
// chunk (256 KiB) with spaces on both sides of the boundary.
std::vector<std::pair<std::string, std::string>> Files() {
  const std::string big = Repeat("ab", 200000);  // 400000 bytes
  return {
      {"empty", ""},
      {"one byte", "x"},
      {"a space", " "},
      {"spaces only, even", "    "},
      {"spaces only, odd", "     "},
      {"spaces around, even", "  x y  "},
      {"spaces around, odd", "  xy  "},
      // Binary units are byte pairs: " \0" is a space unit there and not in text.
      {"space unit in binary", std::string("  \x20\x00"
                                           "ab\x20\x00",
                                           8)},
      {"every byte", EveryByte()},
      {"trailing spaces only ended by an odd byte", std::string("ab   ", 5)},
      {"long, spaces at the chunk boundary",
       std::string(131070, 'q') + std::string(10, ' ') + std::string(131072, 'r') + "   "},
      {"long run of leading spaces", std::string(300001, ' ') + "z" + std::string(300001, ' ')},
      {"long", big},
  };
}

// The content the reader promises, worked out here: binary, the bytes and one zero byte; text,
// each ANSI byte as its UTF-16LE unit. Trimmed: space units (20 00) dropped at the start and, at
// an even end, at the end; an odd last byte is no unit and keeps everything before it.
Bytes Expected(const std::string& bytes, bool binary, bool trim) {
  const Bytes content = binary ? bytes + '\0' : AnsiToUtf16le(bytes);
  if (!trim) return content;
  auto space = [&](std::size_t at) { return content[at] == ' ' && content[at + 1] == '\0'; };
  std::size_t begin = 0;
  std::size_t end = content.size();
  const std::size_t units_end = end - end % 2;
  while (begin + 2 <= units_end && space(begin) && (end % 2 == 0 || begin + 2 < end)) begin += 2;
  if (end % 2 == 0)
    while (end >= begin + 2 && space(end - 2)) end -= 2;
  return content.substr(begin, end - begin);
}

// Every mode, every trim, several piece sizes: the reader hands out the promised content, and
// ReadWholeFile (the reader drained whole) returns it.
TEST(WholeFileReader, GivesThePromisedContent) {
  ScratchFolder dir;
  for (const auto& [what, bytes] : Files()) {
    PutFile(dir / "f", bytes);
    for (bool binary : {true, false})
      for (bool trim : {false, true}) {
        const Bytes expected = Expected(bytes, binary, trim);
        EXPECT_EQ(ReadWholeFile(dir / "f", binary, trim), expected)
            << what << " binary=" << binary << " trim=" << trim;
        for (std::size_t piece : {1, 3, 4096, 1 << 20}) {
          WholeFileReader reader(dir / "f", binary, trim);
          EXPECT_EQ(reader.FileSize(), bytes.size());
          EXPECT_EQ(Drain(reader, piece), expected)
              << what << " binary=" << binary << " trim=" << trim << " piece=" << piece;
          EXPECT_FALSE(reader.failed());
        }
      }
  }
}

// Opening raises what ReadWholeFile raises, in its words, before anything is read.
TEST(WholeFileReader, OpeningFailuresAreReadWholeFilesOwn) {
  ScratchFolder dir;
  PutFile(dir / "plain", "x");
  struct Case {
    const char* why;
    std::string path;
    std::int32_t number;
  };
  const std::vector<Case> cases = {
      {"missing file", dir / "none", rt::kFileMissing},
      {"a folder is no file", dir.path(), rt::kFileMissing},
      {"a path through a file", dir / "plain/inner", rt::kFileMissing},
  };
  for (const auto& c : cases) {
    for (bool binary : {true, false}) {
      Error whole = Raised([&] { ReadWholeFile(c.path, binary, false); });
      Error streamed = Raised([&] { WholeFileReader reader(c.path, binary, false); });
      EXPECT_EQ(streamed.number(), c.number) << c.why;
      EXPECT_EQ(streamed.number(), whole.number()) << c.why;
      EXPECT_EQ(streamed.description(), whole.description()) << c.why;
      EXPECT_EQ(streamed.description(), "File: " + c.path + " does not Exist.") << c.why;
    }
  }
}

// ---- ContentStream: the signed content in pieces ---------------------------------------------

// Prefix, data part and trailer come out whole and in order, whatever the pieces: the data
// part exactly as the whole-file reader returns it.
TEST(ContentStream, PrefixDataTrailerInAnyPieces) {
  ScratchFolder dir;
  const std::string data = EveryByte() + Repeat("0123456789", 50000);
  PutFile(dir / "a.txt", data);
  const Bytes hash = Utf8ToUtf16le("0123ABCD");
  const Bytes trailer = signature_files::AttachedTrailer(dir / "a.txt");
  struct Case {
    const char* why;
    std::string_view prefix;
    std::string_view trailer;
  };
  const std::vector<Case> cases = {
      {"detached, no credentials", "", ""},
      {"detached with the hash", hash, ""},
      {"attached, no credentials", "", trailer},
      {"attached with the hash inside", hash, trailer},
  };
  for (const auto& c : cases)
    for (bool binary : {true, false}) {
      Bytes expected(c.prefix);
      expected += ReadWholeFile(dir / "a.txt", binary, false);
      expected += c.trailer;
      for (std::size_t piece : {1, 7, 65536}) {
        WholeFileReader reader(dir / "a.txt", binary, false);
        signature_files::ContentStream stream(c.prefix, reader, c.trailer);
        std::string got;
        std::string buffer(piece, '\0');
        for (std::size_t n; (n = stream.Read(buffer.data(), buffer.size())) > 0;)
          got.append(buffer.data(), n);
        EXPECT_EQ(got, expected) << c.why << " binary=" << binary << " piece=" << piece;
      }
    }
}

// ---- Writers ---------------------------------------------------------------------------------

// A streamed signature file appears whole at Commit, and not before; abandoned, it leaves the
// old file as it was and no temporary file behind.
TEST(WholeFileWriter, AppearsOnlyWhenCommitted) {
  ScratchFolder dir;
  PutFile(dir / "sig", "old signature");
  {
    WholeFileWriter writer(dir / "sig");
    writer.Write("new ");
    EXPECT_EQ(GetFile(dir / "sig"), "old signature");
  }
  EXPECT_EQ(GetFile(dir / "sig"), "old signature");
  EXPECT_EQ(dir.Listing(), std::vector<std::string>{"sig"});

  WholeFileWriter writer(dir / "sig");
  writer.Write("new ");
  writer.Write("message");
  writer.Commit();
  EXPECT_EQ(GetFile(dir / "sig"), "new message");
  EXPECT_EQ(dir.Listing(), std::vector<std::string>{"sig"});
}

// The same refusals as WriteWholeFile, before anything is created.
TEST(WholeFileWriter, RefusesWhatWriteWholeFileRefuses) {
  ScratchFolder dir;
  PutFile(dir / "plain", "x");
  EXPECT_EQ(Raised([] { WholeFileWriter w("/dev/null"); }).number(), rt::kPathFileAccess);
  EXPECT_EQ(Raised([&] { WholeFileWriter w(dir / "plain/inner"); }).number(),
            Raised([&] { WriteWholeFile(dir / "plain/inner", "x", true); }).number());
  EXPECT_EQ(dir.Listing(), std::vector<std::string>{"plain"});
}

// Text is converted piece by piece now; a character ANSI cannot hold far into a large text
// must still refuse the whole write and leave the old file whole.
TEST(WriteWholeFile, LargeTextConvertsInPiecesAndRefusesAsAWhole) {
  ScratchFolder dir;
  const std::string ansi = Repeat(EveryByte(), 1000);  // 256000 bytes, several pieces
  WriteWholeFile(dir / "t.txt", AnsiToUtf16le(ansi), false);
  EXPECT_EQ(GetFile(dir / "t.txt"), ansi);

  Bytes bad = AnsiToUtf16le(ansi);
  bad.append(Utf8ToUtf16le("\xE2\x82\xAC\xE2\x98\x83"));  // euro fits, the snowman does not
  EXPECT_EQ(Raised([&] { WriteWholeFile(dir / "t.txt", bad, false); }).number(), rt::kInvalidCall);
  EXPECT_EQ(GetFile(dir / "t.txt"), ansi);
  EXPECT_EQ(dir.Listing(), std::vector<std::string>{"t.txt"});
}

// Restored content written in pieces cut anywhere, units included: the file is WriteWholeFile's
// for the whole content, in both modes.
TEST(ContentFileWriter, PiecesCutAnywhereGiveTheWholeWrite) {
  ScratchFolder dir;
  const std::string ansi = Repeat(EveryByte(), 600);  // 153600 bytes, over two text pieces
  for (bool binary : {true, false}) {
    const Bytes content = binary ? ansi + '\x01' : AnsiToUtf16le(ansi);
    WriteWholeFile(dir / "whole", content, binary);
    for (std::size_t piece : {7, 65535, 65537}) {
      ContentFileWriter writer(dir / "pieces", binary);
      for (std::size_t at = 0; at < content.size(); at += piece)
        writer.Write(std::string_view(content).substr(at, piece));
      writer.Commit();
      EXPECT_EQ(GetFile(dir / "pieces"), GetFile(dir / "whole"))
          << "binary " << binary << " piece " << piece;
    }
  }
}

// Write never raises: Commit raises what WriteWholeFile raises, in its order (a special target
// before text ANSI cannot hold, that before a folder that cannot take the file), and nothing is
// left behind, nor by a writer dropped before Commit.
TEST(ContentFileWriter, FailuresWaitForCommitInWriteWholeFilesOrder) {
  ScratchFolder dir;
  PutFile(dir / "plain", "x");
  const Bytes snowman = Utf8ToUtf16le("a\xE2\x98\x83");
  struct Case {
    const char* why;
    std::string path;
    Bytes content;
    bool binary;
    std::int32_t number;
  } const cases[] = {
      {"a device", "/dev/null", snowman, false, rt::kPathFileAccess},
      {"text ANSI cannot hold, in a folder that is a file", dir / "plain/inner", snowman, false,
       rt::kInvalidCall},
      {"an odd last byte of text", dir / "odd", Bytes("a\0b", 3), false, rt::kInvalidCall},
      {"a folder that is a file", dir / "plain/inner", "x", true,
       Raised([&] { WriteWholeFile(dir / "plain/inner", "x", true); }).number()},
  };
  for (const auto& c : cases) {
    ContentFileWriter writer(c.path, c.binary);
    for (char byte : c.content) writer.Write(std::string_view(&byte, 1));
    EXPECT_EQ(Raised([&] { writer.Commit(); }).number(), c.number) << c.why;
    EXPECT_EQ(Raised([&] { WriteWholeFile(c.path, c.content, c.binary); }).number(), c.number)
        << c.why;
  }
  {
    ContentFileWriter dropped(dir / "dropped", true);
    dropped.Write("never committed");
  }
  EXPECT_EQ(dir.Listing(), std::vector<std::string>{"plain"});
}

}  // namespace
}  // namespace vellum
