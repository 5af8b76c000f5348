#include "triangle/bitstm.h"

#include <algorithm>
#include <cstring>

#include "kova/hard_assert.h"

namespace lumbra {

BitReader::BitReader(kova::file& source)
    : src(source), pool(source.pool()), bytes(static_cast<char*>(pool.alloc(static_cast<std::size_t>(capacity)))) {}

BitReader::~BitReader() { pool.free(bytes, static_cast<std::size_t>(capacity)); }

// The lines that the contract checks of read report; they are part of the
// output.
constexpr int read_n_check = 42;
constexpr int read_count_check = 53;

void BitReader::read(int n, std::vector<bool>& vb) {
  hard_assert_at(n > 0, "n>0", read_n_check);
  vb.clear();
  // NOTE: 64-bit, since n may come close to the largest int.
  long long have = 8LL * (end - pos) - bit;
  if (have < n) {
    // The rest to the front, then one read request for all the room behind
    // it, repeated while the block is not whole: a pipe or a terminal may
    // deliver fewer bytes than asked while more are coming, and only a read
    // of 0 bytes is the end of the stream. The block is taken only once its
    // bytes are all here, so a failed read leaves everything as it was.
    const long long need = (static_cast<long long>(bit) + n + 7) / 8;
    if (need > capacity) {
      // A block longer than the buffer: room for exactly its bytes.
      char* room = static_cast<char*>(pool.alloc(static_cast<std::size_t>(need)));
      std::memcpy(room, bytes + pos, static_cast<std::size_t>(end - pos));
      pool.free(bytes, static_cast<std::size_t>(capacity));
      bytes = room;
      capacity = static_cast<int>(need);
    } else {
      std::memmove(bytes, bytes + pos, static_cast<std::size_t>(end - pos));
    }
    end -= pos;
    pos = 0;
    // The buffer holds the whole block, so there is room while it is short.
    while (have < n) {
      int n3 = src.read(bytes + end, capacity - end);
      hard_assert_at(n3 >= 0, "n3>=0", read_count_check);
      if (n3 == 0) break;
      end += n3;
      have += 8LL * n3;
    }
  }
  int left = static_cast<int>(std::min<long long>(n, have));
  vb.reserve(static_cast<std::size_t>(left));
  while (left > 0) {
    const unsigned byte = static_cast<unsigned char>(bytes[pos]);
    const int take = std::min(8 - bit, left);
    for (int i = 0; i < take; ++i) vb.push_back((byte >> (7 - bit - i)) & 1u);
    left -= take;
    bit += take;
    if (bit == 8) {
      bit = 0;
      ++pos;
    }
  }
}

}  // namespace lumbra

namespace lumbra {

void BitWriter::write(const std::vector<bool>& vb) {
  auto it = vb.begin();
  if (have_ == 0) {
    // Whole bytes first, eight bits at a time.
    for (std::size_t left = vb.size(); left >= 8; left -= 8) {
      unsigned byte = 0;
      for (int j = 0; j < 8; ++j) byte = (byte << 1) | (*it++ ? 1u : 0u);
      bytes_.push_back(static_cast<unsigned char>(byte));
      if (bytes_.size() == capacity) flush();
    }
  }
  for (; it != vb.end(); ++it) {
    const bool b = *it;
    acc_ = (acc_ << 1) | (b ? 1u : 0u);
    if (++have_ == 8) {
      bytes_.push_back(static_cast<unsigned char>(acc_));
      acc_ = 0;
      have_ = 0;
      if (bytes_.size() == capacity) flush();
    }
  }
  bits_ += vb.size();
}

void BitWriter::flush() {
  if (bytes_.empty()) return;
  dst_.put(bytes_.data(), bytes_.size());
  bytes_.clear();
}

void BitWriter::finish() {
  if (have_ > 0) {
    bytes_.push_back(static_cast<unsigned char>(acc_ << (8 - have_)));
    acc_ = 0;
    have_ = 0;
  }
  flush();
}

}  // namespace lumbra

namespace lumbra {

bool BlockReader::read(int n, std::vector<bool>& vb) {
  hard_assert(n>0, "n>0");
  const std::size_t whole = static_cast<std::size_t>(n) / 8;
  if (bit_ == 0 && static_cast<std::size_t>(n) % 8 == 0 && end_ - pos_ >= whole) {
    // NOTE: a block of whole bytes that the buffer holds is unpacked in one
    // pass, as a coder reads every block of its input this way.
    vb.resize(static_cast<std::size_t>(n));
    auto it = vb.begin();
    for (std::size_t i = 0; i < whole; ++i) {
      const unsigned byte = buf_[pos_ + i];
      for (int j = 7; j >= 0; --j) *it++ = (byte >> j) & 1u;
    }
    pos_ += whole;
    return true;
  }
  vb.clear();
  while (vb.size() < static_cast<std::size_t>(n)) {
    if (pos_ == end_) {
      end_ = src_.get(buf_.data(), buf_.size());
      pos_ = 0;
      if (end_ == 0) break;
    }
    const unsigned byte = buf_[pos_];
    while (bit_ < 8 && vb.size() < static_cast<std::size_t>(n)) vb.push_back((byte >> (7 - bit_++)) & 1u);
    if (bit_ == 8) {
      bit_ = 0;
      ++pos_;
    }
  }
  return !vb.empty();
}

}  // namespace lumbra
