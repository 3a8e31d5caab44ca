// Taking attached content apart, on content a hostile signer chose: the first byte picks the
// mode and how much of the rest is the credentials hash the content must start with. The
// reader must refuse or give back a plain file name and a data part that really was inside
// the content; it must never crash or hand out a name that leaves the folder.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "library/digital_sign/signature_files.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const bool binary = (data[0] & 1) != 0;
  const std::size_t hash_length = std::min<std::size_t>((data[0] >> 1) * 2, size - 1);
  std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  std::string_view hash = rest.substr(0, hash_length);
  // Half the runs expect no hash, as after decryption or extraction.
  if ((data[0] & 0x80) != 0) hash = {};

  using vellum::signature_files::ContentFault;
  const vellum::signature_files::CarriedContentView carried =
      vellum::signature_files::TakeAttachedContentView(rest, hash, binary);
  if (carried.fault != ContentFault::kNone) {
    Check(carried.data.empty() && carried.name.empty());
    return 0;
  }
  Check(vellum::signature_files::IsPlainCarriedName(carried.name));
  Check(rest.substr(0, hash.size()) == hash);
  // The data part is the start of what followed the hash (less at most the reader's zero byte),
  // viewed where it lies.
  std::string_view after_hash = rest.substr(hash.size());
  Check(carried.data.size() <= after_hash.size());
  Check(carried.data.empty() || carried.data.data() == after_hash.data());
  Check(after_hash.substr(0, carried.data.size()) == carried.data);
  return 0;
}
