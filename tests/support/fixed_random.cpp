// The legacy RAND_METHOD hook is the one way to replace the source of every draw in a process
// that has already used OpenSSL's own generator; it is deprecated but still honoured by 3.0.
#define OPENSSL_SUPPRESS_DEPRECATED
#include "tests/support/fixed_random.h"

#include <openssl/rand.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <random>

namespace vellum::testing {
namespace {

std::mutex lock;
std::map<int, std::uint64_t> drawn;  // draws so far, by length
const RAND_METHOD* saved = nullptr;

int Bytes(unsigned char* out, int length) {
  std::lock_guard<std::mutex> guard(lock);
  std::mt19937_64 engine(static_cast<std::uint64_t>(length) * 1000003u + drawn[length]++);
  for (int i = 0; i < length; ++i) out[i] = static_cast<unsigned char>(engine() >> 24);
  return 1;
}

int Seed(const void*, int) {
  return 1;
}
int Add(const void*, int, double) {
  return 1;
}
int Status() {
  return 1;
}

const RAND_METHOD kFixed = {Seed, Bytes, nullptr, Add, Bytes, Status};

}  // namespace

FixedRandomness::FixedRandomness() {
  std::lock_guard<std::mutex> guard(lock);
  drawn.clear();
  saved = RAND_get_rand_method();
  RAND_set_rand_method(&kFixed);
}

FixedRandomness::~FixedRandomness() {
  RAND_set_rand_method(saved);
}

}  // namespace vellum::testing
