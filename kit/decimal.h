// Six significant digits of a probability, correctly rounded (half to even)
// from its exact value, in the shape C's "%.6g" gives a double: 0.5,
// 0.00195312, 3.98208e-702. No floor: a value too small for any double
// still prints with its own exponent. The texts are plain std::strings.
#pragma once

#include <gmp.h>

#include <optional>
#include <string>

#include "lumbra/bignat.h"

namespace lumbra::kit {

// The text of num / den (num >= 0, den > 0), exactly rounded to `digits`
// significant digits (1 to 17; 17 is what JSON output carries: every
// double's text, and the nearest decimal when no double holds the value).
std::string ratioText(mpz_srcptr num, mpz_srcptr den, int digits = 6);
// The same for the library's numbers. Requires den > 0.
std::string ratioText(const BigNat& num, const BigNat& den, int digits = 6);

// The text of a value known as v within a relative error relErr, when every
// value within that error rounds to the same six digits; nothing otherwise
// (then the exact value must decide). Requires v > 0.
std::optional<std::string> approxText(long double v, double relErr);

}  // namespace lumbra::kit
