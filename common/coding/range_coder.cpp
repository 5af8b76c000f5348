#include "coding/range_coder.h"

#include <algorithm>

#include "kova/hard_assert.h"
#include "count/mpz.h"

namespace lumbra {

static_assert(GMP_NUMB_BITS == 64, "the digit extraction reads 64-bit limbs");

namespace {

// Bits pos..pos+count-1 of z >= 0 (count <= 32) as a number.
std::uint32_t bitsAt(mpz_srcptr z, std::size_t pos, int count) {
  const std::size_t li = pos / 64;
  const unsigned sh = static_cast<unsigned>(pos % 64);
  std::uint64_t v = mpz_getlimbn(z, static_cast<mp_size_t>(li)) >> sh;
  if (sh + static_cast<unsigned>(count) > 64) v |= mpz_getlimbn(z, static_cast<mp_size_t>(li + 1)) << (64 - sh);
  return static_cast<std::uint32_t>(v & ((std::uint64_t{1} << count) - 1));
}

}  // namespace

UniformSplit uniformSplit(mpz_srcptr total) {
  hard_assert(mpz_sgn(total) > 0, "mpz_sgn(total)>0");
  if (mpz_cmp_ui(total, 1) == 0) return {};
  Mpz less;
  mpz_sub_ui(less.get(), total, 1);
  const std::size_t bits = mpz_sizeinbase(less.get(), 2);
  const std::size_t shift = bits > 16 ? bits - 16 : 0;
  return {shift, bitsAt(less.get(), shift, 16) + 1};
}

void RangeEncoder::encode(std::uint32_t cum, std::uint32_t freq, std::uint32_t total) {
  const std::uint32_t r = range_ / total;
  low_ += std::uint64_t{cum} * r;
  range_ = freq * r;
  normalize();
}

void RangeEncoder::encodeBits(std::uint32_t value, int bits) {
  const std::uint32_t r = range_ >> bits;
  low_ += std::uint64_t{value} * r;
  range_ = r;
  normalize();
}

void RangeEncoder::encodeUniform(mpz_srcptr value, const UniformSplit& sp) {
  if (sp.topTotal == 1 && sp.shift == 0) return;
  encode(bitsAt(value, sp.shift, 16), 1, sp.topTotal);
  std::size_t rest = sp.shift;
  if (const int first = static_cast<int>(rest % 16)) {
    rest -= static_cast<std::size_t>(first);
    encodeBits(bitsAt(value, rest, first), first);
  }
  while (rest > 0) {
    rest -= 16;
    encodeBits(bitsAt(value, rest, 16), 16);
  }
}

void RangeEncoder::shiftLow() {
  // A byte is settled once no carry can reach it: low below 0xFF000000 (no
  // carry can come) or a carry has come (it goes to the held bytes now).
  if (static_cast<std::uint32_t>(low_) < 0xFF000000u || (low_ >> 32) != 0) {
    const unsigned carry = static_cast<unsigned>(low_ >> 32);
    unsigned char held = cache_;
    do {
      out_.push_back(static_cast<unsigned char>(held + carry));
      ++produced_;
      held = 0xFF;
    } while (--pending_ != 0);
    cache_ = static_cast<unsigned char>(low_ >> 24);
  }
  ++pending_;
  low_ = (low_ & 0x00FFFFFFu) << 8;
}

void RangeEncoder::finish() {
  for (int i = 0; i < 5; ++i) shiftLow();
}

void RangeEncoder::take(std::vector<unsigned char>& out) {
  out.swap(out_);
  out_.clear();
}

RangeDecoder::RangeDecoder(ByteSource& src) : src_(src), buf_(std::size_t{64} * 1024) {
  // The encoder's first byte is the empty byte it holds at the start.
  if (next() != 0) throw CorruptStream("the coded data does not start as coded data does");
  for (int i = 0; i < 4; ++i) code_ = (code_ << 8) | next();
}

unsigned char RangeDecoder::next() {
  if (pos_ == end_) {
    end_ = src_.get(buf_.data(), buf_.size());
    pos_ = 0;
    if (end_ == 0) throw CorruptStream("the stream is truncated");
  }
  ++consumed_;
  return buf_[pos_++];
}

bool RangeDecoder::atEnd() {
  if (pos_ < end_) return false;
  end_ = src_.get(buf_.data(), buf_.size());
  pos_ = 0;
  return end_ == 0;
}

std::uint32_t RangeDecoder::peek(std::uint32_t total) {
  step_ = range_ / total;
  const std::uint32_t v = code_ / step_;
  if (v >= total) throw CorruptStream("the coded data is corrupted");
  return v;
}

void RangeDecoder::consume(std::uint32_t cum, std::uint32_t freq) {
  code_ -= cum * step_;
  range_ = freq * step_;
  while (range_ < (1u << 24)) {
    code_ = (code_ << 8) | next();
    range_ <<= 8;
  }
}

std::uint32_t RangeDecoder::decodeBits(int bits) {
  step_ = range_ >> bits;
  const std::uint32_t v = code_ / step_;
  if (v >> bits) throw CorruptStream("the coded data is corrupted");
  consume(v, 1);
  return v;
}

void RangeDecoder::decodeUniform(mpz_ptr value, mpz_srcptr total, const UniformSplit& sp) {
  if (sp.topTotal == 1 && sp.shift == 0) {
    mpz_set_ui(value, 0);
    return;
  }
  const std::uint32_t top = peek(sp.topTotal);
  consume(top, 1);
  // The value's limbs, least significant first, filled digit by digit.
  limbs_.assign((sp.shift + 16) / 64 + 1, 0);
  auto put = [&](std::size_t pos, std::uint64_t v) {
    limbs_[pos / 64] |= v << (pos % 64);
    if (pos % 64 > 48) limbs_[pos / 64 + 1] |= v >> (64 - pos % 64);
  };
  put(sp.shift, top);
  std::size_t rest = sp.shift;
  if (const int first = static_cast<int>(rest % 16)) {
    rest -= static_cast<std::size_t>(first);
    put(rest, decodeBits(first));
  }
  while (rest > 0) {
    rest -= 16;
    put(rest, decodeBits(16));
  }
  mpz_import(value, limbs_.size(), -1, sizeof(mp_limb_t), 0, 0, limbs_.data());
  if (mpz_cmp(value, total) >= 0) throw CorruptStream("a coded value is not below its total");
}

FrequencyModel::FrequencyModel(std::uint32_t size) : size_(size), counts_(size, 1), tree_(size + 1, 0) {
  hard_assert(size >= 1, "size>=1");
  hard_assert(size <= range_max_total/4, "size<=range_max_total/4");
  while (top_ * 2 <= size_) top_ *= 2;
  rebuild();
}

void FrequencyModel::rebuild() {
  total_ = 0;
  for (std::uint32_t i = 1; i <= size_; ++i) {
    tree_[i] = counts_[i - 1];
    total_ += counts_[i - 1];
  }
  for (std::uint32_t i = 1; i <= size_; ++i) {
    const std::uint32_t parent = i + (i & (~i + 1));
    if (parent <= size_) tree_[parent] += tree_[i];
  }
}

std::uint32_t FrequencyModel::cum(std::uint32_t s) const {
  std::uint32_t sum = 0;
  for (std::uint32_t i = s; i > 0; i &= i - 1) sum += tree_[i];
  return sum;
}

std::uint32_t FrequencyModel::find(std::uint32_t v) const {
  std::uint32_t pos = 0;
  for (std::uint32_t b = top_; b > 0; b >>= 1) {
    if (pos + b <= size_ && tree_[pos + b] <= v) {
      pos += b;
      v -= tree_[pos];
    }
  }
  return pos;
}

void FrequencyModel::update(std::uint32_t s) {
  if (total_ + step > range_max_total) {
    for (std::uint32_t& c : counts_) c = (c + 1) / 2;
    rebuild();
  }
  counts_[s] += step;
  total_ += step;
  for (std::uint32_t i = s + 1; i <= size_; i += i & (~i + 1)) tree_[i] += step;
}

}  // namespace lumbra
