#include "coding/shaped_stream.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdio>
#include <cstring>
#include <limits>

#include "coding/big_endian.h"
#include "coding/crc32.h"
#include "count/mpz.h"
#include "kova/hard_assert.h"

namespace lumbra {

namespace {

// The longest data a stream may announce: its words must be countable.
constexpr std::uint64_t max_data_bytes = std::uint64_t{1} << 60;
constexpr int length_bits = 64;
constexpr int checksum_bits = 32;
// Symbols of the text and dna alphabets, by bit (text) or by pair bit and
// base bit (dna: pair * 2 + base).
constexpr char text_symbols[] = "01";
constexpr char dna_symbols[] = "ATCG";
// Each byte's symbol in them, -1 for none.
constexpr std::array<std::int8_t, 256> symbolValues(const char* symbols) {
  std::array<std::int8_t, 256> t{};
  for (auto& v : t) v = -1;
  for (int i = 0; symbols[i] != 0; ++i)
    t[static_cast<unsigned char>(symbols[i])] = static_cast<std::int8_t>(i);
  return t;
}
constexpr std::array<std::int8_t, 256> text_values = symbolValues(text_symbols);
constexpr std::array<std::int8_t, 256> dna_values = symbolValues(dna_symbols);
// What fills the last byte of a bits stream after its last word.
constexpr unsigned char fill_bits = 0xAA;

std::uint64_t piecesOf(std::uint64_t bits, int p) {
  return (bits + static_cast<std::uint64_t>(p) - 1) / static_cast<std::uint64_t>(p);
}

// The eight bytes of a 64-bit load as a number, the first most significant.
std::uint64_t bigEndian(std::uint64_t v) {
  return std::endian::native == std::endian::little ? __builtin_bswap64(v) : v;
}

// Or-s n bits of src, from bit sbit on, into dst from bit dbit on; bytes
// most significant bit first. Reads no byte of src past the last bit it
// copies.
void copyBits(const unsigned char* src, std::uint64_t sbit, unsigned char* dst, std::uint64_t dbit,
              std::uint64_t n) {
  src += sbit / 8;
  dst += dbit / 8;
  unsigned s = static_cast<unsigned>(sbit % 8), d = static_cast<unsigned>(dbit % 8);
  // NOTE: seven bytes a step while 64 bits are left, so that the eight
  // bytes read and written all hold bits of the copy: a word of 256 bits
  // goes in five steps instead of thirty-two.
  for (; n >= 64; n -= 56, src += 7, dst += 7) {
    std::uint64_t v, w;
    std::memcpy(&v, src, 8);
    std::memcpy(&w, dst, 8);
    v = bigEndian(v) << s >> 8 << 8;  // the 56 bits, at the top
    w = bigEndian(bigEndian(w) | v >> d);
    std::memcpy(dst, &w, 8);
  }
  while (n > 0) {
    const unsigned take = static_cast<unsigned>(std::min<std::uint64_t>(n, 8 - d));
    unsigned w = static_cast<unsigned>(src[0]) << 8;
    if (s + take > 8) w |= src[1];
    const unsigned bits = (w >> (16 - s - take)) & ((1u << take) - 1);
    *dst = static_cast<unsigned char>(*dst | (bits << (8 - d - take)));
    d += take;
    if (d == 8) ++dst, d = 0;
    s += take;
    src += s / 8;
    s %= 8;
    n -= take;
  }
}

bool bitAt(const unsigned char* p, std::uint64_t x) { return ((p[x / 8] >> (7 - x % 8)) & 1) != 0; }

// Whether bits [from, to) of p are all zero.
bool zeroBits(const unsigned char* p, std::uint64_t from, std::uint64_t to) {
  for (std::uint64_t x = from; x < to; ++x)
    if (bitAt(p, x)) return false;
  return true;
}

// Values of `count` bits (a word's value, right-aligned in whole limbs of
// big-endian bytes) to and from bit strings. NOTE: the limbs are swapped
// here: mpz_import and mpz_export take bytes one shift at a time in this
// order (a tenth of unshape's time at N = 256).
static_assert(sizeof(mp_limb_t) == sizeof(std::uint64_t), "limbs of 64 bits");
class ValueBits {
 public:
  explicit ValueBits(int count)
      : count_(count), limbs_((static_cast<std::size_t>(count) + limb_bits - 1) / limb_bits), tmp_(limbs_ * sizeof(mp_limb_t)) {}
  void get(const unsigned char* src, std::uint64_t bit, mpz_ptr v) {
    std::fill(tmp_.begin(), tmp_.end(), 0);
    copyBits(src, bit, tmp_.data(), lead(), static_cast<std::uint64_t>(count_));
    mp_limb_t* d = mpz_limbs_write(v, static_cast<mp_size_t>(limbs_));
    for (std::size_t i = 0; i < limbs_; ++i) {
      std::uint64_t w;
      std::memcpy(&w, tmp_.data() + (limbs_ - 1 - i) * sizeof(w), sizeof(w));
      d[i] = bigEndian(w);
    }
    std::size_t size = limbs_;
    while (size > 0 && d[size - 1] == 0) --size;
    mpz_limbs_finish(v, static_cast<mp_size_t>(size));
  }
  // Or-s the value into dst from bit `bit` on.
  void put(mpz_srcptr v, unsigned char* dst, std::uint64_t bit) {
    std::fill(tmp_.begin(), tmp_.end(), 0);
    const std::size_t size = mpz_size(v);
    hard_assert(size <= limbs_ && mpz_sizeinbase(v, 2) <= static_cast<std::size_t>(count_), "value<2^count");
    const mp_limb_t* limbs = mpz_limbs_read(v);
    for (std::size_t i = 0; i < size; ++i) {
      const std::uint64_t w = bigEndian(limbs[i]);
      std::memcpy(tmp_.data() + (limbs_ - 1 - i) * sizeof(w), &w, sizeof(w));
    }
    copyBits(tmp_.data(), lead(), dst, bit, static_cast<std::uint64_t>(count_));
  }

