// whole_file: the two statistics of a whole file, its balance and its runs,
// with their exact laws for files of up to 2^64 - 1 bits.
//
// FileBits is what a file, or any slice of consecutive bits of it, adds up
// to: its bits, ones and runs of equal bits, and its first and last bit, so
// that the slices of a file merge into the file's own numbers in any
// grouping (a run that crosses a seam is counted once).
//
// The p-values, for a file of n bits with k ones and r runs:
//   balance: P(|K' - n/2| >= |k - n/2|), K' binomial(n, 1/2);
//   runs:    P(|R' - E| >= |r - E|) given (n, k), E = 1 + 2k(n - k)/n, the
//            law of R' that of runs_law.h (the serial correlation of
//            neighbouring bits: too few runs, bits that stick; too many,
//            bits that alternate).
// Both are sums of terms of a log-concave sequence (binomials, and products
// of binomials for the even and the odd numbers of runs apart), summed from
// the observed value outwards in MPFR with directed rounding: terms come
// from log-gamma values, a group of h consecutive terms lies between the
// geometric sums of its least and its largest ratio, and what is left beyond
// a ratio below one is at most a geometric series. The result is a proven
// enclosure lnLow <= ln p <= lnHigh whose width is at most the relative
// accuracy asked for; no normal approximation is made. The work grows with
// 1 / sqrt(accuracy), not with n.
//
// Everything is computed on the calling thread with MPFR numbers that live
// in the call; safe to call from several threads at once. Throws
// std::bad_alloc and, from FileBits::append, std::overflow_error.
#pragma once

#include <cstdint>

namespace lumbra {

struct FileBits {
  std::uint64_t bits = 0;
  std::uint64_t ones = 0;
  std::uint64_t runs = 0;
  int firstBit = 0;  // meaningful when bits > 0
  int lastBit = 0;

  // The bits of a slice of `bits` bits with `ones` ones and `runs` runs
  // that starts with firstBit and ends with lastBit.
  static FileBits slice(std::uint64_t bits, std::uint64_t ones, std::uint64_t runs, int firstBit, int lastBit);

  // Appends the slice that follows this one directly; an empty slice on
  // either side changes nothing. Throws std::overflow_error when the bits
  // would pass 2^64 - 1 (and leaves this unchanged).
  void append(const FileBits& next);

  bool operator==(const FileBits&) const = default;
};

// ln of a probability, enclosed: lnLow <= ln p <= lnHigh <= 0.
struct LogProbability {
  double lnLow;
  double lnHigh;
  // p, rounded to a double: 0 when it is below the doubles' range.
  double estimate() const;
  // Whether p < alpha for certain, and whether p >= alpha for certain;
  // neither when alpha lies inside the enclosure (ask again more precisely).
  bool surelyBelow(double alpha) const;
  bool surelyAtLeast(double alpha) const;
};

// The default relative width of an enclosure: p to about three digits, as
// the verdict prints it (a p-value of a file of 2^29 bits takes some 10 ms;
// each halving of the width costs 1.4 times that).
inline constexpr double file_p_accuracy = 0x1p-10;

// The balance of a file of `bits` >= 1 bits with `ones` <= bits ones.
// Requires accuracy in [2^-60, 2^-4].
// Gives back what MPFR keeps for the calling thread (the caches of its
// constants): a thread that works out p-values and then ends calls it last,
// or the caches are lost with the thread.
void releaseThreadCaches();

LogProbability balancePValue(std::uint64_t bits, std::uint64_t ones, double accuracy = file_p_accuracy);

// The runs of a file of `bits` >= 1 bits with `ones` ones and `runs` runs,
// which must be a number of runs such a file can have.
LogProbability runsPValue(std::uint64_t bits, std::uint64_t ones, std::uint64_t runs,
                          double accuracy = file_p_accuracy);

// Whether the p-value is at least alpha (0 < alpha <= 1), asking for
// narrower enclosures (2^-24, 2^-40, 2^-60) while alpha lies inside one; a
// p-value still within 2^-60 of alpha counts as at least alpha.
bool balanceAtLeast(std::uint64_t bits, std::uint64_t ones, double alpha);
bool runsAtLeast(std::uint64_t bits, std::uint64_t ones, std::uint64_t runs, double alpha);

}  // namespace lumbra
