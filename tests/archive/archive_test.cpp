// The archive component with real libzip on scratch folders: round trips, refused names,
// passwords that slip past libzip's short check, damaged and oversized archives. Every failure
// case also checks that the extraction left nothing behind and an older archive stayed whole.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include "library/archive/archive.h"
#include "library/archive/entry_names.h"
#include "tests/archive/archive_test_util.h"

namespace vellum::archive {
namespace {

using namespace vellum::archive::testing;

struct EntryInfo {
  std::string name;
  std::uint16_t encryption = 0;
  std::int32_t compression = 0;
};

std::vector<EntryInfo> Entries(const std::string& path) {
  int error = 0;
  ZipArchive za(zip_open(path.c_str(), ZIP_RDONLY, &error));
  std::vector<EntryInfo> out;
  if (!za) return out;
  for (zip_int64_t i = 0; i < zip_get_num_entries(za.get(), 0); ++i) {
    zip_stat_t st;
    zip_stat_index(za.get(), static_cast<zip_uint64_t>(i), 0, &st);
    out.push_back({st.name, st.encryption_method, static_cast<std::int32_t>(st.comp_method)});
  }
  return out;
}

// ---- compressing ----------------------------------------------------------------------------

// What a caller can put in: empty, text, binary larger than one read buffer, a non-ASCII name.
TEST(CompressFile, RoundTripsUnderAes256Deflate) {
  struct Case {
    const char* why;
    std::string name;
    std::string data;
  } cases[] = {
      {"empty file", "empty.txt", ""},
      {"short text", "report_ContentSignature.txt", "MIIB signed text\r\n"},
      {"binary over several buffers", "blob.bin", Pattern(300000, 7)},
      {"UTF-8 name", "r\xC3\xA9sum\xC3\xA9.txt", "caf\xC3\xA9"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    ScratchFolder dir;
    WriteBytes(dir / c.name, c.data);
    Result made = CompressFile(dir / c.name, dir / "out.trel", "s3cret");
    ASSERT_EQ(made.code, kOk) << made.text;
    EXPECT_TRUE(made.text.empty());

    auto entries = Entries(dir / "out.trel");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, c.name);
    EXPECT_EQ(entries[0].encryption, ZIP_EM_AES_256);
    EXPECT_EQ(entries[0].compression, ZIP_CM_DEFLATE);

    std::vector<std::string> extracted;
    Result back = ExtractArchive(dir / "out.trel", dir / "UnZip", "s3cret", &extracted);
    ASSERT_EQ(back.code, kOk) << back.text;
    EXPECT_EQ(extracted, std::vector<std::string>{dir / "UnZip/" + c.name});
    EXPECT_EQ(ReadBytes(dir / "UnZip/" + c.name), c.data);
    EXPECT_EQ(Tree(dir / "UnZip"), std::set<std::string>{c.name});
  }
}

TEST(CompressFile, ReplacesAnOlderArchive) {
  ScratchFolder dir;
  WriteBytes(dir / "a.txt", "new content");
  WriteBytes(dir / "out.trel", "an older archive");
  ASSERT_EQ(CompressFile(dir / "a.txt", dir / "out.trel", "pw").code, kOk);
  ASSERT_EQ(ExtractArchive(dir / "out.trel", dir / "x", "pw", nullptr).code, kOk);
  EXPECT_EQ(ReadBytes(dir / "x/a.txt"), "new content");
}

// A failed compression writes nothing and leaves an older archive byte for byte.
TEST(CompressFile, FailuresLeaveNoArchiveAndTheOldOneWhole) {
  struct Case {
    const char* why;
    std::string input;    // relative to the scratch folder
    std::string archive;  // relative
    std::string password;
    std::int32_t code;
  } cases[] = {
      {"input missing", "missing.txt", "old.trel", "Zq9!secret", kInputUnreadable},
      {"input is a folder", "folder", "old.trel", "Zq9!secret", kInputUnreadable},
      {"no password: never an unprotected archive", "in.txt", "old.trel", "", kNoPassword},
      {"archive folder missing", "in.txt", "nowhere/out.trel", "Zq9!secret", kArchiveNotWritten},
      {"archive folder is a file", "in.txt", "in.txt/out.trel", "Zq9!secret", kArchiveNotWritten},
      {"archive path is a folder", "in.txt", "folder", "Zq9!secret", kArchiveNotWritten},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    ScratchFolder dir;
    WriteBytes(dir / "in.txt", "data");
    WriteBytes(dir / "old.trel", "old archive bytes");
    fs::create_directory(dir / "folder");
    std::set<std::string> before = Tree(dir.path());

    Result r = CompressFile(dir / c.input, dir / c.archive, c.password);
    EXPECT_EQ(r.code, c.code);
    EXPECT_EQ(r.text.rfind(ResultText(c.code), 0), 0u) << r.text;
    EXPECT_EQ(Tree(dir.path()), before);
    EXPECT_EQ(ReadBytes(dir / "old.trel"), "old archive bytes");
    if (!c.password.empty()) {
      EXPECT_EQ(r.text.find(c.password), std::string::npos);
    }
  }
}

// ---- refusing entries -------------------------------------------------------------------------

TEST(EntryNames, HostileNamesAreRefusedPlainOnesSplit) {
  struct Case {
    const char* why;
    std::string name;
    bool is_folder;
    bool safe;
    std::vector<std::string> parts;
  } cases[] = {
      {"plain file", "a.txt", false, true, {"a.txt"}},
      {"file in a subfolder", "sub/a.txt", false, true, {"sub", "a.txt"}},
      {"harmless dot and doubled slash", "./sub//a.txt", false, true, {"sub", "a.txt"}},
      {"folder entry", "sub/", true, true, {"sub"}},
      {"parent reference", "../escape.txt", false, false, {}},
      {"parent reference deeper in", "sub/../../escape.txt", false, false, {}},
      {"parent reference at the end", "sub/..", false, false, {}},
      {"absolute", "/abs/x", false, false, {}},
      {"backslash separator", "..\\escape.txt", false, false, {}},
      {"drive letter", "c:/x", false, false, {}},
      {"drive letter, relative", "C:x", false, false, {}},
      {"empty name", "", false, false, {}},
      {"only a dot", ".", false, false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    auto parts = SafeComponents(c.name, c.is_folder);
    ASSERT_EQ(parts.has_value(), c.safe);
    if (c.safe) {
      EXPECT_EQ(*parts, c.parts);
    }
  }
}

// Each hostile archive also holds a harmless entry before the bad one: refusal happens before
// anything is written, so not even that one appears, and no folder is made.
TEST(ExtractArchive, RefusesEntriesThatWouldLeaveTheFolder) {
  struct Case {
    const char* why;
    EntrySpec bad;
  } cases[] = {
      {"parent reference", {"../escape.txt", "x"}},
      {"parent reference in a subfolder", {"sub/../../escape.txt", "x"}},
      {"absolute path", {"/abs/x", "x"}},
      {"absolute path to a scratch file", {"", "x"}},  // filled in below
      {"backslash path", {"..\\escape.txt", "x"}},
      {"symbolic link entry", {"link", "/etc/passwd", ZIP_EM_NONE, "", 0120777}},
      {"device entry", {"dev", "", ZIP_EM_NONE, "", 0020666}},
      {"encrypted parent reference", {"../escape.txt", "x", ZIP_EM_AES_256, "pw"}},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.why);
    ScratchFolder dir;
    fs::create_directory(dir / "in");
    if (c.bad.name.empty()) c.bad.name = dir / "escape.txt";
    MakeZip(dir / "in/evil.zip", {{"good.txt", "fine"}, c.bad});
    std::set<std::string> before = Tree(dir.path());

    Result r = ExtractArchive(dir / "in/evil.zip", dir / "in/UnZip", "pw", nullptr);
    EXPECT_EQ(r.code, kUnsafeEntry) << r.text;
    EXPECT_EQ(Tree(dir.path()), before);
    EXPECT_FALSE(fs::exists(dir / "escape.txt"));
  }
}

// A link already in an existing extraction folder must not carry a write out of it.
TEST(ExtractArchive, DoesNotFollowALinkInsideTheFolder) {
  ScratchFolder dir;
  fs::create_directories(dir / "UnZip");
  fs::create_directories(dir / "outside");
  fs::create_directory_symlink(dir / "outside", dir / "UnZip/sub");
  MakeZip(dir / "a.zip", {{"first.txt", "1"}, {"sub/planted.txt", "x"}});

  Result r = ExtractArchive(dir / "a.zip", dir / "UnZip", "", nullptr);
  EXPECT_EQ(r.code, kUnsafeEntry) << r.text;
  EXPECT_TRUE(Tree(dir / "outside").empty());
  EXPECT_EQ(Tree(dir / "UnZip"), std::set<std::string>{"sub"});
}

TEST(ExtractArchive, RefusesALinkStoredByZip) {
  ScratchFolder dir;
  WriteBytes(dir / "target.txt", "t");
  fs::create_symlink("/etc/passwd", dir / "link");
  ASSERT_EQ(Shell("cd " + Quote(dir.path()) + " && zip -y -q links.zip target.txt link"), 0);
  Result r = ExtractArchive(dir / "links.zip", dir / "UnZip", "", nullptr);
  EXPECT_EQ(r.code, kUnsafeEntry) << r.text;
  EXPECT_FALSE(fs::exists(dir / "UnZip"));
}

TEST(ExtractArchive, WritesSubfoldersInside) {
  ScratchFolder dir;
  MakeZip(dir / "a.zip", {{"top.txt", "1"}, {"d/", ""}, {"d/e/deep.txt", "2"}});
  std::vector<std::string> extracted;
  Result r = ExtractArchive(dir / "a.zip", dir / "UnZip", "", &extracted);
  ASSERT_EQ(r.code, kOk) << r.text;
  EXPECT_EQ(Tree(dir / "UnZip"), (std::set<std::string>{"top.txt", "d/", "d/e/", "d/e/deep.txt"}));
  EXPECT_EQ(extracted,
            (std::vector<std::string>{dir / "UnZip/top.txt", dir / "UnZip/d/e/deep.txt"}));
  EXPECT_EQ(ReadBytes(dir / "UnZip/d/e/deep.txt"), "2");
}

// ---- passwords ----------------------------------------------------------------------------

// The plain cases: libzip's short check already says no. A file that was in the folder before
// keeps its content even when the archive holds one of the same name.
TEST(ExtractArchive, WrongPasswordIs527AndLeavesTheFolderAsItWas) {
  struct Case {
    const char* why;
    std::uint16_t method;
    std::string given;
  } cases[] = {
      {"AES-256, wrong password", ZIP_EM_AES_256, "wrong"},
      {"AES-256, no password", ZIP_EM_AES_256, ""},
      {"traditional, wrong password", ZIP_EM_TRAD_PKWARE, "wrong"},
      {"traditional, no password", ZIP_EM_TRAD_PKWARE, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    ScratchFolder dir;
    fs::create_directory(dir / "UnZip");
    WriteBytes(dir / "UnZip/keep.txt", "kept");
    MakeZip(dir / "a.zip", {{"keep.txt", "secret data", c.method, "right"},
                            {"other.txt", "more", c.method, "right"}});
    Result r = ExtractArchive(dir / "a.zip", dir / "UnZip", c.given, nullptr);
    EXPECT_EQ(r.code, kWrongPassword);
    EXPECT_EQ(r.text.find("right"), std::string::npos);
    EXPECT_EQ(Tree(dir / "UnZip"), std::set<std::string>{"keep.txt"});
    EXPECT_EQ(ReadBytes(dir / "UnZip/keep.txt"), "kept");
  }
}

// AES: forge the 2-byte verifier so that a wrong password passes libzip's short check (what a
// wrong password does by chance once in 65,536 tries). The entry decrypts to garbage and only
// the authentication code at its end tells; the file must not count. 7z writes AE-2 entries
// (no CRC, the code is the only check), libzip AE-1; stored and deflated data differ in what
// the garbage does on its way.
TEST(ExtractArchive, AesWrongPasswordPastTheShortCheckIs527) {
  struct Case {
    const char* why;
    std::string make;  // shell command run in the scratch folder writing a.zip from big.bin
    bool compressible;
  } cases[] = {
      {"libzip, deflated", "", true},
      {"7z AE-2, deflated", "7z a -tzip -mem=AES256 -pright a.zip big.bin", true},
      {"7z AE-2, stored", "7z a -tzip -mem=AES256 -pright a.zip big.bin", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    ScratchFolder dir;
    // Far more than one read buffer, so garbage reaches the disk before the check fails.
    std::string data =
        c.compressible ? std::string(200000, 'a') + Pattern(1000, 3) : Pattern(200000, 3);
    if (c.make.empty()) {
      MakeZip(dir / "a.zip", {{"big.bin", data, ZIP_EM_AES_256, "right"}});
    } else {
      WriteBytes(dir / "big.bin", data);
      ASSERT_EQ(Shell("cd " + Quote(dir.path()) + " && " + c.make), 0);
      fs::remove(dir / "big.bin");
    }
    ASSERT_EQ(ExtractArchive(dir / "a.zip", dir / "check", "right", nullptr).code, kOk);
    fs::remove_all(dir / "check");

    std::string bytes = ReadBytes(dir / "a.zip");
    Layout at = FirstEntryLayout(bytes);
    // WinZip AES-256: 16 bytes of salt, then the verifier = the last 2 bytes of
    // PBKDF2-HMAC-SHA1(password, salt, 1000 rounds, 2 * 32 + 2 bytes).
    unsigned char derived[66];
    ASSERT_EQ(PKCS5_PBKDF2_HMAC_SHA1("wrong", 5,
                                     reinterpret_cast<const unsigned char*>(bytes.data() + at.data),
                                     16, 1000, sizeof derived, derived),
              1);
    bytes[at.data + 16] = static_cast<char>(derived[64]);
    bytes[at.data + 17] = static_cast<char>(derived[65]);
    WriteBytes(dir / "a.zip", bytes);

    Result r = ExtractArchive(dir / "a.zip", dir / "UnZip", "wrong", nullptr);
    EXPECT_EQ(r.code, kWrongPassword) << r.text;
    EXPECT_FALSE(fs::exists(dir / "UnZip"));
  }
}

// With the right password, changed ciphertext fails the authentication code just as a wrong
// password does; the two cannot be told apart and both count as a mismatch.
TEST(ExtractArchive, ChangedAesDataIsRefused) {
  for (const char* make : {"", "7z a -tzip -mem=AES256 -pright a.zip big.bin"}) {
    SCOPED_TRACE(*make ? make : "libzip");
    ScratchFolder dir;
    std::string data = Pattern(5000, 4);
    if (*make == '\0') {
      MakeZip(dir / "a.zip", {{"big.bin", data, ZIP_EM_AES_256, "right"}});
    } else {
      WriteBytes(dir / "big.bin", data);
      ASSERT_EQ(Shell("cd " + Quote(dir.path()) + " && " + make), 0);
    }
    std::string bytes = ReadBytes(dir / "a.zip");
    bytes[FirstEntryLayout(bytes).data + 18 + 100] ^= 0x01;
    WriteBytes(dir / "a.zip", bytes);
    Result r = ExtractArchive(dir / "a.zip", dir / "UnZip", "right", nullptr);
    EXPECT_EQ(r.code, kWrongPassword) << r.text;
    EXPECT_FALSE(fs::exists(dir / "UnZip"));
  }
}

// WinZip AES entries are decrypted in bulk, many counter blocks per cipher call, and inflated
// here rather than by libzip: entries of every key length, stored and deflated, AE-1 and AE-2,
// of a size that crosses many pieces and key-stream refills and ends inside a block, come back
// byte for byte.
TEST(ExtractArchive, AesEntriesOfAnySizeComeBackExactly) {
  struct Case {
    const char* why;
    std::uint16_t method;  // libzip writes the archive with it; 0: `make` does
    std::string make;
    bool compressible;
  } const cases[] = {
      {"libzip AES-256, deflated", ZIP_EM_AES_256, "", true},
      {"libzip AES-128, deflated", ZIP_EM_AES_128, "", true},
      {"libzip AES-192, incompressible", ZIP_EM_AES_192, "", false},
      {"7z AE-2, deflated", 0, "7z a -tzip -mem=AES256 -pright a.zip big.bin", true},
      {"7z AE-2, stored", 0, "7z a -tzip -mem=AES256 -pright a.zip big.bin", false},
  };
  for (const Case& c : cases) {
    for (std::size_t size : {std::size_t{1}, std::size_t{17}, (std::size_t{3} << 20) + 7}) {
      SCOPED_TRACE(std::string(c.why) + ", " + std::to_string(size) + " bytes");
      ScratchFolder dir;
      std::string data = Pattern(size, 5);
      if (c.compressible)
        for (std::size_t i = 0; i < data.size(); i += 3) data[i] = 'a';
      if (c.method != 0) {
        MakeZip(dir / "a.zip", {{"big.bin", data, c.method, "right"}});
      } else {
        WriteBytes(dir / "big.bin", data);
        ASSERT_EQ(Shell("cd " + Quote(dir.path()) + " && " + c.make), 0);
        fs::remove(dir / "big.bin");
      }
      Result r = ExtractArchive(dir / "a.zip", dir / "UnZip", "right", nullptr);
      ASSERT_EQ(r.code, kOk) << r.text;
      EXPECT_TRUE(ReadBytes(dir / "UnZip/big.bin") == data);
    }
  }
}

// The checks at the end of an AES entry: its authentication code over the ciphertext, and for
// AE-1 entries (libzip's) the plaintext's CRC besides. Any of them failing refuses the entry
// as a mismatch and leaves nothing, also when everything before it decrypted well.
TEST(ExtractArchive, AesEntryFailingItsFinalChecksLeavesNothing) {
  struct Case {
    const char* why;
    bool from_7z;
    int change;  // 0: last byte of the code, 1: last ciphertext byte, 2: the CRC fields
  } const cases[] = {
      {"libzip: the code", false, 0},
      {"libzip: the last ciphertext byte", false, 1},
      {"libzip: a CRC that does not match", false, 2},
      {"7z: the code", true, 0},
      {"7z: the last ciphertext byte", true, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    ScratchFolder dir;
    const std::string data = Pattern(300000, 6);
    if (!c.from_7z) {
      MakeZip(dir / "a.zip", {{"big.bin", data, ZIP_EM_AES_256, "right"}});
    } else {
      WriteBytes(dir / "big.bin", data);
      ASSERT_EQ(Shell("cd " + Quote(dir.path()) +
                      " && 7z a -tzip -mem=AES256 -pright a.zip "
                      "big.bin >/dev/null"),
                0);
      fs::remove(dir / "big.bin");
    }
    std::string bytes = ReadBytes(dir / "a.zip");
    const Layout at = FirstEntryLayout(bytes);
    const std::size_t stored = Le32(bytes, at.central + 20);
    if (c.change == 0) bytes[at.data + stored - 1] ^= 0x01;
    if (c.change == 1) bytes[at.data + stored - 11] ^= 0x01;
    if (c.change == 2) {
      ASSERT_NE(Le32(bytes, at.central + 16), 0u) << "libzip writes AE-1, with a CRC";
      const std::uint32_t wrong = Le32(bytes, at.central + 16) ^ 0x00010000u;
      PutLe32(bytes, 14, wrong);
      PutLe32(bytes, at.central + 16, wrong);
    }
    WriteBytes(dir / "a.zip", bytes);
    Result r = ExtractArchive(dir / "a.zip", dir / "UnZip", "right", nullptr);
    EXPECT_EQ(r.code, kWrongPassword) << r.text;
    EXPECT_FALSE(fs::exists(dir / "UnZip"));
  }
}

// Traditional encryption checks one byte: among a few thousand wrong passwords some pass it.
TEST(ExtractArchive, TraditionalWrongPasswordPastTheShortCheckIs527) {
  ScratchFolder dir;
  WriteBytes(dir / "big.txt", Pattern(100000, 9));
  ASSERT_EQ(Shell("cd " + Quote(dir.path()) + " && zip -q -P right a.zip big.txt"), 0);

  int slipped = 0;
  for (int i = 0; i < 4000 && slipped < 3; ++i) {
    std::string guess = "wrong" + std::to_string(i);
    int error = 0;
    ZipArchive za(zip_open((dir / "a.zip").c_str(), ZIP_RDONLY, &error));
    ZipEntryReader probe(zip_fopen_index_encrypted(za.get(), 0, 0, guess.c_str()));
    if (!probe) continue;  // the short check caught it
    ++slipped;
    SCOPED_TRACE(guess);
    Result r = ExtractArchive(dir / "a.zip", dir / "UnZip", guess, nullptr);
    EXPECT_EQ(r.code, kWrongPassword) << r.text;
    EXPECT_FALSE(fs::exists(dir / "UnZip"));
  }
  EXPECT_GT(slipped, 0) << "no wrong password passed the one-byte check";
}

// ---- damaged, foreign and missing archives ----------------------------------------------------

TEST(ExtractArchive, UnreadableArchivesFailWithTheirOwnCodes) {
  struct Case {
    const char* why;
    std::string archive;  // relative; prepared below
    std::string folder;   // relative
    std::int32_t code;
  } cases[] = {
      {"archive missing", "missing.zip", "UnZip", kArchiveUnreadable},
      {"archive is a folder", "folder", "UnZip", kArchiveUnreadable},
      {"not a zip archive", "text.zip", "UnZip", kNotAnArchive},
      {"truncated archive", "cut.zip", "UnZip", kNotAnArchive},
      {"unencrypted entry with a changed byte", "flipped.zip", "UnZip", kDamagedEntry},
      {"folder's parent is a file", "good.zip", "text.zip/UnZip", kFolderNotWritten},
      {"folder's parent missing", "good.zip", "no/UnZip", kFolderNotWritten},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    ScratchFolder dir;
    fs::create_directory(dir / "folder");
    WriteBytes(dir / "text.zip", "plain text, not an archive");
    WriteBytes(dir / "in.txt", Pattern(50000, 1));
    ASSERT_EQ(Shell("cd " + Quote(dir.path()) + " && zip -q -0 good.zip in.txt"), 0);
    std::string good = ReadBytes(dir / "good.zip");
    WriteBytes(dir / "cut.zip", good.substr(0, good.size() / 2));
    std::string flipped = good;
    flipped[FirstEntryLayout(good).data + 1000] ^= 0x40;
    WriteBytes(dir / "flipped.zip", flipped);
    std::set<std::string> before = Tree(dir.path());

    Result r = ExtractArchive(dir / c.archive, dir / c.folder, "", nullptr);
    EXPECT_EQ(r.code, c.code) << r.text;
    EXPECT_EQ(r.text.rfind(ResultText(c.code), 0), 0u);
    EXPECT_EQ(Tree(dir.path()), before);
  }
}

// ---- size bound -------------------------------------------------------------------------------

TEST(ExtractionBound, FloorRatioAndCap) {
  EXPECT_EQ(ExtractionBound(0), kExpansionFloor);
  EXPECT_EQ(ExtractionBound(1000), kExpansionFloor);
  EXPECT_EQ(ExtractionBound(1 << 20), std::uint64_t{1 << 20} * kMaxExpansion);
  EXPECT_EQ(ExtractionBound(std::uint64_t{1} << 40), kExpansionCap);
}

// Many central directory records pointing at one deflated run of zeros: an archive of a few
// kilobytes that claims hundreds of megabytes (well past 10,000:1).
TEST(ExtractArchive, RefusesOverlappingEntryBomb) {
  ScratchFolder dir;
  MakeZip(dir / "one.zip", {{"b00", std::string(8 << 20, '\0')}});
  std::string one = ReadBytes(dir / "one.zip");
  Layout at = FirstEntryLayout(one);
  std::string local = one.substr(0, at.central);
  std::string record = one.substr(at.central, at.end_of_central - at.central);
  const int kCopies = 40;
  std::string central;
  for (int i = 0; i < kCopies; ++i) {
    std::string r = record;
    std::string name = (i < 10 ? "b0" : "b") + std::to_string(i);
    r.replace(46, 3, name);  // same length as "b00"
    central += r;
  }
  std::string end = one.substr(at.end_of_central);
  PutLe16(end, 8, kCopies);
  PutLe16(end, 10, kCopies);
  PutLe32(end, 12, static_cast<std::uint32_t>(central.size()));
  PutLe32(end, 16, static_cast<std::uint32_t>(local.size()));
  std::string bomb = local + central + end;
  WriteBytes(dir / "bomb.zip", bomb);
  ASSERT_GT((std::uint64_t{8} << 20) * kCopies / bomb.size(), 10000u);

  Result r = ExtractArchive(dir / "bomb.zip", dir / "UnZip", "", nullptr);
  EXPECT_EQ(r.code, kTooLarge) << r.text;
  EXPECT_FALSE(fs::exists(dir / "UnZip"));
}

// A size field that lies low gets past the count before writing; libzip itself would let the
// entry grow past it, so the bytes produced are held to it.
TEST(ExtractArchive, RefusesEntryWhoseSizeFieldLies) {
  ScratchFolder dir;
  MakeZip(dir / "one.zip", {{"z", std::string(4 << 20, '\0')}});
  std::string bytes = ReadBytes(dir / "one.zip");
  Layout at = FirstEntryLayout(bytes);
  PutLe32(bytes, 22, 1000);               // local header, uncompressed size
  PutLe32(bytes, at.central + 24, 1000);  // central directory, uncompressed size
  WriteBytes(dir / "liar.zip", bytes);

  Result r = ExtractArchive(dir / "liar.zip", dir / "UnZip", "", nullptr);
  EXPECT_EQ(r.code, kDamagedEntry) << r.text;
  EXPECT_FALSE(fs::exists(dir / "UnZip"));
}

}  // namespace
}  // namespace vellum::archive