 private:
  static constexpr std::size_t limb_bits = 64;
  std::uint64_t lead() const { return limbs_ * limb_bits - static_cast<std::uint64_t>(count_); }
  int count_;
  std::size_t limbs_;
  std::vector<unsigned char> tmp_;
};

// Words per batch: a multiple of 8, so that a batch of pieces is a whole
// number of bytes, and about 64 KiB of payload.
std::size_t batchWords(int payload) {
  return 8 * std::clamp<std::size_t>((std::size_t{1} << 16) / static_cast<std::size_t>(payload), 1, 512);
}

// Words out: pieces of payload in, the alphabet's bytes to the sink.
class WordWriter {
 public:
  WordWriter(ByteSink& out, const Shaper& s, Alphabet a, std::size_t keepFirst = 0)
      : out_(out),
        s_(s),
        a_(a),
        p_(payloadBits(s, a)),
        batch_(batchWords(p_)),
        value_(s.bits()),
        values_(batch_),
        pointers_(batch_),
        words_(batch_ * s.wordBytes()),
        pairs_(a == Alphabet::dna ? words_.size() : 0),
        buf_((std::size_t{1} << 16) + 2 * (static_cast<std::size_t>(s.n()) + 2)),
        keep_(keepFirst) {
    for (std::size_t i = 0; i < batch_; ++i) pointers_[i] = values_[i].get();
  }

  // Words for `count` pieces: bits [i p, (i + 1) p) of `bits` for piece i.
  void pieces(const unsigned char* bits, std::uint64_t count) {
    const std::size_t wb = s_.wordBytes();
    for (std::uint64_t first = 0; first < count; first += batch_) {
      const std::size_t k = static_cast<std::size_t>(std::min<std::uint64_t>(batch_, count - first));
      std::fill(words_.begin(), words_.end(), 0);
      std::fill(pairs_.begin(), pairs_.end(), 0);
      for (std::size_t j = 0; j < k; ++j) {
        const std::uint64_t at = (first + j) * static_cast<std::uint64_t>(p_);
        value_.get(bits, at, values_[j].get());
        if (a_ == Alphabet::dna)
          copyBits(bits, at + static_cast<std::uint64_t>(s_.bits()), &pairs_[j * wb], 0,
                   static_cast<std::uint64_t>(s_.n()));
      }
      s_.shape(std::span<const mpz_srcptr>(pointers_.data(), k), words_.data());
      for (std::size_t j = 0; j < k; ++j) emit(&words_[j * wb], a_ == Alphabet::dna ? &pairs_[j * wb] : nullptr);
    }
  }

