// Wiping secrets (passwords, credentials hashes, key material, private key files) from memory
// before it is released: one primitive, one holder.
#pragma once

#include <string.h>

#include <array>
#include <concepts>
#include <cstddef>
#include <string>
#include <utility>

namespace vellum::platform {

// Overwrites `size` bytes at `data` with zeros in a way the compiler may not drop.
inline void Wipe(void* data, std::size_t size) noexcept {
  if (data != nullptr && size > 0) explicit_bzero(data, size);
}

// A text's characters; the text is empty afterwards.
inline void Wipe(std::string& secret) noexcept {
  Wipe(secret.data(), secret.size());
  secret.clear();
}

// Key material in a fixed array.
template <std::size_t N>
void Wipe(std::array<unsigned char, N>& bytes) noexcept {
  Wipe(bytes.data(), bytes.size());
}

// Holds a secret and wipes it on every way out. `T` is any type for which a Wipe(T&) is found:
// a text or a key array here, the binary interface's texts and variants in com.
template <class T>
class Secret {
 public:
  Secret() = default;
  template <class... Args>
  requires std::constructible_from<T, Args...>
  explicit Secret(Args&&... args) : value_(std::forward<Args>(args)...) {}
  Secret(const Secret&) = delete;
  Secret& operator=(const Secret&) = delete;
  ~Secret() { Wipe(value_); }
  T& get() { return value_; }
  const T& get() const { return value_; }
  T* operator->() { return &value_; }
  const T* operator->() const { return &value_; }

 private:
  T value_{};
};

using SecretText = Secret<std::string>;

}  // namespace vellum::platform
