#include "triangle/bigintgmp.h"

#include <gmp.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <stdexcept>

#include "kova/hard_assert.h"
#include "kova/mp_string.h"
#include "kova/shared_text.h"

namespace kova {

namespace {

// The pool behind GMP's memory functions; the only global pool pointer.
mem_pool* gmp_pool = nullptr;

// GMP hands back every block with the size it was allocated with, which is
// what a header-less pool needs. std::bad_alloc thrown here unwinds through
// GMP's frames to the caller. GMP changes an integer's digits and sizes only
// after its reallocation has returned, so a failed operation leaves the
// integer intact (mul needs help, see there); scratch space that GMP takes
// from the pool for operands of tens of kilobytes is not given back when a
// later allocation of the same operation fails.
void* gmp_alloc(std::size_t n) { return gmp_pool->alloc(n); }

// NOTE: always moves, even within one size class: the new block is taken
// before anything changes, so a failure leaves the old digits in place.
void* gmp_realloc(void* p, std::size_t old_size, std::size_t new_size) {
  void* q = gmp_pool->alloc(new_size);
  std::memcpy(q, p, std::min(old_size, new_size));
  gmp_pool->free(p, old_size);
  return q;
}

void gmp_free(void* p, std::size_t n) { gmp_pool->free(p, n); }

struct reserve_tag {};

class GmpInt final : public BigInt {
 public:
  explicit GmpInt(int value) { mpz_init_set_si(v_, value); }
  // An independent copy of x.
  explicit GmpInt(const BigInt& x) { mpz_init_set(v_, of(x)); }
  // The value 0 with digits for `bits` bits already taken.
  // NOTE: one limb more than the bits need: mpz_add makes room for a carry
  // limb above its larger operand before it adds, whether or not a carry
  // comes, so without it a sum of two operands of full size would move.
  GmpInt(reserve_tag, std::size_t bits) { mpz_init2(v_, static_cast<mp_bitcnt_t>(bits + GMP_NUMB_BITS)); }
  ~GmpInt() override { mpz_clear(v_); }
  GmpInt(const GmpInt&) = delete;
  GmpInt& operator=(const GmpInt&) = delete;

  void destroy(mem_pool& pool) noexcept override { destroy_as(this, pool); }

  BigInt& assign(const BigInt& x) override {
    mpz_set(v_, of(x));
    return *this;
  }
  BigInt& add(const BigInt& x) override {
    mpz_add(v_, v_, of(x));
    return *this;
  }
  BigInt& sub(const BigInt& x) override {
    mpz_sub(v_, v_, of(x));
    return *this;
  }
  BigInt& mul(const BigInt& x) override {
    // mpz_mul, when its destination must grow, records the new size before
    // it takes the new digits; a failed allocation would leave the integer
    // claiming a size its block does not have, and the pool would later get
    // that block back with the wrong size. Growing it first through
    // reallocation, which changes nothing until it has succeeded, keeps
    // mpz_mul off that path.
    std::size_t need = mpz_size(v_) + mpz_size(of(x));
    if (need > static_cast<std::size_t>(v_->_mp_alloc)) mpz_realloc2(v_, need * GMP_NUMB_BITS);
    mpz_mul(v_, v_, of(x));
    return *this;
  }
  BigInt& div(const BigInt& x) override {
    mpz_tdiv_q(v_, v_, of(x));
    return *this;
  }
  BigInt& mod(const BigInt& x) override {
    mpz_tdiv_r(v_, v_, of(x));
    return *this;
  }
  void div_mod(const BigInt& d, BigInt& r) override {
    // GMP's result is unpredictable when quotient and remainder share one
    // integer, so this is a contract check rather than a wrong answer.
    hard_assert(&r != this, "&r!=this");
    mpz_tdiv_qr(v_, of(r), v_, of(d));
  }

  bool eq(const BigInt& x) const noexcept override { return mpz_cmp(v_, of(x)) == 0; }
  bool ne(const BigInt& x) const noexcept override { return mpz_cmp(v_, of(x)) != 0; }
  bool le(const BigInt& x) const noexcept override { return mpz_cmp(v_, of(x)) <= 0; }
  bool ge(const BigInt& x) const noexcept override { return mpz_cmp(v_, of(x)) >= 0; }
  bool lt(const BigInt& x) const noexcept override { return mpz_cmp(v_, of(x)) < 0; }
  bool gt(const BigInt& x) const noexcept override { return mpz_cmp(v_, of(x)) > 0; }

