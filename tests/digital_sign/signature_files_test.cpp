#include "library/digital_sign/signature_files.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <optional>
#include <string>
#include <vector>

#include "library/digital_sign/whole_file.h"
#include "library/platform/error.h"
#include "library/platform/text.h"
#include "tests/digital_sign/scratch_folder.h"

namespace vellum::signature_files {
namespace {

using namespace std::string_literals;
using testing::EveryByte;
using testing::GetFile;
using testing::PutFile;
using testing::ScratchFolder;

Bytes U(std::string_view utf8) {
  return Utf8ToUtf16le(utf8);
}

std::optional<std::int32_t> RaisedNumber(auto f) {
  try {
    f();
  } catch (const Error& e) {
    return e.number();
  }
  return std::nullopt;
}

// The content to sign as the signing side streams it: `prefix`, the file as the signing side
// reads it, and for attached content the trailer.
Bytes Streamed(std::string_view prefix, const std::string& file, bool binary, bool attached) {
  WholeFileReader reader(file, binary, false);
  const Bytes trailer = attached ? AttachedTrailer(file) : Bytes();
  ContentStream stream(prefix, reader, trailer);
  Bytes out;
  char buffer[4096];
  for (std::size_t n; (n = stream.Read(buffer, sizeof buffer)) > 0;) out.append(buffer, n);
  return out;
}

// ---- Names on the signing side -----------------------------------------------------------

// The last "." of the whole path counts, also one in a folder name.
TEST(SignatureNames, BaseCutsAtTheLastDotOfThePath) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"/data/report.pdf", "/data/report"},
      {"/data/README", "/data/README"},
      {"/In.old/pay", "/In"},
      {"/data/archive.tar.gz", "/data/archive.tar"},
      {"/data/.profile", "/data/"},
      {"", ""},
  };
  for (const auto& [path, base] : cases) EXPECT_EQ(SignatureBase(path), base) << path;
}

// An empty suffix takes the mode's default and hands it back; a caller's suffix is verbatim.
TEST(SignatureNames, SuffixDefaultsAndWriteBack) {
  struct Case {
    std::string input;
    std::string suffix;
    bool detached;
    std::string name;
    std::string suffix_after;
  };
  const std::vector<Case> cases = {
      {"/data/report.pdf", "", true, "/data/report_DSignature.txt", "_DSignature.txt"},
      {"/data/report.pdf", "", false, "/data/report_ContentSignature.txt", "_ContentSignature.txt"},
      {"/data/report.pdf", "_Signature.pdf", true, "/data/report_Signature.pdf", "_Signature.pdf"},
      {"/data/README", "", true, "/data/README_DSignature.txt", "_DSignature.txt"},
      {"/In.old/pay", "", true, "/In_DSignature.txt", "_DSignature.txt"},
      {"/data/a.txt", " x ", false, "/data/a x ", " x "},  // not trimmed either
  };
  for (Case c : cases) {
    EXPECT_EQ(SignatureFileName(c.input, c.suffix, c.detached), c.name) << c.input;
    EXPECT_EQ(c.suffix, c.suffix_after) << c.input;
  }
}

// Every occurrence of "." + ext, exact case, then outer spaces trimmed.
TEST(SignatureNames, CompressedName) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"/data/report_ContentSignature.txt", "/data/report_ContentSignature.trel"},
      {"/a.txt/b_ContentSignature.txt", "/a.trel/b_ContentSignature.trel"},
      {"/d.1/report_sig", "/d.trel1/report_sig"},  // no extension: every "." replaced
      {"/d/A.TXT_x.txt", "/d/A.TXT_x.trel"},       // letter case counts
      {"/d/a.txtx_sig.txt", "/d/a.trelx_sig.trel"},
      {"  /d/r_sig.txt  ", "/d/r_sig.trel"},
  };
  for (const auto& [path, compressed] : cases)
    EXPECT_EQ(CompressedFileName(path), compressed) << path;
}

// ---- Content handed to the signing component ---------------------------------------------

