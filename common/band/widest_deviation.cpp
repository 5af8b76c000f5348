#include "band/widest_deviation.h"

#include "band/center_line.h"

namespace lumbra {

WidestDeviation widestDeviation(std::int64_t n, std::int64_t k) {
  return {k - CenterLine(n, k, k).value(), CenterLine(n, k, n - k).value() + (n - k)};
}

}  // namespace lumbra
