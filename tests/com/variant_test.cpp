// The automation coercions the methods rely on, and the lifetime rules of BSTR and VARIANT.
#include <gtest/gtest.h>

#include "library/com/bstr.h"
#include "library/com/guid.h"
#include "library/com/variant.h"
#include "library/platform/error.h"

namespace vellum::com {
namespace {

int ErrorNumberOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const Error& e) {
    return e.number();
  }
  return 0;
}

TEST(Bstr, KeepsExactByteLengthIncludingOddLengths) {
  for (std::string bytes : {std::string(), std::string("\x01", 1), std::string("abc"),
                            std::string("\0\0\0", 3), std::string("abcd")}) {
    Bstr b = Bstr::FromBytes(bytes);
    EXPECT_EQ(SysStringByteLen(b.get()), bytes.size());
    EXPECT_EQ(SysStringLen(b.get()), bytes.size() / 2);
    EXPECT_EQ(std::string(BstrBytes(b.get())), bytes);
  }
  EXPECT_EQ(SysStringByteLen(nullptr), 0u);  // a null BSTR is the empty text
}

TEST(Bstr, Utf8RoundTripAndWriteBack) {
  Bstr b("Zoë \xE2\x82\xAC");
  EXPECT_EQ(b.Utf8(), "Zoë \xE2\x82\xAC");
  EXPECT_EQ(SysStringLen(b.get()), 5u);
  BSTR slot = nullptr;
  StoreBstrUtf8(&slot, "first");
  StoreBstrUtf8(&slot, "second");  // frees the first
  EXPECT_EQ(BstrToUtf8(slot), "second");
  SysFreeString(slot);
}

TEST(Guid, RoundTripsTheRegistryForm) {
  const std::string text = "{FFFD4692-4029-467A-905E-B37DC8AE3F0E}";
  auto g = GuidFromString(text);
  ASSERT_TRUE(g.has_value());
  EXPECT_EQ(GuidToString(*g), text);
  EXPECT_TRUE(GuidFromString("{fffd4692-4029-467a-905e-b37dc8ae3f0e}").has_value());
  for (const char* bad :
       {"", "FFFD4692-4029-467A-905E-B37DC8AE3F0E", "{FFFD4692-4029-467A-905E-B37DC8AE3F0G}",
        "{FFFD4692+4029-467A-905E-B37DC8AE3F0E}"})
    EXPECT_FALSE(GuidFromString(bad).has_value()) << bad;
}

// Conversions to text: what a method sees when it reads an argument as text.
TEST(Coercion, ToText) {
  struct Case {
    Variant v;
    std::string expected;
  };
  Case cases[] = {
      {Variant(), ""},
      {Variant::Text("abc"), "abc"},
      {Variant::Short(-7), "-7"},
      {Variant::Long(123456), "123456"},
      {Variant::Bool(true), "True"},
      {Variant::Bool(false), "False"},
  };
  for (auto& c : cases) EXPECT_EQ(ToUtf8(c.v.value()), c.expected);
  // A missing argument or an array is no text.
  EXPECT_EQ(ErrorNumberOf([] { ToUtf8(Variant::Missing().value()); }), rt::kTypeMismatch);
  EXPECT_EQ(ErrorNumberOf([] { ToUtf8(Variant::Array({"a"}).value()); }), rt::kTypeMismatch);
}

TEST(Coercion, ToBoolAndToLong) {
  EXPECT_FALSE(ToBool(Variant().value()));
  EXPECT_TRUE(ToBool(Variant::Short(1).value()));
  EXPECT_TRUE(ToBool(Variant::Text("True").value()));
  EXPECT_TRUE(ToBool(Variant::Text("-1").value()));
  EXPECT_FALSE(ToBool(Variant::Text("false").value()));
  EXPECT_EQ(ErrorNumberOf([] { ToBool(Variant::Text("yes").value()); }), rt::kTypeMismatch);
  EXPECT_EQ(ErrorNumberOf([] { ToBool(Variant::Missing().value()); }), rt::kTypeMismatch);

  EXPECT_EQ(ToLong(Variant().value()), 0);
  EXPECT_EQ(ToLong(Variant::Bool(true).value()), -1);
  EXPECT_EQ(ToLong(Variant::Text(" 42 ").value()), 42);
  EXPECT_EQ(ToLong(Variant::Text("2.5").value()), 2);  // half to even
  EXPECT_EQ(ToLong(Variant::Text("3.5").value()), 4);
  EXPECT_EQ(ToLong(Variant::Text("&H10").value()), 16);
  EXPECT_EQ(ErrorNumberOf([] { ToLong(Variant::Text("4x").value()); }), rt::kTypeMismatch);
  EXPECT_EQ(ErrorNumberOf([] { ToLong(Variant::Text("1e12").value()); }), rt::kOverflow);
  EXPECT_EQ(ErrorNumberOf([] { ToLong(Variant::Missing().value()); }), rt::kTypeMismatch);
}

