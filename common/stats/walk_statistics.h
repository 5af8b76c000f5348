// The ones and the deviation of a block as statistics (see statistic.h),
// over the laws of distribution.h: the two a summary judged first, in the
// same list as the others.
//
// The law of the ones is given m alone (its value is k, its p-value
// p_ones); the deviation's is given (m, k), shared by k and m - k, as Laws
// shares it. Each law owns its OnesLaw or DeviationLaw; bins, passing and
// the expectations are those laws' own, decided exactly. The statistics
// live as long as the program. Throws std::bad_alloc.
#pragma once

#include "stats/distribution.h"
#include "stats/statistic.h"

namespace lumbra {

const Statistic& onesStatistic();
const Statistic& deviationStatistic();

// The DeviationLaw inside a law of deviationStatistic(): the tails the
// histogram of deviations reads. `law` must be one of its laws.
DeviationLaw& deviationLawOf(StatisticLaw& law);

}  // namespace lumbra
