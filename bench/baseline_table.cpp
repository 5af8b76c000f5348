// baseline_table n k d
//
// The table of `lumbra showTrian n k d`, written plainly: the whole triangle
// in mpz_t cells, every count turned into decimal once with mpz_get_str into
// one growing digit buffer, then the table text assembled in one string and
// written at the end. Prints exactly the bytes lumbra prints after its banner.
#include <gmp.h>

#include <cstdio>
#include <string>
#include <vector>

#include "band.h"

namespace {

struct Cell {
  mpz_t v;
};

int decimalWidth(int v) { return std::snprintf(nullptr, 0, "%d", v); }

// Appends value as "%*d" would print it with the given width.
void appendNumber(std::string& s, int width, int value) {
  char item[16];
  const int len = std::snprintf(item, sizeof item, "%d", value);
  if (width > len) s.append(width - len, ' ');
  s.append(item, len);
}

}  // namespace

int main(int argc, char** argv) {
  int n, k, d;
  bench::parseNkd(argc, argv, n, k, d);
  const std::vector<bench::Row> rows = bench::band(n, k, d);

  // The triangle, row by row; row x holds the heights mn, mn + 2, ..., mx.
  std::vector<std::vector<Cell>> cells(n + 1);
  cells[0].resize(1);
  mpz_init_set_ui(cells[0][0].v, 1);
  for (int x = 1; x <= n; ++x) {
    const bench::Row p = rows[x - 1], r = rows[x];
    cells[x].resize(r.cells());
    for (int y = r.mn, i = 0; y <= r.mx; y += 2, ++i) {
      mpz_ptr c = cells[x][i].v;
      mpz_init(c);
      if (p.mn < y) mpz_add(c, c, cells[x - 1][(y - 1 - p.mn) / 2].v);
      if (y < p.mx) mpz_add(c, c, cells[x - 1][(y + 1 - p.mn) / 2].v);
    }
  }

  // Decimal digits of every cell, one after another in one buffer; start[j]
  // is where cell j (in row order) begins, start[j + 1] where it ends.
  std::string digits;
  std::vector<size_t> start{0};
  std::vector<int> cw(n + 1, 0);  // column widths
  for (int x = 0; x <= n; ++x) {
    for (Cell& cell : cells[x]) {
      mpz_ptr c = cell.v;
      const size_t at = digits.size();
      digits.resize(at + mpz_sizeinbase(c, 10) + 2);
      mpz_get_str(&digits[at], 10, c);
      const size_t len = std::char_traits<char>::length(&digits[at]);
      digits.resize(at + len);
      start.push_back(at + len);
      cw[x] = std::max(cw[x], int(len));
      mpz_clear(c);
    }
  }
  std::vector<size_t> first(n + 2, 0);  // index of the first cell of row x
  for (int x = 0; x <= n; ++x) first[x + 1] = first[x] + rows[x].cells();

  int ymin = 0, ymax = 0, w = 0;
  for (const bench::Row& r : rows) {
    ymin = std::min(ymin, r.mn);
    ymax = std::max(ymax, r.mx);
    w = std::max({w, decimalWidth(r.mn), decimalWidth(r.mx)});
  }

  std::string header(w, ' ');
  header += ':';
  for (int x = 0; x <= n; ++x) appendNumber(header, cw[x] + 1, x);
  header += '\n';

  size_t lineSize = w + 2;
  for (int x = 0; x <= n; ++x) lineSize += cw[x] + 1;
  std::string out;
  out.reserve(2 * header.size() + size_t(ymax - ymin + 1) * lineSize);
  out += header;
  for (int y = ymax; y >= ymin; --y) {
    appendNumber(out, w, y);
    out += ':';
    for (int x = 0; x <= n; ++x) {
      const bench::Row r = rows[x];
      if (y < r.mn || y > r.mx || ((y ^ r.mn) & 1)) {
        out.append(cw[x] + 1, ' ');
        continue;
      }
      const size_t j = first[x] + (y - r.mn) / 2;
      const size_t len = start[j + 1] - start[j];
      out.append(cw[x] + 1 - len, ' ');
      out.append(digits, start[j], len);
    }
    out += '\n';
  }
  out += header;
  std::fwrite(out.data(), 1, out.size(), stdout);
  return 0;
}
