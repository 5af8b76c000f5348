// The chance that the walk of an m-bit block with k ones, its bits drawn
// without replacement, leaves the band of half-width h around its center
// line L (`line` = L(0) .. L(m), from centerLinePoints): the deviation law's
// tail P(D >= h + 1 | m, k). DeviationLaw is the one caller. A band bounded
// on one side only (BandSide::up: the walks that rise more than h over the
// line leave, those below it never do) gives the tails of the rise and of
// the fall, P(U >= h + 1 | m, k) and P(D- >= h + 1 | m, k), with the same
// bound: its rows are the block's own limits on the open side.
//
// bandExits gives the reference numbers: in any F (double, long double),
// several bands a pass, as a sum of positive terms with a relative error of
// at most bandExitError(m, u) (u the unit roundoff of F), as long as the
// subnormal range adds nothing that matters. fastBandExits gives the very
// same doubles, the bands of at most 128 cells with their rows in AVX-512
// registers, several a pass (the others, and every band on a processor
// without AVX-512, by the reference). approxBandExits is the same pass in
// float: within bandExitError(m, 2^-24) of each tail plus 1e-30, for
// decisions that the double or the exact count settles when it cannot.
// Pure functions: no state, safe on any thread; they allocate (bad_alloc).
#pragma once

#include <vector>

namespace lumbra {

// Which sides bound the band: both, or only the one over the line (up) or
// under it (down).
enum class BandSide { both, up, down };

template <class F>
void bandExits(int m, int k, const int* widths, int count, F* out, const std::vector<int>& line,
               BandSide side = BandSide::both);
extern template void bandExits<double>(int, int, const int*, int, double*, const std::vector<int>&, BandSide);
extern template void bandExits<long double>(int, int, const int*, int, long double*, const std::vector<int>&,
                                            BandSide);

// (The passes in registers hold bands of both sides alone: a one-sided band
// goes to the reference pass, in doubles for both.)
void fastBandExits(int m, int k, const int* h, int count, double* out, const std::vector<int>& line,
                   BandSide side = BandSide::both);
void approxBandExits(int m, int k, const int* h, int count, double* out, const std::vector<int>& line,
                     BandSide side = BandSide::both);

// gamma(10 (m + 2)) of unit roundoff u: the relative error bound above.
double bandExitError(int m, double u);

}  // namespace lumbra
