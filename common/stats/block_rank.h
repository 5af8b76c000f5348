// rank: a block's bits as a matrix over GF(2), and its rank.
//
// The block of m bits is read as r rows of c bits in stream order, the first
// c bits the first row, each row's first bit its leftmost: c = 32 for
// m < 4096 and 64 for m = 4096, r = min(floor(m / c), c). The bits past
// r * c are not read (a block of 1024 bits is one 32 x 32 matrix; one of
// 4096 bits one 64 x 64 matrix; one of fewer than 32 bits has no row, rank
// 0).
//
// Of the 2^(rc) matrices of r rows of c bits, exactly
//   N(rho) = prod_{i < rho} (2^r - 2^i)(2^c - 2^i) / (2^rho - 2^i)
// have rank rho (0 <= rho <= min(r, c)): choose rho independent rows of
// the row space among the column space, counted by the Gaussian binomial.
// The law is given m alone; the p-value is its lower tail, P(R' <= rho):
// a rank short of the likely ones is the linear dependence of a flawed
// source. A source linear over GF(2) with a state of at most c bits (an
// LFSR, xorshift) shows the other face: every one of its matrices has full
// rank, which fair bits have with probability 0.289; the summary's bins see
// that as too many blocks in the top bin.
//
// blockRank eliminates on whole rows held in 64-bit registers, one pivot a
// step: the pivot's lowest one is cleared from every later row by a
// masked exclusive or, with no branch on the data.
#pragma once

#include <cstddef>
#include <cstdint>

#include "stats/statistic.h"

namespace lumbra {

// The columns c and rows r of the matrix of a block of m bits.
int rankColumns(int m);
int rankRows(int m);

// The rank of the matrix of the block of m bits (1..4096) in words[0,
// (m + 63) / 64), first bit on top of words[0].
int blockRank(const std::uint64_t* words, int m);

// The ranks of count blocks of n bits (n a multiple of 8), one after the
// other from bytes, into out[i].rank, several blocks at once, one to a
// vector lane (the elimination above, each lane its own block): in groups
// of 16 (8 for n = 4096), so only the first whole groups, whose number of
// blocks it returns (none at the plain processor level, exec/processor.h). (A row is read as 4 or 8 bytes in the processor's
// order: a permutation of the columns, which keeps the rank.)
std::size_t blockRanks(const unsigned char* bytes, int n, std::size_t count, BlockShape* out);

// The law of the rank of a matrix of fair bits, r rows of c bits (0 <= r,
// 1 <= c <= 64, rc <= 4096), and that of blocks of m bits (1..4096). Throws
// std::bad_alloc.
std::unique_ptr<StatisticLaw> matrixRankLaw(int r, int c);
std::unique_ptr<StatisticLaw> rankLaw(int m);

const Statistic& rankStatistic();

}  // namespace lumbra
