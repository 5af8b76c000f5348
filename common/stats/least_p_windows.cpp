#include "stats/least_p_windows.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <tuple>
#include <utility>

#include "kova/hard_assert.h"

namespace lumbra {

LeastPWindows::LeastPWindows(std::uint64_t firstBlock, std::size_t windows,
                             std::span<const Statistic* const> statistics)
    : first_(firstBlock), want_(std::max<std::size_t>(1, windows)), statistics_(statistics) {}

void LeastPWindows::keep(Kept& w, const Extremes& b) const {
  auto at = std::lower_bound(w.most.begin(), w.most.end(), b, [](const Extremes& x, const Extremes& y) {
    return std::pair(x.m, x.k) < std::pair(y.m, y.k);
  });
  if (at != w.most.end() && at->m == b.m && at->k == b.k) {
    for (std::size_t s = 0; s < b.values.size(); ++s) {
      at->values[s].first = std::min(at->values[s].first, b.values[s].first);
      at->values[s].second = std::max(at->values[s].second, b.values[s].second);
    }
  } else {
    w.most.insert(at, b);
  }
}

void LeastPWindows::add(int m, const BlockShape& block) {
  if (kept_.empty() || kept_.back().blocks == width_) {
    if (kept_.size() == 2 * want_) halve();
    if (kept_.empty() || kept_.back().blocks == width_) kept_.emplace_back();
  }
  Kept& w = kept_.back();
  ++w.blocks;
  Extremes e{m, block.ones, {}};
  e.values.reserve(statistics_.size());
  for (const Statistic* s : statistics_) {
    const int v = s->value(block);
    e.values.emplace_back(v, v);
  }
  keep(w, e);
}

void LeastPWindows::add(int m, int k, int d) {
  BlockShape b{};
  b.ones = k;
  b.up = d;
  add(m, b);
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
      for (const Extremes& b : kept_[i + 1].most) keep(w, b);
    }
    merged.push_back(std::move(w));
  }
  kept_ = std::move(merged);
  width_ *= 2;
}

std::vector<LeastPWindows::Window> LeastPWindows::windows(StatisticLaws& laws) const {
  // Each statistic's place among the laws'.
  std::vector<std::size_t> lawOf;
  for (const Statistic* s : statistics_) {
    const auto held = laws.statistics();
    const auto at = std::find(held.begin(), held.end(), s);
    hard_assert(at != held.end(), "the laws hold every statistic of the windows");
    lawOf.push_back(static_cast<std::size_t>(at - held.begin()));
  }
  // log10 of each p-value, worked out once; a p-value below the long
  // doubles (none of the laws' comes near) counts as nothing.
  std::map<std::tuple<std::size_t, int, int, int>, double> logP;
  auto log10P = [&](std::size_t s, int m, int k, int v) {
    auto [at, fresh] = logP.try_emplace({s, m, k, v}, 0.0);
    if (fresh) {
      const long double p = laws.law(lawOf[s], m, k).pValue(v);
      at->second = p > 0 ? std::min(0.0, static_cast<double>(std::log10(p))) : 0.0;
    }
    return at->second;
  };
  std::vector<Window> out;
  out.reserve(kept_.size());
  std::uint64_t block = first_;
  for (const Kept& w : kept_) {
    double least = 0;
    for (const Extremes& b : w.most)
      for (std::size_t s = 0; s < b.values.size(); ++s)
        least = std::min({least, log10P(s, b.m, b.k, b.values[s].first), log10P(s, b.m, b.k, b.values[s].second)});
    out.push_back({block, w.blocks, least});
    block += w.blocks;
  }
  return out;
}

}  // namespace lumbra
