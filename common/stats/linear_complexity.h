// linear_complexity: the length L of the shortest linear feedback shift
// register over GF(2) that produces a block's bits, in stream order.
//
// Of the 2^m blocks of m bits, one (all zeros) has L = 0 and exactly
//   N(L) = 2^min(2L - 1, 2m - 2L)
// have complexity L, for 1 <= L <= m (the count of sequences of a given
// length and complexity over GF(2)). The law is given m alone; half the
// blocks have L = m / 2 when m is even. The p-value is two-sided about
// m / 2, as the runs' is about their mean: P(|2L' - m| >= |2L - m|). Too
// low a complexity is a generator whose state is small and linear (a
// 32-bit xorshift's bits have L <= 1024, a 64-bit one's top halves L <=
// 2048); too high, bits that follow each other too closely to chance.
//
// linearComplexity is Berlekamp and Massey's algorithm on 64-bit words:
// the connection polynomials and the block reversed are bit arrays, each
// step's discrepancy the parity of a word-wise AND over the current length,
// each update a word-wise exclusive or of the shifted former polynomial.
// Its cost grows as m^2 / 128 word operations a block.
#pragma once

#include <cstdint>
#include <vector>

#include "stats/statistic.h"

namespace lumbra {

// The linear complexity of the block of m bits (1..4096) in words[0,
// (m + 63) / 64), first bit on top of words[0], bits past m zero; scratch
// is the algorithm's room, resized as needed (std::bad_alloc).
int linearComplexity(const std::uint64_t* words, int m, std::vector<std::uint64_t>& scratch);

// The law of the complexity of blocks of m bits (1..4096). Throws
// std::bad_alloc.
std::unique_ptr<StatisticLaw> linearComplexityLaw(int m);

const Statistic& linearComplexityStatistic();

}  // namespace lumbra