TEST(ContentLayout, LengthDigitsAreAlwaysTwo) {
  const std::vector<std::pair<std::size_t, std::string>> cases = {
      {0, "00"}, {5, "05"}, {9, "09"}, {10, "10"}, {42, "42"}, {99, "99"}};
  for (const auto& [n, digits] : cases) EXPECT_EQ(LengthDigits(n), digits) << n;
}

TEST(ContentLayout, PrefixDataTrailer) {
  ScratchFolder dir;
  PutFile(dir / "a.txt", "text");  // ANSI on disk, UTF-16LE once read as text
  const Bytes hash = U("0A1B");
  struct Case {
    std::string reason;
    Bytes prefix;
    bool attached;
    Bytes content;
  };
  const std::vector<Case> cases = {
      {"attached, no credentials", "", true, U("texta.txt05")},
      {"attached, hash in front", hash, true, U("0A1Btexta.txt05")},
      {"detached, hash", hash, false, U("0A1Btext")},
      {"detached, no credentials", "", false, U("text")},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Streamed(c.prefix, dir / "a.txt", false, c.attached), c.content) << c.reason;
}

// Binary data sits as raw bytes between the UTF-16LE hash and trailer, odd length or not (the
// reader's zero byte included).
TEST(ContentLayout, BinaryDataIsPlacedUnpadded) {
  ScratchFolder dir;
  PutFile(dir / "report.pdf", "\x01\x02"s);
  EXPECT_EQ(Streamed(U("H"), dir / "report.pdf", true, true),
            "H\0\x01\x02\x00"s + U("report.pdf10"));
}

// Names the trailer cannot carry, or the reader would refuse, are refused before signing.
TEST(ContentLayout, TrailerRefusesNamesItCannotCarry) {
  const std::string n99(99, 'n');
  struct Case {
    std::string reason;
    std::string input;
    bool refused;
  };
  const std::vector<Case> cases = {
      {"bare name, no separator", "a.txt", true},
      {"path ending in a separator", "/data/", true},
      {"parent folder", "/data/..", true},
      {"zero character", "/data/a\0b"s, true},
      {"invalid UTF-8", "/data/\xE9t\xE9", true},
      {"100 characters", "/d/" + n99 + "x", true},
      {"99 characters", "/d/" + n99, false},
      {"99 units with a non-ASCII letter", "/d/\u00E9" + std::string(98, 'n'), false},
      {"surrogate pair counts two units", "/d/\U0001F600" + std::string(98, 'n'), true},
  };
  for (const Case& c : cases) {
    auto number = RaisedNumber([&] { AttachedTrailer(c.input); });
    EXPECT_EQ(number, c.refused ? std::optional<std::int32_t>(rt::kInvalidCall) : std::nullopt)
        << c.reason;
  }
  EXPECT_EQ(AttachedTrailer("/d/a.txt"), U("a.txt05"));
}

// ---- Round trips: sign-side layout, reader, restored file --------------------------------

// A file goes through the reader, the attached layout, the take-apart and the writer, and
// must come back byte-identical in both modes, with and without a credentials hash.
TEST(AttachedContent, RoundTripRestoresTheFileExactly) {
  ScratchFolder dir;
  const std::vector<std::pair<std::string, std::string>> files = {
      {"empty", ""},
      {"one byte", "x"},
      {"three bytes", "abc"},
      {"every byte value", EveryByte()},
      {"CRLF text", "line one\r\nline two\r\n"},
      {"ends in zero", "ab\0"s},
      {"ends in spaces", "ab  "},
  };
  const std::vector<std::string> names = {"a.txt", "report.pdf", "nine.txt1", std::string(99, 'q'),
                                          "\u00E9t\u00E9 r\u00E9sum\u00E9.doc"};
  for (bool binary : {false, true}) {
    for (const Bytes& hash : {Bytes(), U("3F2A9C")}) {
      for (const auto& [reason, bytes] : files) {
        for (const std::string& name : names) {
          SCOPED_TRACE(reason + " / " + name + (binary ? " / binary" : " / text") +
                       (hash.empty() ? "" : " / hash"));
          PutFile(dir / name, bytes);
          const Bytes content = Streamed(hash, dir / name, binary, true);
          CarriedContentView carried = TakeAttachedContentView(content, hash, binary);
          ASSERT_EQ(carried.fault, ContentFault::kNone);
          EXPECT_EQ(carried.name, name);
          std::string restored =
              RestoredFilePath(dir / "x_ContentSignature.txt", carried.name, true);
          EXPECT_EQ(restored, dir / name);
          std::filesystem::remove(restored);
          WriteWholeFile(restored, carried.data, binary);
          EXPECT_EQ(GetFile(restored), bytes);
          std::filesystem::remove(restored);
        }
      }
    }
  }
}

