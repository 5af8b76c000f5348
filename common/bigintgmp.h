// The GMP-backed implementation of kova::BigInt: its factories and the hook
// that sends GMP's memory to a pool.
//
// A number made here is one pool block holding a GMP integer whose digits are
// taken from the pool given to set_gmp_pool, and a control block from the
// pool given to the factory; in the running program both are the run's one
// pool. The number lives until the last sh_ptr to it goes.
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

// Sends every allocation, reallocation and free of GMP to `pool`. Called once
// by the entry point before any number exists; the pool must outlive every
// number and every GMP value. A pool's exhaustion reaches the caller of the
// GMP operation as std::bad_alloc.
void set_gmp_pool(mem_pool& pool);

// The processor type the big-integer code is built for, as the banner shows it.
const char* cpu_name();

}  // namespace kova
