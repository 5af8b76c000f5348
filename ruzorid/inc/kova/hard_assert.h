// Always-on assertion checks.
//
// hard_assert(cond) is compiled into every build. When cond does not hold it
// prints "\nHard assertion failed: <cond>, file <path>, line <n>\n" to the C
// runtime's stderr stream and aborts: no exception, no unwinding. It guards
// contracts between parts of the program; input from the command line must be
// checked before it can reach one.
#pragma once

namespace kova {

// Prints the report and aborts. Called by hard_assert; never returns.
[[noreturn]] void hard_assert_failed(const char* expr, const char* path, int line) noexcept;

}  // namespace kova

// The condition's text is printed as written, so write conditions without
// blanks where the report's wording matters ("k<=n", "x<int(vc.size())").
#define hard_assert(cond) \
  ((cond) ? static_cast<void>(0) : ::kova::hard_assert_failed(#cond, __FILE__, __LINE__))
