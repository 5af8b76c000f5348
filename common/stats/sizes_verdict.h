// One statistic judged at several block sizes of one file: the least of its
// chi-square p-values over the sizes that judged it, times their number.
// The product, at most 1, falls below a rate no more often than that rate on
// random data, whatever ties the sizes have (the union bound).
#pragma once

#include <span>

#include "stats/file_summary.h"

namespace lumbra {

struct AcrossSizes {
  int judged = 0;     // the sizes whose verdict has a p-value
  int blockSize = 0;  // the size of the least
  Verdict least;      // no p-value: no size judged it
  // The least p-value times judged, at most 1. Requires least.pValue.
  double adjusted() const;
};

// Of verdicts[i], the statistic's verdict at sizes[i] (of the same length).
AcrossSizes acrossSizes(std::span<const Verdict> verdicts, std::span<const int> sizes);

}  // namespace lumbra
