// Always-on assertion checks.
//
// hard_assert(cond, text) is compiled into every build. When cond does not
// hold it prints "\nHard assertion failed: <text>, file <path>, line <n>\n"
// to the C runtime's stderr stream and aborts: no exception, no unwinding. It
// guards contracts between parts of the program; input from the command line
// must be checked before it can reach one.
//
// The report prints `text`, not the condition's spelling, so that how a
// formatter spaces the condition changes nothing that is printed; write the
// text as the contract states it ("k<=n", "x<int(vc.size())"). Where a
// report's line is part of the output, hard_assert_at gives it as a named
// constant instead of the statement's own line, so that editing the file
// moves nothing that users see.
#pragma once

namespace kova {

// Prints the report and aborts. Called by hard_assert; never returns.
[[noreturn]] void hard_assert_failed(const char* expr, const char* path, int line) noexcept;

}  // namespace kova

#define hard_assert(cond, text) hard_assert_at(cond, text, __LINE__)
#define hard_assert_at(cond, text, line) \
  ((cond) ? static_cast<void>(0) : ::kova::hard_assert_failed(text, __FILE__, line))
