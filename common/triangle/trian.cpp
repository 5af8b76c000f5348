#include "triangle/trian.h"

#include <algorithm>
#include <cstdint>
#include <cmath>
#include <cstdlib>
#include <new>

#include "band/band_rows.h"
#include "band/center_line.h"
#include "count/binomial_size.h"
#include "triangle/bigintgmp.h"
#include "kova/hard_assert.h"

namespace lumbra {

using kova::BigInt;
using kova::sh_ptr;

// The lines that the contract checks report; they are part of the output.
constexpr int center_line_n_check = 20;
constexpr int center_line_k_check = 21;

void centerLine(int n, int k, std::vector<int>& line) {
  hard_assert_at(n > 0, "n>0", center_line_n_check);
  hard_assert_at(k >= 0, "k>=0", center_line_k_check);
  hard_assert_at(k <= n, "k<=n", center_line_k_check);
  centerLinePoints(n, k, line);
}

void TrianCells::reserve(std::size_t n) {
  hard_assert(b_ == nullptr, "b_==nullptr");
  hard_assert(n <= UINT32_MAX, "n<=UINT32_MAX");
  if (n == 0) return;
  b_ = ::new (::operator new(sizeof(block) + n * sizeof(sh_ptr<BigInt>))) block{0, static_cast<std::uint32_t>(n)};
}

void TrianCells::push_back(const sh_ptr<BigInt>& c) {
  hard_assert(b_ != nullptr && b_->size < b_->room, "b_!=nullptr&&b_->size<b_->room");
  ::new (static_cast<void*>(b_->cells() + b_->size)) sh_ptr<BigInt>(c);
  ++b_->size;
}

void TrianCells::clear() noexcept {
  if (!b_) return;
  sh_ptr<BigInt>* cells = b_->cells();
  for (std::uint32_t i = 0; i < b_->size; ++i) cells[i].~sh_ptr();
  ::operator delete(b_, sizeof(block) + b_->room * sizeof(sh_ptr<BigInt>));
  b_ = nullptr;
}

namespace {

// The number of cells of a row: 0 for an empty row (mn == mx + 2).
std::size_t cell_count(const TrianRow& r) {
  const int cells = (r.mx - r.mn) / 2 + 1;
  return static_cast<std::size_t>(cells);
}

// An upper bound of the bits of C(n, k), the largest value a cell can take:
// a cell (x, y) counts at most the C(x, (x + y) / 2) walks that reach it, and
// the band keeps (x + y) / 2 <= k and (x - y) / 2 <= n - k.
std::size_t binomial_bits(int n, int k) {
  const double lg = log2Binomial(n, k);
  // NOTE: two bits over floor(lg) cover the rounding of lgamma many times
  // over; a bound that came out short would cost reallocations, not values.
  const std::size_t bits = static_cast<std::size_t>(std::max(lg, 0.0)) + 2;
  return std::min(bits, static_cast<std::size_t>(n) + 1);
}

}  // namespace

// The lines that the constructor's checks report; they are part of the output.
constexpr int trian_n_check = 61;
constexpr int trian_k_check = 62;
constexpr int trian_d_check = 63;

Trian::Trian(kova::mem_pool& mp, int steps, int ones, int halfWidth, bool lastRowOnly)
    : n(steps), k(ones), d(halfWidth) {
  hard_assert_at(n > 0, "n>0", trian_n_check);
  hard_assert_at(k >= 0, "k>=0", trian_k_check);
  hard_assert_at(k <= n, "k<=n", trian_k_check);
  hard_assert_at(d >= 0, "d>=0", trian_d_check);
  hard_assert_at(d <= n, "d<=n", trian_d_check);
  vc.reserve(static_cast<std::size_t>(n) + 1);
  // The band's rows: the heights of the parity of x within d of L(x), within
  // -x..x and within n - x steps of the end point, so that the end point
  // stays reachable. Computed directly rather than by stepping from -x and x
  // in twos, which would cost O(n) per row.
  const Band band(n, k, d, d);
  CenterLine line(n, k);
  for (int x = 0; x <= n; ++x, line.next()) {
    const BandRow r = band.row(x, line.value());
    vc.push_back(TrianRow{static_cast<int>(r.lo), static_cast<int>(r.hi), {}});
  }

  vc[0].vi.reserve(1);
  vc[0].vi.push_back(kova::new_big_int(mp, 1));
  const std::size_t top = binomial_bits(n, k);
  std::size_t prev_bits = 1;  // the largest cell of the row before has this many bits
  for (int x = 1; x <= n; ++x) {
    TrianRow& row = vc[x];
    TrianRow& prev = vc[x - 1];
    // What makes the direct indexing below safe, checked once per row: the
    // previous row holds its cells, and the rows overlap (see vc).
    hard_assert(prev.vi.size() == cell_count(prev), "prev.vi.size()==cell_count(prev)");
    hard_assert(row.mn >= prev.mn - 1, "row.mn>=prev.mn-1");
    hard_assert(row.mx <= prev.mx + 1, "row.mx<=prev.mx+1");
    // NOTE: every cell is made with room for the largest value it can take,
    // so no addition moves its digits. Under lastRowOnly all cells get the
    // room of the end point, so the cells of every row are blocks of one
    // size and each row reuses the blocks that the row before last gave back.
    // Otherwise every cell is kept, and a cell, the sum of two cells of the
    // row before, has at most one bit more than the largest of them: a bound
    // as tight as the counts themselves, also where a narrow band keeps them
    // far below 2^x.
    const std::size_t bits = lastRowOnly ? top : std::min(top, prev_bits + 1);
    std::size_t row_bits = 0;
    row.vi.reserve(cell_count(row));
    for (int y = row.mn; y <= row.mx; y += 2) {
      row.vi.push_back(kova::new_big_int_reserved(mp, bits));
      BigInt& c = *row.vi.back();
      // The neighbours (x - 1, y - 1) and (x - 1, y + 1); i is the index of
      // the upper one, which is never negative since y >= prev.mn - 1.
      const std::size_t i = static_cast<std::size_t>((y + 1 - prev.mn) / 2);
      const bool lower = prev.mn < y, upper = y < prev.mx;
      if (lower && upper)
        c.set_sum(*prev.vi[i - 1], *prev.vi[i]);
      else if (lower)
        c.assign(*prev.vi[i - 1]);
      else if (upper)
        c.assign(*prev.vi[i]);
      if (!lastRowOnly) row_bits = std::max(row_bits, static_cast<std::size_t>(c.bit_size()));
    }
    prev_bits = row_bits;
    if (lastRowOnly) prev.vi.clear();
  }
}

// The lines that the contract checks of the row and cell access report.
constexpr int mn_check = 110;
constexpr int mx_check = 116;
constexpr int at_x_check = 122;
constexpr int at_y_check = 123;
constexpr int at_parity_check = 124;
constexpr int at_cells_check = 125;

int Trian::mn(int x) const {
  hard_assert_at(x >= 0, "x>=0", mn_check);
  hard_assert_at(x < int(vc.size()), "x<int(vc.size())", mn_check);
  return vc[x].mn;
}

int Trian::mx(int x) const {
  hard_assert_at(x >= 0, "x>=0", mx_check);
  hard_assert_at(x < int(vc.size()), "x<int(vc.size())", mx_check);
  return vc[x].mx;
}

BigInt& Trian::at(int x, int y) const {
  hard_assert_at(x >= 0, "x>=0", at_x_check);
  hard_assert_at(x < int(vc.size()), "x<int(vc.size())", at_x_check);
  hard_assert_at(y >= vc[x].mn, "y>=vc[x].mn", at_y_check);
  hard_assert_at(y <= vc[x].mx, "y<=vc[x].mx", at_y_check);
  hard_assert_at((vc[x].mn & 1) == (y & 1), "(vc[x].mn&1)==(y&1)", at_parity_check);
  hard_assert_at(vc[x].vi.size() > 0, "vc[x].vi.size()>0", at_cells_check);
  return *vc[x].vi[(y - vc[x].mn) / 2];
}

BigInt& Trian::getC() const { return at(getN(), 2 * k - getN()); }

// The line that the check of walkStats reports.
constexpr int walk_stats_check = 132;

void walkStats(const std::vector<bool>& vb, int& k, int& d) {
  hard_assert_at(vb.size() > 0, "vb.size()>0", walk_stats_check);
  const int n = static_cast<int>(vb.size());
  k = static_cast<int>(std::count(vb.begin(), vb.end(), true));
  // The center line point by point rather than as a list: no allocation and
  // no division per bit.
  CenterLine line(n, k);
  d = 0;
  int w = 0;
  for (bool b : vb) {
    w += b ? 1 : -1;
    line.next();
    d = std::max(d, std::abs(w - line.value()));
  }
}

}  // namespace lumbra
