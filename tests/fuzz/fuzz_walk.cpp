// Fuzz target: the bit reader, walkStats and the plot of showBlock over
// random bytes and block sizes.
//
// Input: byte 0 chooses the source (bit 0: a pipe, else a real file) and the
// number of block sizes (1 + (byte >> 1) % 3); two bytes per block size
// follow (1 + value % 2048 bits), and the rest, at most 512 bytes, is the
// content, which the reader reads with the sizes in turn. Checked:
//   - the blocks concatenate to the content's bits, most significant bit of
//     each byte first; every block but the last is full; then an empty block;
//   - for every block, the numbers line holds its length, its one bits and
//     its deviation, which equals the largest distance of the walk from the
//     center line x(2k - a)/a (computed here in 64 bits), and is the least d
//     whose band holds the walk: the walk lies in Trian(a, k, d)'s band and,
//     for d >= 1, leaves Trian(a, k, d - 1)'s (for the first 8 blocks, when
//     they have at most 64 bits);
//   - the plot is one line of a + 1 bytes per height from the highest upper
//     bound mark down to the lowest lower one; in each column the walk mark
//     lies between the bound marks, and every byte is the one it must be.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bigintgmp.h"
#include "bitstm.h"
#include "commands.h"
#include "kova/file.h"
#include "kova/mem_pool.h"
#include "trian.h"

