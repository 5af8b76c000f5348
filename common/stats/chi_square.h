// The upper tail of the chi-square distribution: the p-value of a
// chi-square statistic. Pure functions of their arguments.
#pragma once

namespace lumbra {

// Q(a, x) = Gamma(a, x) / Gamma(a), the regularised upper incomplete gamma
// function, to about 1e-14 relative (0 where it is below the doubles).
// Requires a > 0 and x >= 0.
double upperGammaRegularized(double a, double x);

// P(X >= x) for X chi-square with dof degrees of freedom (dof >= 1).
double chiSquareUpperTail(double x, int dof);

}  // namespace lumbra
