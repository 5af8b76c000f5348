// LeastPWindows: where in a file its unusual blocks are. The blocks, in file
// order, fall into consecutive windows of equal size, and a window's figure
// is the least p-value of its blocks over every statistic judged (of each
// block, the least of its statistics' p-values), so that a flawed region of
// a large file stands out in a picture that has fewer pixels than the file
// has blocks.
//
// While the blocks are read no law is at hand, so a window keeps what can
// hold its least p-value: for each (m, k) met and each statistic, the least
// and the largest value of its blocks (a p-value falls as the value moves
// away from the law's middle, one way or both, so the least of a window lies
// at one of the two). Windows start one block wide; whenever there are twice
// `windows` of them, neighbours merge and the width doubles, so at most
// 2 * windows are kept however long the input. The figures are drawn from
// the laws at the end.
//
// Owns its vectors; one thread at a time. Throws std::bad_alloc.
#pragma once

#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "reading/block_meter.h"
#include "stats/statistic.h"

namespace lumbra {

class LeastPWindows {
 public:
  // The blocks added will be blocks firstBlock, firstBlock + 1, ...;
  // `windows` >= 1 is the least number kept once there are that many
  // blocks; `statistics` are those judged (by default the ones and the
  // deviation), living as long as this.
  explicit LeastPWindows(std::uint64_t firstBlock = 0, std::size_t windows = 1024,
                         std::span<const Statistic* const> statistics = allStatistics().first(2));

  // The next block, of m bits.
  void add(int m, const BlockShape& block);
  // The next block of m bits, k ones and deviation d, for the ones and the
  // deviation alone (the statistics by default).
  void add(int m, int k, int d);

  struct Window {
    std::uint64_t firstBlock;  // its first block, counted in the file
    std::uint64_t blocks;      // how many (the last window may hold fewer)
    double log10LeastP;        // log10 of its least p-value, <= 0
  };
  // The windows in file order, their figures worked out with the laws in
  // `laws`, which must hold every statistic given to the constructor.
  std::vector<Window> windows(StatisticLaws& laws) const;

 private:
  struct Extremes {  // the blocks of one (m, k): each statistic's least and largest value
    int m, k;
    std::vector<std::pair<int, int>> values;
  };
  struct Kept {
    std::uint64_t blocks = 0;
    std::vector<Extremes> most;  // sorted by (m, k)
  };
  void keep(Kept& w, const Extremes& b) const;
  void halve();

  std::uint64_t first_;
  std::size_t want_;
  std::span<const Statistic* const> statistics_;
  std::uint64_t width_ = 1;  // blocks per full window
  std::vector<Kept> kept_;
};

}  // namespace lumbra
