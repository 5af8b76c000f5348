#include "kova/bigint.h"

#include <fcntl.h>
#include <gmp.h>
#include <unistd.h>
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "triangle/bigintgmp.h"
#include "recording_probe.h"
#include "run.h"

using kova::BigInt;
using kova::mem_pool;
using kova::sh_ptr;
using lumbra_test::recording_probe;

namespace {

// A plain GMP integer for reference results. It allocates through the same
// memory functions, so it must go before the test's pool does.
struct ref_int {
  mpz_t v;
  ref_int() { mpz_init(v); }
  ~ref_int() { mpz_clear(v); }
  ref_int(const ref_int&) = delete;
  ref_int& operator=(const ref_int&) = delete;
};

std::string mpz_text(const mpz_t z) {
  std::string s(mpz_sizeinbase(z, 10) + 2, '\0');
  mpz_get_str(s.data(), 10, z);
  s.resize(std::strlen(s.c_str()));
  return s;
}

class BigIntTest : public lumbra_test::pool_test {
 protected:
  sh_ptr<BigInt> num(int v) { return kova::new_big_int(pool, v); }
  sh_ptr<BigInt> copy(const BigInt& x) { return kova::new_big_int(pool, x); }
  // 2 to the power e.
  sh_ptr<BigInt> pow2(int e) {
    std::vector<bool> bits(e + 1, false);
    bits[0] = true;
    sh_ptr<BigInt> x = num(0);
    x->from_bits(bits);
    return x;
  }
  sh_ptr<BigInt> plus(const sh_ptr<BigInt>& x, int v) {
    x->add(*num(v));
    return x;
  }
  // The same value as z, built through the interface.
  sh_ptr<BigInt> from_mpz(const mpz_t z) {
    ref_int abs;  // tstbit of a negative value would read its two's complement
    mpz_abs(abs.v, z);
    std::vector<bool> bits;
    if (mpz_sgn(z) != 0) {
      std::size_t m = mpz_sizeinbase(z, 2);
      for (std::size_t i = 0; i < m; ++i) bits.push_back(mpz_tstbit(abs.v, m - 1 - i));
    }
    sh_ptr<BigInt> mag = num(0);
    mag->from_bits(bits);
    if (mpz_sgn(z) >= 0) return mag;
    sh_ptr<BigInt> neg = num(0);
    neg->sub(*mag);
    return neg;
  }
  std::string text(const BigInt& x) {
    sh_ptr<kova::mp_string> s = x.to_text(pool);
    return std::string(s->data(), s->size());
  }

  kova::gmp_pool_guard gmp{pool};
};

// Numbers made from ints and a few edges of the text; the random test below
// covers every length against GMP.
TEST_F(BigIntTest, KnownValues) {
  struct row {
    sh_ptr<BigInt> x;
    const char* text;
    int bit_size;
    std::uint32_t low32;
  } rows[] = {
      {num(0), "0", 0, 0},
      {num(-5), "-5", 3, 5},
      // GMP's length estimates for 99 and 999 are one too large: neither the
      // text nor the appended text may carry the spare byte.
      {num(99), "99", 7, 99},
      {num(999), "999", 10, 999},
      {num(INT_MIN), "-2147483648", 32, 2147483648u},
      {plus(pow2(32), 5), "4294967301", 33, 5},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.text);
    EXPECT_EQ(text(*r.x), r.text);
    EXPECT_EQ(r.x->bit_size(), r.bit_size);
    EXPECT_EQ(r.x->to_unsigned(), r.low32);
    kova::mp_string s(pool, "x:");
    r.x->append_text(s);
    EXPECT_EQ(std::string(s.data(), s.size()), std::string("x:") + r.text);
  }
}

