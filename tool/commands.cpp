#include "commands.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "band/center_line.h"
#include "triangle/bitstm.h"
#include "kova/bigint.h"
#include "kova/exception.h"
#include "kova/hard_assert.h"
#include "kova/shared_text.h"
#include "lumbra/count.h"
#include "output.h"

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

// NOTE: the count comes from the library's count (the counting engine), not
// from a Trian built with lastRowOnly: the same number without a record or an
// object per cell.
void showC(mem_pool& pool, kova::file& out, int n, int k, int d) {
  // The engine takes its limbs from the pool that run() gave to GMP.
  const lumbra::BigNat c = lumbra::count(n, k, d);
  const std::string text = c.to_string();
  out.tryWrite(text.data(), static_cast<int>(text.size()));
  write_text(out, kova::new_str(pool, 1024) << " (" << static_cast<int>(c.bit_length()) << ")");
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

  // NOTE: the table is not kept as one text per line; each column is kept
  // as its counts, right-aligned in fields of the column's width, and each
  // line is put together from them just before it is written. The bytes and
  // the writes are the same, the memory is that of the counts instead of
  // the whole table, and every allocation still happens before the first
  // write.
  std::vector<int> cw(n + 1, 0);  // the width of column x's longest count
  std::vector<sh_str> columns;    // column x: its counts, lowest height first
  columns.reserve(n + 1);
  {
    kova::mp_string digits(pool, kova::ch_range());  // one column's counts, unpadded
    std::vector<int> ends;                           // where each count ends in digits
    for (int x = 0; x <= n; ++x) {
      const int mn = t.mn(x), mx = t.mx(x);
      digits.resize(0);
      ends.clear();
      for (int y = mn; y <= mx; y += 2) {
        t.at(x, y).append_text(digits);
        ends.push_back(digits.size());
      }
      for (std::size_t i = 0; i < ends.size(); ++i)
        cw[x] = std::max(cw[x], ends[i] - (i ? ends[i - 1] : 0));
      columns.push_back(kova::new_str(pool, static_cast<int>(ends.size()) * cw[x]));
      kova::mp_string& col = *columns.back();
      for (std::size_t i = 0; i < ends.size(); ++i) {
        const int begin = i ? ends[i - 1] : 0;
        append_blanks(col, cw[x] - (ends[i] - begin));
        col.append(kova::ch_range(digits.data() + begin, digits.data() + ends[i]));
      }
    }
  }

  // The header: the column numbers as "%*d" prints them in width cw + 1; a
  // number longer than that is printed in full.
  kova::mp_string header(pool, kova::ch_range());
  append_blanks(header, w);
  header.push_back(':');
  char item[16];
  for (int x = 0; x <= n; ++x) {
    const int len = std::snprintf(item, sizeof item, "%d", x);
    append_blanks(header, cw[x] + 1 - len);
    header.append(kova::ch_range(item, item + len));
  }
  header.push_back('\n');

  // A line: the label "%*d:" of width w, then cw + 1 characters per column,
  // blank where the column has no cell at the line's height.
  std::vector<int> at(n + 1);  // where column x starts in a line
  int len = w + 1;
  for (int x = 0; x <= n; ++x) {
    at[x] = len;
    len += cw[x] + 1;
  }
  kova::mp_string line(pool, kova::ch_range());
  line.resize(len);
  std::memset(line.data(), ' ', static_cast<std::size_t>(len));
  std::vector<int> filled;  // the columns whose cells the previous line shows
  filled.reserve(n + 1);

  const output_state state(out);
  out.tryWrite(header.data(), header.size());
  for (int y = ymax; y >= ymin; --y) {
    for (int x : filled) std::memset(line.data() + at[x] + 1, ' ', static_cast<std::size_t>(cw[x]));
    filled.clear();
    std::snprintf(item, sizeof item, "%*d", w, y);
    std::memcpy(line.data(), item, static_cast<std::size_t>(w));
    line.data()[w] = ':';
    for (int x = 0; x <= n; ++x) {
      const int mn = t.mn(x), mx = t.mx(x);
      if (y < mn || y > mx || ((y ^ mn) & 1)) continue;
      const char* cell = columns[x]->data() + static_cast<std::size_t>((y - mn) / 2) * cw[x];
      std::memcpy(line.data() + at[x] + 1, cell, static_cast<std::size_t>(cw[x]));
      filled.push_back(x);
    }
    out.tryWrite(line.data(), line.size());
    out.tryWrite("\n", 1);
    if (state.failed()) return;  // nothing more can reach the reader
  }
  out.tryWrite(header.data(), header.size());
}

namespace {

// The length of the "%d" text of v.
double decimalWidth(std::int64_t v) {
  char buf[24];
  return std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(v));
}

