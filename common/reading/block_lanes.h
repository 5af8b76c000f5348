// block_lanes: blocks of 64, 128 or 256 bits measured 64 at a time, one
// block to a lane of the processor's vectors, for the processors with the
// AVX-512 instructions that take bytes (BW, VBMI, BITALG, VPOPCNTDQ).
//
// Short blocks are where a file's bits cost the most to measure: a block of
// 64 bits measured by itself spends as much in getting its walk into
// registers and its extremes out of them as in walking. Here the 64 blocks
// walk together, one bit of each a step: a bit of all of them is one mask,
// and each step is an add, a max and a min over the lanes. The walk is kept
// as h(x) = m * ones(x) - k * x, an integer, whose extremes give the
// distances from the center line (band/center_line.h) by one rounding each:
// the distance at x is ceil(2 h(x) / m) when 2k >= m, where the line is
// truncated down, and floor(2 h(x) / m) when it falls; both are monotone in
// h, so the greatest and least distance are those of the greatest and
// least h. |h| <= m^2 / 4, which 16-bit lanes hold up to m = 256.
#pragma once

#include <cstddef>

#include "reading/block_meter.h"

namespace lumbra {

// Whether blocks of n bits are measured in lanes here: n is 64, 128 or 256
// and the processor has the instructions.
bool laneSize(int n);

// The shapes of count blocks of n bits (laneSize(n)), one after the other
// from bit 0 of bytes, into out[0, count), as BlockMeter::shape gives them
// but with each longest run 0; in groups of 64, so only the first
// count / 64 * 64 of them, whose number it returns.
std::size_t measureLanes(const unsigned char* bytes, int n, std::size_t count, BlockShape* out);

}  // namespace lumbra
