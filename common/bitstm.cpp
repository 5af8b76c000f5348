#include "bitstm.h"

#include <algorithm>

#include "kova/hard_assert.h"
#include "kova/mp_string.h"

namespace lumbra {

void BitReader::read(int n, std::vector<bool>& vb) {
  hard_assert(n>0);
  vb.clear();
  const int c = static_cast<int>(buf.size());
  if (c < n) {
    // Whole bytes enough to bring the carried bits to at least n.
    const int bytes = (n - c + 7) / 8;
    kova::mp_string tmp(src.pool(), kova::ch_range());
    tmp.resize(bytes);
    // NOTE: a pipe or a terminal may deliver fewer bytes than asked while
    // more are coming; only a read of 0 bytes is the end of the stream.
    // Reading on until the request is filled keeps every block whole.
    int got = 0;
    while (got < bytes) {
      int n3 = src.read(tmp.data() + got, bytes - got);
      hard_assert(n3>=0);
      if (n3 == 0) break;
      got += n3;
    }
    buf.reserve(c + 8 * got);
    for (int i = 0; i < got; ++i) {
      const unsigned byte = static_cast<unsigned char>(tmp.data()[i]);
      for (int bit = 7; bit >= 0; --bit) buf.push_back((byte >> bit) & 1u);
    }
  }
  const int m = std::min(n, static_cast<int>(buf.size()));
  vb.assign(buf.begin(), buf.begin() + m);
  buf.erase(buf.begin(), buf.begin() + m);
}

}  // namespace lumbra
