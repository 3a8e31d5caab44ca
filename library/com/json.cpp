#include "library/com/json.h"

#include <cctype>
#include <cstdint>

#include "library/platform/error.h"
#include "library/platform/text.h"

namespace vellum::com::json {
namespace {

[[noreturn]] void Malformed(const char* what) {
  throw Error::Runtime(rt::kTypeMismatch, std::string("Malformed JSON: ") + what);
}

// The length of the UTF-8 sequence starting at `at`, 0 when it is no valid one (a stray
// continuation byte, a cut sequence, an overlong form, a surrogate, past U+10FFFF).
std::size_t Utf8SequenceLength(std::string_view s, std::size_t at) {
  const auto b = static_cast<unsigned char>(s[at]);
  const std::size_t n = b < 0x80         ? 1
                        : (b >> 5) == 6  ? 2
                        : (b >> 4) == 14 ? 3
                        : (b >> 3) == 30 ? 4
                                         : 0;
  if (n == 0 || at + n > s.size()) return 0;
  for (std::size_t i = 1; i < n; ++i)
    if ((static_cast<unsigned char>(s[at + i]) & 0xC0) != 0x80) return 0;
  const auto b1 = static_cast<unsigned char>(n > 1 ? s[at + 1] : 0);
  if ((n == 2 && b < 0xC2) || (n == 3 && b == 0xE0 && b1 < 0xA0) ||
      (n == 3 && b == 0xED && b1 >= 0xA0) || (n == 4 && b == 0xF0 && b1 < 0x90) ||
      (n == 4 && (b > 0xF4 || (b == 0xF4 && b1 >= 0x90))))
    return 0;
  return n;
}

}  // namespace

// A byte that is no UTF-8 (a Windows-1252 name, a cut sequence) is written as U+FFFD, so the
// text always parses.
std::string Quote(std::string_view utf8) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out = "\"";
  for (std::size_t at = 0; at < utf8.size();) {
    const std::size_t length = Utf8SequenceLength(utf8, at);
    if (length != 1) {
      out += length == 0 ? std::string_view("\\ufffd") : utf8.substr(at, length);
      at += length == 0 ? 1 : length;
      continue;
    }
    const char ch = utf8[at++];
    const auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          out += "\\u00";
          out += kHex[c >> 4];
          out += kHex[c & 0x0F];
        } else {
          out += ch;
        }
    }
  }
  return out + "\"";
}

void ObjectWriter::Name(std::string_view name) {
  if (!body_.empty()) body_ += ',';
  body_ += Quote(name) + ':';
}

ObjectWriter& ObjectWriter::Text(std::string_view name, std::string_view utf8) {
  Name(name);
  body_ += Quote(utf8);
  return *this;
}

ObjectWriter& ObjectWriter::Bool(std::string_view name, bool value) {
  Name(name);
  body_ += value ? "true" : "false";
  return *this;
}

ObjectWriter& ObjectWriter::Number(std::string_view name, long long value) {
  Name(name);
  body_ += std::to_string(value);
  return *this;
}

ObjectWriter& ObjectWriter::Null(std::string_view name) {
  Name(name);
  body_ += "null";
  return *this;
}

ObjectWriter& ObjectWriter::Raw(std::string_view name, std::string_view json) {
  Name(name);
  body_ += json;
  return *this;
}

std::string Array(const std::vector<std::string>& json_values) {
  std::string out = "[";
  for (std::size_t i = 0; i < json_values.size(); ++i) out += (i > 0 ? "," : "") + json_values[i];
  return out + "]";
}

