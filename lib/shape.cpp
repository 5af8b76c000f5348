#include "lumbra/shape.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "guard.h"
#include "coding/shaped_stream.h"

namespace lumbra {

namespace {

// The caller's string as a source, asking the caller's stop as it goes,
// and a string as a sink.
class StringSource : public ByteSource {
 public:
  StringSource(const std::string& s, const std::function<bool()>& stop) : s_(s), stop_(stop) {}
  std::size_t get(unsigned char* buf, std::size_t n) override {
    if (stop_ && stop_()) throw Cancelled("the shaping was stopped");
    const std::size_t k = std::min(n, s_.size() - at_);
    std::memcpy(buf, s_.data() + at_, k);
    at_ += k;
    return k;
  }

 private:
  const std::string& s_;
  const std::function<bool()>& stop_;
  std::size_t at_ = 0;
};

class StringSink : public ByteSink {
 public:
  void put(const unsigned char* p, std::size_t n) override { s.append(reinterpret_cast<const char*>(p), n); }
  std::string s;
};

Alphabet alphabetOf(const std::string& name) {
  if (name == "bits") return Alphabet::bits;
  if (name == "text") return Alphabet::text;
  if (name == "dna") return Alphabet::dna;
  throw ArgumentError("the alphabet must be bits, text or dna, not '" + name + "'");
}

// The shaper of (n, d), refused in the command line's words.
Shaper shaperOf(int n, int d) {
  if (const std::string why = shapeRefusal(n, d); !why.empty()) throw ArgumentError(why);
  return {n, d};
}

}  // namespace

ShapeInfo shape_info(int n, int d) {
  return api::guarded([&]() -> ShapeInfo {
    const Shaper s = shaperOf(n, d);
    ShapeInfo info;
    info.n = n;
    info.d = d;
    info.bits_per_word = s.bits();
    info.rate = s.bits() / static_cast<double>(n);
    info.capacity = shapeCapacity(d);
    info.efficiency = info.rate / info.capacity;
    info.sum_bound = s.depth();
    info.longest_run = 2 * s.depth();
    return info;
  });
}

std::string shape(const std::string& data, int n, int d, const std::string& alphabet,
                  const std::function<bool()>& stop) {
  return api::guarded([&]() -> std::string {
    const Alphabet a = alphabetOf(alphabet);
    const Shaper s = shaperOf(n, d);
    StringSource in(data, stop);
    StringSink out;
    std::vector<unsigned char> head;
    shapeStream(in, out, s, a, head);
    // The length's words went out as those of length 0; now it is known.
    std::copy_n(head.begin(), std::min(head.size(), out.s.size()), out.s.begin());
    return std::move(out.s);
  });
}

std::string unshape(const std::string& stream, int n, int d, const std::string& alphabet,
                    const std::function<bool()>& stop) {
  return api::guarded([&]() -> std::string {
    const Alphabet a = alphabetOf(alphabet);
    const Shaper s = shaperOf(n, d);
    StringSource in(stream, stop);
    StringSink out;
    try {
      unshapeStream(in, out, s, a);
    } catch (const ShapeError& e) {
      throw InputError(e.what());
    }
    return std::move(out.s);
  });
}

}  // namespace lumbra
