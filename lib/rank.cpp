#include "lumbra/rank.h"

#include <vector>

#include "bridge.h"
#include "guard.h"
#include "coding/rank.h"
#include "count/mpz.h"
#include "triangle/trian.h"

namespace lumbra {

namespace {

// The table of (m, k, d), unless it would take more than maxBytes.
SuffixCounts table(int m, int k, int d, std::size_t maxBytes) {
  const std::size_t need = SuffixCounts::estimateBytes(m, k, d);
  if (need > maxBytes)
    throw ResourceError("the counts of " + std::to_string(m) + ", " + std::to_string(k) + ", " + std::to_string(d) +
                        " need more than " + std::to_string(maxBytes >> 20) + " MiB");
  return SuffixCounts(m, k, d);
}

}  // namespace

Ranked rank(std::string_view bits, std::size_t max_table_bytes) {
  return api::guarded([&]() -> Ranked {
    if (bits.empty() || bits.size() > 4096)
      throw ArgumentError("a block must have 1 to 4096 bits, not " + std::to_string(bits.size()));
    std::vector<bool> vb(bits.size());
    for (std::size_t i = 0; i < bits.size(); ++i) {
      if (bits[i] != '0' && bits[i] != '1')
        throw ArgumentError("a block is made of the characters 0 and 1, not '" + std::string(1, bits[i]) + "'");
      vb[i] = bits[i] == '1';
    }
    Ranked r;
    walkStats(vb, r.ones, r.deviation);
    r.length = static_cast<int>(bits.size());
    Mpz index;
    table(r.length, r.ones, r.deviation, max_table_bytes).rank(vb, index.get());
    r.index = api::toBigNat(index.get());
    return r;
  });
}

std::string unrank(int m, int k, int d, const BigNat& index, std::size_t max_table_bytes) {
  return api::guarded([&]() -> std::string {
    if (m < 1 || m > 4096) throw ArgumentError("M must lie in 1..4096");
    if (k < 0 || k > m) throw ArgumentError("K must lie in 0..M");
    if (d < 0 || d > m) throw ArgumentError("D must lie in 0..M");
    const SuffixCounts t = table(m, k, d, max_table_bytes);
    Mpz i, total;
    api::toMpz(index, i.get());
    t.total(total.get());
    if (mpz_cmp(i.get(), total.get()) >= 0)
      throw ArgumentError("INDEX must be below C(" + std::to_string(m) + ", " + std::to_string(k) + ", " +
                          std::to_string(d) + ") = " + api::toBigNat(total.get()).to_string());
    std::vector<bool> vb;
    t.unrank(i.get(), vb);
    std::string line;
    line.reserve(vb.size());
    for (bool b : vb) line += b ? '1' : '0';
    return line;
  });
}

}  // namespace lumbra
