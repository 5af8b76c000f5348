// Fuzz target: the bit reader, walkStats and the plot of showBlock over
// random bytes and block sizes.
//
// Input: byte 0 chooses the source (bit 0: a pipe, else a real file) and the
// number of block sizes (1 + (byte >> 1) % 3); two bytes per block size
// follow (1 + value % 2048 bits), and the rest, at most 512 bytes, is the
// content, which the reader reads with the sizes in turn. Checked:
//   - the blocks concatenate to the content's bits, most significant bit of
//     each byte first; every block but the last is full; then an empty block;
//   - for every block, showBlock writes the bytes of the plain recipe
//     (plain_block.h: the numbers line and the plot, from a walk and centre
//     line computed from scratch); and the deviation is the least d whose
//     band holds the walk: the walk lies in Trian(a, k, d)'s band and, for
//     d >= 1, leaves Trian(a, k, d - 1)'s (for the first 8 blocks, when they
//     have at most 64 bits).
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "triangle/bigintgmp.h"
#include "triangle/bitstm.h"
#include "commands.h"
#include "kova/file.h"
#include "kova/mem_pool.h"
#include "plain_block.h"
#include "triangle/trian.h"

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
  capture out(pool);
  lumbra::showBlock(pool, out, vb);
  const lumbra_test::plain_walk w(vb);
  const int d = static_cast<int>(w.d);
  if (vb.size() <= 64 && block < 8) {
    if (!inBand(pool, vb, w.k, d)) fail("walk outside the band of its deviation", block, -1);
    if (d >= 1 && inBand(pool, vb, w.k, d - 1)) fail("a narrower band holds the walk", block, -1);
  }
  const std::string want = lumbra_test::plain_block(vb);
  if (out.text != want) {
    const auto at =
        std::mismatch(out.text.begin(), out.text.end(), want.begin(), want.end()).first - out.text.begin();
    fail("the block's bytes differ from the plain recipe at byte", block, static_cast<i64>(at));
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
