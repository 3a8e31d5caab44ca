// Holding an operation's memory to a bound: the operation runs in a forked child (a death
// test), whose peak resident size starts at the parent's present size, so the growth of the
// peak over the operation is what the operation held at its most.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace vellum::testing {

// Peak resident size of this process so far, in bytes (0 where /proc does not say).
std::size_t PeakResident();

// Runs `operation` and ends the process: exit code 0 when the peak grew by less than `limit`,
// 1 (saying by how much on standard error) when it did not, 2 when the operation failed, that
// is returned a text saying why. Meant for EXPECT_EXIT(..., ExitedWithCode(0), "").
[[noreturn]] void ExitWithPeakGrowth(std::size_t limit,
                                     const std::function<std::string()>& operation);

}  // namespace vellum::testing
