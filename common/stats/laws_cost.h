// What the laws of a summary cost before they are made, so that a front end
// can refuse work that a small crafted input would make long, before it
// starts.
//
// A summary's figures need one law per statistic and distinct (m, k) of
// its blocks (fewer where a statistic's law is the same for k and m - k),
// and a summary holds at most n + 1 shapes of the block size and one
// shorter (a file's last block; a merge refuses a shorter block anywhere
// else): so the laws are at most some 10,250 at n = 4096 with every
// statistic, whatever the input. Real files meet a few hundred to 1500 (m, k)
// at n = 4096; a file built to meet every k meets all 4097.
//
// The estimate is the sum over the laws of the processor time one law of
// that statistic took on the 2-core Xeon the project is measured on
// (docs/benchmarks.md, bench/hostile), at m = 4096, scaled by (m / 4096)^1.25
// (what the laws of m = 1024, 2048 and 4096 show), averaged over k: a law of
// a middle k costs more than one near 0 or m, and a real file's laws are of
// middle k, so its estimate may be low by up to twice. Memory: what each
// law keeps once released (StatisticLaw::release) until the figures are
// read, and what one law takes while it is made, on each thread.
// Plain functions of numbers; nothing throws but std::bad_alloc.
#pragma once

#include <cstddef>
#include <string>

#include "stats/statistic.h"

namespace lumbra {

struct LawsCost {
  std::size_t laws = 0;
  double seconds = 0;  // processor seconds, all threads together
  double bytes = 0;    // at the peak of settle()
};

// One law of `statistic` for blocks of m bits, made as settle() makes it;
// `histogram`: with the deviation law's tails that a histogram of the
// deviations reads.
LawsCost lawCost(const Statistic& statistic, int m, bool histogram);

// Adds a law to a total.
void addLaw(LawsCost& total, const LawsCost& law);

// "NAME: making its 10245 laws would take about 15 s, more than
// --max-seconds 5" when the estimate passes maxSeconds (< 0: no limit), or
// "NAME: making its 10245 laws needs about 2 GiB of memory; this machine
// has 1 GiB" when their memory passes what the process can take; else
// empty.
std::string lawsRefusal(const LawsCost& cost, const std::string& name, double maxSeconds);

// A duration as people read it: 0.4 s, 12 s, 3 min, 2.5 h.
std::string durationText(double seconds);

}  // namespace lumbra