  std::uint32_t to_unsigned() const noexcept override {
    return static_cast<std::uint32_t>(mpz_get_ui(v_));
  }

  sh_ptr<mp_string> to_text(mem_pool& pool) const override {
    mp_string scratch(pool, ch_range());
    append_text(scratch);
    return new_str(pool, scratch.range());
  }

  int bit_size() const noexcept override {
    return mpz_sgn(v_) == 0 ? 0 : static_cast<int>(mpz_sizeinbase(v_, 2));
  }

  // The line that the check of test_bit reports; part of the output.
  static constexpr int test_bit_check = 169;

  bool test_bit(int n) const noexcept override {
    hard_assert_at(n >= 0, "n>=0", test_bit_check);
    return mpz_tstbit(v_, static_cast<mp_bitcnt_t>(n)) != 0;
  }

  void to_bits(std::vector<bool>& bits) const override {
    bits.clear();
    int m = bit_size();
    if (m == 0) return;
    bits.reserve(static_cast<std::size_t>(m));
    for (int i = m - 1; i >= 0; --i) bits.push_back(mpz_tstbit(v_, static_cast<mp_bitcnt_t>(i)) != 0);
  }

  void from_bits(const std::vector<bool>& bits) override {
    mpz_set_si(v_, 0);
    // The first bit set is the highest, so the digits grow to full size once.
    std::size_t m = bits.size();
    for (std::size_t i = 0; i < m; ++i)
      if (bits[i]) mpz_setbit(v_, static_cast<mp_bitcnt_t>(m - 1 - i));
  }

  BigInt& set_sum(const BigInt& a, const BigInt& b) override {
    mpz_add(v_, of(a), of(b));
    return *this;
  }

  void append_text(mp_string& s) const override {
    // Room for a minus sign and the terminating zero. GMP's estimate may be
    // one digit too large: the text ends at the first zero.
    std::size_t n = mpz_sizeinbase(v_, 10) + 2;
    const int at = s.size();
    if (n > static_cast<std::size_t>(INT_MAX - 1 - at)) throw std::length_error("BigInt::append_text");
    s.reserve(at + static_cast<int>(n));
    char* p = s.data() + at;
    mpz_get_str(p, 10, v_);
    s.resize(at + static_cast<int>(std::strlen(p)));
  }

 private:
  // Every BigInt is a GmpInt: this is the only implementation.
  static const __mpz_struct* of(const BigInt& x) { return static_cast<const GmpInt&>(x).v_; }
  static __mpz_struct* of(BigInt& x) { return static_cast<GmpInt&>(x).v_; }

  mpz_t v_;
};

sh_ptr<BigInt> adopt(mem_pool& pool, GmpInt* x) { return sh_ptr<BigInt>::adopt(pool, x); }

}  // namespace

sh_ptr<BigInt> new_big_int(mem_pool& pool, int value) {
  return adopt(pool, pool_new<GmpInt>(pool, value));
}

sh_ptr<BigInt> new_big_int(mem_pool& pool, const BigInt& x) {
  return adopt(pool, pool_new<GmpInt>(pool, x));
}

sh_ptr<BigInt> new_big_int_reserved(mem_pool& pool, std::size_t bits) {
  return adopt(pool, pool_new<GmpInt>(pool, reserve_tag{}, bits));
}

gmp_pool_guard::gmp_pool_guard(mem_pool& pool) noexcept : previousPool_(gmp_pool) {
  mp_get_memory_functions(&previousAlloc_, &previousRealloc_, &previousFree_);
  gmp_pool = &pool;
  mp_set_memory_functions(gmp_alloc, gmp_realloc, gmp_free);
}

gmp_pool_guard::~gmp_pool_guard() {
  mp_set_memory_functions(previousAlloc_, previousRealloc_, previousFree_);
  gmp_pool = previousPool_;
}

const char* cpu_name() { return "core2"; }

}  // namespace kova
