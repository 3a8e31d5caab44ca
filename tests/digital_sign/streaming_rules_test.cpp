// The pieces that let signing and verifying work through a file without holding it: the
// streaming reader must hand out exactly what the whole-file reader returns, the content
// stream exactly what SignedContent lays out, and the streaming writers must keep the
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

// Every mode, every trim, several piece sizes: the content must be ReadWholeFile's.
TEST(WholeFileReader, GivesExactlyWhatReadWholeFileGives) {
  ScratchFolder dir;
  for (const auto& [what, bytes] : Files()) {
    PutFile(dir / "f", bytes);
    for (bool binary : {true, false})
      for (bool trim : {false, true}) {
        const Bytes whole = ReadWholeFile(dir / "f", binary, trim);
        for (std::size_t piece : {1, 3, 4096, 1 << 20}) {
          WholeFileReader reader(dir / "f", binary, trim);
          EXPECT_EQ(reader.FileSize(), bytes.size());
          EXPECT_EQ(Drain(reader, piece), whole)
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

// Prefix, data part and trailer come out as SignedContent lays them out, whatever the pieces.
TEST(ContentStream, MatchesSignedContent) {
  ScratchFolder dir;
  const std::string data = EveryByte() + Repeat("0123456789", 50000);
  PutFile(dir / "a.txt", data);
  const Bytes hash = Utf8ToUtf16le("0123ABCD");
  struct Case {
    const char* why;
    bool detached;
    bool encrypt;
    std::string_view hash;
  };
  const std::vector<Case> cases = {
      {"detached, no credentials", true, false, ""},
      {"detached with the hash", true, false, hash},
      {"attached, no credentials", false, false, ""},
      {"attached with the hash inside", false, false, hash},
      {"attached, encrypted: no hash", false, true, hash},
  };
  for (const auto& c : cases)
    for (bool binary : {true, false}) {
      const Bytes expected = signature_files::SignedContent(
          c.detached, c.encrypt, c.hash, ReadWholeFile(dir / "a.txt", binary, false),
          dir / "a.txt");
      const std::string_view prefix = c.encrypt ? std::string_view() : c.hash;
      const Bytes trailer = c.detached ? Bytes() : signature_files::AttachedTrailer(dir / "a.txt");
      for (std::size_t piece : {1, 7, 65536}) {
        WholeFileReader reader(dir / "a.txt", binary, false);
        signature_files::ContentStream stream(prefix, reader, trailer);
        std::string got;
        std::string buffer(piece, '\0');
        for (std::size_t n; (n = stream.Read(buffer.data(), buffer.size())) > 0;)
          got.append(buffer.data(), n);
        EXPECT_EQ(got, expected) << c.why << " binary=" << binary << " piece=" << piece;
      }
    }
}

// The trailer refuses what CarriedName refuses, so streamed attached signing stops at the
// same step as before.
TEST(ContentStream, TrailerRefusesWhatCarriedNameRefuses) {
  const std::vector<std::string> refused = {"no-separator.txt", "/folder/",
                                            "/f/" + std::string(100, 'n')};
  for (const auto& name : refused)
    EXPECT_EQ(Raised([&] { signature_files::AttachedTrailer(name); }).number(), rt::kInvalidCall)
        << name;
  EXPECT_EQ(signature_files::AttachedTrailer("/d/a.txt"), Utf8ToUtf16le("a.txt05"));
}

// The view form takes the content apart exactly as the copying form does, faults included.
TEST(TakeAttachedContentView, AgreesWithTakeAttachedContent) {
  const Bytes hash = Utf8ToUtf16le("H1");
  const std::vector<Bytes> contents = {
      Utf8ToUtf16le("H1data") + signature_files::AttachedTrailer("/d/a.txt"),
      Bytes("H\0"
            "1\0"
            "xyz\0",
            8) +
          signature_files::AttachedTrailer("/d/b.bin"),
      Utf8ToUtf16le("XXdata") + signature_files::AttachedTrailer("/d/a.txt"),  // wrong hash
      Utf8ToUtf16le("H1data7"),                                                // bad trailer
      Utf8ToUtf16le("H1..02"),                                                 // unsafe name
  };
  for (const auto& content : contents)
    for (bool binary : {true, false}) {
      auto copied = signature_files::TakeAttachedContent(content, hash, binary);
      auto viewed = signature_files::TakeAttachedContentView(content, hash, binary);
      EXPECT_EQ(viewed.fault, copied.fault);
      EXPECT_EQ(viewed.data, copied.data);
      EXPECT_EQ(viewed.name, copied.name);
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

}  // namespace
}  // namespace vellum
