// JSON texts (RFC 8259) as some methods hand structured answers across the binary interface:
// one BSTR holding an object, which every client language can read.
//
// The writer escapes what RFC 8259 section 7 requires, and every other control character as
// \u00XX, so a subject name holding a line break or an escape sequence stays one harmless
// string. The reader takes the whole grammar (UTF-8 input, \u escapes with surrogate pairs)
// and keeps numbers as their text.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vellum::com::json {

// The quoted JSON form of a UTF-8 text.
std::string Quote(std::string_view utf8);

// Builds one object member by member: Object().Add("a", 1).Text("b", "x").Close().
class ObjectWriter {
 public:
  ObjectWriter& Text(std::string_view name, std::string_view utf8);
  ObjectWriter& Bool(std::string_view name, bool value);
  ObjectWriter& Number(std::string_view name, long long value);
  ObjectWriter& Null(std::string_view name);
  ObjectWriter& Raw(std::string_view name, std::string_view json);  // a value already in JSON
  std::string Close() const { return "{" + body_ + "}"; }

 private:
  void Name(std::string_view name);
  std::string body_;
};

// "[a,b,…]" of values already in JSON.
std::string Array(const std::vector<std::string>& json_values);

class Value {
 public:
  enum class Kind { kNull, kBool, kNumber, kText, kArray, kObject };

  Kind kind() const { return kind_; }
  bool IsNull() const { return kind_ == Kind::kNull; }
  // Each accessor raises vellum::Error (type mismatch) when the value is of another kind.
  bool AsBool() const;
  const std::string& AsText() const;  // a text, or a number's digits
  const std::vector<Value>& AsArray() const;
  // A member; a missing member reads as null.
  const Value& operator[](std::string_view name) const;
  bool Has(std::string_view name) const;

  static Value Parse(std::string_view text);  // raises vellum::Error for malformed text
  // The value as JSON text again (members in name order).
  std::string Serialize() const;

 private:
  friend class Parser;
  Kind kind_ = Kind::kNull;
  bool flag_ = false;
  std::string text_;
  std::vector<Value> items_;
  std::map<std::string, Value, std::less<>> members_;
};

}  // namespace vellum::com::json
