// baseline_reflection n k d
//
// The balanced count (2k = n) of `lumbra showC n k d` by the reflection sum
//   sum over j of C(n, n/2 + j(2d + 2)) - C(n, n/2 + j(2d + 2) + d + 1),
// written plainly: every binomial from scratch with mpz_bin_uiui, added or
// subtracted in one mpz_t. Prints "<count> (<bits>)" without a line end.
#include <gmp.h>

#include <cstdio>
#include <vector>

#include "band.h"

int main(int argc, char** argv) {
  int n, k, d;
  bench::parseNkd(argc, argv, n, k, d);
  if (2L * k != n) {
    std::fprintf(stderr, "%s: the reflection sum needs 2k = n\n", argv[0]);
    return 1;
  }
  mpz_t c, t;
  mpz_init(c);
  mpz_init(t);
  const long p = 2L * d + 2;
  for (long j = -(n / p) - 1; j <= n / p + 1; ++j) {
    const long a = n / 2 + j * p, b = a + d + 1;
    if (a >= 0 && a <= n) {
      mpz_bin_uiui(t, n, a);
      mpz_add(c, c, t);
    }
    if (b >= 0 && b <= n) {
      mpz_bin_uiui(t, n, b);
      mpz_sub(c, c, t);
    }
  }
  const size_t bits = mpz_sgn(c) == 0 ? 0 : mpz_sizeinbase(c, 2);
  std::vector<char> digits(mpz_sizeinbase(c, 10) + 2);
  mpz_get_str(digits.data(), 10, c);
  std::printf("%s (%zu)", digits.data(), bits);
  mpz_clear(c);
  mpz_clear(t);
  return 0;
}