// Every operation against GMP itself; the copies made for each operation
// also show that a copy does not share digits with its original.
TEST_F(BigIntTest, AgreesWithGmpOnRandomOperands) {
  std::mt19937_64 rng(20261207);
  const int lengths[] = {0, 1, 2, 31, 32, 33, 63, 64, 65, 128, 200, 300};
  auto random_ref = [&](ref_int& z) {
    int len = lengths[rng() % std::size(lengths)];
    if (rng() % 3 == 0) len = static_cast<int>(rng() % 401);
    mpz_set_ui(z.v, 0);
    for (int i = 0; i < len; ++i)
      if (i == len - 1 || rng() % 2) mpz_setbit(z.v, i);
    if (rng() % 2) mpz_neg(z.v, z.v);
  };
  for (int round = 0; round < 400; ++round) {
    ref_int ra, rb, want, rem;
    random_ref(ra);
    random_ref(rb);
    SCOPED_TRACE(mpz_text(ra.v) + " op " + mpz_text(rb.v));
    sh_ptr<BigInt> a = from_mpz(ra.v), b = from_mpz(rb.v);
    ASSERT_EQ(text(*a), mpz_text(ra.v));
    kova::mp_string s(pool, "x:");
    a->append_text(s);
    EXPECT_EQ(std::string(s.data(), s.size()), "x:" + mpz_text(ra.v));

    int cmp = mpz_cmp(ra.v, rb.v);
    EXPECT_EQ(a->eq(*b), cmp == 0);
    EXPECT_EQ(a->ne(*b), cmp != 0);
    EXPECT_EQ(a->le(*b), cmp <= 0);
    EXPECT_EQ(a->ge(*b), cmp >= 0);
    EXPECT_EQ(a->lt(*b), cmp < 0);
    EXPECT_EQ(a->gt(*b), cmp > 0);
    EXPECT_EQ(a->bit_size(), mpz_sgn(ra.v) ? static_cast<int>(mpz_sizeinbase(ra.v, 2)) : 0);
    EXPECT_EQ(a->to_unsigned(), static_cast<std::uint32_t>(mpz_getlimbn(ra.v, 0)));
    for (int n : {0, 1, 2, 3, 31, 32, 64, 299, 500})
      EXPECT_EQ(a->test_bit(n), mpz_tstbit(ra.v, static_cast<mp_bitcnt_t>(n)) != 0) << "bit " << n;

    // Bits of the magnitude, most significant first, read back with leading zeros.
    sh_ptr<BigInt> mag = copy(*a);
    if (mpz_sgn(ra.v) < 0) mag->mul(*num(-1));
    std::vector<bool> bits(rng() % 3, true);  // replaced, not appended to
    mag->to_bits(bits);
    EXPECT_EQ(bits.size(), static_cast<std::size_t>(a->bit_size()));
    bits.insert(bits.begin(), rng() % 3, false);
    sh_ptr<BigInt> back = num(-99);
    back->from_bits(bits);
    EXPECT_TRUE(back->eq(*mag));

    mpz_add(want.v, ra.v, rb.v);
    EXPECT_EQ(text(copy(*a)->add(*b)), mpz_text(want.v));
    EXPECT_EQ(text(num(99)->set_sum(*a, *b)), mpz_text(want.v));
    EXPECT_EQ(text(kova::new_big_int_reserved(pool, 500)->set_sum(*a, *b)), mpz_text(want.v));
    sh_ptr<BigInt> self = copy(*a);
    EXPECT_EQ(text(self->set_sum(*self, *b)), mpz_text(want.v));
    self = copy(*b);
    EXPECT_EQ(text(self->set_sum(*a, *self)), mpz_text(want.v));
    mpz_add(want.v, ra.v, ra.v);
    self = copy(*a);
    EXPECT_EQ(text(self->set_sum(*self, *self)), mpz_text(want.v));
    mpz_sub(want.v, ra.v, rb.v);
    EXPECT_EQ(text(copy(*a)->sub(*b)), mpz_text(want.v));
    mpz_mul(want.v, ra.v, rb.v);
    EXPECT_EQ(text(copy(*a)->mul(*b)), mpz_text(want.v));
    EXPECT_EQ(text(num(7)->assign(*a)), mpz_text(ra.v));
    if (mpz_sgn(rb.v) == 0) continue;
    // Division truncates toward zero, as GMP's tdiv does.
    mpz_tdiv_qr(want.v, rem.v, ra.v, rb.v);
    EXPECT_EQ(text(copy(*a)->div(*b)), mpz_text(want.v));
    EXPECT_EQ(text(copy(*a)->mod(*b)), mpz_text(rem.v));
    sh_ptr<BigInt> q = copy(*a), r = num(0);
    q->div_mod(*b, *r);
    EXPECT_EQ(text(*q), mpz_text(want.v));
    EXPECT_EQ(text(*r), mpz_text(rem.v));
  }
}

