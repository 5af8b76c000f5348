#include "trian.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "bigintgmp.h"
#include "kova/hard_assert.h"

namespace lumbra {

using kova::BigInt;
using kova::sh_ptr;

void centerLine(int n, int k, std::vector<int>& line) {
  hard_assert(n>0);
  hard_assert(k>=0);
  hard_assert(k<=n);
  line.clear();
  line.reserve(static_cast<std::size_t>(n) + 1);
  // NOTE: the running sum x*(2k - n) is kept in 64 bits, so every n works;
  // in 32 bits it would overflow above n = 46340. Division truncates toward
  // zero as in 32-bit arithmetic, and every quotient fits an int.
  const std::int64_t step = 2 * static_cast<std::int64_t>(k) - n;
  std::int64_t s = 0;
  for (int i = 0; i <= n; ++i) {
    line.push_back(static_cast<int>(s / n));
    s += step;
  }
}

namespace {

// The number of cells of a row: 0 for an empty row (mn == mx + 2).
std::size_t cell_count(const TrianRow& r) { return static_cast<std::size_t>((r.mx - r.mn) / 2 + 1); }

}  // namespace

Trian::Trian(kova::mem_pool& mp, int n, int k, int d, bool lastRowOnly) : n(n), k(k), d(d) {
  hard_assert(n>0);
  hard_assert(k>=0);
  hard_assert(k<=n);
  hard_assert(d>=0);
  hard_assert(d<=n);
  vc.reserve(static_cast<std::size_t>(n) + 1);
  std::vector<int> L;
  centerLine(n, k, L);

  // The band around the line: the lowest and highest heights of the parity
  // of x within d of L(x) and within -x..x. Computed directly rather than by
  // stepping from -x and x in twos, which would cost O(n) per row.
  for (int x = 0; x <= n; ++x) {
    std::int64_t lo = std::max<std::int64_t>(-x, std::int64_t{L[x]} - d);
    std::int64_t hi = std::min<std::int64_t>(x, std::int64_t{L[x]} + d);
    lo += (lo ^ x) & 1;  // up to the parity of x
    hi -= (hi ^ x) & 1;  // down to the parity of x
    vc.push_back(TrianRow{static_cast<int>(lo), static_cast<int>(hi), {}});
  }
  // The end point must stay reachable: within n - x steps of 2k - n.
  const int e = 2 * k - n;
  for (int x = n; x >= 0; --x) {
    const int r = n - x;
    vc[x].mn = std::max(vc[x].mn, e - r);
    vc[x].mx = std::min(vc[x].mx, e + r);
  }

  vc[0].vi.reserve(1);
  vc[0].vi.push_back(kova::new_big_int(mp, 1));
  // New cells are copies of one zero rather than conversions of an int.
  const sh_ptr<BigInt> zero = kova::new_big_int(mp, 0);
  for (int x = 1; x <= n; ++x) {
    TrianRow& row = vc[x];
    TrianRow& prev = vc[x - 1];
    row.vi.reserve(cell_count(row));
    for (int y = row.mn; y <= row.mx; y += 2) {
      sh_ptr<BigInt> c = kova::new_big_int(mp, *zero);
      // The rows overlap (see vc), so one bound per neighbour decides.
      if (prev.mn < y) c->add(at(x - 1, y - 1));
      if (y < prev.mx) c->add(at(x - 1, y + 1));
      row.vi.push_back(c);
    }
    if (lastRowOnly) std::vector<sh_ptr<BigInt>>().swap(prev.vi);
  }
}

int Trian::mn(int x) const {
  hard_assert(x>=0);
  hard_assert(x<int(vc.size()));
  return vc[x].mn;
}

int Trian::mx(int x) const {
  hard_assert(x>=0);
  hard_assert(x<int(vc.size()));
  return vc[x].mx;
}

BigInt& Trian::at(int x, int y) const {
  hard_assert(x>=0);
  hard_assert(x<int(vc.size()));
  hard_assert(y>=vc[x].mn);
  hard_assert(y<=vc[x].mx);
  hard_assert((vc[x].mn&1)==(y&1));
  hard_assert(vc[x].vi.size()>0);
  return *vc[x].vi[(y - vc[x].mn) / 2];
}

BigInt& Trian::getC() const { return at(getN(), 2 * k - getN()); }

void walkStats(const std::vector<bool>& vb, int& k, int& d) {
  hard_assert(vb.size()>0);
  const int n = static_cast<int>(vb.size());
  k = static_cast<int>(std::count(vb.begin(), vb.end(), true));
  std::vector<int> L;
  centerLine(n, k, L);
  d = 0;
  int w = 0;
  for (int i = 0; i < n; ++i) {
    w += vb[i] ? 1 : -1;
    d = std::max(d, std::abs(w - L[i + 1]));
  }
}

}  // namespace lumbra
