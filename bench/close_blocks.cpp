// close_blocks SIZE N D [SEED] > file
//
// Writes SIZE bytes made of N-bit blocks with N/2 ones whose walks stay
// within D of their center line: each block is the unrank of an index drawn
// uniformly below C(N, N/2, D) (GMP's Mersenne twister from SEED). Built
// against the project's common library (SuffixCounts, BitWriter).
#include <gmp.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "triangle/bitstm.h"
#include "coding/rank.h"

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
  // Whole blocks into the writer, the output cut at SIZE bytes.
  struct Stdout final : lumbra::ByteSink {
    unsigned long long left;
    explicit Stdout(unsigned long long size) : left(size) {}
    void put(const unsigned char* p, std::size_t n) override {
      const std::size_t take = n < left ? n : static_cast<std::size_t>(left);
      std::fwrite(p, 1, take, stdout);
      left -= take;
    }
  } out(bytes);
  lumbra::BitWriter writer(out);
  std::vector<bool> vb;
  while (writer.bits() < 8 * bytes) {
    mpz_urandomm(i, rs, c);
    t.unrank(i, vb);
    writer.write(vb);
  }
  writer.finish();
  mpz_clear(c);
  mpz_clear(i);
  gmp_randclear(rs);
  return 0;
}
