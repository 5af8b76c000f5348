// The laws of a block's two statistics when its bits are fair coin flips:
// the ones count k of an m-bit block, and its deviation d given (m, k).
//
// For each the module gives a block's p-value, exactly or with a proven
// error bound, and what a test of many blocks expects:
//   p_ones(m, k)      = P(|K' - m/2| >= |k - m/2|), K' binomial(m, 1/2);
//   p_deviation(m,k,d) = P(D' >= d | m, k) = (C(m,k) - C(m,k,d-1)) / C(m,k),
//                        1 for d = 0,
// where C(m, k, d) is the end-point count of the constrained triangle.
// A p-value's bin is floor(10 p), 9 for p = 1, and a block passes when its
// p-value is at least 0.01; both are decided exactly.
//
// OnesLaw holds the exact binomial sums of one m; DeviationLaw the tails of
// one (m, k), computed in floating point for each d when first asked for
// (stats/band_exits.h), with exact big-integer counts where a decision
// needs them. A DeviationLaw of one side is the same for the rise over the
// line alone (up) or the fall under it (down): P(U >= d | m, k), the band
// open on the other side.
// Laws caches both by m and (m, k); everything lives on the heap, owned by
// the Laws, until it goes. None of these is safe to share between threads
// while it changes; give each thread its own Laws.
#pragma once

#include <gmp.h>

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "count/mpz.h"
#include "stats/band_exits.h"

namespace lumbra {

inline constexpr int bin_count = 10;
using BinArray = std::array<double, bin_count>;

class OnesLaw {
 public:
  // Requires 1 <= m <= 4096. Throws std::bad_alloc.
  explicit OnesLaw(int m);

  int size() const { return m_; }
  // p_ones(m, k) = tail / 2^m: sets out to the tail.
  void tailCount(mpz_ptr out, int k) const;
  int bin(int k) const { return bins_[static_cast<std::size_t>(k)]; }
  bool passing(int k) const { return passing_[static_cast<std::size_t>(k)] != 0; }
  // P(K' = k), 0 where it is below the doubles.
  double probability(int k) const { return prob_[static_cast<std::size_t>(k)]; }
  // What one block of m bits contributes to the expectations.
  double passingProbability() const { return passProb_; }
  const BinArray& binProbabilities() const { return binProb_; }

 private:
  int m_;
  std::vector<Mpz> below_;  // below_[j] = sum of C(m, i) for i <= j, j <= m/2
  std::vector<unsigned char> bins_, passing_;
  std::vector<double> prob_;
  double passProb_ = 0;
  BinArray binProb_{};
};

class DeviationLaw {
 public:
  // Requires 1 <= m <= 4096, 0 <= k <= m. Computes nothing yet.
  DeviationLaw(int m, int k, BandSide side = BandSide::both);

  int size() const { return m_; }
  int ones() const { return k_; }
  BandSide side() const { return side_; }
  // The largest deviation a block of (m, k) can have (to its side): tail(d)
  // = 0 beyond it.
  int maxDeviation() const { return maxDev_; }

  // p_deviation(m, k, d) within a relative error tailError() (it is 0 past
  // maxDeviation()). Long double keeps tails far below the doubles' range.
  // Each d is computed once, when first asked for (or in computeTails), in
  // O(m d) steps.
  long double tail(int d);
  double tailError() const { return err_; }
  // Computes the tails of the deviations ds not yet known (those past
  // maxDeviation() need none), several a pass: cheaper than one by one.
  void computeTails(std::vector<int> ds);
  // P(D' = d | m, k), to the same relative error of tail(d).
  long double probability(int d) { return tail(d) - tail(d + 1); }
  // The exact tail: sets num to C(m, k) - C(m, k, d - 1) (C(m, k) for d = 0)
  // and den to C(m, k).
  void tailCount(mpz_ptr num, mpz_ptr den, int d) const;

  // Where the search for the bins' edges looks first: the edges of a law
  // of nearby (m, k), settled, scaled by the spread of the walks. A right
  // guess settles an edge with the two tails around it; a wrong one costs
  // more passes. Only the work depends on it, never a result.
  void guessEdgesFrom(const DeviationLaw& near);

  int bin(int d);
  bool passing(int d);
  double passingProbability();
  const BinArray& binProbabilities();
  // Gives back the center line (m + 1 ints: 16 KiB at m = 4096), which
  // only the passes read; a later pass makes it again. The tails known and
  // the bins stay.
  void release();

 private:
  // The bins' boundaries.
  void settleBins();
  // Whether p_deviation(d) >= num/den, exactly.
  bool atLeast(int d, int num, int den);
  // Keeps the double tail t of d, taken again in long double where tiny.
  void setTail(int d, double t);
  // The tails of ds in float, for the search of settleBins.
  void computeApprox(std::vector<int> ds);
  // tail(d) in double or else in float where one was computed, -1 where none.
  double tailSeen(int d) const;

  int m_, k_;
  BandSide side_;
  int maxDev_;
  double err_;
  std::vector<int> line_;           // the center line, once a tail needs it
  std::vector<long double> tails_;  // tail(d) by d; negative: not yet computed
  std::vector<double> approx_;      // tail(d) in float by d, the same way
  // NOTE: bins and passing are monotone in d, so the d where each edge is
  // crossed stands for them all: firstBelow_[i] is the least d whose tail is
  // below edge i (edges 0.9, 0.8, ..., 0.1, then 0.01).
  bool settled_ = false;
  std::array<int, bin_count> firstBelow_{};
  std::array<int, bin_count> guess_{};  // 0: no guess
  BinArray binProb_{};
  double passProb_ = 0;
};

// p_ones and p_deviation of every block size and (m, k) asked for, each made
// once. References stay valid while the Laws lives.
class Laws {
 public:
  OnesLaw& ones(int m);
  // NOTE: D has the same law for k and m - k (the complement of a block
  // mirrors its walk and its line), so both share one DeviationLaw.
  DeviationLaw& deviation(int m, int k);

 private:
  std::map<int, std::unique_ptr<OnesLaw>> ones_;
  std::map<std::pair<int, int>, std::unique_ptr<DeviationLaw>> deviation_;
  // The laws of the first m asked for, by k, in front of the maps: a file's
  // blocks all have one length but the last.
  int fastM_ = 0;
  OnesLaw* fastOnes_ = nullptr;
  std::vector<DeviationLaw*> fast_;
};

}  // namespace lumbra
