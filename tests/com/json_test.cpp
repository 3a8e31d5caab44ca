// The JSON texts that cross the binary interface: what the writer escapes, and a reader that
// takes the whole grammar and refuses malformed or hostile text.
#include <gtest/gtest.h>

#include "library/com/json.h"
#include "library/platform/error.h"

namespace vellum::com::json {
namespace {

TEST(Json, QuoteEscapesWhatMustNotStayRaw) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"plain", "\"plain\""},
      {"say \"hi\"", "\"say \\\"hi\\\"\""},
      {"back\\slash", "\"back\\\\slash\""},
      {"line\r\nbreak\ttab", "\"line\\r\\nbreak\\ttab\""},
      // An escape sequence in a subject must reach a terminal as text, not as a command.
      {"CN=\x1b[31mred", "\"CN=\\u001b[31mred\""},
      {std::string("nul\0x", 5), "\"nul\\u0000x\""},
      {"del\x7f", "\"del\\u007f\""},
      {"caf\xc3\xa9", "\"caf\xc3\xa9\""},  // UTF-8 passes as it is
  };
  for (const auto& [raw, quoted] : cases) {
    EXPECT_EQ(Quote(raw), quoted);
    EXPECT_EQ(Value::Parse(quoted).AsText(), raw) << quoted;
  }
}

// Names reach the writer from file systems and certificates that promise no UTF-8: every byte
// that is not part of a valid sequence becomes U+FFFD, so the object still parses.
TEST(Json, QuoteReplacesWhatIsNoUtf8) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"\xA3"
       "12",
       "\"\\ufffd12\""},                                         // a Windows-1252 byte
      {"\xC0\xAF", "\"\\ufffd\\ufffd\""},                        // an overlong form
      {"\xED\xA0\x80", "\"\\ufffd\\ufffd\\ufffd\""},             // a surrogate
      {"\xE2\x82", "\"\\ufffd\\ufffd\""},                        // a cut sequence
      {"\xF4\x90\x80\x80", "\"\\ufffd\\ufffd\\ufffd\\ufffd\""},  // past U+10FFFF
      {"\x80x", "\"\\ufffdx\""},                                 // a stray continuation byte
      {"\xF0\x9F\x94\x91", "\"\xF0\x9F\x94\x91\""},              // four bytes, valid
  };
  for (const auto& [raw, quoted] : cases) {
    EXPECT_EQ(Quote(raw), quoted);
    EXPECT_NO_THROW(Value::Parse(quoted)) << quoted;
  }
}

TEST(Json, WriterAndReaderAgree) {
  const std::string text = ObjectWriter()
                               .Text("name", "Ann \"A\" Lee")
                               .Bool("ok", true)
                               .Bool("bad", false)
                               .Number("when", -1700000000LL)
                               .Null("none")
                               .Raw("list", Array({"1", Quote("two"), "{}", "[]"}))
                               .Close();
  const Value v = Value::Parse(text);
  EXPECT_EQ(v["name"].AsText(), "Ann \"A\" Lee");
  EXPECT_TRUE(v["ok"].AsBool());
  EXPECT_FALSE(v["bad"].AsBool());
  EXPECT_EQ(v["when"].AsText(), "-1700000000");
  EXPECT_TRUE(v["none"].IsNull());
  EXPECT_TRUE(v.Has("none"));
  EXPECT_FALSE(v.Has("absent"));
  EXPECT_TRUE(v["absent"].IsNull());
  ASSERT_EQ(v["list"].AsArray().size(), 4U);
  EXPECT_EQ(v["list"].AsArray()[1].AsText(), "two");
  EXPECT_EQ(v["list"].AsArray()[2].kind(), Value::Kind::kObject);
}

TEST(Json, ReaderTakesEscapesAndBlanks) {
  const Value v = Value::Parse(" { \"a\" : [ \"\\u00e9\\ud83d\\ude00\\/\" , 1.5e3 ] } \n");
  EXPECT_EQ(v["a"].AsArray()[0].AsText(), "\xc3\xa9\xf0\x9f\x98\x80/");
  EXPECT_EQ(v["a"].AsArray()[1].AsText(), "1.5e3");
}

TEST(Json, MalformedTextIsRefused) {
  const std::vector<std::string> bad = {
      "",
      "{",
      "{\"a\":}",
      "{\"a\" 1}",
      "[1,]",
      "\"open",
      "\"\\x\"",
      "\"\\ud800\"",
      "\"raw\nline\"",
      "{} {}",
      "tru",
      "-",
      "{\"a\":1,}",
      "[\"\\u12\"]",
      "nul",
      std::string(100, '['),  // nesting beyond any report's
  };
  for (const auto& text : bad) {
    EXPECT_THROW(Value::Parse(text), Error) << text;
  }
  // A value of the wrong kind is refused when read, not silently converted.
  EXPECT_THROW(Value::Parse("1").AsArray(), Error);
  EXPECT_THROW(Value::Parse("[]")["a"], Error);
  EXPECT_THROW(Value::Parse("\"x\"").AsBool(), Error);
}

}  // namespace
}  // namespace vellum::com::json
