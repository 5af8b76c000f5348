// Progress: the one line on standard error that shows how far a long run
// over a file has got: per cent done, MB/s and the time left while reading,
// or per cent and "WHAT DONE of TOTAL UNIT" in a stage that counts pieces of
// work (the laws of a test), rewritten in place and wiped at the end.
//
// It shows only when standard error is a terminal, the caller has not asked
// for quiet, and the run knows its total (a regular file): never in a pipe,
// a file or a log. The first line comes after the first interval, so a short
// run shows none. It owns no memory beyond itself; going away wipes the line,
// so an error message after it starts on a clean line. Writes to standard
// error are best effort: a failing one is ignored.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace lumbra::kit {

// Work estimated above this many seconds is announced on a terminal, with
// a progress line after it.
constexpr double shown_above = 3;

class Progress {
 public:
  using Clock = std::chrono::steady_clock;

  // quiet: never show. fd: where the line goes (standard error).
  explicit Progress(bool quiet, int fd = 2, Clock::duration interval = std::chrono::milliseconds(250));
  ~Progress() { finish(); }
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // done of total bytes; total 0 means not known, and shows nothing.
  void update(std::uint64_t done, std::uint64_t total);
  // done of total pieces of work: "37%  laws 381 of 1025 (m, k)" for
  // what = "laws", unit = "(m, k)". Shows nothing for total 0.
  void count(const char* what, std::uint64_t done, std::uint64_t total, const char* unit);
  // A share (0 to 1) of one piece of work done: "37%  count, 2:10 left",
  // the time left from the time so far.
  void share(const char* what, double done);
  // Wipes the line, if one is shown.
  void finish();
  // Whether lines show at all (a terminal, and not quiet).
  bool shows() const { return terminal_; }
  // A line that stays (an estimate before the work), where lines show.
  void note(const std::string& text);

 private:
  // Whether a line is due now (a terminal, a known total, the interval past).
  bool due(std::uint64_t total);
  // Shows `line` (which starts with '\r'), covering a longer last line.
  void show(const char* line, int len);
  void write(const char* s, std::size_t n);

  bool terminal_;
  int fd_;
  Clock::duration interval_;
  Clock::time_point start_;
  Clock::time_point next_;
  std::size_t shown_ = 0;  // the length of the line on the terminal
};

}  // namespace lumbra::kit
