// The library's error codes: a fixed table of 81 codes (0..80) with their
// texts, and the mapping from the C runtime's errno values to them.
//
// Code 0 is success, 78 is "Unknown error"; every other code stands for one
// POSIX error condition, numbered in the alphabetical order of the POSIX
// names. The texts are static; errorText copies one into a new shared text in
// the caller's pool, which the caller's sh_str owns.
#pragma once

#include "kova/mem_pool.h"
#include "kova/shared_text.h"

namespace kova {

// The codes that the library sets without an errno behind them.
inline constexpr int err_badf = 8;       // "Bad file descriptor"
inline constexpr int err_io = 29;        // "I/O error"
inline constexpr int err_overflow = 64;  // "Value too large to be stored in data type"
inline constexpr int err_unknown = 78;   // "Unknown error"

// The library code for an errno value. Only 0 and the 38 errno names of the
// mapping have codes of their own; every other value, negative ones
// included, gives err_unknown (78).
int codeFromErrno(int e) noexcept;

// The fixed text of a code. A code outside 0..80 gives "Unknown error".
const char* errorTextOf(int code) noexcept;

// The fixed text of a code as a new shared text in `mp`.
sh_str errorText(mem_pool& mp, int code);

}  // namespace kova
