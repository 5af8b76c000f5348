// Shared texts: sh_ptr<mp_string> values made with new_str and extended with
// chained << of C strings, ranges and ints:
//
//   sh_ptr<mp_string> s = new_str(pool, 1024) << "line " << 12;
#pragma once

#include "kova/mp_string.h"
#include "kova/sh_ptr.h"

namespace kova {

using sh_str = sh_ptr<mp_string>;

// A shared copy of `r` in `pool`.
sh_str new_str(mem_pool& pool, ch_range r);
// An empty shared text with room for n bytes.
sh_str new_str(mem_pool& pool, int n);
// A shared copy of `other`'s text, in the pool of its control block, with
// room for n bytes.
sh_str new_str(const sh_str& other, int n);

const sh_str& operator<<(const sh_str& s, ch_range r);
const sh_str& operator<<(const sh_str& s, const char* cstr);
// The int as "%d" prints it.
const sh_str& operator<<(const sh_str& s, int value);

}  // namespace kova