// The sum of the lengths of the "%d" texts of 0..n.
double decimalWidthsUpTo(std::int64_t n) {
  double total = 1;  // "0"
  for (std::int64_t first = 1, digits = 1; first <= n; first *= 10, ++digits)
    total += static_cast<double>(std::min(n, first * 10 - 1) - first + 1) * static_cast<double>(digits);
  return total;
}

// The capacity a text reaches when it starts with `start` bytes of room and
// doubles until it holds `size` bytes and its terminating zero.
double grownCapacity(double start, double size) {
  double cap = start;
  while (cap < size + 1) cap *= 2;
  return cap;
}

}  // namespace

MemoryEstimate showTrianMemory(int n, int k, int d) {
  const CellShape s(n, k, d);
  MemoryEstimate m = triangleMemory(n, k, d);
  // A pool text beside its buffer: the mp_string record, its control block
  // and the slot of the sh_ptr in the vector that holds it.
  constexpr double text_overhead_bytes = sizeof(kova::mp_string) + 24 + 8;
  constexpr double log10_2 = 0.30102999566398120;

  // The printed heights: between the start and the end point, widened by d,
  // and never beyond what k up-steps and n - k down-steps reach.
  const std::int64_t e = 2 * static_cast<std::int64_t>(k) - n;
  const std::int64_t ymax = std::min<std::int64_t>(k, std::max<std::int64_t>(0, e) + d);
  const std::int64_t ymin = std::max<std::int64_t>(static_cast<std::int64_t>(k) - n, std::min<std::int64_t>(0, e) - d);
  const double w = std::max(decimalWidth(ymin), decimalWidth(ymax));
  // A column is one blank wider than its widest count; a count of b bits
  // has at most b log10(2) + 1 digits.
  const double columns = s.sum(2, log10_2, false);
  const double line = w + 1 + columns;
  // The header's column numbers may be wider than their columns.
  const double header = line + decimalWidthsUpTo(n);
  // Every column's counts are kept as one text, each count padded to the
  // column's width, and the lines are put together one at a time from
  // them; while a column is converted its counts also stand unpadded in a
  // scratch text that grows by doubling.
  const double column_texts = s.sum(1, log10_2, true) + (static_cast<double>(n) + 1) * text_overhead_bytes;
  const double scratch = grownCapacity(1, s.maxCells() * (s.maxBits() * log10_2 + 1));
  const double per_column = 3 * sizeof(int) * (static_cast<double>(n) + 1);  // widths, starts, filled
  m.text = column_texts + scratch + per_column + (line + 1) + grownCapacity(1, header);
  return m;
}