TEST_F(BigIntTest, ReservedNumbersTakeSumsOfTheirSizeWithoutMoving) {
  for (int bits : {1, 63, 64, 65, 1000, 5000}) {
    SCOPED_TRACE(bits);
    sh_ptr<BigInt> x = kova::new_big_int_reserved(pool, static_cast<std::size_t>(bits));
    EXPECT_EQ(text(*x), "0");
    EXPECT_EQ(x->bit_size(), 0);
    // The largest number of `bits` bits, summed with itself and assigned.
    sh_ptr<BigInt> top = pow2(bits);
    top->sub(*num(1));
    const long before = probe.allocs();
    x->set_sum(*top, *top);
    x->assign(*top);
    x->add(*top);
    x->assign(*top);
    x->set_sum(*x, *top);
    EXPECT_EQ(probe.allocs(), before);
    EXPECT_EQ(x->bit_size(), bits + 1);
  }
}

TEST_F(BigIntTest, GmpMemoryComesFromThePoolAndGoesBackWithItsSize) {
  {
    sh_ptr<BigInt> five = num(5);
    EXPECT_EQ(probe.live_blocks(), 3u);  // the number, its digits, the control block
    // Operands of this size make GMP take scratch space besides the digits.
    sh_ptr<BigInt> big = pow2(200000);
    big->sub(*five).mul(*big).div(*five);
    EXPECT_EQ(big->bit_size(), 399998);
  }
  EXPECT_EQ(probe.live_blocks(), 0u);  // the probe checked every size on the way

  void* (*alloc)(std::size_t);
  void* (*realloc)(void*, std::size_t, std::size_t);
  void (*free)(void*, std::size_t);
  mp_get_memory_functions(&alloc, &realloc, &free);
  char* p = static_cast<char*>(alloc(16));
  std::memcpy(p, "fifteen letters", 16);
  char* q = static_cast<char*>(realloc(p, 16, 12));  // same size class: moves all the same
  EXPECT_NE(q, p);
  EXPECT_EQ(std::string(q, 12), "fifteen lett");
  EXPECT_EQ(probe.live_blocks(), 1u);  // p went back with 16 bytes
  free(q, 12);
}

TEST_F(BigIntTest, ExhaustionInsideGmpLeavesTheNumberAsItWas) {
  using op = BigInt& (BigInt::*)(const BigInt&);
  struct row {
    const char* name;
    op f;
    bool self;  // the operand is the number itself
  } rows[] = {{"add", &BigInt::add, false}, {"sub", &BigInt::sub, false}, {"mul", &BigInt::mul, false},
              {"mul self", &BigInt::mul, true}, {"div", &BigInt::div, false}, {"mod", &BigInt::mod, false},
              {"assign", &BigInt::assign, false}};
  sh_ptr<BigInt> small = pow2(130), big = pow2(400);
  small->sub(*num(77));
  big->sub(*num(99));
  for (const row& r : rows) {
    for (const auto& [x, y] : {std::pair{small, big}, std::pair{big, small}}) {
      std::string before = text(*x), after = text((copy(*x).get()->*r.f)(r.self ? *x : *y));
      for (int i = 0;; ++i) {
        SCOPED_TRACE(std::string(r.name) + " " + before + ", failing allocation #" + std::to_string(i));
        sh_ptr<BigInt> a = copy(*x);
        const BigInt& b = r.self ? *a : *y;
        probe.fail_after(i);
        try {
          (a.get()->*r.f)(b);
        } catch (const std::bad_alloc&) {
          EXPECT_EQ(text(*a), before);
          continue;
        }
        probe.fail_after(-1);
        EXPECT_EQ(text(*a), after);
        break;
      }
    }
  }
}

