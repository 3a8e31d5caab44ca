// Assertions on the library's error type.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "library/platform/error.h"

namespace vellum::testing {

// Runs `fn` and returns the number of the vellum::Error it raised; fails the test (and
// returns 0) when it raised nothing or something else.
template <typename Fn>
std::int32_t ErrorNumberOf(Fn&& fn) {
  try {
    fn();
  } catch (const Error& e) {
    return e.number();
  } catch (const std::exception& e) {
    ADD_FAILURE() << "raised a foreign exception: " << e.what();
    return 0;
  }
  ADD_FAILURE() << "raised nothing";
  return 0;
}

inline std::string Hex32(std::int32_t n) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(n));
  return text;
}

}  // namespace vellum::testing

// EXPECT_HRESULT(code, statement): the statement raises vellum::Error with that number.
#define EXPECT_HRESULT(code, statement)     \
  EXPECT_EQ(::vellum::testing::Hex32(code), \
            ::vellum::testing::Hex32(::vellum::testing::ErrorNumberOf([&] { statement; })))