  // Fills the last byte (bits) and writes what is left.
  void finish() {
    if (a_ == Alphabet::bits && bit_ % 8 != 0)
      buf_[bit_ / 8] |= static_cast<unsigned char>(fill_bits >> (bit_ % 8));
    write((bit_ + 7) / 8);
    bit_ = 0;
  }
  // The first keepFirst bytes written, as they went out.
  const std::vector<unsigned char>& first() const { return first_; }

 private:
  void emit(const unsigned char* word, const unsigned char* pair) {
    const int n = s_.n();
    if (bit_ / 8 + static_cast<std::size_t>(n) + 2 > buf_.size()) {
      // Whole bytes out; the partial one moves to the front.
      const std::size_t whole = bit_ / 8;
      const unsigned char part = buf_[whole];
      write(whole);
      std::fill(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(whole) + 1, 0);
      buf_[0] = part;
      bit_ %= 8;
    }
    unsigned char* p = buf_.data() + bit_ / 8;
    switch (a_) {
      case Alphabet::bits:
        copyBits(word, 0, buf_.data(), bit_, static_cast<std::uint64_t>(n));
        bit_ += static_cast<std::uint64_t>(n);
        return;
      case Alphabet::text:
        for (int x = 0; x < n; ++x)
          *p++ = static_cast<unsigned char>(text_symbols[bitAt(word, static_cast<std::uint64_t>(x))]);
        break;
      case Alphabet::dna:
        for (int x = 0; x < n; ++x) {
          const auto ux = static_cast<std::uint64_t>(x);
          *p++ = static_cast<unsigned char>(dna_symbols[2 * bitAt(word, ux) + bitAt(pair, ux)]);
        }
        break;
    }
    *p = '\n';
    bit_ += 8 * (static_cast<std::uint64_t>(n) + 1);
  }

  void write(std::size_t bytes) {
    if (bytes == 0) return;
    if (first_.size() < keep_)
      first_.insert(first_.end(), buf_.begin(),
                    buf_.begin() + static_cast<std::ptrdiff_t>(std::min(bytes, keep_ - first_.size())));
    out_.put(buf_.data(), bytes);
  }

  ByteSink& out_;
  const Shaper& s_;
  Alphabet a_;
  int p_;
  std::size_t batch_;
  ValueBits value_;
  std::vector<Mpz> values_;
  std::vector<mpz_srcptr> pointers_;
  std::vector<unsigned char> words_, pairs_;
  // Output not yet written: bit_ bits (text and dna: whole bytes); zero
  // after them.
  std::vector<unsigned char> buf_;
  std::uint64_t bit_ = 0;
  std::size_t keep_;
  std::vector<unsigned char> first_;
};

// A section's bytes as pieces into the writer: `bytes` (zero bytes after).
void section(WordWriter& w, const unsigned char* bytes, int bits, int p) {
  const std::uint64_t pieces = piecesOf(static_cast<std::uint64_t>(bits), p);
  std::vector<unsigned char> padded(
      static_cast<std::size_t>(pieces * static_cast<std::uint64_t>(p) + 7) / 8 + 1, 0);
  std::copy(bytes, bytes + (bits + 7) / 8, padded.begin());
  w.pieces(padded.data(), pieces);
}

void lengthSection(WordWriter& w, std::uint64_t length, int p) {
  unsigned char b[8];
  putBE(b, length, 8);
  section(w, b, length_bits, p);
}

std::string shown(unsigned char c) {
  if (c >= 0x20 && c < 0x7f) return std::string("'") + static_cast<char>(c) + "'";
  static const char hex[] = "0123456789abcdef";
  return std::string("byte \\x") + hex[c >> 4] + hex[c & 15];
}

// Words in: the alphabet's bytes from the source, each word's bits (and
// for dna its base bits) into aligned scratch.
class WordReader {
 public:
  WordReader(ByteSource& in, const Shaper& s, Alphabet a, std::size_t batch)
      : in_(in),
        s_(s),
        a_(a),
        batch_(batch),
        words_(batch * s.wordBytes()),
        pairs_(a == Alphabet::dna ? words_.size() : 0) {
    const std::size_t n = static_cast<std::size_t>(s.n());
    // bits: a batch of words and the partial byte carried over; text, dna:
    // a line per word.
    buf_.resize(a == Alphabet::bits ? batch * n / 8 + 2 : batch * (n + 1));
  }

