// LeastPWindows: where in a file its unusual blocks are. The blocks, in file
// order, fall into consecutive windows of equal size, and a window's figure
// is the least p-value of its blocks (the smaller of p_ones and
// p_deviation of each), so that a flawed region of a large file stands out
// in a picture that has fewer pixels than the file has blocks.
//
// While the blocks are read no law is at hand, so a window keeps what can
// hold its least p-value: for each (m, k) met, the largest deviation (p_ones
// depends on (m, k) alone, and p_deviation falls as d grows). Windows start
// one block wide; whenever there are twice `windows` of them, neighbours
// merge and the width doubles, so at most 2 * windows are kept however long
// the input. The figures are drawn from the laws at the end.
//
// Owns its vectors; one thread at a time. Throws std::bad_alloc.
#pragma once

#include <cstdint>
#include <vector>

#include "stats/statistic.h"

namespace lumbra {

class LeastPWindows {
 public:
  // The blocks added will be blocks firstBlock, firstBlock + 1, ...;
  // `windows` >= 1 is the least number kept once there are that many blocks.
  explicit LeastPWindows(std::uint64_t firstBlock = 0, std::size_t windows = 1024);

  // The next block: m bits, k ones, deviation d.
  void add(int m, int k, int d);

  struct Window {
    std::uint64_t firstBlock;  // its first block, counted in the file
    std::uint64_t blocks;      // how many (the last window may hold fewer)
    double log10LeastP;        // log10 of its least p-value, <= 0
  };
  // The windows in file order, their figures worked out with the laws of
  // the ones and the deviation in `laws` (of summaryStatistics()).
  std::vector<Window> windows(StatisticLaws& laws) const;

 private:
  struct Most {  // the largest deviation of the blocks of one (m, k)
    int m, k, d;
  };
  struct Kept {
    std::uint64_t blocks = 0;
    std::vector<Most> most;  // sorted by (m, k)
  };
  static void keep(Kept& w, const Most& b);
  void halve();

  std::uint64_t first_;
  std::size_t want_;
  std::uint64_t width_ = 1;  // blocks per full window
  std::vector<Kept> kept_;
};

}  // namespace lumbra
