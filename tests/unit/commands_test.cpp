#include "commands.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "triangle/bigintgmp.h"
#include "plain_block.h"
#include "recording_probe.h"

using kova::mem_pool;
using lumbra::PlotPoint;
using lumbra::Trian;

namespace {

// A sink that keeps every write apart, so tests see the bytes and the writes.
class capture_file final : public kova::file {
 public:
  explicit capture_file(mem_pool& pool) : kova::file(pool) {}
  int tryWrite(const void* buf, int n) override {
    writes.emplace_back(static_cast<const char*>(buf), static_cast<std::size_t>(n));
    return n;
  }
  void destroy(mem_pool& pool) noexcept override { kova::destroy_as(this, pool); }
  std::string bytes() const {
    std::string s;
    for (const std::string& w : writes) s += w;
    return s;
  }

  std::vector<std::string> writes;
};

std::string printf_text(const char* format, int width, int value) {
  std::vector<char> buf(8192 + 64);
  int len = std::snprintf(buf.data(), buf.size(), format, width, value);
  return std::string(buf.data(), static_cast<std::size_t>(len));
}

std::string padded(int width, const std::string& s) {
  return std::string(static_cast<std::size_t>(std::max(0, width - static_cast<int>(s.size()))), ' ') + s;
}

// The table as the plain recipe builds it: one text per line, every item
// formatted on its own, and the writes header, (line, line feed)..., header.
std::vector<std::string> plain_table(mem_pool& pool, const Trian& t) {
  const int n = t.getN();
  int ymin = 0, ymax = 0, w = 0;
  for (int x = 0; x <= n; ++x) {
    ymin = std::min(ymin, t.mn(x));
    ymax = std::max(ymax, t.mx(x));
    w = std::max({w, static_cast<int>(std::to_string(t.mn(x)).size()),
                  static_cast<int>(std::to_string(t.mx(x)).size())});
  }
  std::vector<std::string> lines;
  for (int y = ymax; y >= ymin; --y) lines.push_back(printf_text("%*d:", w, y));
  std::string header = padded(w, "") + ":";
  for (int x = 0; x <= n; ++x) {
    std::vector<std::string> texts;
    std::size_t cw = 0;
    for (int y = t.mn(x); y <= t.mx(x); y += 2) {
      kova::sh_str s = t.at(x, y).to_text(pool);
      texts.emplace_back(s->data(), static_cast<std::size_t>(s->size()));
      cw = std::max(cw, texts.back().size());
    }
    for (int y = ymax; y >= ymin; --y) {
      bool cell = y >= t.mn(x) && y <= t.mx(x) && (y - t.mn(x)) % 2 == 0;
      lines[ymax - y] += padded(static_cast<int>(cw) + 1, cell ? texts[(y - t.mn(x)) / 2] : "");
    }
    header += printf_text("%*d", static_cast<int>(cw) + 1, x);
  }
  header += "\n";
  std::vector<std::string> writes{header};
  for (const std::string& line : lines) {
    writes.push_back(line);
    writes.push_back("\n");
  }
  writes.push_back(header);
  return writes;
}

class CommandsTest : public lumbra_test::pool_test {
 protected:
  kova::gmp_pool_guard gmp{pool};
};

// Counts of more digits than a small formatting area holds (up to 400 over
// 200), columns without cells, labels with a minus sign and lines longer than
// the output buffer.
TEST_F(CommandsTest, TableIsThePlainRecipesWriteForWrite) {
  struct row {
    int n, k, d;
  } rows[] = {{1, 0, 0},    {1, 1, 1},     {3, 1, 0},   {4, 1, 1},   {10, 5, 5},
              {10, 0, 3},   {12, 3, 2},    {30, 10, 4}, {57, 3, 2},  {300, 150, 0},
              {400, 200, 400}, {700, 350, 60}};
  for (const row& r : rows) {
    SCOPED_TRACE("n=" + std::to_string(r.n) + " k=" + std::to_string(r.k) + " d=" + std::to_string(r.d));
    Trian t(pool, r.n, r.k, r.d, false);
    capture_file out(pool);
    lumbra::printTrian(pool, out, t);
    std::vector<std::string> want = plain_table(pool, t);
    ASSERT_EQ(out.writes.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) ASSERT_EQ(out.writes[i], want[i]) << "write " << i;
  }
}

// The plot as the plain recipe draws it: the marks sorted stably, then for
// every cell the last sorted mark there, or the axis or the dot.
std::string plain_plot(std::vector<PlotPoint> points) {
  std::stable_sort(points.begin(), points.end(), [](const PlotPoint& p, const PlotPoint& q) {
    return p.y > q.y || (p.y == q.y && p.x < q.x);
  });
  int xmin = points[0].x, xmax = xmin, ymin = points[0].y, ymax = ymin;
  std::map<std::pair<int, int>, unsigned char> last;
  for (const PlotPoint& p : points) {
    xmin = std::min(xmin, p.x);
    xmax = std::max(xmax, p.x);
    ymin = std::min(ymin, p.y);
    ymax = std::max(ymax, p.y);
    last[{p.x, p.y}] = p.ch;
  }
  std::string s;
  for (int y = ymax; y >= ymin; --y) {
    for (int x = xmin; x <= xmax; ++x) {
      auto it = last.find({x, y});
      unsigned char c = it != last.end() ? it->second
                        : x == 0 && y == 0 ? '+'
                        : x == 0           ? '|'
                        : y == 0           ? '-'
                                           : 0xFA;
      s += static_cast<char>(c);
    }
    s += '\n';
  }
  return s;
}

std::vector<bool> bits(const std::string& s) {
  std::vector<bool> vb;
  for (char c : s) vb.push_back(c == '1');
  return vb;
}

// Blocks of many lengths, some leaning to ones or zeros so the line is
// steep: the bytes of the plain recipe, whose walk and line owe nothing to
// walkStats or centerLine.
TEST_F(CommandsTest, BlockIsThePlainRecipesBytes) {
  std::mt19937 rng(20261209);
  std::vector<std::vector<bool>> blocks = {bits("1"), bits("0"), bits("11111111"), bits("00000000"),
                                           bits("00001111"), bits("01010101"), bits("1100000000")};
  for (int a : {2, 3, 5, 8, 13, 40, 64, 341, 2047, 2048})
    for (int i = 0; i < (a < 300 ? 20 : 2); ++i) {
      std::vector<bool> vb(static_cast<std::size_t>(a));
      // Some blocks lean to ones or zeros, so the line is steep.
      const unsigned lean = rng() % 4;
      for (int j = 0; j < a; ++j) vb[j] = lean == 0 ? rng() % 8 == 0 : lean == 1 ? rng() % 8 != 0 : rng() % 2;
      blocks.push_back(vb);
    }
  for (const std::vector<bool>& vb : blocks) {
    SCOPED_TRACE("a=" + std::to_string(vb.size()));
    capture_file out(pool);
    lumbra::showBlock(pool, out, vb);
    ASSERT_EQ(out.bytes(), lumbra_test::plain_block(vb));
  }
}

TEST_F(CommandsTest, PlotIsThePlainRecipesAndLeavesTheListSorted) {
  std::mt19937 rng(20261210);
  const unsigned char marks[] = {lumbra::mark_lower, lumbra::mark_upper, lumbra::mark_walk, 'x'};
  {
    capture_file out(pool);
    std::vector<PlotPoint> none;
    lumbra::printPlot(none, out);
    EXPECT_TRUE(out.bytes().empty());
  }
  for (int round = 0; round < 200; ++round) {
    // Marks anywhere, crowding on few cells, with or without the axes in view.
    const int x0 = static_cast<int>(rng() % 21) - 10, y0 = static_cast<int>(rng() % 21) - 10;
    std::vector<PlotPoint> points(1 + rng() % 60);
    for (PlotPoint& p : points)
      p = {x0 + static_cast<int>(rng() % 7), y0 + static_cast<int>(rng() % 5), marks[rng() % 4]};
    std::vector<PlotPoint> sorted = points;
    std::stable_sort(sorted.begin(), sorted.end(), [](const PlotPoint& p, const PlotPoint& q) {
      return p.y > q.y || (p.y == q.y && p.x < q.x);
    });
    SCOPED_TRACE(round);
    capture_file out(pool);
    const std::string want = plain_plot(points);
    lumbra::printPlot(points, out);
    EXPECT_EQ(out.bytes(), want);
    ASSERT_EQ(points.size(), sorted.size());
    for (std::size_t i = 0; i < points.size(); ++i) {
      EXPECT_EQ(points[i].x, sorted[i].x);
      EXPECT_EQ(points[i].y, sorted[i].y);
      EXPECT_EQ(points[i].ch, sorted[i].ch);
    }
  }
}

// The command line refuses such sizes first; the command's own check stops.
TEST(ShowFileDeathTest, BlockSizeOutOfRangeStops) {
  mem_pool pool(16384, 1024);
  kova::file out(pool);
  EXPECT_DEATH(lumbra::showFile(pool, out, 0, "x"),
               "Hard assertion failed: n>0, file tool/commands.cpp, line 48\n");
  EXPECT_DEATH(lumbra::showFile(pool, out, 2049, "x"),
               "Hard assertion failed: n<=2048, file tool/commands.cpp, line 48\n");
}

}  // namespace
