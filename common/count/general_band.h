// general_band: lattice paths from (0, 0) to (a, b) held inside a band given
// row by row, counted exactly or weighed under the uniform law.
//
// A path takes a steps of kind A and b of kind B in any order; after t steps
// (t = 0 .. a + b) it stands at i, the number of A steps taken so far. The
// band admits the points with lo[t] <= i <= hi[t]; the bounds are inclusive,
// any integers (a bound beyond the rectangle 0 <= i <= a, 0 <= t - i <= b
// simply does not cut). The constrained triangle's band is one instance
// (i = ones, rows = bits); the two-sample Smirnov band another.
//
// countInside gives the number of paths that never leave the band, as a GMP
// integer; leaveProbability the probability that a path drawn uniformly from
// all C(a + b, a) leaves it at least once, with a proven bound on its relative
// error. That probability is a sum of positive terms (the mass that steps
// out, row by row, and the mass met in the middle row times the chance that
// it still leaves), never one minus something, so it keeps its accuracy
// however small it is; the rows are carried in double-word numbers (two
// doubles, about 106 bits), so a million rows still leave an error far below
// 1e-20 as long as the mass that matters stays above the doubles' smallest
// normal numbers (about 1e-290; below that the bound says how much is lost).
//
// Memory: the band (two integers per row) is the caller's. countInside runs
// the limb rows of limb_rows.h (two rows per half, each only as wide as the
// band's widest row, in limbs of C(a + b, a)'s size at most);
// leaveProbability keeps four rows of double pairs (two per half), each as
// wide as the band's widest row and three more; both also the band cut to
// the points that can still reach the end (two 32-bit bounds per row,
// 16 MiB at a + b = 2 10^6). All
// of it is taken on the calling thread and given back before the call
// returns. Both run their two halves on two threads when asked to and worth
// it; the answer is the same bytes either way. Both throw std::bad_alloc;
// nothing else.
#pragma once

#include <gmp.h>

#include <cstdint>
#include <functional>
#include <vector>

namespace lumbra {

struct GeneralBand {
  std::int64_t a = 0, b = 0;
  // a + b + 1 entries each: the least and the greatest i admitted after t steps.
  std::vector<std::int64_t> lo, hi;
};

// The most steps a band may have: t, i and the weights stay exact in doubles
// and products of two of them in 64-bit integers.
inline constexpr std::int64_t max_band_steps = 2147483646;

// Sets c to the number of paths that stay inside, on at most `threads`
// threads (0: one per core). Requires a, b >= 0, a + b <= max_band_steps
// and both bound vectors of a + b + 1 entries.
void countInside(mpz_ptr c, const GeneralBand& band, unsigned threads = 0);
// The same, abandonable: false once `stop` (asked every few milliseconds on
// the calling thread with the share done) said so; c then holds no count.
bool countInside(mpz_ptr c, const GeneralBand& band, unsigned threads, const std::function<bool(double done)>& stop);

// The bytes countInside holds at its peak, for the memory check before it starts.
double countInsideBytes(const GeneralBand& band);

// What countInside costs: its limb additions on one thread, about 1e9 a
// second of one core.
double countInsideWork(const GeneralBand& band);

struct LeaveProbability {
  long double value = 0;  // P(the path leaves the band)
  double error = 0;       // |value - P| <= error * P
};

// How the rows of leaveProbability are stepped: `automatic` takes the
// widest vectors the processor has, `plain` one cell at a time (the
// reference the vector kernels match to the bit, for tests).
enum class BandKernel { automatic, plain };

// P(a uniformly drawn path leaves the band) on at most `threads` threads (0:
// one per core). Requires what countInside requires.
LeaveProbability leaveProbability(const GeneralBand& band, unsigned threads = 0,
                                  BandKernel kernel = BandKernel::automatic);

// Whether to abandon a long pass: called on the calling thread every few
// milliseconds of rows with the share of the work done so far (0 to 1);
// true abandons it (the other thread, if any, follows within a row).
using BandStop = std::function<bool(double done)>;

// The same, abandonable: false once `stop` said so (then `out` is not set).
bool leaveProbability(LeaveProbability& out, const GeneralBand& band, unsigned threads, BandKernel kernel,
                      const BandStop& stop);

// The cell steps leaveProbability takes for `band` (both passes), for
// estimates of its time: about 2 ns each on one core.
double leaveProbabilityWork(const GeneralBand& band);

}  // namespace lumbra