TEST(BigIntFailure, FactoriesAndTextLoseNothingOnAnyFailure) {
  lumbra_test::expect_no_leak_on_any_failure([](mem_pool& pool) {
    kova::gmp_pool_guard gmp(pool);
    sh_ptr<BigInt> a = kova::new_big_int(pool, 123456789);
    sh_ptr<BigInt> b = kova::new_big_int(pool, *a);
    b->mul(*a).mul(*a).add(*a);
    std::vector<bool> bits;
    b->to_bits(bits);
    a->from_bits(bits);
    sh_ptr<kova::mp_string> t = b->to_text(pool);
    b->append_text(*t);
    sh_ptr<BigInt> c = kova::new_big_int_reserved(pool, 100);
    c->set_sum(*b, *b);
  });
}

using BigIntDeathTest = BigIntTest;

TEST_F(BigIntDeathTest, ContractViolationsStop) {
  sh_ptr<BigInt> x = num(-7), two = num(2);
  EXPECT_DEATH(x->test_bit(-1), "Hard assertion failed: n>=0, file common/triangle/bigintgmp.cpp, line 169\n");
  EXPECT_DEATH(x->div_mod(*two, *x),
               "Hard assertion failed: &r!=this, file common/triangle/bigintgmp.cpp, line [0-9]+\n");
}

// A guard gives GMP back what it found, also when guards nest and when a
// whole run ends: afterwards GMP allocates from the heap again.
TEST(GmpPoolGuard, RestoresWhatItFound) {
  struct functions {
    void* (*a)(std::size_t);
    void* (*r)(void*, std::size_t, std::size_t);
    void (*f)(void*, std::size_t);
    bool operator==(const functions&) const = default;
  };
  auto current = [] {
    functions fs{};
    mp_get_memory_functions(&fs.a, &fs.r, &fs.f);
    return fs;
  };
  const functions before = current();
  {
    mem_pool outer(16384, 1024), inner(16384, 1024);
    recording_probe outer_probe(outer);
    kova::gmp_pool_guard g(outer);
    const functions pooled = current();
    {
      kova::gmp_pool_guard h(inner);
      kova::new_big_int(inner, 1)->from_bits(std::vector<bool>(200, true));
    }
    EXPECT_EQ(current(), pooled);
    sh_ptr<BigInt> x = kova::new_big_int(outer, 1);
    x->from_bits(std::vector<bool>(200, true));  // its digits come from `outer`
    EXPECT_GT(outer_probe.live_blocks(), 2u);
  }
  EXPECT_EQ(current(), before);

  char a0[] = "lumbra", a1[] = "showC", a2[] = "300", a3[] = "150", a4[] = "20";
  char* argv[] = {a0, a1, a2, a3, a4};
  const int null_fd = ::open("/dev/null", O_WRONLY);
  ASSERT_GE(null_fd, 0);
  EXPECT_EQ(lumbra::run(5, argv, null_fd, null_fd), 0);
  ::close(null_fd);
  EXPECT_EQ(current(), before);
  mpz_t z;
  mpz_init_set_ui(z, 1);
  mpz_mul_2exp(z, z, 1000);  // from the heap: the run's pool is gone
  EXPECT_EQ(mpz_sizeinbase(z, 2), 1001u);
  mpz_clear(z);
}

}  // namespace
