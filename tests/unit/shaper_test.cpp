#include "coding/shaper.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "coding/shaped_stream.h"
#include "count/count.h"
#include "count/mpz.h"
#include "memory_bytes.h"

using lumbra::Alphabet;
using lumbra::Shaper;
using Bytes = std::vector<unsigned char>;

namespace {

// floor(log2 C(n, n/2, d)) by the count engine's rows (not the closed form
// the shaper uses).
int countedBits(int n, int d) {
  lumbra::Mpz c;
  lumbra::countWalksByRows(c.get(), n, n / 2, d, 1);
  return static_cast<int>(mpz_sizeinbase(c.get(), 2)) - 1;
}

Bytes shape(const Shaper& s, Alphabet a, const Bytes& data, std::size_t piece) {
  lumbra_test::memory_source src(data, piece);
  lumbra_test::memory_sink out;
  Bytes head;
  EXPECT_EQ(lumbra::shapeStream(src, out, s, a, head), data.size());
  std::copy(head.begin(), head.end(), out.bytes.begin());
  return out.bytes;
}

Bytes unshape(const Shaper& s, Alphabet a, const Bytes& stream, std::size_t piece = SIZE_MAX) {
  lumbra_test::memory_source src(stream, piece);
  lumbra_test::memory_sink out;
  lumbra::unshapeStream(src, out, s, a);
  return out.bytes;
}

std::string unshapeError(const Shaper& s, Alphabet a, const Bytes& stream) {
  try {
    unshape(s, a, stream);
  } catch (const lumbra::ShapeError& e) {
    return e.what();
  }
  return "no error";
}

// The words of a stream, each as its n bits (and for dna its base bits),
// cut by a plain reading of the alphabet; fails the test where the stream
// is not words of n symbols (bits: `count` words and the fill).
struct Word {
  std::vector<bool> bits, bases;
};
std::vector<Word> cutWords(const Bytes& stream, int n, Alphabet a, std::size_t count) {
  std::vector<Word> words;
  if (a == Alphabet::bits) {
    const std::size_t total = 8 * stream.size();
    EXPECT_LE(count * static_cast<std::size_t>(n), total);
    if (count * static_cast<std::size_t>(n) > total) return words;
    for (std::size_t w = 0; w < count; ++w) {
      Word word;
      for (int x = 0; x < n; ++x) {
        const std::size_t i = w * static_cast<std::size_t>(n) + static_cast<std::size_t>(x);
        word.bits.push_back(((stream[i / 8] >> (7 - i % 8)) & 1) != 0);
      }
      words.push_back(word);
    }
    // What follows the last word: less than a byte of 1 0 1 0 ...
    const std::size_t rest = total - count * static_cast<std::size_t>(n);
    EXPECT_LT(rest, 8u);
    for (std::size_t i = count * static_cast<std::size_t>(n); i < total; ++i)
      EXPECT_EQ(((stream[i / 8] >> (7 - i % 8)) & 1) != 0,
                (i - count * static_cast<std::size_t>(n)) % 2 == 0);
    return words;
  }
  const std::string alphabet = a == Alphabet::text ? "01" : "ATCG";
  std::size_t at = 0;
  while (at < stream.size()) {
    Word word;
    for (int x = 0; x < n; ++x, ++at) {
      const std::size_t v =
          at < stream.size() ? alphabet.find(static_cast<char>(stream[at])) : std::string::npos;
      if (v == std::string::npos) {
        ADD_FAILURE() << "not a symbol at byte " << at;
        return words;
      }
      word.bits.push_back(a == Alphabet::text ? v == 1 : v >= 2);
      word.bases.push_back(v % 2 == 1);
    }
    EXPECT_EQ(at < stream.size() ? stream[at] : 0, '\n');
    ++at;
    words.push_back(word);
  }
  return words;
}

// Every word balanced, its walk within [-d, d] and, for dna, no base
// repeated more than 2d times (checked across words: the strand is one).
void checkWords(const std::vector<Word>& words, int n, int d, Alphabet a) {
  int run = 0, last = -1;
  for (std::size_t w = 0; w < words.size(); ++w) {
    int h = 0, low = 0, high = 0;
    for (int x = 0; x < n; ++x) {
      const bool one = words[w].bits[static_cast<std::size_t>(x)];
      h += one ? 1 : -1;
      low = std::min(low, h);
      high = std::max(high, h);
      if (a == Alphabet::dna) {
        const int base = 2 * one + words[w].bases[static_cast<std::size_t>(x)];
        run = base == last ? run + 1 : 1;
        last = base;
        ASSERT_LE(run, 2 * d) << "word " << w;
      }
    }
    ASSERT_EQ(h, 0) << "word " << w;
    ASSERT_GE(low, -d) << "word " << w;
    ASSERT_LE(high, d) << "word " << w;
  }
}

// Bytes from the generator; every fourth input is made of few byte values,
// as real files are.
Bytes randomBytes(std::mt19937_64& rng, std::size_t size) {
  Bytes b(size);
  const bool plain = rng() % 4 == 0;
  for (auto& c : b) c = static_cast<unsigned char>(plain ? "ab \n"[rng() % 4] : rng());
  return b;
}

}  // namespace

