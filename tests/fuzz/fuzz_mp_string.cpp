// Fuzz target: mp_string against std::string as a model.
//
// The input is a program of text operations. After each one the text must
// equal the model, keep room for its terminating zero and grow exactly by
// the rule (the larger of twice the capacity and what is needed). At the end
// every block the texts took must be back in the pool with its size.
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "kova/mem_pool.h"
#include "kova/mp_string.h"
#include "kova/shared_text.h"

namespace {

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "fuzz_mp_string: %s\n", what);
  std::abort();
}

// Checks every free against its allocation.
class strict_probe final : public kova::pool_probe {
 public:
  void after_alloc(void* p, std::size_t size) override { live[p] = size; }
  void before_free(void* p, std::size_t size) override {
    auto it = live.find(p);
    if (it == live.end() || it->second != size) fail("free with a wrong block or size");
    live.erase(it);
  }
  std::map<void*, std::size_t> live;
};

struct reader {
  const std::uint8_t* p;
  const std::uint8_t* end;
  bool more() const { return p < end; }
  std::uint8_t byte() { return p < end ? *p++ : 0; }
};

void check(kova::mp_string& s, const std::string& model) {
  if (s.size() != static_cast<int>(model.size())) fail("size differs from the model");
  if (s.capacity() < s.size() + 1) fail("no room for the terminating zero");
  if (s.size() > 0 && std::memcmp(s.data(), model.data(), model.size()) != 0) fail("bytes differ");
  const char* z = s.c_str();
  if (z[s.size()] != '\0') fail("c_str did not terminate the text");
}

// The capacity a text must have after an operation that needs `need` bytes.
int expected_capacity(int cap, long need) {
  return cap >= need ? cap : static_cast<int>(std::max<long>(2L * cap, need));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kova::mem_pool pool(16384, 1024);
  strict_probe probe;
  pool.set_probe(&probe);
  {
    reader in{data, data + size};
    std::string model;
    kova::sh_str s = kova::new_str(pool, kova::ch_range());
    while (in.more()) {
      const int op = in.byte() % 7;
      const int len = in.byte() % 80;
      std::string arg;
      for (int i = 0; i < len; ++i) arg.push_back(static_cast<char>(in.byte()));
      const int cap = s->capacity();
      kova::ch_range r(arg.data(), arg.data() + arg.size());
      long need = 0;
      switch (op) {
        case 0:
          s->assign(r), model = arg, need = len + 1;
          break;
        case 1:
          s->append(r), model += arg, need = static_cast<long>(model.size()) + 1;
          break;
        case 2:
          s->push_back(static_cast<char>(len)), model.push_back(static_cast<char>(len));
          need = static_cast<long>(model.size()) + 1;
          break;
        case 3:
          s->reserve(len * 7), need = len * 7 + 1;
          break;
        case 4: {  // shorten, or lengthen and fill the new bytes in both
          const int n = len * 3;
          const int old = s->size();
          s->resize(n), need = n + 1;
          for (int i = old; i < n; ++i) s->data()[i] = static_cast<char>(i);
          model.resize(n);
          for (int i = old; i < n; ++i) model[i] = static_cast<char>(i);
          break;
        }
        case 5: {  // append a piece of the text itself, at most 4 KiB (so
                   // that repeated appends cannot double the text without end)
          const int from = model.empty() ? 0 : len % static_cast<int>(model.size());
          const int count = std::min(static_cast<int>(model.size()) - from, 4096);
          s->append(kova::ch_range(s->data() + from, s->data() + from + count));
          model += model.substr(from, count);
          need = static_cast<long>(model.size()) + 1;
          break;
        }
        case 6: {  // a shared copy with room
          kova::sh_str copy = kova::new_str(s, len);
          check(*copy, model);
          s = copy;
          need = 0;
          break;
        }
      }
      if (op != 6 && s->capacity() != expected_capacity(cap, need)) fail("growth rule broken");
      check(*s, model);
    }
  }
  if (!probe.live.empty()) fail("blocks left in the pool");
  pool.set_probe(nullptr);
  return 0;
}