  // Reads up to `limit` <= batch words; returns how many are whole and well
  // formed. Fewer mean that the stream ends there (ended()) or that the next
  // word is malformed (malformed() says how). With limit 0 it only looks
  // whether anything follows.
  std::size_t read(std::size_t limit) {
    hard_assert(limit <= batch_, "limit<=batch");
    std::fill(words_.begin(), words_.end(), 0);
    std::fill(pairs_.begin(), pairs_.end(), 0);
    const std::size_t n = static_cast<std::size_t>(s_.n()), wb = s_.wordBytes();
    if (a_ == Alphabet::bits) {
      // The unread bits to the front, then as many bytes as there is room for.
      const std::size_t from = static_cast<std::size_t>(bit_ / 8);
      std::memmove(buf_.data(), buf_.data() + from, size_ - from);
      size_ -= from;
      bit_ %= 8;
      if (!end_) {
        const std::size_t want = buf_.size() - size_;
        const std::size_t got = fill(buf_.data() + size_, want);
        size_ += got;
        end_ = got < want;
      }
      const std::size_t k = static_cast<std::size_t>(std::min<std::uint64_t>(limit, rest() / n));
      for (std::size_t j = 0; j < k; ++j) {
        copyBits(buf_.data(), bit_, &words_[j * wb], 0, n);
        bit_ += n;
      }
      return k;
    }
    const std::size_t line = n + 1;
    const std::size_t want = limit == 0 ? 1 : limit * line;
    const std::size_t got = end_ ? 0 : fill(buf_.data(), want);
    end_ = got < want;
    if (limit == 0) {
      more_ = got > 0;
      return 0;
    }
    std::size_t j = 0;
    for (; (j + 1) * line <= got; ++j)
      if (!parse(&buf_[j * line], line, j)) return j;
    // A last piece of a line is malformed either way.
    if (j * line < got && parse(&buf_[j * line], got - j * line, j))
      malformed_ = "cut short: the stream ends " + std::to_string(got - j * line) + " characters into it";
    return j;
  }

  // Why the word after those read is malformed; empty if it is not.
  const std::string& malformed() const { return malformed_; }
  bool ended() const { return end_; }
  // Once the stream ended: bits, the bits after the words read; text and
  // dna, whether a read(0) found more.
  std::uint64_t rest() const {
    if (a_ != Alphabet::bits) return more_ ? 1 : 0;
    return 8 * static_cast<std::uint64_t>(size_) - bit_;
  }
  // Whether what is left is nothing but the fill of a bits stream's last byte.
  bool restIsFill() const {
    const std::uint64_t r = rest();
    if (a_ != Alphabet::bits || r >= 8) return r == 0;
    for (std::uint64_t x = 0; x < r; ++x)
      if (bitAt(buf_.data(), bit_ + x) != (x % 2 == 0)) return false;
    return true;
  }
  const unsigned char* word(std::size_t j) const { return &words_[j * s_.wordBytes()]; }
  const unsigned char* pair(std::size_t j) const { return &pairs_[j * s_.wordBytes()]; }

 private:
  std::size_t fill(unsigned char* p, std::size_t want) {
    std::size_t got = 0;
    while (got < want) {
      const std::size_t r = in_.get(p + got, want - got);
      if (r == 0) break;
      got += r;
    }
    return got;
  }

