// baseline_count_limbs n k d
//
// The adder's limit for `lumbra showC n k d`: the same band on two rows of
// fixed-width limb arrays, wide enough for any count of n steps (at most 2^n,
// so n / GMP_NUMB_BITS + 1 limbs). A cell is one mpn_add_n of its two
// neighbours (or a copy of its only one) over the limbs in use; nothing is
// allocated per cell. Prints "<count> (<bits>)" without a line end.
#include <gmp.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "band.h"

int main(int argc, char** argv) {
  int n, k, d;
  bench::parseNkd(argc, argv, n, k, d);
  const std::vector<bench::Row> rows = bench::band(n, k, d);

  int width = 1;
  for (const bench::Row& r : rows) width = std::max(width, r.cells());
  // A cell's stride has room for the carry limb above the limbs in use.
  const size_t stride = size_t(n) / GMP_NUMB_BITS + 2;
  std::vector<mp_limb_t> prev(stride * width), cur(stride * width);

  // Every cell of the previous row is valid in its limbs [0, used).
  mp_size_t used = 1;
  prev[0] = 1;
  for (int x = 1; x <= n; ++x) {
    const bench::Row p = rows[x - 1], r = rows[x];
    mp_limb_t carries = 0;
    for (int y = r.mn, i = 0; y <= r.mx; y += 2, ++i) {
      mp_limb_t* c = &cur[i * stride];
      const mp_limb_t* a = p.mn < y ? &prev[(y - 1 - p.mn) / 2 * stride] : nullptr;
      const mp_limb_t* b = y < p.mx ? &prev[(y + 1 - p.mn) / 2 * stride] : nullptr;
      if (a && b) {
        c[used] = mpn_add_n(c, a, b, used);
        carries |= c[used];
      } else {
        if (a || b) mpn_copyi(c, a ? a : b, used);
        else mpn_zero(c, used);
        c[used] = 0;
      }
    }
    used += carries != 0;
    prev.swap(cur);
  }

  mpz_t c;
  mpz_roinit_n(c, prev.data(), used);
  const size_t bits = mpz_sgn(c) == 0 ? 0 : mpz_sizeinbase(c, 2);
  std::vector<char> digits(mpz_sizeinbase(c, 10) + 2);
  mpz_get_str(digits.data(), 10, c);
  std::printf("%s (%zu)", digits.data(), bits);
  return 0;
}
