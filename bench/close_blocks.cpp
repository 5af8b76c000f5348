// close_blocks SIZE N D [SEED] > file
//
// Writes SIZE bytes made of N-bit blocks with N/2 ones whose walks stay
// within D of their center line: each block is the unrank of an index drawn
// uniformly below C(N, N/2, D) (GMP's Mersenne twister from SEED). Built
// against the project's common library (SuffixCounts).
#include <gmp.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "rank.h"

int main(int argc, char** argv) {
  if (argc < 4 || argc > 5) {
    std::fprintf(stderr, "usage: %s SIZE N D [SEED]\n", argv[0]);
    return 1;
  }
  const unsigned long long bytes = std::strtoull(argv[1], nullptr, 10);
  const int n = std::atoi(argv[2]), d = std::atoi(argv[3]);
  gmp_randstate_t rs;
  gmp_randinit_mt(rs);
  gmp_randseed_ui(rs, argc == 5 ? std::strtoul(argv[4], nullptr, 10) : 1);
  lumbra::SuffixCounts t(n, n / 2, d);
  mpz_t c, i;
  mpz_init(c);
  mpz_init(i);
  t.total(c);
  std::vector<bool> vb;
  unsigned acc = 0, have = 0;
  unsigned long long written = 0;
  while (written < bytes) {
    mpz_urandomm(i, rs, c);
    t.unrank(i, vb);
    for (bool b : vb) {
      acc = (acc << 1) | (b ? 1u : 0u);
      if (++have == 8 && written < bytes) {
        std::putchar(static_cast<int>(acc));
        ++written;
        acc = have = 0;
      }
    }
  }
  mpz_clear(c);
  mpz_clear(i);
  gmp_randclear(rs);
  return 0;
}
