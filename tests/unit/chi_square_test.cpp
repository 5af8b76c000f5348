#include "stats/chi_square.h"

#include "summary_report.h"

#include <gtest/gtest.h>
#include <mpfr.h>

#include <cmath>

namespace {

// Q(a, x) from MPFR's upper incomplete gamma function, at 128 bits.
double reference(double a, double x) {
  mpfr_t ma, mx, up, full;
  mpfr_inits2(128, ma, mx, up, full, static_cast<mpfr_ptr>(nullptr));
  mpfr_set_d(ma, a, MPFR_RNDN);
  mpfr_set_d(mx, x, MPFR_RNDN);
  mpfr_gamma_inc(up, ma, mx, MPFR_RNDN);
  mpfr_gamma(full, ma, MPFR_RNDN);
  mpfr_div(up, up, full, MPFR_RNDN);
  const double q = mpfr_get_d(up, MPFR_RNDN);
  mpfr_clears(ma, mx, up, full, static_cast<mpfr_ptr>(nullptr));
  return q;
}

TEST(ChiSquareTest, UpperTailAgainstMpfr) {
  for (int dof = 1; dof <= 12; ++dof) {
    for (double x : {0.0, 1e-3, 0.5, 1.0, 2.0, 3.5, 5.0, 7.9, 11.07, 16.9, 25.0, 60.0, 200.0, 1400.0}) {
      const double want = x == 0 ? 1.0 : reference(dof / 2.0, x / 2.0);
      EXPECT_NEAR(lumbra::chiSquareUpperTail(x, dof), want, want * 1e-12 + 1e-300) << "dof " << dof << " x " << x;
    }
  }
  // Table values: the 5% points of 1 and 9 degrees of freedom.
  EXPECT_NEAR(lumbra::chiSquareUpperTail(3.841458820694124, 1), 0.05, 1e-12);
  EXPECT_NEAR(lumbra::chiSquareUpperTail(16.918977604620448, 9), 0.05, 1e-12);
}

}  // namespace

// The MPFR tail that stands in for a p-value below the doubles' range,
// against MPFR's own incomplete gamma function, to 1e-15 relative, from
// tails a double holds down to tails far below it.
TEST(ChiSquareTest, TinyTailTextAgainstMpfr) {
  for (int dof = 1; dof <= 9; ++dof) {
    for (double x : {40.0, 200.0, 1400.0, 3000.0, 4000.0}) {
      mpfr_t ma, mx, up, full, got;
      mpfr_inits2(128, ma, mx, up, full, got, static_cast<mpfr_ptr>(nullptr));
      mpfr_set_d(ma, dof / 2.0, MPFR_RNDN);
      mpfr_set_d(mx, x / 2.0, MPFR_RNDN);
      mpfr_gamma_inc(up, ma, mx, MPFR_RNDN);
      mpfr_gamma(full, ma, MPFR_RNDN);
      mpfr_div(up, up, full, MPFR_RNDN);
      mpfr_set_str(got, lumbra::kit::chiSquareTailText(x, dof, 17).c_str(), 10, MPFR_RNDN);
      mpfr_div(got, got, up, MPFR_RNDN);
      EXPECT_NEAR(mpfr_get_d(got, MPFR_RNDN), 1.0, 1e-15) << "dof " << dof << " x " << x;
      mpfr_clears(ma, mx, up, full, got, static_cast<mpfr_ptr>(nullptr));
    }
  }
}
