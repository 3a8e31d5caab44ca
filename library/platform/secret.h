// Wiping secrets (passwords, credentials hashes) from memory before it is released.
#pragma once

#include <string>

namespace vellum::platform {

// Overwrites the characters with zeros in a way the compiler may not drop, then empties.
inline void Wipe(std::string& secret) {
  volatile char* p = secret.data();
  for (std::size_t i = 0; i < secret.size(); ++i) p[i] = 0;
  secret.clear();
}

// Holds a secret text and wipes it on every way out.
class SecretText {
 public:
  SecretText() = default;
  explicit SecretText(std::string text) : text_(std::move(text)) {}
  SecretText(const SecretText&) = delete;
  SecretText& operator=(const SecretText&) = delete;
  ~SecretText() { Wipe(text_); }
  std::string& get() { return text_; }
  const std::string& get() const { return text_; }

 private:
  std::string text_;
};

}  // namespace vellum::platform
