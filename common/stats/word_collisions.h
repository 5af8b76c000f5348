// collisions: how many of a block's words repeat a value an earlier word of
// the block had.
//
// The block of m bits is cut into w = floor(m / t) words of t bits, in
// stream order, each word's first bit its most significant; the bits past
// w * t are not read. The width t is chosen by m, the least for which a
// block of fair bits expects at most 5 collisions, w(w - 1) / 2^(t + 1) <=
// 5 (t = 5 for 64 bits, 11 for 1024, 14 for 4096: between 0.5 and 5
// collisions expected wherever w is more than a few words). The value is w
// minus the number d of distinct words. Of the M^w sequences of w words in
// M = 2^t cells,
//   N(d) = M (M - 1) ... (M - d + 1) S(w, d)
// have d distinct values (S: Stirling numbers of the second kind; choose
// the partition of the words by value, then the values in order). The law
// is given m alone; the p-value is the upper tail P(C' >= c): a source
// whose consecutive outputs lie on few planes (RANDU's top bytes) repeats
// its words far more often than chance.
//
// wordCollisions marks each word's value in a bitmap of 2^t bits, counting
// the marks it finds already set, then clears the marks it made.
#pragma once

#include <cstdint>
#include <vector>

#include "stats/statistic.h"

namespace lumbra {

// The width t of the words of a block of m bits, and how many words w.
int collisionWidth(int m);
int collisionWords(int m);

// The collisions of the block of m bits (1..4096) in words[0, (m + 63) /
// 64), first bit on top of words[0]; seen is the bitmap, 2^t bits, all 0,
// resized as needed (std::bad_alloc) and left all 0.
int wordCollisions(const std::uint64_t* words, int m, std::vector<std::uint64_t>& seen);

// The law of the collisions among w >= 1 words of t bits (1..20), and that
// of blocks of m bits (1..4096). Throws std::bad_alloc.
std::unique_ptr<StatisticLaw> wordCollisionsLaw(int t, int w);
std::unique_ptr<StatisticLaw> collisionsLaw(int m);

const Statistic& collisionsStatistic();

}  // namespace lumbra
