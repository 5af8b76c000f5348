// BigNat: a natural number of any size, as the library's counts and exact
// probabilities come out. A plain value (copyable, comparable) that owns its
// digits: 64-bit words, least significant first, with no zero word on top
// (zero has no words).
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "lumbra/export.h"

namespace lumbra {

class LUMBRA_API BigNat {
 public:
  BigNat() = default;
  BigNat(std::uint64_t v);  // NOLINT(google-explicit-constructor): 5 is a BigNat
  // The number with these words, least significant first (top zeros are
  // dropped).
  static BigNat from_words(std::vector<std::uint64_t> words);
  // Plain decimal digits, no sign or blank. Throws ArgumentError
  // ("'12x' is not a decimal number").
  static BigNat from_string(std::string_view decimal);

  // Decimal digits: "0" for zero.
  std::string to_string() const;
  // The bits below the highest one bit, inclusive: 0 for zero, 8 for 162.
  std::size_t bit_length() const;
  const std::vector<std::uint64_t>& words() const { return words_; }
  bool is_zero() const { return words_.empty(); }

  friend bool operator==(const BigNat&, const BigNat&) = default;
  friend LUMBRA_API std::strong_ordering operator<=>(const BigNat& a, const BigNat& b);

 private:
  std::vector<std::uint64_t> words_;
};

// An exact probability: numerator / denominator in lowest terms,
// denominator >= 1 (0 is 0/1, 1 is 1/1).
struct Fraction {
  BigNat numerator;
  BigNat denominator;
  friend bool operator==(const Fraction&, const Fraction&) = default;
};

}  // namespace lumbra