  // Line j of the batch: `size` characters at p (a whole line has n + 1).
  bool parse(const unsigned char* p, std::size_t size, std::size_t j) {
    const int n = s_.n();
    unsigned char* w = &words_[j * s_.wordBytes()];
    unsigned char* e = a_ == Alphabet::dna ? &pairs_[j * s_.wordBytes()] : nullptr;
    const std::array<std::int8_t, 256>& symbols = a_ == Alphabet::text ? text_values : dna_values;
    const std::size_t chars = std::min(size, static_cast<std::size_t>(n));
    for (std::size_t c = 0; c < chars; ++c) {
      const unsigned char ch = p[c];
      if (ch == '\n') {
        malformed_ = "a line of " + std::to_string(c) + " characters, not " + std::to_string(n);
        return false;
      }
      const int v = int{symbols[ch]};
      if (v < 0) {
        malformed_ = "character " + std::to_string(c + 1) + " is " + shown(ch) +
                     (a_ == Alphabet::text ? ", not 0 or 1" : ", not A, C, G or T");
        return false;
      }
      const auto bit = static_cast<unsigned char>(0x80u >> (c % 8));
      if (a_ == Alphabet::text) {
        if (v != 0) w[c / 8] |= bit;
      } else {
        if (v >= 2) w[c / 8] |= bit;
        if (v % 2 != 0) e[c / 8] |= bit;
      }
    }
    if (size > static_cast<std::size_t>(n) && p[n] != '\n') {
      malformed_ = "a line longer than " + std::to_string(n) + " characters";
      return false;
    }
    return true;
  }

  ByteSource& in_;
  const Shaper& s_;
  Alphabet a_;
  std::size_t batch_;
  std::vector<unsigned char> words_, pairs_;
  std::vector<unsigned char> buf_;
  std::size_t size_ = 0;   // bits: the bytes in buf_
  std::uint64_t bit_ = 0;  // bits: the next unread bit of buf_
  bool end_ = false;       // the source has ended
  bool more_ = false;      // text, dna: read(0) found a byte
  std::string malformed_;
};

[[noreturn]] void fail(std::uint64_t word, const std::string& what) { throw ShapeError(word, what); }

// The bytes of a string, as a source; and a sink that keeps nothing.
class BytesSource final : public ByteSource {
 public:
  explicit BytesSource(const std::vector<unsigned char>& bytes) : bytes_(bytes) {}
  std::size_t get(unsigned char* buf, std::size_t n) override {
    const std::size_t k = std::min(n, bytes_.size() - at_);
    std::copy_n(bytes_.data() + at_, k, buf);
    at_ += k;
    return k;
  }

