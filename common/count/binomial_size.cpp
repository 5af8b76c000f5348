#include "count/binomial_size.h"

#include <algorithm>
#include <cmath>

namespace lumbra {

double log2Binomial(std::int64_t n, std::int64_t k) {
  return (std::lgamma(static_cast<double>(n) + 1.0) - std::lgamma(static_cast<double>(k) + 1.0) -
          std::lgamma(static_cast<double>(n - k) + 1.0)) /
         std::log(2.0);
}

double log2BinomialAbove(std::int64_t n, std::int64_t k) {
  // NOTE: lgamma's error is a few units in the last place of values up to
  // about 2^36; a relative 1e-12 and an absolute 1e-9 cover it many times.
  return std::max(0.0, log2Binomial(n, k)) * (1 + 1e-12) + 1e-9;
}

}  // namespace lumbra
