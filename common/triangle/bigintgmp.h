// The GMP-backed implementation of kova::BigInt: its factories and the hook
// that sends GMP's memory to a pool.
//
// A number made here is one pool block holding a GMP integer whose digits are
// taken from the pool of the innermost live gmp_pool_guard, and a control
// block from the pool given to the factory; in the running program both are
// the run's one pool. The number lives until the last sh_ptr to it goes.
#pragma once

#include <cstddef>

#include "kova/bigint.h"
#include "kova/mem_pool.h"
#include "kova/sh_ptr.h"

namespace kova {

// A new number with the given value. Throws std::bad_alloc and then leaves
// nothing behind in the pool.
sh_ptr<BigInt> new_big_int(mem_pool& pool, int value);
// A new, independent number with the value of x.
sh_ptr<BigInt> new_big_int(mem_pool& pool, const BigInt& x);
// A new number with the value 0 whose digits already have room for `bits`
// bits: assigning it a number of up to `bits` bits, or with set_sum or add
// the sum of two such numbers, never moves its digits.
sh_ptr<BigInt> new_big_int_reserved(mem_pool& pool, std::size_t bits);

// While it lives, sends every allocation, reallocation and free of GMP to
// `pool`; when it goes, GMP's memory functions and pool are again those it
// found, on every path out of the scope. So a run, a test or a fuzz input
// leaves GMP as it was, and a process may run the libraries more than once.
// Every number and GMP value made under the guard must be gone before it
// goes; guards nest, the innermost counts. A pool's exhaustion reaches the
// caller of the GMP operation as std::bad_alloc. Single-threaded: GMP's
// memory functions are one setting for the whole process.
class gmp_pool_guard {
 public:
  explicit gmp_pool_guard(mem_pool& pool) noexcept;
  ~gmp_pool_guard();
  gmp_pool_guard(const gmp_pool_guard&) = delete;
  gmp_pool_guard& operator=(const gmp_pool_guard&) = delete;

 private:
  mem_pool* previousPool_;
  void* (*previousAlloc_)(std::size_t);
  void* (*previousRealloc_)(void*, std::size_t, std::size_t);
  void (*previousFree_)(void*, std::size_t);
};

// The processor type the big-integer code is built for, as the banner shows it.
const char* cpu_name();

}  // namespace kova
