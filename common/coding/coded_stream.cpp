#include "coding/coded_stream.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "coding/big_endian.h"
#include "coding/crc32.h"
#include "reading/block_meter.h"
#include "kova/hard_assert.h"
#include "count/mpz.h"
#include "triangle/trian.h"

namespace lumbra {

namespace {

constexpr unsigned char magic[4] = {0x89, 'L', 'K', 'C'};

CodedHeader makeHeader(int n, std::uint64_t bits, std::uint32_t crc) {
  CodedHeader h{};
  std::copy(std::begin(magic), std::end(magic), h.begin());
  h[4] = coded_format_version;
  putBE(&h[5], static_cast<std::uint64_t>(n), 2);
  putBE(&h[7], bits, 8);
  putBE(&h[15], crc, 4);
  return h;
}

// log2 of a positive integer.
double log2Of(mpz_srcptr z) {
  long e = 0;
  const double mant = mpz_get_d_2exp(&e, z);
  return std::log2(mant) + static_cast<double>(e);
}

// What the coder needs of a table's total C(m, k, d), worked out once for
// all the blocks of the table.
struct TotalCode {
  Mpz total;
  UniformSplit split;
  double ideal = 0;  // log2 of the total (0 when it is 0)
  void set(const SuffixCounts& t) {
    t.total(total.get());
    split = mpz_sgn(total.get()) > 0 ? uniformSplit(total.get()) : UniformSplit{};
    ideal = mpz_sgn(total.get()) > 0 ? log2Of(total.get()) : 0;
  }
};

std::shared_ptr<const SuffixCounts> table(SuffixCache& cache, int m, int k, int d) {
  auto t = cache.get(m, k, d);
  if (!t)
    throw TableTooBig("the counts of m = " + std::to_string(m) + ", k = " + std::to_string(k) + ", d = " +
                      std::to_string(d) + " take " + std::to_string(SuffixCounts::estimateBytes(m, k, d) >> 20) +
                      " MiB, more than the cache's " + std::to_string(cache.maxBytes() >> 20) + " MiB");
  return t;
}

// A run of blocks coded together: their ranks or unranks are done table by
// table (sorted by (m, k, d)), so that a table is brought into the
// processor's caches once per batch rather than once per block.
// NOTE: on random bytes at n = 256 the blocks spread over about a thousand
// tables, about 100 MB in all; block by block every count the walk adds is a
// miss of the processor's caches, and the coder runs several times slower.
struct Batch {
  struct Key {
    int m, k, d;
    auto operator<=>(const Key&) const = default;
  };
  explicit Batch(int n) : capacity(std::clamp<std::size_t>((std::size_t{1} << 23) / static_cast<std::size_t>(n), 1, 32768)) {}
  std::size_t size() const { return capacity; }
  // Makes room for block i < size(); the room grows with the blocks that
  // come, so a short input or stream takes only what it needs.
  void reach(std::size_t i) {
    while (starts.size() <= i) {
      starts.emplace_back();
      keys.emplace_back();
      indexes.emplace_back();
      codes.emplace_back();
    }
  }

  // Calls f(blocks, table) for the blocks i < count of each table, all of
  // whose keys[i] are that table's.
  template <typename F>
  void forEachTable(SuffixCache& cache, std::size_t count, F f) {
    order.resize(count);
    for (std::size_t i = 0; i < count; ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return keys[a] < keys[b]; });
    std::shared_ptr<const SuffixCounts> t;
    for (std::size_t j = 0, end = 0; j < count; j = end) {
      const Key& key = keys[order[j]];
      while (end < count && keys[order[end]] == key) ++end;
      t.reset();
      t = table(cache, key.m, key.k, key.d);
      t->prefetch();
      f(std::span<const std::size_t>(order.data() + j, end - j), *t);
    }
  }

  std::size_t capacity;  // blocks per batch: about 1 MiB of input, at most 32768
  std::vector<std::uint64_t> starts;  // where the blocks start, in bits
  std::vector<Key> keys;
  std::vector<Mpz> indexes;
  std::vector<const TotalCode*> codes;  // of each block's table
  std::vector<std::size_t> order;
};

// A sink that passes bytes on and keeps the CRC-32 and count of all of them.
class CheckedSink final : public ByteSink {
 public:
  explicit CheckedSink(ByteSink& dst) : dst_(dst) {}
  void put(const unsigned char* p, std::size_t n) override {
    crc = crc32Update(crc, p, n);
    count += n;
    dst_.put(p, n);
  }
  std::uint32_t crc = 0;
  std::uint64_t count = 0;