// ---- Taking hostile content apart --------------------------------------------------------

// Every trailer that does not parse is a malformed trailer, nothing is taken out of it.
TEST(AttachedContent, HostileTrailersAreRefused) {
  struct Case {
    std::string reason;
    Bytes content;
    ContentFault fault;
  };
  const std::vector<Case> cases = {
      {"name of nothing", U("data00"), ContentFault::kUnsafeName},
      {"99 over short content", U("data a.txt99"), ContentFault::kMalformedTrailer},
      {"N one past the content", U("ab02"), ContentFault::kNone},
      {"N just over", U("ab03"), ContentFault::kMalformedTrailer},
      {"minus one", U("data-1"), ContentFault::kMalformedTrailer},
      {"letters", U("a.txtxx"), ContentFault::kMalformedTrailer},
      {"space before a digit", U("data 5"), ContentFault::kMalformedTrailer},
      {"plus sign", U("data+5"), ContentFault::kMalformedTrailer},
      {"single digit only", U("5"), ContentFault::kMalformedTrailer},
      {"empty content", "", ContentFault::kMalformedTrailer},
      {"three bytes", "05\0"s, ContentFault::kMalformedTrailer},
      {"digit with a high byte", U("dataa.txt0") + "\x35\x01"s, ContentFault::kMalformedTrailer},
      {"fullwidth digits", U("a.txt\uFF10\uFF15"), ContentFault::kMalformedTrailer},
  };
  for (const Case& c : cases) {
    CarriedContentView carried = TakeAttachedContentView(c.content, "", false);
    EXPECT_EQ(carried.fault, c.fault) << c.reason;
    if (c.fault != ContentFault::kNone) {
      EXPECT_TRUE(carried.data.empty()) << c.reason;
      EXPECT_TRUE(carried.name.empty()) << c.reason;
    }
  }
}

// A carried name must be a plain file name: anything else could write outside the folder.
TEST(AttachedContent, HostileNamesAreRefused) {
  struct Case {
    std::string reason;
    Bytes name;
  };
  const std::vector<Case> cases = {
      {"parent then name", U("../x")},
      {"sub folder", U("a/b")},
      {"absolute", U("/etc/passwd")},
      {"empty", U("")},
      {"parent", U("..")},
      {"the folder itself", U(".")},
      {"zero character", U("a"s + '\0' + "b")},
      {"lone surrogate", "a\0\x00\xD8"s},
      {"line feed", U("a\nb")},
      {"carriage return", U("ok.txt\rfake.txt")},
      {"escape sequence", U("\x1b[32mvalid.txt")},
      {"tab", U("a\tb")},
      {"delete", U("a\x7f")},
      {"C1 control", Bytes("a\0\x9b\0", 4)},
  };
  for (const Case& c : cases) {
    Bytes content = U("payload") + c.name + U(LengthDigits(c.name.size() / 2));
    CarriedContentView carried = TakeAttachedContentView(content, "", false);
    EXPECT_EQ(carried.fault, ContentFault::kUnsafeName) << c.reason;
    EXPECT_TRUE(carried.data.empty()) << c.reason;
  }
  // Dots inside a name are ordinary.
  for (std::string plain : {"a..b", "..x", "...", ".profile", "a\\b"}) {
    Bytes content = U("p") + U(plain) + U(LengthDigits(plain.size()));
    EXPECT_EQ(TakeAttachedContentView(content, "", false).fault, ContentFault::kNone) << plain;
  }
}

