// Exact counts: C(n, k, d), the number of n-bit blocks with k one bits whose
// walk (up for a one, down for a zero) stays within d of the straight line
// from (0, 0) to (n, 2k - n); and the binomial C(n, k) of all such blocks.
//
//   lumbra::count(10, 5, 2).to_string()   == "162"
//   lumbra::binomial(10, 5).to_string()   == "252"
//
// count() runs on up to options.threads threads (0: one per core) and gives
// the same number for any; it is safe to call from several threads at once.
// Work that needs more memory than the machine has is refused before it
// starts (ResourceError), as lumbra-kit count refuses it.
#pragma once

#include <functional>

#include "lumbra/bignat.h"
#include "lumbra/error.h"
#include "lumbra/export.h"

namespace lumbra {

struct CountOptions {
  unsigned threads = 0;
  // Asked every few milliseconds, on the calling thread, whether to give
  // up; returning true ends the count with Cancelled. It must not throw.
  std::function<bool()> stop;
};

// Requires 1 <= n <= 2147483646, 0 <= k <= n, 0 <= d <= n (ArgumentError:
// "N must be 1 to 2147483646, not 0", "K must be 0 to N, not 12", ...).
LUMBRA_API BigNat count(int n, int k, int d, const CountOptions& options = {});

// C(n, k). Requires 0 <= n <= 2147483646, 0 <= k <= n.
LUMBRA_API BigNat binomial(int n, int k);

}  // namespace lumbra
