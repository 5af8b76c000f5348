// A chi-square test of cell counts whose trials are not alike: each trial
// falls in one of g cells, trial t with its own probabilities q_t. Pearson's
// sum of (O - E)^2 / E follows chi-square(g - 1) only when every q_t is the
// same; with unequal q_t the counts vary less (a trial of probabilities
// (0.5, 0.5) varies, one of (1, 0) does not) and Pearson's p-values pile up
// towards 1. The covariance of the counts is exactly
//   S = sum over trials of (diag q_t - q_t q_t^T),
// and the quadratic form T = (O - E)^T S^- (O - E) follows chi-square(rank S)
// for many trials, whatever the q_t; with equal q_t it is Pearson's sum.
//
// Matrices are g x g doubles, row by row, owned by the caller. Pure
// functions; nothing throws but std::bad_alloc. Sizes that do not fit are
// hard assertions.
#pragma once

#include <span>

namespace lumbra {

// Adds count (diag q - q q^T), the covariance of the cell counts of `count`
// trials of probabilities q, to cov (q.size() squared entries).
void addTrialsCovariance(std::span<double> cov, double count, std::span<const double> q);

// The statistic T and its degrees of freedom, rank S (0: no count can vary,
// T is 0).
struct ChiSquareForm {
  double statistic = 0;
  int dof = 0;
};

// T of the differences O - E over the covariance S that addTrialsCovariance
// summed (g = diff.size(), g squared entries). The rank is decided from the
// pattern of S, not from rounded pivots: two cells are linked when some trial
// may fall in either (S_ij < 0), and the cells a chain of links joins vary
// as a whole by rank (their number - 1), the trials that fall in them being
// fixed in number. T is taken over all cells but one of each such part,
// whose covariance is then positive definite. O - E must add up to zero over
// each part (it does for counts of trials of these q_t).
ChiSquareForm calibratedChiSquare(std::span<const double> diff, std::span<const double> cov);

}  // namespace lumbra