// A recursive-descent reader over the whole text; nesting is bounded so a hostile text cannot
// exhaust the stack.
class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  Value Document() {
    Value v = ReadValue(0);
    SkipBlanks();
    if (at_ != text_.size()) Malformed("text after the value");
    return v;
  }

 private:
  static constexpr int kDeepest = 64;

  void SkipBlanks() {
    while (at_ < text_.size() &&
           (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\n' || text_[at_] == '\r'))
      ++at_;
  }
  char Peek() {
    SkipBlanks();
    if (at_ >= text_.size()) Malformed("unexpected end");
    return text_[at_];
  }
  void Expect(char c) {
    if (Peek() != c) Malformed("unexpected character");
    ++at_;
  }
  bool Word(std::string_view word) {
    if (text_.substr(at_, word.size()) != word) return false;
    at_ += word.size();
    return true;
  }

  Value ReadValue(int depth) {
    if (depth > kDeepest) Malformed("nested too deeply");
    Value v;
    const char c = Peek();
    if (c == '{') {
      v.kind_ = Value::Kind::kObject;
      ++at_;
      if (Peek() == '}') {
        ++at_;
        return v;
      }
      for (;;) {
        if (Peek() != '"') Malformed("member name expected");
        std::string name = ReadString();
        Expect(':');
        v.members_[name] = ReadValue(depth + 1);
        if (Peek() == ',') {
          ++at_;
          continue;
        }
        Expect('}');
        return v;
      }
    }
    if (c == '[') {
      v.kind_ = Value::Kind::kArray;
      ++at_;
      if (Peek() == ']') {
        ++at_;
        return v;
      }
      for (;;) {
        v.items_.push_back(ReadValue(depth + 1));
        if (Peek() == ',') {
          ++at_;
          continue;
        }
        Expect(']');
        return v;
      }
    }
    if (c == '"') {
      v.kind_ = Value::Kind::kText;
      v.text_ = ReadString();
      return v;
    }
    if (Word("true") || Word("false")) {
      v.kind_ = Value::Kind::kBool;
      v.flag_ = text_[at_ - 1] == 'e' && text_[at_ - 4] == 't';
      return v;
    }
    if (Word("null")) return v;
    return ReadNumber();
  }

  Value ReadNumber() {
    const std::size_t start = at_;
    if (at_ < text_.size() && text_[at_] == '-') ++at_;
    const std::size_t digits = at_;
    while (at_ < text_.size() &&
           (std::isdigit(static_cast<unsigned char>(text_[at_])) != 0 || text_[at_] == '.' ||
            text_[at_] == 'e' || text_[at_] == 'E' || text_[at_] == '+' || text_[at_] == '-'))
      ++at_;
    if (at_ == digits || std::isdigit(static_cast<unsigned char>(text_[digits])) == 0)
      Malformed("value expected");
    Value v;
    v.kind_ = Value::Kind::kNumber;
    v.text_ = std::string(text_.substr(start, at_ - start));
    return v;
  }

  std::uint32_t Hex4() {
    if (text_.size() - at_ < 4) Malformed("short \\u escape");
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
      const char h = text_[at_++];
      value <<= 4;
      if (h >= '0' && h <= '9')
        value |= static_cast<std::uint32_t>(h - '0');
      else if (h >= 'a' && h <= 'f')
        value |= static_cast<std::uint32_t>(h - 'a' + 10);
      else if (h >= 'A' && h <= 'F')
        value |= static_cast<std::uint32_t>(h - 'A' + 10);
      else
        Malformed("bad \\u escape");
    }
    return value;
  }

  std::string ReadString() {
    ++at_;  // the opening quote
    std::string out;
    for (;;) {
      if (at_ >= text_.size()) Malformed("unterminated string");
      const char c = text_[at_++];
      if (c == '"') return out;
      if (static_cast<unsigned char>(c) < 0x20) Malformed("control character in a string");
      if (c != '\\') {
        out += c;
        continue;
      }
      if (at_ >= text_.size()) Malformed("unterminated escape");
      const char e = text_[at_++];
      switch (e) {
        case '"':
        case '\\':
        case '/':
          out += e;
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'u': {
          std::uint32_t cp = Hex4();
          if (cp >= 0xD800 && cp < 0xDC00 && text_.substr(at_, 2) == "\\u") {
            at_ += 2;
            const std::uint32_t low = Hex4();
            if (low < 0xDC00 || low > 0xDFFF) Malformed("bad surrogate pair");
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
          } else if (cp >= 0xD800 && cp < 0xE000) {
            Malformed("lone surrogate");
          }
          AppendUtf8(out, static_cast<char32_t>(cp));
          break;
        }
        default:
          Malformed("unknown escape");
      }
    }
  }

  std::string_view text_;
  std::size_t at_ = 0;
};

bool Value::AsBool() const {
  if (kind_ != Kind::kBool) Malformed("a Boolean expected");
  return flag_;
}

const std::string& Value::AsText() const {
  if (kind_ != Kind::kText && kind_ != Kind::kNumber) Malformed("a text expected");
  return text_;
}

const std::vector<Value>& Value::AsArray() const {
  if (kind_ != Kind::kArray) Malformed("an array expected");
  return items_;
}

const Value& Value::operator[](std::string_view name) const {
  static const Value kNull;
  if (kind_ != Kind::kObject) Malformed("an object expected");
  auto it = members_.find(name);
  return it != members_.end() ? it->second : kNull;
}

bool Value::Has(std::string_view name) const {
  return kind_ == Kind::kObject && members_.find(name) != members_.end();
}

std::string Value::Serialize() const {
  switch (kind_) {
    case Kind::kNull:
      return "null";
    case Kind::kBool:
      return flag_ ? "true" : "false";
    case Kind::kNumber:
      return text_;
    case Kind::kText:
      return Quote(text_);
    case Kind::kArray: {
      std::vector<std::string> items;
      for (const auto& item : items_) items.push_back(item.Serialize());
      return Array(items);
    }
    case Kind::kObject:
      break;
  }
  std::string out = "{";
  // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) on "literal" + std::string.
  for (const auto& [name, value] : members_) {
    if (out.size() > 1) out += ',';
    out += Quote(name);
    out += ':';
    out += value.Serialize();
  }
  out += '}';
  return out;
}

Value Value::Parse(std::string_view text) {
  return Parser(text).Document();
}

}  // namespace vellum::com::json