 private:
  ByteSink& dst_;
};

// A source that passes bytes on and keeps the CRC-32 and count of all of them.
class CheckedSource final : public ByteSource {
 public:
  explicit CheckedSource(ByteSource& src) : src_(src) {}
  std::size_t get(unsigned char* p, std::size_t n) override {
    const std::size_t got = src_.get(p, n);
    crc = crc32Update(crc, p, got);
    count += got;
    return got;
  }
  std::uint32_t crc = 0;
  std::uint64_t count = 0;

 private:
  ByteSource& src_;
};

// A source read ahead of its reader, up to `window` bytes, so that its end
// is seen before the reader gets there. With a window of 0 it only passes
// bytes on.
class ReadAhead final : public ByteSource {
 public:
  ReadAhead(ByteSource& src, std::size_t window) : src_(src), window_(window) {}
  std::size_t get(unsigned char* p, std::size_t n) override {
    if (head_ == held_.size()) return take(p, n);
    const std::size_t k = std::min(n, held_.size() - head_);
    std::copy_n(held_.data() + head_, k, p);
    head_ += k;
    return k;
  }
  // Reads until `want` bytes (at most the window) are held or the source
  // has ended.
  void ahead(std::uint64_t want) {
    want = std::min<std::uint64_t>(want, window_);
    // NOTE: the bytes given out go once they are half of what is held, so
    // each byte is moved about once.
    if (head_ > 0 && 2 * head_ >= held_.size()) {
      held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(head_));
      head_ = 0;
    }
    while (!ended_ && held_.size() - head_ < want) {
      const std::size_t old = held_.size();
      held_.resize(old + std::min<std::size_t>(static_cast<std::size_t>(want) - (old - head_), std::size_t{1} << 16));
      held_.resize(old + take(held_.data() + old, held_.size() - old));
    }
  }
  // Whether the source has ended, and then every byte it gave.
  bool ended() const { return ended_; }
  std::uint64_t taken() const { return taken_; }

 private:
  std::size_t take(unsigned char* p, std::size_t n) {
    if (ended_) return 0;
    const std::size_t got = src_.get(p, n);
    taken_ += got;
    ended_ = got == 0;
    return got;
  }

  ByteSource& src_;
  std::size_t window_;
  std::vector<unsigned char> held_;
  std::size_t head_ = 0;  // held_[head_, end) is not given out yet
  std::uint64_t taken_ = 0;
  bool ended_ = false;
};

// How far a decoder reads ahead of a stream of unknown size to find its end.
constexpr std::size_t read_ahead_window = std::size_t{4} << 20;

}  // namespace

double leastBlockBits(int n) {
  // A share of at most 1 - x, x = n / range_max_total, costs -log2(1 - x) >=
  // x / ln 2 bits; a hair less, for the rounding of the doubles.
  const double x = static_cast<double>(n) / range_max_total;
  return 2 * x / std::log(2.0) * (1 - 1e-9);
}

