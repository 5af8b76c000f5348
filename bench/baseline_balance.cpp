// baseline_balance encode|decode N < in > out
// baseline_balance walk < stream
//
// The plain balancing coder everyone knows, as the measuring stick of
// bench/shape: each word of N bits holds m data bits and an r-bit tag. The
// encoder inverts the shortest prefix of the m bits that leaves them
// balanced (m even: some prefix always does) and appends the prefix length
// as the tag, one of the balanced r-bit words (r the least with
// C(r, r/2) > m). Every word is balanced; nothing bounds its walk beyond
// that. The stream is the input's length (8 bytes, little-endian) and then
// the words, the last data padded with zero bits, the whole packed into
// bytes most significant bit first.
//
// walk prints the widest running digital sum (+1 a one, -1 a zero) of a
// whole stream of bits and its longest run of equal bits, to set the two
// coders' streams side by side.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

struct Bits {
  std::vector<unsigned char> bytes;
  std::uint64_t n = 0;
  void put(bool b) {
    if (n % 8 == 0) bytes.push_back(0);
    if (b) bytes.back() |= static_cast<unsigned char>(0x80 >> (n % 8));
    ++n;
  }
};

bool get(const std::vector<unsigned char>& v, std::uint64_t i) {
  return i / 8 < v.size() && ((v[i / 8] >> (7 - i % 8)) & 1) != 0;
}

std::vector<unsigned char> readAll() {
  std::vector<unsigned char> v;
  unsigned char buf[1 << 16];
  std::size_t r;
  while ((r = std::fread(buf, 1, sizeof buf, stdin)) > 0) v.insert(v.end(), buf, buf + r);
  return v;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "walk") == 0) {
    const std::vector<unsigned char> in = readAll();
    long sum = 0, widest = 0, run = 0, longest = 0;
    bool last = false;
    for (std::uint64_t i = 0; i < 8 * in.size(); ++i) {
      const bool b = get(in, i);
      sum += b ? 1 : -1;
      widest = std::max(widest, std::labs(sum));
      run = i > 0 && b == last ? run + 1 : 1;
      longest = std::max(longest, run);
      last = b;
    }
    std::printf("%ld %ld\n", widest, longest);
    return 0;
  }
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s encode|decode N < in > out, or walk < in\n", argv[0]);
    return 1;
  }
  const bool encode = std::strcmp(argv[1], "encode") == 0;
  const int n = std::atoi(argv[2]);
  // The tags: the balanced r-bit words, in order, and their numbers.
  int r = 2;
  std::vector<int> tags, tagOf;
  for (;; r += 2) {
    tags.clear();
    for (int w = 0; w < (1 << r); ++w)
      if (__builtin_popcount(static_cast<unsigned>(w)) == r / 2) tags.push_back(w);
    if (static_cast<int>(tags.size()) > n - r) break;
  }
  const int m = n - r;
  tagOf.assign(std::size_t{1} << r, -1);
  for (std::size_t i = 0; i < tags.size(); ++i)
    tagOf[static_cast<std::size_t>(tags[i])] = static_cast<int>(i);

  const std::vector<unsigned char> in = readAll();
  Bits out;
  std::vector<bool> w(static_cast<std::size_t>(m));
  if (encode) {
    const std::uint64_t len = in.size();
    for (int i = 0; i < 64; ++i) out.put(((len >> (i / 8 * 8 + 7 - i % 8)) & 1) != 0);
    for (std::uint64_t at = 0; at < 8 * len; at += static_cast<std::uint64_t>(m)) {
      int ones = 0;
      for (int x = 0; x < m; ++x)
        ones += (w[static_cast<std::size_t>(x)] = get(in, at + static_cast<std::uint64_t>(x)));
      // Inverting bit x changes the ones by 1 - 2 w[x]; stop when balanced.
      int k = 0;
      for (; ones != m / 2; ++k) ones += w[static_cast<std::size_t>(k)] ? -1 : 1;
      for (int x = 0; x < m; ++x) out.put(w[static_cast<std::size_t>(x)] != (x < k));
      for (int b = r - 1; b >= 0; --b) out.put(((tags[static_cast<std::size_t>(k)] >> b) & 1) != 0);
    }
  } else {
    std::uint64_t len = 0;
    for (int i = 0; i < 64; ++i)
      len |= std::uint64_t{get(in, static_cast<std::uint64_t>(i))} << (i / 8 * 8 + 7 - i % 8);
    std::uint64_t at = 64;
    for (std::uint64_t done = 0; done < 8 * len; done += static_cast<std::uint64_t>(m)) {
      int tag = 0;
      for (int b = 0; b < r; ++b) tag = 2 * tag + get(in, at + static_cast<std::uint64_t>(m + b));
      const int k = tagOf[static_cast<std::size_t>(tag)];
      if (k < 0) {
        std::fprintf(stderr, "baseline_balance: not a tag at bit %llu\n",
                     static_cast<unsigned long long>(at + m));
        return 1;
      }
      for (int x = 0; x < m && done + static_cast<std::uint64_t>(x) < 8 * len; ++x)
        out.put(get(in, at + static_cast<std::uint64_t>(x)) != (x < k));
      at += static_cast<std::uint64_t>(n);
    }
  }
  std::fwrite(out.bytes.data(), 1, out.bytes.size(), stdout);
  return 0;
}
