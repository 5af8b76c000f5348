#include "count.h"

#include "kova/bigint.h"
#include "kova/hard_assert.h"
#include "kova/mem_pool.h"
#include "trian.h"

namespace lumbra {

// NOTE: a reference engine: the last row of the triangle. To be replaced by
// the fast engine; its contract stays.
void countWalks(mpz_ptr c, int n, int k, int d, unsigned /*threads*/) {
  kova::mem_pool pool(16384, 1024);
  Trian t(pool, n, k, d, true);
  kova::mp_string digits(pool, kova::ch_range());
  t.getC().append_text(digits);
  mpz_set_str(c, digits.c_str(), 10);
}

}  // namespace lumbra
