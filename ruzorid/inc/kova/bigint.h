// BigInt: the library's interface to signed arbitrary-precision integers.
//
// A number lives in a mem_pool, its digits included, and is reached through
// sh_ptr<BigInt>; the last sh_ptr releases it with destroy(pool). Numbers are
// made by the factories of the implementation (new_big_int in
// common/bigintgmp.h); every BigInt passed to an operation must come from the
// same implementation. A number lives until its last sh_ptr goes, and the
// pool must outlive it.
//
// Operations that may allocate (the mutators, to_text, append_text, to_bits,
// from_bits) throw std::bad_alloc when the pool is exhausted; those declared
// noexcept never allocate. Division by zero is a contract violation that ends
// the process.
#pragma once

#include <cstdint>
#include <vector>

#include "kova/destroy.h"
#include "kova/mem_pool.h"
#include "kova/sh_ptr.h"

namespace kova {

class BigInt : public virtual destroyable {
 public:
  // The mutators change this number and return it, so calls can be chained.
  virtual BigInt& assign(const BigInt& x) = 0;
  virtual BigInt& add(const BigInt& x) = 0;
  virtual BigInt& sub(const BigInt& x) = 0;
  virtual BigInt& mul(const BigInt& x) = 0;
  // Quotient truncated toward zero.
  virtual BigInt& div(const BigInt& x) = 0;
  // Remainder with the sign of the dividend.
  virtual BigInt& mod(const BigInt& x) = 0;
  // This number becomes the truncated quotient, r the remainder; r must be
  // another number than this one.
  virtual void div_mod(const BigInt& d, BigInt& r) = 0;

  // Comparisons of the signed values.
  virtual bool eq(const BigInt& x) const noexcept = 0;
  virtual bool ne(const BigInt& x) const noexcept = 0;
  virtual bool le(const BigInt& x) const noexcept = 0;
  virtual bool ge(const BigInt& x) const noexcept = 0;
  virtual bool lt(const BigInt& x) const noexcept = 0;
  virtual bool gt(const BigInt& x) const noexcept = 0;

  // The low 32 bits of the magnitude; the sign is ignored.
  virtual std::uint32_t to_unsigned() const noexcept = 0;
  // Decimal digits with a leading '-' for a negative value; "0" for zero.
  virtual sh_ptr<mp_string> to_text(mem_pool& pool) const = 0;
  // Bits of the magnitude; 0 for zero.
  virtual int bit_size() const noexcept = 0;
  // Bit n (n >= 0) in two's complement, so a negative value has infinitely
  // many leading ones.
  virtual bool test_bit(int n) const noexcept = 0;
  // Replaces `bits` with the bit_size() bits of the value, most significant
  // first; empty for zero.
  virtual void to_bits(std::vector<bool>& bits) const = 0;
  // The non-negative value whose bits, most significant first, are `bits`;
  // leading zeros are allowed.
  virtual void from_bits(const std::vector<bool>& bits) = 0;

  // Two shortcuts for the hot loops of the triangle and its table; each does
  // in one step what the operations above do in several.
  // This number becomes a + b (either may be this number itself).
  virtual BigInt& set_sum(const BigInt& a, const BigInt& b) = 0;
  // Appends the text that to_text gives to the end of `s`.
  virtual void append_text(mp_string& s) const = 0;

 protected:
  BigInt() = default;
  ~BigInt() override = default;
};

}  // namespace kova