// The hash prefix is compared exactly; a mismatch is its own fault so the caller can say the
// user id or password is wrong.
TEST(AttachedContent, CredentialsPrefix) {
  const Bytes hash = U("ABCDEF12");
  struct Case {
    std::string reason;
    Bytes content;
    ContentFault fault;
  };
  const std::vector<Case> cases = {
      {"matches", U("ABCDEF12dataa.txt05"), ContentFault::kNone},
      {"absent", U("dataa.txt05"), ContentFault::kCredentialsMismatch},
      {"lower case", U("abcdef12dataa.txt05"), ContentFault::kCredentialsMismatch},
      {"shorter than the hash", U("ABCD"), ContentFault::kCredentialsMismatch},
      {"hash then bad trailer", U("ABCDEF12data"), ContentFault::kMalformedTrailer},
      {"hash alone is no trailer", hash, ContentFault::kMalformedTrailer},
  };
  for (const Case& c : cases) {
    CarriedContentView carried = TakeAttachedContentView(c.content, hash, false);
    EXPECT_EQ(carried.fault, c.fault) << c.reason;
    if (c.fault == ContentFault::kNone) {
      EXPECT_EQ(carried.data, U("data"));
      EXPECT_EQ(carried.name, "a.txt");
    }
  }
  // Without an expected hash the prefix is simply part of the data.
  const Bytes unchecked = U("ABCDEF12dataa.txt05");
  EXPECT_EQ(TakeAttachedContentView(unchecked, "", false).data, U("ABCDEF12data"));
}

// Only binary content loses the reader's zero byte, and only when it is there.
TEST(AttachedContent, ReadersZeroByteIsDroppedOnlyInBinaryMode) {
  struct Case {
    std::string reason;
    Bytes data;
    bool binary;
    Bytes restored;
  };
  const std::vector<Case> cases = {
      {"binary with the zero", "abc\0"s, true, "abc"},
      {"binary, only the zero", "\0"s, true, ""},
      {"binary signed without the zero", "abc", true, "abc"},
      {"binary, file ends in zero too", "ab\0\0"s, true, "ab\0"s},
      {"text keeps a final U+0000", U("ab") + "\0\0"s, false, U("ab") + "\0\0"s},
  };
  for (const Case& c : cases) {
    const Bytes content = c.data + U("a.bin05");
    CarriedContentView carried = TakeAttachedContentView(content, "", c.binary);
    ASSERT_EQ(carried.fault, ContentFault::kNone) << c.reason;
    EXPECT_EQ(carried.data, c.restored) << c.reason;
  }
}

// ---- Names on the verifying side ---------------------------------------------------------

TEST(RestoredFilePath, SignatureFolderOrTemporaryFolder) {
  const char* saved = std::getenv("TMPDIR");
  std::string saved_value = saved ? saved : "";
  setenv("TMPDIR", "/scratch/tmp/", 1);
  EXPECT_EQ(RestoredFilePath("/in/x_ContentSignature.txt", "a.txt", true), "/in/a.txt");
  EXPECT_EQ(RestoredFilePath("/in/x_ContentSignature.txt", "a.txt", false), "/scratch/tmp/a.txt");
  EXPECT_EQ(RestoredFilePath("x_ContentSignature.txt", "a.txt", true), "a.txt");
  EXPECT_EQ(RestoredFilePath("/x.sig", "a.txt", true), "/a.txt");
  setenv("TMPDIR", "/", 1);
  EXPECT_EQ(RestoredFilePath("/in/x.sig", "a.txt", false), "/a.txt");
  if (saved) {
    setenv("TMPDIR", saved_value.c_str(), 1);
  } else {
    unsetenv("TMPDIR");
  }
}

}  // namespace
}  // namespace vellum::signature_files