namespace {

// v >= 0 in decimal at p, as "%d" writes it; returns the end.
char* put_decimal(char* p, int v) {
  char digits[12];
  int i = 0;
  do {
    digits[i++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v > 0);
  while (i > 0) *p++ = digits[--i];
  return p;
}

// What the file walk reuses from block to block, so that a block costs no
// allocation once the first blocks have sized it.
struct walk_scratch {
  std::vector<int> line;  // L(x), x = 0..a
  std::vector<int> walk;  // the height after i steps, i = 0..a
  std::vector<char> text;  // the numbers line and the plot
};

// The numbers line and the plot of the block vb, in one write.
// NOTE: the plot is painted straight from the block instead of from a list
// of PlotPoint that printPlot sorts: the bound marks of x = 0..a (lower
// before upper) and then the walk marks, the list's order, so that where
// marks meet the last one shows as it does in printPlot. The bytes are the
// same; the list and its sort are not made.
void show_block(kova::file& out, const std::vector<bool>& vb, walk_scratch& s) {
  const int a = static_cast<int>(vb.size());
  int k, d;
  walkStats(vb, k, d);

  s.line.resize(static_cast<std::size_t>(a) + 1);
  s.walk.resize(static_cast<std::size_t>(a) + 1);
  CenterLine c(a, k);
  int ymin = 0, ymax = 0;
  for (int x = 0; x <= a; ++x, c.next()) {
    s.line[x] = c.value();
    ymin = std::min(ymin, s.line[x] - d);
    ymax = std::max(ymax, s.line[x] + d);
  }
  s.walk[0] = 0;
  for (int i = 1; i <= a; ++i) {
    s.walk[i] = s.walk[i - 1] + (vb[i - 1] ? 1 : -1);
    ymin = std::min(ymin, s.walk[i]);
    ymax = std::max(ymax, s.walk[i]);
  }

  // Room for the numbers line (three ints, two tabs, a line feed) and the
  // plot's lines of a + 1 cells and a line feed each.
  const std::size_t stride = static_cast<std::size_t>(a) + 2;
  const std::size_t plot = stride * static_cast<std::size_t>(ymax - ymin + 1);
  if (s.text.size() < 40 + plot) s.text.resize(40 + plot);
  char* p = s.text.data();
  p = put_decimal(p, a);
  *p++ = '\t';
  p = put_decimal(p, k);
  *p++ = '\t';
  p = put_decimal(p, d);
  *p++ = '\n';

  char* grid = p;
  for (int y = ymax; y >= ymin; --y) {
    char* row = grid + static_cast<std::size_t>(ymax - y) * stride;
    row[0] = y == 0 ? '+' : '|';
    std::memset(row + 1, y == 0 ? '-' : static_cast<char>(mark_empty), static_cast<std::size_t>(a));
    row[a + 1] = '\n';
  }
  auto mark = [&](int x, int y, unsigned char ch) {
    grid[static_cast<std::size_t>(ymax - y) * stride + static_cast<std::size_t>(x)] = static_cast<char>(ch);
  };
  for (int x = 0; x <= a; ++x) {
    mark(x, s.line[x] - d, mark_lower);
    mark(x, s.line[x] + d, mark_upper);
  }
  for (int i = 1; i <= a; ++i) mark(i, s.walk[i], mark_walk);
  out.tryWrite(s.text.data(), static_cast<int>(grid + plot - s.text.data()));
}

// The walk's input file. A read of anything but a regular file (a pipe, a
// FIFO, a terminal, a socket, a device) may wait for its producer, so before
// each such read the output hands over what it holds back: a reader of the
// output sees every block shown so far while the walk waits, and a walk
// that is stopped then leaves every block it showed. Once the output has
// failed, nothing shown can reach a reader any more, and the input ends
// there instead of being read on. Reads of a regular file never wait; the
// output then keeps collecting.
class walk_input final : public kova::file {
 public:
  walk_input(mem_pool& pool, kova::ch_range name, kova::file& out)
      : kova::file(pool, name, kova::rd, 0), out_(out) {
    struct stat st {};
    waits_ = ::fstat(fd(), &st) != 0 || !S_ISREG(st.st_mode);
  }

  int tryRead(void* buf, int n) override {
    if (waits_) {
      out_.flush();
      if (out_.failed()) return 0;
    }
    return kova::file::tryRead(buf, n);
  }

  void destroy(mem_pool& pool) noexcept override { kova::destroy_as(this, pool); }

 private:
  output_state out_;
  bool waits_ = true;
};

// Whether the descriptors a and b are one and the same regular file.
bool same_regular_file(int a, int b) {
  struct stat sa {}, sb {};
  return ::fstat(a, &sa) == 0 && ::fstat(b, &sb) == 0 && S_ISREG(sa.st_mode) && S_ISREG(sb.st_mode) &&
         sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace

// The line that the checks of the block size report; part of the output.
constexpr int show_file_n_check = 48;

void showFile(mem_pool& pool, kova::file& out, int n, kova::ch_range name) {
  hard_assert_at(n > 0, "n>0", show_file_n_check);
  hard_assert_at(n <= 2048, "n<=2048", show_file_n_check);
  walk_input in(pool, name, out);
  // A file that is also the output would be read while it grows with what
  // is shown of it, until the disk is full: refused before it is read.
  if (same_regular_file(in.fd(), out.fd())) {
    sh_str msg = kova::new_str(pool, 1024) << "showFile: input file " << name << " is also the standard output";
    throw kova::newExitMsgException(pool, KOVA_SRC_POS, msg->range(), 2);
  }
  BitReader reader(in);
  std::vector<bool> vb;
  walk_scratch scratch;
  const output_state state(out);
  for (;;) {
    reader.read(n, vb);
    if (vb.empty()) break;
    show_block(out, vb, scratch);
    if (state.failed()) return;  // nothing more can reach the reader
  }
}

void showBlock(mem_pool& /*pool*/, kova::file& out, const std::vector<bool>& vb) {
  walk_scratch scratch;
  show_block(out, vb, scratch);
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

  // The plot as rows of width + 1 bytes (the line feed included), every
  // cell first empty, then the marks in list order so that the last one at
  // a cell shows: the last in the stably sorted order too.
  const std::size_t row = static_cast<std::size_t>(width) + 1;
  std::vector<unsigned char> plot(row * static_cast<std::size_t>(height));
  for (int r = 0; r < height; ++r) {
    const int y = ymax - r;
    unsigned char* cells = &plot[static_cast<std::size_t>(r) * row];
    std::memset(cells, y == 0 ? '-' : mark_empty, static_cast<std::size_t>(width));
    if (xmin <= 0 && 0 <= xmax) cells[-xmin] = y == 0 ? '+' : '|';
    cells[width] = '\n';
  }
  for (const PlotPoint& p : points)
    plot[static_cast<std::size_t>(ymax - p.y) * row + static_cast<std::size_t>(p.x - xmin)] = p.ch;

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

  out.tryWrite(plot.data(), static_cast<int>(plot.size()));
}

}  // namespace lumbra
