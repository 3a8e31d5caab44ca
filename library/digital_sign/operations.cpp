// What the signing and verifying operations share: the credentials hash, the flag and text
// readings, and the filling of their message tables.
#include "library/digital_sign/operations.h"

#include <vector>

#include "library/crypto/hashed_data.h"
#include "library/platform/secret.h"

namespace vellum {

std::string TextOrEmpty(const VARIANT* v) {
  if (v == nullptr) return {};
  try {
    return com::ToUtf8(*v);
  } catch (const Error&) {
    return {};
  }
}

Bytes CredentialsHash(const VARIANT& sUseriD, const VARIANT& sPassword, std::int32_t algorithm) {
  crypto::HashedData hashed;
  hashed.SetAlgorithm(algorithm);
  platform::SecretText credentials(com::ToTextBytes(sUseriD) + com::ToTextBytes(sPassword));
  hashed.Hash(credentials.get());
  return Utf8ToUtf16le(hashed.Value());
}

bool Flag(const VARIANT& v, const char* name) {
  if (com::EqualsBool(v, true)) return true;
  if (com::EqualsBool(v, false)) return false;
  throw Error::Runtime(rt::kInvalidCall, RuntimeDescription(rt::kInvalidCall) + ": " + name +
                                             " must be True or False");
}

std::string Fill(std::string_view pattern, std::span<const Field> fields) {
  std::string text;
  while (!pattern.empty()) {
    const std::size_t open = pattern.find('{');
    const std::size_t close = pattern.find('}', open);
    if (close == std::string_view::npos) break;
    const std::string_view name = pattern.substr(open + 1, close - open - 1);
    text.append(pattern.substr(0, open));
    for (const Field& field : fields)
      if (field.name == name) text.append(field.value);
    pattern.remove_prefix(close + 1);
  }
  return text.append(pattern);
}

std::string FailureText(std::span<const StageTexts> table, int stage, const Error& e,
                        std::initializer_list<Field> fields) {
  const StageTexts* texts = &table.front();  // the first row stands for a stage not listed
  for (const StageTexts& row : table)
    if (row.stage == stage) texts = &row;
  std::vector<Field> all(fields);
  all.push_back({"desc", e.description()});
  return Fill(e.number() > 0 ? texts->runtime : texts->component, all);
}

}  // namespace vellum
