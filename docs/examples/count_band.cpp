// A program over the installed lumbra library: the count C(n, k, d), its
// size, and the p-values of a block with that deviation.
//   count_band 10 5 2   prints   C(10, 5, 2) = 162 (8 bits)
//                                p_deviation(10, 5, 3) = 0.357143 = 90/252 reduced
#include <lumbra/lumbra.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: count_band N K D\n");
    return 1;
  }
  try {
    const int n = std::atoi(argv[1]), k = std::atoi(argv[2]), d = std::atoi(argv[3]);
    const lumbra::BigNat c = lumbra::count(n, k, d);
    std::printf("C(%d, %d, %d) = %s (%zu bits)\n", n, k, d, c.to_string().c_str(), c.bit_length());
    if (n <= 4096 && d < n) {
      const lumbra::Fraction p = lumbra::p_deviation_exact(n, k, d + 1);
      std::printf("p_deviation(%d, %d, %d) = %g = %s/%s\n", n, k, d + 1, lumbra::to_double(p),
                  p.numerator.to_string().c_str(), p.denominator.to_string().c_str());
    }
    std::printf("library %s\n", lumbra::version());
  } catch (const lumbra::Error& e) {
    std::fprintf(stderr, "count_band: %s\n", e.what());
    return 1;
  }
  return 0;
}
