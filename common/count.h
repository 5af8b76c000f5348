// count: the end-point count of the constrained triangle, exactly.
//
// countWalks(c, n, k, d) sets c to the number of n-bit blocks with k one bits
// whose walk stays within d of the center line of (n, k): the number that
// Trian(pool, n, k, d, true).getC() holds, without building the triangle.
// It uses at most `threads` threads (0: as many as the machine has cores)
// and the same bytes come out for any number of them.
//
// The result is an initialised GMP integer owned by the caller; the engine's
// own memory is taken through GMP's current memory functions and the heap
// and is all given back before it returns. Throws std::bad_alloc.
#pragma once

#include <gmp.h>

namespace lumbra {

// Requires 1 <= n <= 2147483646, 0 <= k <= n, 0 <= d <= n.
void countWalks(mpz_ptr c, int n, int k, int d, unsigned threads = 0);

}  // namespace lumbra
