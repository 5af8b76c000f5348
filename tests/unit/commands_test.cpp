#include "commands.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bigintgmp.h"
#include "recording_probe.h"

using kova::mem_pool;
using lumbra::Trian;
using lumbra_test::recording_probe;

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

class CommandsTest : public ::testing::Test {
 protected:
  CommandsTest() { kova::set_gmp_pool(pool); }
  void TearDown() override { EXPECT_EQ(probe.live_blocks(), 0u); }

  mem_pool pool{16384, 1024};
  recording_probe probe{pool};
};

// Counts of more digits than a small formatting area holds, columns without
// cells, labels with a minus sign and lines longer than the output buffer.
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

}  // namespace
