// smirnov: the two-sample Smirnov (Kolmogorov-Smirnov) test, its statistic
// and its exact p-value under the permutation law, ties included.
//
// Pool the samples x (n1 values) and y (n2) and sort them; walk the pooled
// values in order, i of them from x and j from y so far. F1 = i / n1 and
// F2 = j / n2 are the samples' distribution functions, compared only at the
// end of each run of equal values (where both are defined). The statistic is
//   two-sided: D = max |F1 - F2|,  greater: max (F1 - F2),  less: max (F2 - F1),
// (the meanings of the usual scientific libraries: `less` is the alternative
// that x's distribution function lies below y's). Everything is decided in
// integers: D n1 n2 = max of i n2 - j n1 (or its negative, or its absolute
// value) over the ends of runs.
//
// The p-value is P(D' >= D) when the labels x and y are dealt to the pooled
// values uniformly at random, the pooled values (and so the runs of ties)
// fixed: a lattice path from (0, 0) to (n1, n2), checked at the ends of runs.
// With no ties it is the exact null law of D for continuous data. The paths
// with D' < D are those inside a band (general_band.h) whose bounds at the
// end of a run are D n1 n2 - 1 around i N - t n1 (t = i + j, N = n1 + n2);
// the p-value is the probability of leaving it, as a double-word sum with a
// proven relative error, or exactly, as the paths outside over C(N, n1).
// Where a closed form holds the answer (smirnov_closed_forms.h: one check,
// or equal sizes without ties) it stands in for the band, whose cost grows
// with N times the band's width; where the band would run long and bounds
// from closed forms show the p-value below the doubles' range, they are
// the answer (an enclosure), since the band's sum loses its terms there.
//
// A Smirnov keeps the ends of the runs (two integers per distinct value);
// the samples are copied while it is made and not kept. Not shared between
// threads while it is made; afterwards its const functions may be.
// Throws std::bad_alloc.
#pragma once

#include <gmp.h>

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "count/general_band.h"
#include "stats/smirnov_closed_forms.h"

namespace lumbra {

enum class Alternative { two_sided, less, greater };

class Smirnov {
 public:
  // Requires both samples non-empty, no NaN among the values and
  // n1 + n2 <= max_band_steps.
  Smirnov(std::span<const double> x, std::span<const double> y);

  std::int64_t n1() const { return n1_; }
  std::int64_t n2() const { return n2_; }
  // The pooled values that equal their predecessor in sorted order.
  std::int64_t ties() const { return ties_; }

  // D n1 n2, an integer.
  std::int64_t scaledStatistic(Alternative alt) const;
  // D, the double nearest to D n1 n2 / (n1 n2) (within one unit in the last place).
  double statistic(Alternative alt) const;

  // The band of the arrangements whose statistic is below `scaled`
  // (a value of scaledStatistic).
  GeneralBand band(Alternative alt, std::int64_t scaled) const;

  // P(D' >= D) with its relative error bound by the band, on at most
  // `threads` threads.
  LeaveProbability pValue(Alternative alt, unsigned threads = 0) const;
  // The same, abandonable through `stop` (nothing once it said so).
  std::optional<LeaveProbability> pValue(Alternative alt, unsigned threads, const BandStop& stop) const;
  // The p-value by a closed form, where one holds and costs less than the
  // band: the pooled values take two distinct values, or n1 = n2 without
  // ties. Nothing otherwise.
  std::optional<Enclosure> closedForm(Alternative alt) const;
  // Bounds by closed forms, nothing where the statistic is 0. Without ties
  // and n1 != n2 the diagonal bounds (within a factor of about
  // 2 ((1 + D) / (1 - D))^|n2 - n1| of each other); with ties, below: the
  // hypergeometric tail at the check where the statistic is reached (that
  // check alone already leaves), above: the paths that leave at any point,
  // checked or not (the diagonal bounds' upper end, or the exact sum where
  // n1 = n2); without ties the larger of the two lower ends (the inner
  // diagonal may hold no path). Cheap: a few log-gammas and one tail; the
  // lower end is never 0.
  std::optional<Enclosure> bounds(Alternative alt) const;
  // The p-value without the band, where closed forms give it: closedForm,
  // else bounds whose upper end lies below the doubles' normal range
  // (where the band's terms are lost) unless the exact count is quick.
  std::optional<Enclosure> withoutBand(Alternative alt) const;
  // The cell steps of the band's pass (leaveProbabilityWork), 0 where the
  // statistic is 0.
  double bandWork(Alternative alt) const;
  // The same exactly: p set to the arrangements with D' >= D over C(N, n1),
  // in lowest terms. Its cost grows with the band times the bits of C(N, n1).
  void exactPValue(mpq_ptr p, Alternative alt) const;
  // The same, abandonable through `stop`: false once it said so.
  bool exactPValue(mpq_ptr p, Alternative alt, const BandStop& stop) const;
  // The bytes exactPValue holds at its peak.
  double exactPValueBytes(Alternative alt) const;
  // Whether the exact count should stand in for `p`, a result of
  // pValue(alt): its bound is above 1e-12 (the terms fell below about
  // 1e-290, out of the doubles' range) and the count is quick, at most
  // quick_exact_work limb additions (countInsideWork). Memory is the
  // caller's to check.
  bool exactIsBetter(const LeaveProbability& p, Alternative alt) const;
  // About five seconds of one core, two and a half on two: balanced samples
  // to N = 14000 at p ~ 1e-300, where the sum's bound has grown to 1e-7 and
  // beyond (10^4 each: 4e9 additions, 2.5 s of one core).
  static constexpr double quick_exact_work = 1e10;
  // A band's relative error bound above which the bounds (when not wider)
  // answer instead: the band's terms fell below the doubles' range.
  static constexpr double lost_accuracy = 1e-3;

 private:
  std::int64_t n1_ = 0, n2_ = 0, ties_ = 0;
  // At the end of run r: ends_[r] pooled values so far, xs_[r] of them from x.
  std::vector<std::int64_t> ends_, xs_;
};

}  // namespace lumbra
