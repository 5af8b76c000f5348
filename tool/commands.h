// The three commands of lumbra. Each writes its output to `out` and returns
// normally or raises sh_ptr<kova::Exception>; none prints errors or chooses
// an exit status. Once a write to `out` has failed, nothing more can reach a
// reader: the table and the file walk stop there and return, and the caller
// reports the failure. Everything a command builds lives on its own stack
// and in `pool`, and is released before it returns.
#pragma once

#include <vector>

#include "kova/file.h"
#include "kova/mem_pool.h"
#include "triangle/budget.h"
#include "kova/mp_string.h"
#include "triangle/trian.h"

namespace lumbra {

// showC n k d: the number of n-bit blocks with k one bits whose walk stays
// within d of its center line, then its size in bits: "4 (3)", no line end.
void showC(kova::mem_pool& pool, kova::file& out, int n, int k, int d);

// showTrian n k d: the whole constrained triangle as a table.
void showTrian(kova::mem_pool& pool, kova::file& out, int n, int k, int d);
void printTrian(kova::mem_pool& pool, kova::file& out, const Trian& t);

// Peak bytes of showTrian n k d, estimated from n, k and d alone: the whole
// triangle (budget.h), then the texts that printTrian makes besides: every
// column's counts, padded to the column's widest count, and one line and the
// header, each as wide as the labels plus every column and its blank (the
// header wider where a column number is wider than its column).
// Requires 1 <= n, 0 <= k <= n, 0 <= d <= n.
MemoryEstimate showTrianMemory(int n, int k, int d);

// showFile n name: for every n-bit block of the file, the line
// "length\tones\tdeviation\n" and the plot of its walk.
void showFile(kova::mem_pool& pool, kova::file& out, int n, kova::ch_range name);

// One mark of a plot: the byte `ch` drawn at step x, height y.
struct PlotPoint {
  int x;
  int y;
  unsigned char ch;
};

// The plot marks: the two bound lines point toward the walk between them.
inline constexpr unsigned char mark_lower = 0x1E;  // lower bound line, L(x) - d
inline constexpr unsigned char mark_upper = 0x1F;  // upper bound line, L(x) + d
inline constexpr unsigned char mark_walk = '*';
inline constexpr unsigned char mark_empty = 0xFA;  // any other empty cell

// The numbers line and the plot of one non-empty block.
void showBlock(kova::mem_pool& pool, kova::file& out, const std::vector<bool>& vb);

// Sorts the marks stably, highest y first and then ascending x, and writes
// the plot: one line per height from the highest mark down to the lowest,
// one byte per x from the least to the greatest. Where several marks share a
// cell, the last in list order shows; an empty cell shows "+" at the origin,
// "|" on the axis x = 0, "-" on the axis y = 0, and 0xFA elsewhere.
void printPlot(std::vector<PlotPoint>& points, kova::file& out);

}  // namespace lumbra
