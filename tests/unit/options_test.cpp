// The decimal transform that every integer of lumbra-kit goes through,
// against GMP's reading of the same digits.
#include <gmp.h>
#include <gtest/gtest.h>

#include <CLI/CLI.hpp>
#include <random>
#include <string>

#include "count/mpz.h"
#include "options.h"

namespace {

using lumbra::kit::decimal;

TEST(Decimal, TakesPlainDigitsInRangeAndNothingElse) {
  std::mt19937_64 rng(21);
  const std::string alphabet = "0000123456789x+-.e ";
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    const std::size_t length = rng() % 24;
    for (std::size_t i = 0; i < length; ++i) text += alphabet[rng() % (round % 2 ? 10 : alphabet.size())];
    const std::uint64_t a = rng() >> (rng() % 64), b = rng() >> (rng() % 64);
    const std::uint64_t lo = std::min(a, b), hi = std::max(a, b);
    SCOPED_TRACE("'" + text + "' in " + std::to_string(lo) + ".." + std::to_string(hi));

    // The reference: GMP reads base 10 only when told, and a sign or a
    // blank is no digit here.
    lumbra::Mpz v;
    const bool digits = !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
    const bool ok = digits && mpz_set_str(v.get(), text.c_str(), 10) == 0 && mpz_cmp_ui(v.get(), 0) >= 0 &&
                    mpz_sizeinbase(v.get(), 2) <= 64 && mpz_get_ui(v.get()) >= lo && mpz_get_ui(v.get()) <= hi;
    std::string given = text;
    const std::string refusal = decimal(lo, hi)(given);
    if (ok) {
      EXPECT_EQ(refusal, "");
      EXPECT_EQ(given, std::to_string(mpz_get_ui(v.get())));
    } else {
      EXPECT_EQ(refusal, "'" + text + "' is not a whole number from " + std::to_string(lo) + " to " + std::to_string(hi));
    }
  }
}

}  // namespace
