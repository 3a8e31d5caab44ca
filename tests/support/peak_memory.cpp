#include "tests/support/peak_memory.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace vellum::testing {

std::size_t PeakResident() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmHWM:", 0) == 0) return std::stoul(line.substr(6)) * 1024;
  return 0;
}

void ExitWithPeakGrowth(std::size_t limit, const std::function<std::string()>& operation) {
  constexpr std::size_t kMiB = std::size_t{1} << 20;
  const std::size_t before = PeakResident();
  const std::string failure = operation();
  const std::size_t growth = PeakResident() - before;
  if (!failure.empty()) {
    std::fprintf(stderr, "the operation failed: %s\n", failure.c_str());
    std::_Exit(2);
  }
  if (growth >= limit) {
    std::fprintf(stderr, "peak grew by %zu MiB, limit %zu MiB\n", growth / kMiB, limit / kMiB);
    std::_Exit(1);
  }
  std::_Exit(0);
}

}  // namespace vellum::testing
