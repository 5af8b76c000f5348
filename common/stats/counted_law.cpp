#include "stats/counted_law.h"

#include <algorithm>
#include <cstdlib>
#include <numeric>

#include "kova/hard_assert.h"

namespace lumbra {

CountedLaw::CountedLaw(int least, std::vector<Mpz> counts, mpz_srcptr total, Tail tail, int centre)
    : least_(least), tail_(tail), centre_(centre), counts_(std::move(counts)) {
  hard_assert(!counts_.empty(), "!counts_.empty()");
  mpz_set(total_.get(), total);
  Mpz sum;
  for (const Mpz& c : counts_) mpz_add(sum.get(), sum.get(), c.get());
  hard_assert(mpz_cmp(sum.get(), total_.get()) == 0, "sum==total");
}

long long CountedLaw::key(int v) const {
  switch (tail_) {
    case Tail::upper: return v;
    case Tail::lower: return -static_cast<long long>(v);
    case Tail::both: break;
  }
  return std::llabs(2LL * v - centre_);
}

std::size_t CountedLaw::index(int v) const {
  hard_assert(v >= least() && v <= most(), "v>=least()&&v<=most()");
  return static_cast<std::size_t>(v - least_);
}

void CountedLaw::makeTails() {
  const std::size_t size = counts_.size();
  // The values from the most extreme inwards, equally extreme ones together:
  // each one's tail is everything before it and its equals.
  std::vector<int> order(size);
  std::iota(order.begin(), order.end(), least_);
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return key(a) > key(b); });
  tails_.assign(size, Mpz());
  Mpz tail;
  for (std::size_t i = 0; i < size;) {
    std::size_t j = i;
    for (; j < size && key(order[j]) == key(order[i]); ++j)
      mpz_add(tail.get(), tail.get(), counts_[index(order[j])].get());
    for (; i < j; ++i) mpz_set(tails_[index(order[i])].get(), tail.get());
  }
}

void CountedLaw::count(mpz_ptr c, int v) const {
  if (v < least() || v > most()) mpz_set_ui(c, 0);
  else mpz_set(c, counts_[index(v)].get());
}

void CountedLaw::pValueCount(mpz_ptr num, mpz_ptr den, int v) {
  const std::size_t i = index(v);
  if (tails_.empty()) makeTails();
  mpz_set(num, tails_[i].get());
  mpz_set(den, total_.get());
}

long double CountedLaw::pValue(int v) {
  const std::size_t i = index(v);
  if (tails_.empty()) makeTails();
  return exactRatio(tails_[i].get(), total_.get());
}

long double CountedLaw::probability(int v) { return exactRatio(counts_[index(v)].get(), total_.get()); }

void CountedLaw::release() {
  // The bins and passing probabilities stay (settle() keeps them).
  passingProbability();
  std::vector<Mpz>().swap(tails_);
}

}  // namespace lumbra
