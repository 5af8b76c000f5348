#include "stats/least_p_windows.h"

#include <gmp.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <utility>

#include "count/mpz.h"
#include "stats/walk_statistics.h"

namespace lumbra {

LeastPWindows::LeastPWindows(std::uint64_t firstBlock, std::size_t windows)
    : first_(firstBlock), want_(std::max<std::size_t>(1, windows)) {}

void LeastPWindows::keep(Kept& w, const Most& b) {
  auto at = std::lower_bound(w.most.begin(), w.most.end(), b,
                             [](const Most& x, const Most& y) { return std::pair(x.m, x.k) < std::pair(y.m, y.k); });
  if (at != w.most.end() && at->m == b.m && at->k == b.k)
    at->d = std::max(at->d, b.d);
  else
    w.most.insert(at, b);
}

void LeastPWindows::add(int m, int k, int d) {
  if (kept_.empty() || kept_.back().blocks == width_) {
    if (kept_.size() == 2 * want_) halve();
    if (kept_.empty() || kept_.back().blocks == width_) kept_.emplace_back();
  }
  Kept& w = kept_.back();
  ++w.blocks;
  keep(w, {m, k, d});
}

// Merges neighbours: window 2i takes window 2i + 1. Only the last window can
// be short, and it is the second of its pair or alone, so every merged window
// but the last is full at the new width.
void LeastPWindows::halve() {
  std::vector<Kept> merged;
  merged.reserve(want_ + 1);
  for (std::size_t i = 0; i < kept_.size(); i += 2) {
    Kept w = std::move(kept_[i]);
    if (i + 1 < kept_.size()) {
      w.blocks += kept_[i + 1].blocks;
      for (const Most& b : kept_[i + 1].most) keep(w, b);
    }
    merged.push_back(std::move(w));
  }
  kept_ = std::move(merged);
  width_ *= 2;
}

std::vector<LeastPWindows::Window> LeastPWindows::windows(StatisticLaws& laws) const {
  // log10 p_ones(m, k), each worked out once: tail / 2^m, as mantissa and
  // exponent, since p_ones of an m-bit block goes down to 2^(1-m).
  std::map<std::pair<int, int>, double> onesLog;
  auto logOnes = [&](int m, int k) {
    auto [at, fresh] = onesLog.try_emplace({m, k}, 0.0);
    if (fresh) {
      Mpz tail;
      onesLawOf(laws.law(ones_statistic, m, k)).tailCount(tail.get(), k);
      long exp = 0;
      const double mantissa = mpz_get_d_2exp(&exp, tail.get());
      at->second = std::min(0.0, std::log10(mantissa) + static_cast<double>(exp - m) * std::log10(2.0));
    }
    return at->second;
  };
  std::vector<Window> out;
  out.reserve(kept_.size());
  std::uint64_t block = first_;
  for (const Kept& w : kept_) {
    double least = 0;
    for (const Most& b : w.most) {
      least = std::min(least, logOnes(b.m, b.k));
      const long double tail = deviationLawOf(laws.law(deviation_statistic, b.m, b.k)).tail(b.d);
      if (tail > 0) least = std::min(least, static_cast<double>(std::log10(tail)));
    }
    out.push_back({block, w.blocks, least});
    block += w.blocks;
  }
  return out;
}

}  // namespace lumbra