CodingStats encodeStream(ByteSource& in, ByteSink& out, int n, SuffixCache& cache, CodedHeader& header) {
  hard_assert(n >= 1 && n <= coded_max_block, "n>=1&&n<=coded_max_block");
  CodingStats stats;
  header = makeHeader(n, 0, 0);
  out.put(header.data(), header.size());

  RangeEncoder enc;
  const std::uint32_t symbols = static_cast<std::uint32_t>(n) + 1;
  FrequencyModel kModel(symbols), dModel(symbols);
  std::vector<unsigned char> coded;
  Batch batch(n);
  std::deque<TotalCode> totals;  // one per table of the batch; a deque, as they are pointed to
  CheckedSource src(in);
  BlockMeter meter(n);
  // NOTE: the blocks are measured and ranked where they lie in the input's
  // bytes: cut into vector<bool> they cost more than their measuring.
  // bytes[0, have) holds the input not yet coded, its first `start` bits (0..7)
  // already gone.
  std::vector<unsigned char> bytes;
  std::size_t have = 0;
  std::uint64_t start = 0;
  bool ended = false;
  for (;;) {
    const std::size_t gone = static_cast<std::size_t>(start / 8);
    std::copy(bytes.begin() + static_cast<std::ptrdiff_t>(gone), bytes.begin() + static_cast<std::ptrdiff_t>(have), bytes.begin());
    have -= gone;
    start %= 8;
    const std::size_t need = static_cast<std::size_t>((start + batch.size() * static_cast<std::uint64_t>(n) + 7) / 8);
    if (bytes.size() < need) bytes.resize(need);
    while (!ended && have < need) {
      const std::size_t got = src.get(bytes.data() + have, need - have);
      if (got == 0) ended = true;
      have += got;
    }
    std::uint64_t left = 8 * static_cast<std::uint64_t>(have) - start;
    std::size_t count = 0;
    for (; count < batch.size() && left > 0; ++count) {
      const int m = static_cast<int>(std::min<std::uint64_t>(left, static_cast<std::uint64_t>(n)));
      batch.reach(count);
      const BlockMeasure bm = meter.measure(bytes.data() + start / 8, static_cast<int>(start % 8), m);
      batch.keys[count] = {m, bm.ones, bm.deviation};
      batch.starts[count] = start;
      start += static_cast<std::uint64_t>(m);
      left -= static_cast<std::uint64_t>(m);
    }
    if (count == 0) break;
    std::size_t tables = 0;
    batch.forEachTable(cache, count, [&](std::span<const std::size_t> blocks, const SuffixCounts& t) {
      if (tables == totals.size()) totals.emplace_back();
      TotalCode& code = totals[tables++];
      code.set(t);
      for (const std::size_t i : blocks) {
        t.rank(bytes.data() + batch.starts[i] / 8, static_cast<int>(batch.starts[i] % 8), batch.indexes[i].get());
        batch.codes[i] = &code;
      }
    });
    for (std::size_t i = 0; i < count; ++i) {
      const auto uk = static_cast<std::uint32_t>(batch.keys[i].k), ud = static_cast<std::uint32_t>(batch.keys[i].d);
      stats.kBits += std::log2(static_cast<double>(kModel.total()) / kModel.freq(uk));
      kModel.encode(enc, uk);
      stats.dBits += std::log2(static_cast<double>(dModel.total()) / dModel.freq(ud));
      dModel.encode(enc, ud);
      const TotalCode& code = *batch.codes[i];
      enc.encodeUniform(batch.indexes[i].get(), code.split);
      stats.indexBits += code.split.bits();
      stats.idealIndexBits += code.ideal;
    }
    stats.blocks += count;
    enc.take(coded);
    out.put(coded.data(), coded.size());
    stats.payloadBits += 8 * coded.size();
  }
  enc.finish();
  enc.take(coded);
  out.put(coded.data(), coded.size());
  stats.payloadBits += 8 * coded.size();
  stats.inputBytes = src.count;
  header = makeHeader(n, 8 * src.count, src.crc);
  return stats;
}

