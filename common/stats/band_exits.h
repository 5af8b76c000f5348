// The chance that the walk of an m-bit block with k ones, its bits drawn
// without replacement, leaves the band of half-width h around its center
// line L (`line` = L(0) .. L(m), from centerLinePoints): the deviation law's
// tail P(D >= h + 1 | m, k). DeviationLaw is the one caller.
//
// bandExits gives the reference numbers: in any F (double, long double),
// several bands a pass, as a sum of positive terms with a relative error of
// at most bandExitError(m, u) (u the unit roundoff of F), as long as the
// subnormal range adds nothing that matters. fastBandExit gives the very
// same double for one band, its row held in AVX-512 registers; it returns
// false, computing nothing, where it does not apply (no AVX-512, h < 1, a
// band wider than 127 cells). approxBandExit is the same pass in float:
// within bandExitError(m, 2^-24) of the tail plus 1e-30, for decisions that
// the double or the exact count settles when it cannot.
// Pure functions: no state, safe on any thread; they allocate (bad_alloc).
#pragma once

#include <vector>

namespace lumbra {

template <class F>
void bandExits(int m, int k, const int* widths, int count, F* out, const std::vector<int>& line);
extern template void bandExits<double>(int, int, const int*, int, double*, const std::vector<int>&);
extern template void bandExits<long double>(int, int, const int*, int, long double*, const std::vector<int>&);

bool fastBandExit(int m, int k, int h, double& out, const std::vector<int>& line);
double approxBandExit(int m, int k, int h, const std::vector<int>& line);

// gamma(10 (m + 2)) of unit roundoff u: the relative error bound above.
double bandExitError(int m, double u);

}  // namespace lumbra
