#include "lumbra/blocks.h"

#include <algorithm>
#include <map>
#include <tuple>

#include "bridge.h"
#include "guard.h"
#include "count/mpz.h"
#include "reading/block_meter.h"
#include "stats/distribution.h"

namespace lumbra {

namespace {

// Each p-value worked out once per (m, k) or (m, k, d) met.
class PValues {
 public:
  double ones(int m, int k) {
    auto [it, fresh] = ones_.try_emplace({m, k}, 0.0);
    if (fresh) {
      Mpz num, den;
      laws_.ones(m).tailCount(num.get(), k);
      mpz_setbit(den.get(), static_cast<mp_bitcnt_t>(m));
      it->second = api::nearestDouble(num.get(), den.get());
    }
    return it->second;
  }
  double deviation(int m, int k, int d) {
    auto [it, fresh] = deviation_.try_emplace({m, k, d}, 0.0);
    if (fresh) {
      Mpz num, den;
      laws_.deviation(m, k).tailCount(num.get(), den.get(), d);
      it->second = api::nearestDouble(num.get(), den.get());
    }
    return it->second;
  }

 private:
  Laws laws_;
  std::map<std::pair<int, int>, double> ones_;
  std::map<std::tuple<int, int, int>, double> deviation_;
};

}  // namespace

std::vector<BlockStats> block_stats(std::span<const unsigned char> bytes, int n, std::uint64_t bits) {
  return api::guarded([&]() -> std::vector<BlockStats> {
    api::requireRange("N", n, 1, 4096);
    const std::uint64_t have = 8 * static_cast<std::uint64_t>(bytes.size());
    if (bits == all_bits) bits = have;
    if (bits > have)
      throw ArgumentError("bits must be at most 8 times the bytes (" + std::to_string(have) + "), not " +
                          std::to_string(bits));
    std::vector<BlockStats> rows;
    rows.reserve(static_cast<std::size_t>((bits + static_cast<std::uint64_t>(n) - 1) / static_cast<std::uint64_t>(n)));
    BlockMeter meter(n);
    PValues p;
    for (std::uint64_t offset = 0; offset < bits; offset += static_cast<std::uint64_t>(n)) {
      const int m = static_cast<int>(std::min<std::uint64_t>(static_cast<std::uint64_t>(n), bits - offset));
      const BlockMeasure b = meter.measure(bytes.data() + offset / 8, static_cast<int>(offset % 8), m);
      rows.push_back(
          {rows.size(), offset, m, b.ones, b.deviation, p.ones(m, b.ones), p.deviation(m, b.ones, b.deviation)});
    }
    return rows;
  });
}

}  // namespace lumbra