// The bits a word carries are floor(log2 C(n, n/2, d)) for every n up to 64
// and every d, and for spot checks up to the largest n; at n = 256, d = 4
// the rate is within 1 % of the capacity.
TEST(Shaper, BitsPerWordAreThoseOfTheCount) {
  std::vector<std::pair<int, int>> cases;
  for (int n = 2; n <= 64; n += 2)
    for (int d = 1; d <= n / 2; ++d) cases.emplace_back(n, d);
  for (int d : {1, 2, 4, 8, 16, 30, 64, 128}) cases.emplace_back(256, d);
  for (int d : {1, 4, 57, 58, 59, 2048}) cases.emplace_back(4096, d);
  for (auto [n, d] : cases) {
    SCOPED_TRACE("n " + std::to_string(n) + ", d " + std::to_string(d));
    ASSERT_EQ(lumbra::shapeRefusal(n, d), "");
    const Shaper s(n, d);
    ASSERT_EQ(s.bits(), countedBits(n, d));
    // The narrower band holds as many words, one narrower does not.
    ASSERT_LE(s.depth(), d);
    ASSERT_EQ(countedBits(n, s.depth()), s.bits());
    if (s.depth() > 1) {
      ASSERT_LT(countedBits(n, s.depth() - 1), s.bits());
    }
  }
  EXPECT_GE(Shaper(256, 4).bits() / 256.0 / lumbra::shapeCapacity(4), 0.99);
  EXPECT_EQ(lumbra::shapeRefusal(256, 0),
            "D = 0 is too small: a word of 256 bits carries no data; the smallest D that works is 1");
}

// Random data of every length 0 .. 4096 bytes, n running over 2, 4, .., 64
// with several d and all three alphabets, read in pieces of every size:
// every word of every stream is checked by a walk of its own, the number of
// words is that of the layout, and unshape gives the data back.
TEST(Shaper, RoundTripsKeepEveryWordInTheBand) {
  std::mt19937_64 rng(23);
  const Alphabet alphabets[] = {Alphabet::bits, Alphabet::text, Alphabet::dna};
  for (std::size_t len = 0; len <= 4096; ++len) {
    const int n = 2 * static_cast<int>(1 + len % 32);
    const int d = 1 + static_cast<int>(rng() % static_cast<unsigned>(std::min(n / 2, 9)));
    const Alphabet a = alphabets[len / 32 % 3];
    SCOPED_TRACE("len " + std::to_string(len) + ", n " + std::to_string(n) + ", d " + std::to_string(d) +
                 ", alphabet " + std::to_string(static_cast<int>(a)));
    const Shaper s(n, d);
    const Bytes data = randomBytes(rng, len);
    const Bytes stream = shape(s, a, data, 1 + rng() % 5000);
    const int payload = countedBits(n, d) + (a == Alphabet::dna ? n : 0);
    const auto p = static_cast<std::uint64_t>(payload);
    const auto pieces = [&](std::uint64_t bits) { return (bits + p - 1) / p; };
    const std::size_t count = pieces(64) + pieces(8 * len) + pieces(32);
    const std::vector<Word> words = cutWords(stream, n, a, count);
    checkWords(words, n, d, a);
    ASSERT_EQ(words.size(), count);
    ASSERT_EQ(unshape(s, a, stream, 1 + rng() % 5000), data);
  }
}

// Larger files at the sizes a user picks.
TEST(Shaper, LargeFilesRoundTrip) {
  std::mt19937_64 rng(5);
  for (auto [n, d, a] : {std::tuple{256, 4, Alphabet::bits},
                         {1024, 8, Alphabet::text},
                         {128, 3, Alphabet::dna},
                         {4096, 2048, Alphabet::bits}}) {
    const Shaper s(n, d);
    // NOTE: the widest counts (n = 4096) take the slow general steps.
    const Bytes data = randomBytes(rng, (n == 4096 ? 20000 : 100000) + rng() % 1000);
    const Bytes stream = shape(s, a, data, SIZE_MAX);
    const auto count = lumbra::streamWords(s, a, data.size()).total();
    checkWords(cutWords(stream, n, a, count), n, d, a);
    ASSERT_EQ(unshape(s, a, stream), data);
  }
}

// One flipped bit anywhere in a bits stream is refused, naming the word
// that holds it (the bits after the last word count as the next word).
TEST(Shaper, FlippedBitNamesItsWord) {
  std::mt19937_64 rng(7);
  for (int round = 0; round < 400; ++round) {
    const int n = 2 * static_cast<int>(1 + rng() % 40);
    const int d = 1 + static_cast<int>(rng() % static_cast<unsigned>(n / 2));
    const Shaper s(n, d);
    Bytes stream = shape(s, Alphabet::bits, randomBytes(rng, rng() % 200), SIZE_MAX);
    const std::size_t bit = rng() % (8 * stream.size());
    stream[bit / 8] ^= static_cast<unsigned char>(0x80 >> (bit % 8));
    const std::string want = "word " + std::to_string(bit / static_cast<std::size_t>(n)) + ": ";
    const std::string got = unshapeError(s, Alphabet::bits, stream);
    ASSERT_EQ(got.substr(0, want.size()), want) << "n " << n << ", d " << d << ": " << got;
  }
}
