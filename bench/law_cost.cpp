// law_cost: what the laws of a block's statistics cost, each beside the
// two-sided deviation's law of the same (m, k), in processor time of this
// thread. For each k of the range it draws `blocks` random blocks of (m, k)
// (fixed seed), and for each statistic makes the law, asks for its bins'
// chances and its passing chance (what a summary expects of a block) and
// the bin and passing of every value those blocks met; then, apart, P(V = v)
// of those values.
//
//   law_cost M K_FIRST K_LAST [BLOCKS]
// prints "name milliseconds-per-law milliseconds-for-P(V=v)" lines.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <set>
#include <vector>

#include "stats/distribution.h"
#include "stats/statistic.h"

namespace {

double cpu() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// The walk against the line x (2k - m) / m truncated toward zero, and the runs.
struct Shape {
  int up = 0, down = 0, runs = 1, longest = 0;
};

Shape shapeOf(const std::vector<int>& bits, int k) {
  const long m = static_cast<long>(bits.size());
  Shape s;
  long w = 0;
  for (long x = 1, run = 0; x <= m; ++x) {
    w += bits[static_cast<std::size_t>(x - 1)] ? 1 : -1;
    const long line = x * (2L * k - m) / m;
    s.up = std::max(s.up, static_cast<int>(w - line));
    s.down = std::max(s.down, static_cast<int>(line - w));
    const bool same = x > 1 && bits[static_cast<std::size_t>(x - 1)] == bits[static_cast<std::size_t>(x - 2)];
    run = same ? run + 1 : 1;
    s.runs += x > 1 && !same;
    s.longest = std::max(s.longest, static_cast<int>(run));
  }
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: law_cost M K_FIRST K_LAST [BLOCKS]\n");
    return 2;
  }
  const int m = std::atoi(argv[1]), k0 = std::atoi(argv[2]), k1 = std::atoi(argv[3]);
  const int blocks = argc > 4 ? std::atoi(argv[4]) : 300;
  std::mt19937_64 rng(22);
  const auto stats = lumbra::blockStatistics();
  std::vector<double> seconds(stats.size() + 1), values(stats.size() + 1);
  double sink = 0;
  for (int k = k0; k <= k1; ++k) {
    std::vector<int> bits(static_cast<std::size_t>(m), 0);
    std::fill(bits.begin(), bits.begin() + k, 1);
    std::vector<std::set<int>> met(stats.size() + 1);
    for (int b = 0; b < blocks; ++b) {
      std::shuffle(bits.begin(), bits.end(), rng);
      const Shape s = shapeOf(bits, k);
      lumbra::BlockShape shape{k, s.up, s.down, s.runs, s.longest, bits.front(), bits.back()};
      met[0].insert(shape.deviation());
      for (std::size_t t = 0; t < stats.size(); ++t) met[t + 1].insert(stats[t]->value(shape));
    }
    double at = cpu();
    {
      lumbra::DeviationLaw law(m, k);
      sink += law.passingProbability() + law.binProbabilities()[3];
      for (int v : met[0]) sink += law.bin(v) + law.passing(v);
      seconds[0] += cpu() - at;
      at = cpu();
      for (int v : met[0]) sink += static_cast<double>(law.probability(v));
      values[0] += cpu() - at;
    }
    for (std::size_t t = 0; t < stats.size(); ++t) {
      at = cpu();
      const auto law = stats[t]->law(m, k);
      sink += law->passingProbability() + law->binProbabilities()[3];
      for (int v : met[t + 1]) sink += law->bin(v) + law->passing(v);
      seconds[t + 1] += cpu() - at;
      at = cpu();
      for (int v : met[t + 1]) sink += static_cast<double>(law->probability(v));
      values[t + 1] += cpu() - at;
    }
  }
  const int laws = k1 - k0 + 1;
  std::printf("deviation %.3f %.3f\n", 1e3 * seconds[0] / laws, 1e3 * values[0] / laws);
  for (std::size_t t = 0; t < stats.size(); ++t)
    std::printf("%.*s %.3f %.3f\n", static_cast<int>(stats[t]->name().size()), stats[t]->name().data(),
                1e3 * seconds[t + 1] / laws, 1e3 * values[t + 1] / laws);
  return sink < -1 ? 1 : 0;
}
