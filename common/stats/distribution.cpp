#include "stats/distribution.h"

#include <algorithm>
#include <cmath>

#include "band/center_line.h"
#include "stats/band_exits.h"
#include "band/widest_deviation.h"
#include "count/count.h"
#include "kova/hard_assert.h"

namespace lumbra {

namespace {

// The edges of the bins from the top, then the passing mark: num / den.
constexpr int edge_num[bin_count] = {9, 8, 7, 6, 5, 4, 3, 2, 1, 1};
constexpr int edge_den[bin_count] = {10, 10, 10, 10, 10, 10, 10, 10, 10, 100};
constexpr int passing_edge = 9;

}  // namespace

OnesLaw::OnesLaw(int m) : m_(m) {
  hard_assert(m >= 1 && m <= 4096, "m>=1&&m<=4096");
  const std::size_t half = static_cast<std::size_t>(m) / 2;
  below_.resize(half + 1);
  Mpz c, total, lhs, rhs;
  mpz_set_ui(c.get(), 1);
  mpz_set_ui(below_[0].get(), 1);
  prob_.assign(static_cast<std::size_t>(m) + 1, 0.0);
  for (int i = 0; i <= m; ++i) {
    if (i > 0) {
      mpz_mul_ui(c.get(), c.get(), static_cast<unsigned long>(m) - static_cast<unsigned long>(i) + 1);
      mpz_divexact_ui(c.get(), c.get(), static_cast<unsigned long>(i));
      if (static_cast<std::size_t>(i) <= half) mpz_add(below_[static_cast<std::size_t>(i)].get(), below_[static_cast<std::size_t>(i) - 1].get(), c.get());
    }
    long e = 0;
    const double mant = mpz_get_d_2exp(&e, c.get());
    prob_[static_cast<std::size_t>(i)] = std::ldexp(mant, static_cast<int>(e) - m);
  }

  bins_.resize(static_cast<std::size_t>(m) + 1);
  passing_.resize(static_cast<std::size_t>(m) + 1);
  Mpz t;
  for (int k = 0; k <= m; ++k) {
    tailCount(t.get(), k);
    // p >= num / den  <=>  den * tail >= num * 2^m
    auto atLeast = [&](int i) {
      mpz_mul_ui(lhs.get(), t.get(), static_cast<unsigned long>(edge_den[i]));
      mpz_set_ui(rhs.get(), static_cast<unsigned long>(edge_num[i]));
      mpz_mul_2exp(rhs.get(), rhs.get(), static_cast<mp_bitcnt_t>(m));
      return mpz_cmp(lhs.get(), rhs.get()) >= 0;
    };
    int bin = 0;
    for (int i = 0; i < passing_edge; ++i) bin += atLeast(i);
    bins_[static_cast<std::size_t>(k)] = static_cast<unsigned char>(bin);
    passing_[static_cast<std::size_t>(k)] = atLeast(passing_edge);
    binProb_[static_cast<std::size_t>(bin)] += prob_[static_cast<std::size_t>(k)];
    if (passing(k)) passProb_ += prob_[static_cast<std::size_t>(k)];
  }
}

void OnesLaw::tailCount(mpz_ptr out, int k) const {
  hard_assert(k >= 0 && k <= m_, "k>=0&&k<=m_");
  const int t = std::abs(2 * k - m_);
  if (t == 0) {
    mpz_set_ui(out, 1);
    mpz_mul_2exp(out, out, static_cast<mp_bitcnt_t>(m_));
    return;
  }
  // The blocks at least t off on either side: twice those with at most
  // (m - t) / 2 ones.
  mpz_mul_2exp(out, below_[static_cast<std::size_t>((m_ - t) / 2)].get(), 1);
}

DeviationLaw::DeviationLaw(int m, int k, BandSide side)
    : m_(m), k_(k), side_(side), err_(bandExitError(m, 0x1p-53)) {
  hard_assert(m >= 1 && m <= 4096, "m>=1&&m<=4096");
  hard_assert(k >= 0 && k <= m, "k>=0&&k<=m");
  // The walks with all ones first and with all zeros first go farthest.
  const WidestDeviation widest = widestDeviation(m, k);
  maxDev_ = static_cast<int>(side == BandSide::up     ? widest.up
                             : side == BandSide::down ? widest.down
                                                      : std::max(widest.up, widest.down));
  if (side != BandSide::both) err_ += side_exit_error;  // what the cut rows may lose
  tails_.push_back(1.0L);
}

long double DeviationLaw::tail(int d) {
  hard_assert(d >= 0, "d>=0");
  if (d > maxDev_) return 0.0L;
  computeTails({d});
  return tails_[static_cast<std::size_t>(d)];
}

void DeviationLaw::computeTails(std::vector<int> ds) {
  // The tails not yet known, widest first: a batch of similar widths.
  std::erase_if(ds, [&](int d) {
    return d <= 0 || d > maxDev_ || (static_cast<std::size_t>(d) < tails_.size() && tails_[static_cast<std::size_t>(d)] >= 0);
  });
  if (ds.empty()) return;
  std::sort(ds.begin(), ds.end(), std::greater<>());
  ds.erase(std::unique(ds.begin(), ds.end()), ds.end());
  if (static_cast<std::size_t>(ds.front()) >= tails_.size()) tails_.resize(static_cast<std::size_t>(ds.front()) + 1, -1.0L);
  if (line_.empty()) centerLinePoints(m_, k_, line_);
  std::vector<int> widths(ds.size());
  std::vector<double> exits(ds.size());
  for (std::size_t i = 0; i < ds.size(); ++i) widths[i] = ds[i] - 1;
  fastBandExits(m_, k_, widths.data(), static_cast<int>(widths.size()), exits.data(), line_, side_);
  for (std::size_t i = 0; i < ds.size(); ++i) setTail(ds[i], exits[i]);
}

void DeviationLaw::release() { std::vector<int>().swap(line_); }

void DeviationLaw::setTail(int d, double t) {
  // NOTE: doubles first; a tail below 1e-250 is taken again in long double,
  // whose range holds every tail of m <= 4096 (>= 1/C(m, k)), so that no
  // part of it is lost below the doubles' smallest numbers.
  long double exact = t;
  if (exact < 1e-250L) {
    const int h = d - 1;
    bandExits<long double>(m_, k_, &h, 1, &exact, line_, side_);
  }
  tails_[static_cast<std::size_t>(d)] = exact;
}

void DeviationLaw::tailCount(mpz_ptr num, mpz_ptr den, int d) const {
  hard_assert(d >= 0, "d>=0");
  mpz_bin_uiui(den, static_cast<unsigned long>(m_), static_cast<unsigned long>(k_));
  if (d == 0) {
    mpz_set(num, den);
  } else if (d > maxDev_) {
    mpz_set_ui(num, 0);
  } else {
    // NOTE: one thread: a law is made on the thread that measures blocks. A
    // side given as m is no bound.
    if (side_ == BandSide::both) countWalks(num, m_, k_, d - 1, 1);
    else if (side_ == BandSide::up) countWalksBetween(num, m_, k_, m_, d - 1, 1);
    else countWalksBetween(num, m_, k_, d - 1, m_, 1);
    mpz_sub(num, den, num);
  }
}

bool DeviationLaw::atLeast(int d, int num, int den) {
  const long double t = tail(d);
  const long double edge = static_cast<long double>(num) / den;
  const long double slack = 2 * err_ + 1e-17L;
  if (d == 0 || d > maxDev_) return t >= edge;  // exact values
  if (t * (1 - slack) > edge * (1 + 1e-17L)) return true;
  if (t * (1 + slack) < edge * (1 - 1e-17L)) return false;
  Mpz tn, td;
  tailCount(tn.get(), td.get(), d);
  mpz_mul_ui(tn.get(), tn.get(), static_cast<unsigned long>(den));
  mpz_mul_ui(td.get(), td.get(), static_cast<unsigned long>(num));
  return mpz_cmp(tn.get(), td.get()) >= 0;
}

void DeviationLaw::computeApprox(std::vector<int> ds) {
  std::erase_if(ds, [&](int d) {
    return d <= 0 || d > maxDev_ || (static_cast<std::size_t>(d) < approx_.size() && approx_[static_cast<std::size_t>(d)] >= 0);
  });
  if (ds.empty()) return;
  std::sort(ds.begin(), ds.end());
  ds.erase(std::unique(ds.begin(), ds.end()), ds.end());
  if (static_cast<std::size_t>(ds.back()) >= approx_.size()) approx_.resize(static_cast<std::size_t>(ds.back()) + 1, -1.0);
  std::vector<int> widths(ds.size());
  std::vector<double> exits(ds.size());
  for (std::size_t i = 0; i < ds.size(); ++i) widths[i] = ds[i] - 1;
  approxBandExits(m_, k_, widths.data(), static_cast<int>(widths.size()), exits.data(), line_, side_);
  for (std::size_t i = 0; i < ds.size(); ++i) approx_[static_cast<std::size_t>(ds[i])] = exits[i];
}

double DeviationLaw::tailSeen(int d) const {
  if (d < 1) return -1;
  const std::size_t i = static_cast<std::size_t>(d);
  if (i < tails_.size() && tails_[i] >= 0) return static_cast<double>(tails_[i]);
  if (i < approx_.size() && approx_[i] >= 0) return approx_[i];
  return -1;
}

namespace {

// The spread of the walks of (m, k), as the Brownian bridge has it (see
// settleBins): the crossing of an edge grows with its square root.
double walkSpread(int m, int k) { return 4.0 * k * (m - k) / m; }

}  // namespace

void DeviationLaw::guessEdgesFrom(const DeviationLaw& near) {
  if (!near.settled_ || settled_ || near.side_ != side_) return;
  const double scale = std::sqrt(walkSpread(m_, k_) / std::max(walkSpread(near.m_, near.k_), 1e-9));
  for (std::size_t i = 0; i < guess_.size(); ++i) {
    // The crossing lies between firstBelow - 1 and firstBelow: where the
    // tails there put it (log-linear in d^2, as in the search), or else
    // its middle; scaled, and the first d past it.
    const int d = near.firstBelow_[i];
    double at = d - 0.5;
    const double above = near.tailSeen(d - 1), below = near.tailSeen(d);
    if (above > below && below > 0) {
      const double s1 = static_cast<double>(d - 1) * (d - 1), s2 = static_cast<double>(d) * d;
      const double edge = static_cast<double>(edge_num[i]) / edge_den[i];
      at = std::sqrt(s1 + (s2 - s1) * std::clamp(std::log(above / edge) / std::log(above / below), 0.0, 1.0));
    }
    guess_[i] = static_cast<int>(std::clamp(std::floor(at * scale) + 1, 1.0, static_cast<double>(maxDev_ + 1)));
  }
}

void DeviationLaw::settleBins() {
  if (settled_) return;
  // For each edge the answer, the least d whose tail is below it, lies in
  // [lo, hi]: tail(lo - 1) is at least the edge (tail(0) = 1), tail(hi) is
  // below it (tail(maxDev + 1) = 0). Each round narrows every interval with
  // the tails known, then computes the two tails around each open edge's
  // predicted crossing: a right prediction settles the edge in one round.
  // NOTE: the search decides on tails in float (a pass of half the
  // vectors, within a proven bound); a double, and where its bound does
  // not settle it the exact count, decides only the few near an edge. The
  // bins then need the doubles at the crossings alone, about ten a law.
  std::array<int, bin_count> lo{}, hi{};
  lo.fill(1);
  hi.fill(maxDev_ + 1);
  if (line_.empty()) centerLinePoints(m_, k_, line_);
  const auto known = [&](int d) {
    return d == 0 || d > maxDev_ || (static_cast<std::size_t>(d) < tails_.size() && tails_[static_cast<std::size_t>(d)] >= 0);
  };
  const auto rough = [&](int d) {
    return d > 0 && static_cast<std::size_t>(d) < approx_.size() && approx_[static_cast<std::size_t>(d)] >= 0;
  };
  // The float's error, twice over, and whatever the subnormal range lost.
  const double slack = 2 * bandExitError(m_, 0x1p-24), lost = 1e-30;
  // Which side of edge i tail(d) is on: 1 at or above, 0 below, -1 not known.
  const auto side = [&](int d, int i) {
    if (known(d)) return atLeast(d, edge_num[i], edge_den[i]) ? 1 : 0;
    if (rough(d)) {
      const double t = approx_[static_cast<std::size_t>(d)];
      const double edge = static_cast<double>(edge_num[i]) / edge_den[i];
      if (t * (1 - slack) - lost > edge * (1 + 1e-15)) return 1;
      if (t * (1 + slack) + lost < edge * (1 - 1e-15)) return 0;
    }
    return -1;
  };
  // The Brownian bridge of the steps' variance 4 p (1 - p) over m steps
  // leaves the band of half-width d with P(D >= d) ~ 2 exp(-2 d^2 / spread)
  // (one side: without the 2); the spread is fitted to a tail already known
  // where there is one.
  const double sides = side_ == BandSide::both ? 2 : 1;
  const auto crossing = [sides](double spread, double edge) {
    return std::sqrt(spread * std::log(sides / edge) / 2);
  };
  const double spread = walkSpread(m_, k_);
  for (int round = 0, open = 1; open; ++round) {
    open = 0;
    std::vector<int> exact, floats;
    for (int i = 0; i < bin_count; ++i) {
      int& a = lo[static_cast<std::size_t>(i)];
      int& b = hi[static_cast<std::size_t>(i)];
      for (int d = a; d < b; ++d) {
        const int r = side(d, i);
        if (r == 1) a = d + 1;
        else if (r == 0) b = d;
      }
      if (a == b) continue;
      open = 1;
      // Without a guess the first round computes one tail near the
      // crossings of three edges alone: the others are then predicted
      // between known tails.
      const bool guessed = guess_[0] > 0;
      const bool anchor = i == 0 || i == 4 || i == passing_edge;
      if (round == 0 && !guessed && !anchor) continue;
      const double edge = static_cast<double>(edge_num[i]) / edge_den[i];
      // A tail known or approximated: no pass.
      const auto seen = [&](int d) { return d >= 1 && d <= maxDev_ && (known(d) || rough(d)); };
      const auto tailAt = [&](int d) { return tailSeen(d); };
      double guess = 0;
      const bool below = seen(a - 1), above = seen(b);
      if (round == 0 && guessed) {
        guess = guess_[static_cast<std::size_t>(i)] - 0.5;
      } else if (below && above && tailAt(a - 1) > 0 && tailAt(b) > 0) {
        // Between two known tails: log-linear in d^2, as the bridge's is.
        const double l1 = std::log(tailAt(a - 1)), l2 = std::log(tailAt(b));
        const double s1 = static_cast<double>(a - 1) * (a - 1), s2 = static_cast<double>(b) * b;
        guess = std::sqrt(s1 + (s2 - s1) * (l1 - std::log(edge)) / std::max(l1 - l2, 1e-300));
      } else if (below || above) {
        const int d = below ? a - 1 : b;
        const double t = std::clamp(tailAt(d), 1e-300, 0.99);
        guess = crossing(2.0 * d * d / std::log(sides / t), edge);
      } else {
        guess = crossing(spread, edge);
      }
      // The answer is the first d past the crossing.
      const int p = std::clamp(static_cast<int>(std::floor(std::min(guess, 1e6))) + 1, a, b);
      if (round == 0 && !guessed) {
        floats.push_back(p < b ? p : p - 1);
        continue;
      }
      // tail(p - 1) only decides, in float where the float can tell; tail(p)
      // is the crossing's double that the bins need if p is right.
      for (int d : {p - 1, p}) {
        if (d < a || d >= b) continue;
        if (d == p || rough(d)) exact.push_back(d);
        else floats.push_back(d);
      }
    }
    // A tail asked for in double needs no float.
    std::erase_if(floats, [&](int d) { return std::find(exact.begin(), exact.end(), d) != exact.end(); });
    computeTails(std::move(exact));
    computeApprox(std::move(floats));
  }
  firstBelow_ = hi;
  computeTails(std::vector<int>(hi.begin(), hi.end()));
  const auto fb = [&](int i) { return firstBelow_[static_cast<std::size_t>(i)]; };
  binProb_[9] = static_cast<double>(1.0L - tail(fb(0)));
  for (int b = 1; b <= 8; ++b) binProb_[static_cast<std::size_t>(b)] = static_cast<double>(tail(fb(8 - b)) - tail(fb(9 - b)));
  binProb_[0] = static_cast<double>(tail(fb(8)));
  passProb_ = static_cast<double>(1.0L - tail(fb(passing_edge)));
  settled_ = true;
}

int DeviationLaw::bin(int d) {
  settleBins();
  int bin = 0;
  for (int i = 0; i < passing_edge; ++i) bin += d < firstBelow_[static_cast<std::size_t>(i)];
  return bin;
}

bool DeviationLaw::passing(int d) {
  settleBins();
  return d < firstBelow_[passing_edge];
}

double DeviationLaw::passingProbability() {
  settleBins();
  return passProb_;
}

const BinArray& DeviationLaw::binProbabilities() {
  settleBins();
  return binProb_;
}

OnesLaw& Laws::ones(int m) {
  if (m == fastM_ && fastOnes_) return *fastOnes_;
  std::unique_ptr<OnesLaw>& law = ones_[m];
  if (!law) law = std::make_unique<OnesLaw>(m);
  if (fastM_ == 0) fastM_ = m;
  if (m == fastM_) fastOnes_ = law.get();
  return *law;
}

DeviationLaw& Laws::deviation(int m, int k) {
  hard_assert(k >= 0 && k <= m, "k>=0&&k<=m");
  if (m == fastM_ && !fast_.empty() && fast_[static_cast<std::size_t>(k)]) return *fast_[static_cast<std::size_t>(k)];
  std::unique_ptr<DeviationLaw>& law = deviation_[{m, std::min(k, m - k)}];
  if (!law) law = std::make_unique<DeviationLaw>(m, std::min(k, m - k));
  if (fastM_ == 0) fastM_ = m;
  if (m == fastM_) {
    if (fast_.empty()) fast_.assign(static_cast<std::size_t>(m) + 1, nullptr);
    fast_[static_cast<std::size_t>(k)] = law.get();
  }
  return *law;
}

}  // namespace lumbra
