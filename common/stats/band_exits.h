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

// A one-sided band may be cut on its open side too, cuts[b] from the line:
// what leaves there is summed into lost[b] instead, and the tail then lies
// between out[b] and out[b] + lost[b] (a walk cut off might still have left
// through the bound side later).
template <class F>
void bandExits(int m, int k, const int* widths, int count, F* out, const std::vector<int>& line,
               BandSide side = BandSide::both, const int* cuts = nullptr, F* lost = nullptr);
extern template void bandExits<double>(int, int, const int*, int, double*, const std::vector<int>&, BandSide,
                                       const int*, double*);
extern template void bandExits<long double>(int, int, const int*, int, long double*, const std::vector<int>&,
                                            BandSide, const int*, long double*);

// The tails of one-sided bands in doubles, within bandExitError(m, 2^-53)
// + 2^-52 (side_exit_error): each band cut on its open side where the walks
// that reach the cut are a negligible part of the tail, and measured to be
// (a band whose cut loses more than 2^-53 of its tail goes again uncut).
// The cut rows are a small part of the open ones.
inline constexpr double side_exit_error = 0x1p-52;
void sideExits(int m, int k, const int* h, int count, double* out, const std::vector<int>& line, BandSide side);

// (The passes in registers hold bands of both sides alone: a one-sided band
// goes to sideExits, in doubles for both.)
void fastBandExits(int m, int k, const int* h, int count, double* out, const std::vector<int>& line,
                   BandSide side = BandSide::both);
void approxBandExits(int m, int k, const int* h, int count, double* out, const std::vector<int>& line,
                     BandSide side = BandSide::both);

// gamma(4 (m + 1)) of unit roundoff u: the relative error bound above.
double bandExitError(int m, double u);

}  // namespace lumbra
