// run_text_program: mp_string against std::string as a model, for the unit
// test (random programs) and the fuzz target (any input).
//
// The bytes are a program of text operations on one text taken from `pool`.
// After each one the text must equal the model, keep room for its
// terminating zero and grow exactly by the rule (the larger of twice the
// capacity and what is needed). Returns nullptr, or what went wrong; the text
// is released before it returns, so the caller's probe can check the pool.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "kova/mem_pool.h"
#include "kova/mp_string.h"
#include "kova/shared_text.h"

namespace lumbra_test {

inline const char* check_text(kova::mp_string& s, const std::string& model) {
  if (s.size() != static_cast<int>(model.size())) return "size differs from the model";
  if (s.capacity() < s.size() + 1) return "no room for the terminating zero";
  if (s.size() > 0 && std::memcmp(s.data(), model.data(), model.size()) != 0) return "bytes differ";
  const char* z = s.c_str();
  if (z[s.size()] != '\0') return "c_str did not terminate the text";
  return nullptr;
}

inline const char* run_text_program(kova::mem_pool& pool, const std::uint8_t* p, std::size_t size) {
  const std::uint8_t* const end = p + size;
  auto byte = [&]() -> std::uint8_t { return p < end ? *p++ : 0; };
  std::string model;
  kova::sh_str s = kova::new_str(pool, kova::ch_range());
  while (p < end) {
    const int op = byte() % 7;
    const int len = byte() % 80;
    std::string arg;
    for (int i = 0; i < len; ++i) arg.push_back(static_cast<char>(byte()));
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
        model.resize(static_cast<std::size_t>(n));
        for (int i = old; i < n; ++i) model[static_cast<std::size_t>(i)] = static_cast<char>(i);
        break;
      }
      case 5: {  // append a piece of the text itself, at most 4 KiB (so
                 // that repeated appends cannot double the text without end)
        const int from = model.empty() ? 0 : len % static_cast<int>(model.size());
        const int count = std::min(static_cast<int>(model.size()) - from, 4096);
        s->append(kova::ch_range(s->data() + from, s->data() + from + count));
        model += model.substr(static_cast<std::size_t>(from), static_cast<std::size_t>(count));
        need = static_cast<long>(model.size()) + 1;
        break;
      }
      default: {  // a shared copy with room
        kova::sh_str copy = kova::new_str(s, len);
        if (const char* e = check_text(*copy, model)) return e;
        s = copy;
        break;
      }
    }
    // The capacity a text must have after an operation that needs `need` bytes.
    const int want = cap >= need ? cap : static_cast<int>(std::max<long>(2L * cap, need));
    if (op != 6 && s->capacity() != want) return "growth rule broken";
    if (const char* e = check_text(*s, model)) return e;
  }
  return nullptr;
}

}  // namespace lumbra_test
