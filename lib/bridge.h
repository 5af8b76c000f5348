// The bridge between the public value types and GMP, for the library's own
// units: BigNat to and from mpz, fractions in lowest terms, and the double
// nearest to a ratio. Nothing here is exported.
#pragma once

#include <gmp.h>

#include <string>

#include "lumbra/bignat.h"

namespace lumbra::api {

BigNat toBigNat(mpz_srcptr v);
// Sets v (initialised, owned by the caller) to b.
void toMpz(const BigNat& b, mpz_ptr v);
// num / den in lowest terms. Requires den > 0.
Fraction fractionOf(mpz_srcptr num, mpz_srcptr den);
// The double nearest to num / den (ties to even), 0 below the least
// subnormal. Requires num >= 0, den > 0.
double nearestDouble(mpz_srcptr num, mpz_srcptr den);

// Refuses v outside lo..hi with the command line's words:
// "N must be 1 to 2147483646, not 0", "K must be 0 to N, not 12" (hiName
// names the bound when it is another argument).
void requireRange(const char* name, long long v, long long lo, long long hi, const std::string& hiName = {});

}  // namespace lumbra::api