// Comparisons the methods make with their flags: binary text comparison, and Booleans as
// -1/0 so that a check box's 1 is neither True nor False.
TEST(Coercion, EqualsTextIsBinaryAndNumericForNumbers) {
  EXPECT_TRUE(EqualsText(Variant::Text("Y").value(), "Y"));
  EXPECT_FALSE(EqualsText(Variant::Text("y").value(), "Y"));
  EXPECT_FALSE(EqualsText(Variant::Text("Y ").value(), "Y"));
  EXPECT_TRUE(EqualsText(Variant().value(), ""));
  EXPECT_FALSE(EqualsText(Variant().value(), "Y"));
  EXPECT_TRUE(EqualsText(Variant::Short(5).value(), "5"));
  EXPECT_EQ(ErrorNumberOf([] { EqualsText(Variant::Short(5).value(), "Y"); }), rt::kTypeMismatch);
  EXPECT_EQ(ErrorNumberOf([] { EqualsText(Variant::Missing().value(), "Y"); }), rt::kTypeMismatch);
}

TEST(Coercion, EqualsBoolComparesWithMinusOneAndZero) {
  EXPECT_TRUE(EqualsBool(Variant::Bool(true).value(), true));
  EXPECT_TRUE(EqualsBool(Variant::Bool(false).value(), false));
  EXPECT_TRUE(EqualsBool(Variant::Short(-1).value(), true));
  EXPECT_FALSE(EqualsBool(Variant::Short(1).value(), true));  // a check box's 1
  EXPECT_FALSE(EqualsBool(Variant::Short(1).value(), false));
  EXPECT_TRUE(EqualsBool(Variant().value(), false));
  EXPECT_TRUE(EqualsBool(Variant::Text("-1").value(), true));
  EXPECT_EQ(ErrorNumberOf([] { EqualsBool(Variant::Missing().value(), true); }), rt::kTypeMismatch);
  EXPECT_EQ(ErrorNumberOf([] { EqualsBool(Variant::Text("maybe").value(), true); }),
            rt::kTypeMismatch);
}

TEST(Coercion, FollowsReferences) {
  Variant target = Variant::Text("Y");
  Variant ref = Variant::RefTo(target.get());
  EXPECT_TRUE(EqualsText(ref.value(), "Y"));
  StoreText(ref.get(), "written");  // lands in the caller's own variable
  EXPECT_EQ(target.Utf8(), "written");
  EXPECT_EQ(ref.type(), VT_BYREF | VT_VARIANT);
}

TEST(SafeArray, ZeroBasedTextArrays) {
  Variant v = Variant::Array({"one", "two", ""});
  std::int32_t lower = -1, upper = -1;
  ASSERT_EQ(SafeArrayGetLBound(v.value().parray, 1, &lower), S_OK);
  ASSERT_EQ(SafeArrayGetUBound(v.value().parray, 1, &upper), S_OK);
  EXPECT_EQ(lower, 0);
  EXPECT_EQ(upper, 2);
  EXPECT_EQ(ReadTextArray(v.value()), (std::vector<std::string>{"one", "two", ""}));
  Variant copy = v;  // deep copy: both free their own elements
  EXPECT_EQ(ReadTextArray(copy.value()), ReadTextArray(v.value()));
  std::int32_t out_of_range = 3;
  Variant element;
  EXPECT_TRUE(Failed(SafeArrayGetElement(v.value().parray, &out_of_range, element.get())));
  Variant empty = Variant::Array({});
  ASSERT_EQ(SafeArrayGetUBound(empty.value().parray, 1, &upper), S_OK);
  EXPECT_EQ(upper, -1);
}

TEST(Dates, GeneralForm) {
  // 25569 is 01/01/1970; .5 is noon.
  EXPECT_EQ(FormatGeneralDate(25569.0), "01/01/1970");
  EXPECT_EQ(FormatGeneralDate(25569.5), "01/01/1970 12:00:00");
  EXPECT_EQ(FormatGeneralDate(45658.0 + 13.0 / 24 + 5.0 / 1440 + 9.0 / 86400),
            "01/01/2025 13:05:09");
}

}  // namespace
}  // namespace vellum::com
