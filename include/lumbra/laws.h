// The p-values of an m-bit block with k one bits and deviation d, when its
// bits are fair coin flips, exactly as lumbra-kit blocks prints them:
//
//   p_ones(m, k)         = P(|K' - m/2| >= |k - m/2|), K' binomial(m, 1/2):
//                          is the balance of the bits surprising?
//   p_deviation(m, k, d) = P(D' >= d | m, k) = (C(m, k) - C(m, k, d - 1)) / C(m, k),
//                          1 for d = 0: given the balance, is the walk's
//                          largest distance from its line surprising?
//
// The double is the exact value correctly rounded (to nearest, ties to
// even), so it may be 0 for a tail below the doubles (about 1e-308); the
// *_exact forms give the Fraction itself.
//
//   lumbra::p_deviation(16, 8, 8) == 2.0 / 12870
//
// Requires 1 <= m <= 4096 (the blocks lumbra-kit reads), 0 <= k <= m,
// 0 <= d <= m; ArgumentError otherwise ("M must be 1 to 4096, not 0"). Safe
// from several threads at once.
#pragma once

#include "lumbra/bignat.h"
#include "lumbra/error.h"
#include "lumbra/export.h"

namespace lumbra {

LUMBRA_API double p_ones(int m, int k);
LUMBRA_API Fraction p_ones_exact(int m, int k);

LUMBRA_API double p_deviation(int m, int k, int d);
LUMBRA_API Fraction p_deviation_exact(int m, int k, int d);

// The double nearest to f (ties to even); 0 below the least subnormal.
LUMBRA_API double to_double(const Fraction& f);

}  // namespace lumbra