void decodeStream(ByteSource& in, ByteSink& out, SuffixCache& cache, const DecodeSettings& settings) {
  const std::uint64_t streamBytes = settings.streamBytes;
  ReadAhead src(in, streamBytes == coded_size_unknown ? read_ahead_window : 0);
  CodedHeader h{};
  std::size_t have = 0;
  while (have < h.size()) {
    const std::size_t got = src.get(h.data() + have, h.size() - have);
    if (got == 0) break;
    have += got;
  }
  if (have < sizeof magic || !std::equal(std::begin(magic), std::end(magic), h.begin()))
    throw CorruptStream("not a coded stream (wrong magic number)");
  if (have < h.size()) throw CorruptStream("the header is truncated");
  if (h[4] > coded_format_version)
    throw CorruptStream("format version " + std::to_string(h[4]) + " is newer than this program reads (" +
                        std::to_string(coded_format_version) + ")");
  if (h[4] == 0) throw CorruptStream("format version 0 does not exist");
  const int n = static_cast<int>(getBE(&h[5], 2));
  if (n < 1 || n > coded_max_block)
    throw CorruptStream("block size " + std::to_string(n) + " is out of range 1.." + std::to_string(coded_max_block));
  const std::uint64_t bits = getBE(&h[7], 8);
  if (bits % 8 != 0) throw CorruptStream("the length in bits is not a whole number of bytes");
  if (bits > settings.maxInputBits) throw CorruptStream("the length is more than this run accepts");
  const std::uint32_t crc = static_cast<std::uint32_t>(getBE(&h[15], 4));

  RangeDecoder dec(src);
  // NOTE: whether the rest of the stream can hold the blocks still to come.
  // From the range coder's bounds: every byte the decoder takes widens its
  // range by 8 bits, the range stays between 2^24 and 2^32, and each block
  // narrows it by at least leastBlockBits; so the blocks left need
  // blocksLeft * leastBlockBits <= 8 + 8 * (bytes left). A header that claims
  // more is forged or the stream cut short, and no decoding can tell sooner:
  // zero bytes decode to all-zero blocks at almost that cost.
  const std::uint64_t claimed = bits / static_cast<std::uint64_t>(n) + (bits % static_cast<std::uint64_t>(n) != 0);
  const double least = leastBlockBits(n);
  const auto checkRoom = [&](std::uint64_t blocksLeft) {
    const double need = static_cast<double>(blocksLeft) * least;
    std::uint64_t total = 0;  // bytes after the header
    if (streamBytes != coded_size_unknown) {
      total = streamBytes - std::min<std::uint64_t>(streamBytes, coded_header_bytes);
    } else {
      src.ahead(static_cast<std::uint64_t>(std::min(need / 8 + 16, static_cast<double>(read_ahead_window))));
      if (!src.ended()) return;
      total = src.taken() - coded_header_bytes;
    }
    const std::uint64_t rest = total - std::min(total, dec.consumed());
    if (need > 8 * static_cast<double>(rest) + 8)
      throw CorruptStream("the header's length of " + std::to_string(bits / 8) + " bytes is more than " +
                          std::to_string(total) + " bytes of coded data can hold");
  };
  checkRoom(claimed);
  const std::uint32_t symbols = static_cast<std::uint32_t>(n) + 1;
  FrequencyModel kModel(symbols), dModel(symbols);
  CheckedSink sink(out);
  Batch batch(n);
  // NOTE: the blocks are unranked straight into the output's bytes.
  // bytes[0] holds the `start` bits (0..7) of a byte the last batch began.
  std::vector<unsigned char> bytes;
  std::uint64_t start = 0;
  std::vector<mpz_srcptr> indexes;
  std::vector<SuffixCounts::BitPlace> places;
  // NOTE: the totals of recent tables, so that a block needs no table to
  // read its index; dropped whole when full, so they stay a few MiB at most.
  std::map<Batch::Key, TotalCode> recent;
  const auto totalOf = [&](const Batch::Key& key) -> const TotalCode& {
    if (const auto it = recent.find(key); it != recent.end()) return it->second;
    if (recent.size() >= 16384) recent.clear();
    TotalCode& code = recent[key];
    code.set(*table(cache, key.m, key.k, key.d));
    return code;
  };
  std::uint64_t left = bits, first = 0;
  while (left > 0) {
    if (first > 0) checkRoom(claimed - first);
    // The (k, d, index) of a batch of blocks in stream order, then their
    // blocks table by table.
    std::size_t count = 0;
    for (; count < batch.size() && left > 0; ++count) {
      const int m = static_cast<int>(std::min<std::uint64_t>(left, static_cast<std::uint64_t>(n)));
      left -= static_cast<std::uint64_t>(m);
      const std::uint32_t k = kModel.decode(dec);
      const std::uint32_t d = dModel.decode(dec);
      const auto where = [&] { return "block " + std::to_string(first + count) + ": "; };
      batch.reach(count);
      if (k > static_cast<std::uint32_t>(m) || d > static_cast<std::uint32_t>(m))
        throw CorruptStream(where() + "k or d is larger than the block");
      const Batch::Key key{m, static_cast<int>(k), static_cast<int>(d)};
      batch.keys[count] = key;
      batch.starts[count] = start;
      start += static_cast<std::uint64_t>(m);
      const TotalCode& code = totalOf(key);
      if (mpz_sgn(code.total.get()) == 0) throw CorruptStream(where() + "no block has this k within this deviation");
      try {
        dec.decodeUniform(batch.indexes[count].get(), code.total.get(), code.split);
      } catch (const CorruptStream&) {
        throw CorruptStream(where() + "the index is not below its count C(m, k, d)");
      }
    }
    // NOTE: a block whose own deviation is below the coded d is not checked
    // for here (it would cost a tenth of the decoding); the encoder never
    // writes one, so such a stream fails the checksum.
    const std::size_t need = static_cast<std::size_t>((start + 7) / 8);
    const unsigned char carried = bytes.empty() ? 0 : bytes[0];
    bytes.assign(need, 0);
    bytes[0] = carried;
    batch.forEachTable(cache, count, [&](std::span<const std::size_t> blocks, const SuffixCounts& t) {
      indexes.clear();
      places.clear();
      for (const std::size_t i : blocks) {
        indexes.push_back(batch.indexes[i].get());
        places.push_back({bytes.data() + batch.starts[i] / 8, static_cast<int>(batch.starts[i] % 8)});
      }
      t.unrank(indexes, places);
    });
    const std::size_t whole = static_cast<std::size_t>(start / 8);
    if (whole > 0) sink.put(bytes.data(), whole);
    bytes[0] = whole < need ? bytes[whole] : 0;
    start %= 8;
    first += count;
    if (settings.progress) settings.progress(sink.count, bits / 8);
  }
  // The length is whole bytes, so no bits are left over.
  if (!dec.endsCleanly()) throw CorruptStream("the coded data is corrupted at its end");
  if (!dec.atEnd()) throw CorruptStream("trailing bytes after the coded data");
  if (sink.crc != crc) throw CorruptStream("checksum mismatch: the decoded bytes are not the input's");
}

}  // namespace lumbra
