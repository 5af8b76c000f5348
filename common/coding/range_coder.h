// range_coder: an integer range coder over value ranges, the adaptive
// frequency model that feeds it, and uniform values below totals of any size.
//
// RangeEncoder narrows a 32-bit range by each symbol's share [cum, cum +
// freq) of a total (at most 2^16) and appends the settled bytes to its own
// buffer, which the caller drains with take(); finish() settles the rest.
// RangeDecoder pulls bytes from a ByteSource and gives the symbols back; it
// reads exactly the bytes the encoder wrote, so a stream ends where the
// decoder stops. A value below a total of any size (a GMP integer) is coded
// as its top 16 bits below the top of the total, then its other bits 16 at a
// time, each as a uniform digit: the cost is within 2^-15 of log2(total) bits
// plus the coder's loss of at most 2^-8 of a bit per digit.
//
// Both coders own their state and buffers; the decoder does not own its
// source, which must outlive it. Functions that are not noexcept may throw
// std::bad_alloc; the decoder throws CorruptStream for bytes no encoder
// writes (a value outside its total, or the end of the source mid-stream).
#pragma once

#include <gmp.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "triangle/bitstm.h"

namespace lumbra {

class CorruptStream : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The largest total of a symbol.
inline constexpr std::uint32_t range_max_total = 1u << 16;

// A GMP integer for a coder's intermediate values, owned by the coder.
// How a uniform value below a total is coded: its bits from `shift` up as
// one digit below topTotal (the top 16 bits of total - 1, plus one), then
// the `shift` bits below them in digits of 16 bits, the first one shorter.
// A total of 1 codes nothing (topTotal 1, shift 0).
struct UniformSplit {
  std::size_t shift = 0;
  std::uint32_t topTotal = 1;
  // What coding a value costs, in bits.
  double bits() const { return std::log2(static_cast<double>(topTotal)) + static_cast<double>(shift); }
};
// The split of total >= 1.
UniformSplit uniformSplit(mpz_srcptr total);

class RangeEncoder {
 public:

  // Codes the share [cum, cum + freq) of total. Requires 0 < freq,
  // cum + freq <= total <= range_max_total.
  void encode(std::uint32_t cum, std::uint32_t freq, std::uint32_t total);
  // Codes `bits` (0..16) bits of value as one uniform digit.
  void encodeBits(std::uint32_t value, int bits);
  // Codes 0 <= value < total uniformly; nothing when total is 1.
  void encodeUniform(mpz_srcptr value, mpz_srcptr total) { encodeUniform(value, uniformSplit(total)); }
  // The same with the total's split, worked out once for many values.
  void encodeUniform(mpz_srcptr value, const UniformSplit& split);
  // Settles every byte; the encoder takes no symbol after it.
  void finish();
  // The bytes settled since the last take(), handed over to `out`.
  void take(std::vector<unsigned char>& out);
  // Every byte produced so far, including those already taken.
  std::uint64_t bytesOut() const { return produced_; }

 private:
  void shiftLow();
  void normalize() {
    while (range_ < (1u << 24)) {
      range_ <<= 8;
      shiftLow();
    }
  }

  std::uint64_t low_ = 0;       // 33 bits: the carry sits in bit 32
  std::uint32_t range_ = 0xFFFFFFFFu;
  // The last byte below the carry, held back with `pending_` 0xFF bytes
  // behind it until a carry can no longer change them.
  unsigned char cache_ = 0;
  std::uint64_t pending_ = 1;
  std::uint64_t produced_ = 0;
  std::vector<unsigned char> out_;
};

class RangeDecoder {
 public:
  // Reads the first five bytes of the stream (CorruptStream when short).
  explicit RangeDecoder(ByteSource& src);

  // The value of the next symbol of `total`: its share is the one that holds
  // it. Follow with consume(). CorruptStream when it is not below total.
  std::uint32_t peek(std::uint32_t total);
  void consume(std::uint32_t cum, std::uint32_t freq);
  std::uint32_t decodeBits(int bits);
  // A uniform value below total into value; CorruptStream when the stream
  // holds one that is not below total.
  void decodeUniform(mpz_ptr value, mpz_srcptr total) { decodeUniform(value, total, uniformSplit(total)); }
  // The same with the total's split, worked out once for many values.
  void decodeUniform(mpz_ptr value, mpz_srcptr total, const UniformSplit& split);
  // True when the source has no byte after the stream.
  bool atEnd();
  // After the last symbol: true when the stream's last bytes are the ones
  // the encoder's finish() writes (it writes the low end of the range
  // exactly, so nothing is left over).
  bool endsCleanly() const { return code_ == 0; }
  // The bytes of the stream taken so far, the five first ones included.
  std::uint64_t consumed() const { return consumed_; }

 private:
  unsigned char next();

  ByteSource& src_;
  std::uint32_t code_ = 0;
  std::uint32_t range_ = 0xFFFFFFFFu;
  std::uint32_t step_ = 0;  // range_ / total of the symbol being decoded
  std::vector<unsigned char> buf_;
  std::size_t pos_ = 0, end_ = 0;
  std::uint64_t consumed_ = 0;
  std::vector<mp_limb_t> limbs_;
};

// An adaptive model of the symbols 0..size-1: every symbol starts with one
// count, a coded symbol gains `step`, and all counts are halved (rounding
// up, so none reaches 0) before the total would pass range_max_total.
class FrequencyModel {
 public:
  // Requires 1 <= size <= range_max_total / 4.
  explicit FrequencyModel(std::uint32_t size);
  std::uint32_t size() const { return size_; }
  std::uint32_t total() const { return total_; }
  std::uint32_t freq(std::uint32_t s) const { return counts_[s]; }
  // The counts of the symbols below s.
  std::uint32_t cum(std::uint32_t s) const;
  // The symbol whose share [cum, cum + freq) holds v < total().
  std::uint32_t find(std::uint32_t v) const;
  void update(std::uint32_t s);

  void encode(RangeEncoder& enc, std::uint32_t s) {
    enc.encode(cum(s), freq(s), total_);
    update(s);
  }
  std::uint32_t decode(RangeDecoder& dec) {
    const std::uint32_t s = find(dec.peek(total_));
    dec.consume(cum(s), freq(s));
    update(s);
    return s;
  }

 private:
  static constexpr std::uint32_t step = 32;
  void rebuild();

  std::uint32_t size_;
  std::uint32_t total_ = 0;
  std::vector<std::uint32_t> counts_;
  std::vector<std::uint32_t> tree_;  // Fenwick sums of counts_, 1-based
  std::uint32_t top_ = 1;            // the largest power of two <= size_
};

}  // namespace lumbra
