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

#include <cstddef>

#include "stats/distribution.h"
#include "stats/statistic.h"

namespace lumbra {

const Statistic& onesStatistic();
const Statistic& deviationStatistic();

// Their places in summaryStatistics(), the first two.
constexpr std::size_t ones_statistic = 0;
constexpr std::size_t deviation_statistic = 1;

// The OnesLaw inside a law of onesStatistic(), and the DeviationLaw inside
// one of deviationStatistic(): what reads their tails directly (the
// histogram of deviations, the least p-values of windows) shares the laws a
// summary settled. `law` must be one of the statistic's laws.
OnesLaw& onesLawOf(StatisticLaw& law);
DeviationLaw& deviationLawOf(StatisticLaw& law);

}  // namespace lumbra
