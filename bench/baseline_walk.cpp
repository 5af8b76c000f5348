// baseline_walk n file
//
// The output of `lumbra showFile n file`, written plainly: the file read
// whole, cut into blocks of n bits (most significant bit of each byte first,
// the last block holding what is left), and for each block the numbers line
// and the plot formatted straight into one output buffer, which is written
// whenever it passes 1 MiB. Prints exactly the bytes lumbra prints after its
// banner.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr size_t kFlushAt = size_t(1) << 20;

constexpr char kLower = '\x1E';  // lower bound line, L(x) - d
constexpr char kUpper = '\x1F';  // upper bound line, L(x) + d
constexpr char kWalk = '*';
constexpr char kDot = '\xFA';    // an empty cell off the axes

void writeAll(const std::string& s) {
  for (size_t done = 0; done < s.size();) {
    const ssize_t got = ::write(1, s.data() + done, s.size() - done);
    if (got < 0) {
      std::perror("write");
      std::exit(2);
    }
    done += size_t(got);
  }
}

std::vector<unsigned char> readFile(const char* name) {
  std::vector<unsigned char> bytes;
  const int fd = ::open(name, O_RDONLY);
  if (fd < 0) {
    std::perror(name);
    std::exit(2);
  }
  unsigned char chunk[1 << 16];
  for (ssize_t got; (got = ::read(fd, chunk, sizeof chunk)) != 0;) {
    if (got < 0) {
      std::perror(name);
      std::exit(2);
    }
    bytes.insert(bytes.end(), chunk, chunk + got);
  }
  ::close(fd);
  return bytes;
}

// Appends the numbers line and the plot of the block of a bits starting at
// bit `first` of `bytes`. `walk` and `line` are scratch of at least a + 1.
void showBlock(const std::vector<unsigned char>& bytes, size_t first, int a,
               std::vector<int>& walk, std::vector<int>& line, std::string& out) {
  int k = 0;
  walk[0] = 0;
  for (int i = 0; i < a; ++i) {
    const size_t b = first + i;
    const int bit = (bytes[b >> 3] >> (7 - (b & 7))) & 1;
    k += bit;
    walk[i + 1] = walk[i] + (bit ? 1 : -1);
  }
  int d = 0;
  for (int x = 0, s = 0; x <= a; ++x, s += 2 * k - a) {
    line[x] = s / a;
    d = std::max(d, std::abs(walk[x] - line[x]));
  }

  char numbers[48];
  out.append(numbers, std::snprintf(numbers, sizeof numbers, "%d\t%d\t%d\n", a, k, d));

  int ymin = 0, ymax = 0;
  for (int x = 0; x <= a; ++x) {
    ymin = std::min(ymin, line[x] - d);
    ymax = std::max(ymax, line[x] + d);
  }
  // The plot's lines follow each other in the buffer, a + 2 bytes apiece.
  const size_t stride = size_t(a) + 2;
  const size_t at = out.size();
  out.resize(at + stride * size_t(ymax - ymin + 1));
  char* plot = &out[at];
  for (int y = ymax; y >= ymin; --y) {
    char* p = plot + size_t(ymax - y) * stride;
    std::memset(p + 1, y == 0 ? '-' : kDot, size_t(a));
    p[0] = y == 0 ? '+' : '|';
    p[a + 1] = '\n';
  }
  // Later marks cover earlier ones: the walk covers both bound lines, the
  // upper bound line covers the lower one where they meet.
  auto mark = [&](int x, int y, char ch) { plot[size_t(ymax - y) * stride + size_t(x)] = ch; };
  for (int x = 0; x <= a; ++x) mark(x, line[x] - d, kLower);
  for (int x = 0; x <= a; ++x) mark(x, line[x] + d, kUpper);
  for (int x = 1; x <= a; ++x) mark(x, walk[x], kWalk);
}

}  // namespace

int main(int argc, char** argv) {
  const int n = argc == 3 ? std::atoi(argv[1]) : 0;
  if (n < 1 || n > 2048) {
    std::fprintf(stderr, "usage: %s n file   (1 <= n <= 2048)\n", argv[0]);
    return 1;
  }
  const std::vector<unsigned char> bytes = readFile(argv[2]);
  const size_t bits = bytes.size() * 8;

  std::vector<int> walk(n + 1), line(n + 1);
  std::string out;
  out.reserve(2 * kFlushAt);
  for (size_t first = 0; first < bits; first += size_t(n)) {
    const int a = int(std::min(bits - first, size_t(n)));
    showBlock(bytes, first, a, walk, line, out);
    if (out.size() >= kFlushAt) {
      writeAll(out);
      out.clear();
    }
  }
  writeAll(out);
  return 0;
}
