#include "stats/calibrated_chi_square.h"

#include <cmath>
#include <numeric>
#include <vector>

#include "kova/hard_assert.h"

namespace lumbra {

void addTrialsCovariance(std::span<double> cov, double count, std::span<const double> q) {
  const std::size_t g = q.size();
  hard_assert(cov.size() == g * g, "cov.size()==g*g");
  for (std::size_t i = 0; i < g; ++i) {
    if (q[i] == 0) continue;
    // NOTE: the diagonal as q (1 - q), not q - q^2: a trial whose cell is
    // sure (q = 1) adds exactly nothing, and one nearly sure keeps its digits.
    cov[i * g + i] += count * q[i] * (1 - q[i]);
    for (std::size_t j = 0; j < g; ++j)
      if (j != i && q[j] != 0) cov[i * g + j] -= count * q[i] * q[j];
  }
}

ChiSquareForm calibratedChiSquare(std::span<const double> diff, std::span<const double> cov) {
  const std::size_t g = diff.size();
  hard_assert(cov.size() == g * g, "cov.size()==g*g");
  auto at = [&](std::size_t i, std::size_t j) { return cov[i * g + j]; };

  // The parts: cells joined by chains of links, as a forest of roots.
  std::vector<std::size_t> root(g);
  std::iota(root.begin(), root.end(), std::size_t{0});
  auto find = [&](std::size_t i) {
    while (root[i] != i) i = root[i] = root[root[i]];
    return i;
  };
  for (std::size_t i = 0; i < g; ++i)
    for (std::size_t j = i + 1; j < g; ++j)
      if (at(i, j) < 0) root[find(j)] = find(i);
  // Every cell but the last of its part.
  std::vector<std::size_t> last(g), kept;
  for (std::size_t i = 0; i < g; ++i) last[find(i)] = i;
  for (std::size_t i = 0; i < g; ++i)
    if (last[find(i)] != i) kept.push_back(i);

  // Cholesky L L^T of the kept cells' covariance, and L y = diff alongside:
  // T = |y|^2. A pivot that rounding left at or below zero (the parts are
  // positive definite exactly) drops its cell: dof one less.
  const std::size_t r = kept.size();
  std::vector<double> l(r * r, 0.0), y(r, 0.0);
  std::vector<bool> dropped(r, false);
  ChiSquareForm form;
  for (std::size_t a = 0; a < r; ++a) {
    for (std::size_t b = 0; b <= a; ++b) {
      if (dropped[b]) continue;
      double s = at(kept[a], kept[b]);
      for (std::size_t c = 0; c < b; ++c) s -= l[a * r + c] * l[b * r + c];
      if (b < a) {
        l[a * r + b] = s / l[b * r + b];
      } else if (s > 0) {
        l[a * r + a] = std::sqrt(s);
      } else {
        dropped[a] = true;
      }
    }
    if (dropped[a]) continue;
    double s = diff[kept[a]];
    for (std::size_t c = 0; c < a; ++c) s -= l[a * r + c] * y[c];
    y[a] = s / l[a * r + a];
    form.statistic += y[a] * y[a];
    ++form.dof;
  }
  return form;
}

}  // namespace lumbra
