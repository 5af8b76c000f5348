// The size of C(n, k) before it is computed: log2 C(n, k) from the
// log-gamma function, for the memory estimates and the room that the
// counts, the triangle and the front ends reserve ahead of a count (C(n, k)
// bounds every count of (n, k)). Plain functions of doubles; nothing throws.
#pragma once

#include <cstdint>

namespace lumbra {

// log2 C(n, k) as the log-gamma function gives it: within a few units in
// the last place of the true value, on either side. Callers that need a
// bound add their own margin. Requires 0 <= k <= n.
double log2Binomial(std::int64_t n, std::int64_t k);

// log2 C(n, k), a hair above the true value (never below it for any n and
// k an int can hold), and at least 0.
double log2BinomialAbove(std::int64_t n, std::int64_t k);

}  // namespace lumbra
