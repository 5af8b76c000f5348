// The two-sample Smirnov (Kolmogorov-Smirnov) test: the largest distance D
// between the distribution functions F1 of x and F2 of y, and the exact
// probability of a D at least as large when the labels x and y are dealt to
// the pooled values at random (the exact null law for continuous data; with
// ties, the law given them), as lumbra-kit smirnov prints them.
//
//   lumbra::ks_2samp({1, 2, 3}, {4, 5, 6}).pvalue == 0.1   (2 of the 20 orders)
//
// The alternatives mean what they mean in the usual scientific libraries:
// greater is D+ = max(F1 - F2), less D- = max(F2 - F1) (x's distribution
// function lies below y's). The p-value is a sum in 106-bit arithmetic with
// a proven relative error bound, or a closed form where one holds (two
// distinct values in all; equal sizes without ties), or, far below the
// doubles' range, an enclosure by closed forms; exact_fraction adds it as a
// Fraction in lowest terms. `stop`, when given, is asked every few
// milliseconds of the band's work on the calling thread; true abandons the
// call with Cancelled. Both samples must be non-empty and finite (ArgumentError);
// an exact fraction that needs more memory than the machine has is refused
// (ResourceError). The samples are copied; safe from several threads.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "lumbra/bignat.h"
#include "lumbra/error.h"
#include "lumbra/export.h"

namespace lumbra {

enum class SmirnovAlternative { two_sided, less, greater };

struct SmirnovResult {
  std::int64_t n1 = 0, n2 = 0;
  double statistic = 0;
  double pvalue = 0;
  double error_bound = 0;  // |pvalue - P| <= error_bound * P, the double's rounding included
  std::int64_t ties = 0;   // pooled values equal to their predecessor
  std::optional<Fraction> pvalue_exact;  // with exact_fraction
  // The p-value as decimal text (17 significant digits, or the shortest
  // text of the double), also where it lies below any double and pvalue is 0.
  std::string pvalue_text;
  // Where only an enclosure is known (error_bound above 1e-9): its ends,
  // three digits rounded outward; empty otherwise.
  std::string pvalue_low, pvalue_high;
};

LUMBRA_API SmirnovResult ks_2samp(const std::vector<double>& x, const std::vector<double>& y,
                                  SmirnovAlternative alt = SmirnovAlternative::two_sided,
                                  bool exact_fraction = false, const std::function<bool()>& stop = {});

}  // namespace lumbra
