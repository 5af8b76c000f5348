#include "commands.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "bigintgmp.h"
#include "kova/file.h"
#include "recording_probe.h"

using kova::mem_pool;
using lumbra::PlotPoint;

namespace {

// A closed file whose writes are collected instead of sent anywhere.
class capture final : public kova::file {
 public:
  explicit capture(mem_pool& pool) : kova::file(pool) {}
  int tryWrite(const void* buf, int n) override {
    bytes.append(static_cast<const char*>(buf), n);
    return n;
  }
  void destroy(mem_pool& pool) noexcept override { kova::destroy_as(this, pool); }
  std::string bytes;
};

std::vector<std::string> lines_of(const std::string& s) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (std::size_t i = 0; i < s.size(); ++i)
    if (s[i] == '\n') out.push_back(s.substr(start, i - start)), start = i + 1;
  EXPECT_EQ(start, s.size()) << "output does not end with a line feed";
  return out;
}

TEST(PrintPlot, LastMarkInListOrderWinsAndTheListEndsUpSorted) {
  mem_pool pool(16384, 1024);
  capture out(pool);
  std::vector<PlotPoint> points = {{2, -1, 'a'}, {1, 1, 'b'}, {2, -1, 'c'}, {0, 1, 'd'}, {1, 1, 'e'}};
  lumbra::printPlot(points, out);
  // Heights 1, 0, -1; x from 0 to 2; the axis and empty cells fill the rest.
  EXPECT_EQ(out.bytes, "de\xfa\n+--\n|\xfa" "c\n");
  std::vector<std::pair<int, int>> order;
  for (const PlotPoint& p : points) order.push_back({p.x, p.y});
  EXPECT_EQ(order, (std::vector<std::pair<int, int>>{{0, 1}, {1, 1}, {1, 1}, {2, -1}, {2, -1}}));
  EXPECT_EQ(points[1].ch, 'b');  // ties keep their list order
  EXPECT_EQ(points[2].ch, 'e');
}

TEST(PrintPlot, EmptyListWritesNothing) {
  mem_pool pool(16384, 1024);
  capture out(pool);
  std::vector<PlotPoint> none;
  lumbra::printPlot(none, out);
  EXPECT_TRUE(out.bytes.empty());
}

// For random blocks of many lengths: the numbers line, then lines of exactly
// a + 1 bytes; one walk mark per column x >= 1, lying between the column's
// bound marks, which sit at the extremes of the column.
TEST(ShowBlock, PlotShapeHoldsForRandomBlocks) {
  mem_pool pool(16384, 1024);
  kova::set_gmp_pool(pool);
  std::mt19937 rng(12345);
  for (int trial = 0; trial < 300; ++trial) {
    const int a = 1 + static_cast<int>(rng() % (trial < 200 ? 40 : 2048));
    std::vector<bool> vb(a);
    const unsigned bias = rng() % 4;  // some blocks lean to ones or zeros
    for (int i = 0; i < a; ++i) vb[i] = bias == 0 ? rng() % 2 : bias == 1 ? rng() % 5 == 0 : rng() % 5 != 0;
    capture out(pool);
    lumbra::showBlock(pool, out, vb);

    SCOPED_TRACE(trial);
    std::vector<std::string> lines = lines_of(out.bytes);
    ASSERT_GE(lines.size(), 2u);
    int n, k, d;
    ASSERT_EQ(std::sscanf(lines[0].c_str(), "%d\t%d\t%d", &n, &k, &d), 3);
    EXPECT_EQ(n, a);
    for (std::size_t i = 1; i < lines.size(); ++i) ASSERT_EQ(lines[i].size(), std::size_t(a) + 1);
    for (int x = 1; x <= a; ++x) {
      int walk = 0, first = -1, last = -1;
      for (std::size_t i = 1; i < lines.size(); ++i) {
        unsigned char c = lines[i][x];
        if (c == '*') ++walk, first = first < 0 ? int(i) : first, last = int(i);
        if (c == lumbra::mark_upper || c == lumbra::mark_lower) first = first < 0 ? int(i) : first, last = int(i);
      }
      EXPECT_EQ(walk, 1) << "column " << x;
      const unsigned char top = lines[first][x], bottom = lines[last][x];
      EXPECT_TRUE(top == lumbra::mark_upper || top == '*') << "column " << x;
      EXPECT_TRUE(bottom == lumbra::mark_lower || bottom == '*' || (d == 0 && bottom == lumbra::mark_upper))
          << "column " << x;
    }
  }
}

}  // namespace