 private:
  const std::vector<unsigned char>& bytes_;
  std::size_t at_ = 0;
};

class NullSink final : public ByteSink {
 public:
  void put(const unsigned char*, std::size_t) override {}
};

}  // namespace

int payloadBits(const Shaper& s, Alphabet a) { return s.bits() + (a == Alphabet::dna ? s.n() : 0); }

StreamWords streamWords(const Shaper& s, Alphabet a, std::uint64_t dataBytes) {
  const int p = payloadBits(s, a);
  hard_assert(dataBytes <= max_data_bytes, "dataBytes<=max_data_bytes");
  return {piecesOf(length_bits, p), piecesOf(8 * dataBytes, p), piecesOf(checksum_bits, p)};
}

std::uint64_t shapeStream(ByteSource& in, ByteSink& out, const Shaper& s, Alphabet a,
                          std::vector<unsigned char>& head) {
  const int p = payloadBits(s, a);
  const std::uint64_t headerWords = piecesOf(length_bits, p);
  const std::size_t n = static_cast<std::size_t>(s.n());
  const std::size_t headBytes =
      static_cast<std::size_t>(a == Alphabet::bits ? (headerWords * n + 7) / 8 : headerWords * (n + 1));
  WordWriter w(out, s, a, headBytes);
  lengthSection(w, 0, p);

  // The data in batches of whole pieces, a whole number of bytes each.
  const std::size_t batch = batchWords(p);
  const std::size_t bytes = batch * static_cast<std::size_t>(p) / 8;
  std::vector<unsigned char> buf(bytes + 1);
  std::uint64_t length = 0;
  std::uint32_t crc = 0;
  for (bool more = true; more;) {
    std::size_t got = 0;
    while (got < bytes) {
      const std::size_t r = in.get(buf.data() + got, bytes - got);
      if (r == 0) break;
      got += r;
    }
    more = got == bytes;
    length += got;
    crc = crc32Update(crc, buf.data(), got);
    std::fill(buf.begin() + static_cast<std::ptrdiff_t>(got), buf.end(), 0);
    w.pieces(buf.data(), piecesOf(8 * static_cast<std::uint64_t>(got), p));
  }
  unsigned char c[4];
  putBE(c, crc, 4);
  section(w, c, checksum_bits, p);
  w.finish();

  // The header's words with the length, and what shares their last byte.
  struct Memory final : ByteSink {
    std::vector<unsigned char> bytes;
    void put(const unsigned char* q, std::size_t k) override { bytes.insert(bytes.end(), q, q + k); }
  } memory;
  WordWriter h(memory, s, a);
  lengthSection(h, length, p);
  h.finish();
  head = memory.bytes;
  const std::vector<unsigned char>& first = w.first();
  hard_assert(head.size() == headBytes && first.size() == headBytes, "head.size()==headBytes");
  if (a == Alphabet::bits && headerWords * n % 8 != 0) {
    const unsigned after = static_cast<unsigned>(8 - headerWords * n % 8);
    const auto mask = static_cast<unsigned char>((1u << after) - 1);
    head.back() = static_cast<unsigned char>((head.back() & ~mask) | (first.back() & mask));
  }
  return length;
}

void unshapeStream(ByteSource& in, ByteSink& out, const Shaper& s, Alphabet a) {
  const int p = payloadBits(s, a);
  const int b = s.bits();
  const std::uint64_t up = static_cast<std::uint64_t>(p);
  const std::uint64_t headerWords = piecesOf(length_bits, p), checksumWords = piecesOf(checksum_bits, p);
  const std::size_t batch = batchWords(p);
  WordReader reader(in, s, a, batch);
  ValueBits value(b);
  Mpz v;

  // The sections: the header's and the checksum's pieces gather in `small`;
  // the data's go to `buf`, of which `bufBit` bits are filled.
  std::vector<unsigned char> small(
      static_cast<std::size_t>(std::max(headerWords, checksumWords) * up + 7) / 8 + 1);
  std::vector<unsigned char> buf(batch * static_cast<std::size_t>(p) / 8 + 2);
  std::uint64_t bufBit = 0;
  std::uint64_t length = 0, dataWords = 0, dataLeft = 0;  // dataLeft: data bytes not yet written
  std::uint32_t crc = 0;
  std::uint64_t index = 0;  // of the next word
  const auto total = [&] { return headerWords + dataWords + checksumWords; };

  for (;;) {
    // Never past the header before its length is known, never past the end.
    const std::uint64_t limit =
        std::min<std::uint64_t>(batch, (index < headerWords ? headerWords : total()) - index);
    const std::size_t k = reader.read(static_cast<std::size_t>(limit));
    for (std::size_t j = 0; j < k; ++j, ++index) {
      const WordCheck check = s.unshape(reader.word(j), v.get());
      switch (check.fault) {
        case WordCheck::Fault::none:
          break;
        case WordCheck::Fault::leaves_band:
          fail(index, "its walk leaves the band -" + std::to_string(s.d()) + ".." + std::to_string(s.d()) +
                          " at bit " + std::to_string(check.at));
        case WordCheck::Fault::unbalanced:
          fail(index,
               "not balanced: " + std::to_string(check.at) + " ones in " + std::to_string(s.n()) + " bits");
        case WordCheck::Fault::not_shaped:
          fail(index, "balanced and within the band, but not a word that shape writes");
      }
      // Where this word's piece goes.
      const bool data = index >= headerWords && index < headerWords + dataWords;
      unsigned char* to = data ? buf.data() : small.data();
      const std::uint64_t at =
          data ? bufBit : (index < headerWords ? index : index - headerWords - dataWords) * up;
      if (!data && (index == 0 || index == headerWords + dataWords)) std::fill(small.begin(), small.end(), 0);
      value.put(v.get(), to, at);
      if (a == Alphabet::dna)
        copyBits(reader.pair(j), 0, to, at + static_cast<std::uint64_t>(b),
                 static_cast<std::uint64_t>(s.n()));
      if (data) bufBit += up;

      if (index + 1 == headerWords) {
        if (!zeroBits(small.data(), length_bits, headerWords * up))
          fail(index, "the bits after the length are not zero");
        length = getBE(small.data(), 8);
        if (length > max_data_bytes)
          fail(index, "the length in the header, " + std::to_string(length) +
                          " bytes, is more than a stream holds (2^60 bytes)");
        dataWords = piecesOf(8 * length, p);
        dataLeft = length;
      }
      if (data) {
        // Whole data bytes out; the last word's padding must be zero.
        const std::uint64_t ready = std::min<std::uint64_t>(bufBit / 8, dataLeft);
        const bool last = index + 1 == headerWords + dataWords;
        if (last && !zeroBits(buf.data(), 8 * ready, bufBit))
          fail(index, "the bits after the data are not zero");
        if (last || bufBit + up + 16 > 8 * buf.size()) {
          out.put(buf.data(), static_cast<std::size_t>(ready));
          crc = crc32Update(crc, buf.data(), static_cast<std::size_t>(ready));
          dataLeft -= ready;
          const unsigned char part = buf[static_cast<std::size_t>(ready)];
          std::fill(buf.begin(), buf.end(), 0);
          buf[0] = last ? 0 : part;
          bufBit = last ? 0 : bufBit % 8;
        }
      }
      if (index >= headerWords && index + 1 == total()) {
        if (!zeroBits(small.data(), checksum_bits, checksumWords * up))
          fail(index, "the bits after the checksum are not zero");
        const auto stored = static_cast<std::uint32_t>(getBE(small.data(), 4));
        if (stored != crc) {
          char text[96];
          std::snprintf(text, sizeof text, "checksum mismatch: the data's CRC-32 is %08x, the stream's %08x",
                        crc, stored);
          fail(index + 1 - checksumWords, text);
        }
      }
    }
    if (!reader.malformed().empty()) fail(index, reader.malformed());
    if (index >= headerWords && index == total()) {
      // Every word is in: nothing may follow but the fill.
      reader.read(0);
      if (reader.ended() && reader.restIsFill()) return;
      fail(index, "the stream goes on after its last word");
    }
    if (k == limit) continue;
    // The stream ended early.
    if (!reader.restIsFill())
      fail(index, "cut short: the stream ends " + std::to_string(reader.rest()) + " bits into it");
    if (index < headerWords) fail(index, "missing: the stream ends inside its header");
    fail(index, "missing: the stream ends after " + std::to_string(index) + " words; its header announces " +
                    std::to_string(length) + " bytes, " + std::to_string(total()) + " words in all");
  }
}

std::size_t headerBytesAtMost(int n) {
  // The header's pieces are fewest bits per word at b = 1: 64 words, each
  // at most n + 1 bytes (a line of text or bases); one word more after it.
  return static_cast<std::size_t>(length_bits + 1) * (static_cast<std::size_t>(n) + 1);
}

std::vector<ShapeParameters> readsWith(const std::vector<unsigned char>& start, int n, int d, Alphabet a,
                                       int widths) {
  std::vector<ShapeParameters> tries;
  for (const Alphabet other : {Alphabet::bits, Alphabet::text, Alphabet::dna})
    if (other != a) tries.push_back({d, other});
  for (int step = 1; step <= widths; ++step)
    for (const int width : {d - step, d + step})
      for (const Alphabet other : {Alphabet::bits, Alphabet::text, Alphabet::dna}) tries.push_back({width, other});
  // How far each try reads: past the last word when it reads all of it.
  std::vector<std::pair<ShapeParameters, std::uint64_t>> reached;
  std::uint64_t furthest = 0;
  for (const ShapeParameters& t : tries) {
    if (!shapeRefusal(n, t.d).empty()) continue;
    const Shaper s(n, t.d);
    const std::uint64_t headerWords = piecesOf(length_bits, payloadBits(s, t.alphabet));
    BytesSource in(start);
    NullSink out;
    std::uint64_t word = std::numeric_limits<std::uint64_t>::max();
    try {
      unshapeStream(in, out, s, t.alphabet);
    } catch (const ShapeError& e) {
      word = e.word();
    }
    if (word <= headerWords) continue;
    reached.emplace_back(t, word);
    furthest = std::max(furthest, word);
  }
  std::vector<ShapeParameters> found;
  for (const auto& [t, word] : reached)
    if (word == furthest) found.push_back(t);
  return found;
}

}  // namespace lumbra
