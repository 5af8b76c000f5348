#include "commands.h"

#include <algorithm>
#include <cstdio>

#include "bitstm.h"
#include "kova/bigint.h"
#include "kova/hard_assert.h"
#include "kova/shared_text.h"

namespace lumbra {

using kova::mem_pool;
using kova::sh_str;

namespace {

// Length of the "%d" text of v.
int decimal_width(int v) {
  char buf[16];
  return std::snprintf(buf, sizeof buf, "%d", v);
}

void append_blanks(kova::mp_string& s, int count) {
  static constexpr char blanks[] = "                                                                ";
  constexpr int chunk = sizeof blanks - 1;
  for (; count > chunk; count -= chunk) s.append(kova::ch_range(blanks, blanks + chunk));
  if (count > 0) s.append(kova::ch_range(blanks, blanks + count));
}

void write_text(kova::file& out, const sh_str& s) { out.tryWrite(s->data(), s->size()); }

}  // namespace

void showC(mem_pool& pool, kova::file& out, int n, int k, int d) {
  Trian t(pool, n, k, d, true);
  kova::BigInt& c = t.getC();
  write_text(out, c.to_text(pool));
  write_text(out, kova::new_str(pool, 1024) << " (" << c.bit_size() << ")");
}

void showTrian(mem_pool& pool, kova::file& out, int n, int k, int d) {
  Trian t(pool, n, k, d, false);
  printTrian(pool, out, t);
}

void printTrian(mem_pool& pool, kova::file& out, const Trian& t) {
  const int n = t.getN();
  int ymin = 0, ymax = 0, w = 0;
  for (int x = 0; x <= n; ++x) {
    ymin = std::min(ymin, t.mn(x));
    ymax = std::max(ymax, t.mx(x));
    w = std::max({w, decimal_width(t.mn(x)), decimal_width(t.mx(x))});
  }

  // Formatted items are short except the counts, which are appended as
  // their own texts, so a small scratch area serves every width.
  char scratch[64];
  std::vector<sh_str> lines;
  lines.reserve(ymax - ymin + 1);
  for (int y = ymax; y >= ymin; --y) {
    int len = std::snprintf(scratch, sizeof scratch, "%*d:", w, y);
    lines.push_back(kova::new_str(pool, kova::ch_range(scratch, scratch + len)));
  }
  sh_str header = kova::new_str(pool, kova::ch_range());
  append_blanks(*header, w);
  header->push_back(':');

  std::vector<sh_str> column;  // the texts of one column, lowest height first
  for (int x = 0; x <= n; ++x) {
    const int mn = t.mn(x), mx = t.mx(x);
    column.clear();
    int cw = 0;
    for (int y = mn; y <= mx; y += 2) {
      column.push_back(t.at(x, y).to_text(pool));
      cw = std::max(cw, column.back()->size());
    }
    for (int y = ymax; y >= ymin; --y) {
      kova::mp_string& line = *lines[ymax - y];
      if (y < mn || y > mx || (y & 1) != (mn & 1)) {
        append_blanks(line, cw + 1);
      } else {
        const sh_str& cell = column[(y - mn) / 2];
        append_blanks(line, cw + 1 - cell->size());
        line.append(cell->range());
      }
    }
    // "%*d" with width cw + 1, padded by hand: a column of long counts is
    // wider than any scratch area.
    int len = std::snprintf(scratch, sizeof scratch, "%d", x);
    append_blanks(*header, cw + 1 - len);
    header->append(kova::ch_range(scratch, scratch + len));
  }
  header->push_back('\n');

  write_text(out, header);
  for (const sh_str& line : lines) {
    write_text(out, line);
    out.tryWrite("\n", 1);
  }
  write_text(out, header);
}

void showFile(mem_pool& pool, kova::file& out, int n, kova::ch_range name) {
  hard_assert(n>0);
  hard_assert(n<=2048);
  kova::file in(pool, name, kova::rd, 0);
  BitReader reader(in);
  std::vector<bool> vb;
  for (;;) {
    reader.read(n, vb);
    if (vb.empty()) break;
    showBlock(pool, out, vb);
  }
}

void showBlock(mem_pool& /*pool*/, kova::file& out, const std::vector<bool>& vb) {
  const int a = static_cast<int>(vb.size());
  int k, d;
  walkStats(vb, k, d);
  char numbers[48];
  int len = std::snprintf(numbers, sizeof numbers, "%d\t%d\t%d\n", a, k, d);
  out.tryWrite(numbers, len);

  std::vector<PlotPoint> points;
  points.reserve(std::max(1024, 3 * a + 2));
  std::vector<int> line;
  centerLine(a, k, line);
  for (int x = 0; x <= a; ++x) {
    points.push_back({x, line[x] - d, mark_lower});
    points.push_back({x, line[x] + d, mark_upper});
  }
  int h = 0;
  for (int i = 1; i <= a; ++i) {
    h += vb[i - 1] ? 1 : -1;
    points.push_back({i, h, mark_walk});
  }
  printPlot(points, out);
}

void printPlot(std::vector<PlotPoint>& points, kova::file& out) {
  if (points.empty()) return;
  int xmin = points[0].x, xmax = xmin, ymin = points[0].y, ymax = ymin;
  for (const PlotPoint& p : points) {
    xmin = std::min(xmin, p.x);
    xmax = std::max(xmax, p.x);
    ymin = std::min(ymin, p.y);
    ymax = std::max(ymax, p.y);
  }
  const int width = xmax - xmin + 1, height = ymax - ymin + 1;

  // Stable sort by (descending y, ascending x) as two counting passes, x
  // first: linear in the marks and the plot's extent.
  std::vector<PlotPoint> sorted(points.size());
  auto counting_pass = [&](std::vector<PlotPoint>& from, std::vector<PlotPoint>& to, int buckets,
                           auto key) {
    std::vector<int> start(buckets + 1, 0);
    for (const PlotPoint& p : from) ++start[key(p) + 1];
    for (int b = 0; b < buckets; ++b) start[b + 1] += start[b];
    for (const PlotPoint& p : from) to[start[key(p)]++] = p;
  };
  counting_pass(points, sorted, width, [&](const PlotPoint& p) { return p.x - xmin; });
  counting_pass(sorted, points, height, [&](const PlotPoint& p) { return ymax - p.y; });

  // The plot as rows of width + 1 bytes (the line feed included), every
  // cell first empty, then the marks in sorted order so the last one wins.
  const int row = width + 1;
  std::vector<unsigned char> plot(static_cast<std::size_t>(row) * height);
  for (int r = 0; r < height; ++r) {
    const int y = ymax - r;
    unsigned char* cells = &plot[static_cast<std::size_t>(r) * row];
    for (int x = xmin; x <= xmax; ++x) {
      unsigned char c = mark_empty;
      if (x == 0 && y == 0)
        c = '+';
      else if (x == 0)
        c = '|';
      else if (y == 0)
        c = '-';
      cells[x - xmin] = c;
    }
    cells[width] = '\n';
  }
  for (const PlotPoint& p : points)
    plot[static_cast<std::size_t>(ymax - p.y) * row + (p.x - xmin)] = p.ch;
  out.tryWrite(plot.data(), static_cast<int>(plot.size()));
}

}  // namespace lumbra
