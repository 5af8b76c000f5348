// baseline_count_mpz n k d
//
// The count of `lumbra showC n k d`, written plainly with GMP: two rows of
// mpz_t, a freshly initialised cell per position with one mpz_add per
// neighbour in the previous row, rows swapped, the previous row cleared.
// Prints "<count> (<bits>)" without a line end, as lumbra does after its
// banner.
#include <gmp.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "band.h"

int main(int argc, char** argv) {
  int n, k, d;
  bench::parseNkd(argc, argv, n, k, d);
  const std::vector<bench::Row> rows = bench::band(n, k, d);

  int width = 1;
  for (const bench::Row& r : rows) width = std::max(width, r.cells());
  auto prev = std::make_unique<mpz_t[]>(width);
  auto cur = std::make_unique<mpz_t[]>(width);

  mpz_init_set_ui(prev[0], 1);
  for (int x = 1; x <= n; ++x) {
    const bench::Row p = rows[x - 1], r = rows[x];
    for (int y = r.mn, i = 0; y <= r.mx; y += 2, ++i) {
      mpz_init(cur[i]);
      if (p.mn < y) mpz_add(cur[i], cur[i], prev[(y - 1 - p.mn) / 2]);
      if (y < p.mx) mpz_add(cur[i], cur[i], prev[(y + 1 - p.mn) / 2]);
    }
    for (int i = 0; i < p.cells(); ++i) mpz_clear(prev[i]);
    prev.swap(cur);
  }

  mpz_srcptr c = prev[0];
  const size_t bits = mpz_sgn(c) == 0 ? 0 : mpz_sizeinbase(c, 2);
  std::vector<char> digits(mpz_sizeinbase(c, 10) + 2);
  mpz_get_str(digits.data(), 10, c);
  std::printf("%s (%zu)", digits.data(), bits);
  for (int i = 0; i < rows[n].cells(); ++i) mpz_clear(prev[i]);
  return 0;
}
