// Fuzz target: mp_string against std::string as a model.
//
// The input is a program of text operations (see mp_string_model.h). At the
// end every block the texts took must be back in the pool with its size.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "kova/mem_pool.h"
#include "mp_string_model.h"

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kova::mem_pool pool(16384, 1024);
  strict_probe probe;
  pool.set_probe(&probe);
  if (const char* e = lumbra_test::run_text_program(pool, data, size)) fail(e);
  if (!probe.live.empty()) fail("blocks left in the pool");
  pool.set_probe(nullptr);
  return 0;
}
