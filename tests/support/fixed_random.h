// Repeatable random values for tests that compare two ways of making an encrypted message: while
// a FixedRandomness lives, every random draw of OpenSSL comes from a fixed sequence per draw
// length. A draw of n bytes gives the next value of the n-byte sequence, so a run of draws is
// repeated exactly by a later run that starts from a fresh FixedRandomness, even when other
// draws of other lengths (an RSA key's blinding) come in between.
#pragma once

namespace vellum::testing {

class FixedRandomness {
 public:
  FixedRandomness();
  ~FixedRandomness();
  FixedRandomness(const FixedRandomness&) = delete;
  FixedRandomness& operator=(const FixedRandomness&) = delete;
};

}  // namespace vellum::testing
