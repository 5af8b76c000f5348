#include "count/mpz.h"
#include "coding/range_coder.h"

#include <gmp.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <deque>
#include <random>
#include <vector>

#include "memory_bytes.h"

namespace {

using lumbra::Mpz;

// Short random sequences of symbols of an adaptive model and uniform values
// below totals of up to 300 bits. The decoder gives every one back and stops
// at the stream's last byte, and the stream is no longer than the ideal,
// computed exactly as log2 of the product of total/freq over all symbols,
// plus 2^-8 bit per digit and the 6 bytes of the start and the end.
TEST(RangeCoder, RoundTripsWithinTheExactIdeal) {
  std::mt19937_64 rng(7);
  gmp_randstate_t state;
  gmp_randinit_default(state);
  gmp_randseed_ui(state, 7);
  for (int round = 0; round < 200; ++round) {
    const std::uint32_t size = 1 + static_cast<std::uint32_t>(rng() % 300);
    lumbra::FrequencyModel model(size);
    lumbra::RangeEncoder enc;
    Mpz num, den, v;
    mpz_set_ui(num.get(), 1);
    mpz_set_ui(den.get(), 1);
    std::vector<std::uint32_t> symbols;
    std::deque<Mpz> totals, vals;
    unsigned digits = 0;
    const int count = static_cast<int>(rng() % 60);
    for (int i = 0; i < count; ++i) {
      // Skewed symbols, so the model adapts.
      const std::uint32_t s = static_cast<std::uint32_t>(rng() % (1 + rng() % size));
      symbols.push_back(s);
      mpz_mul_ui(num.get(), num.get(), model.total());
      mpz_mul_ui(den.get(), den.get(), model.freq(s));
      model.encode(enc, s);
      ++digits;
      Mpz* t = &totals.emplace_back();
      Mpz* x = &vals.emplace_back();
      mpz_urandomb(t->get(), state, 1 + rng() % 300);
      mpz_add_ui(t->get(), t->get(), 1);
      mpz_urandomm(x->get(), state, t->get());
      enc.encodeUniform(x->get(), t->get());
      mpz_mul(num.get(), num.get(), t->get());
      digits += static_cast<unsigned>(mpz_sizeinbase(t->get(), 2) / 16 + 2);
    }
    enc.finish();
    std::vector<unsigned char> out;
    enc.take(out);
    ASSERT_EQ(out.size(), enc.bytesOut());
    // ideal = log2(num / den); the stream may exceed it by the bound.
    mpz_t q;
    mpz_init(q);
    mpz_cdiv_q(q, num.get(), den.get());
    const double ideal = static_cast<double>(mpz_sizeinbase(q, 2));
    mpz_clear(q);
    EXPECT_LE(8.0 * static_cast<double>(out.size()), ideal + digits / 256.0 + 48.0) << round;

    lumbra_test::memory_source src(out, 3);  // three bytes at a time, as a slow pipe gives them
    lumbra::RangeDecoder dec(src);
    lumbra::FrequencyModel back(size);
    for (std::size_t i = 0; i < symbols.size(); ++i) {
      ASSERT_EQ(back.decode(dec), symbols[i]);
      dec.decodeUniform(v.get(), totals[i].get());
      ASSERT_EQ(mpz_cmp(v.get(), vals[i].get()), 0);
    }
    EXPECT_TRUE(dec.atEnd());
  }
  gmp_randclear(state);
}

// A stream cut short is reported, not read past its end.
TEST(RangeCoder, TruncatedStreamIsReported) {
  lumbra::RangeEncoder enc;
  for (std::uint32_t i = 0; i < 100; ++i) enc.encodeBits(i & 0xFFFF, 16);
  enc.finish();
  std::vector<unsigned char> out;
  enc.take(out);
  out.resize(out.size() - 3);
  lumbra_test::memory_source src(out, 3);
  lumbra::RangeDecoder dec(src);
  EXPECT_THROW(
      for (std::uint32_t i = 0; i < 100; ++i) dec.decodeBits(16), lumbra::CorruptStream);
}

}  // namespace