namespace {

using i64 = std::int64_t;


[[noreturn]] void fail(const char* what, i64 block, i64 x) {
  std::fprintf(stderr, "fuzz_walk: %s (block %lld, x %lld)\n", what, static_cast<long long>(block),
               static_cast<long long>(x));
  std::abort();
}

// A sink that keeps what is written to it.
class capture final : public kova::file {
 public:
  explicit capture(kova::mem_pool& pool) : kova::file(pool) {}
  int tryWrite(const void* buf, int n) override {
    text.append(static_cast<const char*>(buf), static_cast<std::size_t>(n));
    return n;
  }
  std::string text;
};

// The one temporary file the reader reads when it does not read a pipe.
struct TempFile {
  std::string path;
  TempFile() {
    char tmpl[] = "/tmp/fuzz_walk.XXXXXX";
    const int fd = mkstemp(tmpl);
    if (fd < 0) std::abort();
    close(fd);
    path = tmpl;
  }
  ~TempFile() { unlink(path.c_str()); }
};

const std::string& tempPath() {
  static const TempFile file;
  return file.path;
}

void writeAll(int fd, const std::uint8_t* p, std::size_t n) {
  while (n > 0) {
    const ssize_t done = write(fd, p, n);
    if (done <= 0) std::abort();
    p += done;
    n -= static_cast<std::size_t>(done);
  }
}

// Does the walk of vb stay within the band of Trian(a, k, d)?
bool inBand(kova::mem_pool& pool, const std::vector<bool>& vb, int k, int d) {
  const int a = static_cast<int>(vb.size());
  lumbra::Trian t(pool, a, k, d, true);
  int h = 0;
  for (int x = 1; x <= a; ++x) {
    h += vb[x - 1] ? 1 : -1;
    if (h < t.mn(x) || h > t.mx(x)) return false;
  }
  return true;
}

void checkBlock(kova::mem_pool& pool, const std::vector<bool>& vb, i64 block) {
  const int a = static_cast<int>(vb.size());
  capture out(pool);
  lumbra::showBlock(pool, out, vb);
  const std::string& text = out.text;

  // The walk and its line, computed here from scratch.
  int k = 0;
  for (bool b : vb) k += b;
  std::vector<i64> L(a + 1), h(a + 1, 0);
  i64 dev = 0;
  for (i64 x = 0; x <= a; ++x) {
    L[x] = x * (2 * i64{k} - a) / a;
    if (x > 0) h[x] = h[x - 1] + (vb[x - 1] ? 1 : -1);
    dev = std::max(dev, h[x] > L[x] ? h[x] - L[x] : L[x] - h[x]);
  }

  const std::size_t eol = text.find('\n');
  if (eol == std::string::npos) fail("no numbers line", block, -1);
  char expect[64];
  std::snprintf(expect, sizeof expect, "%d\t%d\t%lld", a, k, static_cast<long long>(dev));
  if (text.compare(0, eol, expect) != 0) fail("numbers line differs from the walk", block, -1);
  const int d = static_cast<int>(dev);
  if (a <= 64 && block < 8) {
    if (!inBand(pool, vb, k, d)) fail("walk outside the band of its deviation", block, -1);
    if (d >= 1 && inBand(pool, vb, k, d - 1)) fail("a narrower band holds the walk", block, -1);
  }

  i64 ymax = L[0] + d, ymin = L[0] - d;
  for (i64 x = 0; x <= a; ++x) ymax = std::max(ymax, L[x] + d), ymin = std::min(ymin, L[x] - d);
  const i64 width = a + 1, lines = ymax - ymin + 1;
  const std::string plot = text.substr(eol + 1);
  if (static_cast<i64>(plot.size()) != lines * (width + 1)) fail("plot has the wrong size", block, -1);
  for (i64 r = 0; r < lines; ++r)
    if (plot[r * (width + 1) + width] != '\n') fail("plot line is not a + 1 bytes long", block, r);

  // The plot as it must be: the axes and the empty cells, then in each
  // column the lower bound mark, the upper one and the walk, the later mark
  // covering the earlier where they meet.
  std::string want;
  want.reserve(plot.size());
  for (i64 y = ymax; y >= ymin; --y) {
    want.push_back(y == 0 ? '+' : '|');
    want.append(static_cast<std::size_t>(a), y == 0 ? '-' : static_cast<char>(lumbra::mark_empty));
    want.push_back('\n');
  }
  auto cell = [&](i64 x, i64 y) -> char& { return want[(ymax - y) * (width + 1) + x]; };
  for (i64 x = 0; x <= a; ++x) {
    cell(x, L[x] - d) = static_cast<char>(lumbra::mark_lower);
    cell(x, L[x] + d) = static_cast<char>(lumbra::mark_upper);
    if (x == 0) continue;
    if (h[x] < L[x] - d || h[x] > L[x] + d) fail("walk mark outside its bound marks", block, x);
    cell(x, h[x]) = static_cast<char>(lumbra::mark_walk);
  }
  if (plot != want) {
    const std::size_t at = std::mismatch(plot.begin(), plot.end(), want.begin()).first - plot.begin();
    fail("plot cell differs", block, static_cast<i64>(at % (width + 1)));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const bool use_pipe = data[0] & 1;
  const std::size_t count = 1 + (data[0] >> 1) % 3;
  if (size < 1 + 2 * count) return 0;
  std::vector<int> sizes;
  for (std::size_t i = 0; i < count; ++i) sizes.push_back(1 + (data[1 + 2 * i] | data[2 + 2 * i] << 8) % 2048);
  const std::uint8_t* content = data + 1 + 2 * count;
  const std::size_t length = std::min<std::size_t>(size - 1 - 2 * count, 512);

  kova::mem_pool pool(16384, 1024);
  kova::gmp_pool_guard gmp(pool);
  {
    int pipe_fds[2] = {-1, -1};
    kova::file in(pool);
    if (use_pipe) {
      // The content fits the pipe's buffer, so it is all written up front.
      if (pipe(pipe_fds) != 0) std::abort();
      writeAll(pipe_fds[1], content, length);
      close(pipe_fds[1]);
      in.attach(pipe_fds[0]);
    } else {
      const int fd = open(tempPath().c_str(), O_WRONLY | O_TRUNC);
      if (fd < 0) std::abort();
      writeAll(fd, content, length);
      close(fd);
      in.open(kova::ch_range(tempPath().c_str()), kova::rd, 0);
    }

    lumbra::BitReader reader(in);
    std::vector<bool> vb;
    const i64 total = 8 * static_cast<i64>(length);
    i64 at = 0;
    for (i64 block = 0;; ++block) {
      const int n = sizes[block % sizes.size()];
      reader.read(n, vb);
      const i64 got = static_cast<i64>(vb.size());
      if (got != std::min<i64>(n, total - at)) fail("block of the wrong length", block, got);
      if (got == 0) break;
      for (i64 i = 0; i < got; ++i) {
        const i64 bit = at + i;
        if (vb[i] != (((content[bit / 8] >> (7 - bit % 8)) & 1) != 0)) fail("block bit differs", block, i);
      }
      at += got;
      checkBlock(pool, vb, block);
    }
    reader.read(sizes[0], vb);
    if (!vb.empty()) fail("a block after the end", -1, -1);
    if (use_pipe) close(pipe_fds[0]);
  }
  return 0;
}
