#include "stats/sizes_verdict.h"

#include <algorithm>

#include "kova/hard_assert.h"

namespace lumbra {

double AcrossSizes::adjusted() const { return std::min(1.0, *least.pValue * static_cast<double>(judged)); }

AcrossSizes acrossSizes(std::span<const Verdict> verdicts, std::span<const int> sizes) {
  hard_assert(verdicts.size() == sizes.size(), "verdicts.size()==sizes.size()");
  AcrossSizes a;
  for (std::size_t i = 0; i < verdicts.size(); ++i) {
    const Verdict& v = verdicts[i];
    if (!v.pValue) continue;
    ++a.judged;
    if (!a.least.pValue || *v.pValue < *a.least.pValue) {
      a.least = v;
      a.blockSize = sizes[i];
    }
  }
  return a;
}

}  // namespace lumbra
